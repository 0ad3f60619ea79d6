// alosj export --compress: the same rows whatever the compression, and an
// uncompressed file holds every pixel as a plain byte.
#include <gtest/gtest.h>

#include <filesystem>

#include "CliSupport.h"

using cli_support::OpenedProduct;
using cli_support::OpenRaster;
using cli_support::RasterRow;
using cli_support::RunAlosj;
using cli_support::WriteProductIn;

TEST(CliExportCompression, EachCompressionWritesTheSameRowsAndSaysWhichItUsed) {
    testing_support::TempDir dir;
    ceoswriter::ProductRecipe recipe = ceoswriter::Avnir2Product(1);
    recipe.image.pixelsPerLine = 300;
    recipe.image.lines = 270;  // more than one 256-pixel tile both ways
    const auto files = WriteProductIn(dir, "a", recipe);
    OpenedProduct product(files.volume);

    for (const char* compress : {"NONE", "none", "LZW", "DEFLATE", "ZSTD"}) {
        SCOPED_TRACE(compress);
        const std::string out = dir.File(std::string("out-") + compress + ".tif");
        std::vector<std::string> args = {"export", files.volume, out, "--compress", compress};
        if (std::string(compress) == "ZSTD") args.insert(args.end(), {"--level", "15"});
        const cli_support::RunResult run = RunAlosj(args);
        ASSERT_EQ(run.status, 0) << run.err;
        cli_support::Raster raster = OpenRaster(out);
        ASSERT_TRUE(raster);
        const char* used = raster->GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE");
        if (std::string(compress) == "NONE" || std::string(compress) == "none")
            EXPECT_EQ(used, nullptr) << used;  // GDAL names no compression for a plain file
        else
            EXPECT_STREQ(used, compress);
        ASSERT_EQ(raster->GetRasterCount(), 4);
        for (int band = 0; band < 4; ++band)
            for (int row : {0, 255, 256, 269})
                ASSERT_EQ(RasterRow(*raster, band + 1, row), product.Row(band, row)) << "band " << band << " row " << row;
    }

    // Uncompressed, the file carries at least every pixel's byte.
    const auto plainSize = std::filesystem::file_size(dir.File("out-NONE.tif"));
    EXPECT_GE(plainSize, 4u * 300u * 270u);
}

TEST(CliExportCompression, AnUnknownCompressionIsAUsageErrorAndWritesNothing) {
    testing_support::TempDir dir;
    const auto files = WriteProductIn(dir, "a", ceoswriter::Avnir2Product(1));
    const std::string out = dir.File("out.tif");
    const cli_support::RunResult run = RunAlosj({"export", files.volume, out, "--compress", "JPEG"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("--compress"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(out));
}
