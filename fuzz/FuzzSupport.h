// What the fuzz targets share: a private scratch directory for the files
// they write, a quiet report handler, and checks whose failure is a finding.
//
// Each target writes the fuzzer's bytes into files of the scratch directory,
// runs a reader over them and removes them again before it returns, so that
// nothing piles up over millions of iterations.  The library's own temporary
// files go to a separate directory (TMPDIR points there) that must be empty
// again after every iteration.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace fuzzsupport {

/// Sets up the scratch directories and the report handler on first use;
/// both go away when the process exits.  Every target calls it first.
/// Reports are counted, not printed, unless CEOSALOSJ_FUZZ_VERBOSE is set.
void Setup();

/// The directory where targets write their input files (no trailing '/').
const std::string& ScratchDirectory();

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
/// object goes.
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

/// Writes a whole file (a finding when it cannot be written).
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
