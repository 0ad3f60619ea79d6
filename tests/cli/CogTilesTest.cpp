// The COG writer's pieces on their own: the tiles alosj compresses itself
// against those GDAL compresses from the same rows, and the overviews
// reduced a few rows at a time against one reduction of the whole raster.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <cpl_string.h>
#include <gdal_priv.h>

#include "TestSupport.h"
#include "tools/processing/cog/CogLayout.h"
#include "tools/processing/cog/Overview.h"

namespace {

struct CompressedTiles {
    std::string bytes;
    std::vector<uint64_t> offsets, counts;
};

/// `data` (bands × height rows of width samples, band after band) as
/// tiles of 48 × 32 in DEFLATE at level 6 with `predictor`, appended in
/// pieces of 64 and 32 rows and the rest; by GDAL when an option alosj
/// leaves to it is among the creation options.
CompressedTiles Compress(const std::string& path, GDALDataType type, int width, int height, int bands,
                         const std::vector<unsigned char>& data, const char* predictor, bool byGdal) {
    CPLStringList creation;
    creation.SetNameValue("TILED", "YES");
    creation.SetNameValue("BLOCKXSIZE", "48");
    creation.SetNameValue("BLOCKYSIZE", "32");
    creation.SetNameValue("COMPRESS", "DEFLATE");
    creation.SetNameValue("ZLEVEL", "6");
    creation.SetNameValue("PREDICTOR", predictor);
    creation.SetNameValue("NUM_THREADS", "ALL_CPUS");
    if (byGdal) creation.SetNameValue("ENDIANNESS", "LITTLE");  // what GDAL writes anyway
    alosj::processing::CogTiles tiles(path, width, height, bands, type, creation, path);
    const size_t line = static_cast<size_t>(width) * static_cast<size_t>(GDALGetDataTypeSizeBytes(type));
    for (int top = 0, rows = 64; top < height; top += rows, rows = 32) {
        rows = std::min(rows, height - top);
        tiles.Append(rows, {data.data() + static_cast<size_t>(top) * line, line, line * static_cast<size_t>(height)});
    }
    tiles.Close();
    std::ifstream in(path, std::ios::binary);
    return {std::string(std::istreambuf_iterator<char>(in), {}), tiles.Offsets(), tiles.Counts()};
}

TEST(CogTiles, DeflateTilesOfBytesAndFloatsAreGdalsByteForByte) {
    GDALAllRegister();
    testing_support::TempDir dir;
    const int width = 100, height = 100, bands = 3;  // partial tiles at the right and bottom
    for (const GDALDataType type : {GDT_Byte, GDT_Float32}) {
        SCOPED_TRACE(GDALGetDataTypeName(type));
        std::vector<unsigned char> data;
        for (int k = 0; k < bands; ++k)
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    if (type == GDT_Byte) {
                        data.push_back(static_cast<unsigned char>(x * 7 + y * 13 + k * 50 + (x * y) % 17));
                    } else {
                        const float value = 40.0f * std::sin(0.05f * x + 0.11f * y + k) + 0.001f * float(x * y);
                        const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
                        data.insert(data.end(), bytes, bytes + sizeof value);
                    }
                }
        const char* predictor = type == GDT_Byte ? "2" : "3";
        const CompressedTiles ours = Compress(dir.path() + "/ours", type, width, height, bands, data, predictor, false);
        const CompressedTiles gdals =
            Compress(dir.path() + "/gdals", type, width, height, bands, data, predictor, true);
        EXPECT_EQ(ours.counts, gdals.counts);
        EXPECT_EQ(ours.offsets, gdals.offsets);
        EXPECT_TRUE(ours.bytes == gdals.bytes) << ours.bytes.size() << " bytes against " << gdals.bytes.size();
        EXPECT_EQ(ours.counts.size(), 3u * 4u);
    }
}

TEST(AverageReduction, RowsGivenAFewAtATimeReduceAsAllAtOnce) {
    // Two bands of 37 × 41 onto 18 × 20: every footprint a little over two
    // pixels, so most span three rows and some span two pushes; no data here
    // and there.
    const int bands = 2, width = 37, height = 41;
    std::vector<unsigned char> rows;
    for (int y = 0; y < height; ++y)
        for (int k = 0; k < bands; ++k)
            for (int x = 0; x < width; ++x)
                rows.push_back((x + 3 * y + k) % 11 == 0 ? 0 : static_cast<unsigned char>(17 * x + 29 * y + 90 * k));
    const size_t row = static_cast<size_t>(bands) * width;

    alosj::processing::AverageReduction<unsigned char> whole(bands, width, height, 18, 20);
    std::vector<unsigned char> once;
    EXPECT_EQ(whole.Push(rows.data(), height, once), 20);

    alosj::processing::AverageReduction<unsigned char> pieces(bands, width, height, 18, 20);
    std::vector<unsigned char> piecewise;
    long made = 0;
    int top = 0;
    for (const int count : {1, 7, 0, 2, 27, 4}) {
        // Each piece from a buffer of its own, spoilt once pushed.
        std::vector<unsigned char> piece(rows.begin() + static_cast<std::ptrdiff_t>(top * row),
                                         rows.begin() + static_cast<std::ptrdiff_t>((top + count) * row));
        made += pieces.Push(piece.data(), count, piecewise);
        std::fill(piece.begin(), piece.end(), 255);
        top += count;
    }
    ASSERT_EQ(top, height);
    EXPECT_EQ(made, 20);
    EXPECT_EQ(once.size(), 18u * 20u * bands);
    EXPECT_EQ(piecewise, once);
}

}  // namespace
