// bxa7-sim: shows and changes the simulated bus and its virtual QVX-3 module through the
// state file that the simulated adapter library uses (BXA7_SIM_STATE, or the per-user
// default). Changes take effect for every program using the simulated bus, at once.
#include "config.h"
#include "module.h"
#include "session.h"
#include "signal_path.h"
#include "state_store.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace bxa7sim;
using namespace qvx3;

namespace {

const char kUsage[] =
    "Usage: bxa7-sim [COMMAND [ARGUMENT...]]\n"
    "Shows and changes the simulated BXA-7 bus and its virtual QVX-3 module for every\n"
    "program that uses the simulated adapter library (state file: BXA7_SIM_STATE, or\n"
    "$XDG_STATE_HOME/bxa7-sim/state, or ~/.local/state/bxa7-sim/state).\n"
    "\n"
    "Commands:\n"
    "  show                        the module, its registers, inputs and slots (default)\n"
    "  path                        the state file's path\n"
    "  signal X|Y HZ [VOLTS [DUTY]]\n"
    "                              feed a channel a pulse signal: frequency in Hz (0 to\n"
    "                              10000000), height in V (0 to 100), duty cycle in percent\n"
    "                              (above 0, below 100); omitted values stay as they are\n"
    "  signal X|Y off|on           switch a channel's input off or on again\n"
    "  force REGISTER VALUE        make a readout register answer a raw value\n"
    "  force uptime SECONDS [FRACTION]\n"
    "                              ...the uptime, FRACTION in 1/1024 s\n"
    "  force REGISTER live         let the register answer live values again\n"
    "  live                        let every readout register answer live values again\n"
    "  slot N module               move the module to slot N (0 to 255)\n"
    "  slot N foreign [IDENTITY]   put a foreign device in slot N (identity 0x4896 unless\n"
    "                              given)\n"
    "  slot N empty                empty slot N\n"
    "  select N                    select slot N on the adapter\n"
    "  power-cycle                 switch the module off and on: uptime from 0, settings\n"
    "                              to their defaults, no counter results\n"
    "  reset                       everything as on first use\n"
    "\n"
    "REGISTER is a name or command code: identity 0, prod-id 1, prod-no 2, fw-ver 3,\n"
    "fw-date 4, uptime 5, 5v 6, 3v 7, temp 8, clk-cpu 9, clk-per 10, clk-adc 11,\n"
    "clk-dac 12, freq-x 25, freq-y 26, state 27. VALUE is a number in decimal or with 0x in\n"
    "hexadecimal that fits the register (e.g. 0x8000 for 5v: no reading), or for prod-id\n"
    "and fw-date the text itself. Numbers in N and IDENTITY are written the same way.\n";

struct Register {
    const char *name;
    uint8_t code;
};
constexpr Register kRegisters[] = {
    {"identity", CMD_Check},
    {"prod-id", CMD_Prod_ID},
    {"prod-no", CMD_Prod_No},
    {"fw-ver", CMD_FW_Ver},
    {"fw-date", CMD_FW_Date},
    {"uptime", CMD_Uptime},
    {"5v", CMD_5V},
    {"3v", CMD_3V},
    {"temp", CMD_Temp},
    {"clk-cpu", CMD_ClkCPU},
    {"clk-per", CMD_ClkPer},
    {"clk-adc", CMD_ClkADC},
    {"clk-dac", CMD_ClkDAC},
    {"freq-x", CMD_Frequency_X},
    {"freq-y", CMD_Frequency_Y},
    {"state", CMD_State},
};

[[noreturn]] void usageError(const std::string &message) {
    std::fprintf(stderr, "bxa7-sim: %s\nTry 'bxa7-sim help'.\n", message.c_str());
    std::exit(2);
}

uint64_t number(const std::string &text, uint64_t max, const char *what) {
    uint64_t value = 0;
    if (!parseNumber(text, max, value))
        usageError(std::string(what) + " must be a number from 0 to " + std::to_string(max) +
                   ", not '" + text + "'");
    return value;
}

// A decimal number with at most `decimals` digits after the point, scaled by 10^decimals.
uint64_t decimal(const std::string &text, int decimals, uint64_t max, const char *what) {
    uint64_t value = 0;
    int after = -1; // digits after the point; -1 before it
    bool digits = false;
    for (const char c : text) {
        if (c == '.' && after < 0) {
            after = 0;
        } else if (c >= '0' && c <= '9' && after < decimals && value <= max) {
            value = value * 10 + static_cast<uint64_t>(c - '0');
            digits = true;
            if (after >= 0) ++after;
        } else {
            digits = false;
            break;
        }
    }
    for (int i = after < 0 ? 0 : after; i < decimals && digits; ++i)
        value *= 10;
    if (!digits || value > max)
        usageError(std::string(what) + " '" + text + "' is out of range or has more than " +
                   std::to_string(decimals) + " decimals");
    return value;
}

std::string fixed(uint64_t scaled, int decimals) {
    uint64_t unit = 1;
    for (int i = 0; i < decimals; ++i)
        unit *= 10;
    std::string text = std::to_string(scaled / unit);
    std::string fraction = std::to_string(scaled % unit);
    fraction.insert(0, static_cast<size_t>(decimals) - fraction.size(), '0');
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    return fraction.empty() ? text : text + "." + fraction;
}

int channelArgument(const std::string &text) {
    if (text == "X" || text == "x") return 0;
    if (text == "Y" || text == "y") return 1;
    usageError("the channel must be X or Y, not '" + text + "'");
}

uint8_t registerArgument(const std::string &text) {
    for (const Register &r : kRegisters) {
        if (text == r.name) return r.code;
    }
    uint64_t code = 0;
    if (parseNumber(text, 255, code) && isForceable(static_cast<uint8_t>(code)))
        return static_cast<uint8_t>(code);
    usageError("'" + text + "' is not a readout register");
}

const char *registerName(uint8_t code) {
    for (const Register &r : kRegisters) {
        if (r.code == code) return r.name;
    }
    return "?";
}

std::vector<uint8_t> littleEndian(uint64_t value, int bytes) {
    std::vector<uint8_t> out;
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return out;
}

// The number in bytes first.. of a little-endian field; bytes past the eighth do not fit and
// are left out (a text register's bytes are no number).
uint64_t fromLittleEndian(const std::vector<uint8_t> &bytes, size_t first, size_t count) {
    uint64_t value = 0;
    for (size_t i = 0; i < count && i < sizeof value && first + i < bytes.size(); ++i)
        value |= uint64_t{bytes[first + i]} << (8 * i);
    return value;
}

// The raw answer that `force` stores for `code`, from the command-line words after it.
std::vector<uint8_t> forcedValue(uint8_t code, const std::vector<std::string> &words) {
    const ReadShape shape = readShape(code);
    if (shape.text) {
        std::string text;
        for (const std::string &w : words)
            text += (text.empty() ? "" : " ") + w;
        if (text.size() > static_cast<size_t>(shape.length))
            usageError(std::string(registerName(code)) + " holds at most " +
                       std::to_string(shape.length) + " characters");
        return std::vector<uint8_t>(text.begin(), text.end());
    }
    if (code == CMD_Uptime) {
        if (words.empty() || words.size() > 2)
            usageError("force uptime takes SECONDS and an optional FRACTION");
        std::vector<uint8_t> raw = littleEndian(number(words[0], 0xFFFFFFFF, "SECONDS"), 4);
        const uint64_t fraction = words.size() > 1 ? number(words[1], 0xFFFF, "FRACTION") : 0;
        for (uint8_t b : littleEndian(fraction, 2))
            raw.push_back(b);
        return raw;
    }
    if (words.size() != 1)
        usageError(std::string("force ") + registerName(code) + " takes one VALUE");
    const uint64_t max = (uint64_t{1} << (8 * shape.length)) - 1;
    return littleEndian(number(words[0], max, "VALUE"), shape.length);
}

// ---- show ---------------------------------------------------------------------------------

std::string describeRegister(uint8_t code, const std::vector<uint8_t> &raw) {
    char text[160];
    const uint64_t v = fromLittleEndian(raw, 0, raw.size());
    switch (code) {
    case CMD_Prod_ID:
    case CMD_FW_Date:
        return "\"" + std::string(raw.begin(), raw.end()) + "\"";
    case CMD_Uptime:
        std::snprintf(text, sizeof text, "%llu s + %llu/1024",
                      static_cast<unsigned long long>(fromLittleEndian(raw, 0, 4)),
                      static_cast<unsigned long long>(fromLittleEndian(raw, 4, 2)));
        return text;
    case CMD_Check:
    case CMD_FW_Ver:
    case CMD_State:
        std::snprintf(text, sizeof text, "0x%0*llX", 2 * static_cast<int>(raw.size()),
                      static_cast<unsigned long long>(v));
        return text;
    case CMD_5V:
    case CMD_3V:
        if (v == kNoVoltage) return "0x8000 (no reading)";
        std::snprintf(text, sizeof text, "%llu mV", static_cast<unsigned long long>(v));
        return text;
    case CMD_Temp:
        if (v == kNoTemperature) return "0xFFFF (no reading)";
        std::snprintf(text, sizeof text, "%llu (%.2f degrees Celsius)",
                      static_cast<unsigned long long>(v), static_cast<double>(v) * 0.01 - 273.15);
        return text;
    case CMD_Frequency_X:
    case CMD_Frequency_Y:
        if (v == kFrequencyOverflow) return "0xFFFFFFFF (overflow)";
        std::snprintf(text, sizeof text, "%llu (%.4f Hz)", static_cast<unsigned long long>(v),
                      static_cast<double>(v) * 0.0001);
        return text;
    default:
        std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(v));
        return code >= CMD_ClkCPU && code <= CMD_ClkDAC ? std::string(text) + " Hz" : text;
    }
}

void show(const StateStore &store, const SimState &state, int64_t now) {
    std::printf("State file        %s\n", store.path().c_str());
    std::printf("Selected slot     %u\n", state.bus.selectedSlot);
    if (state.bus.moduleSlot)
        std::printf("QVX-3 module      slot %u\n", *state.bus.moduleSlot);
    else
        std::printf("QVX-3 module      in no slot\n");
    for (const auto &[slot, identity] : state.bus.foreign)
        std::printf("Foreign device    slot %u, identity 0x%04X\n", slot, identity);
    const double up = static_cast<double>(now - state.module.powerOn) * 1e-9;
    std::printf("Powered on        %.3f s ago\n", up > 0 ? up : 0.0);

    std::printf("\nReadout registers, as the module answers now:\n");
    for (const Register &r : kRegisters) {
        SimState copy = state; // a look that marks no result as read
        const bool forced = state.forced.count(r.code) != 0;
        std::printf("  %-9s %2u  %s%s\n", r.name, r.code,
                    describeRegister(r.code, readRegister(copy, r.code, now)).c_str(),
                    forced ? "  [forced]" : "");
    }

    for (int c = 0; c < kChannels; ++c) {
        const ChannelSettings &s = state.module.settings[static_cast<size_t>(c)];
        const Signal &in = state.inputs[static_cast<size_t>(c)];
        const uint16_t alpha = lowPassAlpha(s.beta);
        std::printf("\nCh %c\n", c == 0 ? 'X' : 'Y');
        std::printf("  amplification   %.4f (0x%04X)\n", s.gain / 256.0, s.gain);
        std::printf("  polarity        %s (%u)\n", s.polarity ? "negative" : "positive",
                    s.polarity);
        std::printf("  low-pass        Beta %u, Alpha %u: %.3f Hz\n", s.beta, alpha,
                    lowPassCorner(alpha, s.beta));
        std::printf("  high-pass       Tau %u: %.3f Hz\n", s.tau, highPassCorner(s.tau));
        std::printf("  threshold       %u mV\n", s.thresholdMv);
        std::printf("  duration        %u ms%s\n", s.durationMs,
                    s.durationMs ? "" : " (the counter stands still)");
        std::printf("  input           %s Hz, %s V, duty %s %%%s\n",
                    fixed(in.millihertz, 3).c_str(), fixed(in.microvolts, 6).c_str(),
                    fixed(in.dutyPpm, 4).c_str(), in.on ? "" : ", off");
        std::printf("  discriminator   %.3f V swing: %s\n", discriminatorSwing(s, in),
                    isCounted(s, in) ? "counted" : "nothing counted");
        const CounterReading reading = channelReading(state, c, now);
        if (reading.valid)
            std::printf("  counter         %s%s\n",
                        describeRegister(CMD_Frequency_X, littleEndian(reading.raw, 4)).c_str(),
                        reading.unread ? ", new" : "");
        else
            std::printf("  counter         no result yet\n");
    }
}

// ---- commands -----------------------------------------------------------------------------

using Change = std::function<void(SimState &, int64_t now)>;

Change signalCommand(const std::vector<std::string> &args) {
    if (args.size() < 3 || args.size() > 5)
        usageError("signal takes X|Y and HZ [VOLTS [DUTY]], or off or on");
    const int channel = channelArgument(args[1]);
    const std::string &what = args[2];
    if (what == "off" || what == "on") {
        if (args.size() != 3) usageError("signal " + what + " takes nothing more");
        return [channel, on = what == "on"](SimState &s, int64_t now) {
            Signal in = s.inputs[static_cast<size_t>(channel)];
            in.on = on;
            setInput(s, channel, in, now);
        };
    }
    const uint64_t millihertz = decimal(what, 3, kMaxSignalMillihertz, "the frequency");
    std::optional<uint32_t> microvolts;
    std::optional<uint32_t> duty;
    if (args.size() > 3)
        microvolts = static_cast<uint32_t>(decimal(args[3], 6, kMaxSignalMicrovolts, "the height"));
    if (args.size() > 4) {
        duty = static_cast<uint32_t>(decimal(args[4], 4, 999999, "the duty cycle"));
        if (*duty == 0) usageError("the duty cycle must be above 0 %");
    }
    return [=](SimState &s, int64_t now) {
        Signal in = s.inputs[static_cast<size_t>(channel)];
        in.on = true;
        in.millihertz = millihertz;
        in.microvolts = microvolts.value_or(in.microvolts);
        in.dutyPpm = duty.value_or(in.dutyPpm);
        setInput(s, channel, in, now);
    };
}

Change forceCommand(const std::vector<std::string> &args) {
    if (args.size() < 3) usageError("force takes a REGISTER and a VALUE (or live)");
    const uint8_t code = registerArgument(args[1]);
    if (args[2] == "live" && args.size() == 3)
        return [code](SimState &s, int64_t) { s.forced.erase(code); };
    const std::vector<uint8_t> raw =
        forcedValue(code, std::vector<std::string>(args.begin() + 2, args.end()));
    return [code, raw](SimState &s, int64_t) { s.forced[code] = raw; };
}

Change slotCommand(const std::vector<std::string> &args) {
    if (args.size() < 3) usageError("slot takes N and module, foreign [IDENTITY] or empty");
    const auto slot = static_cast<uint8_t>(number(args[1], 255, "the slot"));
    const std::string &what = args[2];
    if (what == "foreign" && args.size() <= 4) {
        const auto identity = static_cast<uint16_t>(
            args.size() == 4 ? number(args[3], 0xFFFF, "the identity") : 0x4896);
        return [slot, identity](SimState &s, int64_t) {
            if (s.bus.moduleSlot == slot) s.bus.moduleSlot.reset();
            s.bus.foreign[slot] = identity;
        };
    }
    if (args.size() != 3 || (what != "module" && what != "empty"))
        usageError("slot takes N and module, foreign [IDENTITY] or empty");
    return [slot, module = what == "module"](SimState &s, int64_t) {
        s.bus.foreign.erase(slot);
        if (module)
            s.bus.moduleSlot = slot;
        else if (s.bus.moduleSlot == slot)
            s.bus.moduleSlot.reset();
    };
}

Change command(const std::vector<std::string> &args, const std::string &bootId) {
    const std::string &name = args[0];
    auto alone = [&] {
        if (args.size() != 1) usageError(name + " takes no argument");
    };
    if (name == "signal") return signalCommand(args);
    if (name == "force") return forceCommand(args);
    if (name == "slot") return slotCommand(args);
    if (name == "select") {
        if (args.size() != 2) usageError("select takes the slot N");
        const auto slot = static_cast<uint8_t>(number(args[1], 255, "the slot"));
        return [slot](SimState &s, int64_t) { s.bus.selectedSlot = slot; };
    }
    if (name == "show" || name == "path") usageError(name + " takes no argument");
    if (name == "live") {
        alone();
        return [](SimState &s, int64_t) { s.forced.clear(); };
    }
    if (name == "power-cycle") {
        alone();
        return [](SimState &s, int64_t now) { powerCycle(s, now); };
    }
    if (name == "reset") {
        alone();
        return [bootId](SimState &s, int64_t now) { s = freshState(bootId, now); };
    }
    usageError("unknown command '" + name + "'");
}

} // namespace

int main(int argc, char **argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "help" || args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const Host host = systemHost();
    std::string path;
    std::string problem;
    if (!statePath(host.getenv, path, problem)) {
        std::fprintf(stderr, "bxa7-sim: %s\n", problem.c_str());
        return 1;
    }
    if (args.size() == 1 && args[0] == "path") {
        std::printf("%s\n", path.c_str());
        return 0;
    }
    // Parse the whole command before touching the state file.
    const bool showing = args.empty() || (args[0] == "show" && args.size() == 1);
    const Change change = showing ? Change() : command(args, host.bootId);

    StateStore store(path, host.bootId, host.now, host.notice);
    FileError error;
    if (showing) {
        const SimState *state = store.current(error);
        if (state) {
            show(store, *state, host.now());
            return 0;
        }
    } else if (store.update(change, error)) {
        return 0;
    }
    std::fprintf(stderr, "bxa7-sim: %s: %s\n", error.what.c_str(), error.cause.c_str());
    return 1;
}
