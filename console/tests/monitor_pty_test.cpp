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

    // Starts QVX-3-Test with `switches` from an interactive shell with job control, for
    // Ctrl-Z and fg, and waits until it takes keys.
    TmuxScreen &startInShell(const std::string &switches, int columns,
                             const std::string &busHz = "0") {
        TmuxScreen::Options options;
        options.columns = columns;
        options.rows = kRows;
        options.env = {"BXA7_SIM_STATE=" + state_, "BXA7_SIM_BUS_HZ=" + busHz,
                       "LC_ALL=C.UTF-8", "PS1=sh> ", "ENV="};
        screen_ = std::make_unique<TmuxScreen>(std::vector<std::string>{"sh", "-i"}, options);
        TmuxScreen &s = *screen_;
        EXPECT_TRUE(s.waitFor("sh>")) << s.screen();
        s.type("'" + kConsole + "' " + switches + "\n");
        const auto end = std::chrono::steady_clock::now() + ptytest::kPatience;
        while ((s.settings().c_lflag & ECHO) && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(milliseconds(20));
        return s;
    }

    // Esc, then a wait for what it visibly does before any further key: tmux passes keys on
    // in its own time, and an Esc read together with the next key is an Alt+key, which the
    // console drops. Esc in a monitor ends its line, leaving the cursor at the start of a row
    // below; Esc in the command loop ends the program, leaving the pane dead or the shell
    // around it in the foreground again.
    void escape() {
        const int rowBefore = screen_->cursor().second;
        screen_->keys({"Escape"});
        const std::string program = std::filesystem::path(kConsole).filename();
        const auto end = std::chrono::steady_clock::now() + ptytest::kPatience;
        do {
            if (screen_->waitExit(milliseconds(0))) return;
            const auto [column, row] = screen_->cursor();
            if (column == 1 && (row > rowBefore || row == kRows)) return;
            if (screen_->foreground() != program) return;
            std::this_thread::sleep_for(milliseconds(20));
        } while (std::chrono::steady_clock::now() < end);
        ADD_FAILURE() << "the Esc did nothing to be seen\n" << screen_->screen();
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

    // Samples the screen until the piece `of` picks from it has changed `times` times: every
    // screen read, for checks on each. Counting changes rather than time, a check on what was
    // or was not shown cannot pass or fail because the console was starved of the processor.
    // `done` tells whether the changes came before the deadline.
    std::vector<Lines> sampleChanges(const std::function<std::string(const Lines &)> &of,
                                     int times, bool &done,
                                     milliseconds deadline = ptytest::kPatience) {
        std::vector<Lines> screens{lines()};
        std::string last = of(screens.back());
        int changes = 0;
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (changes < times && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(milliseconds(20));
            screens.push_back(lines());
            const std::string now = of(screens.back());
            if (now != last) ++changes;
            last = now;
        }
        done = changes >= times;
        return screens;
    }

    // Waits until the piece `of` picks from the screen has changed `times` times: proof that
    // the console has run on, before a check that something was not written.
    bool waitChanges(const std::function<std::string(const Lines &)> &of, int times, Lines &seen) {
        bool done = false;
        seen = sampleChanges(of, times, done).back();
        return done;
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

    // What each indicator showed while the Ch X indicator changed ten times.
    auto indicators = [&]() {
        std::set<char> shown[2];
        bool done = false;
        const auto screens = sampleChanges(
            [](const Lines &l) { return std::string(1, readCounterLine(at(l, 1)).indicator[0]); },
            10, done);
        EXPECT_TRUE(done) << "the Ch X indicator stopped\n" << show(screens.back());
        for (const Lines &l : screens) {
            const CounterLine c = readCounterLine(at(l, 1));
            EXPECT_TRUE(c.layout) << show(l);
            for (int ch = 0; ch < 2; ++ch)
                shown[ch].insert(c.indicator[ch]);
        }
        return std::make_pair(shown[0], shown[1]);
    };
    const std::set<char> both = {' ', '*'};
    const std::set<char> blank = {' '};

    auto running = indicators();
    EXPECT_EQ(running.first, both);
    EXPECT_EQ(running.second, both);

    sim("signal Y off");
    ASSERT_TRUE(waitUntil(
        [](const Lines &l) { return readCounterLine(at(l, 1)).value[1] == "    0.0000Hz"; }, seen))
        << show(seen);
    sim("force state 0x50"); // Ch X: new data and a value; Ch Y: nothing
    // A report read just before may still turn the indicator on at the next update: two
    // updates of the Ch X indicator later it is off.
    ASSERT_TRUE(waitChanges([](const Lines &l) { return std::string(1, readCounterLine(at(l, 1)).indicator[0]); },
                            2, seen))
        << show(seen);
    auto stopped = indicators();
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
    bool done = false;
    const auto screens = sampleChanges(
        [&](const Lines &l) { return std::string(1, readCounterLine(joined(l)).indicator[1]); }, 4,
        done);
    EXPECT_TRUE(done) << "the Ch Y indicator blinks\n" << show(screens.back());
    for (const Lines &l : screens) {
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

// The difference field as a number of seconds; NAN when it does not read as one.
double differenceOf(const UptimeLine &u) {
    static const std::regex drift(" *(-?[0-9]+\\.[0-9]{2})s *");
    std::smatch d;
    return std::regex_match(u.difference, d, drift) ? number(d[1]) : NAN;
}

// Seconds on the test's clock since `start`.
double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The difference compares the module's advance with the PC's since the reference. Both clocks
// run at one rate in the simulator, so it is zero but for the moments the console spends between
// a query's answer and its reading of the PC's clock. A loaded machine stretches those without
// limit, so the difference is bounded by what the test itself saw pass rather than by a fixed
// figure; a slip of 0.02 s covers rounding to hundredths and the clocks' steps.
constexpr double kRounding = 0.02;

// The module's clock and the PC's run at the same rate in the simulator: the uptime counts
// on and the difference stays near zero. The queries-per-second field shows a rate.
TEST_F(MonitorTest, UptimeMonitorCountsWithTheModuleAndShowsNoDrift) {
    TmuxScreen &s = start({"-q"}, "", "100000");
    const auto typed = std::chrono::steady_clock::now();
    s.type("U");
    static const std::regex seconds("([0-9]{1,2}\\.[0-9]{2})s *");
    auto uptimeOf = [](const UptimeLine &u) {
        std::smatch m;
        return std::regex_match(u.uptime, m, seconds) ? number(m[1]) : NAN;
    };
    Lines seen;
    ASSERT_TRUE(waitUntil(
        [&](const Lines &l) {
            const UptimeLine u = readUptimeLine(at(l, 1));
            return !u.queries.empty() && !std::isnan(uptimeOf(u));
        },
        seen))
        << show(seen);
    const double first = uptimeOf(readUptimeLine(at(seen, 1)));
    ASSERT_TRUE(waitUntil(
        [&](const Lines &l) { return uptimeOf(readUptimeLine(at(l, 1))) > first + 1.0; }, seen))
        << "the uptime counts on from " << first << "\n"
        << show(seen);
    const double elapsed = secondsSince(typed);
    ASSERT_EQ(seen.size(), 1u) << show(seen);
    const UptimeLine later = readUptimeLine(seen[0]);
    ASSERT_TRUE(later.layout) << show(seen);

    // The reference is taken after the run began, so the PC's clock has always run at least
    // as long as the module's: never ahead, and behind by no more than the time the test saw
    // pass beyond the module's advance it saw.
    const double difference = differenceOf(later);
    ASSERT_FALSE(std::isnan(difference)) << later.difference;
    EXPECT_LE(difference, kRounding) << later.difference;
    EXPECT_GE(difference, uptimeOf(later) - first - elapsed - kRounding)
        << later.difference << " after " << elapsed << " s";

    static const std::regex rate("[0-9]+\\.[0-9]{2}");
    ASSERT_TRUE(std::regex_match(later.queries, rate)) << later.queries;
    EXPECT_GT(number(later.queries), 10.0);
}

// A module restart shows at once, between runs and within one (the module power-cycled),
// and the difference counts afresh from the new uptime: near zero, and a zero is never
// shown as "-0.00s".
TEST_F(MonitorTest, UptimeMonitorShowsARestartAtOnce) {
    auto driftOf = [](const UptimeLine &u) {
        EXPECT_EQ(u.difference.find("-0.00s"), std::string::npos) << u.difference;
        const double d = differenceOf(u);
        EXPECT_FALSE(std::isnan(d)) << u.difference;
        return std::isnan(d) ? 1e9 : d;
    };
    sim("force uptime 30");
    TmuxScreen &s = start({"-q"});
    s.type("U");
    Lines seen;
    ASSERT_TRUE(waitUntil(
        [](const Lines &l) { return readUptimeLine(at(l, 1)).uptime == "30.00s         "; }, seen))
        << show(seen);
    escape();

    sim("force uptime 20");
    const auto typed = std::chrono::steady_clock::now();
    s.type("U");
    ASSERT_TRUE(waitUntil(
        [](const Lines &l) { return readUptimeLine(at(l, 2)).uptime == "20.00s         "; }, seen))
        << "a lower uptime than the last run showed\n"
        << show(seen);
    // The module's clock stands still: the difference is minus the PC's time from the start
    // of the run to the first answer.
    const double elapsed = secondsSince(typed);
    const double first = driftOf(readUptimeLine(at(seen, 2)));
    EXPECT_LE(first, kRounding) << show(seen);
    EXPECT_GE(first, -elapsed - kRounding) << "after " << elapsed << " s\n" << show(seen);

    const auto cycled = std::chrono::steady_clock::now();
    sim("power-cycle");
    sim("force uptime live");
    static const std::regex seconds("([0-9]{1,2}\\.[0-9]{2})s *");
    ASSERT_TRUE(waitUntil(
        [](const Lines &l) {
            std::smatch m;
            const UptimeLine u = readUptimeLine(at(l, 2));
            return std::regex_match(u.uptime, m, seconds) && number(m[1]) < 15.0;
        },
        seen))
        << "the uptime from the power-cycle on, in place of 20.00s\n"
        << show(seen);
    // Counted from the restart, the difference can be off by no more than the time since the
    // power-cycle; kept from the old reference it would be 20 s off.
    for (const Lines &l : sample(milliseconds(1000))) {
        const double since = secondsSince(cycled);
        ASSERT_EQ(l.size(), 2u) << show(l);
        const UptimeLine u = readUptimeLine(l[1]);
        ASSERT_TRUE(u.layout) << show(l);
        EXPECT_LE(std::fabs(driftOf(u)), since + kRounding)
            << "counted from the restart, " << since << " s ago\n"
            << show(l);
    }
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

// The error line and the flush message begin on the monitor line; below them the whole line
// is drawn afresh, labels and fields at their columns, the monitor goes on there, and Esc
// still ends it.
TEST_P(MonitorFailureTest, ErrorLinesThenTheWholeLineAfreshBelowThem) {
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
    // The error line follows the monitor line on its row and wraps where the width of the
    // queries field puts it, which depends on the machine's speed: read its rows as one.
    std::string reported;
    for (int row = monitorRow; row < flushed; ++row) {
        std::string text = at(seen, row);
        if (row + 1 < flushed) text.resize(kColumns, ' ');
        reported += text;
    }
    EXPECT_NE(reported.find(c.error), std::string::npos) << show(seen);

    sim("force uptime 4000");
    sim("force freq-x 87654321");
    const bool uptime = c.key == std::string("U");
    const std::string value = uptime ? "1:06:40.00 " : " 8765.4321Hz";
    ASSERT_TRUE(waitUntil(
        [&](const Lines &l) {
            const std::string line = at(l, flushed + 1);
            return holdsAt(line, c.valueColumn, value) &&
                   (uptime ? readUptimeLine(line).layout : readCounterLine(line).layout);
        },
        seen))
        << "a whole line below the report\n"
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

// With the module gone every query fails the same way: one error line, the count of its
// repeats growing at its end, the labelled line below it, nothing else printed. When the
// module answers again the count stays as it was and the fields fill in; the next failure
// is new and gets lines of its own.
TEST_F(MonitorTest, RepeatedFailureIsCountedOnItsErrorLine) {
    constexpr int kWide = 250; // the error line after the monitor line on one row
    TmuxScreen &s = start({"-q"}, "", "0", kWide);
    s.type("U");
    Lines seen;
    ASSERT_TRUE(
        waitUntil([](const Lines &l) { return !readUptimeLine(at(l, 1)).queries.empty(); }, seen))
        << show(seen);

    static const std::regex counted(".*Error at QVX_3_GetUptime: .*\\(repeated ([0-9]+) times?\\)");
    auto count = [](const std::string &row) {
        std::smatch m;
        return std::regex_match(row, m, counted) ? std::stol(m[1]) : -1L;
    };
    sim("slot 0 empty");
    ASSERT_TRUE(waitUntil([&](const Lines &l) { return count(at(l, 1)) >= 2; }, seen))
        << show(seen);
    const long first = count(at(seen, 1));
    long before = first;
    for (const Lines &l : sample(milliseconds(1000))) {
        ASSERT_EQ(l.size(), 2u) << "no new lines while the failure repeats\n" << show(l);
        EXPECT_TRUE(readUptimeLine(l[1]).layout) << show(l);
        const long n = count(l[0]);
        EXPECT_GE(n, before) << show(l);
        before = n;
    }
    ASSERT_TRUE(waitUntil([&](const Lines &l) { return count(at(l, 1)) > first; }, seen))
        << "the count goes on\n"
        << show(seen);

    sim("slot 0 module");
    sim("force uptime 4000");
    ASSERT_TRUE(waitUntil(
        [](const Lines &l) { return readUptimeLine(at(l, 2)).uptime == "1:06:40.00     "; }, seen))
        << show(seen);
    const long final = count(at(seen, 1));
    EXPECT_GE(final, before);
    // The queries field is rewritten as the monitor runs on; two rewrites later the count
    // has had its chance to move.
    ASSERT_TRUE(
        waitChanges([](const Lines &l) { return readUptimeLine(at(l, 2)).queries; }, 2, seen))
        << show(seen);
    EXPECT_EQ(count(at(seen, 1)), final) << "the count ends with the repeats\n" << show(seen);

    sim("slot 0 empty");
    ASSERT_TRUE(waitUntil(
        [](const Lines &l) {
            return l.size() == 3 && rowStarting(l, "Device uptime: ") == 3 &&
                   at(l, 2).find("Error at QVX_3_GetUptime: ") != std::string::npos;
        },
        seen))
        << "a failure after a success is reported again\n"
        << show(seen);
    EXPECT_TRUE(readUptimeLine(at(seen, 3)).layout) << show(seen);
}

// A resize draws the whole line afresh on a new row: in a window narrower than the line in
// the steady wrapped layout, on one row again once the window is wide enough.
TEST_F(MonitorTest, ResizeDrawsTheWholeLineAfresh) {
    TmuxScreen &s = start({"-q"});
    s.type("U");
    Lines seen;
    ASSERT_TRUE(
        waitUntil([](const Lines &l) { return !readUptimeLine(at(l, 1)).queries.empty(); }, seen))
        << show(seen);

    constexpr int kNarrow = 60;
    static const std::regex rate("[0-9]+\\.[0-9]{2}");
    auto wrapped = [](const Lines &l) {
        std::string first = at(l, static_cast<int>(l.size()) - 1);
        first.resize(kNarrow, ' ');
        return readUptimeLine(first + at(l, static_cast<int>(l.size())));
    };
    s.resize(kNarrow, kRows);
    ASSERT_TRUE(waitUntil(
        [&](const Lines &l) {
            const UptimeLine u = wrapped(l);
            return u.layout && std::regex_match(u.queries, rate);
        },
        seen))
        << show(seen);
    const std::size_t rows = seen.size();
    for (const Lines &l : sample(milliseconds(1000))) {
        ASSERT_EQ(l.size(), rows) << "steady on its two rows\n" << show(l);
        const UptimeLine u = wrapped(l);
        ASSERT_TRUE(u.layout && std::regex_match(u.queries, rate)) << show(l);
    }

    s.resize(kColumns, kRows);
    ASSERT_TRUE(waitUntil(
        [&](const Lines &l) {
            const UptimeLine u = readUptimeLine(l.back());
            return u.layout && std::regex_match(u.queries, rate);
        },
        seen))
        << show(seen);
}

// Stopped with Ctrl-Z and resumed with fg in a shell, the monitor draws its whole line on the
// row after the shell's lines instead of writing bare fields where it left off; at the end
// the shell's prompt starts a row of its own after "Program finished".
TEST_F(MonitorTest, ResumeDrawsTheWholeLineAfreshBelowTheShell) {
    TmuxScreen &s = startInShell("", kColumns);
    s.type("f");
    auto valuesShown = [](const std::string &row) {
        const CounterLine c = readCounterLine(row);
        return c.layout && c.value[0] == " 1000.0000Hz" && c.value[1] == "12500.0000Hz";
    };
    Lines seen;
    ASSERT_TRUE(waitUntil([&](const Lines &l) { return valuesShown(l.back()); }, seen))
        << show(seen);

    s.keys({"C-z"});
    ASSERT_TRUE(s.waitFor("Stopped")) << s.screen();
    s.type("fg\n");
    ASSERT_TRUE(waitUntil(
        [&](const Lines &l) {
            return valuesShown(l.back()) && rowStarting(l, "Measured data:") > rowHolding(l, "fg");
        },
        seen))
        << show(seen);
    for (const Lines &l : sample(milliseconds(800))) {
        ASSERT_TRUE(valuesShown(l.back())) << show(l);
        for (const std::string &row : l) {
            if (row.find("Hz") != std::string::npos) {
                EXPECT_EQ(row.rfind("Measured data: ", 0), 0u) << "no bare fields\n" << show(l);
            }
        }
    }

    escape();
    escape();
    ASSERT_TRUE(waitUntil(
        [](const Lines &l) {
            const int row = rowStarting(l, "Program finished");
            return row > 0 && at(l, row) == "Program finished" && at(l, row + 1) == "sh>";
        },
        seen))
        << "the prompt on a row of its own\n"
        << show(seen);
}

// Stopped and resumed while a failure repeats: after each fg the failure is reported afresh
// on the row after the shell's lines, its count at the end of its own error line, never
// written into the shell's lines by a cursor that no longer matches the screen.
TEST_F(MonitorTest, ResumeWhileAFailureRepeatsReportsItAfresh) {
    constexpr int kWide = 250; // every error line on one row
    // A slow bus, so that the stop mostly falls into a query rather than the pause.
    TmuxScreen &s = startInShell("-q", kWide, "20000");
    sim("slot 0 empty");
    s.type("U");
    Lines seen;
    ASSERT_TRUE(s.waitFor("(repeated")) << s.screen();
    for (int round = 1; round <= 3; ++round) {
        s.keys({"C-z"});
        ASSERT_TRUE(waitUntil(
            [&](const Lines &l) {
                int stopped = 0;
                for (const std::string &row : l)
                    stopped += row.find("Stopped") != std::string::npos;
                return stopped == round;
            },
            seen))
            << show(seen);
        // Stopped for longer than the count's period, so that the count is due at once.
        std::this_thread::sleep_for(milliseconds(400));
        s.type("fg\n");
        ASSERT_TRUE(waitUntil(
            [&](const Lines &l) {
                const int last = static_cast<int>(l.size());
                return rowStarting(l, "Device uptime: ") == last &&
                       rowStarting(l, "Error at ") == last - 1 &&
                       rowStarting(l, "sh> fg") < last - 1;
            },
            seen))
            << "round " << round << "\n"
            << show(seen);
    }
    // For a count written where it must not be: the count on the last error line moves twice.
    ASSERT_TRUE(waitChanges(
        [](const Lines &l) {
            const int row = rowStarting(l, "Error at ");
            const std::string line = at(l, row);
            const std::size_t repeated = line.find("(repeated");
            return repeated == std::string::npos ? std::string() : line.substr(repeated);
        },
        2, seen))
        << show(seen);
    for (const std::string &row : lines()) {
        if (row.find("(repeated") == std::string::npos) continue;
        EXPECT_TRUE(row.rfind("Error at ", 0) == 0 || row.rfind("Device uptime: ", 0) == 0)
            << row << "\n"
            << show(lines());
    }
}

} // namespace
