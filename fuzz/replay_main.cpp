// Replays fuzz inputs without libFuzzer: every file named on the command line,
// and every file in every directory named there, goes once through the
// target's entry. The test run uses it to keep each corpus, crashing inputs
// of past findings included, as a regression test.
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

bool replay(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    // A heap copy of exactly the input's size, so a read past its end is a
    // read past an allocation, as under libFuzzer.
    std::vector<uint8_t> input(bytes);
    LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::directory_iterator(path)) {
                if (entry.is_regular_file())
                    files.push_back(entry.path());
            }
        } else {
            files.push_back(path);
        }
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "no inputs to replay\n");
        return 1;
    }
    int failed = 0;
    for (const auto& file : files) {
        if (!replay(file))
            ++failed;
    }
    std::printf("replayed %zu inputs, %d unreadable\n", files.size(), failed);
    return failed == 0 ? 0 : 1;
}
