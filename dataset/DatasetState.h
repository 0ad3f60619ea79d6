// What an opened product holds: its readers, its classification and the
// row-assembly parameters.  Shared by the sources of CeosAlosjDataset.
#pragma once

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "dataset/CeosAlosjDataset.h"
#include "dataset/DatasetSceneHeader.h"
#include "files/CeosAlosjImageFile.h"
#include "files/CeosAlosjLeaderFile.h"
#include "files/CeosAlosjSupplementalFile.h"
#include "files/CeosAlosjTrailerFile.h"
#include "files/CeosAlosjVolumeDirFile.h"
#include "host/tstr.h"

/// One image file's share of the raster and its polynomials.
struct CEOSALOSJ_NO_EXPORT GeolocationUnit {
    long file = -1;
    const double* latitude = nullptr;  // the four sets
    const double* longitude = nullptr;
    const double* pixel = nullptr;
    const double* line = nullptr;
    double columnOffset = 0;  // raster column = stored pixel + columnOffset
    double firstColumn = 0;   // raster columns the file delivers: [firstColumn, endColumn)
    double endColumn = 0;
    CeosAlosjImageFile* rowCut = nullptr;  // Level 1B2 cut row by row: the file of the widths
    long lastRow = 0;                      // rows beyond are cut like the last one
    bool usable = false;                   // finite polynomials that place it near the scene

    /// The left dummy width that cut raster row y (Level 1B2 cut row by row).
    double LeftCut(double y) const {
        if (!rowCut) return 0.0;
        // Clamped as a double first: a far or undefined position names no row.
        const double within = y >= 0 ? std::min(std::floor(y), static_cast<double>(lastRow)) : 0.0;
        const long row = static_cast<long>(within);
        return static_cast<double>(rowCut->GetLeftDummyWidth(row));
    }
};

/// One image file's part of a band's rows: the raster columns its lines
/// give, and the read that puts them there.
struct CEOSALOSJ_NO_EXPORT RowPart {
    long file = -1;  // image file index
    CeosAlosjImageFile* image = nullptr;
    long firstColumn = 0;  // the file's share of the raster: [firstColumn, firstColumn + columnCount)
    long columnCount = 0;
    // The read: the pixels of a line between the skips, de-staggered by
    // shift when deStagger, count bytes from firstColumn on (0 reads nothing).
    long leftSkip = 0;
    long rightSkip = 0;
    long shift = 0;
    bool deStagger = false;
    long count = 0;
};

/// How the rows of a band are made of image file lines: worked out once
/// (MakeLayout in DatasetRows.cpp) for rows, their staging and geolocation.
struct CEOSALOSJ_NO_EXPORT BandLayout {
    std::vector<RowPart> parts;  // left to right
    /// Level 1B2 not geocoded: the file whose line gives each row's cut (the
    /// one part's skips are then read line by line); null otherwise.
    CeosAlosjImageFile* widthsPerLine = nullptr;
    bool cutLineByLine = false;  // Level 1B2 not geocoded (with or without the widths file)
    /// The files whose records GetRows stages, and the lines beyond a block
    /// it stages too (those de-staggering reads).
    std::vector<CeosAlosjImageFile*> staged;
    long extraLines = 0;
    bool rightCutsPending = false;  // AVNIR-2 1A/1B1 until its rows are first read
    bool made = false;
};

/// The row layout of an opened product: its width and each band's layout,
/// made when first asked for and forgotten when the descriptors are read again.
struct CEOSALOSJ_NO_EXPORT RowLayout {
    bool widthMade = false;
    long width = 0;
    BandLayout prismCcds;            // PRISM 1A and 1B1: one layout for every band
    std::vector<BandLayout> bands;   // by image file index otherwise
};

/// One state vector of the orbit: seconds from the start of the scene's
/// date, Earth-fixed position (metres) and velocity (metres per second).
struct CEOSALOSJ_NO_EXPORT OrbitSample {
    double time = 0;
    double position[3] = {};
    double velocity[3] = {};
};

/// Where the line-of-sight model's orbit comes from: the supplemental
/// file's first or second state-vector block, or the leader's record.
constexpr int kOrbitFirstBlock = 0, kOrbitSecondBlock = 1, kOrbitLeader = 2;

/// The line-of-sight model's inputs and each band's checks
/// (DatasetSensorModel.cpp), made on first use.
struct CEOSALOSJ_NO_EXPORT SensorModelInputs {
    bool made = false;
    std::vector<OrbitSample> orbit;  // empty without a usable orbit
    int orbitSource = -1;            // kOrbitFirstBlock, kOrbitSecondBlock, kOrbitLeader; -1 none
    bool hasDate = false;
    int32_t year = 0, month = 0, day = 0;  // the scene's date
    double centreTime = NAN;               // the scene centre, seconds of that date
    bool warned = false;
    struct Band {
        bool checked = false;
        int status = 0;            // a CeosAlosjSensorStatus
        /// Levels 1A and 1B1: the line times of each image file whose
        /// lines make the band's rows, left to right, from its own time tags;
        /// line k of a file is imaged at firstLineTime + k·lineInterval.
        struct Timing {
            long endColumn = 0;  // the file gives raster columns up to here
            double firstLineTime = 0;
            double lineInterval = 0;
        };
        std::vector<Timing> timings;
    };
    std::vector<Band> bands;
};

/// The RPC models fitted so far (DatasetRpc.cpp): per band, over the
/// default heights and over the latest range a caller asked for.
struct CEOSALOSJ_NO_EXPORT RpcFits {
    std::vector<CeosAlosjRpcFit> fits;
    bool sensorWarned = false;  // the line-of-sight model's failure was reported
};

struct CEOSALOSJ_NO_EXPORT CeosAlosjDataset::State {
    State() = default;
    ~State();
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    std::unique_ptr<CeosAlosjVolumeDirFile> volumeDirFile;
    std::unique_ptr<CeosAlosjLeaderFile> leaderFile;
    SceneHeaderValues sceneHeader;  // decoded when the leader is read
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
    static constexpr long kPrism = CEOSALOSJ_SENSOR_PRISM;
    static constexpr long kAvnir2 = CEOSALOSJ_SENSOR_AVNIR2;
    static constexpr long kLevel1A = CEOSALOSJ_LEVEL_1A;
    static constexpr long kLevel1B1 = CEOSALOSJ_LEVEL_1B1;
    static constexpr long kLevel1B2 = CEOSALOSJ_LEVEL_1B2;
    // How a PRISM product's CCD image files are opened.
    static constexpr long kNotPrism = 0;
    static constexpr long kAllCcds = 1;  // side by side
    static constexpr long kOneCcd = 2;   // the selected CCD file alone

    /// Per band, the geolocation units and (pointing into them) those whose
    /// polynomials are usable, made on first use: geolocation runs per pixel
    /// when a scene is warped.
    std::vector<std::vector<GeolocationUnit>> geolocation;
    std::vector<std::vector<const GeolocationUnit*>> usableGeolocation;
    bool geolocationMade = false;

    SensorModelInputs sensorModel;
    RpcFits rpcFits;

    RowLayout rowLayout;
    /// The scene width (GetSceneWidth) and the layout of band's rows, made on
    /// first use.  Not forRows, the parts' reads may still lack their right
    /// cuts (an AVNIR-2 band's smallest right dummy width is read when its
    /// rows are first read, as only they need it): their files, shares and
    /// left cuts are there.
    long Width();
    const BandLayout& Layout(int band, bool forRows = true);

    bool IsPrism() const { return sensorType == kPrism; }
    bool IsAvnir2() const { return sensorType == kAvnir2; }
    bool IsLevel1B2() const { return productLevel == kLevel1B2; }
    /// Level 1A or 1B1: sensor geometry, with a supplemental file.
    bool IsBelowLevel1B2() const { return productLevel == kLevel1A || productLevel == kLevel1B1; }
    bool OpensAllCcds() const { return prismOpenMode == kAllCcds; }
    /// AVNIR-2 and PRISM Level 1B2 rows are as wide as the scene header
    /// says, within what the image records hold; stitched PRISM rows are
    /// made of the CCD files' columns.
    bool WidthFromSceneHeader() const { return IsAvnir2() || (IsPrism() && IsLevel1B2()); }
    /// The most pixels a line record of the image files holds; without a
    /// usable descriptor (which is reported) the widest line a record of
    /// the largest length the format writes (six digits) can hold.
    long WidestRecordedLine() const {
        long widest = 0;
        for (const auto& image : imageFiles) widest = std::max(widest, image->GetPixelsPerLine());
        return widest > 0 ? widest : 999999 - CeosAlosjImageFile::kLinePrefixSize;
    }
    /// Image reader k when it exists.
    CeosAlosjImageFile* Image(long k) const {
        return k >= 0 && k < static_cast<long>(imageFiles.size()) ? imageFiles[k].get() : nullptr;
    }
};
