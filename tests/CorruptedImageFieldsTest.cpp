// Image files whose descriptors and line prefixes were hand-edited to absurd
// values: record counts, record lengths, bits and pixels per line out of
// range, dummy widths outside the line.  Each case runs a whole host session
// and asserts the reports that name the problem, the rows delivered (never a
// byte read from outside a line's record, never one written past
// GetSceneWidth()), and the queries still answering.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "CorruptionSupport.h"

using namespace corruption_support;

namespace {

// One hand-edited field of an image file descriptor.
struct DescriptorEdit {
    const char* field;
    long offset;  // file offset of the field (record position less 1)
    size_t width;
    std::string value;
    ImageHealth::Declared declared;  // what the edited descriptor declares
    std::vector<std::string> reports;  // printed when the descriptor is read
    bool rowsFollowTheLayout = true;   // false: lines misplaced, contents unforeseeable
    bool linesUncut = false;           // no line left to take the smallest dummy widths from
    int widthsBeyondTheLine = 0;       // of the five sample lines of both sides, when the file is cut by them
};

const char* const kLinesInvalid = "ImageFileFileDescriptor::Read: Invalid number of image records";
const char* const kPixelsDoNotFit = "ImageFileFileDescriptor::Read: Pixels per line do not fit the record length";

std::vector<DescriptorEdit> DescriptorEdits() {
    auto lines = [](long n) { ImageHealth::Declared d; d.lines = n; return d; };
    auto length = [](long n) { ImageHealth::Declared d; d.recordLength = n; return d; };
    auto pixels = [](long n) { ImageHealth::Declared d; d.pixels = n; return d; };
    return {
        // numOfImageRecords, position 181, 6 characters
        {"image records", 180, 6, "-99999", lines(-99999), {kLinesInvalid}, true, true},
        {"image records", 180, 6, "0", lines(0), {}, true, true},
        {"image records", 180, 6, "999999", lines(999999), {}},
        // imageRecordLength, position 187, 6 characters
        {"record length", 186, 6, "-99999", length(-99999), {kPixelsDoNotFit}, true, true},
        {"record length", 186, 6, "0", length(0), {kPixelsDoNotFit}, true, true},
        {"record length", 186, 6, "50", length(50), {kPixelsDoNotFit}, false},
        // No record of that length fits in the file.
        {"record length", 186, 6, "999999", length(999999), {}, true, true},
        // bitsPerPixel, position 217, 4 characters
        {"bits per pixel", 216, 4, "-999", {}, {}},
        {"bits per pixel", 216, 4, "0", {}, {}},
        {"bits per pixel", 216, 4, "9999", {}, {}},
        // numOfImagePixelsPerLine, position 249, 8 characters
        // A line of no pixels has the widths of all five sample lines beyond it.
        {"pixels per line", 248, 8, "-9999999", pixels(-9999999), {kPixelsDoNotFit}, true, true, 10},
        {"pixels per line", 248, 8, "0", pixels(0), {}, true, true, 10},
        {"pixels per line", 248, 8, "686", pixels(686), {}},
        {"pixels per line", 248, 8, "700", pixels(700), {kPixelsDoNotFit}},
        {"pixels per line", 248, 8, "99999999", pixels(99999999), {kPixelsDoNotFit}},
    };
}

}  // namespace

TEST(CorruptedImageFields, DescriptorSizesOutOfRangeNeverReadOrWriteOutsideALine) {
    TemporaryDirectoryScope tmp;
    for (const ProductKind& kind : ProductKinds()) {
        WrittenProduct product(kind);
        const int image = WatchedImage(kind);
        for (const DescriptorEdit& edit : DescriptorEdits()) {
            SCOPED_TRACE(kind.name + ", image file " + std::to_string(image) + " " + edit.field + " " + edit.value);
            product.Patch(Role::Image, image, edit.offset, TextField(edit.value, edit.width));
            const Session session = RunSession(kind, product.files().volume, kLines, &tmp);
            product.Restore(Role::Image, image);

            EXPECT_TRUE(session.openReports.empty());
            std::vector<std::string> reports = edit.reports;
            // A PRISM Level 1B2 raster is as wide as its one file's records hold.
            if (kind.IsPrism() && kind.recipe.level == 2 && edit.value == "50")
                reports.push_back("CeosAlosjDataset::FileRead: Scene header pixels per line exceed what the image "
                                  "records hold; rows are cut to the records");
            EXPECT_EQ(session.readReports, reports);
            if (!edit.rowsFollowTheLayout) continue;
            ImageHealth health = ImageHealth::Intact(kind);
            health.declared[image] = edit.declared;
            if (edit.linesUncut) health.cuts[image] = kUncut;
            ExpectRows(kind, health, session, kLines, false);
            const std::vector<int> cutBySmallest = FilesCutBySmallestWidths(kind);
            const bool sampled = std::find(cutBySmallest.begin(), cutBySmallest.end(), image) != cutBySmallest.end();
            std::vector<std::string> later(sampled ? edit.widthsBeyondTheLine : 0, kWidthBeyondLine);
            for (int band = 0; band < kind.Bands(); ++band)
                for (int row = 0; row < kLines; ++row) {
                    const ExpectedRow expected = ExpectRow(kind, health, band, row);
                    later.insert(later.end(), expected.reports.begin(), expected.reports.end());
                }
            const std::vector<std::string> exports = ExpectExportReports(kind, health);
            later.insert(later.end(), exports.begin(), exports.end());
            std::sort(later.begin(), later.end());
            EXPECT_EQ(ReportsAfterRead(session), later);
        }
    }
}

TEST(CorruptedImageFields, DummyWidthsOutsideTheLineAreReportedAndCutToIt) {
    TemporaryDirectoryScope tmp;
    struct Widths {
        const char* name;
        int left;
        int right;
        DummyCut smallest;  // over the lines, each width taken inside its line
        // Beyond the line in the five sample lines of a file (0, 3, 7, 11, 15):
        // all but line 0, when one side is.
        int sampledBeyond;
    };
    const Widths cases[] = {
        {"left beyond the line", 1000, 4, {6, 4}, 4},       {"left negative", -1000, 4, {0, 4}, 4},
        {"left the most negative", INT_MIN, 4, {0, 4}, 4},  {"right the largest", 6, INT_MAX, {6, 4}, 4},
        {"right negative", 6, -7, {6, 0}, 4},               {"both inside, together wider", 40, 40, {6, 4}, 0},
        {"left the whole line", 64, 0, {6, 0}, 0},
    };
    for (const ProductKind& base : ProductKinds()) {
        for (const Widths& widths : cases) {
            ProductKind kind = base;
            const int left = widths.left;
            const int right = widths.right;
            // The widths hold from the second line on; line 0 keeps the
            // writer's, so that the smallest widths come from the samples.
            kind.recipe.image.leftDummyWidth = [left](int, int line) { return line == 0 ? 6 : left; };
            kind.recipe.image.rightDummyWidth = [right](int, int line) { return line == 0 ? 4 : right; };
            SCOPED_TRACE(kind.name + ", dummy widths " + widths.name);
            WrittenProduct product(kind);
            const Session session = RunSession(kind, product.files().volume, kLines, &tmp);

            ImageHealth health = ImageHealth::Intact(kind);
            for (int image = 0; image < kind.ImageCount(); ++image) health.cuts[image] = widths.smallest;
            EXPECT_TRUE(session.openReports.empty());
            EXPECT_TRUE(session.readReports.empty());
            ExpectRows(kind, health, session, kLines, false);
            const size_t sampledFiles = FilesCutBySmallestWidths(kind).size();
            std::vector<std::string> later(sampledFiles * static_cast<size_t>(widths.sampledBeyond), kWidthBeyondLine);
            for (int band = 0; band < kind.Bands(); ++band)
                for (int row = 0; row < kLines; ++row) {
                    const ExpectedRow expected = ExpectRow(kind, health, band, row);
                    later.insert(later.end(), expected.reports.begin(), expected.reports.end());
                }
            std::sort(later.begin(), later.end());
            EXPECT_EQ(ReportsAfterRead(session), later);
        }
    }
}

