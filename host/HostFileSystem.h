// File access as a host sees it.
//
// The library reads a product's files by name.  Names are opened through the
// operating system (POSIX or Windows) unless a host has mounted a file system
// of its own on a prefix of the name: then that file system opens, sizes,
// finds and lists them.  That is how a product inside a zip or tar file, on
// a web server or in an object store opens like a local one (the GDAL driver
// and alosj mount GDAL's virtual file systems on "/vsi"), and how a host
// that keeps its bytes in memory hands them over without writing files.
//
// A volume directory's sibling files are looked up in the directory part of
// its name (everything up to the last '/' or '\\'), through the file system
// the volume directory's name chose, so a mounted file system sees the same
// directory names it was given.
//
// The library writes nothing but its own temporary files (the supplemental
// file's keyword block is copied to one and read back line by line).  They
// go to the directory TMPDIR names, else the system's.  When TMPDIR names a
// directory under a mounted prefix, the file system mounted there creates,
// writes, reads and removes them (CreateTemporary, Remove); a file system
// that does not implement those refuses, and the library reports that it
// cannot make its temporary file.  Otherwise temporary files stay with the
// operating system.  Every other write to a mounted name is refused.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ceosalosj_export.h"

/// One file opened for reading.  The library may read one file from several
/// threads at once; an implementation that cannot must serialise its reads.
class CEOSALOSJ_API CeosAlosjFile {
public:
    virtual ~CeosAlosjFile();
    /// Reads count bytes at offset into buffer.  Returns the bytes read
    /// (fewer only at the end of the file), or -1 with *error set.
    virtual int64_t ReadAt(int64_t offset, void* buffer, int64_t count, std::string* error) = 0;
    /// The size in bytes, or -1 with *error set.
    virtual int64_t Size(std::string* error) = 0;
};

/// A temporary file the library made, open for writing and for reading.
class CEOSALOSJ_API CeosAlosjWritableFile : public CeosAlosjFile {
public:
    /// Writes count bytes at offset; the file grows as needed and a gap
    /// before offset reads as zeros.  Returns count, or -1 with *error set.
    virtual int64_t WriteAt(int64_t offset, const void* buffer, int64_t count, std::string* error) = 0;
};

/// A file system a host mounts on a prefix of names.
class CEOSALOSJ_API CeosAlosjFileSystem {
public:
    virtual ~CeosAlosjFileSystem();
    /// Opens name for reading; null with *error set when it cannot.
    virtual std::unique_ptr<CeosAlosjFile> OpenRead(const std::string& name, std::string* error) = 0;
    /// Whether name is a file that can be opened.
    virtual bool IsFile(const std::string& name) = 0;
    /// Adds the names (not paths) of the files directly in directory to
    /// *names; false when the directory cannot be listed.
    virtual bool ListFiles(const std::string& directory, std::vector<std::string>* names) = 0;

    /// Creates a new, empty file in directory (as TMPDIR gives it, without a
    /// trailing separator) whose name begins with prefix and names no file
    /// yet, stores its full name in *name and returns it open.  OpenRead
    /// must then open that name, and Remove remove it.  By default a file
    /// system makes none: null with *error set.
    virtual std::unique_ptr<CeosAlosjWritableFile> CreateTemporary(const std::string& directory,
                                                                   const std::string& prefix,
                                                                   std::string* name, std::string* error);
    /// Removes name (files already open keep their bytes); false with *error
    /// set when it cannot.  By default a file system removes nothing.
    virtual bool Remove(const std::string& name, std::string* error);
};

/// Routes every name that begins with prefix to fileSystem; the longest
/// mounted prefix that matches wins, and names no prefix matches go to the
/// operating system.  A null fileSystem unmounts prefix.  Files already open
/// keep the file system they were opened with.
CEOSALOSJ_API void CeosAlosjMountFileSystem(const std::string& prefix,
                                            std::shared_ptr<CeosAlosjFileSystem> fileSystem);
