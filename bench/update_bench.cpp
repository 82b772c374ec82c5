// The tool's own cost of a full update: a bridge in its main firmware gets the
// rescue image, the firmware image, the LED image and the parameters, with
// both restarts. The update runs once on the simulated bridge with every
// platform call recorded; the measured runs replay those answers, so only the
// tool's code runs between the two clock reads around each update (the
// replay's own work, a few compares and the copy of the data read back, is
// counted as the tool's). The bus time the same commands would take on USB 3
// is modelled from the recording: 400 MB/s of data and 125 us per command.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/first_update.h"
#include "bench/heap_counter.h"
#include "bench/measure.h"
#include "bench/replay.h"
#include "tools/imagemaker/image_builder.h"
#include "update/sequencer.h"

namespace vtx::bench {
namespace {

namespace im = imagemaker;
namespace fs = std::filesystem;

constexpr double BUS_BYTES_PER_SECOND = 400e6;
constexpr double BUS_SECONDS_PER_COMMAND = 125e-6;
constexpr int REPETITIONS = 15;

struct UpdateFiles {
    std::string bin, rescue, led, cfg, recording;
};

UpdateFiles files_in(const fs::path& dir) {
    return {(dir / "fw_v2.0.0_250301.bin").string(), (dir / "rescue.bin").string(),
            (dir / "led.bin").string(), (dir / "bridge.cfg").string(),
            (dir / "recording.bin").string()};
}

int update_with(const UpdateFiles& files) {
    return fw_update("\\\\.\\PhysicalDrive1", files.bin.c_str(), files.rescue.c_str(),
                     files.cfg.c_str(), files.led.c_str());
}

double bus_seconds(const Recording& recording) {
    return double(recording.command_bytes) / BUS_BYTES_PER_SECOND +
           double(recording.commands) * BUS_SECONDS_PER_COMMAND;
}

// Writes the update's files and records the update on a bridge that runs an
// older main firmware; false when the recorded update failed.
bool prepare(const fs::path& dir, uint32_t firmware_body, uint32_t rescue_body,
             Recording& recording) {
    InPlatform setup;  // none of this is the tool's
    fs::create_directories(dir);
    const UpdateFiles files = files_in(dir);
    im::ImageRecipe firmware = im::firmware_recipe(13, {2, 0, 0, 0, 20250301});
    firmware.body_size = firmware_body;
    im::ImageRecipe rescue = im::rescue_recipe(13);
    rescue.body_size = rescue_body;
    im::write_binary_file(files.bin, im::build_firmware_image(firmware));
    im::write_binary_file(files.rescue, im::build_firmware_image(rescue));
    im::write_binary_file(files.led, im::build_led_image({}));
    const std::string cfg = "VID = 0x1D6B\nPID = 0x0105\nSCSI_VENDOR = \"Vantrex\"\n";
    im::write_binary_file(files.cfg, std::vector<uint8_t>(cfg.begin(), cfg.end()));

    RecordingSim layer;
    sim::BridgeConfig config;
    config.boot_seconds = 0;
    layer.add_bridge(config).install_image(im::build_firmware_image(im::firmware_recipe(13)));
    platform_install(&layer);
    const int result = update_with(files);
    platform_install(nullptr);
    recording = std::move(layer.recording);
    return result == 0 && save_recording(recording, files.recording);
}

fs::path bench_dir(const benchmark::State& state) {
    return fs::temp_directory_path() /
           ("vtx-bench-" + std::to_string(getpid()) + "-" + std::to_string(state.range(0)) + "-" +
            std::to_string(state.range(1)));
}

void report(benchmark::State& state, double tool_s, const Recording& recording, size_t peak_heap) {
    const double n = double(state.iterations());
    if (n == 0)
        return;
    using benchmark::Counter;
    const double bus_s = bus_seconds(recording);
    state.counters["tool_ms"] = Counter(tool_s / n * 1e3);
    state.counters["bus_ms"] = Counter(bus_s * 1e3);
    state.counters["tool/bus"] = Counter(tool_s / n / bus_s);
    state.counters["peak_heap_KiB"] = Counter(double(peak_heap) / 1024);
    state.counters["commands"] = Counter(double(recording.commands));
    state.counters["bus_MiB"] = Counter(double(recording.command_bytes) / (1 << 20));
    state.counters["load1"] = Counter(load_one_minute());
}

// Many updates in one process: the steady cost, caches warm.
void BM_FullUpdate(benchmark::State& state) {
    const fs::path dir = bench_dir(state);
    Recording recording;
    if (!prepare(dir, uint32_t(state.range(0)), uint32_t(state.range(1)), recording)) {
        state.SkipWithError("the recorded update failed");
        return;
    }
    const UpdateFiles files = files_in(dir);
    ReplayPlatform replay(recording);
    double tool_s = 0;
    size_t peak_heap = 0;
    for (auto _ : state) {
        replay.rewind();
        platform_install(&replay);
        const size_t heap_base = tool_heap_now();
        reset_tool_heap_peak();
        const double start = thread_cpu_seconds();
        const int result = update_with(files);
        const double cpu = thread_cpu_seconds() - start;
        platform_install(nullptr);
        if (result != 0 || !replay.replayed_whole()) {
            state.SkipWithError("the replayed update went another way");
            break;
        }
        state.SetIterationTime(cpu);
        tool_s += cpu;
        peak_heap = std::max(peak_heap, tool_heap_peak() - heap_base);
    }
    fs::remove_all(dir);
    report(state, tool_s, recording, peak_heap);
}

std::string own_path() {
    std::error_code error;
    return fs::read_symlink("/proc/self/exe", error).string();
}

// One update per process, as a real run does: the CRC table is built and the
// CRC path chosen inside the measured time, code and data are touched for the
// first time. The image files are in the page cache, as they would be right
// after they were copied to the machine.
void BM_FirstUpdate(benchmark::State& state) {
    const fs::path dir = bench_dir(state);
    Recording recording;
    if (!prepare(dir, uint32_t(state.range(0)), uint32_t(state.range(1)), recording)) {
        state.SkipWithError("the recorded update failed");
        return;
    }
    // Paths under the temporary directory hold no quote.
    std::string command = "'";
    command.append(own_path()).append("' ").append(FIRST_UPDATE_FLAG);
    command.append(" '").append(dir.string()).append("'");
    double tool_s = 0;
    for (auto _ : state) {
        std::FILE* child = popen(command.c_str(), "r");
        double cpu = -1;
        const bool read = child && std::fscanf(child, "%lf", &cpu) == 1;
        const bool ended = child && pclose(child) == 0;
        if (!read || !ended || cpu < 0) {
            state.SkipWithError("the update in a fresh process failed");
            break;
        }
        state.SetIterationTime(cpu);
        tool_s += cpu;
    }
    fs::remove_all(dir);
    report(state, tool_s, recording, 0);
    state.counters.erase("peak_heap_KiB");  // not measured across processes
}

// Firmware body and rescue body: 1 MiB and 256 KiB, then a quarter of that
// and half as much again, to show that the heap does not follow the images.
void update_sizes(benchmark::internal::Benchmark* bench) {
    bench->Args({1 << 20, 256 << 10})->Args({256 << 10, 64 << 10})->Args({3 << 19, 512 << 10});
}

BENCHMARK(BM_FullUpdate)
    ->Apply(update_sizes)
    ->Apply([](auto* b) { with_spread(b); }) -> Repetitions(REPETITIONS)
        -> ReportAggregatesOnly(true) -> UseManualTime() -> Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstUpdate)
    ->Args({1 << 20, 256 << 10})
    ->Apply([](auto* b) { with_spread(b); }) -> Iterations(1) -> Repetitions(REPETITIONS)
        -> ReportAggregatesOnly(true) -> UseManualTime() -> Unit(benchmark::kMillisecond);

}  // namespace

int first_update_child(int argc, char** argv) {
    if (argc != 3)
        return 1;
    const UpdateFiles files = files_in(argv[2]);
    Recording recording;
    if (!load_recording(files.recording, recording))
        return 1;
    ReplayPlatform replay(recording);
    platform_install(&replay);
    const double start = thread_cpu_seconds();
    const int result = update_with(files);
    const double cpu = thread_cpu_seconds() - start;
    platform_install(nullptr);
    if (result != 0 || !replay.replayed_whole())
        return 1;
    std::printf("%.9f\n", cpu);
    return 0;
}

}  // namespace vtx::bench
