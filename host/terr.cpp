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

}  // namespace

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
    const char* lead =
        report && report->severity == CEOSALOSJ_SEVERITY_WARNING ? "ceosalosj: warning: " : "ceosalosj: error: ";
    for (const CeosAlosjReport* entry = report; entry; entry = entry->wrapped) {
        std::fprintf(stderr, "%s%s: %s (line %ld)\n", lead, entry->operation, entry->message,
                     entry->line);
        lead = "ceosalosj:   caused by ";
    }
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
