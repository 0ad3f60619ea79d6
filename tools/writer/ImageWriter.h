// Image files of a synthetic product.
#pragma once

#include <string>

namespace ceoswriter {

struct ProductSpec;

struct ImageSpec {
    int pixelsPerLine = 64;  // dummy pixels included
    int lines = 16;
};

/// Writes the image file with the given index in the product's list.
void WriteImageFile(const std::string& path, const ProductSpec& product, int index,
                    const std::string& fileId);

}  // namespace ceoswriter
