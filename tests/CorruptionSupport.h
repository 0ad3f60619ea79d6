// Damaged products for the corrupted-product tests: the product kinds, a
// product written once and damaged one file at a time, and one run of a
// whole host session over it (open, read, every query, every row of every
// band, the four exports, close) that checks what must hold for any input:
// GetRow returns 0 and writes nothing behind GetSceneWidth() bytes, and no
// temporary file is left behind.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "dataset/CeosAlosjDataset.h"

namespace corruption_support {

/// How the writer composed a band's rows, as the format lays them down: the
/// image files whose lines give its columns, left to right, each less the
/// valid pixels its left neighbour already gave (neighbouring PRISM CCDs
/// overlap); how lines are cut of their dummy pixels; and how many lines
/// later the odd pixels of a line were recorded (AVNIR-2's staggered
/// detectors).
struct Composition {
    struct Source {
        int file;
        long overlap;
    };
    std::vector<Source> sources;
    /// The rows as wide as their sources' shares together; otherwise as the
    /// scene header says.
    bool widthOfTheSources = false;
    enum class Cut {
        SmallestWidths,  // every line by its file's smallest dummy widths
        EachLinesWidths, // each line by the widths in the prefix of that line of widthsFile
        None,            // geocoded lines are whole
    } cut = Cut::SmallestWidths;
    int widthsFile = -1;
    long oddPixelLag = 0;
};
/// Rows of CCD files side by side, each after the first less the valid
/// pixels it shares with the file to its left.
std::vector<Composition> StitchedCcds(int files);

/// A kind of product: how it is written, how the host opens it, and how the
/// writer composed its rows.
struct ProductKind {
    std::string name;
    ceoswriter::ProductRecipe recipe;
    long ccdNumber = 0;  // 0: all CCD files side by side; otherwise the one CCD opened
    bool geocoded = false;
    std::vector<Composition> rows;  // by band

    bool IsPrism() const { return recipe.IsPrism(); }
    int Bands() const { return recipe.IsPrism() ? 1 : 4; }
    /// Image files whose lines make up the rows of this kind.
    int ImageCount() const { return recipe.ImageCount(); }
};

/// PRISM 1A and 1B1 with all CCD files and with one, PRISM 1B2 geocoded and
/// not, AVNIR-2 1A, 1B1 and 1B2 geocoded and not; small images.
const std::vector<ProductKind>& ProductKinds();

/// The files of a product, by role.
enum class Role { Volume, Leader, Image, Trailer, Supplemental, Summary };
const char* RoleName(Role role);

/// A product written into its own temporary directory, which a case damages
/// one file at a time and Restore mends again (from a copy of the bytes the
/// writer made, holes kept).
class WrittenProduct {
public:
    explicit WrittenProduct(const ProductKind& kind);
    const ProductKind& kind() const { return kind_; }
    const ceoswriter::ProductFiles& files() const { return files_; }
    const std::string& directory() const { return dir_.path(); }
    /// Path of the file of role (image index for Role::Image).
    std::string Path(Role role, int image = 0) const;
    /// Size of that file as the writer made it.
    long FullSize(Role role, int image = 0) const;

    /// Cuts the file to size bytes.
    void Truncate(Role role, int image, long size);
    /// Writes bytes over the file from offset on.
    void Patch(Role role, int image, long offset, const std::string& bytes);
    void Remove(Role role, int image = 0);
    /// Brings the file back to the bytes the writer made.
    void Restore(Role role, int image = 0);

private:
    struct Copy {
        long size = 0;
        std::vector<std::pair<long, std::vector<unsigned char>>> blocks;  // the blocks not all zero
        std::vector<std::pair<long, long>> patched;                       // ranges written since
    };
    Copy& CopyOf(Role role, int image);

    ProductKind kind_;
    testing_support::TempDir dir_;
    ceoswriter::ProductFiles files_;
    std::vector<std::pair<std::string, Copy>> copies_;
};

/// Points TMPDIR at a fresh directory while it lives.
class TemporaryDirectoryScope {
public:
    TemporaryDirectoryScope();
    ~TemporaryDirectoryScope();
    TemporaryDirectoryScope(const TemporaryDirectoryScope&) = delete;
    TemporaryDirectoryScope& operator=(const TemporaryDirectoryScope&) = delete;
    const std::string& path() const { return dir_.path(); }
    /// Names of the files (not directories) in the directory.
    std::vector<std::string> Leftovers() const;

private:
    testing_support::TempDir dir_;
    std::string previous_;
    bool hadPrevious_;
};

/// What the metadata queries answered, rendered as text for exact comparison.
std::string DescribeQueries(CeosAlosjDataset& dataset);

/// One host session over a product.
struct Session {
    long openResult = 0;
    std::vector<std::string> openReports;    // "operation: message", in order
    std::vector<std::string> readReports;
    std::vector<std::string> queryReports;   // while the queries ran (GetSceneWidth may read prefixes)
    std::string queries;                     // DescribeQueries
    long sceneWidth = 0;
    /// GetColumnRanges of each band, asked for once the rows are read.
    std::vector<std::vector<CeosAlosjColumnRange>> columnRanges;
    /// rows[band][row] and the reports each GetRow printed.
    std::vector<std::vector<std::vector<unsigned char>>> rows;
    std::vector<std::vector<std::vector<std::string>>> rowReports;
    std::vector<std::string> exportReports;
    int32_t ephemerisCount = -1;
    int32_t attitudeCount = -1;
    int32_t matrixCount = -1;
    double sensorMatrix[9] = {};
};

/// Runs a session on the product's volume directory file, reading rows 0 to
/// rowCount − 1 of every band of the kind.  Checks, as test failures: GetRow
/// returns 0 and leaves the guard bytes behind the scene width untouched,
/// every byte up to the width is written, the exported structures carry
/// only what their members allow, and the temporary directory (when given)
/// is empty afterwards.
Session RunSession(const ProductKind& kind, const std::string& volume, int rowCount,
                   const TemporaryDirectoryScope* tmp);

/// The reports of a session that are expected to repeat those of the intact
/// product (for comparisons where only some phases differ).
std::vector<std::string> Flatten(const std::vector<std::vector<std::vector<std::string>>>& rowReports);

/// Lines written per image file and the record length of the small images.
constexpr int kLines = 16;
constexpr int kPixels = 64;
constexpr long kImageRecordLength = 720;
constexpr long kLinePrefix = 34;

/// Dummy pixels cut from both ends of a file's lines.
struct DummyCut {
    long left = ceoswriter::ImageLayout::kDefaultLeftDummyWidth;
    long right = ceoswriter::ImageLayout::kDefaultRightDummyWidth;
};
/// No cut: a file with no line whose dummy widths can be read is taken whole.
constexpr DummyCut kUncut{0, 0};

/// How much of each image file the library can read: its size, or −1 when
/// it cannot be opened at all (missing, or not identified); and, as each
/// case states it, what the damage makes the reader believe of the file.
struct ImageHealth {
    std::vector<long> available;  // by image file index
    /// What a damaged descriptor declares in place of what the writer wrote.
    struct Declared {
        std::optional<long> lines;
        std::optional<long> recordLength;
        std::optional<long> pixels;
    };
    std::map<int, Declared> declared;  // by image file index
    /// The smallest dummy widths over the lines of a file that the reader can
    /// read, where they are not the writer's 6 and 4 (by image file index).
    std::map<int, DummyCut> cuts;
    static ImageHealth Intact(const ProductKind& kind);
};

/// The row the library must deliver, and the reports it prints for it, when
/// the image files are damaged as health says and everything else is
/// intact: the writer's pixels, placed as the kind's composition says, less
/// what the damage takes.
struct ExpectedRow {
    std::vector<unsigned char> bytes;
    std::vector<std::string> reports;
};
ExpectedRow ExpectRow(const ProductKind& kind, const ImageHealth& health, int band, int row);
/// The scene width the library must give for that damage.
long ExpectSceneWidth(const ProductKind& kind, const ImageHealth& health);
/// The session's scene width and each band's column ranges as that damage
/// leaves them (test failures when they differ).
void ExpectLayout(const ProductKind& kind, const ImageHealth& health, const Session& session);

/// The image files whose every line is cut by the file's smallest dummy
/// widths: a session reads those widths once, from five sample lines of each
/// side (every line when the samples are not in order), and reports each
/// width it meets beyond the line.
std::vector<int> FilesCutBySmallestWidths(const ProductKind& kind);
constexpr const char* kWidthBeyondLine = "ImageFileImageLine::Read: Dummy width beyond the line";
/// The reports of the four exports for that damage.
std::vector<std::string> ExpectExportReports(const ProductKind& kind, const ImageHealth& health);

/// Rows 0 … rows − 1 of every band compared with ExpectRow for that damage
/// (a test failure when they differ); with eachRowsReports each row's
/// reports too.  Without, the caller compares all reports at once, as the
/// smallest dummy widths are read by whichever call comes first.
void ExpectRows(const ProductKind& kind, const ImageHealth& health, const Session& session,
                int rows = kLines, bool eachRowsReports = true);
/// Every report a session printed after FileRead, sorted.
std::vector<std::string> ReportsAfterRead(const Session& session);
/// The image file whose rows a kind delivers first: the selected CCD, or the first file.
int WatchedImage(const ProductKind& kind);
/// A numeric text field of width characters, right-justified as the format writes numbers.
std::string TextField(const std::string& text, size_t width);

/// "operation: message" of a report made on failure of a record read.
std::string ReadFailure(const std::string& operation);

}  // namespace corruption_support
