// Supplemental file of a synthetic PRISM product.
//
// About 13 MB, of which only the descriptor, the record headers and the
// content of ancillary records 8, 10, 12 and 13 are written: the rest are
// holes, so the file costs little disk and time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ceoswriter {

struct ProductRecipe;

/// One text data line of a state-vector block.
struct StateVectorLine {
    int32_t date;      // yyyymmdd
    double timeOfDay;  // hhmmss.fraction
    double values[6];
};

struct StateVectorBlockRecipe {
    std::string title;
    /// The second text line: where the samples state the vectors' frame.
    std::string frameLine = "COORDINATE SYSTEM: EARTH FIXED (ITRF)";
    int dataLineOffset = 0;  // lines from the fifth text line to the first data line
    std::vector<StateVectorLine> lines;
    /// The data line count written into the block; default lines.size().
    std::optional<long long> declaredLineCount;
};

/// One matrix entry of ancillary 10, matrices as written: [text row][value].
struct MatrixEntryRecipe {
    int32_t date;
    double timeOfDay;
    double firstMatrix[3][3];
    double secondMatrix[3][3];
};

struct AttitudeSampleRecipe {
    int year;
    int month, day, hour, minute;  // one byte each
    double seconds;
    double quaternion[4];
    float auxValues[3];
};

struct SupplementalRecipe {
    /// A realistic default: a few state vectors, matrix entries, attitude
    /// samples and a sensor alignment block.
    SupplementalRecipe();

    StateVectorBlockRecipe firstBlock;
    StateVectorBlockRecipe secondBlock;

    int matrixDataLineOffset = 2;
    int32_t referenceDate = 20061130;
    double referenceTimeOfDay = 0.0;
    double referenceValue1 = 0.0;
    double referenceValue2 = 0.0;
    std::vector<MatrixEntryRecipe> matrices;
    std::optional<long long> declaredMatrixCount;  // default matrices.size()

    std::vector<AttitudeSampleRecipe> attitude;
    std::optional<long long> declaredSampleCount;  // default attitude.size()

    /// The sensor alignment block: "Set_ID" and the 3×3 matrix [row][column].
    int setId = 1;
    double sensorMatrix[3][3] = {};
    /// When not empty, these lines are the whole block instead.
    std::vector<std::string> ancillary13Lines;
};

/// The alignment block's lines as the default writer makes them.
std::vector<std::string> SensorAlignmentLines(const SupplementalRecipe& recipe);

/// Offsets and size of the file the writer makes.
struct SupplementalLayout {
    static constexpr uint64_t kDescriptorLength = 4680;
    uint64_t ancillaryOffset[14] = {};  // by ancillary record number 3-13
    uint64_t ancillaryLength[14] = {};
    uint64_t fileSize = 0;
};
SupplementalLayout SupplementalFileLayout();

void WriteSupplementalFile(const std::string& path, const ProductRecipe& product,
                           const std::string& fileId);

}  // namespace ceoswriter
