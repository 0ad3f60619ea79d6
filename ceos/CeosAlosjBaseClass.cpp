#include "ceos/CeosAlosjBaseClass.h"

#include <cstring>

#include "host/tmsc.h"
#include "host/tstr.h"

CeosAlosjBaseClass::CeosAlosjBaseClass(const char*) {}

long CeosAlosjBaseClass::SetFd() {
    if (fileHandle) Close();  // a second SetFd must not leak the first handle
    Terr_ErrorReport report = nullptr;
    fileHandle = tfio_Open(fileName.c_str(), "r", &report);
    if (report) {
        fileHandle = nullptr;
        terr_DiscardReport("CeosAlosjBaseClass::SetFd", __LINE__, &report, "tfio_Open failed");
        return -1;
    }
    long result = FileIdentify();
    if (result == -1) {
        terr_DiscardReport("CeosAlosjBaseClass::SetFd", __LINE__, nullptr, "fileIdentify failed");
        tfio_Close(fileHandle, &report);
        terr_DeleteErrorReportEx(&report);
        fileHandle = nullptr;
    }
    return result;
}

long CeosAlosjBaseClass::Close() {
    Terr_ErrorReport report = nullptr;
    tfio_Close(fileHandle, &report);
    if (report) {
        terr_DiscardReport("CeosAlosjBaseClass::Close", __LINE__, &report, "tfio_Close failed");
        return -1;
    }
    fileHandle = nullptr;
    return 0;
}

CeosAlosjNonVolFileClass::CeosAlosjNonVolFileClass(const char* volumeDirPath,
                                                   const char* referencedFileId)
    : CeosAlosjBaseClass(volumeDirPath), fileId(referencedFileId ? referencedFileId : "") {
    if (tstr_SubStringic(fileId.c_str(), "PSM"))
        fileSensor = 0;
    else if (tstr_SubStringic(fileId.c_str(), "AV2"))
        fileSensor = 1;
    SetFilePrefix();
    if (fileId.size() > 7 && fileId[7] >= '0' && fileId[7] <= '2') fileLevel = fileId[7] - '0';
    if (std::strcmp(filePrefix, "IMG") != 0) SetFilename(volumeDirPath);
}

void CeosAlosjNonVolFileClass::SetFilePrefix() {
    const char* prefix = "";
    switch (fileId.size() > 8 ? fileId[8] : '\0') {
        case 'I': prefix = "IMG"; break;
        case 'L': prefix = "LED"; break;
        case 'S': prefix = "SUP"; break;
        case 'T': prefix = "TRL"; break;
        default: break;
    }
    Terr_ErrorReport report = nullptr;
    tstr_Sprintf(filePrefix, sizeof filePrefix, "%s", &report, prefix);
    if (report) terr_ReportAndDelete("CeosAlosjNonVolFileClass::SetFilePrefix", __LINE__, &report,
                                     "tstr_Sprintf failed");
}

void CeosAlosjNonVolFileClass::SetFilename(const char* volumeDirPath) {
    const std::string volumePath = volumeDirPath ? volumeDirPath : "";
    // A file ID of no known class names no file: the reader gets no path and
    // its SetFd fails.
    if (filePrefix[0] == '\0') {
        fileName.clear();
        return;
    }
    const size_t dirLength = tstr_GetPathPart(volumePath.c_str(), nullptr, 0);
    fileName = volumePath;
    for (size_t i = 0; i < 3 && dirLength + i < fileName.size(); ++i)
        fileName[dirLength + i] = filePrefix[i];

    Terr_ErrorReport report = nullptr;
    if (!tfio_FileExists(fileName.c_str(), &report)) {
        char* message = tstr_Sprintf(nullptr, 0, "%s file doesn't exist", nullptr, filePrefix);
        terr_ReportAndDelete("CeosAlosjNonVolFileClass::SetFilename", __LINE__, &report,
                             message ? message : "file doesn't exist");
        tmsc_HeapFree(message);
    }
}

long CeosAlosjNonVolFileClass::FileIdentify() {
    char recorded[17];
    Terr_ErrorReport report = nullptr;
    tfio_ReadDirect(fileHandle, 48, recorded, 16, &report);
    if (report) {
        terr_ReportAndDelete("CeosAlosjNonVolFileClass::FileIdentify", __LINE__, &report,
                             "tfio_ReadDirect failed");
        return -1;
    }
    recorded[16] = '\0';
    if (tstr_Eqic(recorded, fileId.c_str())) return 0;
    terr_ReportAndDelete("CeosAlosjNonVolFileClass::FileIdentify", __LINE__, nullptr,
                         "Not a ALOS ALOSJ file");
    return -1;
}
