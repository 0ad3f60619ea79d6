#include <dirent.h>
#include <limits.h>
#include <sys/uio.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "host/platform.h"

namespace host_platform {

namespace {

bool Fail(std::string* error) {
    if (error) *error = std::strerror(errno);
    return false;
}

// The call's result, the call made again while a signal interrupts it.
template <typename Call>
ssize_t Uninterrupted(Call call) {
    ssize_t n;
    do {
        n = call();
    } while (n < 0 && errno == EINTR);
    return n;
}

}  // namespace

bool OpenRead(const char* name, NativeFile* file, std::string* error) {
    int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail(error);
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        if (error) *error = "is a directory";
        return false;
    }
    *file = fd;
    return true;
}

bool OpenWriteTruncate(const char* name, NativeFile* file, std::string* error) {
    int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return Fail(error);
    *file = fd;
    return true;
}

bool Close(NativeFile file, std::string* error) {
    if (::close(static_cast<int>(file)) != 0) return Fail(error);
    return true;
}

int64_t ReadAt(NativeFile file, int64_t offset, void* buffer, int64_t count, std::string* error) {
    auto* out = static_cast<char*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = Uninterrupted([&] {
            return ::pread(static_cast<int>(file), out + done, static_cast<size_t>(count - done),
                           static_cast<off_t>(offset + done));
        });
        if (n < 0) {
            Fail(error);
            return -1;
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

int64_t ReadScatteredAt(NativeFile file, int64_t offset, const Tfio_Piece* pieces, size_t count, std::string* error) {
    // One preadv takes at most IOV_MAX pieces; a short one goes on from the
    // byte where it stopped, within its piece.
    struct iovec vectors[IOV_MAX];
    int64_t done = 0;
    size_t next = 0;       // the first piece not wholly read
    int64_t intoNext = 0;  // bytes of it already read
    while (true) {
        while (next < count && pieces[next].count == intoNext) ++next, intoNext = 0;
        if (next == count) break;
        int used = 0;
        for (size_t k = next; k < count && used < IOV_MAX; ++k, ++used) {
            const int64_t skip = k == next ? intoNext : 0;
            vectors[used].iov_base = static_cast<char*>(pieces[k].buffer) + skip;
            vectors[used].iov_len = static_cast<size_t>(pieces[k].count - skip);
        }
        const ssize_t n = Uninterrupted(
            [&] { return ::preadv(static_cast<int>(file), vectors, used, static_cast<off_t>(offset + done)); });
        if (n < 0) {
            Fail(error);
            return -1;
        }
        if (n == 0) break;
        done += n;
        for (int64_t left = n; left > 0;) {
            const int64_t rest = pieces[next].count - intoNext;
            if (left < rest) {
                intoNext += left;
                break;
            }
            left -= rest;
            ++next;
            intoNext = 0;
        }
    }
    return done;
}

int64_t WriteAt(NativeFile file, int64_t offset, const void* buffer, int64_t count,
                std::string* error) {
    const auto* in = static_cast<const char*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = Uninterrupted([&] {
            return ::pwrite(static_cast<int>(file), in + done, static_cast<size_t>(count - done),
                            static_cast<off_t>(offset + done));
        });
        if (n < 0) {
            Fail(error);
            return -1;
        }
        done += n;
    }
    return done;
}

int64_t Size(NativeFile file, std::string* error) {
    struct stat info;
    if (::fstat(static_cast<int>(file), &info) != 0) {
        Fail(error);
        return -1;
    }
    return static_cast<int64_t>(info.st_size);
}

bool Exists(const char* name) {
    struct stat info;
    return ::stat(name, &info) == 0;
}

bool Unlink(const char* name, std::string* error) {
    if (::unlink(name) != 0) return Fail(error);
    return true;
}

bool CreateTemp(const char* prefix, std::string* name, NativeFile* file, std::string* error) {
    const char* dir = std::getenv("TMPDIR");
    if (!dir || !*dir) dir = "/tmp";
    std::string pattern = dir;
    if (pattern.back() != '/') pattern += '/';
    pattern += prefix;
    pattern += "XXXXXX";
    // mkstemp creates the file with O_EXCL and mode 0600: no race, no planted link followed.
    int fd = ::mkstemp(&pattern[0]);
    if (fd < 0) return Fail(error);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    *name = pattern;
    *file = fd;
    return true;
}

bool ListFiles(const char* directory, std::vector<std::string>* names) {
    DIR* dir = ::opendir(directory);
    if (!dir) return false;
    while (struct dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        std::string path = std::string(directory) + "/" + name;
        struct stat info;
        if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) names->push_back(name);
    }
    ::closedir(dir);
    return true;
}

char Separator() { return '/'; }

}  // namespace host_platform
