// update: vtx_fwupdate's update engine on the bridge the user names, or on
// every bridge one after the other, with a result per bridge that a script or
// a fleet tool reads. The decision to skip is vtx_fwupdate's own version
// check; the engine validates everything before it writes and writes only to
// the bridge it validated.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/device_check.h"
#include "app/progress_bar.h"
#include "app/startup.h"
#include "app/update_run.h"
#include "companion/bridge_main.h"
#include "companion/commands.h"
#include "companion/text.h"
#include "device/bridge.h"
#include "device/platform/platform.h"
#include "update/progress.h"
#include "update/result_codes.h"
#include "update/sequencer.h"

namespace vtx::companion {

namespace {

enum class Outcome { Updated, Current, Failed, Unconfirmed };

struct VersionRead {
    int result = -1;
    FirmwareVersion value{};
};

struct UpdateJob {
    std::string bin, rescue;
    std::optional<std::string> cfg, led;  // absent: the engine skips them
    ExpectedVersion expected;
};

struct BridgeUpdate {
    std::string path_before, path_after;
    VersionRead before, after;
    VersionVerdict verdict = VersionVerdict::ReadFailed;
    Outcome outcome = Outcome::Failed;
    int result = 0;  // the engine's, when it ran
    int64_t bytes = 0;
    int64_t milliseconds = 0;
};

const char* verdict_name(VersionVerdict verdict) {
    switch (verdict) {
        case VersionVerdict::ReadFailed:
            return "version-unread";
        case VersionVerdict::VersionDiffers:
            return "version-differs";
        case VersionVerdict::DateDiffers:
            return "date-differs";
        case VersionVerdict::RescueFirmware:
            return "rescue-firmware";
        default:
            return "same";
    }
}

const char* outcome_name(Outcome outcome) {
    switch (outcome) {
        case Outcome::Updated:
            return "updated";
        case Outcome::Current:
            return "current";
        case Outcome::Unconfirmed:
            return "unconfirmed";
        default:
            return "failed";
    }
}

int parse_job(const Output& output, UpdateJob& job) {
    const std::vector<std::string>& operands = output.invocation->operands;
    job.bin = operands[0];
    job.rescue = operands[1];
    if (operands.size() > 2)
        job.cfg = operands[2];
    if (operands.size() > 3)
        job.led = operands[3];
    int found = parse_expected_version(job.bin, job.expected);
    if (found == EXPECTED_FOUND)
        return EXIT_DONE;
    return finish_early(
        output, EXIT_FAILED,
        "the firmware image's name " + printable(file_name_part(job.bin)) +
            (found == EXPECTED_NO_MARKER ? " has no \"_v\"" : " gives no version after \"_v\"") +
            ": the version it promises is read from there; nothing sent");
}

// Several bridges and neither --path nor --all: which one is meant is not
// for the program to guess. Nothing is sent to any of them.
int refuse_several(const Output& output, const DeviceEntry& first) {
    std::string message = "several bridges found: name one with --path PATH, or give --all";
    if (!output.json()) {
        say_error(output, message);
        for (const DeviceEntry* entry = &first; entry; entry = entry->next)
            std::fprintf(output.err, "  %s  %s\n", printable(entry->path).c_str(),
                         display_text(entry->name).c_str());
        return EXIT_USAGE;
    }
    JsonWriter json;
    json_begin(json, output);
    json.key("candidates");
    json.begin_array();
    for (const DeviceEntry* entry = &first; entry; entry = entry->next) {
        json.begin_object();
        json.field("path", entry->path);
        json.field("name", entry->name);
        json.end_object();
    }
    json.end_array();
    return json_end(json, output, EXIT_USAGE, message);
}

// The bridges to update, in discovery order; or the exit code once the
// refusal is reported.
int choose_targets(const Output& output, std::vector<std::string>& targets) {
    const Invocation& invocation = *output.invocation;
    if (!invocation.path.empty()) {
        OpenedBridge bridge;
        OpenOutcome outcome = open_bridge(invocation.path, bridge);
        if (outcome != OpenOutcome::kOpened)
            return finish_early(output, EXIT_NONE_FOUND,
                                open_failure_message(invocation.path, outcome, bridge));
        targets.push_back(invocation.path);
        return EXIT_DONE;
    }
    DeviceList list(dev_scan());
    if (!list)
        return finish_early(output, EXIT_NONE_FOUND, none_found_message());
    if (list->next && !invocation.all)
        return refuse_several(output, *list);
    for (const DeviceEntry* entry = list.get(); entry; entry = entry->next)
        targets.push_back(entry->path);
    return EXIT_DONE;
}

// The identity word the bridge at `path` gives, or none.
std::optional<uint32_t> identity_at(const std::string& path) {
    OpenDevice device(dev_open(path.c_str()));
    uint32_t identity = 0;
    if (!device || dev_read_identity(device.get(), &identity) != 0)
        return std::nullopt;
    return identity;
}

// The bridges --all has had its turn with: by identity word (the engine
// refuses two bridges that share one), by path a bridge that gives none.
struct Handled {
    std::vector<uint32_t> identities;
    std::vector<std::string> paths;

    // True when `path` holds a bridge not handled yet, which counts as
    // handled from now on.
    bool take(const std::string& path) {
        std::optional<uint32_t> identity = identity_at(path);
        if (identity ? std::ranges::count(identities, *identity) > 0
                     : std::ranges::count(paths, path) > 0)
            return false;
        if (identity)
            identities.push_back(*identity);
        else
            paths.push_back(path);
        return true;
    }
};

// --all runs discovery again before each bridge: an updated bridge may come
// back under the path the first list gave another, which would then be
// found current there and the other never reached.
std::string next_of_all(Handled& handled) {
    DeviceList list(dev_scan());
    for (const DeviceEntry* entry = list.get(); entry; entry = entry->next) {
        if (handled.take(entry->path))
            return entry->path;
    }
    return "";
}

void check_version(const UpdateJob& job, BridgeUpdate& update) {
    OpenDevice device(dev_open(update.path_before.c_str()));
    if (device)
        update.before.result = dev_read_version(device.get(), &update.before.value);
    update.verdict =
        app_version_verdict(device.get(), update.before.value, update.before.result, job.expected);
}

// The engine opens the bridge itself by its path; the bar, on a terminal
// only, follows its counters while it runs.
void run_engine(const Output& output, const UpdateJob& job, BridgeUpdate& update) {
    fw_reset_progress();
    double start = platform().monotonic_seconds();
    {
        std::optional<ProgressBar> bar;
        if (!output.json() && platform().is_terminal(output.out))
            bar.emplace(Console{output.out, output.err, nullptr});
        update.result = fw_update(update.path_before.c_str(), job.bin.c_str(), job.rescue.c_str(),
                                  job.cfg ? job.cfg->c_str() : nullptr,
                                  job.led ? job.led->c_str() : nullptr, &update.path_after);
    }
    update.milliseconds = std::llround((platform().monotonic_seconds() - start) * 1000);
    update.bytes = fw_done_bytes;
}

// The engine saw the bridge run its new firmware under `path_after`; the
// version it reports there is read as vtx_fwupdate waits for it: once a
// second, up to the same number of attempts.
void read_version_after(BridgeUpdate& update) {
    for (int attempt = 1;; ++attempt) {
        OpenDevice device(dev_open(update.path_after.c_str()));
        update.after.result = device ? dev_read_version(device.get(), &update.after.value) : -1;
        if (update.after.result == 0 || attempt >= RECONNECT_ATTEMPTS)
            return;
        platform().pause_ms(RECONNECT_PAUSE_MS);
    }
}

BridgeUpdate update_one(const Output& output, const UpdateJob& job, const std::string& path) {
    BridgeUpdate update;
    update.path_before = device_path_text(path);
    update.path_after = update.path_before;
    check_version(job, update);
    if (update.verdict == VersionVerdict::Same) {
        update.outcome = Outcome::Current;
        update.after = update.before;
        return update;
    }
    run_engine(output, job, update);
    if (update.result != UPDATE_DONE)
        return update;
    read_version_after(update);
    update.outcome = update.after.result == 0 ? Outcome::Updated : Outcome::Unconfirmed;
    return update;
}

std::string firmware_text(const VersionRead& read) {
    if (read.result != 0)
        return "not read (result " + std::to_string(read.result) + ")";
    std::string date = iso_date(read.value.build_date);
    return version_text(read.value) + ", built " +
           (date.empty() ? std::to_string(read.value.build_date) : date);
}

std::string result_text(const UpdateJob& job, const BridgeUpdate& update) {
    if (update.outcome == Outcome::Current)
        return "not updated: it runs " + job.expected.version + " of " + job.expected.date +
               " already";
    std::string text = std::to_string(update.result) + " " + fw_result_name(update.result) + ": " +
                       fw_result_text(update.result);
    if (update.outcome == Outcome::Unconfirmed)
        text += "; but the version it runs now cannot be read";
    return text;
}

void print_update(const Output& output, const UpdateJob& job, const BridgeUpdate& update) {
    auto row = [&](const char* label, const std::string& value) {
        say(output, "%-10s  %s\n", label, value.c_str());
    };
    std::string path = printable(update.path_before);
    if (update.path_after != update.path_before)
        path += " -> " + printable(update.path_after);
    row("Bridge", path);
    std::string before = firmware_text(update.before);
    if (update.verdict == VersionVerdict::RescueFirmware)
        before += " (rescue firmware)";
    row("Before", before);
    row("After", update.outcome == Outcome::Failed ? "not read: the update failed"
                                                   : firmware_text(update.after));
    row("Result", result_text(job, update));
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", double(update.milliseconds) / 1000);
    row("Written", std::to_string(update.bytes) + " bytes in " + seconds);
}

void write_firmware(JsonWriter& json, const char* key, const VersionRead& read) {
    json.key(key);
    json.begin_object();
    json.field("result", read.result);
    if (read.result == 0) {
        json.field("version", version_text(read.value));
        json.field("build_date", read.value.build_date);
    }
    json.end_object();
}

void write_update(JsonWriter& json, const BridgeUpdate& update) {
    json.begin_object();
    json.field("path_before", update.path_before);
    json.field("path_after", update.path_after);
    write_firmware(json, "firmware_before", update.before);
    json.field("decision", verdict_name(update.verdict));
    json.field("outcome", outcome_name(update.outcome));
    json.key("result");
    if (update.outcome == Outcome::Current) {
        json.null();
    } else {
        json.begin_object();
        json.field("code", update.result);
        json.field("name", fw_result_name(update.result));
        json.field("text", fw_result_text(update.result));
        json.end_object();
    }
    if (update.outcome == Outcome::Failed) {
        json.key("firmware_after");
        json.null();
    } else {
        write_firmware(json, "firmware_after", update.after);
    }
    json.field("bytes_written", update.bytes);
    json.field("milliseconds", update.milliseconds);
    json.end_object();
}

struct Tally {
    int count[4] = {};        // by Outcome
    std::string not_updated;  // "PATH (name), ..."

    void add(const BridgeUpdate& update) {
        ++count[int(update.outcome)];
        if (update.outcome == Outcome::Updated || update.outcome == Outcome::Current)
            return;
        if (!not_updated.empty())
            not_updated += ", ";
        not_updated += printable(update.path_before) + " (" +
                       (update.outcome == Outcome::Unconfirmed ? "version not read back"
                                                               : fw_result_name(update.result)) +
                       ")";
    }
    int exit_code() const { return not_updated.empty() ? EXIT_DONE : EXIT_FAILED; }
    std::string message() const { return "not updated: " + not_updated; }
};

void write_job(JsonWriter& json, const UpdateJob& job) {
    json.field("firmware_image", job.bin);
    json.field("rescue_image", job.rescue);
    json.field_or_null("parameter_file", job.cfg.has_value(), job.cfg.value_or(""));
    json.field_or_null("led_image", job.led.has_value(), job.led.value_or(""));
    json.key("expected");
    json.begin_object();
    json.field("version", job.expected.version);
    json.field("date", job.expected.date);
    json.end_object();
}

}  // namespace

int run_update(const Output& output) {
    UpdateJob job;
    if (int code = parse_job(output, job); code != EXIT_DONE)
        return code;
    std::vector<std::string> targets;
    if (int code = choose_targets(output, targets); code != EXIT_DONE)
        return code;

    // One bridge after the other; a failure does not stop the rest, each
    // bridge is validated on its own. --all makes at most as many turns as
    // the first list held bridges.
    std::vector<BridgeUpdate> updates;
    Tally tally;
    Handled handled;
    for (const std::string& listed : targets) {
        std::string path = output.invocation->all ? next_of_all(handled) : listed;
        if (path.empty())
            break;
        updates.push_back(update_one(output, job, path));
        tally.add(updates.back());
        if (!output.json()) {
            print_update(output, job, updates.back());
            say(output, "\n");
        }
    }
    if (!output.json()) {
        say(output, "%d updated, %d current, %d failed, %d unconfirmed\n", tally.count[0],
            tally.count[1], tally.count[2], tally.count[3]);
        if (tally.exit_code() != EXIT_DONE)
            say_error(output, tally.message());
        return tally.exit_code();
    }
    JsonWriter json;
    json_begin(json, output);
    write_job(json, job);
    json.key("bridges");
    json.begin_array();
    for (const BridgeUpdate& update : updates)
        write_update(json, update);
    json.end_array();
    for (int i = 0; i < 4; ++i)
        json.field(outcome_name(Outcome(i)), tally.count[i]);
    return json_end(json, output, tally.exit_code(), tally.message());
}

}  // namespace vtx::companion
