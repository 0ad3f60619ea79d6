#include "tools/writer/SupplementalWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "tools/writer/ProductWriter.h"

namespace ceoswriter {

namespace {

// The ancillary records that follow the descriptor, one of each, in file
// order: record number and length.  Numbers 8, 10, 12 and 13 carry what the
// readers use; they start at 6182680, 7894680, 8642680 and 13012680.
struct AncillaryRecord {
    int number;
    uint64_t length;
};
constexpr AncillaryRecord kAncillaryRecords[] = {
    {3, 1235600}, {4, 1235600}, {5, 1235600}, {6, 1235600},  {7, 1235600},  {8, 529000},
    {9, 1183000}, {10, 698000}, {11, 50000},  {12, 4370000}, {13, 63024},
};

RecordType AncillaryType(int number) { return {0x12, 0x1E, 0x12, static_cast<uint8_t>(number)}; }

// A piece of a record that starts at record position 1: header written with
// the whole record's length, though only length bytes are kept.
Record RecordStart(size_t length, int32_t sequence, int number, uint64_t recordLength,
                   unsigned char fill) {
    Record piece(length, fill);
    piece.Header(sequence, AncillaryType(number));
    piece.BinInt(9, 4, static_cast<int32_t>(recordLength));
    return piece;
}

void LittleEndian(Record& record, int position, uint64_t bits, int length) {
    unsigned char bytes[8];
    for (int i = 0; i < length; ++i, bits >>= 8) bytes[i] = static_cast<unsigned char>(bits);
    record.Bytes(position, bytes, static_cast<size_t>(length));
}
void LeDouble(Record& record, int position, double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, 8);
    LittleEndian(record, position, bits, 8);
}
void LeSingle(Record& record, int position, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    LittleEndian(record, position, bits, 4);
}

std::string Text(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// A text date and time of day at position (10 + 15 characters).
void TextTime(Record& record, int position, int32_t date, double timeOfDay) {
    record.Int(position, 10, date);
    record.RealE(position + 10, 15, timeOfDay, 8);
}

constexpr int kValueDecimals = 16;  // 17 significant digits: doubles survive the text

// One state-vector block written at record position blockStart of piece,
// whose first byte is record position pieceStart.
void WriteBlock(Record& piece, int pieceStart, int blockStart, const StateVectorBlockRecipe& block) {
    auto at = [&](int position) { return position - pieceStart + 1; };
    const int p = blockStart;
    piece.Ascii(at(p), 128, block.title);
    piece.Ascii(at(p + 128), 170, "ORBIT DETERMINATION RESULT");
    piece.Ascii(at(p + 298), 170, block.frameLine);
    piece.Ascii(at(p + 468), 170, "DATA LINES:");
    piece.Int(at(p + 498), 10, block.dataLineOffset);
    piece.Int(at(p + 508), 10, block.declaredLineCount.value_or(static_cast<long long>(block.lines.size())));
    piece.Ascii(at(p + 638), 170, "UNITS: KM, KM/S");
    piece.Ascii(at(p + 808), 170, "DATE      TIME           POSITION AND VELOCITY");
    for (size_t j = 0; j < block.lines.size(); ++j) {
        const StateVectorLine& line = block.lines[j];
        const int l = p + 808 + 170 * (block.dataLineOffset + static_cast<int>(j));
        TextTime(piece, at(l), line.date, line.timeOfDay);
        for (int k = 0; k < 6; ++k) piece.RealE(at(l + 25 + 24 * k), 24, line.values[k], kValueDecimals);
    }
}

// Bytes from a block's first position to the end of its last text or data line.
int BlockLength(const StateVectorBlockRecipe& block) {
    return 808 + 170 * std::max(1, block.dataLineOffset + static_cast<int>(block.lines.size()));
}

void WriteAncillary8(FileWriter& out, uint64_t offset, int32_t sequence,
                     const SupplementalRecipe& recipe) {
    const int secondBlockStart = 264501;
    const int firstLength = 24 + BlockLength(recipe.firstBlock);
    if (firstLength >= secondBlockStart)
        throw std::length_error("the first state-vector block runs into the second");
    Record first = RecordStart(static_cast<size_t>(firstLength), sequence, 8, 529000, ' ');
    WriteBlock(first, 1, 25, recipe.firstBlock);
    out.Write(offset, first);

    const int secondLength = BlockLength(recipe.secondBlock);
    if (secondBlockStart - 1 + secondLength > 529000)
        throw std::length_error("the second state-vector block runs past the record");
    Record second(static_cast<size_t>(secondLength), ' ');
    WriteBlock(second, secondBlockStart, secondBlockStart, recipe.secondBlock);
    out.Write(offset + secondBlockStart - 1, second);
}

void WriteAncillary10(FileWriter& out, uint64_t offset, int32_t sequence,
                      const SupplementalRecipe& recipe) {
    const size_t length = 422 + 464 * recipe.matrices.size();
    if (length > 698000) throw std::length_error("too many matrix entries");
    Record record = RecordStart(length, sequence, 10, 698000, ' ');
    record.Ascii(25, 128, "PRISM ORBIT AND ATTITUDE TRANSFORMATION MATRICES")
        .Ascii(153, 63, "REFERENCE TIME AND COEFFICIENTS FOLLOW")
        .Ascii(216, 61, "EACH ENTRY: TIME, FIRST MATRIX, SECOND MATRIX")
        .Ascii(277, 51, "ENTRIES:")
        .Int(307, 10, recipe.matrixDataLineOffset)
        .Int(317, 10, recipe.declaredMatrixCount.value_or(static_cast<long long>(recipe.matrices.size())));
    TextTime(record, 328, recipe.referenceDate, recipe.referenceTimeOfDay);
    record.RealE(353, 24, recipe.referenceValue1, kValueDecimals)
        .RealE(377, 24, recipe.referenceValue2, kValueDecimals)
        .Ascii(402, 21, "MATRIX ENTRIES");
    for (size_t i = 0; i < recipe.matrices.size(); ++i) {
        const MatrixEntryRecipe& entry = recipe.matrices[i];
        const int e = 423 + 464 * static_cast<int>(i);
        TextTime(record, e, entry.date, entry.timeOfDay);
        for (int row = 0; row < 3; ++row)
            for (int value = 0; value < 3; ++value) {
                record.RealE(e + 26 + 73 * row + 24 * value, 24, entry.firstMatrix[row][value], kValueDecimals);
                record.RealE(e + 245 + 73 * row + 24 * value, 24, entry.secondMatrix[row][value], kValueDecimals);
            }
    }
    out.Write(offset, record);
}

void WriteAncillary12(FileWriter& out, uint64_t offset, int32_t sequence,
                      const SupplementalRecipe& recipe) {
    const size_t length = 226 + 72 * recipe.attitude.size();
    if (length > 4370000) throw std::length_error("too many attitude samples");
    Record record = RecordStart(length, sequence, 12, 4370000, 0);
    // The sample count is characters 52-56 of the title.
    record.Ascii(25, 128, "PRISM ATTITUDE DATA (QUATERNIONS)")
        .Ascii(60, 16, "SAMPLES:")
        .Int(76, 5, recipe.declaredSampleCount.value_or(static_cast<long long>(recipe.attitude.size())));
    for (size_t i = 0; i < recipe.attitude.size(); ++i) {
        const AttitudeSampleRecipe& sample = recipe.attitude[i];
        const int s = 227 + 72 * static_cast<int>(i);
        LittleEndian(record, s, static_cast<uint16_t>(sample.year), 2);
        record.Byte(s + 2, static_cast<uint8_t>(sample.month))
            .Byte(s + 3, static_cast<uint8_t>(sample.day))
            .Byte(s + 4, static_cast<uint8_t>(sample.hour))
            .Byte(s + 5, static_cast<uint8_t>(sample.minute));
        LeDouble(record, s + 6, sample.seconds);
        for (int k = 0; k < 4; ++k) LeDouble(record, s + 25 + 8 * k, sample.quaternion[k]);
        for (int m = 0; m < 3; ++m) LeSingle(record, s + 57 + 4 * m, sample.auxValues[m]);
    }
    out.Write(offset, record);
}

void WriteAncillary13(FileWriter& out, uint64_t offset, int32_t sequence,
                      const SupplementalRecipe& recipe) {
    const std::vector<std::string> lines =
        recipe.ancillary13Lines.empty() ? SensorAlignmentLines(recipe) : recipe.ancillary13Lines;
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    if (text.size() > 63000) throw std::length_error("sensor alignment block too long");
    Record record = RecordStart(24 + text.size(), sequence, 13, 63024, ' ');
    record.Bytes(25, text.data(), text.size());
    out.Write(offset, record);
}

}  // namespace

SupplementalRecipe::SupplementalRecipe() {
    // Orbit near 690 km altitude, one state vector a minute from 01:20:00.
    firstBlock.title = "PRISM ORBIT DATA (PREDICTED)";
    firstBlock.dataLineOffset = 1;
    secondBlock.title = "PRISM ORBIT DATA (PRECISION)";
    secondBlock.dataLineOffset = 2;
    for (int j = 0; j < 5; ++j) {
        const double t = 60.0 * j;
        const double angle = 0.00107 * t;
        StateVectorLine line = {20061130, 12000.0 + 100.0 * j,
                                {7068.137 * std::cos(angle), 7068.137 * std::sin(angle), 12.5 + j,
                                 -7.5 * std::sin(angle), 7.5 * std::cos(angle), -0.0125 * (j + 1)}};
        firstBlock.lines.push_back(line);
        line.values[2] += 0.25;
        secondBlock.lines.push_back(line);
    }

    referenceTimeOfDay = 12000.0;
    referenceValue1 = 1.2345678901234567e-3;
    referenceValue2 = -4.5678901234567891e-4;
    for (int i = 0; i < 3; ++i) {
        MatrixEntryRecipe entry = {20061130, 12000.0 + 10.0 * i, {}, {}};
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                entry.firstMatrix[r][c] = (r == c ? 0.99 : 0.0) + 0.001 * (10 * r + c + 1) + 0.1 * i;
                entry.secondMatrix[r][c] = -(r == c ? 0.98 : 0.0) - 0.002 * (10 * r + c + 1) - 0.1 * i;
            }
        matrices.push_back(entry);
    }

    for (int i = 0; i < 6; ++i) {
        AttitudeSampleRecipe sample = {2006, 11, 30, 1, 20, 0.1 * i,
                                     {0.5 + 0.01 * i, -0.5, 0.5, 0.5 - 0.01 * i},
                                     {1.5e-5f * (i + 1), -2.25e-5f, 0.125f}};
        attitude.push_back(sample);
    }

    setId = 1;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            sensorMatrix[r][c] = (r == c ? 0.999 : 0.0) + 0.0001 * (10 * (r + 1) + (c + 1));
}

std::vector<std::string> SensorAlignmentLines(const SupplementalRecipe& recipe) {
    std::vector<std::string> lines = {
        "# PRISM sensor alignment parameters",
        "Number_of_Sets = \"1\"",
        "Set_ID = \"" + std::to_string(recipe.setId) + "\"",
        "Valid_From = \"20060124\"",
        "Valid_To = \"99991231\"",
    };
    // Column after column: an11, an21, an31, an12, ...
    for (int c = 1; c <= 3; ++c)
        for (int r = 1; r <= 3; ++r)
            lines.push_back("ID" + std::to_string(recipe.setId) + "_an" + std::to_string(r) +
                            std::to_string(c) + " = \"" +
                            Text("%.16E", recipe.sensorMatrix[r - 1][c - 1]) + "\"");
    lines.push_back("# end of set");
    return lines;
}

SupplementalLayout SupplementalFileLayout() {
    SupplementalLayout layout;
    uint64_t offset = SupplementalLayout::kDescriptorLength;
    for (const AncillaryRecord& record : kAncillaryRecords) {
        layout.ancillaryOffset[record.number] = offset;
        layout.ancillaryLength[record.number] = record.length;
        offset += record.length;
    }
    layout.fileSize = offset;
    return layout;
}

void WriteSupplementalFile(const std::string& path, const ProductRecipe& product,
                           const std::string& fileId) {
    const SupplementalRecipe& recipe = product.supplemental;
    const SupplementalLayout layout = SupplementalFileLayout();
    FileWriter out(path);

    Record descriptor = FileDescriptorRecord(SupplementalLayout::kDescriptorLength, product,
                                             product.ImageCount() + 3, fileId);
    for (int k = 0; k < 11; ++k) {
        descriptor.Int(181 + 14 * k, 6, 1);
        descriptor.Int(187 + 14 * k, 8, static_cast<long long>(kAncillaryRecords[k].length));
    }
    out.Write(0, descriptor);

    int32_t sequence = 2;
    for (const AncillaryRecord& record : kAncillaryRecords) {
        const uint64_t offset = layout.ancillaryOffset[record.number];
        switch (record.number) {
            case 8: WriteAncillary8(out, offset, sequence, recipe); break;
            case 10: WriteAncillary10(out, offset, sequence, recipe); break;
            case 12: WriteAncillary12(out, offset, sequence, recipe); break;
            case 13: WriteAncillary13(out, offset, sequence, recipe); break;
            default:
                out.Write(offset, RecordStart(12, sequence, record.number, record.length, ' '));
                break;
        }
        ++sequence;
    }
    out.Resize(layout.fileSize);
}

}  // namespace ceoswriter
