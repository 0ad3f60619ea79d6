// Runs a fuzz target's entry point over a corpus without libFuzzer, so that
// the normal test suite replays every seed and every saved regression input.
//
//   fuzzreg_<target> CORPUS [MORE...]
//
// CORPUS must be a directory holding at least one input; each further
// argument is a directory or a single input and may be missing (a target
// without saved regressions has no directory for them).  Files are run in
// name order.  A failing input aborts the process, naming the input first.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> InputsOf(const fs::path& path) {
    std::vector<fs::path> inputs;
    std::error_code error;
    if (fs::is_directory(path, error)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(path, error))
            if (entry.is_regular_file(error)) inputs.push_back(entry.path());
        std::sort(inputs.begin(), inputs.end());
    } else if (fs::is_regular_file(path, error)) {
        inputs.push_back(path);
    }
    return inputs;
}

bool RunInput(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    std::fprintf(stderr, "running %s (%zu bytes)\n", path.string().c_str(), bytes.size());
    // A copy of exactly the input's size, as libFuzzer hands it over.
    std::vector<uint8_t> data(bytes.begin(), bytes.end());
    static uint8_t none;
    LLVMFuzzerTestOneInput(data.empty() ? &none : data.data(), data.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS [MORE...]\n", argv[0]);
        return 2;
    }
    const std::vector<fs::path> corpus = InputsOf(argv[1]);
    std::error_code error;
    if (!fs::is_directory(argv[1], error) || corpus.empty()) {
        std::fprintf(stderr, "%s: the corpus %s is missing or empty\n", argv[0], argv[1]);
        return 1;
    }
    size_t ran = 0;
    for (int a = 1; a < argc; ++a) {
        for (const fs::path& input : a == 1 ? corpus : InputsOf(argv[a])) {
            if (!RunInput(input)) return 1;
            ++ran;
        }
    }
    std::fprintf(stderr, "%s: ran %zu inputs\n", argv[0], ran);
    return 0;
}
