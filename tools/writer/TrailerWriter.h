// Trailer file of a synthetic product: the file descriptor record, 8460
// bytes long, then one 1044-byte trailer record per image file, each with
// 256 big-endian 32-bit values (a histogram of that file's samples).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace ceoswriter {

struct ProductRecipe;

/// A bell-shaped histogram of 256 counts.
std::array<int32_t, 256> DefaultHistogram();

struct TrailerRecipe {
    /// The first trailer record (file offset 8460); the records of the other
    /// image files follow it with their own numbers and scaled counts.
    int recordNumber = 1;   // positions 13-16
    std::optional<int> designator;  // positions 17-20; default the first image file's
    std::array<int32_t, 256> values = DefaultHistogram();  // positions 21-1044
};

void WriteTrailerFile(const std::string& path, const ProductRecipe& product, const std::string& fileId);

}  // namespace ceoswriter
