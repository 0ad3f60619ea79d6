// ceosalosj_gdal_write: writes a raster that is already in memory as an
// uncompressed tiled GeoTIFF, the way alosj export writes the rows it reads:
// one row of every band per RasterIO call, each complete tile-row of 256
// rows flushed before the next.  What it costs is GDAL's share of an export;
// compare.sh sets an export against it.
//
//   ceosalosj_gdal_write OUTPUT WIDTH HEIGHT BANDS
#include <gdal_priv.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int kTileSize = 256;

struct DatasetCloser {
    void operator()(GDALDataset* dataset) const { GDALClose(dataset); }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: ceosalosj_gdal_write OUTPUT WIDTH HEIGHT BANDS\n");
        return 2;
    }
    const char* output = argv[1];
    const int width = std::atoi(argv[2]);
    const int height = std::atoi(argv[3]);
    const int bands = std::atoi(argv[4]);
    // Sizes beyond these are not rasters this tool is meant for.
    if (width <= 0 || height <= 0 || bands <= 0 || bands > 16 || width > 1000000) {
        std::fprintf(stderr, "ceosalosj_gdal_write: bad size %s x %s x %s\n", argv[2], argv[3], argv[4]);
        return 2;
    }

    GDALAllRegister();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    if (!driver) return 1;
    char** options = nullptr;
    options = CSLSetNameValue(options, "TILED", "YES");
    options = CSLSetNameValue(options, "BLOCKXSIZE", "256");
    options = CSLSetNameValue(options, "BLOCKYSIZE", "256");
    options = CSLSetNameValue(options, "COMPRESS", "NONE");
    options = CSLSetNameValue(options, "BIGTIFF", "IF_SAFER");
    std::unique_ptr<GDALDataset, DatasetCloser> out(driver->Create(output, width, height, bands, GDT_Byte, options));
    CSLDestroy(options);
    if (!out) return 1;

    // One row of every band, as a reader would have left it: every byte set.
    const size_t rowBytes = static_cast<size_t>(width);
    std::vector<unsigned char> buffer(rowBytes * static_cast<size_t>(bands));
    for (size_t k = 0; k < buffer.size(); ++k) buffer[k] = static_cast<unsigned char>(1 + k % 251);

    for (int top = 0; top < height; top += kTileSize) {
        const int rows = std::min(kTileSize, height - top);
        for (int r = top; r < top + rows; ++r)
            if (out->RasterIO(GF_Write, 0, r, width, 1, buffer.data(), width, 1, GDT_Byte, bands, nullptr, 1, width,
                              static_cast<GSpacing>(rowBytes), nullptr) != CE_None)
                return 1;
        out->FlushCache(false);
    }
    out.reset();
    return CPLGetLastErrorType() >= CE_Failure ? 1 : 0;
}
