// Volume directory file: the entry point of a product.
//
// A sequence of 360-byte records: the volume descriptor at offset 0, file
// pointer record i at 360 × (i + 1), and the text record after the last file
// pointer record.  Records are found by these offsets only.  Each file
// pointer record names one file of the product by its 16-character file ID:
// index 6 the observation mode letter, 7 the level digit, 8 the file class
// letter (I, L, S, T), "PSM" or "AV2" for the sensor.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ceos/CeosAlosjBaseClass.h"
#include "ceos/CeosRecord.h"

struct VolumeDirFileVolumneDescriptor : CeosRecordHeader {
    char asciiFlag[3] = {};
    char documentId[13] = {};  // "CEOS-PSM-CCT" or "CEOS-AV2-CCT"
    char documentRevision[3] = {};
    char formatRevision[3] = {};
    char softwareRelease[13] = {};
    char logicalVolumeId[17] = {};
    char volumeSetId[17] = {};
    int32_t physicalVolumeNumber = 0;
    int32_t firstFileNumber = 0;
    int32_t logicalVolumeNumber = 0;
    char creationDate[9] = {};
    char creationTime[9] = {};
    char generationCountry[13] = {};
    char generationAgency[9] = {};
    char generationFacility[13] = {};
    int32_t numberOfFilePointerRecords = 0;
    int32_t numberOfRecords = 0;

    void Read(Tfio_File fileHandle);
};

struct VolumeDirFileFilePointer : CeosRecordHeader {
    char asciiFlag[3] = {};
    int32_t referencedFileNumber = 0;
    char referencedFileId[17] = {};
    char fileClass[29] = {};
    char fileClassCode[5] = {};
    char fileDataType[29] = {};
    char fileDataTypeCode[5] = {};
    int32_t numberOfFileRecords = 0;
    int32_t firstRecordLength = 0;
    int32_t maxRecordLength = 0;
    char recordLengthType[13] = {};
    char recordLengthTypeCode[5] = {};
    int32_t firstVolumeNumber = 0;
    int32_t lastVolumeNumber = 0;
    int32_t firstRecordOnVolume = 0;

    void Read(Tfio_File fileHandle, int64_t offset);
};

struct VolumeDirFileText : CeosRecordHeader {
    char asciiFlag[3] = {};
    char productType[41] = {};
    char productCreation[61] = {};
    char physicalVolumeId[41] = {};
    char sceneIdPrefix[5] = {};

    void Read(Tfio_File fileHandle, int64_t offset);
};

class CeosAlosjVolumeDirFile : public CeosAlosjBaseClass {
public:
    static constexpr long kRecordLength = 360;
    /// The first record subtype code of a file pointer record (byte 0xDB,
    /// held as its octal digits).
    static constexpr int32_t kFilePointerSubtype = 333;
    /// The largest count the 4-digit field can announce.
    static constexpr long kMaxFilePointerRecords = 9999;

    explicit CeosAlosjVolumeDirFile(const char* volumeDirPath);

    /// 0 for a PRISM volume directory, 1 for AVNIR-2, -1 otherwise.
    long FileIdentify() override;
    /// Reads the volume descriptor, the file pointer records and the text record.
    long Read();

    long FileCount() const { return fileCount; }
    /// File pointer record i, 0 <= i < FileCount().
    const VolumeDirFileFilePointer& FilePointer(long i) const { return *filePointers[i]; }
    const VolumeDirFileVolumneDescriptor& VolumeDescriptor() const { return *volumeDescriptor; }
    const VolumeDirFileText& TextRecord() const { return *textRecord; }

private:
    long fileCount = 0;
    std::unique_ptr<VolumeDirFileVolumneDescriptor> volumeDescriptor;
    std::vector<std::unique_ptr<VolumeDirFileFilePointer>> filePointers;
    std::unique_ptr<VolumeDirFileText> textRecord;
};

/// The sensor a volume directory file's name announces: 0 (PRISM) when its
/// file name contains "VOL-ALPSM", 1 (AVNIR-2) when it contains "VOL-ALAV2",
/// in any case; -1 otherwise.  Only the last component of the path counts:
/// a directory's name never makes a file a volume directory file.
long VolumeDirectorySensorOfName(const char* path);

/// The format control document identifier of a volume directory file: bytes
/// 17-28 of its volume descriptor, the file's first record.
constexpr int kVolumeDocumentIdOffset = 16;
constexpr int kVolumeDocumentIdLength = 12;
/// Whether documentId (kVolumeDocumentIdLength characters, not terminated)
/// is that of sensor's volume directory files: "CEOS-PSM-CCT" for PRISM (0),
/// "CEOS-AV2-CCT" for AVNIR-2 (1), in any case.
bool VolumeDocumentIdIsSensors(const char* documentId, long sensor);
