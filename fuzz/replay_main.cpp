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

// The regular files of a directory. False when it cannot be read whole: a
// corpus half read would pass with inputs left out.
bool list_directory(const std::filesystem::path& path, std::vector<std::filesystem::path>& files) {
    std::error_code error;
    std::filesystem::directory_iterator entry(path, error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        std::error_code type_error;
        if (entry->is_regular_file(type_error))
            files.push_back(entry->path());
    }
    if (error)
        std::fprintf(stderr, "cannot list %s: %s\n", path.string().c_str(),
                     error.message().c_str());
    return !error;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> files;
    int failed = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path path(argv[i]);
        std::error_code error;
        if (!std::filesystem::is_directory(path, error))
            files.push_back(path);
        else if (!list_directory(path, files))
            ++failed;
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "no inputs to replay\n");
        return 1;
    }
    for (const auto& file : files) {
        if (!replay(file))
            ++failed;
    }
    std::printf("replayed %zu inputs, %d unreadable\n", files.size(), failed);
    return failed == 0 ? 0 : 1;
}
