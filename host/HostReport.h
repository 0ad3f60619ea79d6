// Error reports as a host sees them.
//
// Every failure inside the library is described by a chain of report
// entries: the library operation that failed, then the operation it called
// that failed in turn, and so on.  By default a printed report goes to
// stderr, one line per entry.  A host that wants the reports elsewhere (a log
// window, GDAL's CPLError, a test's list) installs its own handler.
#pragma once

#include "ceosalosj_export.h"

extern "C" {

/// One entry of a report chain.
struct CeosAlosjReport {
    const char* operation;           ///< qualified name, e.g. "ImageFileImageLine::ReadLine"
    long line;                       ///< source line that made the entry
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

/// Installs handler (null restores printing to stderr) and returns the previous one.
CEOSALOSJ_API CeosAlosjReportHandler CeosAlosjSetReportHandler(CeosAlosjReportHandler handler,
                                                              void* userData,
                                                              void** previousUserData);

/// Writes one report chain to stderr, one line per entry; the default handler.
CEOSALOSJ_API void CeosAlosjPrintReportToStderr(const CeosAlosjReport* report, void* userData);
}
