#include "host/TerrException.h"

TerrException::TerrException(const std::string& sourceName, const std::string& operationName)
    : TeskarLog::UnthrownException(sourceName, operationName) {}

TerrException::~TerrException() { terr_DeleteErrorReportEx(&slot_); }

Terr_ErrorReport* TerrException::GetErrorReport(int clear) {
    if (clear) terr_DeleteErrorReportEx(&slot_);
    return &slot_;
}

void TerrException::Log(int severity) { Print(severity, 0, "unknown exception"); }

void TerrException::Log(int severity, const std::string& text) { Print(severity, 0, text); }

void TerrException::Log(int severity, const TeskarLog::Exception& exception) {
    Print(severity, exception.get_LineNum(), exception.get_What());
}

void TerrException::Print(int severity, long line, const std::string& text) {
    Terr_ErrorReport report =
        terr_CreateErrorReport(OperationName().c_str(), line, severity, slot_, text.c_str(), 0);
    slot_ = nullptr;  // now owned by report
    terr_PrintErrorReport(report, 0, 0);
    terr_DeleteErrorReportEx(&report);
}
