// alosj quicklook: a small contrast-stretched PNG of a product.
//
// The raster is reduced by averaging the pixels that fall into each
// preview pixel (dummy pixels, value 0, left out), reading the rows once in
// order; the bands are then stretched linearly from their 2nd percentiles
// over one common span.  AVNIR-2 shows bands 3, 2, 1 as red, green, blue.
#include <algorithm>
#include <array>
#include <cmath>
#include <iostream>
#include <memory>
#include <vector>

#include "tools/alosj/Gdal.h"
#include "tools/alosj/Product.h"
#include "tools/alosj/Progress.h"

namespace alosj {

int RunQuicklook(const QuicklookOptions& options) {
    if (LowerCaseEnding(options.output) != ".png")
        throw Failure(kExitUsage, options.output + ": alosj quicklook writes PNG files, named .png");
    Product product(options.product);
    const long width = product.Width(), height = product.Height();
    // Natural colour from the bands the product description calls red,
    // green and blue; otherwise the first band in grey.
    const std::vector<size_t> colours = ColourPositions(product.Description());
    std::vector<int> bands(colours.begin(), colours.end());
    if (bands.empty()) bands = {0};
    const long longer = std::max(width, height);
    const int outWidth = static_cast<int>(std::max(1L, std::lround(static_cast<double>(width) * options.size / longer)));
    const int outHeight = static_cast<int>(std::max(1L, std::lround(static_cast<double>(height) * options.size / longer)));
    const size_t count = bands.size();

    // Source columns [columnStart[i], columnStart[i + 1]) make preview column
    // i; at least one column each, so small rasters are enlarged.
    std::vector<long> columnStart(static_cast<size_t>(outWidth) + 1);
    for (int i = 0; i <= outWidth; ++i) columnStart[i] = static_cast<long>(static_cast<double>(i) * width / outWidth);
    std::vector<long> columnOf(static_cast<size_t>(outWidth));
    for (int i = 0; i < outWidth; ++i) columnOf[i] = std::min(columnStart[i], width - 1);

    ProgressBar bar("quicklook", false, options.product.quiet);
    std::vector<unsigned char> preview(static_cast<size_t>(outWidth) * outHeight * count);
    std::vector<unsigned char> row(static_cast<size_t>(width));
    std::vector<double> sum(static_cast<size_t>(outWidth) * count);
    std::vector<uint32_t> samples(static_cast<size_t>(outWidth) * count);
    long lastRead = -1;
    for (int j = 0; j < outHeight; ++j) {
        const long first = std::min(static_cast<long>(static_cast<double>(j) * height / outHeight), height - 1);
        const long end = std::max(first + 1, static_cast<long>(static_cast<double>(j + 1) * height / outHeight));
        std::fill(sum.begin(), sum.end(), 0.0);
        std::fill(samples.begin(), samples.end(), 0u);
        for (size_t k = 0; k < count; ++k) {
            for (long r = first; r < end; ++r) {
                unsigned char* data = row.data();
                product.Dataset().GetRow(bands[k], static_cast<unsigned long>(r), 0, &data);
                for (int i = 0; i < outWidth; ++i) {
                    const long stop = std::max(columnStart[i] + 1, columnStart[i + 1]);
                    for (long c = columnOf[i]; c < stop && c < width; ++c)
                        if (row[c]) {
                            sum[k * outWidth + i] += row[c];
                            ++samples[k * outWidth + i];
                        }
                }
            }
        }
        lastRead = end;
        for (size_t k = 0; k < count; ++k)
            for (int i = 0; i < outWidth; ++i) {
                const uint32_t n = samples[k * outWidth + i];
                preview[(k * outHeight + j) * outWidth + i] =
                    n ? static_cast<unsigned char>(std::clamp(std::lround(sum[k * outWidth + i] / n), 1L, 255L)) : 0;
            }
        product.CheckReports("reading rows up to " + std::to_string(lastRead - 1));
        bar.Update(static_cast<double>(j + 1) / outHeight);
    }
    bar.Finish();

    // The display stretch (StretchOf) from the preview's own values; 0
    // (fill) stays black.
    const size_t planeSize = static_cast<size_t>(outWidth) * outHeight;
    std::vector<std::array<uint64_t, 256>> histograms(count);
    for (size_t k = 0; k < count; ++k) {
        const unsigned char* plane = preview.data() + k * planeSize;
        for (size_t p = 0; p < planeSize; ++p) ++histograms[k][plane[p]];
    }
    const DisplayStretch stretch = StretchOf(histograms);
    for (size_t k = 0; k < count; ++k) {
        unsigned char* plane = preview.data() + k * planeSize;
        for (size_t p = 0; p < planeSize; ++p)
            if (plane[p])
                plane[p] = static_cast<unsigned char>(std::clamp(
                    std::lround(1.0 + 254.0 * (plane[p] - stretch.low[k]) / stretch.span), 1L, 255L));
    }

    GdalSession gdal;
    GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("MEM");
    GDALDriver* png = GetGDALDriverManager()->GetDriverByName("PNG");
    if (!memory || !png) throw Failure(kExitFailure, "GDAL has no MEM or PNG driver");
    std::unique_ptr<GDALDataset, GdalDatasetCloser> image(
        memory->Create("", outWidth, outHeight, static_cast<int>(count), GDT_Byte, nullptr));
    if (!image ||
        image->RasterIO(GF_Write, 0, 0, outWidth, outHeight, preview.data(), outWidth, outHeight, GDT_Byte,
                        static_cast<int>(count), nullptr, 0, 0, 0, nullptr) != CE_None)
        throw Failure(kExitFailure, "cannot build the preview: " + GdalSession::LastError());
    // The items that name the product go into the PNG's text, so that the
    // quicklook tells whose it is (alosj stac checks its assets by them).
    for (const auto& [name, value] : product.Description().Metadata())
        if (std::find(kProductNamingItems.begin(), kProductNamingItems.end(), name) != kProductNamingItems.end())
            image->SetMetadataItem(name.c_str(), value.c_str());
    if (count == 3) {
        image->GetRasterBand(1)->SetColorInterpretation(GCI_RedBand);
        image->GetRasterBand(2)->SetColorInterpretation(GCI_GreenBand);
        image->GetRasterBand(3)->SetColorInterpretation(GCI_BlueBand);
    }
    // Written under a temporary name beside the output, named when complete.
    OutputFile output(CreateUniqueFileBeside(options.output, ".png"));
    CPLStringList pngOptions;
    pngOptions.SetNameValue("WRITE_METADATA_AS_TEXT", "YES");
    std::unique_ptr<GDALDataset, GdalDatasetCloser> written(
        png->CreateCopy(output.path().c_str(), image.get(), FALSE, pngOptions.List(), nullptr, nullptr));
    if (!written) throw Failure(kExitFailure, options.output + ": cannot write: " + GdalSession::LastError());
    CPLErrorReset();
    written.reset();
    if (CPLGetLastErrorType() >= CE_Failure)
        throw Failure(kExitFailure, options.output + ": cannot finish writing: " + GdalSession::LastError());
    PublishOutput(output.path(), options.output, true, "alosj quicklook");
    output.Keep();
    std::cout << "Wrote " << options.output << " (" << outWidth << " x " << outHeight << " pixels, "
              << (count == 3 ? "bands 3, 2, 1 as red, green, blue" : "grey") << ")\n";
    return 0;
}

}  // namespace alosj
