// The simulated adapter library and bxa7-sim as separate processes on one state file.
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

std::string quote(const std::string &s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

class ProcessTest : public testing::Test {
protected:
    struct Result {
        int status;
        std::string output;
    };

    // Starts `program args` with the test's environment; finish() waits for it.
    std::FILE *start(const char *program, const std::string &args) {
        const std::string command = "env BXA7_SIM_STATE=" + quote(state) +
                                    " BXA7_SIM_BUS_HZ=0 BXA7_SIM_FAIL= " + quote(program) + " " +
                                    args + " 2>&1";
        std::FILE *pipe = popen(command.c_str(), "r");
        EXPECT_TRUE(pipe) << command;
        return pipe;
    }
    static Result finish(std::FILE *pipe) {
        Result r{-1, ""};
        if (!pipe) return r;
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            r.output.append(buffer, n);
        const int status = pclose(pipe);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return r;
    }
    Result client(const std::string &args) { return finish(start(SIM_CLIENT, args)); }
    Result control(const std::string &args) { return finish(start(BXA7_SIM, args)); }
    // The client's output, expected to succeed.
    std::string ok(const std::string &args) {
        const Result r = client("open " + args);
        EXPECT_EQ(r.status, 0) << args << ":\n" << r.output;
        return r.output.substr(r.output.find('\n') + 1); // without "opened"
    }
    void controlOk(const std::string &args) {
        const Result r = control(args);
        EXPECT_EQ(r.status, 0) << args << ":\n" << r.output;
    }

    TempDir dir;
    std::string state = dir.file("state");
};

TEST_F(ProcessTest, SettingsAndTheSlotOutliveTheProcess) {
    EXPECT_EQ(ok("write 17 0x00 0x03 write 24 0x10 0x27 setslot 7"),
              "written\nwritten\nselected\n");
    EXPECT_EQ(ok("getslot check setslot 0 read 17 2 read 24 2"),
              "slot 7\nfound 0\nselected\n00 03\n10 27\n");

    // The power-on time too: the uptime goes on counting in the next process.
    ok("sleep 1100");
    EXPECT_NE(ok("read 5 6").substr(0, 2), "00"); // a whole second at least

    std::ofstream(state) << "bxa7-sim-state 1\nboot"; // damaged by hand
    const Result repaired = client("open read 17 2 read 5 6");
    EXPECT_EQ(repaired.status, 0);
    EXPECT_EQ(repaired.output.substr(0, repaired.output.find("opened\n") + 25),
              "bxa7-sim: the state file " + state + " was corrupt; kept as " + state +
                  ".corrupt, a freshly powered-on module takes its place\nopened\n00 01\n00 00 "
                  "00 00 ");
    std::ifstream kept(state + ".corrupt");
    std::string firstLine;
    EXPECT_TRUE(std::getline(kept, firstLine) && firstLine == "bxa7-sim-state 1");
}

// Both programs refuse a file that is not theirs, and leave it as it was.
TEST_F(ProcessTest, AFileThatIsNoStateFileIsRefusedAndKept) {
    std::ofstream(state) << "shopping list\n";
    const Result library = client("open");
    EXPECT_EQ(library.status, 1);
    EXPECT_EQ(library.output, "error 7: BXA_7_Open: the file " + state +
                                  " is not a state file and was left untouched / set "
                                  "BXA7_SIM_STATE to another path\n");
    for (const char *args : {"", "show", "select 3", "reset"}) {
        const Result control = this->control(args);
        EXPECT_EQ(control.status, 1) << args;
        EXPECT_EQ(control.output, "bxa7-sim: the file " + state +
                                      " is not a state file and was left untouched: set "
                                      "BXA7_SIM_STATE to another path\n")
            << args;
    }
    std::ifstream in(state);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "shopping list\n");
    EXPECT_FALSE(std::ifstream(state + ".lock").good());
}

// Each command of the control program on a fresh file, in the build under test (so also with
// the sanitizers): it succeeds and says what it should.
TEST_F(ProcessTest, EveryControlCommandRuns) {
    const char *commands[] = {
        "signal X 2000.5 0.5 25", "signal Y off", "signal Y on", "force prod-id Some text",
        "force fw-date 2030-01-01", "force uptime 3723 467", "force state 0xC0",
        "force freq-x 0xFFFFFFFF", "force 5v 0x8000", "force temp 0xFFFF", "force 3v live",
        "slot 3 foreign", "slot 4 foreign 0x1234", "slot 5 module", "slot 4 empty", "select 5",
        "power-cycle", "live", "reset",
    };
    for (const char *args : commands) {
        controlOk(args);
        // Every register shown after every change: the text registers are no numbers.
        const Result shown = control("show");
        EXPECT_EQ(shown.status, 0) << args << ":\n" << shown.output;
        EXPECT_NE(shown.output.find("Readout registers"), std::string::npos) << args;
        EXPECT_NE(shown.output.find("Ch Y"), std::string::npos) << args;
    }
    controlOk("force prod-id Some text");
    const Result plain = control("");
    EXPECT_EQ(plain.status, 0) << plain.output;
    EXPECT_NE(plain.output.find("prod-id    1  \"Some text\"  [forced]"), std::string::npos)
        << plain.output;
    const Result help = control("help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.output.rfind("Usage: bxa7-sim", 0), 0u);
    const Result path = control("path");
    EXPECT_EQ(path.status, 0);
    EXPECT_EQ(path.output, state + "\n");
}

TEST_F(ProcessTest, ConcurrentWritersLoseNothing) {
    ok("check"); // create the state file before the race
    const std::vector<std::string> registers = {"21", "22", "23"};
    std::vector<std::FILE *> running;
    for (const std::string &code : registers)
        running.push_back(start(SIM_CLIENT, "open hammer " + code + " 1 400"));
    running.push_back(start(BXA7_SIM, "force prod-no 4242"));
    for (std::FILE *pipe : running) {
        const Result r = finish(pipe);
        EXPECT_EQ(r.status, 0) << r.output;
        if (pipe != running.back()) {
            EXPECT_EQ(r.output, "opened\ndiffering 0\n");
        }
    }
    EXPECT_EQ(ok("read 21 2 read 22 2 read 23 2 read 2 4"), "90 01\n90 01\n90 01\n92 10 00 00\n");
}

TEST_F(ProcessTest, ControlProgramDrivesTheModule) {
    controlOk("signal X 2000");
    controlOk("signal Y off");
    controlOk("force 5v 0x8000");
    controlOk("force fw-date 1999-12-31");
    // Gates of 500 ms, read between the first result (500 ms) and the second (1000 ms): wide
    // enough that a loaded machine never lets a second result slip between the reads.
    ok("write 23 0xF4 0x01 write 24 0xF4 0x01 sleep 600");
    // Ch X: result and new data; Ch Y: a result of nothing counted.
    EXPECT_EQ(ok("read 27 1 read 25 4 read 27 1 read 26 4 read 6 2 text 4 16"),
              "f0\n00 2d 31 01\ne0\n00 00 00 00\n00 80\n1999-12-31\n");
    controlOk("force 5v live");
    EXPECT_NE(ok("read 6 2"), "00 80\n");

    controlOk("slot 3 foreign 0x1234");
    controlOk("select 3");
    const Result foreign = client("open check read 0 2 read 5 6");
    EXPECT_EQ(foreign.status, 1);
    EXPECT_EQ(foreign.output, "opened\nfound 1\n34 12\nerror 5: BXA_7_Send: command 5 not "
                              "acknowledged by the device in RVL slot 3 / I2C: data byte not "
                              "acknowledged\n");
    controlOk("slot 3 module");
    EXPECT_EQ(ok("check read 0 2 setslot 0 check"), "found 1\n48 96\nselected\nfound 0\n");

    ok("setslot 3 write 17 0x00 0x02");
    controlOk("power-cycle");
    const std::string afterCycle = ok("read 17 2 getslot read 5 6");
    EXPECT_EQ(afterCycle.substr(0, 25), "00 01\nslot 3\n00 00 00 00 ") << afterCycle;
    controlOk("reset");
    EXPECT_EQ(ok("getslot check text 4 16"), "slot 0\nfound 1\n2021-03-15\n");

    const Result path = control("path");
    EXPECT_EQ(path.output, state + "\n");
    const struct {
        const char *args;
        const char *message;
    } bad[] = {
        {"signal Z 10", "bxa7-sim: the channel must be X or Y, not 'Z'\n"},
        {"signal X 10000000.001", "bxa7-sim: the frequency '10000000.001' is out of range or "
                                  "has more than 3 decimals\n"},
        {"force 5v 70000", "bxa7-sim: VALUE must be a number from 0 to 65535, not '70000'\n"},
        {"force amplification 1", "bxa7-sim: 'amplification' is not a readout register\n"},
        {"force prod-id "
         "12345678901234567890123456789012345678901234567890123456789012345678901234567890 12",
         "bxa7-sim: prod-id holds at most 81 characters\n"},
        {"slot 256 module", "bxa7-sim: the slot must be a number from 0 to 255, not '256'\n"},
        {"dance", "bxa7-sim: unknown command 'dance'\n"},
    };
    const std::string before = control("show").output;
    for (const auto &c : bad) {
        const Result r = control(c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.output, std::string(c.message) + "Try 'bxa7-sim help'.\n");
    }
    EXPECT_EQ(control("show").output.substr(0, 60), before.substr(0, 60));
}

// A writer killed at any moment leaves the file whole and every write it reported stored:
// the file is replaced by a rename, never written in place.
TEST_F(ProcessTest, WritersKilledAtAnyMomentLeaveAWholeFileAndLoseNothing) {
    ok("check");
    setenv("BXA7_SIM_STATE", state.c_str(), 1);
    setenv("BXA7_SIM_BUS_HZ", "0", 1);
    unsetenv("BXA7_SIM_FAIL");
    std::mt19937 random(20261211);
    const char *registers[] = {"21", "22"};
    long first = 1;
    for (int round = 0; round < 12; ++round) {
        struct Writer {
            pid_t pid = -1;
            int output = -1;
            std::string seen;
            long last = -1; // the last value reported stored
        } writers[2];
        for (int w = 0; w < 2; ++w) {
            int fds[2];
            ASSERT_EQ(pipe(fds), 0);
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init(&actions);
            posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
            posix_spawn_file_actions_addclose(&actions, fds[0]);
            const std::string from = std::to_string(first);
            const char *argv[] = {SIM_CLIENT, "open", "count", registers[w], from.c_str(),
                                  nullptr};
            ASSERT_EQ(posix_spawn(&writers[w].pid, SIM_CLIENT, &actions, nullptr,
                                  const_cast<char **>(argv), environ),
                      0);
            posix_spawn_file_actions_destroy(&actions);
            close(fds[1]);
            writers[w].output = fds[0];
        }
        // Each writer is killed after a random number of reported writes: a kill lands in
        // whatever the next write is doing.
        for (Writer &w : writers) {
            const size_t wanted = 1 + random() % 40;
            size_t lines = 0;
            while (lines < wanted + 1) { // "opened" first
                pollfd p{w.output, POLLIN, 0};
                ASSERT_GT(poll(&p, 1, 60000), 0) << "the writer went silent";
                char buffer[4096];
                const ssize_t n = read(w.output, buffer, sizeof buffer);
                ASSERT_GT(n, 0) << w.seen;
                w.seen.append(buffer, static_cast<size_t>(n));
                lines = static_cast<size_t>(std::count(w.seen.begin(), w.seen.end(), '\n'));
            }
            kill(w.pid, SIGKILL);
        }
        for (Writer &w : writers) {
            int status = 0;
            waitpid(w.pid, &status, 0);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
            char buffer[4096];
            ssize_t n;
            while ((n = read(w.output, buffer, sizeof buffer)) > 0)
                w.seen.append(buffer, static_cast<size_t>(n));
            close(w.output);
            const size_t at = w.seen.rfind("stored ");
            ASSERT_NE(at, std::string::npos) << w.seen;
            w.last = std::strtol(w.seen.c_str() + at + 7, nullptr, 10);
        }
        // The next process finds a whole state file (no damage to keep aside) holding each
        // writer's last reported value, or the one it was writing when killed.
        const Result r = client("open read 21 2 read 22 2");
        ASSERT_EQ(r.status, 0) << r.output;
        ASSERT_EQ(r.output.rfind("opened\n", 0), 0u) << r.output;
        for (int w = 0; w < 2; ++w) {
            const std::string line = r.output.substr(7 + 6 * static_cast<size_t>(w), 5);
            const long stored = std::strtol(line.substr(0, 2).c_str(), nullptr, 16) |
                                std::strtol(line.substr(3, 2).c_str(), nullptr, 16) << 8;
            EXPECT_TRUE(stored == writers[w].last || stored == writers[w].last + 1)
                << "round " << round << ": register " << registers[w] << " holds " << stored
                << ", the writer reported " << writers[w].last << " stored";
        }
        first += 100;
    }
    EXPECT_FALSE(std::ifstream(state + ".corrupt").good());
}

} // namespace
