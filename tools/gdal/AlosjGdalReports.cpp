#include "AlosjGdalReports.h"

#include <mutex>

#include "dataset/CeosAlosjDataset.h"

namespace alosjgdal {

namespace {

// The library's handler is process-wide; these say who installed what.
std::mutex installMutex;
int activeScopes = 0;
CeosAlosjReportHandler previousHandler = nullptr;
void* previousUserData = nullptr;

thread_local LibraryReportScope* currentScope = nullptr;

// The only severity the library gives its failures.
constexpr int kFailureSeverity = CEOSALOSJ_SEVERITY_FAILURE;

void DriverHandler(const CeosAlosjReport* report, void*) {
    if (!report) return;
    if (LibraryReportScope* scope = currentScope) {
        std::string text;
        for (const CeosAlosjReport* entry = report; entry; entry = entry->wrapped) {
            if (!text.empty()) text += "; caused by ";
            text += entry->operation ? entry->operation : "";
            text += ": ";
            text += entry->message ? entry->message : "";
        }
        scope->Add({text, report->severity == kFailureSeverity});
        return;
    }
    // A report of another thread's own call: it goes where it went before.
    CeosAlosjReportHandler handler;
    void* userData;
    {
        std::lock_guard<std::mutex> lock(installMutex);
        handler = previousHandler;
        userData = previousUserData;
    }
    if (handler)
        handler(report, userData);
    else
        CeosAlosjPrintReportToStderr(report, nullptr);
}

}  // namespace

LibraryReportScope::LibraryReportScope() : outer_(currentScope) {
    {
        std::lock_guard<std::mutex> lock(installMutex);
        if (activeScopes++ == 0)
            previousHandler = CeosAlosjSetReportHandler(&DriverHandler, nullptr, &previousUserData);
    }
    currentScope = this;
}

LibraryReportScope::~LibraryReportScope() {
    currentScope = outer_;
    std::lock_guard<std::mutex> lock(installMutex);
    if (--activeScopes == 0) {
        CeosAlosjSetReportHandler(previousHandler, previousUserData, nullptr);
        previousHandler = nullptr;
        previousUserData = nullptr;
    }
}

bool LibraryReportScope::HasFailure() const {
    for (const CollectedReport& report : reports_)
        if (report.failure) return true;
    return false;
}

void LibraryReportScope::Emit(CPLErr failureClass, CPLErrorNum number, const std::string& context) {
    for (const CollectedReport& report : reports_) {
        const CPLErr errClass = report.failure ? failureClass : CE_Warning;
        CPLError(errClass, number, "%s%s", context.c_str(), report.text.c_str());
    }
    reports_.clear();
}

}  // namespace alosjgdal
