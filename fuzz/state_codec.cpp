// The state file's text form: any text either decodes to a state that encodes back to a
// text decoding to the same state, or is refused; and any state in range encodes to a text
// that decodes to exactly that state.
#include "state_codec.h"
#include "check.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

using namespace bxa7sim;

namespace {

// A state with every field drawn from the input, within the ranges the file holds.
SimState MakeState(FuzzedDataProvider &in) {
    SimState s;
    s.bootId = in.ConsumeRandomLengthString(40);
    for (char &c : s.bootId)
        c = static_cast<char>('!' + static_cast<unsigned char>(c) % 94);
    if (s.bootId.empty()) s.bootId = "boot";
    s.bus.selectedSlot = in.ConsumeIntegral<uint8_t>();
    if (in.ConsumeBool())
        s.bus.moduleSlot = in.ConsumeIntegral<uint8_t>();
    else
        s.bus.moduleSlot.reset();
    for (int n = in.ConsumeIntegralInRange(0, 4); n > 0; --n) {
        const auto slot = in.ConsumeIntegral<uint8_t>();
        if (slot != s.bus.moduleSlot) s.bus.foreign[slot] = in.ConsumeIntegral<uint16_t>();
    }
    for (Signal &input : s.inputs) {
        input.on = in.ConsumeBool();
        input.millihertz = in.ConsumeIntegralInRange<uint64_t>(0, kMaxSignalMillihertz);
        input.microvolts = in.ConsumeIntegralInRange<uint32_t>(0, kMaxSignalMicrovolts);
        input.dutyPpm = in.ConsumeIntegralInRange<uint32_t>(1, 999999);
    }
    for (int n = in.ConsumeIntegralInRange(0, 4); n > 0; --n) {
        const auto code =
            static_cast<uint8_t>(in.ConsumeIntegralInRange(0, qvx3::kCommandCount - 1));
        if (!isForceable(code)) continue;
        const qvx3::ReadShape shape = qvx3::readShape(code);
        std::vector<uint8_t> bytes;
        const int length = shape.text ? in.ConsumeIntegralInRange(0, shape.length) : shape.length;
        for (int i = 0; i < length; ++i) {
            const auto b = in.ConsumeIntegral<uint8_t>();
            bytes.push_back(shape.text && b == 0 ? 'x' : b);
        }
        s.forced[code] = bytes;
    }
    s.module.powerOn = in.ConsumeIntegralInRange<int64_t>(0, INT64_MAX);
    for (ChannelSettings &c : s.module.settings) {
        c.polarity = in.ConsumeIntegral<uint8_t>();
        c.gain = in.ConsumeIntegral<uint16_t>();
        c.beta = in.ConsumeIntegral<uint8_t>();
        c.tau = in.ConsumeIntegral<uint8_t>();
        c.thresholdMv = in.ConsumeIntegral<uint16_t>();
        c.durationMs = in.ConsumeIntegral<uint16_t>();
    }
    for (CounterRun &r : s.module.counters) {
        r.seriesStart = in.ConsumeIntegralInRange<int64_t>(0, INT64_MAX);
        r.readWindow = in.ConsumeIntegral<uint64_t>();
        r.carriedRaw = in.ConsumeIntegral<uint32_t>();
        r.carriedValid = in.ConsumeBool();
        r.carriedUnread = in.ConsumeBool();
    }
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    // The input as a file's text.
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    if (const std::optional<SimState> decoded = decodeState(text)) {
        const std::string encoded = encodeState(*decoded);
        const std::optional<SimState> again = decodeState(encoded);
        FUZZ_CHECK(again && *again == *decoded, "the encoding of a decoded state:\n%s",
                   encoded.c_str());
        FUZZ_CHECK(encodeState(*again) == encoded, "encoding is not stable:\n%s", encoded.c_str());
    }

    // The input as the fields of a state.
    FuzzedDataProvider in(data, size);
    const SimState state = MakeState(in);
    const std::string encoded = encodeState(state);
    const std::optional<SimState> decoded = decodeState(encoded);
    FUZZ_CHECK(decoded && *decoded == state, "a state in range does not come back:\n%s",
               encoded.c_str());
    // A file cut short anywhere, even at a line's end, is refused.
    const std::size_t cut = in.ConsumeIntegralInRange<std::size_t>(0, encoded.size() - 1);
    FUZZ_CHECK(!decodeState(std::string_view(encoded).substr(0, cut)),
               "a file cut at %zu of %zu decodes", cut, encoded.size());
    return 0;
}
