// Writes complete synthetic ALOS PRISM and AVNIR-2 Level 1 products in CEOS
// format, byte-exactly as the readers expect them, for tests, fuzz seeds,
// benchmarks and the `sample` command.
//
// A product directory holds VOL-<scene>, LED-<scene>, the image files
// (IMG-0<d>-<scene> per CCD or band; IMG-<scene> for PRISM Level 1B2),
// TRL-<scene>, below Level 1B2 SUP-<scene>, and optionally summary.txt.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/writer/CeosRecordWriter.h"
#include "tools/writer/ImageWriter.h"
#include "tools/writer/LeaderWriter.h"
#include "tools/writer/SummaryWriter.h"
#include "tools/writer/SupplementalWriter.h"
#include "tools/writer/TrailerWriter.h"

namespace ceoswriter {

enum class Sensor { Prism, Avnir2 };

struct ProductRecipe {
    Sensor sensor = Sensor::Prism;
    int level = 1;               // 0 Level 1A, 1 Level 1B1, 2 Level 1B2
    char observationMode = 'N';  // N, F, B, W (PRISM); A (AVNIR-2)
    std::string sceneId = "ALPSMN038862710";
    std::string processingSuffix = "O1B1__A";  // the file names' tail after the scene ID
    /// Designators of the image files in list order: CCD numbers (PRISM below
    /// Level 1B2), band numbers (AVNIR-2); ignored for PRISM Level 1B2.
    std::vector<int> designators = {1, 2, 3, 4, 5, 6};

    LeaderRecipe leader;
    ImageLayout image;
    TrailerRecipe trailer;
    SupplementalRecipe supplemental;
    std::optional<SummaryRecipe> summary;

    // Volume directory details, mostly for malformed products.
    std::optional<std::string> documentId;            // default "CEOS-PSM-CCT" / "CEOS-AV2-CCT"
    std::optional<int> declaredFilePointerCount;      // default: the files listed
    std::vector<std::string> extraFileIds;            // listed after the product's own files
    bool writeTextRecord = true;

    bool IsPrism() const { return sensor == Sensor::Prism; }
    /// Number of image files: one per designator, one for PRISM Level 1B2.
    int ImageCount() const;
    bool HasSupplemental() const { return level != 2; }
};

/// A PRISM product of the given level: six CCD files below 1B2, one at 1B2.
ProductRecipe PrismProduct(int level = 1, char observationMode = 'N');
/// An AVNIR-2 product of the given level with its four band files.
ProductRecipe Avnir2Product(int level = 1);

struct ProductFiles {
    std::string directory;
    std::string volume;
    std::string leader;
    std::vector<std::string> images;
    std::string trailer;
    std::string supplemental;  // empty at Level 1B2
    std::string summary;       // empty without summary.txt
    /// File IDs of the file pointer records, in list order.
    std::vector<std::string> fileIds;
};

/// Changes the orbit the product states, alike in every place it states it
/// (the leader's platform position record and both state-vector blocks of
/// the supplemental file): each vector (metres, metres per second) through
/// change when one is given, and every time `later` seconds later.
void ChangeOrbit(ProductRecipe& product, double later, const std::function<void(StateVector&)>& change = {});

/// The 16-character file ID of one file: sensor, observation mode at index 6,
/// level digit at 7, class letter (I, L, S, T) at 8, designator at 15.
std::string FileId(const ProductRecipe& product, char fileClass, int designator = 0);

/// The file names a product gets in directory, without writing anything.
ProductFiles ProductFileNames(const std::string& directory, const ProductRecipe& product);

/// Writes every file of the product into directory (which must exist).
ProductFiles WriteProduct(const std::string& directory, const ProductRecipe& product);

/// Writes only the volume directory file.
void WriteVolumeDirectory(const std::string& path, const ProductRecipe& product,
                          const ProductFiles& files);

/// A file descriptor record of length bytes with its common first 180 bytes
/// filled: header, document ID, file number, file ID and the locator fields.
Record FileDescriptorRecord(size_t length, const ProductRecipe& product, int fileNumber,
                            const std::string& fileId);

}  // namespace ceoswriter
