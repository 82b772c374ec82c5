// The tool's own cost of a full update: a bridge in its main firmware gets the
// rescue image, the firmware image, the LED image and the parameters, with
// both restarts. The simulated bridge answers at once; every moment and every
// byte of heap it spends inside a platform call is its own and is kept apart,
// so what remains is the tool's. The bus time the same commands would take on
// USB 3 is modelled from the trace: 400 MB/s of data and 125 us per command.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "bench/crc_slicing.h"
#include "bench/heap_counter.h"
#include "sim/sim.h"
#include "tools/imagemaker/image_builder.h"
#include "update/sequencer.h"

namespace vtx::bench {
namespace {

namespace im = imagemaker;

constexpr double BUS_BYTES_PER_SECOND = 400e6;
constexpr double BUS_SECONDS_PER_COMMAND = 125e-6;

// The simulated bridge with a stopwatch on the thread's CPU time: what is
// spent in the outermost platform call is the simulation's, not the tool's.
class MeasuredSim : public sim::SimPlatform {
  public:
    double seconds = 0;
    long calls = 0;

    OsHandle open_device(const char* path) override {
        Span span(*this);
        return SimPlatform::open_device(path);
    }
    bool close_device(OsHandle handle) override {
        Span span(*this);
        return SimPlatform::close_device(handle);
    }
    bool pass_through(OsHandle handle, ScsiCommand& command) override {
        Span span(*this);
        return SimPlatform::pass_through(handle, command);
    }
    int last_error() override {
        Span span(*this);
        return SimPlatform::last_error();
    }
    std::string candidate_path(int pass, int index) override {
        Span span(*this);
        return SimPlatform::candidate_path(pass, index);
    }
    bool is_usb(OsHandle handle) override {
        Span span(*this);
        return SimPlatform::is_usb(handle);
    }
    void pause_ms(unsigned milliseconds) override {
        Span span(*this);
        SimPlatform::pause_ms(milliseconds);
    }
    double monotonic_seconds() override {
        Span span(*this);
        return SimPlatform::monotonic_seconds();
    }

  private:
    struct Span {
        explicit Span(MeasuredSim& owner) : sim(owner) {
            if (sim.depth_++ == 0)
                start = thread_cpu_seconds();
        }
        ~Span() {
            if (--sim.depth_ == 0) {
                sim.seconds += thread_cpu_seconds() - start;
                ++sim.calls;
            }
        }
        MeasuredSim& sim;
        InPlatform heap;
        double start = 0;
    };
    int depth_ = 0;
};

struct UpdateFiles {
    std::string bin, rescue, led, cfg;
    std::vector<uint8_t> old_firmware;
    uint64_t crc_bytes = 0;  // payload bytes the update runs through the CRC
};

UpdateFiles make_files(const std::filesystem::path& dir, uint32_t firmware_body,
                       uint32_t rescue_body) {
    std::filesystem::create_directories(dir);
    UpdateFiles files;
    im::ImageSpec firmware = im::firmware_spec(13, {2, 0, 0, 0, 20250301});
    firmware.body_size = firmware_body;
    im::ImageSpec rescue = im::rescue_spec(13);
    rescue.body_size = rescue_body;
    files.bin = (dir / "fw_v2.0.0_250301.bin").string();
    files.rescue = (dir / "rescue.bin").string();
    files.led = (dir / "led.bin").string();
    files.cfg = (dir / "bridge.cfg").string();
    im::write_binary_file(files.bin, im::build_firmware_image(firmware));
    im::write_binary_file(files.rescue, im::build_firmware_image(rescue));
    im::write_binary_file(files.led, im::build_led_image({}));
    std::FILE* cfg = std::fopen(files.cfg.c_str(), "w");
    if (cfg) {
        std::fputs("VID = 0x1D6B\nPID = 0x0105\nSCSI_VENDOR = \"Vantrex\"\n", cfg);
        std::fclose(cfg);
    }
    files.old_firmware = im::build_firmware_image(im::firmware_spec(13));
    // Every header read checks the payload: the firmware image in its check,
    // its download, the header write after it and the final restart; the
    // rescue image in its check, its download and the first restart.
    files.crc_bytes = 4ull * firmware_body + 3ull * rescue_body;
    return files;
}

void BM_FullUpdate(benchmark::State& state) {
    const auto firmware_body = uint32_t(state.range(0));
    const auto rescue_body = uint32_t(state.range(1));
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        ("vtx-bench-" + std::to_string(firmware_body) + "-" + std::to_string(rescue_body));
    const UpdateFiles files = make_files(dir, firmware_body, rescue_body);

    double tool_s = 0, sim_s = 0, bus_s = 0;
    size_t peak_heap = 0, platform_calls = 0, commands = 0;
    uint64_t bus_bytes = 0;
    for (auto _ : state) {
        std::optional<MeasuredSim> layer;
        {
            InPlatform setup;  // the bridge's own memory is the simulation's
            layer.emplace();
            sim::BridgeConfig config;
            config.boot_seconds = 0;
            layer->add_bridge(config).install_image(files.old_firmware);
        }
        platform_install(&*layer);
        const size_t heap_base = tool_heap_now();
        reset_tool_heap_peak();
        const double start = thread_cpu_seconds();
        int result = fw_update("\\\\.\\PhysicalDrive1", files.bin.c_str(), files.rescue.c_str(),
                               files.cfg.c_str(), files.led.c_str());
        const double cpu = thread_cpu_seconds() - start;
        platform_install(nullptr);
        if (result != 0) {
            state.SkipWithError("the update failed");
            break;
        }
        state.SetIterationTime(cpu - layer->seconds);
        tool_s += cpu - layer->seconds;
        sim_s += layer->seconds;
        peak_heap = std::max(peak_heap, tool_heap_peak() - heap_base);
        platform_calls = size_t(layer->calls);
        commands = layer->trace().size();
        bus_bytes = 0;
        for (const sim::TraceEntry& entry : layer->trace())
            bus_bytes += entry.length;
        bus_s =
            double(bus_bytes) / BUS_BYTES_PER_SECOND + double(commands) * BUS_SECONDS_PER_COMMAND;
        InPlatform teardown;
        layer.reset();
    }
    std::filesystem::remove_all(dir);

    const double n = double(state.iterations());
    if (n == 0)
        return;
    using benchmark::Counter;
    state.counters["tool_ms"] = Counter(tool_s / n * 1e3);
    state.counters["sim_ms"] = Counter(sim_s / n * 1e3);
    state.counters["bus_ms"] = Counter(bus_s * 1e3);
    state.counters["tool/bus"] = Counter(tool_s / n / bus_s);
    state.counters["peak_heap_KiB"] = Counter(double(peak_heap) / 1024);
    state.counters["commands"] = Counter(double(commands));
    state.counters["bus_MiB"] = Counter(double(bus_bytes) / (1 << 20));
    // The CRC's share at the byte-wise table's speed, and the tool's time
    // if the same bytes went through slicing-by-8 instead.
    const CrcSpeeds speeds = measure_crc_speeds();
    const double crc_s = double(files.crc_bytes) * speeds.table_seconds_per_byte;
    const double slice8_s = double(files.crc_bytes) * speeds.slice8_seconds_per_byte;
    const double slice16_s = double(files.crc_bytes) * speeds.slice16_seconds_per_byte;
    state.counters["crc_MiB"] = Counter(double(files.crc_bytes) / (1 << 20));
    state.counters["crc_ms"] = Counter(crc_s * 1e3);
    state.counters["tool/bus_slice8"] = Counter((tool_s / n - crc_s + slice8_s) / bus_s);
    state.counters["tool/bus_slice16"] = Counter((tool_s / n - crc_s + slice16_s) / bus_s);
    state.counters["platform_calls"] = Counter(double(platform_calls));
}

// Firmware body and rescue body: 1 MiB and 256 KiB, then a quarter of that
// and half as much again, to show that the heap does not follow the images.
BENCHMARK(BM_FullUpdate)
    ->Args({1 << 20, 256 << 10})
    ->Args({256 << 10, 64 << 10})
    ->Args({(3 << 20) / 2, 512 << 10})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vtx::bench
