// The library's reports, seen from GDAL.
//
// While a LibraryReportScope lives on a thread, every report the library
// makes on that thread is collected in it instead of being printed; the
// driver then turns the collected reports into CPLError calls, so that
// GDAL's error handlers, quiet mode and CPLGetLastErrorMsg apply.
//
// The library has one process-wide report handler.  The first scope (on any
// thread) installs the driver's handler and the last one to end puts the
// previous handler back; reports made on a thread without a scope go to that
// previous handler unchanged, so that a host which installed its own handler
// keeps receiving the reports of its own calls.  (A handler the host installs
// while a driver call is running is replaced when that call ends.)
#pragma once

#include <string>
#include <vector>

#include "cpl_error.h"

namespace alosjgdal {

/// One report: "<operation>: <message>" of each entry of the chain, joined
/// with "; caused by ", outermost first.
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

    /// Receives a report from the library's handler (public for the handler).
    void Add(CollectedReport report) { reports_.push_back(std::move(report)); }

private:
    LibraryReportScope* outer_;
    std::vector<CollectedReport> reports_;
};

}  // namespace alosjgdal
