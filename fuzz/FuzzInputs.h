// How the fuzz targets read their inputs.  The seed generator writes its
// seeds in the same shapes, so both include this header and nothing else
// ties them together.
//
// Every file target takes one leading control byte and then the bytes of
// the file (or, for a product, several members); the control byte chooses
// what the bytes pretend to be: the volume directory's name variant, the
// supplemental file's truncation, the product member that is replaced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/writer/ProductWriter.h"

namespace fuzzinputs {

/// Separates the members of an input that carries several files or blocks.
constexpr const char kMemberSeparator[] = "\n--CEOS-MEMBER--\n";
constexpr size_t kMemberSeparatorLength = sizeof kMemberSeparator - 1;

/// Splits data at every separator: n separators give n + 1 members (the
/// last ones possibly empty).  At most maxMembers are returned; the last
/// one then keeps the rest of the data, separators included.
std::vector<std::string> SplitMembers(const uint8_t* data, size_t size, size_t maxMembers);

/// Joins members with the separator: SplitMembers' inverse.
std::string JoinMembers(const std::vector<std::string>& members);

// The decode_field target: type code, length, 1-based position (two bytes,
// big-endian), then the record.
constexpr size_t kDecodeFieldHeader = 4;

// The volume directory target: the control byte picks the file's name.
enum VolumeName : uint8_t {
    kVolumePrism = 0,      // VOL-ALPSM-...
    kVolumeAvnir2 = 1,     // VOL-ALAV2-...
    kVolumeLowerCase = 2,  // vol-alpsm-... (names are compared ignoring case)
    kVolumeUnnamed = 3,    // a name with neither sensor
    kVolumeNameCount = 4,
};
const char* VolumeFileName(uint8_t control);

// The product target: two control bytes, then the replacement bytes.
//   byte 0: product kind (ProductKindCount kinds, low three bits); bit 3 opens
//           a PRISM product on one CCD, numbered by the high four bits
//   byte 1: the member replaced (low four bits, counted modulo the product's
//           files); bit 6 deletes it instead; bit 7 splits the rest into
//           members that replace the product's files in order, an empty
//           member keeping its file
enum ProductKind : uint8_t {
    kPrism1A,
    kPrism1B1,
    kPrism1B2,
    kAvnir2_1A,
    kAvnir2_1B1,
    kAvnir2_1B2,
    kProductKindCount,
};
constexpr uint8_t kProductSingleCcd = 0x08;
constexpr uint8_t kProductDelete = 0x40;
constexpr uint8_t kProductMembers = 0x80;

/// The writer's product of a kind (control byte 0 modulo the kind count).
ceoswriter::ProductRecipe ProductOfKind(uint8_t kind);
/// A product's files in member order: volume directory, leader, image
/// files, trailer, then the supplemental file and summary.txt when present.
std::vector<std::string> ProductMemberPaths(const ceoswriter::ProductFiles& files);

}  // namespace fuzzinputs
