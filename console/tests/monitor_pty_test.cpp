// The live monitors and the uptime readout of QVX-3-Test on a real terminal (a tmux screen),
// against the simulated module: the monitor line as a user sees it, fields rewritten in place,
// the indicators, keys, injected failures and the modes. Each test has its own state file.
#include "pty_harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using ptytest::TmuxScreen;
using Lines = std::vector<std::string>;
using std::chrono::milliseconds;

const std::string kConsole = QVX3_CONSOLE_PROGRAM;
const std::string kSim = QVX3_SIM_PROGRAM;

constexpr int kColumns = 100;
constexpr int kRows = 30;

Lines split(const std::string &text) {
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// 1-based row of the last line that starts with `prefix`; 0 when none.
int rowStarting(const Lines &lines, const std::string &prefix) {
    for (std::size_t i = lines.size(); i-- > 0;)
        if (lines[i].rfind(prefix, 0) == 0) return static_cast<int>(i) + 1;
    return 0;
}

// 1-based row of the first line that contains `text`; 0 when none.
int rowHolding(const Lines &lines, const std::string &text) {
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].find(text) != std::string::npos) return static_cast<int>(i) + 1;
    return 0;
}

std::string at(const Lines &lines, int row) {
    return row >= 1 && row <= static_cast<int>(lines.size()) ? lines[row - 1] : std::string();
}

// True when `line` holds `text` from 1-based `column` on.
bool holdsAt(const std::string &line, int column, const std::string &text) {
    return column >= 1 && line.size() >= column - 1 + text.size() &&
           line.compare(column - 1, text.size(), text) == 0;
}

std::string show(const Lines &lines) {
    std::string s;
    for (const std::string &line : lines)
        s += "|" + line + "\n";
    return s;
}

// The counter monitor line cut into its fields; `layout` tells whether every fixed piece is
// where it belongs and nothing stands beyond the Ch Y indicator.
struct CounterLine {
    bool layout = false;
    std::string value[2];
    char indicator[2] = {'?', '?'};
};

CounterLine readCounterLine(std::string line) {
    CounterLine c;
    if (line.size() > 58) return c;
    line.resize(58, ' '); // the screen drops trailing blanks
    c.value[0] = line.substr(21, 12);
    c.value[1] = line.substr(44, 12);
    c.indicator[0] = line[34];
    c.indicator[1] = line[57];
    static const std::regex field("( {0,4}[0-9]{1,5}\\.[0-9]{4}Hz|    Overflow| {12})");
    c.layout = line.compare(0, 21, "Measured data: Ch X: ") == 0 && line[33] == ' ' &&
               line.compare(35, 9, "   Ch Y: ") == 0 && line[56] == ' ' &&
               std::regex_match(c.value[0], field) && std::regex_match(c.value[1], field) &&
               (c.indicator[0] == ' ' || c.indicator[0] == '*') &&
               (c.indicator[1] == ' ' || c.indicator[1] == '*');
    return c;
}

// The uptime monitor line: each field as written from its column up to the next label.
struct UptimeLine {
    bool layout = false;
    std::string uptime, difference, queries;
};

UptimeLine readUptimeLine(std::string line) {
    UptimeLine u;
    if (line.size() < 71) return u;
    u.uptime = line.substr(15, 15);
    u.difference = line.substr(45, 15);
    u.queries = line.substr(71);
    u.layout = line.compare(0, 15, "Device uptime: ") == 0 &&
               line.compare(30, 15, "Diff. to PC/s: ") == 0 &&
               line.compare(60, 11, "Queries/s: ") == 0;
    return u;
}

double number(const std::string &text) {
    return std::strtod(text.c_str(), nullptr);
}

// The console on a tmux screen, using this test's own simulated bus.
class MonitorTest : public testing::Test {
protected:
    void SetUp() override {
        std::string base = std::filesystem::temp_directory_path() / "qvx3-monitor-XXXXXX";
        ASSERT_NE(mkdtemp(base.data()), nullptr);
        directory_ = base;
        state_ = directory_ + "/state";
    }

    void TearDown() override {
        screen_.reset();
        // The console may still be on its way out after its tmux server and write its last
        // state file: try again until the directory is gone.
        std::error_code error;
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::filesystem::remove_all(directory_, error);
            if (!error) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ADD_FAILURE() << "cannot remove " << directory_ << ": " << error.message();
    }

    // bxa7-sim on this test's state file.
    void sim(const std::string &args) {
        const std::string command =
            "BXA7_SIM_STATE='" + state_ + "' '" + kSim + "' " + args + " >/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    // Starts QVX-3-Test with `switches`; `fail` sets BXA7_SIM_FAIL. The bus is instant unless
    // `busHz` says otherwise.
    TmuxScreen &start(const std::vector<std::string> &switches, const std::string &fail = "",
                      const std::string &busHz = "0", int columns = kColumns) {
        TmuxScreen::Options options;
        options.columns = columns;
        options.rows = kRows;
        options.env = {"BXA7_SIM_STATE=" + state_, "BXA7_SIM_BUS_HZ=" + busHz,
                       "BXA7_SIM_FAIL=" + fail, "LC_ALL=C.UTF-8"};
        std::vector<std::string> argv = {kConsole};
        argv.insert(argv.end(), switches.begin(), switches.end());
        screen_ = std::make_unique<TmuxScreen>(argv, options);
        // Keys typed before the program takes key mode would be echoed by the terminal.
        const auto end = std::chrono::steady_clock::now() + ptytest::kPatience;
        while (screen_->settings().c_lflag & ECHO && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(milliseconds(20));
        return *screen_;
    }

    Lines lines() { return split(screen_->screen()); }

    // Esc, read by the program, then a pause so that the next key is not read as part of an
    // Alt sequence. On a loaded machine the program may take long to read it.
    void escape() {
        screen_->keys({"Escape"});
        EXPECT_TRUE(screen_->waitInputRead()) << "the Esc was never read";
        std::this_thread::sleep_for(milliseconds(300));
    }

    // Waits until the start-up texts are out (quiet mode has none).
    void waitForLoop(const std::vector<std::string> &switches) {
        for (const std::string &s : switches)
            if (s == "-q" || s == "-Q") return;
        ASSERT_TRUE(screen_->waitFor("specify the same number.")) << screen_->screen();
    }

    // Polls the screen until `ok` holds for it; `seen` keeps the last screen read.
    bool waitUntil(const std::function<bool(const Lines &)> &ok, Lines &seen,
                   milliseconds deadline = ptytest::kPatience) {
        const auto end = std::chrono::steady_clock::now() + deadline;
        do {
            seen = lines();
            if (ok(seen)) return true;
            std::this_thread::sleep_for(milliseconds(20));
        } while (std::chrono::steady_clock::now() < end);
        return false;
    }

    // Samples the screen for about `span`: every screen read, for checks on each.
    std::vector<Lines> sample(milliseconds span) {
        std::vector<Lines> screens;
        const auto end = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < end) {
            screens.push_back(lines());
            std::this_thread::sleep_for(milliseconds(40));
        }
        return screens;
    }

    std::string directory_;
    std::string state_;
    std::unique_ptr<TmuxScreen> screen_;
};

// ---- Counter monitor -----------------------------------------------------------------------

// Both channels carry the simulator's default signals (1000 Hz and 12500 Hz, new data every
// 100 ms). Every sampled screen shows one monitor line on the same row with every piece in its
// column, the cursor parked before the Ch X value, and nothing else changing.
TEST_F(MonitorTest, CounterLineKeepsItsLayoutAndRowWhileValuesChangeInPlace) {
    sim("force freq-y 0xFFFFFFFF");
    TmuxScreen &s = start({"-q"});
    s.type("f");
    Lines seen;
    ASSERT_TRUE(waitUntil(
        [](const Lines &l) {
            const CounterLine c = readCounterLine(at(l, rowStarting(l, "Measured data:")));
            return c.value[0] == " 1000.0000Hz" && c.value[1] == "    Overflow";
        },
        seen))
        << show(seen);
    const int row = rowStarting(seen, "Measured data:");
    ASSERT_EQ(row, 1) << "quiet mode: the monitor line is the first\n" << show(seen);

    // 123456.789 Hz is 13 characters: it runs into the blank after the field, which must
    // be blank again once a shorter value follows.
    sim("force freq-x 1234567890");
    sim("force freq-y live");
    ASSERT_TRUE(waitUntil(
        [](const Lines &l) {
            return l.size() == 1 && holdsAt(l[0], 22, "123456.7890Hz") &&
                   readCounterLine(l[0]).value[1] == "12500.0000Hz";
        },
        seen))
        << show(seen);
    sim("force freq-x live");

    const auto screens = sample(milliseconds(1500));
    for (const Lines &l : screens) {
        ASSERT_EQ(l.size(), 1u) << "no new rows, nothing written elsewhere\n" << show(l);
        const CounterLine c = readCounterLine(l[0]);
        ASSERT_TRUE(c.layout) << show(l);
    }
    const CounterLine last = readCounterLine(screens.back()[0]);
    EXPECT_EQ(last.value[0], " 1000.0000Hz") << show(screens.back());
    EXPECT_EQ(last.value[1], "12500.0000Hz") << show(screens.back());
    EXPECT_EQ(s.cursor(), std::make_pair(21, 1)) << "parked before the Ch X value";
}

// An indicator alternates while its channel reports new data and stays blank once the
// reports stop, while the other channel goes on blinking. The simulated counter goes on
// delivering results (0 Hz) when its input is switched off, so the reports are stopped by
// forcing the state register.
TEST_F(MonitorTest, IndicatorsBlinkWhileNewDataComesAndTurnBlankWhenItStops) {
    TmuxScreen &s = start({"-q"});
    s.type("f");
    Lines seen;
    ASSERT_TRUE(waitUntil([](const Lines &l) { return readCounterLine(at(l, 1)).layout; }, seen))
        << show(seen);

    auto indicators = [&](milliseconds span) {
        std::set<char> shown[2];
        for (const Lines &l : sample(span)) {
            const CounterLine c = readCounterLine(at(l, 1));
            EXPECT_TRUE(c.layout) << show(l);
            for (int ch = 0; ch < 2; ++ch)
                shown[ch].insert(c.indicator[ch]);
        }
        return std::make_pair(shown[0], shown[1]);
    };
    const std::set<char> both = {' ', '*'};
    const std::set<char> blank = {' '};

    auto running = indicators(milliseconds(2500));
    EXPECT_EQ(running.first, both);
    EXPECT_EQ(running.second, both);

    sim("signal Y off");
    ASSERT_TRUE(waitUntil(
        [](const Lines &l) { return readCounterLine(at(l, 1)).value[1] == "    0.0000Hz"; }, seen))
        << show(seen);
    sim("force state 0x50"); // Ch X: new data and a value; Ch Y: nothing
    // A report read just before may still turn the indicator on at the next update.
    std::this_thread::sleep_for(milliseconds(1000));
    auto stopped = indicators(milliseconds(2500));
    EXPECT_EQ(stopped.first, both);
    EXPECT_EQ(stopped.second, blank);
    EXPECT_EQ(readCounterLine(at(lines(), 1)).value[1], "    0.0000Hz") << "the last value stays";
}

// A terminal narrower than the line wraps it once; every field keeps its place in the
// wrapped line, and the line stays on its two rows instead of creeping down the screen.
TEST_F(MonitorTest, CounterLineWrappedByANarrowTerminalStaysOnItsRows) {
    constexpr int kNarrow = 50;
    TmuxScreen &s = start({"-q"}, "", "0", kNarrow);
    s.type("f");
    auto joined = [](const Lines &l) {
        std::string first = at(l, 1);
        first.resize(kNarrow, ' ');
        return first + at(l, 2);
    };
    Lines seen;
    ASSERT_TRUE(waitUntil(
        [&](const Lines &l) {
            const CounterLine c = readCounterLine(joined(l));
            return c.value[0] == " 1000.0000Hz" && c.value[1] == "12500.0000Hz";
        },
        seen))
        << show(seen);
    std::set<char> shownY;
    for (const Lines &l : sample(milliseconds(1500))) {
        ASSERT_EQ(l.size(), 2u) << show(l);
        const CounterLine c = readCounterLine(joined(l));
        ASSERT_TRUE(c.layout) << show(l);
        shownY.insert(c.indicator[1]);
    }
    EXPECT_EQ(shownY, (std::set<char>{' ', '*'})) << "the Ch Y indicator on the second row";
}

// ---- Keys ----------------------------------------------------------------------------------

// Keys other than Esc are dropped, a cursor key (two codes) included, and the monitor goes
// on; Esc ends it with a line end, and the command loop reads the next key at once.
TEST_F(MonitorTest, OnlyEscLeavesAMonitorAndTheLoopGoesOnBelowIt) {
    TmuxScreen &s = start({"-q"});
    s.type("U");
    Lines seen;
    ASSERT_TRUE(
        waitUntil([](const Lines &l) { return !readUptimeLine(at(l, 1)).queries.empty(); }, seen))
        << show(seen);

    s.keys({"Up", "Left", "F1"});
    s.type("ufx?");
    sim("force uptime 5000");
    ASSERT_TRUE(waitUntil(
        [](const Lines &l) { return readUptimeLine(at(l, 1)).uptime == "1:23:20.00     "; }, seen))
        << "the monitor must still run\n"
        << show(seen);
    EXPECT_EQ(seen.size(), 1u) << "the keys did nothing\n" << show(seen);

    escape();
    s.type("u");
    ASSERT_TRUE(s.waitFor("Uptime: 1:23:20.00")) << s.screen();
    seen = lines();
    EXPECT_EQ(at(seen, 2), "Uptime: 1:23:20.00") << "below the monitor line\n" << show(seen);

    escape();
    EXPECT_TRUE(s.waitExit());
    EXPECT_EQ(s.exitStatus(), 0);
}

// ---- Uptime monitor and readout ------------------------------------------------------------

// The module's clock and the PC's run at the same rate in the simulator: the uptime counts
// on and the difference stays near zero. The queries-per-second field shows a rate.
TEST_F(MonitorTest, UptimeMonitorCountsWithTheModuleAndShowsNoDrift) {
    TmuxScreen &s = start({"-q"}, "", "100000");
    s.type("U");
    Lines seen;
    ASSERT_TRUE(
        waitUntil([](const Lines &l) { return !readUptimeLine(at(l, 1)).queries.empty(); }, seen))
        << show(seen);
    const UptimeLine first = readUptimeLine(at(seen, 1));
    std::this_thread::sleep_for(milliseconds(2000));
    seen = lines();
    ASSERT_EQ(seen.size(), 1u) << show(seen);
    const UptimeLine later = readUptimeLine(seen[0]);
    ASSERT_TRUE(later.layout) << show(seen);

    static const std::regex seconds("([0-9]{1,2}\\.[0-9]{2})s *");
    std::smatch a, b;
    ASSERT_TRUE(std::regex_match(first.uptime, a, seconds)) << first.uptime;
    ASSERT_TRUE(std::regex_match(later.uptime, b, seconds)) << later.uptime;
    EXPECT_GT(number(b[1]), number(a[1]) + 1.0) << "two seconds later";

    static const std::regex drift(" *(-?[0-9]+\\.[0-9]{2})s *");
    std::smatch d;
    ASSERT_TRUE(std::regex_match(later.difference, d, drift)) << later.difference;
    EXPECT_LT(std::fabs(number(d[1])), 0.25) << later.difference;

    static const std::regex rate("[0-9]+\\.[0-9]{2}");
    ASSERT_TRUE(std::regex_match(later.queries, rate)) << later.queries;
    EXPECT_GT(number(later.queries), 10.0);
}

// After the module restarted, a new run leaves the uptime fields blank until the uptime
// passes the one shown in the earlier run; the rate is shown as usual.
TEST_F(MonitorTest, UptimeMonitorComparesWithTheUptimeShownInAnEarlierRun) {
    sim("force uptime 30");
    TmuxScreen &s = start({"-q"});
    s.type("U");
    Lines seen;
    ASSERT_TRUE(waitUntil(
        [](const Lines &l) { return readUptimeLine(at(l, 1)).uptime == "30.00s         "; }, seen))
        << show(seen);
    escape();
    sim("force uptime 20");
    s.type("U");
    ASSERT_TRUE(
        waitUntil([](const Lines &l) { return !readUptimeLine(at(l, 2)).queries.empty(); }, seen))
        << show(seen);
    std::this_thread::sleep_for(milliseconds(300));
    UptimeLine second = readUptimeLine(at(lines(), 2));
    EXPECT_EQ(second.uptime, std::string(15, ' '));
    EXPECT_EQ(second.difference, std::string(15, ' '));

    sim("force uptime 30 20"); // 30.02 s: more than 0.01 s beyond the uptime shown
    ASSERT_TRUE(waitUntil(
        [](const Lines &l) { return readUptimeLine(at(l, 2)).uptime == "30.02s         "; }, seen))
        << show(seen);
}

// u reads the uptime once: the module's whole seconds and 1/1024 s, rounded to hundredths.
TEST_F(MonitorTest, UptimeReadoutPrintsTheModulesTime) {
    sim("force uptime 3723 467"); // 3723.456 s
    TmuxScreen &s = start({"-q"});
    s.type("u");
    ASSERT_TRUE(s.waitFor("Uptime: 1:02:03.46")) << s.screen();
    EXPECT_EQ(s.screen(), "Uptime: 1:02:03.46");
}

// ---- Modes ---------------------------------------------------------------------------------

struct ModeCase {
    const char *name;
    std::vector<std::string> switches;
    const char *key;
    Lines above; // the lines just above the command's own line, in order
    const char *line;
};

class MonitorModeTest : public MonitorTest, public testing::WithParamInterface<ModeCase> {};

TEST_P(MonitorModeTest, HeadingInDebugModeHintUnlessQuiet) {
    const ModeCase &c = GetParam();
    sim("force uptime 61 512");
    TmuxScreen &s = start(c.switches);
    waitForLoop(c.switches);
    const int before = static_cast<int>(lines().size());
    s.type(c.key);
    ASSERT_TRUE(s.waitFor(c.line)) << s.screen();
    const Lines l = lines();
    const int row = rowHolding(l, c.line);
    ASSERT_EQ(row, before + static_cast<int>(c.above.size()) + 1) << show(l);
    for (std::size_t i = 0; i < c.above.size(); ++i)
        EXPECT_EQ(at(l, before + 1 + static_cast<int>(i)), c.above[i]) << show(l);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, MonitorModeTest,
    testing::Values(
        ModeCase{"CounterNormal", {}, "f", {"Press 'Esc' to quit"}, "Measured data: Ch X: "},
        ModeCase{"CounterQuiet", {"-q"}, "f", {}, "Measured data: Ch X: "},
        ModeCase{"CounterDebug",
                 {"-d"},
                 "f",
                 {"Getting data measured by the counters:", "Press 'Esc' to quit"},
                 "Measured data: Ch X: "},
        ModeCase{"UptimeQuiet", {"-Q"}, "U", {}, "Device uptime: 1:01.50"},
        ModeCase{"UptimeDebug",
                 {"-D"},
                 "U",
                 {"Getting uptime:", "Press 'Esc' to quit"},
                 "Device uptime: 1:01.50"},
        ModeCase{"ReadoutNormal", {}, "u", {}, "Uptime: 1:01.50"},
        ModeCase{"ReadoutDebug", {"-d"}, "u", {"Getting uptime:"}, "Uptime: 1:01.50"}),
    [](const testing::TestParamInfo<ModeCase> &info) { return info.param.name; });

// ---- Failures ------------------------------------------------------------------------------

struct FailureCase {
    const char *name;
    const char *key;
    const char *fail; // BXA7_SIM_FAIL: one failing call, a while into the run
    const char *error;
    int valueColumn; // where the next cycles write their first field
};

class MonitorFailureTest : public MonitorTest, public testing::WithParamInterface<FailureCase> {};

// The error line and the flush message begin on the monitor line; the monitor goes on,
// writing its fields at their columns on the row below them, and Esc still ends it.
TEST_P(MonitorFailureTest, ErrorOnTheMonitorLineThenTheMonitorGoesOn) {
    const FailureCase &c = GetParam();
    TmuxScreen &s = start({}, c.fail);
    waitForLoop({});
    s.type(c.key);
    Lines seen;
    int flushed = 0;
    ASSERT_TRUE(waitUntil(
        [&](const Lines &l) {
            flushed = rowStarting(l, "Buffers flushed");
            return flushed > rowStarting(l, "Press 'Esc' to quit");
        },
        seen))
        << show(seen);
    const int monitorRow = rowStarting(seen, "Press 'Esc' to quit") + 1;
    EXPECT_NE(at(seen, monitorRow).find(c.error), std::string::npos) << show(seen);

    sim("force uptime 4000");
    sim("force freq-x 87654321");
    const std::string value = c.key == std::string("U") ? "1:06:40.00 " : " 8765.4321Hz";
    ASSERT_TRUE(waitUntil(
        [&](const Lines &l) { return holdsAt(at(l, flushed + 1), c.valueColumn, value); }, seen))
        << show(seen);
    EXPECT_EQ(at(seen, flushed + 1).substr(0, c.valueColumn - 1).find_first_not_of(' '),
              std::string::npos)
        << "the fixed text is not written again\n"
        << show(seen);
    EXPECT_EQ(static_cast<int>(seen.size()), flushed + 1) << "one failure, one report\n"
                                                          << show(seen);

    escape();
    escape();
    EXPECT_TRUE(s.waitExit()) << s.screen();
}

INSTANTIATE_TEST_SUITE_P(
    Failures, MonitorFailureTest,
    testing::Values(
        FailureCase{"Uptime", "U", "receive:5#50", "Error at QVX_3_GetUptime: ", 16},
        FailureCase{"CounterState", "f", "receive:27#50", "Error at QVX_3_GetState: ", 22},
        FailureCase{"CounterFrequency", "f", "receive:25#5", "Error at QVX_3_GetFrequency: ", 22}),
    [](const testing::TestParamInfo<FailureCase> &info) { return info.param.name; });

// A module that no longer answers at all must not keep the user in the monitor.
TEST_F(MonitorTest, EscLeavesAMonitorWhoseEveryQueryFails) {
    TmuxScreen &s = start({"-q"}, "receive:5");
    s.type("U");
    ASSERT_TRUE(s.waitFor("Error at QVX_3_GetUptime: ")) << s.screen();
    escape();
    escape();
    EXPECT_TRUE(s.waitExit()) << s.screen();
    EXPECT_EQ(s.exitStatus(), 0);
}

} // namespace
