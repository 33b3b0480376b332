#include "state.h"

#include <tuple>

namespace bxa7sim {

namespace {
auto fields(const ChannelSettings &s) {
    return std::tie(s.polarity, s.gain, s.beta, s.tau, s.thresholdMv, s.durationMs);
}
auto fields(const Signal &s) {
    return std::tie(s.on, s.millihertz, s.microvolts, s.dutyPpm);
}
auto fields(const CounterRun &r) {
    return std::tie(r.seriesStart, r.readWindow, r.carriedRaw, r.carriedValid, r.carriedUnread);
}
} // namespace

bool operator==(const ChannelSettings &a, const ChannelSettings &b) {
    return fields(a) == fields(b);
}
bool operator==(const Signal &a, const Signal &b) {
    return fields(a) == fields(b);
}
bool operator==(const CounterRun &a, const CounterRun &b) {
    return fields(a) == fields(b);
}

bool operator==(const ModuleState &a, const ModuleState &b) {
    return a.powerOn == b.powerOn && a.settings == b.settings && a.counters == b.counters;
}

bool operator==(const BusLayout &a, const BusLayout &b) {
    return a.selectedSlot == b.selectedSlot && a.moduleSlot == b.moduleSlot &&
           a.foreign == b.foreign;
}

bool operator==(const SimState &a, const SimState &b) {
    return a.bootId == b.bootId && a.bus == b.bus && a.inputs == b.inputs && a.forced == b.forced &&
           a.module == b.module;
}

std::array<Signal, kChannels> defaultInputs() {
    std::array<Signal, kChannels> inputs{};
    inputs[0].millihertz = 1000000;  // 1 kHz
    inputs[1].millihertz = 12500000; // 12.5 kHz
    return inputs;
}

ModuleState poweredOn(int64_t now) {
    ModuleState module;
    module.powerOn = now;
    for (CounterRun &run : module.counters)
        run.seriesStart = now;
    return module;
}

SimState freshState(const std::string &bootId, int64_t now) {
    SimState state;
    state.bootId = bootId;
    state.inputs = defaultInputs();
    state.module = poweredOn(now);
    return state;
}

bool isForceable(uint8_t code) {
    using namespace qvx3;
    return code <= CMD_ClkDAC || code == CMD_Frequency_X || code == CMD_Frequency_Y ||
           code == CMD_State;
}

} // namespace bxa7sim
