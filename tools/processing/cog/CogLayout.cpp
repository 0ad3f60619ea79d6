#include "tools/processing/cog/CogLayout.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <new>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cpl_vsi.h>
#include <gdal_priv.h>
#include <libdeflate.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "tools/processing/Error.h"
#include "tools/processing/Threads.h"

namespace alosj::processing {

namespace {

constexpr uint16_t kNewSubfileType = 254;
constexpr uint16_t kTileOffsets = 324;
constexpr uint16_t kTileByteCounts = 325;
constexpr uint16_t kLong = 4;
constexpr uint16_t kLong8 = 16;

size_t TypeBytes(uint16_t type) {
    switch (type) {
        case 1: case 2: case 6: case 7: return 1;   // BYTE, ASCII, SBYTE, UNDEFINED
        case 3: case 8: return 2;                    // SHORT, SSHORT
        case 4: case 9: case 11: case 13: return 4;  // LONG, SLONG, FLOAT, IFD
        case 5: case 10: case 12: case 16: case 17: case 18: return 8;  // RATIONAL, ..., LONG8, SLONG8, IFD8
        default: return 0;
    }
}

struct Entry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint64_t count = 0;
    std::vector<unsigned char> value;  // little-endian, as in the file
};

/// One level: its tags but the tiles' places, and where its tiles lie in its file.
struct Level {
    std::vector<Entry> entries;
    std::vector<uint64_t> offsets, counts;
};

struct Failing {
    const std::string& name;
    [[noreturn]] void operator()(const std::string& what) const {
        throw Error::Failed(name + ": cannot lay out the COG: " + what);
    }
};

void ReadAt(std::FILE* file, uint64_t at, void* into, size_t bytes, const Failing& fail) {
    if (fseeko(file, static_cast<off_t>(at), SEEK_SET) != 0 || std::fread(into, 1, bytes, file) != bytes)
        fail("a level's file is shorter than its directory says");
}

template <class T>
T ReadValue(std::FILE* file, uint64_t at, const Failing& fail) {
    T value;
    ReadAt(file, at, &value, sizeof value, fail);
    return value;
}

std::vector<uint64_t> Numbers(const Entry& entry, const Failing& fail) {
    std::vector<uint64_t> numbers(entry.count);
    const size_t size = TypeBytes(entry.type);
    for (size_t i = 0; i < numbers.size(); ++i) {
        const unsigned char* at = entry.value.data() + i * size;
        if (entry.type == 3) {
            uint16_t v;
            std::memcpy(&v, at, 2);
            numbers[i] = v;
        } else if (entry.type == kLong) {
            uint32_t v;
            std::memcpy(&v, at, 4);
            numbers[i] = v;
        } else if (entry.type == kLong8) {
            std::memcpy(&numbers[i], at, 8);
        } else {
            fail("tile places of an unexpected type");
        }
    }
    return numbers;
}

/// The IFD of the TIFF in `file` (named `path`): its tags, and where its
/// tiles lie in it.
Level ReadLevel(std::FILE* file, const std::string& path, bool& big, bool first, const Failing& fail) {
    Level level;
    unsigned char magic[4];
    ReadAt(file, 0, magic, 4, fail);
    const uint16_t one = 1;
    if (*reinterpret_cast<const unsigned char*>(&one) != 1 || magic[0] != 'I' || magic[1] != 'I')
        fail("levels must be little-endian, on a little-endian machine");
    const bool isBig = magic[2] == 0x2B;
    if (!isBig && magic[2] != 0x2A) fail(path + " is not a TIFF file");
    if (!first && isBig != big) fail("levels mix classic TIFF and BigTIFF");
    big = isBig;
    const uint64_t ifd = big ? ReadValue<uint64_t>(file, 8, fail) : ReadValue<uint32_t>(file, 4, fail);
    const uint64_t n = big ? ReadValue<uint64_t>(file, ifd, fail) : ReadValue<uint16_t>(file, ifd, fail);
    const size_t entryBytes = big ? 20 : 12, inlineBytes = big ? 8 : 4;
    for (uint64_t i = 0; i < n; ++i) {
        const uint64_t at = ifd + (big ? 8 : 2) + i * entryBytes;
        Entry entry;
        entry.tag = ReadValue<uint16_t>(file, at, fail);
        entry.type = ReadValue<uint16_t>(file, at + 2, fail);
        entry.count = big ? ReadValue<uint64_t>(file, at + 4, fail) : ReadValue<uint32_t>(file, at + 4, fail);
        const size_t size = TypeBytes(entry.type);
        if (size == 0 || entry.count > (uint64_t{1} << 32) / size) fail("a tag of an unknown type or size");
        entry.value.resize(static_cast<size_t>(entry.count) * size);
        const uint64_t valueAt = at + (big ? 12 : 8);
        if (entry.value.size() <= inlineBytes)
            ReadAt(file, valueAt, entry.value.data(), entry.value.size(), fail);
        else
            ReadAt(file, big ? ReadValue<uint64_t>(file, valueAt, fail) : ReadValue<uint32_t>(file, valueAt, fail),
                   entry.value.data(), entry.value.size(), fail);
        if (entry.tag == kTileOffsets) {
            level.offsets = Numbers(entry, fail);
        } else if (entry.tag == kTileByteCounts) {
            level.counts = Numbers(entry, fail);
        } else if (entry.tag != kNewSubfileType) {
            level.entries.push_back(std::move(entry));
        }
    }
    if (level.offsets.empty() || level.offsets.size() != level.counts.size()) fail(path + " is not tiled");
    return level;
}

Entry NumbersEntry(uint16_t tag, bool big, const std::vector<uint64_t>& numbers) {
    Entry entry{tag, big ? kLong8 : kLong, numbers.size(), {}};
    entry.value.resize(numbers.size() * (big ? 8 : 4));
    for (size_t i = 0; i < numbers.size(); ++i) {
        if (big) {
            std::memcpy(entry.value.data() + i * 8, &numbers[i], 8);
        } else {
            const uint32_t v = static_cast<uint32_t>(numbers[i]);
            std::memcpy(entry.value.data() + i * 4, &v, 4);
        }
    }
    return entry;
}

class Output {
public:
    Output(const std::string& path, const char* mode, const Failing& fail)
        : file_(std::fopen(path.c_str(), mode)), fail_(fail) {
        if (!file_) fail("cannot create " + path);
        std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
    }
    ~Output() {
        if (file_) std::fclose(file_);
    }
    void Put(const void* data, size_t bytes) {
        if (std::fwrite(data, 1, bytes, file_) != bytes) fail_("cannot write (disk full?)");
        at_ += bytes;
    }
    template <class T>
    void PutValue(T value) {
        Put(&value, sizeof value);
    }
    void PadTo(uint64_t at) {
        static const unsigned char zeros[16] = {};
        while (at_ < at) Put(zeros, static_cast<size_t>(std::min<uint64_t>(16, at - at_)));
    }
    uint64_t at() const { return at_; }
    void Close() {
        const int closed = std::fclose(file_);
        file_ = nullptr;
        if (closed != 0) fail_("cannot finish writing (disk full?)");
    }

private:
    std::FILE* file_;
    const Failing& fail_;
    uint64_t at_ = 0;
};

/// The ghost text: the layout GDAL's COGs promise.
const std::string kGhostText =
    "LAYOUT=IFDS_BEFORE_DATA\nBLOCK_ORDER=ROW_MAJOR\nBLOCK_LEADER=SIZE_AS_UINT4\n"
    "BLOCK_TRAILER=LAST_4_BYTES_REPEATED\nKNOWN_INCOMPATIBLE_EDITION=NO\n ";

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

/// The IFD of the GeoTIFF at `path` (a GDAL file name: /vsimem/ too).
Level ReadTags(const std::string& path, bool& big, bool first, const Failing& fail) {
    vsi_l_offset length = 0;
    GByte* bytes = VSIGetMemFileBuffer(path.c_str(), &length, FALSE);
    if (bytes) {
        File file(fmemopen(bytes, static_cast<size_t>(length), "rb"), &std::fclose);
        if (!file) fail("cannot read " + path);
        return ReadLevel(file.get(), path, big, first, fail);
    }
    File file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) fail("cannot open " + path);
    return ReadLevel(file.get(), path, big, first, fail);
}

/// Copies `bytes` bytes of `from` from its start to `out`.
void CopyFile(const std::string& from, uint64_t bytes, Output& out, const Failing& fail) {
    File file(std::fopen(from.c_str(), "rb"), &std::fclose);
    if (!file) fail("cannot open " + from);
    std::vector<unsigned char> buffer(1 << 20);
    while (bytes > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(bytes, buffer.size()));
        if (std::fread(buffer.data(), 1, n, file.get()) != n) fail(from + " is shorter than its tiles");
        out.Put(buffer.data(), n);
        bytes -= n;
    }
}

/// Moves all the data of the open file `fd` `shift` bytes (a multiple of
/// its block size) further into it, the start left a hole, without copying
/// it.  False where the file system cannot.
bool InsertAtStart(int fd, uint64_t shift, const Failing& fail) {
#if defined(__linux__) && defined(FALLOC_FL_INSERT_RANGE)
    if (::fallocate(fd, FALLOC_FL_INSERT_RANGE, 0, static_cast<off_t>(shift)) == 0) return true;
    // These say the file system cannot, before it touched the file; after
    // any other failure the tiles may have moved part of the way.
    if (errno == EOPNOTSUPP || errno == EINVAL || errno == ENOSYS) return false;
    fail(std::string("cannot make room before the tiles: ") + std::strerror(errno));
    return false;
#else
    (void)fail;
    (void)fd;
    (void)shift;
    return false;
#endif
}

/// `n` samples of one band, `size` bytes each, put `step` bytes apart,
/// among the other bands'.
void Spread(const unsigned char* __restrict in, unsigned char* __restrict out, size_t n, size_t step, size_t size) {
    if (size == 1)
        for (size_t x = 0; x < n; ++x) out[x * step] = in[x];
    else if (size == 4)
        for (size_t x = 0; x < n; ++x) std::memcpy(out + x * step, in + x * 4, 4);
    else
        for (size_t x = 0; x < n; ++x) std::memcpy(out + x * step, in + x * size, size);
}

/// The floating point predictor's reordering of a row of `n` samples of
/// `size` bytes (little-endian): the most significant byte of every sample,
/// then the next, down to the least significant.
void ByteOrderPlanes(const unsigned char* __restrict in, unsigned char* __restrict out, size_t n, size_t size) {
    for (size_t b = 0; b < size; ++b) {
        unsigned char* plane = out + (size - 1 - b) * n;
        for (size_t i = 0; i < n; ++i) plane[i] = in[i * size + b];
    }
}

/// Horizontal differencing of a row of `n` samples, `step` to a pixel:
/// each sample less the one a pixel to its left, the first pixel's kept.
void Difference(const unsigned char* __restrict in, unsigned char* __restrict out, size_t n, size_t step) {
    std::memcpy(out, in, std::min(n, step));
    size_t i = step;
#if defined(__SSE2__)
    for (; i + 16 <= n; i += 16) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i left = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i - step));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_sub_epi8(here, left));
    }
#endif
    for (; i < n; ++i) out[i] = static_cast<unsigned char>(in[i] - in[i - step]);
}

}  // namespace

CogTiles::CogTiles(std::string path, int width, int height, int bands, GDALDataType type, CPLStringList creation,
                   std::string name)
    : path_(std::move(path)), name_(std::move(name)), width_(width), height_(height), bands_(bands), type_(type),
      creation_(std::move(creation)), file_(std::fopen(path_.c_str(), "wb")) {
    if (!file_) throw Error::Failed(name_ + ": cannot create " + path_);
    std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
    creation_.SetNameValue("BIGTIFF", "NO");
    creation_.SetNameValue("SPARSE_OK", "NO");
    char unique[64];
    std::snprintf(unique, sizeof unique, "/vsimem/alosj-cog-tiles-%p.tif", static_cast<void*>(this));
    rowsPath_ = unique;
    tileWidth_ = std::atoi(creation_.FetchNameValueDef("BLOCKXSIZE", "0"));
    tileHeight_ = std::atoi(creation_.FetchNameValueDef("BLOCKYSIZE", "0"));
    if (tileWidth_ <= 0 || tileHeight_ <= 0) {
        std::fclose(file_);
        Failing{name_}("tiles without a size");
    }

    // Bytes (with or without horizontal differencing) and Float32 (with or
    // without the floating point predictor) in DEFLATE, and no option
    // beyond these, are compressed here; anything else by GDAL.
    static const char* const kUnderstood[] = {"TILED", "BLOCKXSIZE", "BLOCKYSIZE", "COMPRESS", "ZLEVEL", "PREDICTOR",
                                              "NUM_THREADS", "BIGTIFF", "SPARSE_OK", "PHOTOMETRIC", "INTERLEAVE"};
    bool understood = (type_ == GDT_Byte || type_ == GDT_Float32) &&
                      EQUAL(creation_.FetchNameValueDef("COMPRESS", ""), "DEFLATE") &&
                      EQUAL(creation_.FetchNameValueDef("INTERLEAVE", "PIXEL"), "PIXEL");
    for (int i = 0; understood && i < creation_.size(); ++i) {
        char* key = nullptr;
        CPLParseNameValue(creation_[i], &key);
        understood = key && std::any_of(std::begin(kUnderstood), std::end(kUnderstood),
                                         [&](const char* known) { return EQUAL(key, known); });
        CPLFree(key);
    }
    const int predictor = std::atoi(creation_.FetchNameValueDef("PREDICTOR", "1"));
    const int level = std::atoi(creation_.FetchNameValueDef("ZLEVEL", "6"));
    const int fitting = type_ == GDT_Byte ? kHorizontal : kFloatingPoint;
    const uint16_t one = 1;
    const bool littleEndian = *reinterpret_cast<const unsigned char*>(&one) == 1;  // as the TIFF's samples
    if (understood && littleEndian && (predictor == kNoPredictor || predictor == fitting) && level >= 1 &&
        level <= 12) {
        // libtiff asks libdeflate for one level more than zlib's 6 to 9, to
        // make files as small as zlib's.
        level_ = level >= 6 && level <= 9 ? level + 1 : level;
        predictor_ = predictor;
    }
}

CogTiles::~CogTiles() {
    if (file_) std::fclose(file_);
    VSIUnlink(rowsPath_.c_str());
}

void CogTiles::Append(int rows, const RowsInMemory& pixels) {
    const Failing fail{name_};
    if (rows <= 0 || written_ + rows > height_) fail("rows past the level's height");
    // The tiles of a tile-row follow those of the one above: whole tile-rows only.
    if (written_ % tileHeight_ != 0) fail("rows that begin within a tile-row");
    if (level_ == 0) {
        AppendThroughGdal(rows, pixels);
    } else {
        for (int top = 0; top < rows; top += tileHeight_) {
            const RowsInMemory tileRow{static_cast<const unsigned char*>(pixels.data) + top * pixels.lineStride,
                                       pixels.lineStride, pixels.bandStride};
            AppendDeflated(std::min(tileHeight_, rows - top), tileRow);
        }
    }
    written_ += rows;
}

void CogTiles::AppendThroughGdal(int rows, const RowsInMemory& pixels) {
    const Failing fail{name_};
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    if (!driver) fail("GDAL has no GTiff driver");
    {
        std::unique_ptr<GDALDataset> tileRow(
            driver->Create(rowsPath_.c_str(), width_, rows, bands_, type_, creation_.List()));
        if (!tileRow) fail("cannot compress tiles: " + std::string(CPLGetLastErrorMsg()));
        const GSpacing pixel = GDALGetDataTypeSizeBytes(type_);
        if (tileRow->RasterIO(GF_Write, 0, 0, width_, rows, const_cast<void*>(pixels.data), width_, rows, type_,
                              bands_, nullptr, pixel, static_cast<GSpacing>(pixels.lineStride),
                              static_cast<GSpacing>(pixels.bandStride), nullptr) != CE_None)
            fail("cannot compress tiles: " + std::string(CPLGetLastErrorMsg()));
        CPLErrorReset();
        tileRow.reset();  // compresses the tiles on every core
        if (CPLGetLastErrorType() >= CE_Failure) fail("cannot compress tiles: " + std::string(CPLGetLastErrorMsg()));
    }
    vsi_l_offset length = 0;
    GByte* bytes = VSIGetMemFileBuffer(rowsPath_.c_str(), &length, FALSE);
    if (!bytes) fail("cannot compress tiles");
    bool big = false;
    File tiff(fmemopen(bytes, static_cast<size_t>(length), "rb"), &std::fclose);
    if (!tiff) fail("cannot read compressed tiles");
    const Level row = ReadLevel(tiff.get(), rowsPath_, big, true, fail);
    for (size_t t = 0; t < row.offsets.size(); ++t) {
        if (row.counts[t] != 0 && row.offsets[t] + row.counts[t] > length) fail("compressed tiles out of place");
        Put(bytes + row.offsets[t], row.counts[t]);
    }
    VSIUnlink(rowsPath_.c_str());
}

void CogTiles::AppendDeflated(int rows, const RowsInMemory& pixels) {
    // A tile as libtiff compresses it, row by row of the tile:
    // - the samples gathered: tileWidth_ pixels, the bands of a pixel side
    //   by side, zeros past the raster's edges (rows too);
    // - horizontal differencing (bytes): every byte but the first pixel's
    //   less the same band's byte a pixel to its left;
    // - the floating point predictor (Float32): the samples' most
    //   significant bytes first, then the next and so on, then differenced
    //   as above;
    // then the whole tile in DEFLATE, zlib's format.  The tiles of the
    // tile-row are shared among the workers.
    const int across = (width_ + tileWidth_ - 1) / tileWidth_;
    const size_t size = static_cast<size_t>(GDALGetDataTypeSizeBytes(type_));
    const size_t step = static_cast<size_t>(bands_);  // samples to a pixel
    const size_t rowSamples = static_cast<size_t>(tileWidth_) * step, rowBytes = rowSamples * size;
    const size_t tileBytes = rowBytes * static_cast<size_t>(tileHeight_);
    std::vector<std::vector<unsigned char>> compressed(static_cast<size_t>(across));
    std::atomic<int> next{0};
    auto work = [&] {
        std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> compressor(
            libdeflate_alloc_compressor(level_), &libdeflate_free_compressor);
        if (!compressor) throw std::bad_alloc();
        const size_t bound = libdeflate_zlib_compress_bound(compressor.get(), tileBytes);
        std::vector<unsigned char> tile(tileBytes), samples(rowBytes), planes(rowBytes), packed(bound);
        for (int t; (t = next++) < across;) {
            const int left = t * tileWidth_;
            const size_t wide = static_cast<size_t>(std::min(tileWidth_, width_ - left));
            for (int y = 0; y < tileHeight_; ++y) {
                unsigned char* out = tile.data() + static_cast<size_t>(y) * rowBytes;
                if (y >= rows) {
                    std::memset(out, 0, rowBytes);
                    continue;
                }
                // The row's samples, the bands of a pixel side by side, zeros past the edge.
                unsigned char* row = predictor_ == kNoPredictor ? out : samples.data();
                for (size_t k = 0; k < step; ++k) {
                    const unsigned char* in = static_cast<const unsigned char*>(pixels.data) +
                                              k * pixels.bandStride + static_cast<size_t>(y) * pixels.lineStride +
                                              static_cast<size_t>(left) * size;
                    if (step == 1)
                        std::memcpy(row, in, wide * size);
                    else
                        Spread(in, row + k * size, wide, step * size, size);
                }
                std::memset(row + wide * step * size, 0, rowBytes - wide * step * size);
                if (predictor_ == kHorizontal) {
                    Difference(row, out, rowBytes, step);
                } else if (predictor_ == kFloatingPoint) {
                    ByteOrderPlanes(row, planes.data(), rowSamples, size);
                    Difference(planes.data(), out, rowBytes, step);
                }
            }
            const size_t made =
                libdeflate_zlib_compress(compressor.get(), tile.data(), tileBytes, packed.data(), bound);
            if (made == 0) throw std::runtime_error("DEFLATE gave nothing");
            compressed[static_cast<size_t>(t)].assign(packed.data(), packed.data() + made);
        }
    };
    std::vector<std::future<void>> running;
    try {
        for (int i = std::min(WorkerThreads(), across); i > 0; --i)
            running.push_back(std::async(std::launch::async, work));
        for (std::future<void>& worker : running) worker.get();
    } catch (const std::exception& e) {  // the other workers are waited for as `running` goes
        Failing{name_}(std::string("cannot compress tiles: ") + e.what());
    }
    for (const std::vector<unsigned char>& tile : compressed) Put(tile.data(), tile.size());
}

void CogTiles::Put(const unsigned char* data, uint64_t count) {
    if (count == 0) {  // not written: left out
        offsets_.push_back(0);
        counts_.push_back(0);
        return;
    }
    unsigned char last[4] = {};
    const uint64_t tail = std::min<uint64_t>(count, 4);
    std::memcpy(last + 4 - tail, data + count - tail, static_cast<size_t>(tail));
    const uint32_t size = static_cast<uint32_t>(count);
    offsets_.push_back(at_ + 4);
    counts_.push_back(count);
    if (std::fwrite(&size, 4, 1, file_) != 1 || std::fwrite(data, 1, count, file_) != count ||
        std::fwrite(last, 4, 1, file_) != 1)
        Failing{name_}("cannot write " + path_ + " (disk full?)");
    at_ += 8 + count;
}

void CogTiles::Close() {
    const int closed = std::fclose(file_);
    file_ = nullptr;
    if (closed != 0) Failing{name_}("cannot finish writing " + path_ + " (disk full?)");
}

bool LayOutCog(const std::vector<CogLevelParts>& parts, const std::string& path, const std::string& name) {
    const Failing fail{name};
    bool big = false;
    std::vector<Level> levels;
    for (size_t i = 0; i < parts.size(); ++i) {
        levels.push_back(ReadTags(parts[i].tags, big, i == 0, fail));
        const CogTiles& tiles = *parts[i].tiles;
        if (!tiles.Complete() || tiles.Offsets().size() != levels.back().offsets.size())
            fail("a level's tiles do not match its tags");
        levels.back().offsets = tiles.Offsets();
        levels.back().counts = tiles.Counts();
    }
    const size_t entryBytes = big ? 20 : 12, inlineBytes = big ? 8 : 4;

    // Where everything goes: the header, the ghost text, each IFD with the
    // values that do not fit in it, then each level's tiles as its file has
    // them, smallest overview first, the full resolution's last.
    char sizeLine[64];
    std::snprintf(sizeLine, sizeof sizeLine, "GDAL_STRUCTURAL_METADATA_SIZE=%06zu bytes\n", kGhostText.size());
    uint64_t at = (big ? 16 : 8) + std::strlen(sizeLine) + kGhostText.size();
    at += at % 2;
    std::vector<uint64_t> ifdAt(levels.size());
    for (size_t i = 0; i < levels.size(); ++i) {
        Level& level = levels[i];
        if (i > 0) level.entries.push_back({kNewSubfileType, kLong, 1, {1, 0, 0, 0}});  // a reduced image
        // Placeholders of the tiles' places, filled in below.
        level.entries.push_back(NumbersEntry(kTileOffsets, big, level.offsets));
        level.entries.push_back(NumbersEntry(kTileByteCounts, big, level.counts));
        std::sort(level.entries.begin(), level.entries.end(),
                  [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
        ifdAt[i] = at;
        at += (big ? 16 : 6) + level.entries.size() * entryBytes;
        for (const Entry& entry : level.entries)
            if (entry.value.size() > inlineBytes) at += entry.value.size() + entry.value.size() % 2;
    }
    std::vector<uint64_t> tilesAt(levels.size());
    for (size_t i = levels.size(); i-- > 1;) {
        tilesAt[i] = at;
        at += parts[i].tiles->Bytes();
    }
    // The full resolution's tiles stay in their file where the file system
    // can make room before them, a whole number of its blocks.
    const CogTiles& full = *parts[0].tiles;
    struct stat status;
    const bool blocks = ::stat(full.Path().c_str(), &status) == 0 && status.st_blksize > 0;
    const uint64_t block = blocks ? static_cast<uint64_t>(status.st_blksize) : 1;
    const uint64_t room = (at + block - 1) / block * block;
    bool inPlace = false;
    if (blocks && full.Bytes() > 0) {
        const int fd = ::open(full.Path().c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) fail("cannot open " + full.Path());
        try {
            inPlace = InsertAtStart(fd, room, fail);
        } catch (...) {
            ::close(fd);
            throw;
        }
        if (::close(fd) != 0) fail("cannot write " + full.Path());
    }
    tilesAt[0] = inPlace ? room : at;
    if (!big && tilesAt[0] + full.Bytes() > UINT32_MAX) fail("more than 4 GB in a classic TIFF");
    for (size_t i = 0; i < levels.size(); ++i) {
        std::vector<uint64_t> places = levels[i].offsets;
        for (uint64_t& place : places)
            if (place != 0) place += tilesAt[i];
        for (Entry& entry : levels[i].entries)
            if (entry.tag == kTileOffsets) entry = NumbersEntry(kTileOffsets, big, places);
    }

    Output out(inPlace ? full.Path() : path, inPlace ? "r+b" : "wb", fail);
    out.Put(big ? "II\x2B\0\x08\0\0\0" : "II\x2A\0", big ? 8 : 4);
    if (big)
        out.PutValue<uint64_t>(ifdAt[0]);
    else
        out.PutValue<uint32_t>(static_cast<uint32_t>(ifdAt[0]));
    out.Put(sizeLine, std::strlen(sizeLine));
    out.Put(kGhostText.data(), kGhostText.size());
    for (size_t i = 0; i < levels.size(); ++i) {
        out.PadTo(ifdAt[i]);
        const std::vector<Entry>& entries = levels[i].entries;
        if (big)
            out.PutValue<uint64_t>(entries.size());
        else
            out.PutValue<uint16_t>(static_cast<uint16_t>(entries.size()));
        uint64_t valueAt = ifdAt[i] + (big ? 16 : 6) + entries.size() * entryBytes;
        for (const Entry& entry : entries) {
            out.PutValue(entry.tag);
            out.PutValue(entry.type);
            if (big)
                out.PutValue<uint64_t>(entry.count);
            else
                out.PutValue<uint32_t>(static_cast<uint32_t>(entry.count));
            if (entry.value.size() <= inlineBytes) {
                unsigned char inlined[8] = {};
                std::memcpy(inlined, entry.value.data(), entry.value.size());
                out.Put(inlined, inlineBytes);
            } else {
                if (big)
                    out.PutValue<uint64_t>(valueAt);
                else
                    out.PutValue<uint32_t>(static_cast<uint32_t>(valueAt));
                valueAt += entry.value.size() + entry.value.size() % 2;
            }
        }
        const uint64_t next = i + 1 < levels.size() ? ifdAt[i + 1] : 0;
        if (big)
            out.PutValue<uint64_t>(next);
        else
            out.PutValue<uint32_t>(static_cast<uint32_t>(next));
        for (const Entry& entry : entries)
            if (entry.value.size() > inlineBytes) {
                out.Put(entry.value.data(), entry.value.size());
                out.PadTo(out.at() + entry.value.size() % 2);
            }
    }
    for (size_t i = levels.size(); i-- > 1;) CopyFile(parts[i].tiles->Path(), parts[i].tiles->Bytes(), out, fail);
    if (inPlace) {
        out.PadTo(room);  // up to the full resolution's tiles, which stay where they are
    } else {
        CopyFile(full.Path(), full.Bytes(), out, fail);
    }
    out.Close();
    if (inPlace && std::rename(full.Path().c_str(), path.c_str()) != 0)
        fail("cannot rename " + full.Path() + " to " + path);
    return inPlace;
}

}  // namespace alosj::processing
