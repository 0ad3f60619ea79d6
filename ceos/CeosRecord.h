// The two layouts every product file shares: the 12-byte header that opens
// each record, and the first 180 bytes of the file descriptor record that
// opens each leader, image, trailer and supplemental file.
#pragma once

#include <cstdint>

#include "ceos/CeosField.h"
#include "host/tfio.h"

/// Bytes 1-12 of every record.  The type codes hold the octal digits of their
/// byte read as a decimal number (0xC0 is held as 300).
struct CeosRecordHeader {
    int32_t recordSequenceNumber = 0;
    int32_t firstRecordSubtype = 0;
    int32_t recordType = 0;
    int32_t secondRecordSubtype = 0;
    int32_t thirdRecordSubtype = 0;
    int32_t recordLength = 0;

    void Decode(const CeosFields& f);
};

/// Bytes 1-180 of a non-volume file's descriptor record.
struct CeosAlosjFileDescriptor : CeosRecordHeader {
    static constexpr int kSize = 180;

    char asciiFlag[3] = {};
    char documentId[13] = {};
    char documentRevision[3] = {};
    char formatRevision[3] = {};
    char softwareRelease[13] = {};
    int32_t fileNumber = 0;
    char recordedFileId[17] = {};  // what FileIdentify compares with the volume directory's ID
    char sequenceFlag[5] = {};
    int32_t sequenceLocation = 0;
    int32_t sequenceFieldLength = 0;
    char codeFlag[5] = {};
    int32_t codeLocation = 0;
    int32_t codeFieldLength = 0;
    char lengthFlag[5] = {};
    int32_t lengthLocation = 0;
    int32_t lengthFieldLength = 0;
    char reservedFlag1[2] = {};
    char reservedFlag2[2] = {};
    char reservedFlag3[2] = {};
    char reservedFlag4[2] = {};

    /// Reads bytes 0-179 of the open file and decodes them.  A failed read is
    /// reported and leaves the structure as it was.
    void Read(Tfio_File fileHandle);
    void Decode(const CeosFields& f);
};

/// Reads the file-specific part of a descriptor record, bytes 181 to End,
/// into the same places of record, so that its fields decode with the
/// positions of the record's own table.  Bytes 1-180 of record stay as they
/// are.  False after a reported failure.
template <size_t End>
bool CeosReadDescriptorPart(Tfio_File fileHandle, unsigned char (&record)[End], const char* operation);

/// Reads size bytes at offset into buffer; on failure reports
/// "<operation>: tfio_ReadDirect failure" wrapping the host's report and
/// returns false.  The one way record readers read their records.
bool CeosReadRecord(Tfio_File fileHandle, int64_t offset, unsigned char* buffer, long size,
                    const char* operation);

template <size_t End>
bool CeosReadDescriptorPart(Tfio_File fileHandle, unsigned char (&record)[End], const char* operation) {
    static_assert(End > CeosAlosjFileDescriptor::kSize, "the part follows the common 180 bytes");
    constexpr long start = CeosAlosjFileDescriptor::kSize;
    return CeosReadRecord(fileHandle, start, record + start, static_cast<long>(End) - start, operation);
}
