#include "AlosjGdalReports.h"

#include "dataset/CeosAlosjDataset.h"

namespace alosjgdal {

LibraryReportScope::LibraryReportScope() : scope_(&LibraryReportScope::Collect, this) {}

LibraryReportScope::~LibraryReportScope() = default;

void LibraryReportScope::Collect(const CeosAlosjReport* report, void* self) {
    if (!report) return;
    static_cast<LibraryReportScope*>(self)->reports_.push_back(
        {CeosAlosjReportText(report), report->severity == CEOSALOSJ_SEVERITY_FAILURE});
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
