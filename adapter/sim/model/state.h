// Everything the simulated bus remembers between calls and between processes: the adapter's
// selected slot, what sits in which slot, the input signals fed to the module, the registers
// forced from outside, and the module itself (power-on time, settings, counter progress).
//
// Times are nanoseconds on one monotonic clock shared by every process of the machine; the
// model is given the current time with each call and never reads a clock itself.
#ifndef BXA7SIM_MODEL_STATE_H
#define BXA7SIM_MODEL_STATE_H

#include "qvx3_protocol.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace bxa7sim {

constexpr int kChannels = 2;
constexpr int kSlots = 256;
constexpr int64_t kNsPerSecond = 1000000000;

// What the settings registers of one channel hold. Each member is the raw register.
struct ChannelSettings {
    uint8_t polarity = 0;       // 0 positive, non-zero negative; kept as written
    uint16_t gain = 0x0100;     // amplification in 1/256
    uint8_t beta = 2;           // low-pass filter; the module derives Alpha from it
    uint8_t tau = 8;            // high-pass filter
    uint16_t thresholdMv = 100; // discriminator threshold
    uint16_t durationMs = 100;  // measurement duration; 0 stops the counter
};

// The signal at a channel's input: a periodic pulse train of `millihertz`, `microvolts` high
// for `dutyPpm` millionths of each period and 0 V for the rest (500000 is a square wave).
struct Signal {
    bool on = true;
    uint64_t millihertz = 0;
    uint32_t microvolts = 1000000;
    uint32_t dutyPpm = 500000;
};

constexpr uint64_t kMaxSignalMillihertz = 10000000000ULL; // 10 MHz
constexpr uint32_t kMaxSignalMicrovolts = 100000000;      // 100 V

// Where a channel's counter stands. Measurement windows follow each other from
// `seriesStart`, one per measurement duration; window k (1-based) ends at
// seriesStart + k * duration. A change of the channel's settings or input starts a new
// series; until its first window ends, the last result of the old one stays readable.
struct CounterRun {
    int64_t seriesStart = 0;
    uint64_t readWindow = 0;    // the window whose result was read last (0: none)
    uint32_t carriedRaw = 0;    // last result of the previous series
    bool carriedValid = false;  // ...exists
    bool carriedUnread = false; // ...has not been read
};

struct ModuleState {
    int64_t powerOn = 0;
    std::array<ChannelSettings, kChannels> settings{};
    std::array<CounterRun, kChannels> counters{};
};

// Who answers in which slot. The module sits in `moduleSlot` (or nowhere); foreign devices
// answer the identity query with their own identity and nothing else.
struct BusLayout {
    uint8_t selectedSlot = 0;
    std::optional<uint8_t> moduleSlot = uint8_t{0};
    std::map<uint8_t, uint16_t> foreign; // slot -> identity
};

// Raw answers that replace what the module would read out, by command code. Only readout
// registers (see isForceable) can be forced; texts are stored without their terminator.
using Forced = std::map<uint8_t, std::vector<uint8_t>>;

struct SimState {
    std::string bootId; // the machine boot the times belong to
    BusLayout bus;
    std::array<Signal, kChannels> inputs{};
    Forced forced;
    ModuleState module;
};

bool operator==(const ChannelSettings &a, const ChannelSettings &b);
bool operator==(const Signal &a, const Signal &b);
bool operator==(const CounterRun &a, const CounterRun &b);
bool operator==(const ModuleState &a, const ModuleState &b);
bool operator==(const BusLayout &a, const BusLayout &b);
bool operator==(const SimState &a, const SimState &b);
inline bool operator!=(const SimState &a, const SimState &b) {
    return !(a == b);
}

// The power-on input signals: 1 kHz on Ch X and 12.5 kHz on Ch Y, 1 V square waves, both
// counted by the default settings.
std::array<Signal, kChannels> defaultInputs();

// A module just powered on at `now`: default settings, counters starting, uptime 0.
ModuleState poweredOn(int64_t now);

// A fresh simulation: default slot layout (the module answers in the selected slot 0),
// default inputs, nothing forced, module powered on at `now`.
SimState freshState(const std::string &bootId, int64_t now);

// Registers whose answer can be forced: every register that is only read out (identity,
// texts, numbers, supplies, temperature, clocks, uptime, frequencies, state).
bool isForceable(uint8_t code);

} // namespace bxa7sim

#endif // BXA7SIM_MODEL_STATE_H
