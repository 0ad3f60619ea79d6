// Finding, opening and checking a product for the subcommands.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "dataset/CeosAlosjDataset.h"
#include "tools/alosj/Cli.h"
#include "tools/alosj/Json.h"
#include "tools/describe/ProductDescription.h"

namespace alosj {

/// Collects the library's reports on this thread while it lives: each is
/// passed on to stderr as it is (unless quiet) and remembered, so that a
/// subcommand can tell that something failed and name the problem in its own
/// message.
class ReportWatch {
public:
    explicit ReportWatch(bool quiet);
    ~ReportWatch();
    ReportWatch(const ReportWatch&) = delete;
    ReportWatch& operator=(const ReportWatch&) = delete;

    /// Failures reported; warnings are passed on but not counted.
    size_t Count() const { return count_; }
    /// The first failure's chain as one line, or "".
    const std::string& First() const { return first_; }

private:
    static void Handler(const CeosAlosjReport* report, void* self);
    bool quiet_;
    size_t count_ = 0;
    std::string first_;
    CeosAlosjReportScope scope_;
};

/// Counts a volume directory file opened and its product decoded (every
/// place alosj opens a CeosAlosjDataset calls it); ProductOpens() tells how
/// many so far.  With ALOSJ_REPORT_OPENS set, alosj says the count on
/// stderr as it ends (kReportOpensVariable), so that a test can tell how
/// often a command opens its product.
void CountProductOpen();
long ProductOpens();
/// Opens on this thread from now on are a worker's handle on a product the
/// command has open already (a dataset is one thread's at a time), counted
/// apart: WorkerHandles().
void OpensOnThisThreadAreWorkerHandles();
long WorkerHandles();
extern const char* const kReportOpensVariable;

/// The volume directory file a path names: the path itself, or the single
/// file in a directory whose name contains VOL-ALPSM or VOL-ALAV2.  Throws
/// Failure otherwise.
std::string FindVolumeDirectoryFile(const std::string& path);

/// An opened and fully read product.
class Product {
public:
    /// Finds, opens and reads the product, then reads its first and last
    /// rows of every band; any report on the way, a product of unknown kind
    /// or one without an image is a Failure that names the file.
    explicit Product(const ProductOptions& options);
    ~Product();

    CeosAlosjDataset& Dataset() { return *dataset_; }
    const std::string& VolumePath() const { return volumePath_; }
    long Ccd() const { return ccd_; }
    long Width() const { return width_; }
    long Height() const { return height_; }
    int Bands() const { return bands_; }

    /// Throws a Failure naming the product when reports arrived since the
    /// last check (what `doing` was doing, e.g. "reading rows").
    void CheckReports(const std::string& doing);

    /// "PRISM", "AVNIR-2"; "1A", "1B1", "1B2".
    std::string SensorName() const;
    std::string LevelName() const;

    /// What the product is and where it lies, as the GDAL driver says too.
    const alosjdescribe::ProductDescription& Description() const { return *description_; }

    /// Everything the dataset knows, in the documented `alosj info --json`
    /// schema.
    nlohmann::ordered_json Info() const { return description_->InfoJson(volumePath_); }

private:
    std::unique_ptr<ReportWatch> watch_;
    std::unique_ptr<CeosAlosjDataset> dataset_;
    std::unique_ptr<alosjdescribe::ProductDescription> description_;
    std::string volumePath_;
    long ccd_ = 0;
    long width_ = 0;
    long height_ = 0;
    int bands_ = 0;
    size_t reportsSeen_ = 0;
};

/// Refuses, as a usage Failure, an output path inside the directory of the
/// product's files: nothing is ever written among them.  Products inside
/// archives or other virtual file systems are never written to anyway.
void RefuseOutputInProduct(const std::string& output, const Product& product);

/// 0-based bands from a list such as "1,3", "2-4" or "Layer_1"; empty for
/// every band.  Throws a usage Failure for a band the product lacks.
/// The product's STAC Item id and the name of its directory in a batch:
/// the scene ID and the product ID, e.g. "ALPSMN038862710-O1B1__A", so that
/// one scene at two processing levels gives two Items.
std::string ItemId(Product& product);

/// The STAC Item of a product with `assets` (the files made from it) and a
/// self link to `self` when given; with `collection`, the Item belongs to
/// that Collection (collection.json above the Item's directory) and names
/// its assets relative to itself.
nlohmann::ordered_json StacItem(Product& product, const std::vector<std::string>& assets, const std::string& self,
                                const std::string& collection);

std::vector<int> ParseBands(const std::string& list, Product& product);

/// The description's metadata items that say which product a file was made
/// from: written into a quicklook, checked in every asset of an Item.
inline constexpr std::array<const char*, 5> kProductNamingItems = {"SENSOR", "PRODUCT_LEVEL", "PRODUCT_ID",
                                                                   "SCENE_ID", "CCD"};

/// The positions in `bands` (0-based bands of the product) of the bands the
/// description calls red, green and blue, in that order (AVNIR-2's 3, 2, 1);
/// empty unless that makes three.
std::vector<size_t> ColourPositions(const alosjdescribe::ProductDescription& description,
                                    const std::vector<int>& bands);
/// The same among all the product's bands: the red, green and blue bands.
std::vector<size_t> ColourPositions(const alosjdescribe::ProductDescription& description);

}  // namespace alosj
