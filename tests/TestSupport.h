// Helpers shared by the tests: capturing the library's reports, and
// temporary product directories.
#pragma once

#include <string>
#include <vector>

#include "host/HostReport.h"
#include "tools/writer/ProductWriter.h"

namespace testing_support {

struct CapturedEntry {
    std::string operation;
    std::string message;
    int severity = 0;
};

/// One printed report: its chain of entries, outermost first.
using CapturedReport = std::vector<CapturedEntry>;

/// Captures every report made on this thread while it lives (and keeps
/// stderr quiet).
class ReportCapture {
public:
    ReportCapture();
    ~ReportCapture();
    ReportCapture(const ReportCapture&) = delete;
    ReportCapture& operator=(const ReportCapture&) = delete;

    const std::vector<CapturedReport>& reports() const { return reports_; }
    /// "operation: message" of each report's outermost entry, in order.
    std::vector<std::string> Summary() const;
    /// True when some report's outermost entry has this operation and message.
    bool Has(const std::string& operation, const std::string& message) const;
    void Clear() { reports_.clear(); }

private:
    static void Handler(const CeosAlosjReport* report, void* self);
    std::vector<CapturedReport> reports_;
    CeosAlosjReportScope scope_;
};

/// A fresh directory under the system's temporary directory, removed with
/// everything in it when the object goes.  Its path uses '/' on every
/// platform, so expected paths can be spelt the same way everywhere.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

/// True when only the current user may access the file: mode 0600 on POSIX,
/// a protected DACL with one entry that allows the current user on Windows.
bool IsOwnerOnly(const std::string& path);

/// Sets (or, with a null value, removes) an environment variable.
void SetEnv(const std::string& name, const char* value);

/// Reads a whole file.
std::vector<unsigned char> ReadFileBytes(const std::string& path);
/// Replaces a whole file.
void WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes);
/// Overwrites bytes of a file in place at a 0-based offset.
void PatchFile(const std::string& path, long offset, const std::string& bytes);
/// Cuts a file to size bytes.
void TruncateFile(const std::string& path, long size);

}  // namespace testing_support
