// Error reports as a host sees them.
//
// Every failure inside the library is described by a chain of report
// entries: the library operation that failed, then the operation it called
// that failed in turn, and so on.  A report goes to the innermost report
// scope of the thread that made it (CeosAlosjReportScope below), else to the
// process-wide handler a host installed, else to stderr.
#pragma once

#include <string>

#include "ceosalosj_export.h"

extern "C" {

/// One entry of a report chain.
struct CeosAlosjReport {
    const char* operation;           ///< qualified name, e.g. "ImageFileImageLine::ReadLine"
    long line;                       ///< line of the library's source code that made the entry
    int severity;                    ///< CEOSALOSJ_SEVERITY_FAILURE or _WARNING
    const char* message;             ///< fixed English text, e.g. "tfio_ReadDirect failure"
    const CeosAlosjReport* wrapped;  ///< the report of the failed call beneath, or null
};

/// A failure: something could not be read or done.
#define CEOSALOSJ_SEVERITY_FAILURE 2
/// A warning: something in the product was wrong, and the library put it
/// right and went on (for example a count cut to what a file holds).
#define CEOSALOSJ_SEVERITY_WARNING 1

/// Receives every report the library prints; the chain is valid only during the call.
typedef void (*CeosAlosjReportHandler)(const CeosAlosjReport* report, void* userData);

/// Installs the process-wide handler (null restores printing to stderr) and
/// returns the previous one.  It receives the reports made on threads
/// without a report scope.
CEOSALOSJ_API CeosAlosjReportHandler CeosAlosjSetReportHandler(CeosAlosjReportHandler handler,
                                                              void* userData,
                                                              void** previousUserData);

/// Writes one report chain to stderr as one line; the default handler.
CEOSALOSJ_API void CeosAlosjPrintReportToStderr(const CeosAlosjReport* report, void* userData);
}

/// A report chain as one line of text, outermost entry first:
/// "operation: message; caused by operation: message".  With
/// sourceLines, each entry names the line of the library's source code that
/// made it ("(library source line 442)"), which is no line of an image.
CEOSALOSJ_API std::string CeosAlosjReportText(const CeosAlosjReport* report, bool sourceLines = false);

/// While it lives, the reports the library makes on the thread that created
/// it go to its handler instead of the process-wide one, as GDAL's error
/// handler pusher does for CPLError.  Scopes nest: the innermost one of a
/// thread takes that thread's reports, and ending it hands them back to the
/// one outside it.  A scope is ended on the thread that made it (one ended
/// before a scope inside it is taken out of the chain).  Other threads and the
/// process-wide handler are never touched, so a handler a host installs
/// meanwhile stays installed.
class CEOSALOSJ_API CeosAlosjReportScope {
public:
    CeosAlosjReportScope(CeosAlosjReportHandler handler, void* userData);
    ~CeosAlosjReportScope();
    CeosAlosjReportScope(const CeosAlosjReportScope&) = delete;
    CeosAlosjReportScope& operator=(const CeosAlosjReportScope&) = delete;

    /// Passes a report to this scope's handler (used by the library).
    void Receive(const CeosAlosjReport* report) const;

private:
    CeosAlosjReportHandler handler_;
    void* userData_;
    CeosAlosjReportScope* outer_;
};
