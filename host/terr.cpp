#include "host/terr.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

struct TerrReport {
    std::string operation;
    std::string message;
    long line = 0;
    int severity = 0;
    TerrReport* wrapped = nullptr;
};

namespace {

std::mutex handlerMutex;
CeosAlosjReportHandler currentHandler = nullptr;
void* currentUserData = nullptr;

// The innermost report scope of this thread, or null.  A plain pointer, so
// that the thread's storage needs no destructor (also in a Windows DLL).
thread_local CeosAlosjReportScope* innermostScope = nullptr;

}  // namespace

CeosAlosjReportScope::CeosAlosjReportScope(CeosAlosjReportHandler handler, void* userData)
    : handler_(handler), userData_(userData), outer_(innermostScope) {
    innermostScope = this;
}

CeosAlosjReportScope::~CeosAlosjReportScope() {
    // Normally the innermost scope ends; one ended out of order is taken out
    // of the chain, so that the scopes around it stay as they were.
    if (innermostScope == this) {
        innermostScope = outer_;
        return;
    }
    for (CeosAlosjReportScope* scope = innermostScope; scope; scope = scope->outer_)
        if (scope->outer_ == this) {
            scope->outer_ = outer_;
            return;
        }
}

void CeosAlosjReportScope::Receive(const CeosAlosjReport* report) const {
    if (handler_)
        handler_(report, userData_);
    else
        CeosAlosjPrintReportToStderr(report, nullptr);
}

std::string CeosAlosjReportText(const CeosAlosjReport* report, bool sourceLines) {
    std::string text;
    for (const CeosAlosjReport* entry = report; entry; entry = entry->wrapped) {
        if (entry != report) text += "; caused by ";
        text += entry->operation ? entry->operation : "";
        text += ": ";
        text += entry->message ? entry->message : "";
        if (sourceLines) text += " (library source line " + std::to_string(entry->line) + ")";
    }
    return text;
}

extern "C" CeosAlosjReportHandler CeosAlosjSetReportHandler(CeosAlosjReportHandler handler,
                                                           void* userData,
                                                           void** previousUserData) {
    std::lock_guard<std::mutex> lock(handlerMutex);
    CeosAlosjReportHandler previous = currentHandler;
    if (previousUserData) *previousUserData = currentUserData;
    currentHandler = handler;
    currentUserData = userData;
    return previous;
}

extern "C" void CeosAlosjPrintReportToStderr(const CeosAlosjReport* report, void*) {
    if (!report) return;
    const char* lead = report->severity == CEOSALOSJ_SEVERITY_WARNING ? "warning" : "error";
    std::fprintf(stderr, "ceosalosj: %s: %s\n", lead, CeosAlosjReportText(report, true).c_str());
}

Terr_ErrorReport terr_CreateErrorReport(const char* functionName, long line, int severity,
                                        Terr_ErrorReport wrapped, const char* message, int) {
    auto* report = new TerrReport;
    report->operation = functionName ? functionName : "";
    report->message = message ? message : "";
    report->line = line;
    report->severity = severity;
    report->wrapped = wrapped;
    return report;
}

void terr_PrintErrorReport(Terr_ErrorReport report, int, int) {
    if (!report) return;
    // The public view of the chain lives on this stack frame only.
    std::vector<CeosAlosjReport> chain;
    for (TerrReport* entry = report; entry; entry = entry->wrapped)
        chain.push_back({entry->operation.c_str(), entry->line, entry->severity,
                         entry->message.c_str(), nullptr});
    for (size_t i = 0; i + 1 < chain.size(); ++i) chain[i].wrapped = &chain[i + 1];

    if (const CeosAlosjReportScope* scope = innermostScope) {
        scope->Receive(chain.data());
        return;
    }
    CeosAlosjReportHandler handler;
    void* userData;
    {
        std::lock_guard<std::mutex> lock(handlerMutex);
        handler = currentHandler;
        userData = currentUserData;
    }
    if (handler)
        handler(chain.data(), userData);
    else
        CeosAlosjPrintReportToStderr(chain.data(), nullptr);
}

void terr_DeleteErrorReportEx(Terr_ErrorReport* report) {
    if (!report) return;
    TerrReport* entry = *report;
    while (entry) {
        TerrReport* next = entry->wrapped;
        delete entry;
        entry = next;
    }
    *report = nullptr;
}

void terr_ReportAndDelete(const char* functionName, long line, Terr_ErrorReport* wrapped,
                          const char* message) {
    Terr_ErrorReport inner = wrapped ? *wrapped : nullptr;
    if (wrapped) *wrapped = nullptr;
    Terr_ErrorReport report =
        terr_CreateErrorReport(functionName, line, CEOSALOSJ_SEVERITY_FAILURE, inner, message, 0);
    terr_PrintErrorReport(report, 0, 0);
    terr_DeleteErrorReportEx(&report);
}

void terr_Warn(const char* functionName, long line, const char* message) {
    Terr_ErrorReport report =
        terr_CreateErrorReport(functionName, line, CEOSALOSJ_SEVERITY_WARNING, nullptr, message, 0);
    terr_PrintErrorReport(report, 0, 0);
    terr_DeleteErrorReportEx(&report);
}

void terr_DiscardReport(const char* functionName, long line, Terr_ErrorReport* wrapped,
                        const char* message) {
    Terr_ErrorReport inner = wrapped ? *wrapped : nullptr;
    if (wrapped) *wrapped = nullptr;
    Terr_ErrorReport report = terr_CreateErrorReport(functionName, line, 2, inner, message, 0);
    terr_DeleteErrorReportEx(&report);
}

const char* terr_GetOperation(Terr_ErrorReport report) {
    return report ? report->operation.c_str() : nullptr;
}
const char* terr_GetMessage(Terr_ErrorReport report) {
    return report ? report->message.c_str() : nullptr;
}
