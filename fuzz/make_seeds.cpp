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
    ProductRecipe recipe;
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
        const ProductFiles files = WriteProduct(work.Fresh(product.name), product.recipe);
        const uint8_t name =
            product.recipe.IsPrism() ? fuzzinputs::kVolumePrism : fuzzinputs::kVolumeAvnir2;
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
        std::function<void(ProductRecipe&)> change;
    };
    const std::vector<Variant> variants = {
        {"count-negative", [](ProductRecipe& p) { p.declaredFilePointerCount = -1; }},
        {"count-zero", [](ProductRecipe& p) { p.declaredFilePointerCount = 0; }},
        {"count-huge", [](ProductRecipe& p) { p.declaredFilePointerCount = 9999; }},
        {"count-beyond-file", [](ProductRecipe& p) { p.declaredFilePointerCount = 40; }},
        {"extra-files",
         [](ProductRecipe& p) {
             p.extraFileIds = {"ALPSM_N1XYZ", "ALPSM_N1IMG-CCD9"};
         }},
        {"no-text-record", [](ProductRecipe& p) { p.writeTextRecord = false; }},
        {"other-document", [](ProductRecipe& p) { p.documentId = "CEOS-SAR-CCT"; }},
        {"lower-case-document", [](ProductRecipe& p) { p.documentId = "ceos-psm-cct"; }},
    };
    for (const Variant& variant : variants) {
        ProductRecipe recipe = PrismProduct(1);
        variant.change(recipe);
        const ProductFiles files = WriteProduct(work.Fresh(variant.name), recipe);
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
        const ProductFiles files = WriteProduct(work.Fresh(product.name), product.recipe);
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
        const ProductFiles files = WriteProduct(work.Fresh(product.name), product.recipe);
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
        const ProductFiles files = WriteProduct(work.Fresh(product.name), product.recipe);
        for (size_t i = 0; i < files.images.size(); i += 2)
            seeds.Add(product.name + "-file-" + std::to_string(i),
                      plain + ReadFile(files.images[i]));
    }

    // Dummy widths that change along the file, monotonic and not; samples
    // of several bytes; records longer than a line; lines wider than the
    // de-stagger buffer.
    struct Variant {
        const char* name;
        std::function<void(ProductRecipe&)> change;
    };
    const std::vector<Variant> variants = {
        {"widths-falling",
         [](ProductRecipe& p) {
             p.image.leftDummyWidth = [](int, int line) { return 12 - line / 4; };
         }},
        {"widths-zigzag",
         [](ProductRecipe& p) {
             p.image.rightDummyWidth = [](int, int line) { return line % 3 == 1 ? 1 : 9; };
         }},
        {"sixteen-bit", [](ProductRecipe& p) { p.image.bitsPerPixel = 16; }},
        {"long-records", [](ProductRecipe& p) { p.image.recordLength = 1000; }},
        {"wide-lines",
         [](ProductRecipe& p) {
             p.image.pixelsPerLine = 7300;
             p.image.lines = 8;
         }},
        {"one-line", [](ProductRecipe& p) { p.image.lines = 1; }},
        {"negative-microseconds", [](ProductRecipe& p) { p.image.startMicroseconds = -250; }},
    };
    for (const Variant& variant : variants) {
        ProductRecipe recipe = Avnir2Product(1);
        variant.change(recipe);
        const ProductFiles files = WriteProduct(work.Fresh(variant.name), recipe);
        seeds.Add(variant.name, plain + ReadFile(files.images[0]));
    }

    const ProductRecipe prismRecipe = PrismProduct(1);
    const ProductFiles prism = WriteProduct(work.Fresh("prism"), prismRecipe);
    const std::string image = ReadFile(prism.images[2]);
    seeds.Add("far-skips", ImageControl(3, 15, -3, 7, -2, true) + image);
    seeds.Add("odd-skips-shift-one", ImageControl(0, 14, 3, 1, 1, false) + image);
    const size_t recordLength =
        static_cast<size_t>(ResolveImageFile(prismRecipe.image, 2).recordLength);
    for (size_t cut : Cuts(image.size(), recordLength, 4))
        seeds.Add("prism-1b1-cut-" + std::to_string(cut), plain + image.substr(0, cut));
}

// --- supplemental, summary --------------------------------------------------

/// bytes without their trailing NULs and blanks (the holes and padding of
/// the writer's records), so that seeds stay small.
std::string Trimmed(std::string bytes) {
    const size_t end = bytes.find_last_not_of(std::string(" \0", 2));
    bytes.resize(end == std::string::npos ? 0 : end + 1);
    return bytes;
}

/// The supplemental target's input: the descriptor, ancillary record 8 from
/// its start and from its second block, ancillary records 10 and 12 from
/// their starts, and the ancillary 13 block from record position 25,
/// as members after one control byte (where the file ends, whether it is
/// read twice).
std::string SupplementalInput(const std::string& file, uint8_t ending) {
    const SupplementalLayout layout = SupplementalFileLayout();
    auto part = [&file](uint64_t offset, uint64_t length) {
        return offset < file.size() ? Trimmed(file.substr(offset, length)) : std::string();
    };
    constexpr uint64_t kAncillary13TextStart = 24;  // the block begins at record position 25
    constexpr uint64_t kSecondBlockShift = 264476;  // ancillary 8's second block, from its first
    const std::vector<std::string> members = {
        part(0, SupplementalLayout::kDescriptorLength),
        part(layout.ancillaryOffset[8], kSecondBlockShift),
        part(layout.ancillaryOffset[8] + kSecondBlockShift,
             layout.ancillaryLength[8] - kSecondBlockShift),
        part(layout.ancillaryOffset[10], layout.ancillaryLength[10]),
        part(layout.ancillaryOffset[12], layout.ancillaryLength[12]),
        part(layout.ancillaryOffset[13] + kAncillary13TextStart,
             layout.ancillaryLength[13] - kAncillary13TextStart),
    };
    return std::string(1, static_cast<char>(ending)) + fuzzinputs::JoinMembers(members);
}

void SupplementalSeeds(SeedDirectory& seeds, Workspace& work) {
    struct Variant {
        const char* name;
        std::function<void(SupplementalRecipe&)> change;
    };
    const std::vector<Variant> variants = {
        {"default", [](SupplementalRecipe&) {}},
        {"line-count-huge", [](SupplementalRecipe& s) { s.secondBlock.declaredLineCount = 99999; }},
        {"line-count-negative", [](SupplementalRecipe& s) { s.firstBlock.declaredLineCount = -3; }},
        {"line-offset-far", [](SupplementalRecipe& s) { s.secondBlock.dataLineOffset = 1530; }},
        {"no-data-lines", [](SupplementalRecipe& s) { s.firstBlock.lines.clear(); }},
        {"matrix-count-huge", [](SupplementalRecipe& s) { s.declaredMatrixCount = 9999999; }},
        {"matrix-count-negative", [](SupplementalRecipe& s) { s.declaredMatrixCount = -1; }},
        {"sample-count-huge", [](SupplementalRecipe& s) { s.declaredSampleCount = 99999; }},
        {"sample-count-negative", [](SupplementalRecipe& s) { s.declaredSampleCount = -9; }},
        {"set-id-two-digits", [](SupplementalRecipe& s) { s.setId = 12; }},
        {"block-without-set-id",
         [](SupplementalRecipe& s) {
             s.ancillary13Lines = {"Other = X1", "ID1_an11 = \"0.5\""};
         }},
        {"block-tight-and-long-lines",
         [](SupplementalRecipe& s) {
             s.ancillary13Lines = {std::string(300, 'x'),
                                   "Set_ID=X3",
                                   "",
                                   "",
                                   "ID3_an11=",
                                   "id3_AN21 = Y0.25",
                                   "ID3_an31",
                                   std::string(127, '='),
                                   "ID3_an22 = \"1E+308\""};
         }},
    };
    for (const Variant& variant : variants) {
        ProductRecipe recipe = PrismProduct(1);
        variant.change(recipe.supplemental);
        const ProductFiles files = WriteProduct(work.Fresh(variant.name), recipe);
        seeds.Add(variant.name, SupplementalInput(ReadFile(files.supplemental), 0));
    }
    const ProductFiles files = WriteProduct(work.Fresh("endings"), PrismProduct(0));
    const std::string file = ReadFile(files.supplemental);
    for (uint8_t ending = 1; ending < 4; ++ending)
        seeds.Add("ending-" + std::to_string(ending), SupplementalInput(file, ending));
    constexpr uint8_t kReadTwice = 4;
    seeds.Add("read-twice", SupplementalInput(file, kReadTwice));
}

void SummarySeeds(SeedDirectory& seeds, Workspace& work) {
    struct Variant {
        const char* name;
        std::function<void(SummaryRecipe&)> change;
    };
    const std::vector<Variant> variants = {
        {"true-north", [](SummaryRecipe&) {}},
        {"map-north", [](SummaryRecipe& s) { s.mapDirection = "MapNorth"; }},
        {"lower-case", [](SummaryRecipe& s) { s.mapDirection = "truenorth"; }},
        {"trailing-blank", [](SummaryRecipe& s) { s.mapDirection = "TrueNorth "; }},
        {"no-key", [](SummaryRecipe& s) { s.mapDirection.reset(); }},
        {"unquoted-spaced",
         [](SummaryRecipe& s) {
             s.quoteValues = false;
             s.separator = " = ";
         }},
        {"windows-lines",
         [](SummaryRecipe& s) {
             s.lineEnd = "\r\n";
             s.leadingLines = {"# comment", "", "Scs_SceneID = ALPSMN038862710", "no equals sign"};
         }},
    };
    for (const Variant& variant : variants) {
        ProductRecipe recipe = PrismProduct(2);
        recipe.summary = SummaryRecipe{};
        variant.change(*recipe.summary);
        const ProductFiles files = WriteProduct(work.Fresh(variant.name), recipe);
        seeds.Add(variant.name, ReadFile(files.summary));
    }
}

// --- product ------------------------------------------------------------------

std::string ProductControl(uint8_t productControl, uint8_t memberControl) {
    return std::string{static_cast<char>(productControl), static_cast<char>(memberControl)};
}

/// A file as a product member: the supplemental file is cut to its
/// descriptor, the rest of it is 13 MB of holes.
std::string MemberBytes(const std::string& path, const ProductFiles& files) {
    const std::string bytes = ReadFile(path);
    return path == files.supplemental ? bytes.substr(0, SupplementalLayout::kDescriptorLength)
                                      : bytes;
}

void ProductSeeds(SeedDirectory& seeds, Workspace& work) {
    for (uint8_t kind = 0; kind < fuzzinputs::kProductKindCount; ++kind) {
        const std::string name = "kind-" + std::to_string(kind);
        const ProductRecipe recipe = fuzzinputs::ProductOfKind(kind);
        const ProductFiles files = WriteProduct(work.Fresh(name), recipe);
        const std::vector<std::string> members = fuzzinputs::ProductMemberPaths(files);
        seeds.Add(name + "-pristine", ProductControl(kind, fuzzinputs::kProductMembers));
        for (size_t m = 0; m < members.size(); ++m) {
            const uint8_t member = static_cast<uint8_t>(m);
            seeds.Add(name + "-member-" + std::to_string(m),
                      ProductControl(kind, member) + MemberBytes(members[m], files));
            seeds.Add(name + "-missing-" + std::to_string(m),
                      ProductControl(kind, member | fuzzinputs::kProductDelete));
        }
        if (recipe.IsPrism() && recipe.level < 2) {
            for (uint8_t ccd : {0, 3, 6, 9}) {
                const uint8_t single =
                    static_cast<uint8_t>(kind | fuzzinputs::kProductSingleCcd | ccd << 4);
                seeds.Add(name + "-ccd-" + std::to_string(ccd),
                          ProductControl(single, fuzzinputs::kProductMembers));
            }
        }
    }

    // Files of products that differ from the pristine ones, each replacing
    // its counterpart: geocoding, map projections, stagger shifts, dummy
    // widths, file counts, observation modes.
    struct Variant {
        const char* name;
        uint8_t kind;
        size_t member;  // which file of the variant product is taken
        std::function<void(ProductRecipe&)> change;
    };
    using fuzzinputs::kAvnir2_1A;
    using fuzzinputs::kAvnir2_1B1;
    using fuzzinputs::kAvnir2_1B2;
    using fuzzinputs::kPrism1B1;
    using fuzzinputs::kPrism1B2;
    const std::vector<Variant> variants = {
        {"geocoded-1b2", kPrism1B2, 1, [](ProductRecipe& p) { p.leader.geocodingLetter = 'G'; }},
        {"georeferenced-1b2", kAvnir2_1B2, 1,
         [](ProductRecipe& p) { p.leader.geocodingLetter = 'R'; }},
        {"polar-stereographic", kPrism1B2, 1,
         [](ProductRecipe& p) { p.leader.mapProjectionFlags = "NNNNYNNNNNNNNNNN"; }},
        {"raw-projection", kAvnir2_1B2, 1,
         [](ProductRecipe& p) { p.leader.mapProjectionFlags = "NNNNNNNNNNNNNNNN"; }},
        {"stagger-six", kAvnir2_1B1, 1, [](ProductRecipe& p) { p.leader.offNadirAngle = "-30.500"; }},
        {"stagger-seven", kAvnir2_1A, 1, [](ProductRecipe& p) { p.leader.offNadirAngle = "+40.000"; }},
        {"stagger-none", kAvnir2_1B1, 1, [](ProductRecipe& p) { p.leader.offNadirAngle = "99"; }},
        {"south-zone-60", kPrism1B1, 1,
         [](ProductRecipe& p) {
             p.leader.hemisphereCode = 1;
             p.leader.utmZoneNumber = 60;
         }},
        {"rows-beyond-images", kAvnir2_1B1, 1, [](ProductRecipe& p) { p.leader.numberOfLines = 40; }},
        {"no-state-vectors", kPrism1B1, 1, [](ProductRecipe& p) { p.leader.dataPoints.clear(); }},
        {"widths-varying", kPrism1B1, 3,
         [](ProductRecipe& p) {
             p.image.leftDummyWidth = [](int file, int line) { return file + line % 5; };
         }},
        {"volume-count-huge", kPrism1B1, 0,
         [](ProductRecipe& p) { p.declaredFilePointerCount = 9999; }},
        {"volume-count-short", kAvnir2_1B1, 0,
         [](ProductRecipe& p) { p.declaredFilePointerCount = 3; }},
        {"volume-extra-files", kAvnir2_1B1, 0,
         [](ProductRecipe& p) { p.extraFileIds = {"ALAV2_A1IMG-BND5"}; }},
        {"volume-mode-wide", kPrism1B1, 0, [](ProductRecipe& p) { p.observationMode = 'W'; }},
        {"volume-mode-backward", kPrism1B1, 0, [](ProductRecipe& p) { p.observationMode = 'B'; }},
        {"volume-other-document", kPrism1B2, 0,
         [](ProductRecipe& p) { p.documentId = "CEOS-AV2-CCT"; }},
        {"summary-map-north", kPrism1B2, 4,
         [](ProductRecipe& p) { p.summary->mapDirection = "MapNorth"; }},
    };
    for (const Variant& variant : variants) {
        ProductRecipe recipe = fuzzinputs::ProductOfKind(variant.kind);
        variant.change(recipe);
        const ProductFiles files = WriteProduct(work.Fresh(variant.name), recipe);
        const std::vector<std::string> members = fuzzinputs::ProductMemberPaths(files);
        seeds.Add(variant.name, ProductControl(variant.kind, static_cast<uint8_t>(variant.member)) +
                                    MemberBytes(members.at(variant.member), files));
    }

    // Several files at once: a leader and an image file from a product with
    // other line counts, as one blob split into members.
    ProductRecipe taller = fuzzinputs::ProductOfKind(kAvnir2_1B1);
    taller.image.lines = 24;
    const ProductFiles tallerFiles = WriteProduct(work.Fresh("taller"), taller);
    const std::vector<std::string> tallerMembers = fuzzinputs::ProductMemberPaths(tallerFiles);
    seeds.Add(
        "members-leader-and-image",
        ProductControl(kAvnir2_1B1, fuzzinputs::kProductMembers) +
            fuzzinputs::JoinMembers({"", ReadFile(tallerMembers[1]), ReadFile(tallerMembers[2])}));
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
        {"supplemental", SupplementalSeeds},
        {"summary", SummarySeeds},
        {"product", ProductSeeds},
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
