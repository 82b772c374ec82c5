#include "bench/measure.h"

#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace vtx::bench {

double thread_cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

double load_one_minute() {
    double load[1] = {};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

benchmark::internal::Benchmark* with_spread(benchmark::internal::Benchmark* bench) {
    return bench
        ->ComputeStatistics(
            "min",
            [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
        ->ComputeStatistics("max", [](const std::vector<double>& v) {
            return *std::max_element(v.begin(), v.end());
        });
}

}  // namespace vtx::bench
