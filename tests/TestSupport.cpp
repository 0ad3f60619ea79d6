#include "TestSupport.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#include <aclapi.h>
#else
#include <sys/stat.h>
#endif

namespace testing_support {

ReportCapture::ReportCapture() : scope_(&ReportCapture::Handler, this) {}

ReportCapture::~ReportCapture() = default;

void ReportCapture::Handler(const CeosAlosjReport* report, void* self) {
    CapturedReport chain;
    for (const CeosAlosjReport* entry = report; entry; entry = entry->wrapped)
        chain.push_back({entry->operation, entry->message, entry->severity});
    static_cast<ReportCapture*>(self)->reports_.push_back(chain);
}

std::vector<std::string> ReportCapture::Summary() const {
    std::vector<std::string> lines;
    for (const CapturedReport& report : reports_)
        lines.push_back(report.front().operation + ": " + report.front().message);
    return lines;
}

bool ReportCapture::Has(const std::string& operation, const std::string& message) const {
    for (const CapturedReport& report : reports_)
        if (report.front().operation == operation && report.front().message == message) return true;
    return false;
}

TempDir::TempDir() {
    namespace fs = std::filesystem;
    // Names drawn afresh in every process: a fixed sequence (std::rand
    // unseeded) would meet the directories an earlier run could not remove
    // and, once they piled up, find no free name at all.
    static std::mt19937_64 names(std::random_device{}() ^
                                 static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const fs::path candidate = base / ("ceosalosj-test-" + std::to_string(names()));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = candidate.generic_string();
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory in " + base.string());
}

TempDir::~TempDir() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
}

#ifdef _WIN32
bool IsOwnerOnly(const std::string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    HANDLE token = nullptr;
    DWORD size = 0;
    std::vector<char> user;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        user.resize(size);
        if (!size || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) user.clear();
        CloseHandle(token);
    }
    // Every entry must allow the current user or the operating system itself
    // (LocalSystem, which Wine lists on every file); no other account, group
    // or Everyone may appear, and the user must.
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID system = nullptr;
    AllocateAndInitializeSid(&ntAuthority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                             &system);
    bool userAllowed = false;
    bool othersAllowed = false;
    for (DWORD i = 0; dacl && !user.empty() && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) continue;
        auto* header = static_cast<ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        PSID sid = reinterpret_cast<PSID>(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart);
        if (EqualSid(sid, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid))
            userAllowed = true;
        else if (!system || !EqualSid(sid, system))
            othersAllowed = true;
    }
    if (system) FreeSid(system);
    LocalFree(descriptor);
    return userAllowed && !othersAllowed;
}
#else
bool IsOwnerOnly(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && (info.st_mode & 0777) == 0600;
}
#endif

void SetEnv(const std::string& name, const char* value) {
#ifdef _WIN32
    _putenv_s(name.c_str(), value ? value : "");
#else
    if (value)
        setenv(name.c_str(), value, 1);
    else
        unsetenv(name.c_str());
#endif
}

std::vector<unsigned char> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void PatchFile(const std::string& path, long offset, const std::string& bytes) {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(offset);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void TruncateFile(const std::string& path, long size) {
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
}

}  // namespace testing_support
