// The progress line of a running update: its text, how often it is drawn,
// and that it never gets into the messages.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/progress_bar.h"
#include "tests/e2e/e2e_support.h"
#include "update/progress.h"

namespace vtx::test::e2e {
namespace {

TEST(ProgressLine, ShowsBytesShareRateAndTimeLeft) {
    const struct {
        int64_t done, total;
        double rate;
        const char* text;
    } cases[] = {
        {0, 0, 0, "[--------------------]   0%  0 B of 0 B  --/s  --:-- left"},
        {2048, 4096, 1024, "[##########----------]  50%  2.0 KiB of 4.0 KiB  1.0 KiB/s  0:02 left"},
        // Time left rounds up: a byte short of a second is still a second.
        {1, 4098, 4096, "[--------------------]   0%  1 B of 4.0 KiB  4.0 KiB/s  0:02 left"},
        {3 << 20, 4 << 20, 65536,
         "[###############-----]  75%  3.0 MiB of 4.0 MiB  64.0 KiB/s  0:16 left"},
        {600000, 600000, 1000,
         "[####################] 100%  585.9 KiB of 585.9 KiB  1000 B/s  0:00 left"},
        // Counts past the total or below zero are shown at the ends.
        {9000, 4096, 10, "[####################] 100%  4.0 KiB of 4.0 KiB  10 B/s  0:00 left"},
        {-5, 4096, 0, "[--------------------]   0%  0 B of 4.0 KiB  --/s  --:-- left"},
        {0, 100 << 20, 1, "[--------------------]   0%  0 B of 100.0 MiB  1 B/s  5999:59 left"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(progress_text(c.done, c.total, c.rate), c.text);
}

// Splits what the line wrote on standard error into the texts drawn; every
// draw starts with a carriage return.
std::vector<std::string> draws(const std::string& err) {
    std::vector<std::string> texts;
    size_t at = 0;
    while ((at = err.find('\r', at)) != std::string::npos) {
        size_t end = err.find('\r', at + 1);
        std::string text = err.substr(at + 1, end == std::string::npos ? end : end - at - 1);
        if (text.find_first_not_of(' ') != std::string::npos)
            texts.push_back(text.substr(0, text.find_last_not_of(' ') + 1));
        at = end;
    }
    return texts;
}

// What wiping a line of `width` characters writes.
std::string wipe(size_t width) {
    return std::string(1, '\r').append(width, ' ').append(1, '\r');
}

TEST(ProgressLine, RedrawsAtMostFourTimesASecondAndWhenDone) {
    InstalledSim sim;
    sim->set_terminal(true);
    CapturedStream out, err;
    InputStream in("");
    Console console{out.get(), err.get(), in.get()};
    fw_reset_progress();  // whatever an earlier run in this process left
    {
        ProgressBar bar(console);
        fw_total_bytes = 8192;
        fw_add_done(1024);  // drawn: the first report, rate not known yet
        sim->pause_ms(100);
        fw_add_done(1024);  // too soon
        sim->pause_ms(150);
        fw_add_done(1024);  // a quarter second after the first draw
        sim->pause_ms(10);
        fw_add_done(5120);  // the last byte is always drawn
    }
    fw_reset_progress();
    EXPECT_EQ(draws(err.text()),
              (std::vector<std::string>{
                  "[##------------------]  12%  1.0 KiB of 8.0 KiB  --/s  --:-- left",
                  "[#######-------------]  37%  3.0 KiB of 8.0 KiB  8.0 KiB/s  0:01 left",
                  "[####################] 100%  8.0 KiB of 8.0 KiB  26.9 KiB/s  0:00 left"}));
    // Gone with the bar: the line is wiped and the observer taken away.
    std::string text = err.text();
    size_t width = 0;
    for (const std::string& drawn : draws(text))
        width = std::max(width, drawn.size());
    EXPECT_TRUE(text.ends_with(wipe(width)));
    size_t before = err.text().size();
    fw_add_done(1);
    EXPECT_EQ(err.text().size(), before);
    EXPECT_EQ(out.text(), "");
}

// On a terminal the run draws its line on standard error and wipes it before
// each message, or the line would run into it; standard output is byte for
// byte the same as without one. Nothing is on standard input: the key wait
// ends at its end.
TEST(ProgressLine, WholeRunOnATerminalKeepsEveryMessage) {
    UpdateFiles files;
    ToolRun plain, shown;
    for (bool terminal : {false, true}) {
        InstalledSim sim;
        add_sample_bridge(sim.sim(), {1, 2, 3, 0, 20240115});
        sim->set_terminal(terminal);
        // A fault in the main install's download: the error comes while the
        // line is on the screen.
        sim->add_fault(failing(OP_VENDOR_WRITE, SUB_FLASH_DATA_WRITE, 6, -1));
        (terminal ? shown : plain) = run_tool(files.args(), "");
    }
    EXPECT_EQ(plain.code, 1);
    EXPECT_EQ(shown.code, plain.code);
    EXPECT_EQ(shown.out, plain.out);
    EXPECT_TRUE(plain.out.ends_with(KEY_WAIT));
    ASSERT_TRUE(plain.err.starts_with("[ERROR] Firmware update failed (ret=-")) << plain.err;
    // Every draw sits before the message, and the message begins right after
    // the widest of them is wiped.
    size_t message = shown.err.find("[ERROR]");
    ASSERT_NE(message, std::string::npos);
    EXPECT_EQ(shown.err.substr(message), plain.err);
    std::string before = shown.err.substr(0, message);
    size_t width = 0;
    for (const std::string& drawn : draws(before))
        width = std::max(width, drawn.size());
    EXPECT_GT(width, 0u);
    EXPECT_TRUE(before.ends_with(wipe(width)));
}

}  // namespace
}  // namespace vtx::test::e2e
