#include "host/tkmd_KeywordValueFile.h"

#include <memory>

#include "host/TeskarLog.h"
#include "host/tfio.h"

namespace tkmd {

namespace {

const char* const kBlanks = " \t\r\n\f\v";

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) return std::string();
    const size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

std::string Unquote(const std::string& value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return value.substr(1, value.size() - 2);
    return value;
}

}  // namespace

KeywordValueFile::~KeywordValueFile() { Close(); }

KeywordValueFile::KeywordValueFile(const KeywordValueFile& other)
    : path_(other.path_), values_(other.values_) {}

KeywordValueFile& KeywordValueFile::operator=(const KeywordValueFile& other) {
    if (this != &other) {
        path_ = other.path_;
        values_ = other.values_;
    }
    return *this;
}

void KeywordValueFile::Open(const std::string& path) {
    Close();
    Terr_ErrorReport report = nullptr;
    Tfio_File handle = tfio_Open(path.c_str(), "r", &report);
    if (report) {
        std::string message = std::string("cannot open keyword file: ") + terr_GetMessage(report);
        terr_DeleteErrorReportEx(&report);
        throw TeskarLog::Exception(message, __LINE__);
    }
    handle_ = handle;
    path_ = path;
}

bool KeywordValueFile::Read() {
    if (!handle_) {
        terr_ReportAndDelete("tkmd::KeywordValueFile::Read", __LINE__, nullptr, "no file open");
        return false;
    }
    Terr_ErrorReport report = nullptr;
    const int64_t size = tfio_FileSize(handle_, &report);
    if (report) {
        Close();
        terr_ReportAndDelete("tkmd::KeywordValueFile::Read", __LINE__, &report,
                             "tfio_FileSize failed");
        return false;
    }
    // A keyword file is a few kilobytes; a huge one is not read into memory.
    if (size > kMaxFileSize) {
        Close();
        terr_ReportAndDelete("tkmd::KeywordValueFile::Read", __LINE__, nullptr,
                             "keyword file too large");
        return false;
    }
    std::string text(static_cast<size_t>(size), '\0');
    tfio_ReadDirect(handle_, 0, &text[0], static_cast<long>(size), &report);
    Close();
    if (report) {
        terr_ReportAndDelete("tkmd::KeywordValueFile::Read", __LINE__, &report,
                             "tfio_ReadDirect failed");
        return false;
    }
    values_.clear();
    Parse(text, &values_);
    return true;
}

bool KeywordValueFile::Close() {
    if (!handle_) return false;
    Terr_ErrorReport report = nullptr;
    tfio_Close(handle_, &report);
    handle_ = nullptr;  // a failed close leaves no usable handle either
    const bool closed = report == nullptr;
    terr_DeleteErrorReportEx(&report);
    return closed;
}

bool KeywordValueFile::HaveKey(const std::string& key) const { return values_.count(key) != 0; }

std::string KeywordValueFile::GetStringValue(const std::string& key) const {
    auto it = values_.find(key);
    return it == values_.end() ? std::string() : it->second;
}

void KeywordValueFile::Parse(const std::string& text, std::map<std::string, std::string>* values) {
    size_t start = 0;
    // A UTF-8 byte order mark is not part of the first key.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;

        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == '#') continue;
        const size_t equals = trimmed.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = Trim(trimmed.substr(0, equals));
        if (key.empty()) continue;
        (*values)[key] = Unquote(Trim(trimmed.substr(equals + 1)));
    }
}

}  // namespace tkmd
