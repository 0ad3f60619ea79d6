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

    long sensorType = kUnknown;    // kPrism, kAvnir2
    long productLevel = kUnknown;  // kLevel1A, kLevel1B1, kLevel1B2
    long imgFileCount = 0;
    long bandCount = 0;
    Tmsc_Boolean isGeocoded = TMSC_FALSE;
    std::string mapProjection;  // "UTM", "PS", "Raw", or empty for none
    Tstr_StringList* layerNames = nullptr;  // host-heap list handed out by GetLayerNames
    std::string volumeDirFilename;
    std::string pathName;
    long prismOpenMode = kNotPrism;  // kNotPrism, kAllCcds, kOneCcd
    long selectedCcdNumber = 0;
    long leftDummyWidth = 0;
    long rightDummyWidth = 0;
    long staggerPixelShift = 0;
    long prismPixelPerFile = 0;
    long minCcdNumber = 0;
    CeosAlosjSummaryFile::MapDirection mapDirection = CeosAlosjSummaryFile::MAP_DIRECTION_OTHER;

    // The numbers the public queries give (GetSensorType, GetProductLevel).
    static constexpr long kUnknown = -1;
    static constexpr long kPrism = 0;
    static constexpr long kAvnir2 = 1;
    static constexpr long kLevel1A = 0;
    static constexpr long kLevel1B1 = 1;
    static constexpr long kLevel1B2 = 2;
    // How a PRISM product's CCD image files are opened.
    static constexpr long kNotPrism = 0;
    static constexpr long kAllCcds = 1;  // side by side
    static constexpr long kOneCcd = 2;   // the selected CCD file alone

    bool IsPrism() const { return sensorType == kPrism; }
    bool IsAvnir2() const { return sensorType == kAvnir2; }
    bool IsLevel1B2() const { return productLevel == kLevel1B2; }
    /// Level 1A or 1B1: sensor geometry, with a supplemental file.
    bool IsBelowLevel1B2() const { return productLevel == kLevel1A || productLevel == kLevel1B1; }
    bool OpensAllCcds() const { return prismOpenMode == kAllCcds; }
    /// Image reader k when it exists.
    CeosAlosjImageFile* Image(long k) const {
        return k >= 0 && k < static_cast<long>(imageFiles.size()) ? imageFiles[k].get() : nullptr;
    }
};
