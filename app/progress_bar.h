// The progress line of a running update: bytes written and verified of the
// bytes the update expects to write, the share done, the rate and the time
// left. Drawn on standard error only when that is a terminal, so redirected
// output holds the tool's messages and nothing else.
#pragma once

#include <cstdint>
#include <string>

#include "app/console.h"

namespace vtx {

// The line is redrawn at most this often (seconds of the platform's clock),
// and once more when the last byte is done.
constexpr double PROGRESS_REDRAW_INTERVAL = 0.25;

// The text of the line: `done` of `total` bytes at `bytes_per_second`
// (0 or less: not known yet, so neither is the time left).
std::string progress_text(int64_t done, int64_t total, double bytes_per_second);

// Follows the update's byte counters while it lives: it sets itself as the
// progress observer and takes itself away, wiping its line, when it goes.
class ProgressBar {
  public:
    explicit ProgressBar(const Console& console);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // One report of the update: `done` of `total` bytes written and verified.
    void report(int32_t done, int32_t total);

  private:
    Console console_;
    bool shown_ = false;      // drawn at least once
    double start_ = 0;        // clock at the first report
    int32_t start_done_ = 0;  // bytes done at the first report
    double last_draw_ = 0;
};

}  // namespace vtx
