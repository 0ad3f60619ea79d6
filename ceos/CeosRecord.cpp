#include "ceos/CeosRecord.h"

void CeosRecordHeader::Decode(const CeosFields& f) {
    f(1, 4, FT_BIN_INT, recordSequenceNumber);
    f(5, 1, FT_OCTAL, firstRecordSubtype);
    f(6, 1, FT_OCTAL, recordType);
    f(7, 1, FT_OCTAL, secondRecordSubtype);
    f(8, 1, FT_OCTAL, thirdRecordSubtype);
    f(9, 4, FT_BIN_INT, recordLength);
}

void CeosAlosjFileDescriptor::Decode(const CeosFields& f) {
    CeosRecordHeader::Decode(f);
    f(13, 2, FT_ASCII, asciiFlag);
    f(17, 12, FT_ASCII, documentId);
    f(29, 2, FT_ASCII, documentRevision);
    f(31, 2, FT_ASCII, formatRevision);
    f(33, 12, FT_ASCII, softwareRelease);
    f(45, 4, FT_INT, fileNumber);
    f(49, 16, FT_ASCII, recordedFileId);
    f(65, 4, FT_ASCII, sequenceFlag);
    f(69, 8, FT_INT, sequenceLocation);
    f(77, 4, FT_INT, sequenceFieldLength);
    f(81, 4, FT_ASCII, codeFlag);
    f(85, 8, FT_INT, codeLocation);
    f(93, 4, FT_INT, codeFieldLength);
    f(97, 4, FT_ASCII, lengthFlag);
    f(101, 8, FT_INT, lengthLocation);
    f(109, 4, FT_INT, lengthFieldLength);
    f(113, 1, FT_ASCII, reservedFlag1);
    f(114, 1, FT_ASCII, reservedFlag2);
    f(115, 1, FT_ASCII, reservedFlag3);
    f(116, 1, FT_ASCII, reservedFlag4);
}

void CeosAlosjFileDescriptor::Read(Tfio_File fileHandle) {
    unsigned char buffer[kSize];
    if (CeosReadRecord(fileHandle, 0, buffer, kSize, "CeosAlosjFileDescriptor::Read"))
        Decode(CeosFields(buffer, kSize));
}

bool CeosReadRecord(Tfio_File fileHandle, int64_t offset, unsigned char* buffer, long size,
                    const char* operation) {
    Terr_ErrorReport report = nullptr;
    tfio_ReadDirect(fileHandle, offset, buffer, size, &report);
    if (!report) return true;
    terr_ReportAndDelete(operation, __LINE__, &report, "tfio_ReadDirect failure");
    return false;
}
