// QVX-3-Test on a real terminal, on the simulated module: what a user sees on the screen,
// and the terminal given back as it was found. Each test has its own adapter state file.
#include "pty_harness.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using ptytest::PtyProcess;
using ptytest::TmuxScreen;

const std::string kConsole = QVX3_CONSOLE_PROGRAM;

// The last line of the help text: once it is shown the program waits for keys.
const char kHelpEnd[] = "by 'b'. Example: 123, 7Bh, and 1111011b specify the same number.";

const char kHelp[] =
    "Press (if not explicitly specified, the case doesn't matter):\n"
    "    'q' to scan RVL for the device,     'o/O' to get/set RVL slot number,\n"
    "    'l/L' to get/set LPF frequency,     'h/H' to get/set HPF frequency,\n"
    "    'a/A' to get/set amplification,     's/S' to get/set polarity,\n"
    "    't/T' to get/set threshold,         'm/M' to get/set measurement duration,\n"
    "    'f' to get data measured by the counters,\n"
    "    'k' to get housekeeping data,       'c' to get clock frequencies,\n"
    "    'd' to get firmware date,           'v' to get firmware version,\n"
    "    'p' to get product identification,  'n' to get product number,\n"
    "    'u/U' to get uptime, U: continuously,\n"
    "    'Esc' to stop,                      '?' for this help...\n"
    "Note:\n"
    "  Integral values can be entered in decimal, hexadecimal, or binary formats.\n"
    "  The hexadecimal format can be specified by the postfix 'h', the binary format\n"
    "  by 'b'. Example: 123, 7Bh, and 1111011b specify the same number.\n";

// The simulated adapter of one test: its state file in the test's own directory, an
// instant bus.
std::vector<std::string> simulatedAdapter(const TempDir &dir) {
    return {"BXA7_SIM_STATE=" + dir.file("state"), "BXA7_SIM_BUS_HZ=0"};
}

// What the program showed until it ended (tmux then adds its own note on the pane).
std::string shownByProgram(TmuxScreen &s) {
    std::string shown = s.transcript();
    shown.erase(std::min(shown.find("\nPane is dead"), shown.size()));
    while (!shown.empty() && shown.back() == '\n')
        shown.pop_back();
    return shown;
}

// True once the program has taken key mode: the settings differ from `before`.
bool waitForKeyMode(const PtyProcess &p, const termios &before) {
    const auto end = std::chrono::steady_clock::now() + ptytest::kPatience;
    while (ptytest::sameSettings(p.settings(), before)) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A session as a person has it: the help text at start, keys without a command ignored, a
// reply typed at a prompt visible beside it, Esc ending the run. The whole screen is
// compared, so a stray character from an ignored key fails the test.
TEST(ConsoleOnTerminal, HelpKeysEchoedReplyAndEsc) {
    TempDir dir;
    TmuxScreen s({kConsole}, {80, 40, simulatedAdapter(dir)});
    ASSERT_TRUE(s.waitFor(kHelpEnd)) << s.screen();
    s.keys({"Up", "F5", "C-Left", "F12", "x"});
    s.type("T");
    ASSERT_TRUE(s.waitFor("Enter the channel number (X=0, Y=1):")) << s.screen();
    s.type("1");
    s.keys({"Enter"});
    ASSERT_TRUE(s.waitFor("(0.001V-5.000V):")) << s.screen();
    s.type("2.5");
    ASSERT_TRUE(s.waitFor("(0.001V-5.000V): 2.5")) << "the reply is echoed\n" << s.screen();
    s.keys({"Enter"});
    s.type("t");
    ASSERT_TRUE(s.waitFor("Ch Y: 2.500V")) << s.screen();
    s.keys({"Escape"});
    ASSERT_TRUE(s.waitExit()) << s.screen();
    EXPECT_EQ(s.exitStatus(), 0);
    // The screen shows the tab as blanks.
    EXPECT_EQ(shownByProgram(s), std::string("Communication port opened\n"
                                             "Buffers flushed\n") +
                                     kHelp +
                                     "Enter the channel number (X=0, Y=1): 1\n"
                                     "Enter the new threshold in V (0.001V-5.000V): 2.5\n"
                                     "Ch X: 0.100V    Ch Y: 2.500V\n"
                                     "Program finished")
        << shownByProgram(s);
}

// What follows the help text (and its line end) in what the program showed.
std::string afterHelp(TmuxScreen &s) {
    const std::string shown = shownByProgram(s);
    const std::size_t at = shown.find(kHelpEnd);
    return at == std::string::npos ? "(no help text)\n" + shown
                                   : shown.substr(std::min(at + sizeof kHelpEnd, shown.size()));
}

// True once the cursor stands in the first column: a prompt's line has been ended. A key
// sent before that might reach the program within an Esc's short wait and make Alt+key.
bool waitForLineStart(TmuxScreen &s) {
    const auto end = std::chrono::steady_clock::now() + ptytest::kPatience;
    while (s.cursor().first != 1) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

const char kChannelPrompt[] = "Enter the channel number (X=0, Y=1):";

// Types a reply and Enter.
void answer(TmuxScreen &s, const std::string &reply) {
    s.type(reply);
    s.keys({"Enter"});
}

// A reply is the whole line, taken only when it is one number of the prompt's form: 14h is
// Tau 20; Y at the channel prompt is refused and nothing of it answers the next prompt, which
// waits for the user (Esc then abandons it); 1e1 at the Tau prompt is refused, not Tau 1.
TEST(ConsoleOnTerminal, ReplyIsOneWholeLineInThePromptsForm) {
    TempDir dir;
    TmuxScreen s({kConsole}, {80, 40, simulatedAdapter(dir)});
    ASSERT_TRUE(s.waitFor(kHelpEnd)) << s.screen(); // keys typed earlier would be echoed
    s.type("H");
    answer(s, "0");
    ASSERT_TRUE(s.waitFor("Enter the HPF tau parameter (1-20):")) << s.screen();
    answer(s, " 14h ");
    s.type("A");
    answer(s, "Y");
    ASSERT_TRUE(s.waitFor("Wrong value specified!")) << s.screen();
    s.type("A");
    ASSERT_TRUE(s.waitFor(std::string("Wrong value specified!\n") + kChannelPrompt)) << s.screen();
    s.keys({"Escape"});
    ASSERT_TRUE(waitForLineStart(s)) << s.screen();
    s.type("H");
    answer(s, "1");
    answer(s, "1e1");
    ASSERT_TRUE(s.waitFor("Wrong value specified! The HPF")) << s.screen();
    s.type("ha");
    ASSERT_TRUE(s.waitFor("Ch X: 1.0000")) << s.screen();
    s.keys({"Escape"});
    ASSERT_TRUE(s.waitExit()) << s.screen();
    EXPECT_EQ(afterHelp(s),
              "Enter the channel number (X=0, Y=1): 0\n"
              "Enter the HPF tau parameter (1-20):  14h\n"
              "Enter the channel number (X=0, Y=1): Y\n"
              "Wrong value specified!\n"
              "Enter the channel number (X=0, Y=1):\n"
              "Enter the channel number (X=0, Y=1): 1\n"
              "Enter the HPF tau parameter (1-20): 1e1\n"
              "Wrong value specified! The HPF tau parameter must be in the range from 1 to 20.\n"
              "Ch X HPF: 0.015Hz (Tau=20)      Ch Y HPF: 62.170Hz (Tau=8)\n"
              "Ch X: 1.0000    Ch Y: 1.0000\n"
              "Program finished")
        << s.transcript();
}

// Esc at a prompt, at the first or the second one, with or without a reply typed, abandons
// the command: its line is ended, nothing is sent, and the run goes on.
TEST(ConsoleOnTerminal, EscAtAPromptAbandonsTheCommand) {
    TempDir dir;
    TmuxScreen s({kConsole}, {80, 40, simulatedAdapter(dir)});
    ASSERT_TRUE(s.waitFor(kHelpEnd)) << s.screen();
    s.type("T");
    answer(s, "1");
    s.type("2.5");
    ASSERT_TRUE(s.waitFor("(0.001V-5.000V): 2.5")) << s.screen();
    s.keys({"Escape"});
    ASSERT_TRUE(waitForLineStart(s)) << s.screen();
    s.type("O");
    ASSERT_TRUE(s.waitFor("Enter the new RVL slot number:")) << s.screen();
    s.keys({"Escape"});
    ASSERT_TRUE(waitForLineStart(s)) << s.screen();
    s.type("to");
    ASSERT_TRUE(s.waitFor("RVL slot number: 00h (0)")) << s.screen();
    s.keys({"Escape"});
    ASSERT_TRUE(s.waitExit()) << s.screen();
    EXPECT_EQ(s.exitStatus(), 0);
    EXPECT_EQ(afterHelp(s), "Enter the channel number (X=0, Y=1): 1\n"
                            "Enter the new threshold in V (0.001V-5.000V): 2.5\n"
                            "Enter the new RVL slot number:\n"
                            "Ch X: 0.100V    Ch Y: 0.100V\n"
                            "RVL slot number: 00h (0)\n"
                            "Program finished")
        << s.transcript();
}

// Alt with a key brings nothing: it neither ends the run (Alt+v), nor leaves a monitor and
// scans (Alt+q), nor types into a reply or abandons it (Alt+5).
TEST(ConsoleOnTerminal, AltKeysAreIgnored) {
    TempDir dir;
    TmuxScreen s({kConsole}, {80, 40, simulatedAdapter(dir)});
    ASSERT_TRUE(s.waitFor(kHelpEnd)) << s.screen();
    s.keys({"M-v"});
    s.type("A");
    ASSERT_TRUE(s.waitFor(kChannelPrompt)) << s.screen();
    s.keys({"M-5"});
    answer(s, "1");
    answer(s, "3");
    s.type("f");
    ASSERT_TRUE(s.waitFor("Measured data:")) << s.screen();
    s.keys({"M-q", "Escape"});
    ASSERT_TRUE(waitForLineStart(s)) << s.screen();
    s.type("a");
    ASSERT_TRUE(s.waitFor("Ch Y: 3.0000")) << s.screen();
    s.keys({"Escape"});
    ASSERT_TRUE(s.waitExit()) << s.screen();
    const std::string after = afterHelp(s);
    EXPECT_EQ(after.rfind("Enter the channel number (X=0, Y=1): 1\n"
                          "Enter the new amplification (0-256): 3\n"
                          "Press 'Esc' to quit\n"
                          "Measured data:",
                          0),
              0u)
        << after;
    EXPECT_EQ(after.find("Device"), std::string::npos) << "Alt+q scanned the bus\n" << after;
    EXPECT_EQ(after.find("Firmware"), std::string::npos) << after;
    const std::string end = "\nCh X: 1.0000    Ch Y: 3.0000\nProgram finished";
    EXPECT_EQ(after.substr(after.size() - std::min(after.size(), end.size())), end) << after;
}

// The terminal's end-of-file key at a prompt abandons that command (nothing is sent) and
// ends the prompt's line once; the run goes on.
TEST(ConsoleOnTerminal, EndOfFileKeyAtAPromptAbandonsTheCommand) {
    TempDir dir;
    TmuxScreen s({kConsole}, {80, 40, simulatedAdapter(dir)});
    ASSERT_TRUE(s.waitFor(kHelpEnd)) << s.screen();
    s.type("A");
    ASSERT_TRUE(s.waitFor("Enter the channel number (X=0, Y=1):")) << s.screen();
    s.keys({"C-d"});
    s.type("a");
    ASSERT_TRUE(s.waitFor("Ch X: 1.0000")) << s.screen();
    s.keys({"Escape"});
    ASSERT_TRUE(s.waitExit()) << s.screen();
    const std::string shown = shownByProgram(s);
    EXPECT_EQ(shown.substr(std::min(shown.find(kHelpEnd) + sizeof kHelpEnd, shown.size())),
              "Enter the channel number (X=0, Y=1):\n" // the screen keeps no trailing blank
              "Ch X: 1.0000    Ch Y: 1.0000\n"
              "Program finished")
        << shown;
}

// The rows of the screen.
std::vector<std::string> rowsOf(const std::string &screen) {
    std::vector<std::string> rows;
    std::size_t from = 0;
    for (;;) {
        const std::size_t end = screen.find('\n', from);
        rows.push_back(screen.substr(from, end - from));
        if (end == std::string::npos) return rows;
        from = end + 1;
    }
}

// Waits until the program reads keys again (the terminal echoes nothing), so that keys
// typed from then on reach it and not the terminal's own echo.
bool waitForKeys(TmuxScreen &s) {
    const auto end = std::chrono::steady_clock::now() + ptytest::kPatience;
    while (s.settings().c_lflag & ECHO) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Stops the program with Ctrl-Z and resumes it with fg, waiting until it reads keys again.
void stopAndResume(TmuxScreen &s) {
    s.keys({"C-z"});
    ASSERT_TRUE(s.waitFor("Stopped")) << s.screen();
    ASSERT_TRUE(s.waitFor("sh> ")) << s.screen();
    s.type("fg\n");
    ASSERT_TRUE(waitForKeys(s)) << s.screen();
}

// Waits until `text` is a whole row below the last row that is `marker`.
bool waitForRowBelow(TmuxScreen &s, const std::string &marker, const std::string &text) {
    const auto end = std::chrono::steady_clock::now() + ptytest::kPatience;
    for (;;) {
        const std::vector<std::string> rows = rowsOf(s.screen());
        std::size_t below = rows.size();
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (rows[i] == marker) below = i + 1;
        for (std::size_t i = below; i < rows.size(); ++i)
            if (rows[i] == text) return true;
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// A reply typed before Ctrl-Z and fg is shown again with its prompt below the shell's lines
// at once, before any key, so that the screen shows what Enter takes: `1`, stop, `1h` is
// 11h, refused as a channel; and Backspace erases there.
TEST(ConsoleOnTerminal, ReplyTypedBeforeAStopIsShownAgainAfterIt) {
    TempDir dir;
    TmuxScreen::Options options{80, 40, simulatedAdapter(dir)};
    options.env.insert(options.env.end(), {"PS1=sh> ", "ENV="});
    TmuxScreen s({"sh", "-i"}, options);
    ASSERT_TRUE(s.waitFor("sh>")) << s.screen();
    s.type("'" + kConsole + "' -q\n");
    ASSERT_TRUE(waitForKeys(s)) << s.screen();

    s.type("T");
    ASSERT_TRUE(s.waitFor(kChannelPrompt)) << s.screen();
    s.type("1");
    stopAndResume(s);
    ASSERT_TRUE(waitForRowBelow(s, "sh> fg", std::string(kChannelPrompt) + " 1")) << s.screen();
    answer(s, "1h");
    ASSERT_TRUE(s.waitFor("Wrong value specified!")) << s.screen();

    s.type("T");
    s.type("0");
    ASSERT_TRUE(s.waitFor(std::string(kChannelPrompt) + " 0")) << s.screen();
    stopAndResume(s);
    s.keys({"BSpace"});
    answer(s, "1");
    ASSERT_TRUE(s.waitFor("(0.001V-5.000V):")) << s.screen();
    answer(s, "2.5");
    s.type("t");
    ASSERT_TRUE(s.waitFor("Ch Y: 2.500V")) << s.screen();

    // Each reply stands, with its prompt, below the shell's "fg" and is what was taken.
    const std::vector<std::string> rows = rowsOf(s.screen());
    auto rowOf = [&](const std::string &text, std::size_t after) {
        for (std::size_t i = after; i < rows.size(); ++i)
            if (rows[i] == text) return i;
        return rows.size();
    };
    const std::size_t firstFg = rowOf("sh> fg", 0);
    const std::size_t refused = rowOf("Enter the channel number (X=0, Y=1): 11h", firstFg);
    ASSERT_LT(refused + 1, rows.size()) << s.screen();
    EXPECT_EQ(rows[refused + 1], "Wrong value specified!") << s.screen();
    const std::size_t secondFg = rowOf("sh> fg", refused);
    const std::size_t taken = rowOf("Enter the channel number (X=0, Y=1): 1", secondFg);
    ASSERT_LT(taken + 2, rows.size()) << s.screen();
    EXPECT_EQ(rows[taken + 1], "Enter the new threshold in V (0.001V-5.000V): 2.5") << s.screen();
    EXPECT_EQ(rows[taken + 2], "Ch X: 0.100V    Ch Y: 2.500V") << s.screen();
}

// A window made narrower rewraps a long reply; the next key draws prompt and reply afresh
// below, and Backspace erases one character at a time there, across the row it wraps onto.
TEST(ConsoleOnTerminal, ReplyRewrappedByAResizeIsShownAgainBelow) {
    TempDir dir;
    TmuxScreen s({kConsole, "-q"}, {80, 40, simulatedAdapter(dir)});
    ASSERT_TRUE(waitForKeys(s)) << s.screen();
    s.type("T");
    answer(s, "1");
    const std::string prompt = "Enter the new threshold in V (0.001V-5.000V): ";
    ASSERT_TRUE(s.waitFor(prompt.substr(0, prompt.size() - 1))) << s.screen();
    const std::string reply = "1.5" + std::string(40, '0'); // wraps in 80 columns
    s.type(reply);
    ASSERT_TRUE(s.waitFor(std::string(10, '0'))) << s.screen();
    s.resize(60, 40);
    s.keys(std::vector<std::string>(41, "BSpace"));
    answer(s, "5");
    s.type("t");
    ASSERT_TRUE(s.waitFor("Ch Y: 1.500V")) << s.screen();

    const std::vector<std::string> rows = rowsOf(s.screen());
    const auto last = std::find(rows.begin(), rows.end(), "Ch X: 0.100V    Ch Y: 1.500V");
    ASSERT_GE(last - rows.begin(), 3) << s.screen();
    EXPECT_EQ(*(last - 1), prompt + "1.5") << s.screen();
    // Above it the old rows as the resize rewrapped them, untouched.
    const std::string whole = prompt + reply;
    EXPECT_EQ(*(last - 3), whole.substr(0, 60)) << s.screen();
    EXPECT_EQ(*(last - 2), whole.substr(60)) << s.screen();
}

struct WayOut {
    const char *name;
    std::function<void(PtyProcess &)> act;
    int signal; // 0: a normal exit with status 0
};

// The terminal's settings after the run equal those before it, however the run ends.
TEST(ConsoleOnTerminal, TerminalIsGivenBack) {
    const WayOut ways[] = {
        {"Esc", [](PtyProcess &p) { p.send("\x1b"); }, 0},
        {"Ctrl-C", [](PtyProcess &p) { p.send("\x03"); }, SIGINT},
        {"SIGTERM", [](PtyProcess &p) { kill(p.pid(), SIGTERM); }, SIGTERM},
    };
    const termios before = ptytest::userSettings();
    for (const WayOut &way : ways) {
        TempDir dir;
        PtyProcess::Options options;
        options.settings = &before;
        options.env = simulatedAdapter(dir);
        PtyProcess p({kConsole}, options);
        ASSERT_TRUE(p.waitFor(kHelpEnd)) << way.name << "\n" << p.output();
        ASSERT_TRUE(waitForKeyMode(p, before)) << way.name << ": no key mode";
        way.act(p);
        ASSERT_TRUE(p.waitExit()) << way.name;
        EXPECT_TRUE(ptytest::sameSettings(p.settings(), before))
            << way.name << "\n before " << ptytest::describe(before) << "\n after  "
            << ptytest::describe(p.settings());
        const int st = p.status();
        if (way.signal == 0) {
            EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << way.name << " status " << st;
            const std::string &out = p.output();
            // On a terminal its line is ended, so that the shell's prompt starts a row.
            const std::string last = "\r\nProgram finished\r\n";
            EXPECT_EQ(out.substr(out.size() - std::min(out.size(), last.size())), last)
                << way.name << ": Program finished comes last, its line ended\n"
                << out;
        } else {
            EXPECT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == way.signal)
                << way.name << ": dies of its signal, status " << st;
        }
    }
}

// What /proc tells of a process: its state letter ('?' once it can no longer be read), its
// own processor time (user + system, in clock ticks) and how often it has blocked (voluntary
// context switches: each wait that slept).
struct ProcessUse {
    char state = '?';
    long long ticks = 0;
    long long waits = 0;
};

ProcessUse processUse(pid_t pid) {
    const std::string dir = "/proc/" + std::to_string(pid);
    ProcessUse use;
    std::ifstream statFile(dir + "/stat");
    std::string stat;
    std::getline(statFile, stat);
    // The name in parentheses may hold blanks: the fields are counted after its end.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return ProcessUse{};
    std::istringstream fields(stat.substr(close + 1));
    std::string skip;
    long long utime = 0, stime = 0;
    fields >> use.state;
    for (int field = 4; field <= 13; ++field)
        fields >> skip;
    if (!(fields >> utime >> stime)) return ProcessUse{};
    use.ticks = utime + stime;

    std::ifstream status(dir + "/status");
    const std::string key = "voluntary_ctxt_switches:";
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, key.size(), key) == 0) use.waits = std::stoll(line.substr(key.size()));
    return use;
}

// Polls until the process's state is (or, with `is` false, is not) `state`.
bool waitForState(pid_t pid, char state, bool is) {
    const auto end = std::chrono::steady_clock::now() + ptytest::kPatience;
    while ((processUse(pid).state == state) != is) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Waiting for a key costs no processor time and does not wake up by itself, also after many
// resizes and a stop and resume have woken the wait: each wake-up is used once. Both figures
// are the program's own and do not grow with the machine's load (being preempted is not a
// voluntary switch), so the bounds hold on a busy machine.
TEST(ConsoleOnTerminal, IdleWaitUsesNoProcessorTime) {
    TempDir dir;
    const termios before = ptytest::userSettings();
    PtyProcess::Options options;
    options.settings = &before;
    options.env = simulatedAdapter(dir);
    PtyProcess p({kConsole}, options);
    ASSERT_TRUE(p.waitFor(kHelpEnd)) << p.output();
    ASSERT_TRUE(waitForKeyMode(p, before)) << "no key mode";

    for (int i = 0; i < 50; ++i) {
        p.resize(80 + i % 7, 24 + i % 5);
        kill(p.pid(), SIGWINCH);
    }
    // Alone in its session the program's own stop is discarded: a stop from outside stands in.
    kill(p.pid(), SIGTSTP);
    kill(p.pid(), SIGSTOP);
    ASSERT_TRUE(waitForState(p.pid(), 'T', true)) << "not stopped";
    kill(p.pid(), SIGCONT);
    ASSERT_TRUE(waitForState(p.pid(), 'T', false)) << "not resumed";

    const ProcessUse start = processUse(p.pid());
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const ProcessUse end = processUse(p.pid());
    ASSERT_NE(start.state, '?');
    ASSERT_NE(end.state, '?') << "the program ended while idle\n" << p.output();
    EXPECT_NE(end.state, 'T') << "stopped while idle";
    // A wait that never blocks (a wake-up left unused) spends the whole time; one that
    // looks every millisecond blocks a thousand times or more.
    EXPECT_LE(end.ticks - start.ticks, 10)
        << "processor time over 2 s of waiting for a key, in ticks of 1/"
        << sysconf(_SC_CLK_TCK) << " s";
    EXPECT_LE(end.waits - start.waits, 20) << "times the wait woke up and slept again in 2 s";

    // Still answering keys, and nothing shown while idle.
    p.send("v");
    ASSERT_TRUE(p.waitFor("Firmware version: 1-02\r\n")) << p.output();
    p.send("\x1b");
    ASSERT_TRUE(p.waitExit());
    const std::string &out = p.output();
    const std::size_t help = out.find(kHelpEnd);
    ASSERT_NE(help, std::string::npos) << out;
    EXPECT_EQ(out.substr(help + sizeof kHelpEnd - 1),
              "\r\nFirmware version: 1-02\r\nProgram finished\r\n");
    EXPECT_TRUE(WIFEXITED(p.status()) && WEXITSTATUS(p.status()) == 0)
        << "status " << p.status();
    EXPECT_TRUE(ptytest::sameSettings(p.settings(), before))
        << "\n before " << ptytest::describe(before) << "\n after  "
        << ptytest::describe(p.settings());
}

} // namespace
