// alosj quicklook: a small contrast-stretched PNG of a product
// (QuicklookReduction), its rows read once, in order.
#include <algorithm>
#include <iostream>
#include <vector>

#include "tools/alosj/Gdal.h"
#include "tools/alosj/Product.h"
#include "tools/alosj/Progress.h"
#include "tools/alosj/Quicklook.h"

namespace alosj {

int RunQuicklook(const QuicklookOptions& options) {
    if (LowerCaseEnding(options.output) != ".png")
        throw Failure(kExitUsage, options.output + ": alosj quicklook writes PNG files, named .png");
    Product product(options.product);
    RefuseOutputInProduct(options.output, product);
    QuicklookReduction quicklook(product.Description(), product.Width(), product.Height(), options.size);
    ProgressBar bar("quicklook", false, options.product.quiet);
    ReduceQuicklook(product, quicklook, &bar);
    bar.Finish();
    const std::string what = quicklook.Write(options.output);
    std::cout << "Wrote " << options.output << " (" << what << ")\n";
    return 0;
}

}  // namespace alosj
