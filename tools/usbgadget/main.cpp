// vtx_usbgadget: presents the simulated bridge (or a plain disk) to the
// Linux USB stack as a Bulk-Only mass-storage device through a configfs
// gadget with one FunctionFS function. Runs as root inside the test VM.
//
//   vtx_usbgadget [--udc UDC] [--name NAME] [--trace FILE] [--ready FILE]
//                 (--state FILE [--description FILE] [--swallow OP[:SUB[:SKIP[:COUNT]]]]...
//                  | --disk)
//   vtx_usbgadget --state FILE --query CDB-HEX --in LENGTH
//
// The second form runs one command through the same SCSI target without USB
// and writes the reply bytes to standard output, so that a third-party
// client's view can be compared with the emulator's own.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/usbgadget/gadget_tree.h"
#include "tools/usbgadget/sim_backend.h"
#include "tools/usbgadget/transport.h"

namespace {

using namespace vtx::gadget;

struct Options {
    std::string udc = "dummy_udc.0";
    std::string name = "vtx0";
    std::string state;
    std::string description;
    std::string trace;
    std::string ready;
    std::string query;
    std::vector<std::string> swallow;
    uint32_t query_length = 0;
    bool disk = false;
};

void usage() {
    std::fputs(
        "usage: vtx_usbgadget [--udc UDC] [--name NAME] [--trace FILE] [--ready FILE]\n"
        "                     (--state FILE [--description FILE]\n"
        "                      [--swallow OP[:SUB[:SKIP[:COUNT]]]]... | --disk)\n"
        "       vtx_usbgadget --state FILE --query CDB-HEX --in LENGTH\n",
        stderr);
}

bool parse_options(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--disk") {
            options.disk = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        std::string value = argv[++i];
        if (arg == "--udc")
            options.udc = value;
        else if (arg == "--name")
            options.name = value;
        else if (arg == "--state")
            options.state = value;
        else if (arg == "--description")
            options.description = value;
        else if (arg == "--trace")
            options.trace = value;
        else if (arg == "--ready")
            options.ready = value;
        else if (arg == "--swallow")
            options.swallow.push_back(value);
        else if (arg == "--query")
            options.query = value;
        else if (arg == "--in")
            options.query_length = uint32_t(std::strtoul(value.c_str(), nullptr, 0));
        else
            return false;
    }
    return options.disk != !options.state.empty();
}

bool parse_cdb(const std::string& hex, Command& command) {
    if (hex.size() % 2 != 0 || hex.size() < 2 || hex.size() > 32)
        return false;
    for (size_t i = 0; i < hex.size(); i += 2) {
        char* end = nullptr;
        std::string pair = hex.substr(i, 2);
        command.cdb[i / 2] = uint8_t(std::strtoul(pair.c_str(), &end, 16));
        if (*end != '\0')
            return false;
    }
    command.cdb_length = uint8_t(hex.size() / 2);
    return true;
}

const char* status_name(Status status) {
    switch (status) {
        case Status::kGood:
            return "good";
        case Status::kCheckCondition:
            return "check";
        case Status::kPhaseError:
            return "phase-error";
        default:
            return "swallowed";
    }
}

// One line per command: sequence, CDB in hex, direction, host length,
// outcome, bytes returned.
class CommandLog {
  public:
    explicit CommandLog(const std::string& path)
        : file_(path.empty() ? nullptr : std::fopen(path.c_str(), "a")) {}
    ~CommandLog() {
        if (file_)
            std::fclose(file_);
    }
    void add(const Command& command, const Reply& reply) {
        if (!file_)
            return;
        std::lock_guard<std::mutex> lock(mutex_);
        std::fprintf(file_, "%lu ", ++count_);
        for (int i = 0; i < command.cdb_length; ++i)
            std::fprintf(file_, "%02x", command.cdb[i]);
        std::fprintf(file_, " %s %u %s %zu\n", command.data_in ? "in" : "out", command.length,
                     status_name(reply.status), reply.data.size());
        std::fflush(file_);
    }

  private:
    std::FILE* file_;
    std::mutex mutex_;
    unsigned long count_ = 0;
};

// The blank medium the kernel's own commands see: a small disk, or for the
// bridge that presents a CD-ROM, a small disc of 2048-byte blocks.
Medium medium_for(const SimBackend* sim) {
    Medium medium;
    if (sim != nullptr && sim->optical()) {
        medium.device_type = 5;
        medium.block_length = 2048;
        medium.block_count = 4096;
    }
    return medium;
}

int run_query(const Options& options, ScsiTarget& target) {
    Command command;
    if (!parse_cdb(options.query, command)) {
        std::fprintf(stderr, "vtx_usbgadget: --query wants 1 to 16 bytes in hex\n");
        return 2;
    }
    command.data_in = true;
    command.length = options.query_length;
    Reply reply = target.execute(command);
    std::fwrite(reply.data.data(), 1, reply.data.size(), stdout);
    if (reply.status == Status::kCheckCondition) {
        std::fprintf(stderr, "sense ");
        for (uint8_t byte : reply.sense)
            std::fprintf(stderr, "%02x", byte);
        std::fprintf(stderr, "\n");
    }
    return reply.status == Status::kGood ? 0 : 1;
}

void interrupted(int) {}

// Waits until `until` or until the gadget stops; false when it stops.
bool wait_until(std::chrono::steady_clock::time_point until, const BulkOnlyTransport& transport) {
    while (std::chrono::steady_clock::now() < until && !transport.stopping()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return !transport.stopping();
}

void off_the_bus(GadgetTree& tree, SimBackend* sim, BulkOnlyTransport& transport) {
    using namespace std::chrono;
    const double seconds = sim ? sim->boot_seconds() : 0;
    const auto start = steady_clock::now();
    // The status of the restart command is on its way; leaving the bus at
    // once would let the host see the disconnect before it, as no bridge
    // does. Its boot time counts from the command all the same.
    if (!wait_until(start + milliseconds(250), transport))
        return;
    std::string error;
    if (!tree.unbind(error))
        std::fprintf(stderr, "vtx_usbgadget: unbind: %s\n", error.c_str());
    std::fprintf(stderr, "vtx_usbgadget: restarting, off the bus for %.1f s\n", seconds);
    if (seconds < 0)
        return;  // a bridge that never comes back
    if (!wait_until(start + milliseconds(long(seconds * 1000)), transport))
        return;
    if (sim && !sim->come_back(error)) {
        std::fprintf(stderr, "vtx_usbgadget: %s\n", error.c_str());
        return;
    }
    if (!tree.bind(error))
        std::fprintf(stderr, "vtx_usbgadget: bind: %s\n", error.c_str());
    std::fprintf(stderr, "vtx_usbgadget: back on the bus\n");
}

int serve(const Options& options, ScsiTarget& target, SimBackend* sim, const sigset_t& stops) {
    CommandLog log(options.trace);
    GadgetTree tree(options.name, options.udc);
    FunctionFs function;
    std::string error;
    if (!tree.create(GadgetIdentity{}, error) || !function.open(tree.function_mount(), error)) {
        std::fprintf(stderr, "vtx_usbgadget: %s\n", error.c_str());
        return 1;
    }
    std::unique_ptr<BulkOnlyTransport> transport;
    TransportHooks hooks;
    hooks.trace = [&log](const Command& c, const Reply& r) { log.add(c, r); };
    hooks.restart = [&] { off_the_bus(tree, sim, *transport); };
    transport = std::make_unique<BulkOnlyTransport>(function, target, hooks);
    transport->start();
    if (!tree.bind(error)) {
        std::fprintf(stderr, "vtx_usbgadget: bind %s: %s\n", options.udc.c_str(), error.c_str());
        return 1;
    }
    if (!options.ready.empty()) {
        if (std::FILE* f = std::fopen(options.ready.c_str(), "w"))
            std::fclose(f);
    }
    int signal_number = 0;
    sigwait(&stops, &signal_number);
    transport->stop();
    tree.remove();
    function.close();
    if (sim)
        sim->save();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse_options(argc, argv, options)) {
        usage();
        return 2;
    }
    // The stop signals are taken with sigwait, so every thread must block
    // them; SIGUSR1 only breaks a thread out of blocking endpoint I/O.
    sigset_t stops;
    sigemptyset(&stops);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&stops, s);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    struct sigaction action = {};
    action.sa_handler = interrupted;
    sigaction(INTERRUPT_SIGNAL, &action, nullptr);

    std::unique_ptr<SimBackend> sim;
    std::string error;
    if (!options.disk) {
        sim = std::make_unique<SimBackend>();
        bool ok = sim->open(options.state, options.description, error);
        for (size_t i = 0; ok && i < options.swallow.size(); ++i)
            ok = sim->add_swallow(options.swallow[i], error);
        if (!ok) {
            std::fprintf(stderr, "vtx_usbgadget: %s\n", error.c_str());
            return 1;
        }
    }
    ScsiTarget target(medium_for(sim.get()), sim.get());
    if (!options.query.empty())
        return run_query(options, target);
    return serve(options, target, sim.get(), stops);
}
