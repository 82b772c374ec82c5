#include "app/progress_bar.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "device/platform/platform.h"
#include "update/progress.h"

namespace vtx {

namespace {

constexpr int BAR_WIDTH = 20;

std::string byte_count(double bytes) {
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%.0f B", bytes);
    } else if (bytes < 1024.0 * 1024) {
        std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024);
    } else {
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024));
    }
    return text;
}

std::string time_left(double seconds) {
    // Whole seconds, rounded up: "0:00 left" only when nothing is left.
    long whole = long(std::min(std::ceil(seconds), 359999.0));
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld left", whole / 60, whole % 60);
    return text;
}

}  // namespace

std::string progress_text(int64_t done, int64_t total, double bytes_per_second) {
    // The counters are the engine's own: a total of 0 or a count past it
    // must still give a sane line.
    int64_t shown = std::clamp<int64_t>(done, 0, std::max<int64_t>(total, 0));
    int percent = total > 0 ? int(shown * 100 / total) : 0;
    int filled = total > 0 ? int(shown * BAR_WIDTH / total) : 0;
    // Built by appending: GCC 12 warns falsely (-Wrestrict) on chains of
    // string concatenations at -O3.
    std::string line = "[";
    line.append(size_t(filled), '#');
    line.append(size_t(BAR_WIDTH - filled), '-');
    line += "] ";
    char number[16];
    std::snprintf(number, sizeof number, "%3d%%", percent);
    line += number;
    line += "  ";
    line += byte_count(double(shown));
    line += " of ";
    line += byte_count(double(std::max<int64_t>(total, 0)));
    if (bytes_per_second > 0) {
        line += "  ";
        line += byte_count(bytes_per_second);
        line += "/s  ";
        line += time_left(double(std::max<int64_t>(total - shown, 0)) / bytes_per_second);
    } else {
        line += "  --/s  --:-- left";
    }
    return line;
}

ProgressBar::ProgressBar(const Console& console) : console_(console) {
    if (!platform().is_terminal(console_.err))
        return;
    fw_set_progress_observer([this](int32_t done, int32_t total) { report(done, total); });
}

ProgressBar::~ProgressBar() {
    fw_set_progress_observer(nullptr);
    if (shown_)
        console_status_clear(console_);
}

void ProgressBar::report(int32_t done, int32_t total) {
    double now = platform().monotonic_seconds();
    if (!shown_) {
        start_ = now;
        start_done_ = done;
    } else if (now - last_draw_ < PROGRESS_REDRAW_INTERVAL && done < total) {
        return;
    }
    // The rate counts from the first report: the bytes of that report were
    // written before the clock was first read.
    double elapsed = now - start_;
    double rate = elapsed > 0 ? double(int64_t(done) - start_done_) / elapsed : 0;
    console_status(console_, progress_text(done, total, rate));
    shown_ = true;
    last_draw_ = now;
}

}  // namespace vtx
