// What every benchmark here reads besides the tool: the thread's CPU clock,
// the machine's load, and the spread of the repetitions.
#pragma once

#include <benchmark/benchmark.h>

namespace vtx::bench {

// CPU seconds of the calling thread, user and system time together.
double thread_cpu_seconds();

// The machine's load average over the last minute, or -1.
double load_one_minute();

// Adds min and max to the mean, median and spread that every repetition set
// reports, so the worst run is never hidden behind an average.
benchmark::internal::Benchmark* with_spread(benchmark::internal::Benchmark* bench);

}  // namespace vtx::bench
