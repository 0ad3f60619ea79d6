// The leader file reader fed an arbitrary file.
//
// Input: the file's bytes.  The reader expects the file ID that the bytes
// themselves record, so identification passes unless the fuzzer breaks it,
// and the sensor and level the ID names choose the ancillary 2 layout.  All
// five records are read and touched.
#include <cstdint>
#include <optional>

#include "files/CeosAlosjLeaderFile.h"
#include "fuzz/FuzzSupport.h"

using fuzzsupport::Check;
using fuzzsupport::CheckTexts;

namespace {

void TouchRecords(const CeosAlosjLeaderFile& leader) {
    const AlosjLeaderFileFileDescriptor& d = leader.FileDescriptor();
    CheckTexts(d.asciiFlag, d.documentId, d.documentRevision, d.formatRevision, d.softwareRelease,
               d.recordedFileId, d.sequenceFlag, d.codeFlag, d.lengthFlag);
    for (const LeaderFieldLocator& locator : d.locators) CheckTexts(locator.part4);

    const AlosjLeaderFileSceneHeader& s = leader.SceneHeader();
    CheckTexts(s.productId, s.sceneId, s.sceneCenterTime, s.rspId, s.sceneId1B2, s.orientationAngle, s.incidenceAngle,
               s.missionId, s.sensorId, s.orbitDirection, s.text373, s.text389, s.sceneDate, s.text409,
               s.text443, s.text453, s.processingCode, s.text479, s.text491, s.text1525, s.resamplingMethod,
               s.mapProjectionFlags, s.text1573, s.text1717);

    const AlosjLeaderFileAncillary1& a1 = leader.Ancillary1();
    CheckTexts(a1.ellipsoidName, a1.text813);

    const long sensor = leader.FileSensor();
    const AlosjPrismLeaderFileAncillary2* prism = leader.PrismAncillary2();
    const AlosjAvnir2LeaderFileAncillary2* avnir2 = leader.Avnir2Ancillary2();
    Check((prism != nullptr) == (sensor == 0) && (avnir2 != nullptr) == (sensor == 1),
          "ancillary record 2 has the layout of the file ID's sensor");
    Check((leader.Ancillary2() != nullptr) == (prism || avnir2),
          "ancillary record 2 exists exactly in a known layout");
    if (prism) CheckTexts(prism->sensorOperationMode, prism->text57, prism->compressionMode);
    if (avnir2) CheckTexts(avnir2->sensorOperationMode, avnir2->sensorGains);

    const AlosjLeaderFileAncillary3& a3 = leader.Ancillary3();
    CheckTexts(a3.orbitalElementsDesignator, a3.referenceCoordinateSystem);
    const int stored = a3.StoredDataPoints();
    Check(stored >= 0 && stored <= AlosjLeaderFileAncillary3::kMaxDataPoints,
          "the stored state vectors fit their arrays");
    Check(stored == a3.numberOfDataPoints || a3.numberOfDataPoints < 0 ||
              a3.numberOfDataPoints > AlosjLeaderFileAncillary3::kMaxDataPoints,
          "a count that fits is taken as recorded");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::Setup();
    const std::string fileId = fuzzsupport::RecordedFileId(data, size, "ALPSM_N1LED     ");
    CeosAlosjLeaderFile leader(fuzzsupport::VolumePath().c_str(), fileId.c_str());
    const std::string name = fuzzsupport::ScratchName(leader.FileName());
    std::optional<fuzzsupport::ScratchFile> file;
    if (!name.empty()) file.emplace(name, data, size);

    const long identified = leader.SetFd();
    Check(identified == 0 || identified == -1, "SetFd gives 0 or -1");
    Check((identified == 0) == leader.IsOpen(),
          "SetFd leaves the file open exactly when it succeeds");
    // Reading a file that failed to open reports every record and must hold.
    Check(leader.Read() == 0, "Read always gives 0");
    TouchRecords(leader);
    if (leader.IsOpen()) {
        // A second read over the same records.
        Check(leader.Read() == 0, "a second Read gives 0");
        TouchRecords(leader);
        Check(leader.Close() == 0, "an open file closes");
    }
    fuzzsupport::CheckNoTemporaryFilesLeft();
    return 0;
}
