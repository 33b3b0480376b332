// The live monitors (counter monitor, uptime monitor), the one-shot uptime readout and the
// uptime formatting they share.
//
// Both monitors write their line once, then rewrite single fields in place at the positions
// the terminal reported after each piece of fixed text. Positions are kept relative to the
// row the line starts on, so that a terminal narrower than the line, which wraps it onto a
// second row, shows every field where its fixed text left room for it instead of drifting a
// row down (and scrolling) with every cycle. After a failure report the line starts afresh
// on the row below the report.
// A cycle runs about a thousand times a second, so it allocates nothing and writes a field
// only when its value may have changed on screen.
#include "commands.h"
#include "console.h"
#include "term.h"

#include "qvx3.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

// State bits of QVX_3_GetState, indexed by channel (0 = Ch X, 1 = Ch Y).
constexpr uint8_t kNewDataBit[2] = {0x10, 0x20};
constexpr uint8_t kValueReadyBit[2] = {0x40, 0x80};

constexpr double kIndicatorPeriodMs = 250.0;
constexpr double kQueriesPeriodMs = 100.0;
constexpr double kUptimeStep = 0.01;

// Values that live as long as the program: a later monitor run starts from what the last
// one left, so the indicators keep their phase and the uptime monitor compares against the
// uptime it last showed, even in an earlier run.
double s_uptime = 0.0;
double s_lastShownUptime = 0.0;
double s_frequency[2] = {0.0, 0.0};
uint8_t s_newData[2] = {0, 0};
uint8_t s_indicator[2] = {0, 0};

// Milliseconds from `since` to `now` on the wrapping 32-bit clock.
double ElapsedMs(uint32_t since, uint32_t now) {
    return static_cast<double>(static_cast<uint32_t>(now - since));
}

// A place on a monitor line: its column, and its row counted from the line's first row
// (1 when a narrow terminal wrapped the line before it).
struct Place {
    int column = 1;
    int row = 0;
};

// The cursor's place on the line that starts on `lineRow`.
Place Here(int lineRow) {
    return Place{term::wherex(), term::wherey() - lineRow};
}

void MoveTo(const Place &place, int lineRow) {
    term::gotoxy(place.column, lineRow + place.row);
}

// A field of a monitor line: where it starts and how many characters it shows now.
struct Field {
    Place place;
    int shown = 0;
};

// Blanks out what an earlier, longer value left behind, so that a shorter value does not
// read as a different number ("999.50" over "1000.00" must not show "999.500").
void Shown(Field &field, int written) {
    if (written < field.shown) term::cprintf("%*s", field.shown - written, "");
    field.shown = std::max(written, 0);
}

void PrintMonitorHeading(const char *heading) {
    PrintHeading(heading);
    if (!g_quietMode) term::printf("Press 'Esc' to quit\n");
}

// The end of every cycle, failed ones included, so that a module that stopped answering
// cannot keep the user in the monitor. Returns true when the monitor is to end: on Esc or
// the end of the input. Any other key is dropped and the next cycle follows without pause.
bool EndRequested() {
    if (!term::kbhit()) {
        term::Sleep(1);
        return false;
    }
    const int key = term::getch();
    if (key == term::kEsc || key == term::kEndOfInput) {
        term::printf("\n");
        return true;
    }
    return false;
}

struct CounterLine {
    int row = 1; // the row the line starts on
    Field value[2];
    Place indicator[2];
    uint32_t indicatorTime = 0;
};

void UpdateIndicators(const CounterLine &line) {
    for (int ch = 0; ch < 2; ++ch) {
        s_indicator[ch] = s_newData[ch] ? !s_indicator[ch] : 0;
        s_newData[ch] = 0;
        MoveTo(line.indicator[ch], line.row);
        term::cprintf("%c", s_indicator[ch] ? '*' : ' ');
    }
}

// One query cycle of the counter monitor; a failure ends it early (reported by Failed).
void CounterCycle(CounterLine &line) {
    uint8_t state = 0;
    if (Failed(QVX_3_GetState(&state), "QVX_3_GetState")) {
        line.row = term::wherey();
        return;
    }
    for (int ch = 0; ch < 2; ++ch)
        if (state & kNewDataBit[ch]) s_newData[ch] = 1;

    const uint32_t now = term::clock();
    if (ElapsedMs(line.indicatorTime, now) > kIndicatorPeriodMs) {
        UpdateIndicators(line);
        line.indicatorTime = now;
    }

    for (int ch = 0; ch < 2; ++ch) {
        if (!(state & kValueReadyBit[ch])) continue;
        if (Failed(QVX_3_GetFrequency(static_cast<uint8_t>(ch), &s_frequency[ch]),
                   "QVX_3_GetFrequency")) {
            line.row = term::wherey();
            return;
        }
        MoveTo(line.value[ch].place, line.row);
        const int written = s_frequency[ch] < 0.0 ? term::cprintf("    Overflow")
                                                  : term::cprintf("%10.4lfHz", s_frequency[ch]);
        Shown(line.value[ch], written);
    }
    // Parked on the blank before the Ch X value, out of the way of every field.
    const Place &x = line.value[0].place;
    term::gotoxy(std::max(x.column - 1, 1), line.row + x.row);
}

struct UptimeLine {
    int row = 1; // the row the line starts on
    Field uptime;
    Field difference;
    Field queries;
    uint32_t queryCount = 0;
    uint32_t t0 = 0;
    uint32_t queriesTime = 0;
    bool haveReference = false;
    double referenceUptime = 0.0;
};

// One query cycle of the uptime monitor; a failure ends it early (reported by Failed).
void UptimeCycle(UptimeLine &line) {
    if (Failed(QVX_3_GetUptime(&s_uptime), "QVX_3_GetUptime")) {
        line.row = term::wherey();
        return;
    }
    ++line.queryCount;
    const uint32_t now = term::clock();
    if (!line.haveReference) {
        line.referenceUptime = s_uptime;
        line.haveReference = true;
    }

    if (s_uptime - s_lastShownUptime > kUptimeStep) {
        MoveTo(line.uptime.place, line.row);
        PrintUptime(s_uptime, 1);
        s_lastShownUptime = s_uptime;
        MoveTo(line.difference.place, line.row);
        const double drift = (s_uptime - line.referenceUptime) - ElapsedMs(line.t0, now) * 0.001;
        Shown(line.difference, term::cprintf("%5.2lfs", drift));
    }

    if (ElapsedMs(line.queriesTime, now) > kQueriesPeriodMs) {
        MoveTo(line.queries.place, line.row);
        const double perSecond = line.queryCount * 1000.0 / ElapsedMs(line.t0, now);
        Shown(line.queries, term::cprintf("%.2lf", perSecond));
        line.queriesTime = now;
    }
}

} // namespace

void CounterMonitor() {
    PrintMonitorHeading("Getting data measured by the counters:\n");

    CounterLine line;
    line.row = term::wherey();
    term::cprintf("Measured data: Ch X: ");
    line.value[0].place = Here(line.row);
    term::cprintf("%13s", "");
    line.indicator[0] = Here(line.row);
    term::cprintf("    Ch Y: ");
    line.value[1].place = Here(line.row);
    term::cprintf("%13s", "");
    line.indicator[1] = Here(line.row);

    line.indicatorTime = term::clock();
    do
        CounterCycle(line);
    while (!EndRequested());
}

void UptimeMonitor() {
    PrintMonitorHeading("Getting uptime:\n");

    UptimeLine line;
    line.row = term::wherey();
    term::cprintf("Device uptime: ");
    line.uptime.place = Here(line.row);
    term::cprintf("               Diff. to PC/s: ");
    line.difference.place = Here(line.row);
    term::cprintf("               Queries/s: ");
    line.queries.place = Here(line.row);

    line.t0 = term::clock();
    line.queriesTime = line.t0;
    do
        UptimeCycle(line);
    while (!EndRequested());
}

void UptimeReadout() {
    PrintHeading("Getting uptime:\n");
    if (Failed(QVX_3_GetUptime(&s_uptime), "QVX_3_GetUptime")) return;
    term::printf("Uptime: ");
    PrintUptime(s_uptime, 0);
}

void PrintUptime(double seconds, uint8_t toConsole) {
    // Hundredths, rounded half up before the split so that 59.999 s reads 1:00.00. Counted
    // in 64 bits: a module uptime above 497 days does not fit 32-bit hundredths.
    constexpr uint64_t kMaxHundredths = UINT64_C(100) * UINT32_MAX + 99;
    const double scaled = seconds * 100.0 + 0.5;
    uint64_t n = 0; // negative and NaN times fail both tests
    if (scaled >= static_cast<double>(kMaxHundredths))
        n = kMaxHundredths;
    else if (scaled >= 0.0)
        n = static_cast<uint64_t>(std::floor(scaled));

    const uint32_t t = static_cast<uint32_t>(n / 100);
    const uint32_t f = static_cast<uint32_t>(n % 100);
    const uint32_t h = t / 3600;
    const uint32_t m = (t / 60) % 60;
    const uint32_t s = t % 60;

    char text[32];
    if (h > 0)
        std::snprintf(text, sizeof text, "%u:%02u:%02u.%02u", h, m, s, f);
    else if (m > 0)
        std::snprintf(text, sizeof text, "%u:%02u.%02u", m, s, f);
    else
        std::snprintf(text, sizeof text, "%u.%02us", s, f);

    if (toConsole)
        term::cprintf("%s", text);
    else
        term::printf("%s\n", text);
}
