// Prints how fast the uptime monitor of QVX-3-Test polls the simulated module, next to the
// most its loop can do, and how much processor time the idle command loop takes.
//
//   monitor_bench QVX-3-TEST [SECONDS]
//
// - The loop's bound: one cycle is one uptime query plus one Sleep(1), both measured here in
//   process (the query against the simulated adapter on an instant bus).
// - On a 100 kHz bus the query also waits for its bits on the wire: the command byte after the
//   address (19 bit times, no stop) and the six answer bytes after the address with the stop
//   (65 bit times). The simulated adapter's own figure at 100 kHz is printed too: where it
//   takes longer than the wire, the difference is the adapter's, not the monitor's.
// - The monitor's own figure is the queries-per-second field it shows on a tmux screen after
//   SECONDS (default 5) of running.
// - The idle command loop: processor time of QVX-3-Test over 10 s of waiting for a key (the
//   goal is below 0.1 % of a core), next to that of a bare Sleep(1) loop, the floor for
//   anything that polls once a millisecond; then how soon Esc ends the program after it.
#include "bxa7.h"
#include "pty_harness.h"
#include "qvx3.h"
#include "term.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <time.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr double kUptimeQueryBits = 19 + 65;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Mean length of one uptime query in this process, in ms, on a bus of `busHz`.
double queryMs(const std::string &state, const char *busHz, int queries) {
    setenv("BXA7_SIM_STATE", state.c_str(), 1);
    setenv("BXA7_SIM_BUS_HZ", busHz, 1);
    unsetenv("BXA7_SIM_FAIL");
    if (BXA_7_Open() != 0) {
        std::fprintf(stderr, "monitor_bench: the simulated adapter does not open\n");
        std::exit(1);
    }
    double uptime = 0;
    QVX_3_GetUptime(&uptime); // the state file's first use
    const auto start = Clock::now();
    for (int i = 0; i < queries; ++i) {
        if (QVX_3_GetUptime(&uptime) != 0) {
            std::fprintf(stderr, "monitor_bench: QVX_3_GetUptime failed\n");
            std::exit(1);
        }
    }
    return msSince(start) / queries;
}

double sleepMs(int sleeps) {
    const auto start = Clock::now();
    for (int i = 0; i < sleeps; ++i)
        term::Sleep(1);
    return msSince(start) / sleeps;
}

// The queries-per-second figure the uptime monitor shows after `seconds`.
double monitorRate(const std::string &console, const std::string &state, const char *busHz,
                   int seconds) {
    ptytest::TmuxScreen::Options options;
    options.columns = 100;
    options.env = {"BXA7_SIM_STATE=" + state, std::string("BXA7_SIM_BUS_HZ=") + busHz,
                   "BXA7_SIM_FAIL="};
    ptytest::TmuxScreen screen({console, "-q"}, options);
    // A key typed before the program takes key mode would be echoed into the line.
    const auto end = Clock::now() + ptytest::kPatience;
    while (screen.settings().c_lflag & ECHO && Clock::now() < end)
        std::this_thread::sleep_for(milliseconds(20));
    screen.type("U");
    if (!screen.waitFor("Queries/s: ")) {
        std::fprintf(stderr, "monitor_bench: no uptime monitor on the screen:\n%s\n",
                     screen.screen().c_str());
        return 0;
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const std::string row = screen.row(1);
    return row.size() > 71 ? std::strtod(row.c_str() + 71, nullptr) : 0.0;
}

// Processor time in ns that process `pid` has used so far.
double cpuNs(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    double ns = -1;
    in >> ns;
    return ns;
}

struct Idle {
    double percent = -1; // share of one core over the idle time
    double escMs = -1;   // from sending Esc to the program's exit
};

// The idle command loop over `seconds`, then Esc.
Idle idleLoop(const std::string &console, const std::string &state, int seconds) {
    ptytest::PtyProcess::Options options;
    options.env = {"BXA7_SIM_STATE=" + state, "BXA7_SIM_BUS_HZ=0", "BXA7_SIM_FAIL="};
    ptytest::PtyProcess program({console}, options);
    if (!program.waitFor("for this help...")) return {};
    program.waitFor("\x01", program.output().size(), milliseconds(500)); // settle, drain
    const double before = cpuNs(program.pid());
    const auto start = Clock::now();
    program.waitFor("\x01", program.output().size(), std::chrono::seconds(seconds));
    const double used = cpuNs(program.pid()) - before;
    const double wall = msSince(start) * 1e6;
    Idle idle;
    if (before >= 0) idle.percent = 100.0 * used / wall;
    const auto esc = Clock::now();
    program.send("\x1b");
    program.waitExit();
    idle.escMs = msSince(esc);
    return idle;
}

// Processor time of this thread in ms.
double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Share of one core a loop of bare Sleep(1) calls takes here: the floor for any loop that
// polls once a millisecond on this machine.
double sleepLoopPercent(int seconds) {
    const double cpuBefore = threadCpuMs();
    const auto start = Clock::now();
    while (msSince(start) < seconds * 1000.0)
        term::Sleep(1);
    return 100.0 * (threadCpuMs() - cpuBefore) / msSince(start);
}

void row(const char *what, double shown, const char *boundName, double bound) {
    std::printf("  %-22s %7.1f /s   %-32s %7.1f /s  %5.1f %%\n", what, shown, boundName, bound,
                100.0 * shown / bound);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: monitor_bench QVX-3-TEST [SECONDS]\n");
        return 2;
    }
    const std::string console = std::filesystem::absolute(argv[1]).string();
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 5;

    std::string base = (std::filesystem::temp_directory_path() / "qvx3-bench-XXXXXX").string();
    if (mkdtemp(base.data()) == nullptr) return 1;
    const std::string state = base + "/state";

    const double instantMs = queryMs(state, "0", 20000);
    const double wireMs = kUptimeQueryBits / 100000.0 * 1000.0;
    const double slowMs = queryMs(state, "100000", 500);
    const double sleep = sleepMs(1000);

    std::printf("uptime monitor (QVX-3-Test -q, key U) for %d s on a tmux screen\n", seconds);
    std::printf("  uptime query %.4f ms on an instant bus, %.4f ms on a 100 kHz bus "
                "(%.0f bits on the wire: %.4f ms); Sleep(1) %.4f ms\n",
                instantMs, slowMs, kUptimeQueryBits, wireMs, sleep);
    row("BXA7_SIM_BUS_HZ=0", monitorRate(console, base + "/a", "0", seconds),
        "bound: query + Sleep(1)", 1000.0 / (instantMs + sleep));
    const double slowRate = monitorRate(console, base + "/b", "100000", seconds);
    row("BXA7_SIM_BUS_HZ=100000", slowRate, "bound: wire + query + Sleep(1)",
        1000.0 / (wireMs + instantMs + sleep));
    row("", slowRate, "the adapter's query + Sleep(1)", 1000.0 / (slowMs + sleep));
    std::fflush(stdout);

    const int idleSeconds = 10;
    const Idle idle = idleLoop(console, base + "/c", idleSeconds);
    std::printf("idle command loop: %.4f %% of one core over %d s (goal: below 0.1 %%)",
                idle.percent, idleSeconds);
    std::printf("; a bare Sleep(1) loop here: %.2f %%\n", sleepLoopPercent(3));
    std::printf("  Esc after the idle time: the program ended %.1f ms later\n", idle.escMs);
    std::filesystem::remove_all(base);
    return 0;
}
