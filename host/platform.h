// What tfio_ needs of the operating system.  One source per platform
// implements it; nothing above host/ sees it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/tfio.h"
#include "host/tstr.h"

namespace host_platform {

using NativeFile = intptr_t;  // a descriptor or a HANDLE

bool OpenRead(const char* name, NativeFile* file, std::string* error);
bool OpenWriteTruncate(const char* name, NativeFile* file, std::string* error);
bool Close(NativeFile file, std::string* error);

/// Bytes read (fewer only at the end of the file), or -1 with error set.
int64_t ReadAt(NativeFile file, int64_t offset, void* buffer, int64_t count, std::string* error);
/// Reads the consecutive bytes at offset into the pieces in turn.  Bytes read
/// (fewer only at the end of the file), or -1 with error set.
int64_t ReadScatteredAt(NativeFile file, int64_t offset, const Tfio_Piece* pieces, size_t count, std::string* error);
/// Bytes written, or -1 with error set.
int64_t WriteAt(NativeFile file, int64_t offset, const void* buffer, int64_t count,
                std::string* error);
int64_t Size(NativeFile file, std::string* error);

bool Exists(const char* name);
bool Unlink(const char* name, std::string* error);

/// Creates a new file exclusively, owner-only, in the temporary directory.
bool CreateTemp(const char* prefix, std::string* name, NativeFile* file, std::string* error);

/// Names (not paths) of the regular files in directory.
bool ListFiles(const char* directory, std::vector<std::string>* names);

/// The separator written between a directory and a file name.
char Separator();

/// directory and name joined by the separator the directory already uses (the
/// last one in it), or by this platform's own when it has none, so that a
/// path given with either separator keeps one style.
inline std::string Join(const std::string& directory, const std::string& name) {
    if (directory.empty() || tfnp_IsSeparator(directory.back())) return directory + name;
    char separator = Separator();
    for (char c : directory)
        if (tfnp_IsSeparator(c)) separator = c;
    return directory + separator + name;
}

}  // namespace host_platform
