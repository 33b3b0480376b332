// Prints what the terminal layer costs a live monitor: the calls of one monitor cycle
// (wherex/wherey, gotoxy, cprintf of a field, kbhit) and the real length of Sleep(1).
//
//   term_bench          the layer writes to a pseudo-terminal of its own (drained)
//   term_bench file     the layer writes to /dev/null, keys come from an idle pipe
//
// The figures go to the program's original standard output.
#include "term.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double nsPer(Clock::duration d, long calls) {
    return std::chrono::duration<double, std::nano>(d).count() / static_cast<double>(calls);
}

template <typename F> double measure(long calls, F &&f) {
    const auto start = Clock::now();
    for (long i = 0; i < calls; ++i)
        f(i);
    return nsPer(Clock::now() - start, calls);
}

} // namespace

int main(int argc, char **argv) {
    const bool toFile = argc > 1 && std::strcmp(argv[1], "file") == 0;
    FILE *report = fdopen(dup(STDOUT_FILENO), "w");
    if (report == nullptr) return 1;

    // Where the layer's standard input and output go, set up before its first call.
    int master = -1, slave = -1, keysWriter = -1;
    std::atomic<bool> draining{true};
    std::thread drain;
    if (toFile) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0) return 1;
        dup2(pipeFds[0], STDIN_FILENO);
        keysWriter = pipeFds[1]; // kept open: the input never ends and never has a key
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDOUT_FILENO);
    } else {
        winsize size{};
        size.ws_col = 120;
        size.ws_row = 40;
        if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) return 1;
        dup2(slave, STDIN_FILENO);
        dup2(slave, STDOUT_FILENO);
        drain = std::thread([&] {
            char buffer[65536];
            while (draining && read(master, buffer, sizeof buffer) > 0) {
            }
        });
    }

    term::cprintf("Measured data: Ch X: ");
    const int xValue = term::wherex();
    term::cprintf("%13s", "");
    const int xIndicator = term::wherex();
    term::kbhit();

    constexpr long kCalls = 1000000;
    long sink = 0;
    const double whereNs = measure(kCalls, [&](long) { sink += term::wherex() + term::wherey(); });
    const double gotoNs =
        measure(kCalls, [&](long i) { term::gotoxy(i & 1 ? xValue : xIndicator, term::wherey()); });
    const double fieldNs = measure(kCalls, [&](long i) {
        term::gotoxy(xValue, term::wherey());
        term::cprintf("%10.4lfHz", 1000.0 + static_cast<double>(i) * 0.25);
    });
    term::kbhit();
    const double kbhitNs = measure(kCalls, [&](long) { sink += term::kbhit(); });
    // One counter monitor cycle with both value fields, an indicator and the park.
    constexpr long kCycles = 200000;
    const double cycleNs = measure(kCycles, [&](long i) {
        const double f = 1000.0 + static_cast<double>(i) * 0.25;
        term::gotoxy(xIndicator, term::wherey());
        term::cprintf("%c", i & 1 ? '*' : ' ');
        term::gotoxy(xValue, term::wherey());
        term::cprintf("%10.4lfHz", f);
        term::gotoxy(xValue + 23, term::wherey());
        term::cprintf("%10.4lfHz", f * 2);
        term::gotoxy(xValue - 1, term::wherey());
        sink += term::kbhit();
    });

    constexpr int kSleeps = 1000;
    std::vector<double> slept;
    for (int i = 0; i < kSleeps; ++i) {
        const auto start = Clock::now();
        term::Sleep(1);
        slept.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(slept.begin(), slept.end());
    double total = 0;
    for (double s : slept)
        total += s;

    std::fprintf(report, "terminal layer, output to %s\n", toFile ? "/dev/null" : "a pty");
    std::fprintf(report, "  wherex()+wherey()            %8.1f ns\n", whereNs);
    std::fprintf(report, "  gotoxy(x, wherey())          %8.1f ns\n", gotoNs);
    std::fprintf(report, "  gotoxy + cprintf of a field  %8.1f ns\n", fieldNs);
    std::fprintf(report, "  kbhit(), nothing to write    %8.1f ns\n", kbhitNs);
    std::fprintf(report,
                 "  one monitor cycle (4 gotoxy, 3 cprintf, kbhit with its write)"
                 " %8.1f ns = %.0f cycles/s\n",
                 cycleNs, 1e9 / cycleNs);
    std::fprintf(report,
                 "  Sleep(1) over %d calls: mean %.0f us, min %.0f, median %.0f, "
                 "99%% %.0f, max %.0f\n",
                 kSleeps, total / kSleeps, slept.front(), slept[kSleeps / 2],
                 slept[kSleeps * 99 / 100], slept.back());
    std::fflush(report);

    if (!toFile) {
        draining = false;
        close(slave);
        close(STDOUT_FILENO);
        close(STDIN_FILENO);
        close(master);
        drain.join();
    } else {
        close(keysWriter);
    }
    return sink == -1 ? 1 : 0;
}
