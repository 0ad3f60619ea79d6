// The operating-system side of tfio_ on Windows.  Names are narrow strings in
// the process code page, as every narrow Windows call takes them.  Files are
// always binary: ReadFile and WriteFile never translate line ends.  Positioned
// I/O passes the 64-bit offset in an OVERLAPPED block on a synchronous handle,
// so no call moves or relies on a shared file position.
#define _CRT_RAND_S  // rand_s: random temporary names
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/platform.h"
#include "host/tstr.h"

namespace host_platform {

namespace {

// Largest single ReadFile or WriteFile: the byte count is a 32-bit DWORD.
constexpr int64_t kMaxTransfer = int64_t{1} << 30;
// Attempts at a fresh temporary name before giving up.
constexpr int kTempNameAttempts = 100;

std::string Message(DWORD code) {
    char* text = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length ? std::string(text, length) : "error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message;
}

bool Fail(std::string* error, DWORD code = GetLastError()) {
    if (error) *error = Message(code);
    return false;
}

HANDLE Native(NativeFile file) { return reinterpret_cast<HANDLE>(file); }

OVERLAPPED At(int64_t offset) {
    OVERLAPPED where = {};
    where.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset) & 0xFFFFFFFFu);
    where.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    return where;
}

// Sharing as POSIX descriptors share: others may read, write, rename and
// delete a file while it is open here.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A security descriptor whose DACL grants the current user alone full access.
class OwnerOnly {
public:
    OwnerOnly() {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        user_.resize(size);
        bool haveUser = size && GetTokenInformation(token, TokenUser, user_.data(), size, &size);
        CloseHandle(token);
        if (!haveUser) return;
        PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
        DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid);
        acl_.resize(aclSize);
        auto* acl = reinterpret_cast<ACL*>(acl_.data());
        if (!InitializeAcl(acl, aclSize, ACL_REVISION) ||
            !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid) ||
            !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorOwner(&descriptor_, sid, FALSE) ||
            !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE))
            return;
        // Protected: the DACL does not inherit the directory's entries.
        SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = &descriptor_;
        attributes_.bInheritHandle = FALSE;
        ready_ = true;
    }
    OwnerOnly(const OwnerOnly&) = delete;
    OwnerOnly& operator=(const OwnerOnly&) = delete;
    SECURITY_ATTRIBUTES* Attributes() { return ready_ ? &attributes_ : nullptr; }

private:
    std::string user_;  // TOKEN_USER block; the SID points into it
    std::string acl_;
    SECURITY_DESCRIPTOR descriptor_ = {};
    SECURITY_ATTRIBUTES attributes_ = {};
    bool ready_ = false;
};

std::string TempDirectory() {
    const char* dir = std::getenv("TMPDIR");
    if (dir && *dir) return dir;
    char buffer[MAX_PATH + 1];
    DWORD length = GetTempPathA(sizeof buffer, buffer);
    if (length == 0 || length > MAX_PATH) return ".\\";
    return std::string(buffer, length);
}

}  // namespace

bool OpenRead(const char* name, NativeFile* file, std::string* error) {
    DWORD attributes = GetFileAttributesA(name);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (error) *error = "is a directory";
        return false;
    }
    HANDLE handle = CreateFileA(name, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return Fail(error);
    *file = reinterpret_cast<NativeFile>(handle);
    return true;
}

bool OpenWriteTruncate(const char* name, NativeFile* file, std::string* error) {
    HANDLE handle = CreateFileA(name, GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return Fail(error);
    *file = reinterpret_cast<NativeFile>(handle);
    return true;
}

bool Close(NativeFile file, std::string* error) {
    if (!CloseHandle(Native(file))) return Fail(error);
    return true;
}

int64_t ReadAt(NativeFile file, int64_t offset, void* buffer, int64_t count, std::string* error) {
    auto* out = static_cast<char*>(buffer);
    int64_t done = 0;
    while (done < count) {
        OVERLAPPED where = At(offset + done);
        DWORD want = static_cast<DWORD>(count - done < kMaxTransfer ? count - done : kMaxTransfer);
        DWORD got = 0;
        if (!ReadFile(Native(file), out + done, want, &got, &where)) {
            DWORD code = GetLastError();
            if (code == ERROR_HANDLE_EOF) break;  // an offset at or past the end
            Fail(error, code);
            return -1;
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

int64_t ReadScatteredAt(NativeFile file, int64_t offset, const Tfio_Piece* pieces, size_t count, std::string* error) {
    // ReadFileScatter wants unbuffered, page-sized pieces: one read per piece.
    int64_t done = 0;
    for (size_t k = 0; k < count; ++k) {
        const int64_t got = ReadAt(file, offset + done, pieces[k].buffer, pieces[k].count, error);
        if (got < 0) return -1;
        done += got;
        if (got < pieces[k].count) break;
    }
    return done;
}

int64_t WriteAt(NativeFile file, int64_t offset, const void* buffer, int64_t count,
                std::string* error) {
    const auto* in = static_cast<const char*>(buffer);
    int64_t done = 0;
    while (done < count) {
        OVERLAPPED where = At(offset + done);
        DWORD want = static_cast<DWORD>(count - done < kMaxTransfer ? count - done : kMaxTransfer);
        DWORD put = 0;
        if (!WriteFile(Native(file), in + done, want, &put, &where)) {
            Fail(error);
            return -1;
        }
        if (put == 0) {
            if (error) *error = "nothing written";
            return -1;
        }
        done += put;
    }
    return done;
}

int64_t Size(NativeFile file, std::string* error) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(Native(file), &size)) {
        Fail(error);
        return -1;
    }
    return static_cast<int64_t>(size.QuadPart);
}

bool Exists(const char* name) { return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES; }

bool Unlink(const char* name, std::string* error) {
    if (!DeleteFileA(name)) return Fail(error);
    return true;
}

bool CreateTemp(const char* prefix, std::string* name, NativeFile* file, std::string* error) {
    const std::string directory = TempDirectory();
    OwnerOnly security;
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        unsigned int random[2];
        if (rand_s(&random[0]) != 0 || rand_s(&random[1]) != 0) {
            if (error) *error = "no random numbers for a temporary name";
            return false;
        }
        char suffix[17];
        std::snprintf(suffix, sizeof suffix, "%08X%08X", random[0], random[1]);
        std::string candidate = Join(directory, std::string(prefix) + suffix);
        // CREATE_NEW fails when the name exists: an existing file or a planted
        // link is never opened, and a collision just draws a new name.
        HANDLE handle = CreateFileA(candidate.c_str(), GENERIC_WRITE, kShareAll,
                                    security.Attributes(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            *name = candidate;
            *file = reinterpret_cast<NativeFile>(handle);
            return true;
        }
        DWORD code = GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) return Fail(error, code);
    }
    if (error) *error = "no free temporary name in " + directory;
    return false;
}

bool ListFiles(const char* directory, std::vector<std::string>* names) {
    std::string pattern = Join(directory, "*");
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        // An existing but empty directory lists nothing; a missing one fails.
        if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
        DWORD attributes = GetFileAttributesA(directory);
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;  // also "." and ".."
        names->push_back(entry.cFileName);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return true;
}

char Separator() { return '\\'; }

}  // namespace host_platform
