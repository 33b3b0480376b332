#include "state_codec.h"

#include <charconv>
#include <limits>
#include <set>
#include <vector>

namespace bxa7sim {

namespace {

constexpr std::string_view kFormatWord = "bxa7-sim-state ";
constexpr unsigned kFormatVersion = 1;
constexpr std::string_view kMagic = "bxa7-sim-state 1";
constexpr char kChannelLetter[kChannels] = {'X', 'Y'};

std::string hex(const std::vector<uint8_t> &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return bytes.empty() ? "-" : out;
}

class Writer {
public:
    template <typename... Fields> void line(std::string_view key, const Fields &...fields) {
        text_ += key;
        (field(fields), ...);
        text_ += '\n';
    }
    std::string take() { return std::move(text_); }

private:
    void field(std::string_view s) {
        text_ += ' ';
        text_ += s;
    }
    void field(const std::string &s) { field(std::string_view(s)); }
    void field(const char *s) { field(std::string_view(s)); }
    void field(char c) { field(std::string_view(&c, 1)); }
    void field(bool b) { field(b ? "1" : "0"); }
    template <typename Int> void field(Int value) {
        text_ += ' ';
        text_ += std::to_string(value);
    }

    std::string text_;
};

std::vector<std::string_view> split(std::string_view line) {
    std::vector<std::string_view> tokens;
    size_t start = 0;
    while (start <= line.size()) {
        const size_t end = std::min(line.find(' ', start), line.size());
        tokens.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return tokens;
}

// Reads one line's tokens into typed fields; any mismatch makes the line, and so the whole
// file, invalid.
class Fields {
public:
    explicit Fields(std::vector<std::string_view> tokens) : tokens_(std::move(tokens)) {}

    bool count(size_t n) const { return tokens_.size() == n; }

    template <typename Int>
    bool number(size_t i, Int &out, Int low = std::numeric_limits<Int>::min(),
                Int high = std::numeric_limits<Int>::max()) const {
        const std::string_view t = tokens_[i];
        Int value{};
        const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), value);
        if (t.empty() || error != std::errc() || end != t.data() + t.size() || value < low ||
            value > high)
            return false;
        out = value;
        return true;
    }

    bool flag(size_t i, bool &out) const {
        uint8_t v = 0;
        if (!number<uint8_t>(i, v, 0, 1)) return false;
        out = v != 0;
        return true;
    }

    bool channel(size_t i, size_t &out) const {
        for (size_t c = 0; c < kChannels; ++c) {
            if (tokens_[i] == std::string_view(&kChannelLetter[c], 1)) {
                out = c;
                return true;
            }
        }
        return false;
    }

    bool bytes(size_t i, std::vector<uint8_t> &out) const {
        const std::string_view t = tokens_[i];
        out.clear();
        if (t == "-") return true;
        if (t.empty() || t.size() % 2 != 0) return false;
        for (size_t k = 0; k < t.size(); k += 2) {
            uint8_t b = 0;
            const auto [end, error] = std::from_chars(t.data() + k, t.data() + k + 2, b, 16);
            if (error != std::errc() || end != t.data() + k + 2) return false;
            out.push_back(b);
        }
        return true;
    }

    std::string_view operator[](size_t i) const { return tokens_[i]; }

private:
    std::vector<std::string_view> tokens_;
};

bool validForced(uint8_t code, const std::vector<uint8_t> &bytes) {
    if (!isForceable(code)) return false;
    const qvx3::ReadShape shape = qvx3::readShape(code);
    if (!shape.text) return bytes.size() == static_cast<size_t>(shape.length);
    for (uint8_t b : bytes) {
        if (b == 0) return false;
    }
    return bytes.size() <= static_cast<size_t>(shape.length);
}

bool validBootId(std::string_view id) {
    if (id.empty()) return false;
    for (char c : id) {
        if (c <= ' ' || c > '~') return false;
    }
    return true;
}

} // namespace

std::string encodeState(const SimState &state) {
    Writer w;
    w.line(kMagic);
    w.line("boot", state.bootId);
    w.line("selected-slot", state.bus.selectedSlot);
    if (state.bus.moduleSlot)
        w.line("module-slot", *state.bus.moduleSlot);
    else
        w.line("module-slot", "none");
    for (const auto &[slot, identity] : state.bus.foreign)
        w.line("foreign", slot, identity);
    for (size_t c = 0; c < kChannels; ++c) {
        const Signal &in = state.inputs[c];
        w.line("input", kChannelLetter[c], in.on ? "on" : "off", in.millihertz, in.microvolts,
               in.dutyPpm);
    }
    for (const auto &[code, bytes] : state.forced)
        w.line("force", code, hex(bytes));
    w.line("power-on", state.module.powerOn);
    for (size_t c = 0; c < kChannels; ++c) {
        const ChannelSettings &s = state.module.settings[c];
        w.line("settings", kChannelLetter[c], s.polarity, s.gain, s.beta, s.tau, s.thresholdMv,
               s.durationMs);
    }
    for (size_t c = 0; c < kChannels; ++c) {
        const CounterRun &r = state.module.counters[c];
        w.line("counter", kChannelLetter[c], r.seriesStart, r.readWindow, r.carriedRaw,
               r.carriedValid, r.carriedUnread);
    }
    w.line("end");
    return w.take();
}

std::optional<SimState> decodeState(std::string_view text) {
    SimState state;
    state.bus.moduleSlot.reset();
    std::set<std::string> seen; // keys (with channel) that must appear exactly once
    auto once = [&seen](std::string key) { return seen.insert(std::move(key)).second; };
    bool ended = false;
    bool first = true;

    while (!text.empty()) {
        const size_t eol = text.find('\n');
        if (eol == std::string_view::npos || ended)
            return std::nullopt; // unterminated line, or anything after "end"
        const std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol + 1);
        if (first) {
            if (line != kMagic) return std::nullopt;
            first = false;
            continue;
        }
        const Fields f(split(line));
        const std::string_view key = f[0];
        size_t c = 0;
        bool ok = false;
        if (key == "end") {
            ok = f.count(1);
            ended = true;
        } else if (key == "boot") {
            ok = f.count(2) && validBootId(f[1]) && once("boot");
            if (ok) state.bootId = std::string(f[1]);
        } else if (key == "selected-slot") {
            ok = f.count(2) && f.number(1, state.bus.selectedSlot) && once("selected-slot");
        } else if (key == "module-slot") {
            uint8_t slot = 0;
            ok = f.count(2) && once("module-slot");
            if (ok && f[1] != "none") {
                ok = f.number(1, slot);
                state.bus.moduleSlot = slot;
            }
        } else if (key == "foreign") {
            uint8_t slot = 0;
            uint16_t identity = 0;
            ok = f.count(3) && f.number(1, slot) && f.number(2, identity) &&
                 state.bus.foreign.emplace(slot, identity).second;
        } else if (key == "input") {
            Signal in;
            ok = f.count(6) && f.channel(1, c) && (f[2] == "on" || f[2] == "off") &&
                 f.number<uint64_t>(3, in.millihertz, 0, kMaxSignalMillihertz) &&
                 f.number<uint32_t>(4, in.microvolts, 0, kMaxSignalMicrovolts) &&
                 f.number<uint32_t>(5, in.dutyPpm, 1, 999999) && once("input" + std::to_string(c));
            if (ok) {
                in.on = f[2] == "on";
                state.inputs[c] = in;
            }
        } else if (key == "force") {
            uint8_t code = 0;
            std::vector<uint8_t> bytes;
            ok = f.count(3) && f.number(1, code) && f.bytes(2, bytes) && validForced(code, bytes) &&
                 state.forced.emplace(code, bytes).second;
        } else if (key == "power-on") {
            // Times are monotonic-clock nanoseconds of the boot, never negative: the model
            // subtracts them from the clock's reading.
            ok = f.count(2) && f.number<int64_t>(1, state.module.powerOn, 0) && once("power-on");
        } else if (key == "settings") {
            ChannelSettings s;
            ok = f.count(8) && f.channel(1, c) && f.number(2, s.polarity) && f.number(3, s.gain) &&
                 f.number(4, s.beta) && f.number(5, s.tau) && f.number(6, s.thresholdMv) &&
                 f.number(7, s.durationMs) && once("settings" + std::to_string(c));
            state.module.settings[c] = s;
        } else if (key == "counter") {
            CounterRun r;
            ok = f.count(7) && f.channel(1, c) && f.number<int64_t>(2, r.seriesStart, 0) &&
                 f.number(3, r.readWindow) && f.number(4, r.carriedRaw) &&
                 f.flag(5, r.carriedValid) && f.flag(6, r.carriedUnread) &&
                 once("counter" + std::to_string(c));
            state.module.counters[c] = r;
        }
        if (!ok) return std::nullopt;
    }
    // Keys that appear once each: boot, both slots, power-on, and per channel input,
    // settings and counter.
    if (!ended || seen.size() != 4 + 3 * kChannels) return std::nullopt;
    if (state.bus.moduleSlot && state.bus.foreign.count(*state.bus.moduleSlot)) return std::nullopt;
    return state;
}

StateFormat stateFormat(std::string_view text) {
    if (text.substr(0, kFormatWord.size()) != kFormatWord) return StateFormat::Foreign;
    text.remove_prefix(kFormatWord.size());
    const std::string_view version = text.substr(0, text.find('\n'));
    unsigned number = 0;
    const auto [end, error] =
        std::from_chars(version.data(), version.data() + version.size(), number);
    // A version too large for `number` is newer all the same.
    const bool digits = !version.empty() && end == version.data() + version.size();
    if (digits && error == std::errc::result_out_of_range) return StateFormat::Newer;
    if (digits && error == std::errc() && number > kFormatVersion) return StateFormat::Newer;
    return StateFormat::Current;
}

} // namespace bxa7sim
