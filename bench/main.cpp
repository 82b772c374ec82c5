#include <benchmark/benchmark.h>

#include <cstring>

#include "bench/first_update.h"

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], vtx::bench::FIRST_UPDATE_FLAG) == 0)
        return vtx::bench::first_update_child(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
