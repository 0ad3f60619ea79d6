// Exception types of the host's logging library.
//
// Host calls may throw a TeskarLog::Exception; an UnthrownException is the
// logger side of the same library: it is never thrown, but logs a message or
// a caught exception under the operation it was made for.
#pragma once

#include <string>
#include <utility>

#include "ceosalosj_export.h"

namespace TeskarLog {

/// A message with the source line that made it.
class CEOSALOSJ_API Message {
public:
    Message(std::string what, long lineNum) : what_(std::move(what)), lineNum_(lineNum) {}
    virtual ~Message() = default;

    const std::string& get_What() const { return what_; }
    long get_LineNum() const { return lineNum_; }

private:
    std::string what_;
    long lineNum_;
};

/// What host calls throw.
class CEOSALOSJ_API Exception : public Message {
public:
    using Message::Message;
};

/// Logs under a source name and an operation name; never thrown.
class CEOSALOSJ_API UnthrownException {
public:
    UnthrownException(std::string sourceName, std::string operationName)
        : sourceName_(std::move(sourceName)), operationName_(std::move(operationName)) {}
    virtual ~UnthrownException() = default;
    UnthrownException(const UnthrownException&) = delete;
    UnthrownException& operator=(const UnthrownException&) = delete;

    /// Logs with a severity code: a fixed text, a message, or a caught exception.
    virtual void Log(int severity) = 0;
    virtual void Log(int severity, const std::string& text) = 0;
    virtual void Log(int severity, const Exception& exception) = 0;

    const std::string& SourceName() const { return sourceName_; }
    const std::string& OperationName() const { return operationName_; }

private:
    std::string sourceName_;
    std::string operationName_;
};

}  // namespace TeskarLog
