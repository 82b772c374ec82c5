// Small helpers of the simulation: the names a bridge goes by.
#include <cctype>

#include "sim/sim_internal.h"

namespace vtx::sim {

namespace detail {

bool same_path(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(uint8_t(a[i])) != std::tolower(uint8_t(b[i])))
            return false;
    }
    return true;
}

bool is_volume_path(const std::string& path) {
    return path.size() == 6 && path.compare(0, 4, "\\\\.\\") == 0 &&
           std::isalpha(uint8_t(path[4])) && path[5] == ':';
}

int family_of(const std::string& revision, const std::string& model) {
    static const char* const family0_revisions[] = {"1.00", "2.00"};
    static const char* const family1_revisions[] = {"1.01", "2.01", "1.02", "2.02"};
    // The INQUIRY field holds four characters, cut or padded with blanks.
    std::string field = (revision + "    ").substr(0, 4);
    for (const char* r : family0_revisions) {
        if (field == r)
            return 0;
    }
    for (const char* r : family1_revisions) {
        if (field == r)
            return 1;
    }
    if (model == "VTX4500")
        return 0;
    if (model == "VTX4600" || model == "VTX4700")
        return 1;
    return -1;
}

}  // namespace detail

}  // namespace vtx::sim
