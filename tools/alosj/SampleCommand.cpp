// alosj sample: a synthetic product written by the product writer.
#include <cctype>
#include <filesystem>
#include <iostream>

#include "tools/alosj/Cli.h"
#include "tools/writer/SampleScene.h"

namespace fs = std::filesystem;

namespace alosj {

int RunSample(const SampleOptions& options) {
    ceoswriter::SampleOptions sample;
    sample.sensor = options.sensor == "avnir2" ? ceoswriter::Sensor::Avnir2 : ceoswriter::Sensor::Prism;
    sample.level = options.level == "1A" ? 0 : options.level == "1B1" ? 1 : 2;
    sample.size = options.size == "full" ? ceoswriter::SampleSize::Full : ceoswriter::SampleSize::Small;

    std::error_code error;
    fs::create_directories(options.directory, error);
    if (error || !fs::is_directory(options.directory))
        throw Failure(kExitFailure, options.directory + ": cannot make the directory" +
                                        (error ? ": " + error.message() : std::string()));
    // Never mix two products in one directory, nor overwrite one.
    for (fs::directory_iterator it(options.directory, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (name.rfind("VOL-AL", 0) == 0)
            throw Failure(kExitFailure, options.directory + ": already holds a product (" +
                                            it->path().filename().string() + "); choose an empty directory");
    }

    const ceoswriter::SampleScene scene(sample);
    ceoswriter::ProductFiles files;
    try {
        files = ceoswriter::WriteProduct(options.directory, scene.Product());
    } catch (const std::exception& e) {
        throw Failure(kExitFailure, options.directory + ": cannot write the sample: " + e.what());
    }
    std::cout << "Wrote a synthetic " << (sample.sensor == ceoswriter::Sensor::Prism ? "PRISM" : "AVNIR-2")
              << " Level " << options.level << " product (" << scene.Width() << " x " << scene.Height()
              << " pixels, " << ceoswriter::SampleScene::PlaceName() << "):\n  " << files.volume << "\n";
    return 0;
}

}  // namespace alosj
