#include "tests/support/support.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <random>

namespace vtx::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    static std::atomic<unsigned> serial{0};
    std::random_device random;
    for (;;) {
        fs::path candidate = fs::temp_directory_path() / ("vtx-test-" + std::to_string(random()) +
                                                          "-" + std::to_string(serial++));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = candidate;
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code error;
    fs::remove_all(path_, error);
}

std::string TempDir::write(const std::string& name, const std::string& text) const {
    std::string full = file(name);
    std::ofstream(full, std::ios::binary) << text;
    return full;
}

std::string TempDir::write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::string full = file(name);
    std::ofstream out(full, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return full;
}

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

CapturedStream::CapturedStream() : file_(std::tmpfile()) {}

CapturedStream::~CapturedStream() {
    if (file_)
        std::fclose(file_);
}

std::string CapturedStream::text() const {
    std::fflush(file_);
    long end = std::ftell(file_);
    std::string result(size_t(end > 0 ? end : 0), '\0');
    std::rewind(file_);
    size_t got = std::fread(result.data(), 1, result.size(), file_);
    result.resize(got);
    std::fseek(file_, 0, SEEK_END);
    return result;
}

InputStream::InputStream(const std::string& text) : file_(std::tmpfile()) {
    std::fwrite(text.data(), 1, text.size(), file_);
    std::rewind(file_);
}

InputStream::~InputStream() {
    if (file_)
        std::fclose(file_);
}

}  // namespace vtx::test
