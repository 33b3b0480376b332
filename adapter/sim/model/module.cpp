#include "module.h"

#include "signal_path.h"

namespace bxa7sim {

namespace {

using namespace qvx3;

constexpr uint16_t k5VMillivolts = 5021;
constexpr uint16_t k3VMillivolts = 3297;
constexpr uint16_t kTemperatureCentikelvin = 30855;
constexpr uint32_t kClockHz[] = {48000000, 24000000, 12000000, 250000}; // CPU, Per, ADC, DAC
constexpr int64_t kHousekeepingSample = 20000000; // ns between two housekeeping conversions

std::vector<uint8_t> littleEndian(uint64_t value, int bytes) {
    std::vector<uint8_t> out(static_cast<size_t>(bytes));
    for (uint8_t &b : out) {
        b = static_cast<uint8_t>(value & 0xFF);
        value >>= 8;
    }
    return out;
}

std::vector<uint8_t> text(const char *s) {
    return std::vector<uint8_t>(s, s + std::char_traits<char>::length(s));
}

uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// A housekeeping reading: `centre` plus triangular noise of at most `spread`, drawn afresh
// for every conversion period, the same for every reader within one period.
uint16_t housekeeping(uint8_t code, uint16_t centre, uint32_t spread, int64_t now) {
    const uint64_t sample = static_cast<uint64_t>(now < 0 ? 0 : now / kHousekeepingSample);
    const uint64_t h = mix(sample * kCommandCount + code);
    const int64_t a = static_cast<int64_t>((h & 0xFFFFFFFF) % (spread + 1));
    const int64_t b = static_cast<int64_t>((h >> 32) % (spread + 1));
    return static_cast<uint16_t>(centre + a + b - spread);
}

std::vector<uint8_t> uptime(const ModuleState &module, int64_t now) {
    const int64_t up = now > module.powerOn ? now - module.powerOn : 0;
    const auto seconds = static_cast<uint32_t>(up / kNsPerSecond);
    const auto fraction = static_cast<uint16_t>(up % kNsPerSecond * 1024 / kNsPerSecond);
    std::vector<uint8_t> out = littleEndian(seconds, 4);
    out.push_back(static_cast<uint8_t>(fraction & 0xFF));
    out.push_back(static_cast<uint8_t>(fraction >> 8));
    return out;
}

int channelOf(uint8_t code, uint8_t xCode) {
    return code == xCode ? 0 : 1;
}

std::vector<uint8_t> liveRegister(const SimState &state, uint8_t code, int64_t now) {
    const ModuleState &module = state.module;
    switch (code) {
    case CMD_Check:
        return littleEndian(kIdentity, 2);
    case CMD_Prod_ID:
        return text(kProductId);
    case CMD_Prod_No:
        return littleEndian(kProductNumber, 4);
    case CMD_FW_Ver:
        return littleEndian(kFirmwareVersion, 2);
    case CMD_FW_Date:
        return text(kFirmwareDate);
    case CMD_Uptime:
        return uptime(module, now);
    case CMD_5V:
        return littleEndian(housekeeping(code, k5VMillivolts, 8, now), 2);
    case CMD_3V:
        return littleEndian(housekeeping(code, k3VMillivolts, 5, now), 2);
    case CMD_Temp:
        return littleEndian(housekeeping(code, kTemperatureCentikelvin, 15, now), 2);
    case CMD_ClkCPU:
    case CMD_ClkPer:
    case CMD_ClkADC:
    case CMD_ClkDAC:
        return littleEndian(kClockHz[code - CMD_ClkCPU], 4);
    case CMD_State:
        return {stateByte(state, now)};
    default:
        break;
    }
    if (code == CMD_Frequency_X || code == CMD_Frequency_Y)
        return littleEndian(channelReading(state, channelOf(code, CMD_Frequency_X), now).raw, 4);

    const ChannelSettings &s = module.settings[static_cast<size_t>((code - CMD_LPF_X) % 2)];
    switch (code) {
    case CMD_LPF_X:
    case CMD_LPF_Y: {
        std::vector<uint8_t> out = littleEndian(lowPassAlpha(s.beta), 2);
        out.push_back(s.beta);
        return out;
    }
    case CMD_HPF_Tau_X:
    case CMD_HPF_Tau_Y:
        return {s.tau};
    case CMD_Amplification_X:
    case CMD_Amplification_Y:
        return littleEndian(s.gain, 2);
    case CMD_Polarity_X:
    case CMD_Polarity_Y:
        return {s.polarity};
    case CMD_Threshold_X:
    case CMD_Threshold_Y:
        return littleEndian(s.thresholdMv, 2);
    default:
        return littleEndian(s.durationMs, 2); // CMD_Duration_X, CMD_Duration_Y
    }
}

} // namespace

CounterReading channelReading(const SimState &state, int channel, int64_t now) {
    const auto c = static_cast<size_t>(channel);
    return counterReading(state.module.counters[c], state.module.settings[c], state.inputs[c], now);
}

uint8_t stateByte(const SimState &state, int64_t now) {
    uint8_t bits = 0;
    const CounterReading x = channelReading(state, 0, now);
    const CounterReading y = channelReading(state, 1, now);
    if (x.valid) bits |= kStateValidX;
    if (x.unread) bits |= kStateNewX;
    if (y.valid) bits |= kStateValidY;
    if (y.unread) bits |= kStateNewY;
    return bits;
}

std::vector<uint8_t> readRegister(SimState &state, uint8_t code, int64_t now) {
    const auto forced = state.forced.find(code);
    std::vector<uint8_t> answer =
        forced != state.forced.end() ? forced->second : liveRegister(state, code, now);
    if (code == CMD_Frequency_X || code == CMD_Frequency_Y) {
        const int channel = channelOf(code, CMD_Frequency_X);
        markRead(state.module.counters[static_cast<size_t>(channel)],
                 channelReading(state, channel, now));
    }
    return answer;
}

namespace {

// Applies `change` to a channel's settings or input and restarts its measurement when the
// change made a difference.
template <typename Change>
void changeChannel(SimState &state, int channel, int64_t now, Change change) {
    const auto c = static_cast<size_t>(channel);
    const CounterReading latest = channelReading(state, channel, now);
    const ChannelSettings settings = state.module.settings[c];
    const Signal input = state.inputs[c];
    change(state.module.settings[c], state.inputs[c]);
    if (!(settings == state.module.settings[c]) || !(input == state.inputs[c]))
        restartSeries(state.module.counters[c], latest, now);
}

} // namespace

void writeRegister(SimState &state, uint8_t code, const uint8_t *payload, int64_t now) {
    const uint8_t byte = payload[0];
    const auto word =
        static_cast<uint16_t>(writePayload(code) == 2 ? byte | payload[1] << 8 : byte);
    const int channel = (code - CMD_LPF_X) % 2;
    changeChannel(state, channel, now, [&](ChannelSettings &s, Signal &) {
        switch (code) {
        case CMD_LPF_X:
        case CMD_LPF_Y:
            s.beta = byte;
            break;
        case CMD_HPF_Tau_X:
        case CMD_HPF_Tau_Y:
            s.tau = byte;
            break;
        case CMD_Amplification_X:
        case CMD_Amplification_Y:
            s.gain = word;
            break;
        case CMD_Polarity_X:
        case CMD_Polarity_Y:
            s.polarity = byte;
            break;
        case CMD_Threshold_X:
        case CMD_Threshold_Y:
            s.thresholdMv = word;
            break;
        case CMD_Duration_X:
        case CMD_Duration_Y:
            s.durationMs = word;
            break;
        default:
            break;
        }
    });
}

void setInput(SimState &state, int channel, const Signal &input, int64_t now) {
    changeChannel(state, channel, now, [&](ChannelSettings &, Signal &in) { in = input; });
}

void powerCycle(SimState &state, int64_t now) {
    state.module = poweredOn(now);
}

} // namespace bxa7sim
