// ceosalosj_bench: the reader measured against the limit of the reads it
// must make, and against reading the product's bytes.
//
// For every product kind (PRISM 1B1, AVNIR-2 1B1, PRISM 1B2 at full size):
//   GetRow/<kind>        every row of every band through CeosAlosjDataset::GetRow
//   PreadLimit/<kind>    the same rows as plain pread calls of the same spans
//   Paired/<kind>        both in turn, pass by pass; counters getrow_ms and
//                        limit_ms (CPU time per pass) and of_limit, their ratio
//   OpenRead/<kind>      construct, FileOpen, FileRead, FileClose
//   MetadataBytes/<kind> reading the bytes those calls decode: the metadata
//                        files whole and each image file's descriptor record
//   WholeProduct/<kind>  OpenRead plus every row of every band
//   CatProduct/<kind>    reading every file of the product once, as cat does
//
// Own options (before Google Benchmark's --benchmark_* options):
//   --products=DIR   where the products are written (default
//                    $TMPDIR/ceosalosj-bench); kept for later runs
//   --kinds=K,K      prism-1b1, avnir2-1b1, prism-1b2 (default all)
//   --scale=S        shorten every image to S of its lines (default 1)
//   --verify         check instead of measuring: GetRow returns exactly the
//                    bytes the positioned reads fetch and the writer's
//                    pixels, makes no more pread calls than the limit, and
//                    allocates nothing; exit status 1 on a mismatch
//   --prepare        only write the products; prints one line per product:
//                    kind, volume directory file, width, height, bands
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/ProcessCounters.h"
#include "bench/BenchProducts.h"
#include "dataset/CeosAlosjDataset.h"

namespace {

using bench::Kind;
using bench::Product;

struct Options {
    std::string products;
    std::vector<Kind> kinds = bench::AllKinds();
    double scale = 1.0;
    bool verify = false;
    bool prepareOnly = false;
};

bool TakeOption(const char* arg, const char* name, std::string& value) {
    const size_t length = std::strlen(name);
    if (std::strncmp(arg, name, length) != 0 || arg[length] != '=') return false;
    value = arg + length + 1;
    return true;
}

// Takes this program's options out of argv and leaves Google Benchmark's.
bool ParseOptions(int& argc, char** argv, Options& options) {
    const char* tmp = std::getenv("TMPDIR");
    options.products = std::string(tmp && *tmp ? tmp : "/tmp") + "/ceosalosj-bench";
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        std::string value;
        if (TakeOption(argv[i], "--products", value)) {
            options.products = value;
        } else if (TakeOption(argv[i], "--scale", value)) {
            options.scale = std::atof(value.c_str());
        } else if (TakeOption(argv[i], "--kinds", value)) {
            options.kinds.clear();
            std::stringstream list(value);
            std::string name;
            while (std::getline(list, name, ',')) {
                Kind kind;
                if (!bench::KindFromName(name, kind)) {
                    std::fprintf(stderr, "unknown product kind %s\n", name.c_str());
                    return false;
                }
                options.kinds.push_back(kind);
            }
        } else if (std::strcmp(argv[i], "--verify") == 0) {
            options.verify = true;
        } else if (std::strcmp(argv[i], "--prepare") == 0) {
            options.prepareOnly = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return true;
}

/// An opened and read dataset, closed when it goes.
class OpenDataset {
public:
    explicit OpenDataset(const Product& product) : dataset_(product.files.volume.c_str()) {
        opened_ = dataset_.FileOpen(nullptr) >= 0;
        if (opened_) dataset_.FileRead();
    }
    ~OpenDataset() { dataset_.FileClose(); }
    bool opened() const { return opened_; }
    CeosAlosjDataset& operator*() { return dataset_; }
    CeosAlosjDataset* operator->() { return &dataset_; }

private:
    CeosAlosjDataset dataset_;
    bool opened_ = false;
};

long Bands(CeosAlosjDataset& dataset) { return std::max(1L, dataset.GetNumOfLayers()); }

void ReadAllRows(CeosAlosjDataset& dataset, unsigned char* data) {
    const long bands = Bands(dataset);
    const long height = dataset.GetSceneHeight();
    for (long band = 0; band < bands; ++band)
        for (long row = 0; row < height; ++row)
            dataset.GetRow(static_cast<int>(band), static_cast<unsigned long>(row), 0, &data);
}

/// Rows per second, bytes per second, and the pread calls one row takes
/// (counted in an untimed pass where the count is available).
void SetRowCounters(benchmark::State& state, const bench::PositionedReadLimit& limit, uint64_t readsPerPass) {
    const double rows = static_cast<double>(limit.Height()) * limit.Bands();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * limit.BytesPerPass()));
    state.counters["rows"] = benchmark::Counter(rows, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["reads_per_row"] = static_cast<double>(readsPerPass) / rows;
}

/// The pread calls of one call of pass, or what the limit plans where they cannot be counted.
template <class Pass>
uint64_t ReadsOfOnePass(const bench::PositionedReadLimit& limit, Pass pass) {
    const uint64_t before = bench::PositionedReadCount();
    pass();
    return bench::PositionedReadCountAvailable() ? bench::PositionedReadCount() - before : limit.ReadsPerPass();
}

void ReadAllRows(bench::PositionedReadLimit& limit, unsigned char* row, unsigned char* later) {
    for (int band = 0; band < limit.Bands(); ++band)
        for (long r = 0; r < limit.Height(); ++r) limit.ReadRow(band, r, row, later);
}

void GetRowBenchmark(benchmark::State& state, const Product* product) {
    OpenDataset dataset(*product);
    if (!dataset.opened()) {
        state.SkipWithError("the product does not open");
        return;
    }
    bench::PositionedReadLimit limit(*product);
    std::vector<unsigned char> row(static_cast<size_t>(dataset->GetSceneWidth()));
    // One pass outside the timing computes the cached dummy widths; the
    // next counts what a steady-state pass allocates and reads.
    ReadAllRows(*dataset, row.data());
    const uint64_t before = bench::AllocationCount();
    const uint64_t reads = ReadsOfOnePass(limit, [&] { ReadAllRows(*dataset, row.data()); });
    const uint64_t allocations = bench::AllocationCount() - before;

    for (auto _ : state) {
        ReadAllRows(*dataset, row.data());
        benchmark::ClobberMemory();
    }
    SetRowCounters(state, limit, reads);
    if (bench::AllocationCountAvailable())
        state.counters["allocs_per_pass"] = static_cast<double>(allocations);
}

/// Every row of every band through GetRows, 512 rows at a time.
void ReadAllRowsAtOnce(CeosAlosjDataset& dataset, std::vector<unsigned char>& rows) {
    constexpr long kRowsAtOnce = 512;
    const long width = dataset.GetSceneWidth(), height = dataset.GetSceneHeight();
    rows.resize(static_cast<size_t>(width) * kRowsAtOnce);
    for (long band = 0; band < Bands(dataset); ++band)
        for (long top = 0; top < height; top += kRowsAtOnce)
            dataset.GetRows(static_cast<int>(band), static_cast<unsigned long>(top),
                            static_cast<unsigned long>(std::min(kRowsAtOnce, height - top)), rows.data());
}

void GetRowsBenchmark(benchmark::State& state, const Product* product) {
    OpenDataset dataset(*product);
    if (!dataset.opened()) {
        state.SkipWithError("the product does not open");
        return;
    }
    bench::PositionedReadLimit limit(*product);
    std::vector<unsigned char> rows;
    ReadAllRowsAtOnce(*dataset, rows);
    const uint64_t reads = ReadsOfOnePass(limit, [&] { ReadAllRowsAtOnce(*dataset, rows); });
    for (auto _ : state) {
        ReadAllRowsAtOnce(*dataset, rows);
        benchmark::ClobberMemory();
    }
    SetRowCounters(state, limit, reads);
}

void PreadLimitBenchmark(benchmark::State& state, const Product* product) {
    bench::PositionedReadLimit limit(*product);
    std::vector<unsigned char> row(static_cast<size_t>(limit.Width()));
    std::vector<unsigned char> later(static_cast<size_t>(limit.Width()));
    const uint64_t reads = ReadsOfOnePass(limit, [&] { ReadAllRows(limit, row.data(), later.data()); });
    for (auto _ : state) {
        ReadAllRows(limit, row.data(), later.data());
        benchmark::ClobberMemory();
    }
    SetRowCounters(state, limit, reads);
}

double ThreadCpuMilliseconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// GetRow and the limit pass by pass in turn (the order swapped every
// iteration), each timed on its own: a machine whose load drifts slows both
// alike, so their ratio holds where separate runs scatter.
void PairedBenchmark(benchmark::State& state, const Product* product) {
    OpenDataset dataset(*product);
    if (!dataset.opened()) {
        state.SkipWithError("the product does not open");
        return;
    }
    bench::PositionedReadLimit limit(*product);
    std::vector<unsigned char> row(static_cast<size_t>(std::max(dataset->GetSceneWidth(), limit.Width())));
    std::vector<unsigned char> later(row.size());
    ReadAllRows(*dataset, row.data());
    ReadAllRows(limit, row.data(), later.data());

    double getRowCpu = 0.0, limitCpu = 0.0;
    bool getRowFirst = true;
    for (auto _ : state) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool getRow = (turn == 0) == getRowFirst;
            const double start = ThreadCpuMilliseconds();
            if (getRow)
                ReadAllRows(*dataset, row.data());
            else
                ReadAllRows(limit, row.data(), later.data());
            benchmark::ClobberMemory();
            (getRow ? getRowCpu : limitCpu) += ThreadCpuMilliseconds() - start;
        }
        getRowFirst = !getRowFirst;
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["getrow_ms"] = getRowCpu / iterations;
    state.counters["limit_ms"] = limitCpu / iterations;
    state.counters["of_limit"] = getRowCpu > 0 ? limitCpu / getRowCpu : 0.0;
}

void OpenReadBenchmark(benchmark::State& state, const Product* product) {
    for (auto _ : state) {
        OpenDataset dataset(*product);
        benchmark::DoNotOptimize(dataset->GetSceneWidth());
    }
}

long DescriptorLength(const Product& product) {
    return ceoswriter::ResolveImageFile(product.recipe.image, 0).recordLength;
}

void MetadataBytesBenchmark(benchmark::State& state, const Product* product) {
    const std::vector<std::string> metadata = product->MetadataFiles();
    uint64_t bytes = 0;
    for (auto _ : state) {
        bytes = bench::ReadWholeFiles(metadata) +
                bench::ReadFileHeads(product->files.images, DescriptorLength(*product));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void WholeProductBenchmark(benchmark::State& state, const Product* product) {
    const uint64_t bytes = product->TotalBytes();
    std::vector<unsigned char> row;
    for (auto _ : state) {
        OpenDataset dataset(*product);
        row.resize(static_cast<size_t>(dataset->GetSceneWidth()));
        ReadAllRows(*dataset, row.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void CatProductBenchmark(benchmark::State& state, const Product* product) {
    const std::vector<std::string> all = product->AllFiles();
    uint64_t bytes = 0;
    for (auto _ : state) bytes = bench::ReadWholeFiles(all);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void Register(const char* family, void (*function)(benchmark::State&, const Product*),
              const Product& product) {
    const std::string name = std::string(family) + "/" + bench::KindName(product.kind);
    benchmark::RegisterBenchmark(name.c_str(), function, &product)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}

// ---- verification ----------------------------------------------------------

struct ReportCounter {
    static void Handler(const CeosAlosjReport*, void* self) { ++static_cast<ReportCounter*>(self)->reports; }
    long reports = 0;
};

/// Row `row` as the writer's pixels say it must be, worked out pixel by pixel.
std::vector<unsigned char> WriterRow(const Product& product, const bench::PositionedReadLimit& limit,
                                     long row) {
    const ceoswriter::ImageLayout& image = product.recipe.image;
    const int line = static_cast<int>(row);
    std::vector<unsigned char> expected(static_cast<size_t>(limit.Width()), 0);
    auto pixel = [&](int file, int l, int p) { return ceoswriter::ImagePixel(image, file, l, p); };
    const int pixels = image.pixelsPerLine;
    switch (product.kind) {
        case Kind::Prism1B1: {
            size_t position = 0;
            for (int k = 0; k < static_cast<int>(product.files.images.size()); ++k) {
                int left = pixels, right = pixels;
                for (int l = 0; l < image.lines; ++l) {
                    left = std::min(left, image.leftDummyWidth(k, l));
                    right = std::min(right, image.rightDummyWidth(k, l));
                }
                if (k > 0) left += 32;
                for (int p = left; p < pixels - right; ++p) expected[position++] = pixel(k, line, p);
            }
            break;
        }
        case Kind::Avnir2_1B1: {
            const int left = image.leftDummyWidth(0, 0), right = image.rightDummyWidth(0, 0);
            for (int p = left; p < pixels - right; ++p) {
                const size_t k = static_cast<size_t>(p - left);
                const bool later = k % 2 == 1 && line + limit.Shift() < image.lines;
                expected[k] = pixel(0, later ? line + static_cast<int>(limit.Shift()) : line, p);
            }
            break;
        }
        case Kind::Prism1B2: {
            const int left = image.leftDummyWidth(0, line), right = image.rightDummyWidth(0, line);
            for (int p = left; p < pixels - right; ++p) expected[static_cast<size_t>(p - left)] = pixel(0, line, p);
            break;
        }
    }
    return expected;
}

bool VerifyProduct(const Product& product) {
    const char* name = bench::KindName(product.kind);
    bool ok = true;
    auto fail = [&](const std::string& what) {
        std::fprintf(stderr, "%s: %s\n", name, what.c_str());
        ok = false;
    };
    ReportCounter counter;
    void* previousData = nullptr;
    CeosAlosjReportHandler previous = CeosAlosjSetReportHandler(&ReportCounter::Handler, &counter, &previousData);

    OpenDataset dataset(product);
    bench::PositionedReadLimit limit(product);
    if (!dataset.opened()) fail("the product does not open");
    if (dataset->GetSceneWidth() != limit.Width())
        fail("scene width " + std::to_string(dataset->GetSceneWidth()) + ", the reads give " +
             std::to_string(limit.Width()));
    if (dataset->GetSceneHeight() != limit.Height()) fail("scene height differs");
    if (Bands(*dataset) != limit.Bands()) fail("band count differs");
    if (dataset->GetStaggerPixelShift() != limit.Shift()) fail("stagger shift differs");

    if (ok) {
        std::vector<unsigned char> row(static_cast<size_t>(limit.Width()));
        std::vector<unsigned char> expected(row.size());
        unsigned char* data = row.data();
        long mismatches = 0;
        for (int band = 0; band < limit.Bands(); ++band) {
            for (long r = 0; r < limit.Height(); ++r) {
                dataset->GetRow(band, static_cast<unsigned long>(r), 0, &data);
                limit.AssembleRow(band, r, expected.data());
                if (row != expected && mismatches++ < 5)
                    fail("band " + std::to_string(band) + " row " + std::to_string(r) +
                         " differs from the positioned reads");
            }
        }
        // The reads themselves against the writer's pixels: first, middle and last rows of band 0.
        for (long r : {0L, limit.Height() / 2, limit.Height() - 1}) {
            limit.AssembleRow(0, r, expected.data());
            if (expected != WriterRow(product, limit, r))
                fail("row " + std::to_string(r) + " of the positioned reads differs from the writer's pixels");
        }
        const uint64_t before = bench::AllocationCount();
        const uint64_t reads = ReadsOfOnePass(limit, [&] { ReadAllRows(*dataset, row.data()); });
        const uint64_t allocations = bench::AllocationCount() - before;
        if (allocations != 0) fail(std::to_string(allocations) + " heap allocations in a pass of GetRow");
        if (reads > limit.ReadsPerPass())
            fail(std::to_string(reads) + " pread calls in a pass of GetRow, where the limit makes only " +
                 std::to_string(limit.ReadsPerPass()));
        std::printf("%s: %ld × %ld, %d band(s), %.2f reads per row%s, %llu allocations per pass%s\n", name,
                    limit.Width(), limit.Height(), limit.Bands(),
                    static_cast<double>(reads) / (static_cast<double>(limit.Height()) * limit.Bands()),
                    bench::PositionedReadCountAvailable() ? "" : " (planned, not counted here)",
                    static_cast<unsigned long long>(allocations),
                    bench::AllocationCountAvailable() ? "" : " (not counted here)");
    }
    CeosAlosjSetReportHandler(previous, previousData, nullptr);
    if (counter.reports != 0) fail(std::to_string(counter.reports) + " reports");
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) return 2;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;

    std::map<Kind, Product> products;
    for (Kind kind : options.kinds) {
        std::fprintf(stderr, "preparing %s under %s\n", bench::KindName(kind), options.products.c_str());
        products.emplace(kind, bench::PrepareProduct(kind, options.scale, options.products));
        if (options.prepareOnly) {
            const Product& product = products.at(kind);
            const bench::PositionedReadLimit limit(product);
            std::printf("%s %s %ld %ld %d\n", bench::KindName(kind), product.files.volume.c_str(), limit.Width(),
                        limit.Height(), limit.Bands());
            continue;
        }
        // Warm the page cache: every measurement reads from memory.
        bench::ReadWholeFiles(products.at(kind).AllFiles());
    }

    if (options.prepareOnly) return 0;
    if (options.verify) {
        bool ok = true;
        for (const auto& entry : products) ok = VerifyProduct(entry.second) && ok;
        std::printf(ok ? "verified\n" : "verification FAILED\n");
        return ok ? 0 : 1;
    }

    for (const auto& entry : products) {
        const Product& product = entry.second;
        Register("GetRow", GetRowBenchmark, product);
        Register("GetRows", GetRowsBenchmark, product);
        Register("PreadLimit", PreadLimitBenchmark, product);
        Register("Paired", PairedBenchmark, product);
        Register("OpenRead", OpenReadBenchmark, product);
        Register("MetadataBytes", MetadataBytesBenchmark, product);
        Register("WholeProduct", WholeProductBenchmark, product);
        Register("CatProduct", CatProductBenchmark, product);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
