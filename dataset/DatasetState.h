// What an opened product holds: its readers, its classification and the
// row-assembly parameters.  Shared by the sources of CeosAlosjDataset.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dataset/CeosAlosjDataset.h"
#include "files/CeosAlosjImageFile.h"
#include "files/CeosAlosjLeaderFile.h"
#include "files/CeosAlosjSupplementalFile.h"
#include "files/CeosAlosjTrailerFile.h"
#include "files/CeosAlosjVolumeDirFile.h"
#include "host/tstr.h"

struct CEOSALOSJ_NO_EXPORT CeosAlosjDataset::State {
    State() = default;
    ~State();
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    std::unique_ptr<CeosAlosjVolumeDirFile> volumeDirFile;
    std::unique_ptr<CeosAlosjLeaderFile> leaderFile;
    std::vector<std::unique_ptr<CeosAlosjImageFile>> imageFiles;
    std::unique_ptr<CeosAlosjTrailerFile> trailerFile;
    std::unique_ptr<CeosAlosjSupplementalFile> supplementalFile;  // never at Level 1B2
    std::unique_ptr<CeosAlosjSummaryFile> summaryFile;            // when summary.txt was found

    long sensorType = -1;    // 0 PRISM, 1 AVNIR-2
    long productLevel = -1;  // 0, 1, 2
    long imgFileCount = 0;
    long bandCount = 0;
    Tmsc_Boolean isGeocoded = TMSC_FALSE;
    std::string mapProjection;  // "UTM", "PS", "Raw", or empty for none
    Tstr_StringList* layerNames = nullptr;  // host-heap list handed out by GetLayerNames
    std::string volumeDirFilename;
    std::string pathName;
    long prismOpenMode = 0;  // 0 not PRISM, 1 all CCD files side by side, 2 one CCD file
    long selectedCcdNumber = 0;
    long leftDummyWidth = 0;
    long rightDummyWidth = 0;
    long staggerPixelShift = 0;
    long prismPixelPerFile = 0;
    long minCcdNumber = 0;
    CeosAlosjSummaryFile::MapDirection mapDirection = CeosAlosjSummaryFile::MAP_DIRECTION_OTHER;

    bool IsPrism() const { return sensorType == 0; }
    bool IsAvnir2() const { return sensorType == 1; }
    /// Image reader k when it exists.
    CeosAlosjImageFile* Image(long k) const {
        return k >= 0 && k < static_cast<long>(imageFiles.size()) ? imageFiles[k].get() : nullptr;
    }
};
