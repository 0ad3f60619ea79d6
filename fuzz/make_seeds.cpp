// Writes the seed corpora of the fuzz targets, one directory per target,
// from products that the product writer makes: well-formed products of
// every sensor and level, and the malformed variants the writer can make.
//
//   ceosalosj_fuzz_seeds OUTPUT_DIRECTORY
//
// The seeds are build products, never committed.  Each seed's name says what
// it holds.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "fuzz/FuzzInputs.h"
#include "tools/writer/ProductWriter.h"

namespace fs = std::filesystem;
using namespace ceoswriter;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class SeedDirectory {
public:
    SeedDirectory(const fs::path& root, const std::string& target) : path_(root / target) {
        fs::create_directories(path_);
    }
    void Add(const std::string& name, const std::string& bytes) {
        std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) throw std::runtime_error("cannot write seed " + (path_ / name).string());
        ++count_;
    }
    size_t count() const { return count_; }

private:
    fs::path path_;
    size_t count_ = 0;
};

/// A scratch directory for the products the seeds are taken from.
class Workspace {
public:
    Workspace() {
        std::random_device seed;
        path_ = fs::temp_directory_path() / ("ceosalosj-seeds-" + std::to_string(seed()));
        fs::create_directories(path_);
    }
    ~Workspace() {
        std::error_code error;
        fs::remove_all(path_, error);
    }
    /// A fresh, empty product directory.
    std::string Fresh(const std::string& name) {
        const fs::path dir = path_ / name;
        fs::remove_all(dir);
        fs::create_directories(dir);
        return dir.string();
    }

private:
    fs::path path_;
};

struct NamedProduct {
    std::string name;
    ProductSpec spec;
};

/// The well-formed products: every sensor, level and PRISM observation mode.
std::vector<NamedProduct> WellFormedProducts() {
    std::vector<NamedProduct> products;
    for (int level = 0; level <= 2; ++level) {
        const std::string levelName = level == 0 ? "1a" : level == 1 ? "1b1" : "1b2";
        products.push_back({"prism-" + levelName + "-n", PrismProduct(level, 'N')});
        products.push_back({"avnir2-" + levelName, Avnir2Product(level)});
    }
    for (char mode : {'F', 'B', 'W'})
        products.push_back({std::string("prism-1b1-") + mode, PrismProduct(1, mode)});
    return products;
}

std::string Control(uint8_t control, const std::string& bytes) {
    return std::string(1, static_cast<char>(control)) + bytes;
}

// --- decode_field ---------------------------------------------------------

// The format's field type codes, written out here: the generator shares no
// code with the readers.
enum FieldCode {
    kAscii = 0,
    kInt = 1,
    kReal = 2,
    kOctal = 5,
    kBinInt = 6,
    kBinDouble = 7,
    kRealE = 8,
    kLeInt = 9,
    kLeDouble = 10,
};

std::string FieldSeed(int type, int length, int position, const std::string& record) {
    std::string seed;
    seed += static_cast<char>(type + 2);  // the target reads the type as byte % 14 - 2
    seed += static_cast<char>(length);
    seed += static_cast<char>(position >> 8 & 0xFF);
    seed += static_cast<char>(position & 0xFF);
    return seed + record;
}

void DecodeFieldSeeds(SeedDirectory& seeds) {
    const std::string padding = "xxxx";
    struct Field {
        const char* name;
        int type;
        std::string bytes;
    };
    const std::vector<Field> fields = {
        {"ascii", kAscii, "ABC             "},
        {"int", kInt, "  -360"},
        {"int-wide", kInt, "9999999999999999"},
        {"int-blank", kInt, "    "},
        {"real", kReal, "  1.250000E+02"},
        {"real-e", kRealE, " -7.000000000000000E+03"},
        {"real-d", kReal, "1.5D-3"},
        {"octal", kOctal, "\xC0"},
        {"bin-int-2", kBinInt, std::string("\xFF\xFE", 2)},
        {"bin-int-4", kBinInt, std::string("\x00\x00\x01\x68", 4)},
        {"le-int-2", kLeInt, std::string("\xFE\xFF", 2)},
        {"le-int-4", kLeInt, std::string("\x68\x01\x00\x00", 4)},
        {"bin-double", kBinDouble, std::string("\x40\x09\x21\xFB\x54\x44\x2D\x18", 8)},
        {"le-double", kLeDouble, std::string("\x18\x2D\x44\x54\xFB\x21\x09\x40", 8)},
        {"code-3", 3, "1234"},
        {"code-4", 4, "1234"},
        {"code-11", 11, "1234"},
    };
    for (const Field& field : fields) {
        const int length = static_cast<int>(field.bytes.size());
        seeds.Add(std::string("at-start-") + field.name,
                  FieldSeed(field.type, length, 1, field.bytes));
        seeds.Add(std::string("inside-") + field.name,
                  FieldSeed(field.type, length, 5, padding + field.bytes + padding));
        // One byte short of the record's end: the checked front end must refuse it.
        seeds.Add(std::string("past-end-") + field.name,
                  FieldSeed(field.type, length, 2, field.bytes));
    }
}

// --- volume_dir -----------------------------------------------------------

void VolumeDirSeeds(SeedDirectory& seeds, Workspace& work) {
    for (const NamedProduct& product : WellFormedProducts()) {
        const ProductFiles files = WriteProduct(work.Fresh(product.name), product.spec);
        const uint8_t name =
            product.spec.IsPrism() ? fuzzinputs::kVolumePrism : fuzzinputs::kVolumeAvnir2;
        seeds.Add(product.name, Control(name, ReadFile(files.volume)));
    }

    const ProductFiles prism = WriteProduct(work.Fresh("prism"), PrismProduct(1));
    const std::string volume = ReadFile(prism.volume);
    seeds.Add("lower-case-name", Control(fuzzinputs::kVolumeLowerCase, volume));
    seeds.Add("unnamed", Control(fuzzinputs::kVolumeUnnamed, volume));
    seeds.Add("prism-named-avnir2", Control(fuzzinputs::kVolumeAvnir2, volume));
    for (size_t cut : {size_t{20}, size_t{359}, size_t{360}, size_t{700}, volume.size() - 1})
        seeds.Add("truncated-" + std::to_string(cut),
                  Control(fuzzinputs::kVolumePrism, volume.substr(0, cut)));

    struct Variant {
        const char* name;
        std::function<void(ProductSpec&)> change;
    };
    const std::vector<Variant> variants = {
        {"count-negative", [](ProductSpec& p) { p.declaredFilePointerCount = -1; }},
        {"count-zero", [](ProductSpec& p) { p.declaredFilePointerCount = 0; }},
        {"count-huge", [](ProductSpec& p) { p.declaredFilePointerCount = 9999; }},
        {"count-beyond-file", [](ProductSpec& p) { p.declaredFilePointerCount = 40; }},
        {"extra-files",
         [](ProductSpec& p) {
             p.extraFileIds = {"ALPSM_N1XYZ", "ALPSM_N1IMG-CCD9"};
         }},
        {"no-text-record", [](ProductSpec& p) { p.writeTextRecord = false; }},
        {"other-document", [](ProductSpec& p) { p.documentId = "CEOS-SAR-CCT"; }},
        {"lower-case-document", [](ProductSpec& p) { p.documentId = "ceos-psm-cct"; }},
    };
    for (const Variant& variant : variants) {
        ProductSpec spec = PrismProduct(1);
        variant.change(spec);
        const ProductFiles files = WriteProduct(work.Fresh(variant.name), spec);
        seeds.Add(variant.name, Control(fuzzinputs::kVolumePrism, ReadFile(files.volume)));
    }
}

// --- leader, trailer, image -----------------------------------------------

/// Cuts of a file: at each boundary of records of recordLength bytes (up to
/// maxRecords), in the middle of each record, and a byte short of its end.
std::vector<size_t> Cuts(size_t fileSize, size_t recordLength, size_t maxRecords) {
    std::vector<size_t> cuts;
    for (size_t record = 0; record < maxRecords && record * recordLength < fileSize; ++record) {
        if (record > 0) cuts.push_back(record * recordLength);
        cuts.push_back(record * recordLength + recordLength / 2);
    }
    cuts.push_back(fileSize - 1);
    std::vector<size_t> inside;
    for (size_t cut : cuts)
        if (cut < fileSize) inside.push_back(cut);
    return inside;
}

void LeaderSeeds(SeedDirectory& seeds, Workspace& work) {
    for (const NamedProduct& product : WellFormedProducts()) {
        const ProductFiles files = WriteProduct(work.Fresh(product.name), product.spec);
        seeds.Add(product.name, ReadFile(files.leader));
    }
    const ProductFiles prism = WriteProduct(work.Fresh("prism"), PrismProduct(1));
    const std::string leader = ReadFile(prism.leader);
    constexpr size_t kLeaderRecordLength = 4680;
    for (size_t cut : Cuts(leader.size(), kLeaderRecordLength, 5))
        seeds.Add("prism-1b1-cut-" + std::to_string(cut), leader.substr(0, cut));
}

void TrailerSeeds(SeedDirectory& seeds, Workspace& work) {
    for (const NamedProduct& product : WellFormedProducts()) {
        const ProductFiles files = WriteProduct(work.Fresh(product.name), product.spec);
        seeds.Add(product.name, ReadFile(files.trailer));
    }
    const ProductFiles avnir2 = WriteProduct(work.Fresh("avnir2"), Avnir2Product(1));
    const std::string trailer = ReadFile(avnir2.trailer);
    for (size_t cut : {size_t{100}, size_t{185}, size_t{8460}, size_t{9000}, trailer.size() - 1})
        if (cut < trailer.size())
            seeds.Add("avnir2-1b1-cut-" + std::to_string(cut), trailer.substr(0, cut));
}

/// The image target's eight control bytes: two lines, signed extra skips,
/// the de-stagger shift and whether far skips are tried.
std::string ImageControl(int16_t lineA, int16_t lineB, int8_t extraLeft, int8_t extraRight,
                         int8_t shift, bool farSkips) {
    std::string control;
    for (int16_t line : {lineA, lineB}) {
        control += static_cast<char>(static_cast<uint16_t>(line) >> 8);
        control += static_cast<char>(static_cast<uint16_t>(line) & 0xFF);
    }
    control += static_cast<char>(extraLeft);
    control += static_cast<char>(extraRight);
    control += static_cast<char>(shift);
    control += static_cast<char>(farSkips ? 1 : 0);
    return control;
}

void ImageSeeds(SeedDirectory& seeds, Workspace& work) {
    const std::string plain = ImageControl(1, -1, 1, 0, 5, false);
    for (const NamedProduct& product : WellFormedProducts()) {
        const ProductFiles files = WriteProduct(work.Fresh(product.name), product.spec);
        for (size_t i = 0; i < files.images.size(); i += 2)
            seeds.Add(product.name + "-file-" + std::to_string(i),
                      plain + ReadFile(files.images[i]));
    }

    // Dummy widths that change along the file, monotonic and not; samples
    // of several bytes; records longer than a line; lines wider than the
    // de-stagger buffer.
    struct Variant {
        const char* name;
        std::function<void(ProductSpec&)> change;
    };
    const std::vector<Variant> variants = {
        {"widths-falling",
         [](ProductSpec& p) {
             p.image.leftDummyWidth = [](int, int line) { return 12 - line / 4; };
         }},
        {"widths-zigzag",
         [](ProductSpec& p) {
             p.image.rightDummyWidth = [](int, int line) { return line % 3 == 1 ? 1 : 9; };
         }},
        {"sixteen-bit", [](ProductSpec& p) { p.image.bitsPerPixel = 16; }},
        {"long-records", [](ProductSpec& p) { p.image.recordLength = 1000; }},
        {"wide-lines",
         [](ProductSpec& p) {
             p.image.pixelsPerLine = 7300;
             p.image.lines = 8;
         }},
        {"one-line", [](ProductSpec& p) { p.image.lines = 1; }},
        {"negative-microseconds", [](ProductSpec& p) { p.image.startMicroseconds = -250; }},
    };
    for (const Variant& variant : variants) {
        ProductSpec spec = Avnir2Product(1);
        variant.change(spec);
        const ProductFiles files = WriteProduct(work.Fresh(variant.name), spec);
        seeds.Add(variant.name, plain + ReadFile(files.images[0]));
    }

    const ProductSpec prismSpec = PrismProduct(1);
    const ProductFiles prism = WriteProduct(work.Fresh("prism"), prismSpec);
    const std::string image = ReadFile(prism.images[2]);
    seeds.Add("far-skips", ImageControl(3, 15, -3, 7, -2, true) + image);
    seeds.Add("odd-skips-shift-one", ImageControl(0, 14, 3, 1, 1, false) + image);
    const size_t recordLength =
        static_cast<size_t>(ResolveImageFile(prismSpec.image, 2).recordLength);
    for (size_t cut : Cuts(image.size(), recordLength, 4))
        seeds.Add("prism-1b1-cut-" + std::to_string(cut), plain + image.substr(0, cut));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIRECTORY\n", argv[0]);
        return 2;
    }
    struct Corpus {
        const char* target;
        std::function<void(SeedDirectory&, Workspace&)> write;
    };
    const std::vector<Corpus> corpora = {
        {"decode_field", [](SeedDirectory& seeds, Workspace&) { DecodeFieldSeeds(seeds); }},
        {"volume_dir", VolumeDirSeeds},
        {"leader", LeaderSeeds},
        {"trailer", TrailerSeeds},
        {"image", ImageSeeds},
    };
    try {
        const fs::path root = argv[1];
        Workspace work;
        std::printf("seeds:");
        for (const Corpus& corpus : corpora) {
            SeedDirectory seeds(root, corpus.target);
            corpus.write(seeds, work);
            std::printf(" %s %zu", corpus.target, seeds.count());
        }
        std::printf("\n");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", argv[0], error.what());
        return 1;
    }
    return 0;
}
