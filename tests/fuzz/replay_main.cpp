// A fuzz driver without libFuzzer: runs LLVMFuzzerTestOneInput once on every file named on the
// command line, or found in a folder named there, in name order. Every build replays the seeds
// and the kept regressions this way; a failed check aborts, as it does under libFuzzer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    for (int a = 1; a < argc; ++a) {
        const fs::path named(argv[a]);
        if (!fs::is_directory(named)) {
            inputs.push_back(named);
            continue;
        }
        std::vector<fs::path> listed;
        for (const auto& entry : fs::directory_iterator(named)) {
            if (entry.is_regular_file() && entry.path().extension() != ".md")
                listed.push_back(entry.path());
        }
        std::sort(listed.begin(), listed.end());
        inputs.insert(inputs.end(), listed.begin(), listed.end());
    }
    for (const fs::path& input : inputs) {
        std::ifstream file(input, std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "cannot read %s\n", input.c_str());
            return 1;
        }
        const std::vector<char> bytes{std::istreambuf_iterator<char>(file),
                                      std::istreambuf_iterator<char>()};
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("replay: %zu passed, 0 failed\n", inputs.size());
    return 0;
}
