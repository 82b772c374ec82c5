// Which points a campaign tries, and the table of what they came to.
#include <algorithm>
#include <cstdio>
#include <set>
#include <sstream>

#include "tests/fault/campaign.h"

namespace vtx::test::fault {

namespace {

constexpr FaultKind COMMAND_KINDS[] = {FaultKind::kPowerLossAfter, FaultKind::kCheckCondition,
                                       FaultKind::kPlatformError, FaultKind::kGeneralFailure};

// The commands a sample never leaves out: every flash write and the command
// on each side of it, every restart, and the last command of the run.
std::set<long> key_commands(const std::vector<TraceLine>& reference) {
    std::set<long> keys;
    for (const TraceLine& line : reference) {
        bool write = line.opcode == OP_VENDOR_WRITE;
        if (write || line.new_header) {
            keys.insert(line.index - 1);
            keys.insert(line.index);
            keys.insert(line.index + 1);
        }
    }
    if (!reference.empty())
        keys.insert(reference.back().index);
    return keys;
}

// Prefixes of a data write that reach flash: nothing, a little, half, all but
// one byte; on the header block also the image header's fields (signature,
// type byte, CRC, the version words), the border of the two halves and a part
// of the parameter half.
std::vector<uint32_t> prefixes(const TraceLine& line, bool full) {
    std::vector<uint32_t> wanted;
    if (full) {
        wanted = {0, 1, line.length / 2, line.length - 1};
        if (line.address == HEADER_BLOCK_ADDRESS)
            wanted.insert(wanted.end(), {4, 5, 16, 84, 2047, 2048, 2049, 2050, 3072});
    } else {
        wanted = {line.length / 2};
        if (line.address == HEADER_BLOCK_ADDRESS)
            wanted.insert(wanted.end(), {4, 2048});
    }
    std::set<uint32_t> unique;
    for (uint32_t prefix : wanted) {
        if (prefix < line.length)
            unique.insert(prefix);
    }
    return {unique.begin(), unique.end()};
}

std::string cell(long value) {
    return std::to_string(value);
}

}  // namespace

const char* fault_name(FaultKind kind) {
    const char* names[] = {"none",
                           "power loss after command",
                           "power loss inside a flash write",
                           "CHECK CONDITION",
                           "platform error (time-out)",
                           "general failure x5 (31)"};
    return names[int(kind)];
}

bool is_power_loss(FaultKind kind) {
    return kind == FaultKind::kPowerLossAfter || kind == FaultKind::kPowerLossInWrite;
}

std::string point_text(const FaultPoint& point) {
    std::string text =
        std::string(fault_name(point.kind)) + " at command " + std::to_string(point.index);
    if (point.kind == FaultKind::kPowerLossInWrite)
        text += ", " + std::to_string(point.prefix) + " bytes landed";
    return text;
}

std::vector<FaultPoint> campaign_points(const std::vector<TraceLine>& reference, bool full) {
    std::vector<FaultPoint> points;
    std::set<long> keys = key_commands(reference);
    // A sample takes every fifth command, each kind from another phase, so
    // that together the kinds still touch most commands.
    constexpr long STRIDE = 5;
    long phase = 0;
    for (FaultKind kind : COMMAND_KINDS) {
        for (const TraceLine& line : reference) {
            if (full || line.index % STRIDE == phase || keys.count(line.index))
                points.push_back({kind, line.index, 0});
        }
        ++phase;
    }
    for (const TraceLine& line : reference) {
        if (!line.is(OP_VENDOR_WRITE, SUB_FLASH_DATA_WRITE))
            continue;
        for (uint32_t prefix : prefixes(line, full))
            points.push_back({FaultKind::kPowerLossInWrite, line.index, prefix});
    }
    return points;
}

void Figures::add(const PointResult& result) {
    ++tried;
    converged += result.converged_after >= 0;
    within_one += result.converged_after >= 0 && result.converged_after <= 1;
    unbootable += result.unbootable;
    wrong_success += result.wrong_success;
    area_not_applied += result.area_not_applied;
    area_lost += result.area_lost;
    led_not_applied += result.led_not_applied;
    crashed += result.crashed;
    lost_contact += result.lost_contact;
    worst_reruns = std::max<long>(worst_reruns, long(result.runs.size()) - 1);
}

std::string figures_table(const std::vector<std::pair<std::string, Figures>>& rows) {
    const char* headings[] = {"start / fault",    "tried",        "converged",
                              "within 1 rerun",   "unbootable",   "wrong success",
                              "area not applied", "area lost",    "LED not applied",
                              "crashed",          "lost contact", "most reruns"};
    std::vector<std::vector<std::string>> table;
    table.push_back({std::begin(headings), std::end(headings)});
    for (const auto& [name, f] : rows) {
        table.push_back({name, cell(f.tried), cell(f.converged), cell(f.within_one),
                         cell(f.unbootable), cell(f.wrong_success), cell(f.area_not_applied),
                         cell(f.area_lost), cell(f.led_not_applied), cell(f.crashed),
                         cell(f.lost_contact), cell(f.worst_reruns)});
    }
    std::vector<size_t> widths(table.front().size(), 0);
    for (const auto& row : table) {
        for (size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    }
    std::ostringstream out;
    for (size_t r = 0; r < table.size(); ++r) {
        out << '|';
        for (size_t i = 0; i < table[r].size(); ++i) {
            std::string text = table[r][i];
            text.resize(widths[i], ' ');
            out << ' ' << text << " |";
        }
        out << '\n';
        if (r == 0) {
            out << '|';
            for (size_t width : widths)
                out << std::string(width + 2, '-') << '|';
            out << '\n';
        }
    }
    return out.str();
}

std::string point_report(const PointResult& result) {
    std::ostringstream out;
    out << point_text(result.point) << (result.in_window ? " (in the window)" : "") << ":";
    for (const RunRecord& run : result.runs) {
        out << " [exit " << run.code;
        if (run.signal)
            out << ", signal " << run.signal;
        out << ", mode " << int(run.after.mode) << " v" << run.after.version.major << '.'
            << run.after.version.minor << '.' << run.after.version.patch
            << (run.after.area_new   ? ", new area"
                : run.after.area_old ? ", old area"
                                     : ", area?")
            << (run.after.led_new ? ", new LED" : ", LED?") << "]";
    }
    if (result.converged_after >= 0)
        out << " converged after " << result.converged_after << " reruns";
    else
        out << " NOT converged";
    return out.str();
}

}  // namespace vtx::test::fault
