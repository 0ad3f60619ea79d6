// File I/O (tfio_).  Every operation that can fail takes a last out-parameter
// that receives an error report (left null on success).  Reads and writes are
// positioned: no operation relies on a current file position, except the
// line-by-line tfio_Fgets.  Offsets are 64-bit.
//
// A handle stays valid until tfio_Close; every operation on a null or closed
// handle fails with a report.
#pragma once

#include <cstdint>

#include "host/terr.h"

struct TfioFile;
typedef TfioFile* Tfio_File;

/// Modes: "r" reads an existing file, "wb" creates or truncates one for writing.
Tfio_File tfio_Open(const char* name, const char* mode, Terr_ErrorReport* report);
void tfio_Close(Tfio_File handle, Terr_ErrorReport* report);

/// Reads exactly count bytes at offset into buffer.  A short read is a
/// failure with a report.  Returns count, or -1 on failure.
long tfio_ReadDirect(Tfio_File handle, int64_t offset, void* buffer, long count,
                     Terr_ErrorReport* report);

/// One piece of a scattered read: count bytes into buffer.
struct Tfio_Piece {
    void* buffer;
    long count;
};

/// Reads the consecutive bytes at offset into the pieces in turn, exactly as
/// many as they hold together (one system call for many pieces where the
/// system offers it).  A short read is a failure with a report, and a read
/// that would run past the end fails before it touches a piece.  Returns the
/// bytes read, or -1 on failure.
int64_t tfio_ReadScattered(Tfio_File handle, int64_t offset, const Tfio_Piece* pieces, long count,
                           Terr_ErrorReport* report);

/// Writes items × count bytes at offset.  Returns the bytes written, or -1.
long tfio_FileWriteDirect(Tfio_File handle, int64_t offset, const void* buffer, long count,
                          long items, Terr_ErrorReport* report);

/// Reads the next text line (at most size - 1 characters, the newline kept
/// when it fits) into buffer.  At the end of the file, or on a failure,
/// returns null with a report.
char* tfio_Fgets(char* buffer, int size, Tfio_File handle, Terr_ErrorReport* report);

/// Size of the open file in bytes, -1 with a report on failure.
int64_t tfio_FileSize(Tfio_File handle, Terr_ErrorReport* report);

/// Non-zero when name exists; otherwise 0 with a report.
int tfio_FileExists(const char* name, Terr_ErrorReport* report);

void tfio_FileUnlink(const char* name, Terr_ErrorReport* report);

/// Creates a new, empty file in the temporary directory (TMPDIR, else the
/// system's), exclusively and readable by its owner only, whose name begins
/// with prefix.  Returns the open handle ("wb") and stores the heap-allocated
/// name in *name.
Tfio_File tfio_CreateTempInTmpdir(const char* prefix, char** name, Terr_ErrorReport* report);

/// Full paths of the files of directory whose names match pattern ('*' any
/// run, '?' one character, case-insensitive), or null when the directory
/// cannot be listed.  The whole result is one host-heap block: free it with
/// tmsc_HeapFree.
struct Tfio_FileList {
    long count;
    char** names;
};
Tfio_FileList* tfio_FindFilesInPath(const char* directory, const char* pattern);
