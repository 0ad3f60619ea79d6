// Error reports (terr_): chains of entries, each naming an operation and
// wrapping the report of the call that failed beneath it.
#pragma once

#include "host/HostReport.h"

struct TerrReport;
typedef TerrReport* Terr_ErrorReport;

/// A new report naming functionName that takes ownership of wrapped (may be null).
Terr_ErrorReport terr_CreateErrorReport(const char* functionName, long line, int severity,
                                        Terr_ErrorReport wrapped, const char* message, int flags);

/// Hands the chain to the installed report handler (stderr by default).
void terr_PrintErrorReport(Terr_ErrorReport report, int flags, int options);

/// Frees the chain and sets the handle to null; a null handle is fine.
void terr_DeleteErrorReportEx(Terr_ErrorReport* report);

/// Wraps *wrapped (taking it) in a new report, prints the chain and deletes it.
void terr_ReportAndDelete(const char* functionName, long line, Terr_ErrorReport* wrapped,
                          const char* message);

/// Prints a warning report (severity CEOSALOSJ_SEVERITY_WARNING): the
/// library met something wrong, put it right and goes on.
void terr_Warn(const char* functionName, long line, const char* message);

/// The same without printing, for failures that only a result tells the caller about.
void terr_DiscardReport(const char* functionName, long line, Terr_ErrorReport* wrapped,
                        const char* message);

/// Entry accessors, mainly for tests and the public handler.
const char* terr_GetOperation(Terr_ErrorReport report);
const char* terr_GetMessage(Terr_ErrorReport report);
