#include "commands.h"
#include "console.h"
#include "term.h"

#include <cctype>

namespace {

// Keys for which the reader first returns 0 (function, cursor and editing keys) get
// 0x100 plus their second code, so that no extended key equals a plain one.
constexpr int kExtendedKey = 0x100;

struct Command {
    bool folded; // compared after toupper, so both cases of the letter match
    int key;
    void (*run)();
};

// Tried in this order; the first match runs. Esc is handled before.
constexpr Command kCommands[] = {
    {false, '?', PrintHelp},        {false, 'o', ReadSlot},
    {false, 'O', SetSlot},          {true, 'Q', ScanBus},
    {true, 'D', ShowFirmwareDate},  {true, 'V', ShowFirmwareVersion},
    {true, 'P', ShowProductId},     {true, 'N', ShowProductNumber},
    {false, 'u', UptimeReadout}, // the folded U, split by case
    {false, 'U', UptimeMonitor},    {true, 'K', ShowHousekeeping},
    {true, 'C', ShowClocks},        {false, 'a', ReadAmplification},
    {false, 'A', SetAmplification}, {false, 's', ReadPolarity},
    {false, 'S', SetPolarity},      {false, 'l', ReadLowPass},
    {false, 'L', SetLowPass},       {false, 'h', ReadHighPass},
    {false, 'H', SetHighPass},      {false, 't', ReadThreshold},
    {false, 'T', SetThreshold},     {false, 'm', ReadDuration},
    {false, 'M', SetDuration},      {false, 'f', CounterMonitor},
};

// Runs the command of `key`; any key without one is ignored.
void Dispatch(int key) {
    const int folded = (key & kExtendedKey) ? key : std::toupper(key);
    for (const Command &command : kCommands) {
        if ((command.folded ? folded : key) == command.key) {
            command.run();
            return;
        }
    }
}

// The next key code; the end of the input counts as Esc.
int ReadKey() {
    const int key = term::getch();
    if (key != 0) return key == term::kEndOfInput ? term::kEsc : key;
    const int second = term::getch();
    return second == term::kEndOfInput ? term::kEsc : kExtendedKey | (second & 0xFF);
}

} // namespace

void PrintHelp() {
    term::printf("Press (if not explicitly specified, the case doesn't matter):\n"
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
                 "  by 'b'. Example: 123, 7Bh, and 1111011b specify the same number.\n");
}

void CommandLoop() {
    bool showHelp = true; // the first pass shows the help without waiting for a key
    for (;;) {
        if (g_quietMode) showHelp = false;
        if (!showHelp && !term::kbhit()) {
            term::waitKey();
            continue;
        }
        const int key = showHelp ? '?' : ReadKey();
        showHelp = false;
        if (key == term::kEsc) return;
        Dispatch(key);
    }
}
