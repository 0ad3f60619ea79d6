// The two base classes of every file reader.
//
// CeosAlosjBaseClass owns a file's path and open handle, opens the file and
// checks that it is the expected one (SetFd), and closes it (Close).
// CeosAlosjNonVolFileClass adds what the leader, image, trailer and
// supplemental readers share: the file ID under which the volume directory
// lists the file, the sensor and level that ID encodes, the three-letter
// file-name prefix, the derivation of the file's path from the volume
// directory file's path, and identification by the ID recorded in the file.
#pragma once

#include <string>

#include "host/tfio.h"

class CeosAlosjBaseClass {
public:
    explicit CeosAlosjBaseClass(const char* path);
    virtual ~CeosAlosjBaseClass() = default;
    CeosAlosjBaseClass(const CeosAlosjBaseClass&) = delete;
    CeosAlosjBaseClass& operator=(const CeosAlosjBaseClass&) = delete;

    /// Opens fileName for reading and identifies it.  Returns FileIdentify's
    /// result (0, or 1 for an AVNIR-2 volume directory) or -1, in which case
    /// the file is left closed.  Its own failures are not printed.
    long SetFd();
    /// Closes the file: 0, or -1 (not printed) when it was not open.
    long Close();
    virtual long FileIdentify() = 0;

    const char* FileName() const { return fileName.c_str(); }
    Tfio_File FileHandle() const { return fileHandle; }
    bool IsOpen() const { return fileHandle != nullptr; }

protected:
    Tfio_File fileHandle = nullptr;
    std::string fileName;
};

class CeosAlosjNonVolFileClass : public CeosAlosjBaseClass {
public:
    /// volumeDirPath: the product's volume directory file; referencedFileId:
    /// the 16-character ID of this file's pointer record, blanks included.
    CeosAlosjNonVolFileClass(const char* volumeDirPath, const char* referencedFileId);

    /// 0 when bytes 49-64 of the open file's descriptor equal fileId ignoring
    /// case; otherwise -1 with a printed report.
    long FileIdentify() override;

    /// The volume directory path with the first three letters of its file
    /// name replaced by filePrefix (VOL-ALPSM-X gives LED-ALPSM-X).
    void SetFilename(const char* volumeDirPath);
    void SetFilePrefix();

    const char* FileId() const { return fileId.c_str(); }
    long FileSensor() const { return fileSensor; }
    long FileLevel() const { return fileLevel; }
    const char* FilePrefix() const { return filePrefix; }

protected:
    std::string fileId;
    long fileSensor = -1;  // 0 PRISM ("PSM" in the ID), 1 AVNIR-2 ("AV2"), -1 neither
    long fileLevel = -1;   // 0, 1, 2 from the ID's eighth character, -1 otherwise
    char filePrefix[4] = {};  // "IMG", "LED", "SUP", "TRL", or empty for another class letter
};
