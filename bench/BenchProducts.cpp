#include "bench/BenchProducts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace bench {

namespace {

constexpr long kLinePrefix = 34;      // bytes before a line's first pixel
constexpr long kOverlapPixels = 32;   // neighbouring PRISM CCD files repeat this many
constexpr long kStaggerShift = 5;     // lines, for a scene header pointing angle below 23.3°
constexpr size_t kCatPiece = 128 * 1024;
/// Bumped whenever the products change, so that stale ones are rewritten.
constexpr int kProductVersion = 1;

std::string StampText(Kind kind, double scale) {
    std::ostringstream text;
    text << KindName(kind) << " scale " << scale << " version " << kProductVersion << "\n";
    return text.str();
}

long ScaledLines(long lines, double scale) {
    return std::max(16L, static_cast<long>(std::lround(lines * scale)));
}

void MakeDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
}

bool SameText(const std::string& path, const std::string& text) {
    std::ifstream in(path);
    std::stringstream got;
    got << in.rdbuf();
    return in && got.str() == text;
}

}  // namespace

const char* KindName(Kind kind) {
    switch (kind) {
        case Kind::Prism1B1: return "prism-1b1";
        case Kind::Avnir2_1B1: return "avnir2-1b1";
        case Kind::Prism1B2: return "prism-1b2";
    }
    return "?";
}

bool KindFromName(const std::string& name, Kind& kind) {
    for (Kind k : AllKinds()) {
        if (name == KindName(k)) {
            kind = k;
            return true;
        }
    }
    return false;
}

std::vector<Kind> AllKinds() { return {Kind::Prism1B1, Kind::Avnir2_1B1, Kind::Prism1B2}; }

ceoswriter::ProductRecipe BenchProductRecipe(Kind kind, double scale) {
    using ceoswriter::ProductRecipe;
    ProductRecipe recipe;
    switch (kind) {
        case Kind::Prism1B1:
            recipe = ceoswriter::PrismProduct(1, 'N');
            recipe.image.pixelsPerLine = 5000;
            recipe.image.lines = static_cast<int>(ScaledLines(16000, scale));
            // Each CCD file has its own, constant dummy widths.
            recipe.image.leftDummyWidth = [](int file, int) { return 8 + 2 * file; };
            recipe.image.rightDummyWidth = [](int file, int) { return 6 + file; };
            break;
        case Kind::Avnir2_1B1:
            recipe = ceoswriter::Avnir2Product(1);
            recipe.image.pixelsPerLine = 7100;
            recipe.image.lines = static_cast<int>(ScaledLines(7200, scale));
            recipe.leader.offNadirAngle = "+8.500";  // pointing angle: a 5-line stagger shift
            break;
        case Kind::Prism1B2: {
            recipe = ceoswriter::PrismProduct(2, 'N');
            recipe.image.pixelsPerLine = 14000;
            const int lines = static_cast<int>(ScaledLines(16000, scale));
            recipe.image.lines = lines;
            recipe.leader.geocodingLetter = 'R';  // georeferenced: rows are cut line by line
            // A skewed footprint: the valid pixels drift right from line to line.
            recipe.image.leftDummyWidth = [lines](int, int line) {
                return 400 + static_cast<int>(800LL * line / lines);
            };
            recipe.image.rightDummyWidth = [lines](int, int line) {
                return 1200 - static_cast<int>(800LL * line / lines);
            };
            break;
        }
    }
    return recipe;
}

std::vector<std::string> Product::AllFiles() const {
    std::vector<std::string> all = MetadataFiles();
    all.insert(all.end(), files.images.begin(), files.images.end());
    return all;
}

std::vector<std::string> Product::MetadataFiles() const {
    std::vector<std::string> metadata = {files.volume, files.leader, files.trailer};
    // Only PRISM below Level 1B2 has its supplemental file read; AVNIR-2's is opened only.
    if (kind == Kind::Prism1B1) metadata.push_back(files.supplemental);
    if (!files.summary.empty()) metadata.push_back(files.summary);
    return metadata;
}

uint64_t Product::TotalBytes() const {
    uint64_t total = 0;
    for (const std::string& path : AllFiles()) {
        struct stat st;
        if (::stat(path.c_str(), &st) == 0) total += static_cast<uint64_t>(st.st_size);
    }
    return total;
}

Product PrepareProduct(Kind kind, double scale, const std::string& root) {
    if (!(scale > 0.0 && scale <= 1.0)) throw std::invalid_argument("scale must lie in (0, 1]");
    MakeDirectory(root);
    const std::string directory = root + "/" + KindName(kind);
    MakeDirectory(directory);

    Product product{kind, scale, BenchProductRecipe(kind, scale), {}};
    const std::string stamp = directory + "/.bench-stamp";
    const std::string text = StampText(kind, scale);
    if (SameText(stamp, text)) {
        product.files = ceoswriter::ProductFileNames(directory, product.recipe);
        return product;
    }
    ::unlink(stamp.c_str());
    product.files = ceoswriter::WriteProduct(directory, product.recipe);
    std::ofstream(stamp) << text;
    return product;
}

uint64_t ReadWholeFiles(const std::vector<std::string>& files) {
    std::vector<char> piece(kCatPiece);
    uint64_t total = 0;
    for (const std::string& path : files) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        if (fd < 0) throw std::runtime_error("cannot open " + path);
        for (;;) {
            const ssize_t n = ::read(fd, piece.data(), piece.size());
            if (n <= 0) break;
            total += static_cast<uint64_t>(n);
        }
        ::close(fd);
    }
    return total;
}

uint64_t ReadFileHeads(const std::vector<std::string>& files, long bytes) {
    std::vector<char> head(static_cast<size_t>(bytes));
    uint64_t total = 0;
    for (const std::string& path : files) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        if (fd < 0) throw std::runtime_error("cannot open " + path);
        const ssize_t n = ::read(fd, head.data(), head.size());
        if (n > 0) total += static_cast<uint64_t>(n);
        ::close(fd);
    }
    return total;
}

PositionedReadLimit::PositionedReadLimit(const Product& product) : kind_(product.kind) {
    const ceoswriter::ImageLayout& image = product.recipe.image;
    for (size_t k = 0; k < product.files.images.size(); ++k) {
        const int index = static_cast<int>(k);
        const ceoswriter::ImageFileLayout layout = ceoswriter::ResolveImageFile(image, index);
        ImageGeometry g;
        g.recordLength = layout.recordLength;
        g.pixels = layout.pixelsPerLine;
        g.lines = layout.lines;
        g.minLeft = g.minRight = layout.pixelsPerLine;
        for (int line = 0; line < layout.lines; ++line) {
            g.minLeft = std::min<long>(g.minLeft, image.leftDummyWidth(index, line));
            g.minRight = std::min<long>(g.minRight, image.rightDummyWidth(index, line));
        }
        g.fd = ::open(product.files.images[k].c_str(), O_RDONLY);
        if (g.fd < 0) throw std::runtime_error("cannot open " + product.files.images[k]);
        files_.push_back(g);
    }
    if (files_.empty()) throw std::runtime_error("a product without image files");

    height_ = files_[0].lines;
    switch (kind_) {
        case Kind::Prism1B1:
            bands_ = 1;
            for (const ImageGeometry& g : files_) width_ += g.pixels - g.minLeft - g.minRight;
            width_ -= kOverlapPixels * (static_cast<long>(files_.size()) - 1);
            for (size_t k = 0; k < files_.size(); ++k)
                bytesPerPass_ += static_cast<uint64_t>(height_) *
                                 (files_[k].pixels - files_[k].minLeft - files_[k].minRight -
                                  (k == 0 ? 0 : kOverlapPixels));
            readsPerPass_ = static_cast<uint64_t>(height_) * files_.size();
            break;
        case Kind::Avnir2_1B1: {
            bands_ = static_cast<int>(files_.size());
            width_ = files_[0].pixels;
            shift_ = kStaggerShift;
            for (const ImageGeometry& g : files_) {
                const uint64_t span = static_cast<uint64_t>(g.pixels - g.minLeft - g.minRight);
                const uint64_t laterLines = static_cast<uint64_t>(std::max(0L, g.lines - shift_));
                bytesPerPass_ += span * (static_cast<uint64_t>(g.lines) + laterLines);
                readsPerPass_ += static_cast<uint64_t>(g.lines) + laterLines;
            }
            break;
        }
        case Kind::Prism1B2: {
            bands_ = 1;
            const ImageGeometry& g = files_[0];
            width_ = g.pixels;
            for (long line = 0; line < g.lines; ++line) {
                const long span = g.pixels - image.leftDummyWidth(0, static_cast<int>(line)) -
                                  image.rightDummyWidth(0, static_cast<int>(line));
                bytesPerPass_ += static_cast<uint64_t>(std::max(0L, span)) + 2 * kLinePrefix;
            }
            readsPerPass_ = 3 * static_cast<uint64_t>(g.lines);
            break;
        }
    }
    scratch_.resize(static_cast<size_t>(width_));
}

PositionedReadLimit::~PositionedReadLimit() {
    for (const ImageGeometry& g : files_) ::close(g.fd);
}

bool PositionedReadLimit::Pread(int fd, int64_t offset, unsigned char* target, long count) {
    return ::pread(fd, target, static_cast<size_t>(count), static_cast<off_t>(offset)) == count;
}

namespace {

int32_t BigEndian32(const unsigned char* p) {
    return static_cast<int32_t>((uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
                                (uint32_t{p[2]} << 8) | uint32_t{p[3]});
}

}  // namespace

bool PositionedReadLimit::ReadRow(int band, long row, unsigned char* out, unsigned char* later) {
    bool ok = true;
    switch (kind_) {
        case Kind::Prism1B1: {
            long position = 0;
            for (size_t k = 0; k < files_.size(); ++k) {
                const ImageGeometry& g = files_[k];
                const long left = g.minLeft + (k == 0 ? 0 : kOverlapPixels);
                const long count = g.pixels - left - g.minRight;
                ok = Pread(g.fd, (row + 1) * g.recordLength + kLinePrefix + left, out + position, count) && ok;
                position += count;
            }
            break;
        }
        case Kind::Avnir2_1B1: {
            const ImageGeometry& g = files_[static_cast<size_t>(band)];
            const long count = g.pixels - g.minLeft - g.minRight;
            const int64_t skip = kLinePrefix + g.minLeft;
            ok = Pread(g.fd, (row + 1) * g.recordLength + skip, out, count);
            if (row + shift_ < g.lines)
                ok = Pread(g.fd, (row + shift_ + 1) * g.recordLength + skip, later, count) && ok;
            break;
        }
        case Kind::Prism1B2: {
            const ImageGeometry& g = files_[0];
            const int64_t record = (row + 1) * g.recordLength;
            unsigned char prefix[kLinePrefix];
            // The left dummy width sits at prefix bytes 27-30, the right at 31-34.
            ok = Pread(g.fd, record, prefix, kLinePrefix);
            const long left = BigEndian32(prefix + 26);
            ok = Pread(g.fd, record, prefix, kLinePrefix) && ok;
            const long right = BigEndian32(prefix + 30);
            const long count = g.pixels - left - right;
            if (count > 0) ok = Pread(g.fd, record + kLinePrefix + left, out, count) && ok;
            break;
        }
    }
    return ok;
}

void PositionedReadLimit::AssembleRow(int band, long row, unsigned char* out) {
    std::fill(out, out + width_, 0);
    ReadRow(band, row, out, scratch_.data());
    if (kind_ == Kind::Avnir2_1B1 && row + shift_ < height_) {
        const ImageGeometry& g = files_[static_cast<size_t>(band)];
        const long count = g.pixels - g.minLeft - g.minRight;
        for (long k = 1; k < count; k += 2) out[k] = scratch_[static_cast<size_t>(k)];
    }
}

}  // namespace bench
