// The part of the output rule that needs no OS call.
#include "tools/outfile/replace_file.h"

namespace vtx::outfile {

bool replace_file_apart_from(const std::string& path, const std::string& input, const void* data,
                             std::size_t size, std::string& error) {
    if (same_file(path, input)) {
        error = "it is the same file as the input " + input + "; nothing written";
        return false;
    }
    return replace_file(path, data, size, error);
}

}  // namespace vtx::outfile
