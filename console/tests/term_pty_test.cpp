// The terminal layer on a real terminal: the probe program (term_probe.cpp) in a
// pseudo-terminal, alone (exact bytes, settings, signals) or on a tmux screen.
#include "pty_harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using ptytest::PtyProcess;
using ptytest::TmuxScreen;
using std::chrono::milliseconds;

const std::string kProbe = QVX3_TERM_PROBE;

std::vector<std::string> probe(std::initializer_list<std::string> steps) {
    std::vector<std::string> argv = {kProbe};
    argv.insert(argv.end(), steps);
    return argv;
}

std::string readFile(const std::string &path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs a shell command line without a terminal and returns its standard output.
std::string runPiped(const std::string &command) {
    std::string out;
    FILE *p = popen(("timeout 20 " + command).c_str(), "r");
    if (p == nullptr) return out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        out.append(buffer, n);
    pclose(p);
    return out;
}

// ---- Keys ----------------------------------------------------------------------------------

TEST(PtyKeys, AreReadRawWithoutEchoAndCtrlSDoesNotFreeze) {
    PtyProcess p(probe({"r", "k", "k", "k", "k"}));
    ASSERT_TRUE(p.waitFor("ready\r\n"));
    const termios during = p.settings();
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u) << "key mode: no line buffering, no echo";
    EXPECT_NE(during.c_lflag & ISIG, 0u) << "Ctrl-C must still work";
    EXPECT_EQ(during.c_iflag & IXON, 0u) << "Ctrl-S must reach the program";
    p.send("x");
    ASSERT_TRUE(p.waitFor("key 120\r\n")) << "a key arrives without Enter";
    p.send("\x13\r\x7f");
    ASSERT_TRUE(p.waitExit());
    EXPECT_EQ(p.output(), "ready\r\nkey 120\r\nkey 19\r\nkey 13\r\nkey 127\r\ndone\r\n");
}

TEST(PtyKeys, SequencesAndEscArrivingTogetherAreTakenApart) {
    PtyProcess p(probe({"r", "K"}));
    ASSERT_TRUE(p.waitFor("ready\r\n"));
    p.send("\x1b[A\x1bOP\x1b[1;5C\x1b[24~\x1b[3;3~z\x1b");
    ASSERT_TRUE(p.waitExit());
    EXPECT_EQ(p.output(), "ready\r\nkey 0 72\r\nkey 0 59\r\nkey 0 116\r\nkey 0 134\r\nkey 0 163\r\n"
                          "key 122\r\nkey 27\r\ndone\r\n");
}

// A lone Esc is a key of its own: it arrives with nothing typed after it, once the layer's
// short wait for the rest of a sequence is over. (How soon is a speed figure, not a test: a
// loaded machine may take any time.)
TEST(PtyKeys, LoneEscArrivesWithNothingTypedAfterIt) {
    for (const char *reader : {"k", "p"}) { // getch() waiting, and a kbhit()/Sleep(1) loop
        PtyProcess p(probe({"r", reader}));
        ASSERT_TRUE(p.waitFor("ready\r\n"));
        p.send("\x1b");
        ASSERT_TRUE(p.waitFor("key 27\r\n")) << reader;
        EXPECT_TRUE(p.waitExit());
    }
}

// Keys typed before the program takes key mode are in the terminal's line buffer then;
// keys typed while it is busy are read ahead by the key reader. Neither may be lost, and a
// reply uses what was typed ahead.
TEST(PtyKeys, TypedAheadKeysAreNotLost) {
    {
        PtyProcess p(probe({"w300", "k", "k", "l"}));
        p.send("ab5\r");
        ASSERT_TRUE(p.waitExit());
        EXPECT_NE(p.output().find("key 97\r\nkey 98\r\nreply? "), std::string::npos)
            << p.output();
        EXPECT_NE(p.output().find("reply [5]\r\n"), std::string::npos) << p.output();
    }
    {
        PtyProcess p(probe({"r", "w300", "k", "l"}));
        ASSERT_TRUE(p.waitFor("ready\r\n"));
        p.send("x42\r");
        ASSERT_TRUE(p.waitExit());
        EXPECT_NE(p.output().find("key 120\r\nreply? 42\r\nreply [42]\r\n"), std::string::npos)
            << p.output();
    }
}

// ---- Replies -------------------------------------------------------------------------------

// A reply is the whole line as edited; the next prompt waits for a line of its own.
TEST(PtyReplies, AreEchoedEditedAndTakenAsWholeLines) {
    TmuxScreen s(probe({"r", "l", "l", "K"}), {40, 10, {}});
    ASSERT_TRUE(s.waitFor("reply?"));
    s.type("129");
    s.keys({"BSpace", "BSpace"});
    s.type("3x");
    ASSERT_TRUE(s.waitFor("reply? 13x"));
    s.keys({"Enter"});
    ASSERT_TRUE(s.waitFor("reply [13x]\nreply?")) << s.screen();
    s.type("abc def");
    s.keys({"C-w"});
    s.type("g");
    ASSERT_TRUE(s.waitFor("reply? abc g")) << s.screen();
    s.keys({"Enter"});
    ASSERT_TRUE(s.waitFor("reply [abc g]")) << s.screen();
    s.keys({"Escape"});
    ASSERT_TRUE(s.waitExit());
    EXPECT_EQ(s.transcript().rfind("ready\nreply? 13x\nreply [13x]\nreply? abc g\n"
                                   "reply [abc g]\nkey 27\ndone",
                                   0),
              0u)
        << s.transcript();
}

// ---- The terminal given back ---------------------------------------------------------------

// Waits until `pid` no longer runs on: blocked for a key or asleep, or already ended. False at
// the deadline.
bool waitStopsRunning(pid_t pid) {
    const auto end = std::chrono::steady_clock::now() + ptytest::kPatience;
    do {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        const std::string text((std::istreambuf_iterator<char>(stat)),
                               std::istreambuf_iterator<char>());
        // The state follows the program's name, which is in parentheses and may hold blanks.
        const std::size_t name = text.rfind(')');
        if (name == std::string::npos || name + 2 >= text.size()) return true; // gone
        const char state = text[name + 2];
        if (state != 'R' && state != 'D') return true;
        std::this_thread::sleep_for(milliseconds(5));
    } while (std::chrono::steady_clock::now() < end);
    return false;
}

struct WayOut {
    const char *name;
    std::vector<std::string> steps;
    std::function<void(PtyProcess &)> act;
    int signal; // 0: a normal exit with status 0
};

TEST(PtyRestore, TerminalIsGivenBackOnEveryWayOut) {
    const WayOut ways[] = {
        {"Esc", {"r", "K"}, [](PtyProcess &p) { p.send("\x1b"); }, 0},
        {"end of file key at a reply", {"r", "l"}, [](PtyProcess &p) { p.send("\x04"); }, 0},
        {"Ctrl-C", {"r", "K"}, [](PtyProcess &p) { p.send("\x03"); }, SIGINT},
        {"Ctrl-\\", {"r", "K"}, [](PtyProcess &p) { p.send("\x1c"); }, SIGQUIT},
        {"SIGTERM", {"r", "K"}, [](PtyProcess &p) { kill(p.pid(), SIGTERM); }, SIGTERM},
        {"SIGHUP", {"r", "K"}, [](PtyProcess &p) { kill(p.pid(), SIGHUP); }, SIGHUP},
        {"SIGTERM while sleeping",
         {"r", "w10000"},
         [](PtyProcess &p) { kill(p.pid(), SIGTERM); },
         SIGTERM},
        {"abort", {"r", "w100", "A"}, [](PtyProcess &) {}, SIGABRT},
        {"segmentation fault", {"r", "w100", "S"}, [](PtyProcess &) {}, SIGSEGV},
    };
    const termios before = ptytest::userSettings();
    for (const WayOut &way : ways) {
        PtyProcess::Options options;
        options.settings = &before;
        std::vector<std::string> argv = {kProbe};
        argv.insert(argv.end(), way.steps.begin(), way.steps.end());
        PtyProcess p(argv, options);
        ASSERT_TRUE(p.waitFor("ready\r\n")) << way.name;
        ASSERT_FALSE(ptytest::sameSettings(p.settings(), before)) << way.name << ": no key mode";
        ASSERT_TRUE(waitStopsRunning(p.pid())) << way.name << ": the probe never waited";
        way.act(p);
        ASSERT_TRUE(p.waitExit()) << way.name;
        const termios after = p.settings();
        EXPECT_TRUE(ptytest::sameSettings(after, before))
            << way.name << "\n before " << ptytest::describe(before) << "\n after  "
            << ptytest::describe(after);
        const int st = p.status();
        if (way.signal == 0) {
            EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << way.name << " status " << st;
        } else if (way.signal == SIGSEGV && QVX3_SANITIZED) {
            // The sanitizer's own report takes the fault after the layer's handler.
            EXPECT_FALSE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << way.name;
        } else {
            EXPECT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == way.signal)
                << way.name << ": dies of its signal, status " << st;
        }
    }
}

// Suspending hands a sane terminal to the shell; fg brings key mode back. A shell that does
// not save terminal settings itself (dash) shows what the program left.
TEST(PtyRestore, CtrlZThenFgResumesInKeyMode) {
    TmuxScreen s({"sh", "-i"}, {80, 24, {"PS1=sh> ", "ENV="}});
    ASSERT_TRUE(s.waitFor("sh>"));
    s.type("stty -g > before && clear\n");
    ASSERT_TRUE(s.waitFor("sh>"));
    s.type(kProbe + " r K\n");
    ASSERT_TRUE(s.waitFor("ready"));
    s.keys({"C-z"});
    ASSERT_TRUE(s.waitFor("Stopped"));
    s.type("stty -g > stopped; fg\n");
    ASSERT_TRUE(s.waitFor(" r K")); // dash names the job it resumes
    // The probe takes key mode again once it runs; the shell's mode echoes.
    const auto end = std::chrono::steady_clock::now() + ptytest::kPatience;
    while (s.settings().c_lflag & ECHO) {
        ASSERT_LT(std::chrono::steady_clock::now(), end) << "no key mode after fg";
        std::this_thread::sleep_for(milliseconds(20));
    }
    s.type("x"); // no Enter: delivered at once only in key mode
    ASSERT_TRUE(s.waitFor("key 120")) << s.screen();
    s.keys({"Up"});
    ASSERT_TRUE(s.waitFor("key 0 72")) << s.screen();
    s.keys({"Escape"});
    ASSERT_TRUE(s.waitFor("done"));
    // The echoed command line must not hold the text awaited, or the file may be read early.
    s.type("stty -g > after; echo sa''ved\n");
    ASSERT_TRUE(s.waitFor("saved")) << s.screen();
    const std::string before = readFile(s.directory() + "/before");
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(readFile(s.directory() + "/stopped"), before);
    EXPECT_EQ(readFile(s.directory() + "/after"), before);
    EXPECT_EQ(s.screen().find("\nx"), std::string::npos) << "x was echoed:\n" << s.screen();
}

// ---- Cursor --------------------------------------------------------------------------------

// "#" is written after gotoxy(wherex(), wherey()): it lands right after the text only when
// the layer followed the terminal's cursor through tabs, wraps and line ends.
TEST(PtyCursor, FollowsTheTerminalThroughTabsAndWraps) {
    const std::string full(20, 'y');
    TmuxScreen s(probe({"r", "tab\tcd", "#", "t\n", "t" + std::string(25, 'x'), "#", "t\n",
                        "t" + full, "#", "=", "tfield", "g3", "c", "tZ", "g1", "K"}),
                 {20, 12, {}});
    ASSERT_TRUE(s.waitFor("at "));
    EXPECT_EQ(s.screen(), "ready\n"
                          "ab      cd#\n"
                          "xxxxxxxxxxxxxxxxxxxx\n"
                          "xxxxx#\n"
                          "yyyyyyyyyyyyyyyyyyyy\n"
                          "#\n"
                          "at 2 6\n"
                          "fiZ");
    EXPECT_EQ(s.cursor(), std::make_pair(1, 8));
    s.keys({"Escape"});
    EXPECT_TRUE(s.waitExit());
}

TEST(PtyCursor, FollowsAWindowResize) {
    PtyProcess p(probe({"r", "k", "t" + std::string(25, 'x'), "="}));
    ASSERT_TRUE(p.waitFor("ready\r\n"));
    // The window-size signal is sent before resize() returns, so the probe has it before it
    // can read the key sent after it.
    p.resize(20, 24);
    p.send("k");
    ASSERT_TRUE(p.waitExit());
    EXPECT_NE(p.output().find("at 6 4\r\n"), std::string::npos) << p.output();
}

// ---- Without a terminal --------------------------------------------------------------------

TEST(PtyNoTerminal, PipedInputIsOneStreamInOrder) {
    const std::string out = runPiped("sh -c \"printf 'x\\033[A 7Bh \\n\\n \\n5 5\\n\\033v' | " +
                                     kProbe + " k k l l l K\"");
    EXPECT_EQ(out, "key 120\nkey 0 72\nreply? reply [7Bh]\nreply? reply [5 5]\n"
                   "reply? reply abandoned\nkey 118\nkey end\ndone\n");
    // No Alt key in a stream: a script leaves a polling loop with Esc and goes on.
    EXPECT_EQ(runPiped("sh -c \"printf '\\033v' | " + kProbe + " p p\""),
              "key 27\nkey 118\ndone\n");
}

TEST(PtyNoTerminal, EndOfInputEndsPollingAndDrainingAtOnce) {
    EXPECT_EQ(runPiped("sh -c \"printf 'k\\033' | " + kProbe + " p p p q l\""),
              "key 107\nkey 27\nkey end\ndrained\nreply? reply abandoned\ndone\n");
    EXPECT_EQ(runPiped(kProbe + " p K < /dev/null"), "key end\nkey end\ndone\n");
}

TEST(PtyNoTerminal, OutputToAFileGetsTextOnlyAndTheEchoStaysOnTheTerminal) {
    TmuxScreen s({"sh", "-c", kProbe + " r tabc g2 c t# l o > out.txt"}, {80, 24, {"LC_ALL=C"}});
    // Type only once the probe waits at its prompt (the file shows it: output is flushed
    // before a reply is read); keys typed earlier would also be echoed by the terminal.
    const auto end = std::chrono::steady_clock::now() + ptytest::kPatience;
    while (readFile(s.directory() + "/out.txt").find("reply? ") == std::string::npos) {
        ASSERT_LT(std::chrono::steady_clock::now(), end);
        std::this_thread::sleep_for(milliseconds(10));
    }
    s.type("12");
    s.keys({"Enter"});
    ASSERT_TRUE(s.waitExit());
    EXPECT_EQ(s.exitStatus(), 0);
    const std::string shown = s.transcript();
    EXPECT_EQ(shown.substr(0, shown.find('\n')), "12") << "the echo, once";
    EXPECT_EQ(readFile(s.directory() + "/out.txt"), "ready\nabc#reply? reply [12]\ndegree C2 B0\ndone\n");
}

} // namespace
