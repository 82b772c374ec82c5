// The scan for bridges among USB disks that are none: each such disk must cost
// the bus one INQUIRY and nothing more, however many there are. Counted on the
// simulated bridge's trace of the last scan; the time includes the simulation.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

#include "bench/measure.h"
#include "device/discovery.h"
#include "sim/sim.h"

namespace vtx::bench {
namespace {

constexpr uint8_t OP_INQUIRY = 0x12;

std::string drive_path(int index) {
    return "\\\\.\\PhysicalDrive" + std::to_string(index);
}

void BM_ScanNonBridgeDisks(benchmark::State& state) {
    const int disks = int(state.range(0));
    sim::SimPlatform layer;
    layer.add_bridge(sim::BridgeConfig{});  // on PhysicalDrive1
    for (int i = 0; i < disks; ++i) {
        sim::DiskConfig disk;
        disk.path = drive_path(2 + i);
        layer.add_disk(disk);
    }
    platform_install(&layer);
    bool found = true;
    for (auto _ : state) {
        layer.clear_trace();
        DeviceEntry* list = dev_scan();
        found = found && list != nullptr;
        dev_free_list(list);
    }
    platform_install(nullptr);
    if (!found)
        state.SkipWithError("the scan missed the bridge");

    long fewest = -1, most = 0;
    for (int i = 0; i < disks; ++i) {
        const long inquiries = std::count_if(
            layer.trace().begin(), layer.trace().end(), [&](const sim::TraceEntry& entry) {
                return entry.device == drive_path(2 + i) && entry.cdb[0] == OP_INQUIRY;
            });
        const long others = long(std::count_if(layer.trace().begin(), layer.trace().end(),
                                               [&](const sim::TraceEntry& entry) {
                                                   return entry.device == drive_path(2 + i);
                                               })) -
                            inquiries;
        fewest = fewest < 0 ? inquiries : std::min(fewest, inquiries);
        most = std::max(most, inquiries + others);
    }
    using benchmark::Counter;
    state.counters["inquiries_per_disk_min"] = Counter(double(fewest));
    state.counters["commands_per_disk_max"] = Counter(double(most));
    state.counters["commands"] = Counter(double(layer.trace().size()));
    state.counters["load1"] = Counter(load_one_minute());
}

BENCHMARK(BM_ScanNonBridgeDisks)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vtx::bench
