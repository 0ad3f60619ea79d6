#include "CorruptionSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <sstream>
#include <stdexcept>
#include <tuple>

namespace corruption_support {

using namespace ceoswriter;
using testing_support::ReportCapture;

namespace {

// Bytes behind the scene width that GetRow must leave alone.
constexpr size_t kGuardBytes = 64;
constexpr unsigned char kGuardByte = 0xA5;
// Granularity of the copies that mend damaged files.
constexpr size_t kCopyBlock = 4096;
// A width beyond this is not allocated for: the session fails instead.
constexpr long kLargestRowTested = 1L << 22;

// Image descriptor bytes the reader reads: the common part, then bytes 181-444.
constexpr long kImageDescriptorEnd = 444;
// Lines between an AVNIR-2 line and the one its odd bytes come from, for the
// leader's default pointing angle.
constexpr int kDefaultStaggerShift = 5;

// Rows of each band's own file, cut as cut says (by the widths in the lines
// of widthsFile, or of the band's own file when it is kOwnFile), the odd
// pixels lag lines later.
constexpr int kOwnFile = -1;
std::vector<Composition> OwnFiles(int bands, Composition::Cut cut, int widthsFile = kOwnFile, long lag = 0) {
    std::vector<Composition> rows;
    for (int band = 0; band < bands; ++band) {
        Composition composed;
        composed.sources = {{band, 0}};
        composed.cut = cut;
        if (cut == Composition::Cut::EachLinesWidths) composed.widthsFile = widthsFile == kOwnFile ? band : widthsFile;
        composed.oddPixelLag = lag;
        rows.push_back(composed);
    }
    return rows;
}

// Rows of one CCD file, the one opened.
std::vector<Composition> OneCcd(int file) {
    Composition composed;
    composed.sources = {{file, 0}};
    composed.widthOfTheSources = true;
    return {composed};
}

ProductKind Kind(std::string name, ProductRecipe recipe, std::vector<Composition> rows, long ccdNumber = 0,
                 bool geocoded = false) {
    ProductKind kind;
    kind.name = std::move(name);
    kind.recipe = std::move(recipe);
    kind.ccdNumber = ccdNumber;
    kind.geocoded = geocoded;
    kind.rows = std::move(rows);
    // Level 1B2 keeps the geocoding letter in the product ID of the scene header.
    if (kind.recipe.level == 2) kind.recipe.leader.geocodingLetter = geocoded ? 'G' : 'R';
    return kind;
}

ProductRecipe SmallPrism(int level) {
    ProductRecipe recipe = PrismProduct(level);
    recipe.designators = {1, 2, 3, 4};
    return recipe;
}

// Level 1B2 lines are cut by their own dummy widths: let them differ from
// line to line so that a row cut by the wrong line shows.
ProductRecipe WithVaryingDummyWidths(ProductRecipe recipe) {
    recipe.image.leftDummyWidth = [](int file, int line) { return 3 + (line + file) % 4; };
    recipe.image.rightDummyWidth = [](int, int line) { return 2 + line % 3; };
    return recipe;
}

std::string Summaryline(const std::string& operation, const std::string& message) {
    return operation + ": " + message;
}

// What the library can see of image file index once damaged as health says.
struct FileView {
    bool descriptorRead = false;  // the descriptor's image fields were decoded
    long available = -1;
    long pixels = 0;              // pixels per line the reader believes: no more than a record holds
    long recordLength = 0;
    long lines = 0;               // as the descriptor declares
    DummyCut cut;                 // as the case states it
};

// A dummy width as the reader takes it: inside the line.
long Inside(long width, long pixels) { return std::clamp(width, 0L, pixels); }

FileView View(const ProductKind& kind, const ImageHealth& health, int index) {
    FileView view;
    if (index < 0 || index >= static_cast<int>(health.available.size())) return view;
    view.available = health.available[static_cast<size_t>(index)];
    view.descriptorRead = view.available >= kImageDescriptorEnd;
    if (!view.descriptorRead) return view;
    const ImageFileLayout layout = ResolveImageFile(kind.recipe.image, index);
    ImageHealth::Declared declared;
    if (health.declared.count(index)) declared = health.declared.at(index);
    view.recordLength = declared.recordLength.value_or(layout.recordLength);
    view.lines = declared.lines.value_or(layout.lines);
    const long room = view.recordLength - kLinePrefix;
    view.pixels = room < 0 ? 0 : std::clamp(declared.pixels.value_or(layout.pixelsPerLine), 0L, room);
    if (health.cuts.count(index)) view.cut = health.cuts.at(index);
    return view;
}

// Whether the prefix of line can be read.  The offsets are 64-bit: a long
// has 32 bits on Windows.
bool PrefixReadable(const FileView& view, long line) {
    return view.descriptorRead && view.recordLength > 0 && view.available >= (int64_t{line} + 1) * view.recordLength + kLinePrefix;
}

// Whether the bytes of line up to (not including) column end can be read.
bool Readable(const FileView& view, long line, long end) {
    return PrefixReadable(view, line) && view.available >= (int64_t{line} + 1) * view.recordLength + kLinePrefix + end;
}

// Columns [left, pixels − right) of line, as written, into out from position.
void Copy(const ProductKind& kind, int file, long line, long left, long count,
          std::vector<unsigned char>& out, long position) {
    for (long k = 0; k < count && position + k < static_cast<long>(out.size()); ++k)
        out[static_cast<size_t>(position + k)] =
            ImagePixel(kind.recipe.image, file, static_cast<int>(line), static_cast<int>(left + k));
}

// One plain line read of file into out at position, with its report when it
// fails.  A span wider than the room left in the row is cut on the right.
// Returns the bytes the span covers.
long ExpectLineRead(const ProductKind& kind, const FileView& view, int file, int row, long left,
                    long right, ExpectedRow& expected, long position, const char* operation) {
    const long room = static_cast<long>(expected.bytes.size()) - position;
    const long count = std::min(view.pixels - left - right, room);
    if (count <= 0) return 0;
    if (Readable(view, row, left + count))
        Copy(kind, file, row, left, count, expected.bytes, position);
    else
        expected.reports.push_back(Summaryline(operation, "tfio_ReadDirect failed"));
    return count;
}

// The dummy widths of line row of the file in view, as a Level 1B2 row reads
// them: from the line's prefix, or 0 with two reports when it cannot be read.
void ExpectLineWidths(const ProductKind& kind, const FileView& view, int file, int row, long& left,
                      long& right, ExpectedRow& expected) {
    left = right = 0;
    if (PrefixReadable(view, row)) {
        const long raw[2] = {kind.recipe.image.leftDummyWidth(file, row), kind.recipe.image.rightDummyWidth(file, row)};
        for (long width : raw)
            if (width != Inside(width, view.pixels)) expected.reports.push_back(kWidthBeyondLine);
        left = Inside(raw[0], view.pixels);
        right = Inside(raw[1], view.pixels);
        return;
    }
    expected.reports.push_back(ReadFailure("ImageFileImageLine::Read"));
    expected.reports.push_back(ReadFailure("ImageFileImageLine::Read"));
}

}  // namespace

std::string ReadFailure(const std::string& operation) {
    return Summaryline(operation, "tfio_ReadDirect failure");
}

const std::vector<ProductKind>& ProductKinds() {
    using Cut = Composition::Cut;
    // Below Level 1B2 every line is cut by its file's smallest dummy widths;
    // Level 1B2 lines by their own (AVNIR-2: of the fourth file's line), or
    // not at all when geocoded.  AVNIR-2's odd detectors lag behind.
    static const std::vector<ProductKind> kinds = {
        Kind("PRISM 1A all CCDs", SmallPrism(0), StitchedCcds(4)),
        Kind("PRISM 1B1 all CCDs", SmallPrism(1), StitchedCcds(4)),
        // CCD 3, selected, is the third of the four image files.
        Kind("PRISM 1A one CCD", SmallPrism(0), OneCcd(2), 3),
        Kind("PRISM 1B1 one CCD", SmallPrism(1), OneCcd(2), 3),
        Kind("PRISM 1B2 geocoded", PrismProduct(2), OwnFiles(1, Cut::None), 0, true),
        Kind("PRISM 1B2 georeferenced", WithVaryingDummyWidths(PrismProduct(2)), OwnFiles(1, Cut::EachLinesWidths)),
        Kind("AVNIR-2 1A", Avnir2Product(0), OwnFiles(4, Cut::SmallestWidths, kOwnFile, kDefaultStaggerShift)),
        Kind("AVNIR-2 1B1", Avnir2Product(1), OwnFiles(4, Cut::SmallestWidths, kOwnFile, kDefaultStaggerShift)),
        Kind("AVNIR-2 1B2 geocoded", Avnir2Product(2), OwnFiles(4, Cut::None), 0, true),
        Kind("AVNIR-2 1B2 georeferenced", WithVaryingDummyWidths(Avnir2Product(2)), OwnFiles(4, Cut::EachLinesWidths, 3)),
    };
    return kinds;
}

const char* RoleName(Role role) {
    switch (role) {
        case Role::Volume: return "volume directory";
        case Role::Leader: return "leader";
        case Role::Image: return "image";
        case Role::Trailer: return "trailer";
        case Role::Supplemental: return "supplemental";
        case Role::Summary: return "summary";
    }
    return "?";
}

WrittenProduct::WrittenProduct(const ProductKind& kind)
    : kind_(kind), files_(WriteProduct(dir_.path(), kind.recipe)) {
    std::vector<std::string> paths = {files_.volume, files_.leader, files_.trailer};
    paths.insert(paths.end(), files_.images.begin(), files_.images.end());
    if (!files_.supplemental.empty()) paths.push_back(files_.supplemental);
    if (!files_.summary.empty()) paths.push_back(files_.summary);
    // The files are mostly holes (the supplemental file is 13 MB of which a
    // few blocks are written): only blocks that are not all zero are kept.
    static const std::vector<char> zeros(kCopyBlock, 0);
    for (const std::string& path : paths) {
        std::ifstream in(path, std::ios::binary);
        Copy copy;
        std::vector<char> block(kCopyBlock);
        for (long offset = 0;; offset += static_cast<long>(kCopyBlock)) {
            in.read(block.data(), static_cast<std::streamsize>(kCopyBlock));
            const size_t got = static_cast<size_t>(in.gcount());
            copy.size = offset + static_cast<long>(got);
            if (got > 0 && std::memcmp(block.data(), zeros.data(), got) != 0)
                copy.blocks.push_back({offset, std::vector<unsigned char>(block.begin(), block.begin() + got)});
            if (got < kCopyBlock) break;
        }
        copies_.push_back({path, std::move(copy)});
    }
}

std::string WrittenProduct::Path(Role role, int image) const {
    switch (role) {
        case Role::Volume: return files_.volume;
        case Role::Leader: return files_.leader;
        case Role::Image: return files_.images.at(static_cast<size_t>(image));
        case Role::Trailer: return files_.trailer;
        case Role::Supplemental: return files_.supplemental;
        case Role::Summary: return files_.summary;
    }
    return {};
}

WrittenProduct::Copy& WrittenProduct::CopyOf(Role role, int image) {
    const std::string path = Path(role, image);
    for (auto& entry : copies_)
        if (entry.first == path) return entry.second;
    throw std::logic_error("no such file in the product: " + path);
}

long WrittenProduct::FullSize(Role role, int image) const {
    return const_cast<WrittenProduct*>(this)->CopyOf(role, image).size;
}

void WrittenProduct::Truncate(Role role, int image, long size) {
    testing_support::TruncateFile(Path(role, image), size);
}

void WrittenProduct::Patch(Role role, int image, long offset, const std::string& bytes) {
    CopyOf(role, image).patched.push_back({offset, static_cast<long>(bytes.size())});
    testing_support::PatchFile(Path(role, image), offset, bytes);
}

void WrittenProduct::Remove(Role role, int image) { std::filesystem::remove(Path(role, image)); }

void WrittenProduct::Restore(Role role, int image) {
    const std::string path = Path(role, image);
    Copy& copy = CopyOf(role, image);
    if (!std::filesystem::exists(path)) std::ofstream(path, std::ios::binary);
    // Cut back or extended with a hole, then the written blocks and any
    // patched bytes (holes in the original) put back.
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(copy.size));
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    for (const auto& [offset, length] : copy.patched) {
        file.seekp(offset);
        const std::string zeros(static_cast<size_t>(std::max(0L, std::min(length, copy.size - offset))), '\0');
        file.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    }
    copy.patched.clear();
    for (const auto& [offset, bytes] : copy.blocks) {
        file.seekp(offset);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
}

TemporaryDirectoryScope::TemporaryDirectoryScope() {
    const char* previous = std::getenv("TMPDIR");
    hadPrevious_ = previous != nullptr;
    if (previous) previous_ = previous;
    testing_support::SetEnv("TMPDIR", dir_.path().c_str());
}

TemporaryDirectoryScope::~TemporaryDirectoryScope() {
    testing_support::SetEnv("TMPDIR", hadPrevious_ ? previous_.c_str() : nullptr);
}

std::vector<std::string> TemporaryDirectoryScope::Leftovers() const {
    std::vector<std::string> names;
    std::error_code error;
    // Product directories made while TMPDIR points here are no leftovers.
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path(), error))
        if (!entry.is_directory()) names.push_back(entry.path().filename().string());
    return names;
}

std::string DescribeQueries(CeosAlosjDataset& dataset) {
    std::ostringstream out;
    out.precision(17);
    out << "sensor " << dataset.GetSensorType() << ", level " << dataset.GetProductLevel()
        << ", image files " << dataset.GetImgFileCount() << ", min CCD " << dataset.GetMinCcdNumber()
        << "\nlayers " << dataset.GetNumOfLayers() << ":";
    char** names = dataset.GetLayerNames();
    for (long i = 0; names && i < dataset.GetNumOfLayers(); ++i) out << ' ' << names[i];
    out << "\nband of Layer_1 " << dataset.GetBandNum("Layer_1") << ", of Layer_4 "
        << dataset.GetBandNum("Layer_4") << "\nmode " << dataset.GetObservationMode() << ", pixel type "
        << dataset.GetPixelType() << ", bytes per pixel " << dataset.GetNumOfBytesPerPixel()
        << ", stagger " << dataset.GetStaggerPixelShift();
    for (long k = 0; k < dataset.GetImgFileCount(); ++k) {
        const char* name = dataset.GetImageFileName(k);
        out << "\nimage " << k << ' ' << (name ? std::filesystem::path(name).filename().string() : "(none)");
    }
    out << "\nscene " << dataset.GetSceneWidth() << " x " << dataset.GetSceneHeight() << "\npixel size "
        << dataset.GetXPixelSize() << " x " << dataset.GetYPixelSize() << "\nupper left "
        << dataset.GetUpperLeftCornerNorthing() << " N " << dataset.GetUpperLeftCornerEasting()
        << " E\nUTM zone " << dataset.GetUTMZoneNum() << " hemisphere " << dataset.GetUTMHemishpere();
    const char* projection = dataset.GetMapProjection();
    out << "\nprojection " << (projection ? projection : "(none)") << " centre "
        << dataset.GetProjectionCenterLat() << ", " << dataset.GetProjectionCenterLon()
        << "\nscene centre " << dataset.GetSceneCenterUTMX() << " E " << dataset.GetSceneCenterUTMY() << " N";
    // The ellipsoid name is 16 characters held in place: it must end inside them.
    const char* ellipsoid = dataset.GetEllipsoidName();
    const bool terminated = ellipsoid && std::memchr(ellipsoid, '\0', 17) != nullptr;
    EXPECT_TRUE(terminated) << "the ellipsoid name runs past its 16 characters";
    out << "\nellipsoid '" << (terminated ? ellipsoid : "(unterminated)") << "'";
    double lat = 0;
    double lon = 0;
    dataset.GetULCornerLatLon(&lat, &lon);
    out << "\ncorners " << lat << ' ' << lon;
    dataset.GetURCornerLatLon(&lat, &lon);
    out << ", " << lat << ' ' << lon;
    dataset.GetLLCornerLatLon(&lat, &lon);
    out << ", " << lat << ' ' << lon;
    dataset.GetLRCornerLatLon(&lat, &lon);
    out << ", " << lat << ' ' << lon;
    out << "\nmap direction " << dataset.GetMapDirection() << ", geocoded " << dataset.IsGeocoded();
    return out.str();
}

Session RunSession(const ProductKind& kind, const std::string& volume, int rowCount,
                   const TemporaryDirectoryScope* tmp) {
    Session session;
    ReportCapture capture;
    {
        auto dataset = kind.ccdNumber ? std::make_unique<CeosAlosjDataset>(volume.c_str(), kind.ccdNumber)
                                      : std::make_unique<CeosAlosjDataset>(volume.c_str());
        session.openResult = dataset->FileOpen(nullptr);
        session.openReports = capture.Summary();
        capture.Clear();

        EXPECT_EQ(dataset->FileRead(), 0);
        session.readReports = capture.Summary();
        capture.Clear();

        session.queries = DescribeQueries(*dataset);
        session.sceneWidth = dataset->GetSceneWidth();
        session.queryReports = capture.Summary();
        capture.Clear();

        const long width = session.sceneWidth;
        EXPECT_GE(width, 0);
        EXPECT_LE(width, kLargestRowTested) << "a row this wide is not allocated";
        const bool rowsFit = width >= 0 && width <= kLargestRowTested;
        session.rows.resize(static_cast<size_t>(kind.Bands()));
        session.rowReports.resize(static_cast<size_t>(kind.Bands()));
        for (int band = 0; rowsFit && band < kind.Bands(); ++band) {
            for (int row = 0; row < rowCount; ++row) {
                std::vector<unsigned char> buffer(static_cast<size_t>(width) + kGuardBytes, kGuardByte);
                unsigned char* data = buffer.data();
                EXPECT_EQ(dataset->GetRow(band, static_cast<unsigned long>(row), 0, &data), 0);
                const bool guarded = std::all_of(buffer.begin() + width, buffer.end(),
                                                 [](unsigned char b) { return b == kGuardByte; });
                EXPECT_TRUE(guarded) << "GetRow wrote past the scene width " << width << " (band " << band
                                     << ", row " << row << ")";
                buffer.resize(static_cast<size_t>(width));
                session.rows[static_cast<size_t>(band)].push_back(std::move(buffer));
                session.rowReports[static_cast<size_t>(band)].push_back(capture.Summary());
                capture.Clear();
            }
        }

        // The rows' layout as published: asked for after the rows, it reads nothing.
        session.columnRanges.resize(static_cast<size_t>(kind.Bands()));
        for (int band = 0; band < kind.Bands(); ++band) {
            std::vector<CeosAlosjColumnRange>& ranges = session.columnRanges[static_cast<size_t>(band)];
            ranges.resize(static_cast<size_t>(std::max(0L, dataset->GetColumnRanges(band, nullptr, 0))));
            const long n = dataset->GetColumnRanges(band, ranges.data(), static_cast<long>(ranges.size()));
            EXPECT_EQ(n, static_cast<long>(ranges.size()));
        }
        EXPECT_TRUE(capture.reports().empty()) << "asking for the column ranges reported";
        capture.Clear();

        // The four exports, into host structures whose storage the host supplies.
        Tkmd_ALPSM1B1_IMG scene{};
        AlosjDateTime start{};
        AlosjDateTime centre{};
        std::vector<double> coefficients(8 * 40);
        scene.sceneStartTime = &start;
        scene.sceneCenterDateTime = &centre;
        for (int k = 0; k < 8; ++k) scene.coefficientArrays[k] = coefficients.data() + 40 * k;
        dataset->GetALPSM1B1SceneData(&scene);
        if (scene.sceneText) {
            EXPECT_LE(std::strlen(scene.sceneText), 16u);
        }
        Tkmd_ALPSM1B1_IMG_Release(&scene);

        Tkmd_ALPSM1B1_EPH ephemeris{};
        dataset->GetALPSM1B1EphemerisData(&ephemeris);
        if (ephemeris.ephemeris) {
            session.ephemerisCount = ephemeris.ephemeris->count;
            EXPECT_EQ(ephemeris.ephemerisCount, ephemeris.ephemeris->count);
            // Every entry's time record is a block of its own.
            for (int32_t i = 0; i < ephemeris.ephemeris->count; ++i)
                EXPECT_NE(ephemeris.ephemeris->entries[i].time, nullptr);
        }
        if (ephemeris.matrices) {
            session.matrixCount = ephemeris.matrices->count;
            for (int32_t i = 0; i < ephemeris.matrices->count; ++i)
                EXPECT_NE(ephemeris.matrices->entries[i].time, nullptr);
        }
        Tkmd_ALPSM1B1_EPH_Release(&ephemeris);

        Tkmd_ALPSM1B1_ATT attitude{};
        dataset->GetALPSM1B1AttitudeData(&attitude);
        if (attitude.attitude) {
            session.attitudeCount = attitude.attitude->count;
            EXPECT_EQ(attitude.attitudeCount, attitude.attitude->count);
            for (int32_t i = 0; i < attitude.attitude->count; ++i)
                EXPECT_NE(attitude.attitude->entries[i].time, nullptr);
        }
        Tkmd_ALPSM1B1_ATT_Release(&attitude);

        Tkmd_ALPSM1B1_SEN sensor{};
        sensor.sensorMatrix = session.sensorMatrix;
        dataset->GetALPSM1B1SensorData(&sensor);
        session.exportReports = capture.Summary();
        capture.Clear();

        EXPECT_EQ(dataset->FileClose(), 0);
    }
    EXPECT_TRUE(capture.reports().empty()) << "closing or destroying the dataset reported";
    if (tmp) {
        const std::vector<std::string> left = tmp->Leftovers();
        EXPECT_TRUE(left.empty()) << "left in the temporary directory: " << (left.empty() ? "" : left.front());
    }
    return session;
}

std::vector<std::string> Flatten(const std::vector<std::vector<std::vector<std::string>>>& rowReports) {
    std::vector<std::string> all;
    for (const auto& band : rowReports)
        for (const auto& row : band) all.insert(all.end(), row.begin(), row.end());
    return all;
}

ImageHealth ImageHealth::Intact(const ProductKind& kind) {
    ImageHealth health;
    for (int i = 0; i < kind.ImageCount(); ++i) {
        const ImageFileLayout layout = ResolveImageFile(kind.recipe.image, i);
        health.available.push_back(static_cast<long>(layout.recordLength) * (layout.lines + 1));
    }
    return health;
}

std::vector<Composition> StitchedCcds(int files) {
    Composition composed;
    composed.widthOfTheSources = true;
    for (int i = 0; i < files; ++i) composed.sources.push_back({i, i == 0 ? 0 : CeosAlosjDataset::OVERLAPWIDTH});
    return {composed};
}

namespace {

// The columns each source of a row as wide as its sources gives: its pixels
// between the cuts, less its overlap, and never less than none.
std::vector<long> SharesOfTheSources(const ProductKind& kind, const ImageHealth& health,
                                     const Composition& composed) {
    std::vector<long> shares;
    for (const Composition::Source& source : composed.sources) {
        const FileView view = View(kind, health, source.file);
        shares.push_back(std::max(0L, view.pixels - view.cut.left - view.cut.right - source.overlap));
    }
    return shares;
}

}  // namespace

long ExpectSceneWidth(const ProductKind& kind, const ImageHealth& health) {
    const Composition& composed = kind.rows.at(0);
    if (!composed.widthOfTheSources)
        return kind.recipe.leader.pixelsPerLine.value_or(ResolveImageFile(kind.recipe.image, 0).pixelsPerLine);
    const std::vector<long> shares = SharesOfTheSources(kind, health, composed);
    return std::accumulate(shares.begin(), shares.end(), 0L);
}

void ExpectLayout(const ProductKind& kind, const ImageHealth& health, const Session& session) {
    const long width = ExpectSceneWidth(kind, health);
    ASSERT_EQ(session.sceneWidth, width);
    ASSERT_EQ(session.columnRanges.size(), static_cast<size_t>(kind.Bands()));
    for (int band = 0; band < kind.Bands(); ++band) {
        // A row of one file is that file's across the row; the files of a
        // stitched row follow one another, each over its share.
        const Composition& composed = kind.rows.at(static_cast<size_t>(band));
        std::vector<std::tuple<long, long, long>> expected;
        if (composed.sources.size() == 1) {
            expected.emplace_back(composed.sources[0].file, 0, width);
        } else {
            const std::vector<long> shares = SharesOfTheSources(kind, health, composed);
            long column = 0;
            for (size_t k = 0; k < shares.size(); ++k) {
                if (shares[k] == 0) continue;
                expected.emplace_back(composed.sources[k].file, column, shares[k]);
                column += shares[k];
            }
        }
        std::vector<std::tuple<long, long, long>> published;
        for (const CeosAlosjColumnRange& range : session.columnRanges[static_cast<size_t>(band)])
            published.emplace_back(range.file, range.firstColumn, range.columnCount);
        EXPECT_EQ(published, expected) << "column ranges (file, first column, count) of band " << band;
    }
}

namespace {

// A de-staggered read of line row of file into the start of the row: the
// pixels between the cuts, the odd ones from the line lag lines later while
// the file declares one.  A read that fails leaves what the reads before it gave.
void ExpectDeStaggeredRead(const ProductKind& kind, const FileView& view, int file, int row, long left,
                           long right, long lag, ExpectedRow& expected) {
    const char* const operation = "ImageFileImageLine::ReadLineDeStagger";
    const long count = std::min(view.pixels - left - right, static_cast<long>(expected.bytes.size()));
    if (count <= 0) return;
    const long end = left + count;
    if (!Readable(view, row, end)) {
        expected.reports.push_back(Summaryline(operation, "tfio_ReadDirect failed"));
        return;
    }
    Copy(kind, file, row, left, count, expected.bytes, 0);
    const long later = static_cast<long>(row) + lag;
    if (later >= view.lines) return;
    if (!Readable(view, later, end)) {
        expected.reports.push_back(Summaryline(operation, "tfio_ReadDirect failed"));
        return;
    }
    for (long k = 1; k < count; k += 2)
        expected.bytes[static_cast<size_t>(k)] =
            ImagePixel(kind.recipe.image, file, static_cast<int>(later), static_cast<int>(left + k));
}

}  // namespace

ExpectedRow ExpectRow(const ProductKind& kind, const ImageHealth& health, int band, int row) {
    ExpectedRow expected;
    expected.bytes.assign(static_cast<size_t>(ExpectSceneWidth(kind, health)), 0);
    if (expected.bytes.empty()) return expected;
    const Composition& composed = kind.rows.at(static_cast<size_t>(band));
    long column = 0;
    for (const Composition::Source& source : composed.sources) {
        const FileView view = View(kind, health, source.file);
        long left = 0;
        long right = 0;
        switch (composed.cut) {
            case Composition::Cut::SmallestWidths:
                left = view.cut.left;
                right = view.cut.right;
                break;
            case Composition::Cut::EachLinesWidths:
                ExpectLineWidths(kind, View(kind, health, composed.widthsFile), composed.widthsFile, row, left,
                                 right, expected);
                break;
            case Composition::Cut::None: break;
        }
        left += source.overlap;
        if (composed.oddPixelLag)
            ExpectDeStaggeredRead(kind, view, source.file, row, left, right, composed.oddPixelLag, expected);
        else
            column += ExpectLineRead(kind, view, source.file, row, left, right, expected, column,
                                     "ImageFileImageLine::ReadLine");
    }
    return expected;
}

std::vector<int> FilesCutBySmallestWidths(const ProductKind& kind) {
    std::vector<int> files;
    for (int band = 0; band < kind.Bands(); ++band) {
        const Composition& composed = kind.rows.at(static_cast<size_t>(band));
        if (composed.cut != Composition::Cut::SmallestWidths) continue;
        for (const Composition::Source& source : composed.sources)
            if (std::find(files.begin(), files.end(), source.file) == files.end()) files.push_back(source.file);
    }
    return files;
}

std::vector<std::string> ExpectExportReports(const ProductKind& kind, const ImageHealth& health) {
    // The scene export takes the scan time from the prefix of the first line of the first file.
    if (PrefixReadable(View(kind, health, 0), 0)) return {};
    return {ReadFailure("ImageFileImageLine::ReadStartScanTime")};
}

void ExpectRows(const ProductKind& kind, const ImageHealth& health, const Session& session, int rows,
                bool eachRowsReports) {
    ASSERT_NO_FATAL_FAILURE(ExpectLayout(kind, health, session));
    for (int band = 0; band < kind.Bands(); ++band)
        for (int row = 0; row < rows; ++row) {
            const ExpectedRow expected = ExpectRow(kind, health, band, row);
            ASSERT_EQ(session.rows[band][row], expected.bytes) << "band " << band << ", row " << row;
            if (eachRowsReports) {
                EXPECT_EQ(session.rowReports[band][row], expected.reports) << "band " << band << ", row " << row;
            }
        }
}

std::vector<std::string> ReportsAfterRead(const Session& session) {
    std::vector<std::string> all = session.queryReports;
    const std::vector<std::string> rows = Flatten(session.rowReports);
    all.insert(all.end(), rows.begin(), rows.end());
    all.insert(all.end(), session.exportReports.begin(), session.exportReports.end());
    std::sort(all.begin(), all.end());
    return all;
}

int WatchedImage(const ProductKind& kind) {
    return kind.ccdNumber ? static_cast<int>(kind.ccdNumber - kind.recipe.designators[0]) : 0;
}

std::string TextField(const std::string& text, size_t width) {
    return text.size() >= width ? text.substr(0, width) : std::string(width - text.size(), ' ') + text;
}

}  // namespace corruption_support
