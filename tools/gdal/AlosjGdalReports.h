// The library's reports, seen from GDAL.
//
// While a LibraryReportScope lives on a thread, every report the library
// makes on that thread is collected in it instead of being printed; the
// driver then turns the collected reports into CPLError calls, so that
// GDAL's error handlers, quiet mode and CPLGetLastErrorMsg apply.
//
// A scope is the library's own per-thread report scope: the process-wide
// handler a host installed is never touched, so it keeps receiving the
// reports of the host's own calls, also one installed while a driver call
// runs.
#pragma once

#include <string>
#include <vector>

#include "cpl_error.h"
#include "host/HostReport.h"

namespace alosjgdal {

/// One report: its chain as one line (CeosAlosjReportText).
struct CollectedReport {
    std::string text;
    bool failure;  ///< severity 2: the library failed at something
};

class LibraryReportScope {
public:
    LibraryReportScope();
    ~LibraryReportScope();
    LibraryReportScope(const LibraryReportScope&) = delete;
    LibraryReportScope& operator=(const LibraryReportScope&) = delete;

    const std::vector<CollectedReport>& Reports() const { return reports_; }
    bool HasFailure() const;

    /// Issues every collected report as a CPLError: failures with
    /// failureClass, the rest as warnings; each text is prefixed with
    /// context.  Clears the collection.
    void Emit(CPLErr failureClass, CPLErrorNum number, const std::string& context);

private:
    static void Collect(const CeosAlosjReport* report, void* self);
    std::vector<CollectedReport> reports_;
    CeosAlosjReportScope scope_;
};

}  // namespace alosjgdal
