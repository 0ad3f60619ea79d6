// Ancillary 13 of the supplemental file: a block of keyword = value lines.
//
// The block is copied into a temporary file ("alos_" in the temporary
// directory, created exclusively and readable by its owner only) and read
// back line by line, at most 127 characters a line.  Of the first 100 lines
// the one keyed "Set_ID" gives the set; the two lines after it are skipped;
// the nine lines after those give the matrix in column order (an11, an21,
// an31, an12, ...), one line per element.  Values are the second token of a
// line less its first character (the opening quote of "1").  Tokens are
// separated by runs of blanks, line ends and equals signs.
#include <cstring>
#include <memory>
#include <new>

#include "files/CeosAlosjSupplementalFile.h"
#include "host/tmsc.h"
#include "host/tstr.h"

namespace {

// Ancillary 13 reports under the name of its neighbour, as it always has.
const char* const kOperation = "AlosjSupplementalFileAncillary12::Read";
const char* const kSeparators = " \n\r=";
const char* const kSetKey = "Set_ID";
// Matrix keys are compared over their first 8 characters, ignoring case.
const size_t kMatrixKeyCompared = 8;

int32_t ClampToInt32(long value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

// The temporary copy of the block.  Whatever way the parse ends, a handle
// still open is closed and the file deleted; failures of that clean-up are
// not reported (the failure that ended the parse was).
class TemporaryCopy {
public:
    ~TemporaryCopy() {
        Terr_ErrorReport report = nullptr;
        if (handle) tfio_Close(handle, &report);
        terr_DeleteErrorReportEx(&report);
        if (name) tfio_FileUnlink(name, &report);
        terr_DeleteErrorReportEx(&report);
        tmsc_HeapFree(name);
    }
    /// The file was deleted on purpose: nothing is left to clean up.
    void Forget() {
        tmsc_HeapFree(name);
        name = nullptr;
    }

    char* name = nullptr;
    Tfio_File handle = nullptr;
};

class LineReader {
public:
    explicit LineReader(Tfio_File handle) : handle_(handle) {}

    /// Reads the next line; false after a printed report.
    bool Next() {
        Terr_ErrorReport report = nullptr;
        tfio_Fgets(line_, sizeof line_, handle_, &report);
        if (!report) return true;
        terr_ReportAndDelete(kOperation, __LINE__, &report, "tfio_Fgets failed");
        return false;
    }
    /// The line's first token (null when it has none); then Value gives the second.
    const char* Key() { return ttxt_Text_strtok_r(line_, kSeparators, &state_); }
    const char* Value() { return ttxt_Text_strtok_r(nullptr, kSeparators, &state_); }

private:
    Tfio_File handle_;
    char line_[AlosjSupplementalFileAncillary13::kLineLength + 1];
    char* state_ = nullptr;
};

// The value written after a token's first character.  A one-character token
// leaves nothing to convert (0).
long IntegerAfterFirst(const char* token) {
    return tstr_StringToL(token, 1, static_cast<long>(ttxt_Text_strlen(token)) - 1);
}
double RealAfterFirst(const char* token) {
    return tstr_StringToD(token, 1, static_cast<long>(ttxt_Text_strlen(token)) - 1);
}

// Parses the open copy into setId and matrix; false after a printed report.
bool ParseBlock(Tfio_File handle, int32_t& setId, double (&matrix)[3][3]) {
    LineReader reader(handle);
    bool found = false;
    for (int n = 0; n < AlosjSupplementalFileAncillary13::kMaxSearchLines && !found; ++n) {
        if (!reader.Next()) return false;
        const char* key = reader.Key();
        if (!key || ttxt_Text_strcmp(key, kSetKey) != 0) continue;
        const char* value = reader.Value();
        if (!value) continue;  // a set key without a value is no set line
        setId = ClampToInt32(IntegerAfterFirst(value));
        found = true;
    }
    if (!found) return true;

    for (int skipped = 0; skipped < 2; ++skipped)
        if (!reader.Next()) return false;
    for (int c = 1; c <= 3; ++c) {
        for (int r = 1; r <= 3; ++r) {
            if (!reader.Next()) return false;
            char expected[40];
            Terr_ErrorReport report = nullptr;
            tstr_Sprintf(expected, sizeof expected, "ID%d_an%d%d", &report, setId, r, c);
            terr_DeleteErrorReportEx(&report);
            const char* key = reader.Key();
            if (!key || !tstr_Eqnic(key, expected, kMatrixKeyCompared)) continue;
            // A line whose key matches but that has no value leaves its element.
            if (const char* value = reader.Value()) matrix[r - 1][c - 1] = RealAfterFirst(value);
        }
    }
    return true;
}

}  // namespace

void AlosjSupplementalFileAncillary13::Read(Tfio_File fileHandle) {
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[kSize]);
    if (!block) {
        terr_ReportAndDelete(kOperation, __LINE__, nullptr, "Error allocating memory");
        return;
    }
    if (!CeosReadRecord(fileHandle, kOffset, block.get(), kSize, kOperation)) return;

    TemporaryCopy copy;
    Terr_ErrorReport report = nullptr;
    copy.handle = tfio_CreateTempInTmpdir("alos_", &copy.name, &report);
    if (report) {
        copy.handle = nullptr;
        terr_ReportAndDelete(kOperation, __LINE__, &report, "tfio_OPen failed.");
        return;
    }
    tfio_FileWriteDirect(copy.handle, 0, block.get(), kSize, 1, &report);
    if (report) {
        terr_ReportAndDelete(kOperation, __LINE__, &report, "tfio_WriteDirect failed");
        return;
    }
    block.reset();
    Tfio_File written = copy.handle;
    copy.handle = nullptr;  // a close that fails leaves no handle to close again
    tfio_Close(written, &report);
    if (report) {
        terr_ReportAndDelete(kOperation, __LINE__, &report, "tfio_Close failed.");
        return;
    }
    copy.handle = tfio_Open(copy.name, "r", &report);
    if (report) {
        copy.handle = nullptr;
        terr_ReportAndDelete(kOperation, __LINE__, &report, "tfio_Open failed.");
        return;
    }

    setId = -1;
    if (!ParseBlock(copy.handle, setId, matrix)) return;

    Tfio_File opened = copy.handle;
    copy.handle = nullptr;
    tfio_Close(opened, &report);
    if (report) {
        terr_ReportAndDelete(kOperation, __LINE__, &report, "tfio_Close failed.");
        return;
    }
    tfio_FileUnlink(copy.name, &report);
    if (report) {
        terr_ReportAndDelete(kOperation, __LINE__, &report, "tfio_FileUnlink failed.");
        return;  // the clean-up tries once more, silently
    }
    copy.Forget();
}
