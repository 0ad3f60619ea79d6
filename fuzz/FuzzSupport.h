// What the fuzz targets share: a scratch directory for the files they
// write, a quiet report handler, and checks whose failure is a finding.
//
// The scratch directory lives in memory: Setup mounts an in-memory file
// system on kMemoryPrefix, and the library opens, sizes, lists and reads the
// files there as it would real ones, without a system call.  Each target
// writes the fuzzer's bytes into files of the scratch directory, runs a
// reader over them and removes them again before it returns, so that nothing
// piles up over millions of iterations.  The library's own temporary files
// go to a separate in-memory directory (TMPDIR names it, so the library makes
// them through the mounted file system) that must be empty again after every
// iteration.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace fuzzsupport {

/// Where the in-memory file system is mounted.
constexpr const char kMemoryPrefix[] = "/alosj-fuzz-memory/";

/// Mounts the in-memory file system, points TMPDIR into it and sets up the
/// report handler on first use.  Every target calls it first.  Reports are
/// counted, not printed, unless CEOSALOSJ_FUZZ_VERBOSE is set.
void Setup();

/// The in-memory directory where targets write their input files (no
/// trailing '/').
const std::string& ScratchDirectory();

/// A file's bytes; in-memory files that hold the same bytes share them.
using SharedBytes = std::shared_ptr<const std::string>;

/// Places a file at path (under kMemoryPrefix) holding bytes, shared rather
/// than copied.  A file already there is replaced; handles open on it keep
/// what it held.
void ShareFile(const std::string& path, SharedBytes bytes);

/// Removes every in-memory file whose path begins with directory + "/".
void RemoveFiles(const std::string& directory);

/// A real directory of the process's own (made on first use beside the
/// system's temporary files, removed at exit), for writers that write only
/// real files: their files are read back with ReadRealFile and shared into
/// memory.
const std::string& RealDirectory();

/// The whole content of a real file (a finding when it cannot be read).
SharedBytes ReadRealFile(const std::string& path);

/// Aborts, naming the check, when condition is false: a finding.
void Check(bool condition, const char* what);

/// Aborts when the library left a file in its temporary directory.
void CheckNoTemporaryFilesLeft();

/// Aborts unless text holds a NUL within its capacity (a decoded text field
/// must end inside its member), and returns its length.
size_t CheckedLength(const char* text, size_t capacity);
template <size_t N>
size_t CheckedLength(const char (&text)[N]) {
    return CheckedLength(text, N);
}

/// CheckedLength of every text member given.
template <typename... Texts>
void CheckTexts(const Texts&... texts) {
    (CheckedLength(texts), ...);
}

/// Number of reports printed since Setup; each report's chain was walked.
unsigned long ReportCount();

/// A file in the scratch directory holding given bytes, removed when the
/// object goes.  Holes cost nothing: a file of a few placed blocks keeps
/// only those, however long it is.
class ScratchFile {
public:
    ScratchFile(const std::string& name, const void* data, size_t size);
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    /// Places more bytes at offset (a hole is left before them).
    void WriteAt(uint64_t offset, const void* data, size_t size);
    /// Makes the file exactly size bytes long.
    void Resize(uint64_t size);
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

/// Writes a whole in-memory file at path, under kMemoryPrefix (a finding
/// elsewhere).
void WriteFile(const std::string& path, const void* data, size_t size);

/// The name of path when it names a file directly inside the scratch
/// directory; empty otherwise (a reader composed a path elsewhere).
std::string ScratchName(const std::string& path);

/// The volume directory path from which the non-volume readers compose
/// their paths (the file itself need not exist).
std::string VolumePath();

/// The 16 bytes at offset 48 of a file (the file ID its descriptor records),
/// or fallback when the file is shorter.  Used as the ID the reader expects,
/// so that identification passes unless the fuzzer breaks it.
std::string RecordedFileId(const uint8_t* data, size_t size, const char* fallback);

/// Reads the bytes of the input as a small stream of choices.
class InputBytes {
public:
    InputBytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    /// The next byte, or 0 when none is left.
    uint8_t Byte();
    /// The next two bytes big-endian, or what is left of them.
    uint16_t Word();
    const uint8_t* rest() const { return data_ + used_; }
    size_t restSize() const { return size_ - used_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t used_ = 0;
};

}  // namespace fuzzsupport
