// The live monitors (counter monitor, uptime monitor), the one-shot uptime readout and the
// uptime formatting they share.
//
// Both monitors draw their line once, then rewrite single fields in place at the positions
// the terminal reported after each piece of fixed text. Positions are kept relative to the
// row the line starts on, so that a terminal narrower than the line, which wraps it onto a
// second row, shows every field where its fixed text left room for it instead of drifting a
// row down (and scrolling) with every cycle.
// When the rows of the line no longer hold what was written there - an error report now
// stands below it, the window was resized, the program was stopped and resumed - the whole
// line is drawn afresh on a new row, labels and the last text of every field.
// A failure that repeats the one of the cycle before is counted, not printed again
// (FailureLog).
// A successful cycle runs about a thousand times a second, so it allocates nothing and
// writes a field only when its value may have changed on screen.
#include "commands.h"
#include "console.h"
#include "term.h"

#include "qvx3.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// State bits of QVX_3_GetState, indexed by channel (0 = Ch X, 1 = Ch Y).
constexpr uint8_t kNewDataBit[2] = {0x10, 0x20};
constexpr uint8_t kValueReadyBit[2] = {0x40, 0x80};

constexpr double kIndicatorPeriodMs = 250.0;
constexpr double kQueriesPeriodMs = 100.0;
constexpr double kRepeatCountPeriodMs = 250.0;
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

void FormatUptime(char *text, std::size_t size, double seconds);

// ---- The line on the screen ----------------------------------------------------------------

// Why a line is to be drawn afresh: term::kResized, term::kResumed, or this.
constexpr unsigned kReported = 4; // a report was printed below the line

// Where a monitor line stands: the row it starts on and the last row its text reached (below
// the first when a narrow terminal wrapped it). `redraw` is non-zero while the line must be
// drawn afresh before anything is written to it again.
struct Line {
    int row = 1;
    int lastRow = 0;
    unsigned redraw = 0;
};

// A place on a monitor line: its column, and its row counted from the line's first row.
struct Place {
    int column = 1;
    int row = 0;
};

Place Here(const Line &line) {
    return Place{term::wherex(), term::wherey() - line.row};
}

void MoveTo(const Place &place, const Line &line) {
    term::gotoxy(place.column, line.row + place.row);
}

void NoteEnd(Line &line) {
    line.lastRow = std::max(line.lastRow, term::wherey() - line.row);
}

// Starts a line at the cursor, which is at the start of its row.
void StartLine(Line &line) {
    line = Line{term::wherey(), 0, 0};
}

// Goes to the start of a row below everything the old line showed, for drawing it afresh.
void NewRow(const Line &line) {
    if (term::wherex() != 1) {
        term::gotoxy(term::wherex(), line.row + line.lastRow);
        term::printf("\n");
    }
    // A resize may have rewrapped the old line into the rows below.
    term::clreos();
}

// A field of a monitor line: where it starts, the text it shows and how many characters
// that took.
struct Field {
    Place place;
    char text[48] = "";
    int shown = 0;
};

// Writes `text` into `field`, blanking out what an earlier, longer value left behind, so
// that a shorter value does not read as a different number ("999.50" over "1000.00" must
// not show "999.500").
void Show(Line &line, Field &field, const char *text) {
    MoveTo(field.place, line);
    const int written = term::cprintf("%s", text);
    if (written < field.shown) term::cprintf("%*s", field.shown - written, "");
    field.shown = std::max(written, 0);
    if (text != field.text) std::snprintf(field.text, sizeof field.text, "%s", text);
    NoteEnd(line);
}

// Writes a field's last text again into a line drawn afresh.
void ShowAgain(Line &line, Field &field) {
    field.shown = 0;
    if (field.text[0] != '\0') Show(line, field, field.text);
}

void PrintMonitorHeading(const char *heading) {
    PrintHeading(heading);
    if (!g_quietMode) term::printf("Press 'Esc' to quit\n");
}

// ---- Failures ------------------------------------------------------------------------------

// The failures of one monitor run. A failure whose report (the query's name, the adapter's
// texts, the flush's outcome) is the one of the cycle before repeats it: the adapter is
// flushed again, but nothing new is printed. On a terminal the count of repeats stands at
// the end of the error line, rewritten at most every 250 ms and once more when the repeats
// end; to a pipe or file, one line with the count follows the report when they end (a cycle
// without failure, another failure, the end of the run).
// Report() and End() return true when they printed below the monitor line, or over it: the
// line is then to be drawn afresh.
class FailureLog {
public:
    // A failed query's report (from FailureReport, the adapter flushed): printed unless it
    // repeats the last one.
    bool Report(std::string report) {
        if (!last_.empty() && report == last_) {
            ++repeats_;
            if (term::outputIsTerminal() &&
                (!countShown_ || ElapsedMs(countTime_, term::clock()) > kRepeatCountPeriodMs))
                return ShowCount();
            return false;
        }
        End();
        // Printed in two pieces to learn where the error line ends, for the count.
        restAt_ = report.find('\n');
        term::printf("%.*s", static_cast<int>(restAt_), report.c_str());
        countColumn_ = term::wherex();
        countRow_ = term::wherey();
        countEndRow_ = countRow_;
        term::printf("%s", report.c_str() + restAt_);
        last_ = std::move(report);
        return true;
    }

    // A cycle without failure, or the end of the run.
    bool End() {
        bool printed = false;
        if (repeats_ > 0) {
            if (term::outputIsTerminal()) {
                printed = ShowCount();
            } else {
                if (term::wherex() != 1) term::printf("\n");
                term::printf("Last error repeated %u time%s\n", repeats_,
                             repeats_ == 1 ? "" : "s");
                printed = true;
            }
        }
        Forget();
        return printed;
    }

    // The screen moved under the error line (a resize, a resume): its place is lost, so a
    // failure from now on is reported afresh.
    void Forget() {
        last_.clear();
        repeats_ = 0;
        countShown_ = false;
    }

private:
    bool ShowCount() {
        const int column = term::wherex();
        const int row = term::wherey();
        term::gotoxy(countColumn_, countRow_);
        term::cprintf(" (repeated %u time%s)", repeats_, repeats_ == 1 ? "" : "s");
        countShown_ = true;
        countTime_ = term::clock();
        if (term::wherey() <= countEndRow_) {
            term::gotoxy(column, row);
            return false;
        }
        // The count wrapped onto the row below and overwrote its start: what followed the
        // error line is written again after it.
        countEndRow_ = term::wherey();
        term::clreol();
        term::printf("%s", last_.c_str() + restAt_);
        term::clreos();
        return true;
    }

    std::string last_;       // the report of the cycle before, empty when it did not fail
    std::size_t restAt_ = 0; // where the error line ends in it
    uint32_t repeats_ = 0;
    bool countShown_ = false;
    uint32_t countTime_ = 0;
    int countColumn_ = 1; // just after the error line's text
    int countRow_ = 1;
    int countEndRow_ = 1; // the row the count ends on
};

// Takes what happened to the terminal since the last cycle. The cursor goes to the start of
// a row at once, so that a report the cycle may print starts where the layer believes it
// does; the line is drawn afresh before it is written to again. Returns the events.
unsigned TerminalEvents(Line &line, FailureLog &failures) {
    const unsigned events = term::events();
    if (events == 0) return 0;
    failures.Forget();
    if (events & term::kResumed) {
        // The shell wrote below the line while the program was stopped and left the cursor
        // at the start of a row, wherever the layer believes it is: the line starts there.
        term::printf("\r");
    } else {
        NewRow(line);
    }
    line.redraw |= events;
    return events;
}

// ---- Counter monitor -----------------------------------------------------------------------

struct CounterLine {
    Line line;
    Field value[2];
    Place indicator[2];
    uint32_t indicatorTime = 0;
};

void ShowIndicator(CounterLine &c, int ch) {
    MoveTo(c.indicator[ch], c.line);
    term::cprintf("%c", s_indicator[ch] ? '*' : ' ');
    NoteEnd(c.line);
}

// Parked on the blank before the Ch X value, out of the way of every field.
void Park(const CounterLine &c) {
    const Place &x = c.value[0].place;
    term::gotoxy(std::max(x.column - 1, 1), c.line.row + x.row);
}

// Writes the fixed text from the cursor on and takes the fields' places from it; `again`
// also writes what the fields and indicators showed before.
void Draw(CounterLine &c, bool again) {
    StartLine(c.line);
    term::cprintf("Measured data: Ch X: ");
    c.value[0].place = Here(c.line);
    term::cprintf("%13s", "");
    c.indicator[0] = Here(c.line);
    term::cprintf("    Ch Y: ");
    c.value[1].place = Here(c.line);
    term::cprintf("%13s", "");
    c.indicator[1] = Here(c.line);
    NoteEnd(c.line);
    if (!again) return;
    for (int ch = 0; ch < 2; ++ch)
        ShowAgain(c.line, c.value[ch]);
    for (int ch = 0; ch < 2; ++ch)
        ShowIndicator(c, ch);
    Park(c);
}

void Ready(CounterLine &c) {
    if (c.line.redraw == 0) return;
    NewRow(c.line);
    Draw(c, true);
}

// One query cycle of the counter monitor: the queries first, then what they delivered. A
// failure ends the queries (no Ch Y value after a failed Ch X one); what came before it is
// still shown.
void CounterCycle(CounterLine &c, FailureLog &failures) {
    uint8_t state = 0;
    const bool haveState = QVX_3_GetState(&state) == 0;
    const char *failed = haveState ? nullptr : "QVX_3_GetState";
    bool fresh[2] = {false, false};
    for (int ch = 0; ch < 2 && haveState; ++ch) {
        if (state & kNewDataBit[ch]) s_newData[ch] = 1;
    }
    for (int ch = 0; ch < 2 && haveState && failed == nullptr; ++ch) {
        if (!(state & kValueReadyBit[ch])) continue;
        double frequency = 0.0;
        if (QVX_3_GetFrequency(static_cast<uint8_t>(ch), &frequency) != 0) {
            failed = "QVX_3_GetFrequency";
        } else {
            s_frequency[ch] = frequency;
            fresh[ch] = true;
        }
    }
    std::string report = failed != nullptr ? FailureReport(failed) : std::string();
    // Checked only now, after the bus calls, the slow part in which a stop most likely
    // falls: the cursor moves below assume that the screen is still as written.
    TerminalEvents(c.line, failures);
    if (failed != nullptr ? failures.Report(std::move(report)) : failures.End())
        c.line.redraw |= kReported;

    const uint32_t now = term::clock();
    const bool indicatorsDue = haveState && ElapsedMs(c.indicatorTime, now) > kIndicatorPeriodMs;
    // To a pipe, a line is drawn afresh only when there is something to write on it.
    if (term::outputIsTerminal() || indicatorsDue || fresh[0] || fresh[1]) Ready(c);
    if (indicatorsDue) {
        for (int ch = 0; ch < 2; ++ch) {
            s_indicator[ch] = s_newData[ch] ? !s_indicator[ch] : 0;
            s_newData[ch] = 0;
            ShowIndicator(c, ch);
        }
        c.indicatorTime = now;
    }
    for (int ch = 0; ch < 2; ++ch) {
        if (!fresh[ch]) continue;
        char text[sizeof c.value[ch].text];
        if (s_frequency[ch] < 0.0)
            std::snprintf(text, sizeof text, "    Overflow");
        else
            std::snprintf(text, sizeof text, "%10.4lfHz", s_frequency[ch]);
        Show(c.line, c.value[ch], text);
    }
    if (c.line.redraw == 0) Park(c);
}

// ---- Uptime monitor ------------------------------------------------------------------------

struct UptimeLine {
    Line line;
    Field uptime;
    Field difference;
    Field queries;
    uint32_t queryCount = 0;
    uint32_t t0 = 0; // the start of the queries counted per second
    uint32_t queriesTime = 0;
    bool haveReference = false;
    double referenceUptime = 0.0;
    uint32_t referenceTime = 0; // the PC's clock that goes with the reference uptime
};

void Draw(UptimeLine &u, bool again) {
    StartLine(u.line);
    term::cprintf("Device uptime: ");
    u.uptime.place = Here(u.line);
    term::cprintf("               Diff. to PC/s: ");
    u.difference.place = Here(u.line);
    term::cprintf("               Queries/s: ");
    u.queries.place = Here(u.line);
    NoteEnd(u.line);
    if (!again) return;
    ShowAgain(u.line, u.uptime);
    ShowAgain(u.line, u.difference);
    ShowAgain(u.line, u.queries);
}

void Ready(UptimeLine &u) {
    if (u.line.redraw == 0) return;
    NewRow(u.line);
    Draw(u, true);
}

// Queries per second are counted afresh from `now`.
void StartCounting(UptimeLine &u, uint32_t now) {
    u.queryCount = 0;
    u.t0 = now;
    u.queriesTime = now;
}

// The difference with "%5.2lfs"; one that rounds to zero is " 0.00s", never "-0.00s".
void FormatDifference(char *text, std::size_t size, double seconds) {
    std::snprintf(text, size, "%5.2lfs", seconds);
    if (std::strcmp(text, "-0.00s") == 0) std::snprintf(text, size, "%5.2lfs", 0.0);
}

// One query cycle of the uptime monitor.
void UptimeCycle(UptimeLine &u, FailureLog &failures) {
    double uptime = 0.0;
    const bool failed = QVX_3_GetUptime(&uptime) != 0;
    std::string report = failed ? FailureReport("QVX_3_GetUptime") : std::string();
    // After the bus calls, as in the counter monitor. The time stopped is no time the bus
    // could answer in; the module's clock and the PC's both ran on, so the difference keeps
    // its reference.
    if (TerminalEvents(u.line, failures) & term::kResumed) StartCounting(u, term::clock());
    if (failed) {
        if (failures.Report(std::move(report))) u.line.redraw |= kReported;
        if (term::outputIsTerminal()) Ready(u);
        return;
    }
    s_uptime = uptime;
    if (failures.End()) u.line.redraw |= kReported;
    ++u.queryCount;
    const uint32_t now = term::clock();

    // An uptime below the one shown is a restart of the module: shown at once, and the
    // difference counts afresh from it, as at the start of a run.
    const bool restarted = s_uptime < s_lastShownUptime;
    if (!u.haveReference) {
        u.referenceUptime = s_uptime;
        u.referenceTime = u.t0;
        u.haveReference = true;
    } else if (restarted) {
        u.referenceUptime = s_uptime;
        u.referenceTime = now;
    }
    const bool showUptime = restarted || s_uptime - s_lastShownUptime > kUptimeStep;
    const bool showQueries = ElapsedMs(u.queriesTime, now) > kQueriesPeriodMs;
    if (term::outputIsTerminal() || showUptime || showQueries) Ready(u);

    char text[sizeof u.uptime.text];
    if (showUptime) {
        FormatUptime(text, sizeof text, s_uptime);
        Show(u.line, u.uptime, text);
        s_lastShownUptime = s_uptime;
        const double drift =
            (s_uptime - u.referenceUptime) - ElapsedMs(u.referenceTime, now) * 0.001;
        FormatDifference(text, sizeof text, drift);
        Show(u.line, u.difference, text);
    }
    if (showQueries) {
        std::snprintf(text, sizeof text, "%.2lf", u.queryCount * 1000.0 / ElapsedMs(u.t0, now));
        Show(u.line, u.queries, text);
        u.queriesTime = now;
    }
}

// The end of every cycle, failed ones included, so that a module that stopped answering
// cannot keep the user in the monitor. Returns true when the monitor is to end: on Esc or
// the end of the input. Any other key is dropped and the next cycle follows without pause.
template <class MonitorLine> bool EndRequested(MonitorLine &m, FailureLog &failures) {
    if (!term::kbhit()) {
        term::Sleep(1);
        return false;
    }
    const int key = term::getch();
    if (key != term::kEsc && key != term::kEndOfInput) return false;
    TerminalEvents(m.line, failures); // a stop while waiting for the key
    if (failures.End() && term::outputIsTerminal()) m.line.redraw |= kReported;
    if (term::outputIsTerminal()) Ready(m);
    // Below the last row of a wrapped line, so that what follows overwrites none of it.
    const Line &line = m.line;
    if (line.redraw == 0 && term::wherey() < line.row + line.lastRow)
        term::gotoxy(term::wherex(), line.row + line.lastRow);
    term::printf("\n");
    return true;
}

} // namespace

void CounterMonitor() {
    PrintMonitorHeading("Getting data measured by the counters:\n");
    CounterLine c;
    term::events(); // a resize or resume before the line stands asks for no redraw
    Draw(c, false);
    c.indicatorTime = term::clock();
    FailureLog failures;
    do {
        CounterCycle(c, failures);
    } while (!EndRequested(c, failures));
}

void UptimeMonitor() {
    PrintMonitorHeading("Getting uptime:\n");
    UptimeLine u;
    term::events(); // a resize or resume before the line stands asks for no redraw
    Draw(u, false);
    StartCounting(u, term::clock());
    FailureLog failures;
    do {
        UptimeCycle(u, failures);
    } while (!EndRequested(u, failures));
}

void UptimeReadout() {
    PrintHeading("Getting uptime:\n");
    if (Failed(QVX_3_GetUptime(&s_uptime), "QVX_3_GetUptime")) return;
    term::printf("Uptime: ");
    PrintUptime(s_uptime, 0);
}

namespace {

void FormatUptime(char *text, std::size_t size, double seconds) {
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

    if (h > 0)
        std::snprintf(text, size, "%u:%02u:%02u.%02u", h, m, s, f);
    else if (m > 0)
        std::snprintf(text, size, "%u:%02u.%02u", m, s, f);
    else
        std::snprintf(text, size, "%u.%02us", s, f);
}

} // namespace

void PrintUptime(double seconds, uint8_t toConsole) {
    char text[32];
    FormatUptime(text, sizeof text, seconds);
    if (toConsole)
        term::cprintf("%s", text);
    else
        term::printf("%s\n", text);
}
