// The toolkit's exception object: a logger for one operation that also holds
// one error-report slot, so that a host call's report can be left in it and
// becomes the cause of whatever the object logs next.
#pragma once

#include <string>

#include "host/TeskarLog.h"
#include "host/terr.h"

class TerrException : public TeskarLog::UnthrownException {
public:
    TerrException(const std::string& sourceName, const std::string& operationName);
    /// Deletes a report still left in the slot, without printing it.
    ~TerrException() override;

    /// The address of the report slot, to pass as a host call's report
    /// out-parameter.  With clear non-zero a report left in the slot is
    /// deleted first, so the slot starts empty.
    virtual Terr_ErrorReport* GetErrorReport(int clear);

    /// Each prints one report under the operation name with this severity,
    /// wrapping (and taking) the report in the slot.
    void Log(int severity) override;
    void Log(int severity, const std::string& text) override;
    void Log(int severity, const TeskarLog::Exception& exception) override;

private:
    void Print(int severity, long line, const std::string& text);
    Terr_ErrorReport slot_ = nullptr;
};
