#include "tools/alosj/Quicklook.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "tools/alosj/Cli.h"
#include "tools/alosj/Gdal.h"
#include "tools/alosj/Product.h"
#include "tools/alosj/Progress.h"

namespace alosj {

QuicklookReduction::QuicklookReduction(const alosjdescribe::ProductDescription& description, long width,
                                       long height, int size)
    : width_(width), height_(height) {
    for (const auto& item : description.Metadata())
        if (std::find(kProductNamingItems.begin(), kProductNamingItems.end(), item.first) != kProductNamingItems.end())
            naming_.push_back(item);
    // Natural colour from the bands the product description calls red,
    // green and blue; otherwise the first band in grey.
    const std::vector<size_t> colours = ColourPositions(description);
    bands_.assign(colours.begin(), colours.end());
    if (bands_.empty()) bands_ = {0};
    const long longer = std::max(width, height);
    outWidth_ = static_cast<int>(std::max(1L, std::lround(static_cast<double>(width) * size / longer)));
    outHeight_ = static_cast<int>(std::max(1L, std::lround(static_cast<double>(height) * size / longer)));

    // Source columns [columnStart[i], columnStart[i + 1]) make preview
    // column i, and rows [firstRow[j], endRow[j]) preview row j; at least
    // one each, so small rasters are enlarged.
    columnStart_.resize(static_cast<size_t>(outWidth_) + 1);
    for (int i = 0; i <= outWidth_; ++i)
        columnStart_[i] = static_cast<long>(static_cast<double>(i) * width / outWidth_);
    columnOf_.resize(static_cast<size_t>(outWidth_));
    for (int i = 0; i < outWidth_; ++i) columnOf_[i] = std::min(columnStart_[i], width - 1);
    for (int j = 0; j < outHeight_; ++j) {
        const long first = std::min(static_cast<long>(static_cast<double>(j) * height / outHeight_), height - 1);
        firstRow_.push_back(first);
        endRow_.push_back(std::max(first + 1, static_cast<long>(static_cast<double>(j + 1) * height / outHeight_)));
    }
    preview_.resize(static_cast<size_t>(outWidth_) * outHeight_ * bands_.size());
    nextRow_.assign(bands_.size(), 0);
    made_.assign(bands_.size(), 0);
    open_.resize(bands_.size());
    histograms_.assign(bands_.size(), DigitalNumberHistogram());
}

void QuicklookReduction::Add(const unsigned char* row, Sums& sums) const {
    // Zeros add nothing to a sum: the row's sums are taken without a branch.
    for (int i = 0; i < outWidth_; ++i) {
        const long stop = std::min(width_, std::max(columnStart_[i] + 1, columnStart_[i + 1]));
        uint32_t sum = 0, samples = 0;
        for (long c = columnOf_[i]; c < stop; ++c) {
            sum += row[c];
            samples += row[c] != 0;
        }
        sums.sum[i] += sum;
        sums.samples[i] += samples;
    }
}

void QuicklookReduction::Push(int band, long top, long rows, const unsigned char* data) {
    const auto shown = std::find(bands_.begin(), bands_.end(), band);
    if (shown == bands_.end()) return;
    const size_t k = static_cast<size_t>(shown - bands_.begin());
    if (top != nextRow_[k]) throw Failure(kExitFailure, "the quicklook was given rows out of order");
    std::deque<Sums>& open = open_[k];
    std::vector<uint64_t>& counts = histograms_[k].counts;
    for (long r = top; r < top + rows; ++r) {
        const unsigned char* row = data + static_cast<size_t>(r - top) * static_cast<size_t>(width_);
        // The stretch counts the raster's own values, each once: an average
        // of saturated and unsaturated pixels is neither.
        for (long c = 0; c < width_; ++c) ++counts[row[c]];
        // Every preview row whose rows this one is among (several when the
        // raster is enlarged).
        for (int j = made_[k]; j < outHeight_ && firstRow_[j] <= r; ++j) {
            if (r >= endRow_[j]) continue;
            while (open.size() <= static_cast<size_t>(j - made_[k]))
                open.push_back({std::vector<uint64_t>(static_cast<size_t>(outWidth_)),
                                std::vector<uint32_t>(static_cast<size_t>(outWidth_))});
            Add(row, open[static_cast<size_t>(j - made_[k])]);
        }
        // The preview rows this one completes.
        while (made_[k] < outHeight_ && endRow_[made_[k]] <= r + 1) {
            const Sums& sums = open.front();
            unsigned char* out = preview_.data() + (k * outHeight_ + made_[k]) * static_cast<size_t>(outWidth_);
            for (int i = 0; i < outWidth_; ++i) {
                const uint32_t n = sums.samples[i];
                out[i] = n ? static_cast<unsigned char>(
                                 std::clamp(std::lround(static_cast<double>(sums.sum[i]) / n), 1L, 255L))
                           : 0;
            }
            open.pop_front();
            ++made_[k];
        }
    }
    nextRow_[k] = top + rows;
}

bool QuicklookReduction::Complete() const {
    return std::all_of(made_.begin(), made_.end(), [&](int made) { return made == outHeight_; });
}

std::string QuicklookReduction::Write(const std::string& output) const {
    if (!Complete()) throw Failure(kExitFailure, output + ": the quicklook is missing rows of the raster");
    const size_t count = bands_.size();
    // The display stretch from the raster's values; 0 (fill) stays black.
    std::vector<unsigned char> preview = preview_;
    const size_t planeSize = static_cast<size_t>(outWidth_) * outHeight_;
    const DisplayStretch stretch = StretchOf(histograms_, kColourBalance);
    for (size_t k = 0; k < count; ++k) {
        unsigned char* plane = preview.data() + k * planeSize;
        for (size_t p = 0; p < planeSize; ++p)
            if (plane[p])
                plane[p] = static_cast<unsigned char>(std::lround(1.0 + 254.0 * stretch.Shade(k, plane[p])));
    }

    GdalSession gdal;
    GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("MEM");
    GDALDriver* png = GetGDALDriverManager()->GetDriverByName("PNG");
    if (!memory || !png) throw Failure(kExitFailure, "GDAL has no MEM or PNG driver");
    std::unique_ptr<GDALDataset, GdalDatasetCloser> image(
        memory->Create("", outWidth_, outHeight_, static_cast<int>(count), GDT_Byte, nullptr));
    if (!image ||
        image->RasterIO(GF_Write, 0, 0, outWidth_, outHeight_, preview.data(), outWidth_, outHeight_, GDT_Byte,
                        static_cast<int>(count), nullptr, 0, 0, 0, nullptr) != CE_None)
        throw Failure(kExitFailure, "cannot build the preview: " + GdalSession::LastError());
    // The items that name the product go into the PNG's text, so that the
    // quicklook tells whose it is (alosj stac checks its assets by them).
    for (const auto& [name, value] : naming_) image->SetMetadataItem(name.c_str(), value.c_str());
    if (count == 3) {
        image->GetRasterBand(1)->SetColorInterpretation(GCI_RedBand);
        image->GetRasterBand(2)->SetColorInterpretation(GCI_GreenBand);
        image->GetRasterBand(3)->SetColorInterpretation(GCI_BlueBand);
    }
    // Written under a temporary name beside the output, named when complete.
    OutputFile file(CreateUniqueFileBeside(output, ".png"));
    CPLStringList pngOptions;
    pngOptions.SetNameValue("WRITE_METADATA_AS_TEXT", "YES");
    std::unique_ptr<GDALDataset, GdalDatasetCloser> written(
        png->CreateCopy(file.path().c_str(), image.get(), FALSE, pngOptions.List(), nullptr, nullptr));
    if (!written) throw Failure(kExitFailure, output + ": cannot write: " + GdalSession::LastError());
    CPLErrorReset();
    written.reset();
    if (CPLGetLastErrorType() >= CE_Failure)
        throw Failure(kExitFailure, output + ": cannot finish writing: " + GdalSession::LastError());
    PublishOutput(file.path(), output, true, "alosj quicklook");
    file.Keep();
    return std::to_string(outWidth_) + " x " + std::to_string(outHeight_) + " pixels, " +
           (count == 3 ? "bands 3, 2, 1 as red, green, blue" : "grey") +
           (stretch.note.empty() ? "" : "; " + stretch.note);
}

void ReduceQuicklook(Product& product, QuicklookReduction& quicklook, ProgressBar* bar) {
    // A preview row may cover thousands of rows: they are read a few MB at a time.
    const long most = std::max(1L, (4L << 20) / std::max(1L, product.Width()));
    std::vector<unsigned char> rows;
    long read = 0;  // rows of every band shown read so far
    for (int j = 0; j < quicklook.Height(); ++j) {
        const long end = quicklook.EndRow(j);
        for (long from = std::max(read, quicklook.FirstRow(j)); from < end; from += most) {
            const long count = std::min(most, end - from);
            rows.resize(static_cast<size_t>(product.Width()) * static_cast<size_t>(count));
            for (int band : quicklook.Bands()) {
                product.Dataset().GetRows(band, static_cast<unsigned long>(from), static_cast<unsigned long>(count),
                                          rows.data());
                quicklook.Push(band, from, count, rows.data());
            }
            read = from + count;
        }
        product.CheckReports("reading rows up to " + std::to_string(end - 1));
        if (bar) bar->Update(static_cast<double>(j + 1) / quicklook.Height());
    }
}

}  // namespace alosj
