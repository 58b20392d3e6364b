// Runs a fuzz target on saved inputs without libFuzzer: each argument is a file or a folder of
// files (taken in name order). The ordinary build uses it to replay the committed corpora as
// tests; a failed check aborts, so a regression input fails its test.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz/FuzzCheck.h"

namespace {

bool Replay(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    // A copy of exactly the input's size, so that a read past its end is caught as under libFuzzer.
    const std::vector<uint8_t> input(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::filesystem::path> inputs;
        std::error_code error;
        if (std::filesystem::is_directory(argv[i], error)) {
            for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
                if (entry.is_regular_file()) inputs.push_back(entry.path());
            }
            std::sort(inputs.begin(), inputs.end());
        } else {
            inputs.emplace_back(argv[i]);
        }
        for (const auto& input : inputs) {
            if (!Replay(input)) return 1;
            ++replayed;
        }
    }
    std::printf("%zu inputs replayed\n", replayed);
    // An empty or missing corpus would make the test pass without testing anything.
    return replayed > 0 ? 0 : 1;
}
