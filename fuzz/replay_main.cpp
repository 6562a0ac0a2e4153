// Runs a harness over saved inputs without libFuzzer, so that every build,
// whatever its compiler, replays the corpus as a test: each argument is an
// input's file or a folder of them. Fails if there is nothing to replay; a
// harness that finds a fault traps, or its sanitizer stops the process.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (!fs::is_directory(argv[i])) {
            inputs.emplace_back(argv[i]);
            continue;
        }
        // A folder that cannot be listed throws, which ends the run unpassed.
        for (fs::directory_entry const& entry : fs::directory_iterator(argv[i]))
            inputs.push_back(entry.path());
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "usage: %s INPUT|FOLDER...: no input to replay\n", argv[0]);
        return 2;
    }
    std::sort(inputs.begin(), inputs.end());  // the same order on every machine
    for (fs::path const& input : inputs) {
        std::ifstream in(input, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "%s: cannot be read\n", input.c_str());
            return 2;
        }
        std::string const bytes{std::istreambuf_iterator<char>(in), {}};
        LLVMFuzzerTestOneInput(reinterpret_cast<uint8_t const*>(bytes.data()), bytes.size());
    }
    std::printf("%zu inputs replayed\n", inputs.size());
    return 0;
}
