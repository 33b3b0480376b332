// The simulated bus and module driven by random transfers, slot layouts, inputs, forced
// registers and times: each transfer must keep the protocol's rules (what is refused before
// the wire leaves the state alone, every read ends the command in progress, answers have the
// register's length, written settings read back, a read result is no longer new).
#include "bus.h"
#include "check.h"
#include "module.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <vector>

using namespace bxa7sim;

namespace {

// A code that mostly names a register, now and then anything.
uint8_t Code(FuzzedDataProvider &in) {
    return in.ConsumeBool()
               ? static_cast<uint8_t>(in.ConsumeIntegralInRange(0, qvx3::kCommandCount - 1))
               : in.ConsumeIntegral<uint8_t>();
}

// The answer a settings register gives for the payload written to it.
bool ReadsBack(SimState state, uint8_t code, const std::vector<uint8_t> &payload, int64_t now) {
    const std::vector<uint8_t> answer = readRegister(state, code, now);
    if (code == qvx3::CMD_LPF_X || code == qvx3::CMD_LPF_Y)
        return answer.size() == 3 && answer[2] == payload[0];
    return answer == payload;
}

void Send(FuzzedDataProvider &in, Bus &bus, SimState &state, int64_t now) {
    std::vector<uint8_t> bytes{Code(in)};
    for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n)
        bytes.push_back(in.ConsumeIntegral<uint8_t>());
    const bool last = in.ConsumeBool();
    const SimState before = state;
    const Transfer t = bus.send(state, bytes.data(), bytes.size(), last, now);
    const unsigned code = bytes[0];
    FUZZ_CHECK((t.outcome == Outcome::Misuse) == (!last && bytes.size() != 1),
               "send of %zu bytes, last %d: outcome %d", bytes.size(), last,
               static_cast<int>(t.outcome));
    FUZZ_CHECK((t.outcome == Outcome::Done) == t.detail.empty(), "detail \"%s\"", t.detail.c_str());
    FUZZ_CHECK(t.answer.empty() && t.wireBits >= 0, "send answered");
    if (t.outcome != Outcome::Done) {
        FUZZ_CHECK(state == before && !bus.pendingCommand(), "refused send of %u changed things",
                   code);
        FUZZ_CHECK((t.outcome == Outcome::Misuse) == (t.wireBits == 0), "refused send on the wire");
        return;
    }
    FUZZ_CHECK(code < qvx3::kCommandCount, "code %u taken", code);
    if (!last) {
        FUZZ_CHECK(bus.pendingCommand() == bytes[0] && state == before, "read command %u", code);
        return;
    }
    FUZZ_CHECK(!bus.pendingCommand(), "write %u left a command in progress", code);
    FUZZ_CHECK(static_cast<std::size_t>(qvx3::writePayload(bytes[0])) == bytes.size() - 1,
               "write %u of %zu payload bytes taken", code, bytes.size() - 1);
    FUZZ_CHECK(
        ReadsBack(state, bytes[0], std::vector<uint8_t>(bytes.begin() + 1, bytes.end()), now),
        "write %u does not read back", code);
}

void Receive(FuzzedDataProvider &in, Bus &bus, SimState &state, int64_t now) {
    const bool text = in.ConsumeBool();
    const auto size = in.ConsumeIntegralInRange<std::size_t>(0, 100);
    const bool last = in.ConsumeBool();
    const std::optional<uint8_t> command = bus.pendingCommand();
    const SimState before = state;
    const Transfer t =
        text ? bus.receiveText(state, size, last, now) : bus.receive(state, size, last, now);
    FUZZ_CHECK(!bus.pendingCommand(), "a read left the command in progress");
    FUZZ_CHECK((t.outcome == Outcome::Done) == t.detail.empty(), "detail \"%s\"", t.detail.c_str());
    if (!command || !last) {
        FUZZ_CHECK(t.outcome == Outcome::Misuse && state == before, "read without a command");
        return;
    }
    if (t.outcome != Outcome::Done) {
        FUZZ_CHECK(t.answer.empty() && state == before, "failed read answered or changed things");
        return;
    }
    FUZZ_CHECK(t.wireBits > 0, "read off the wire");
    const bool module = state.bus.moduleSlot == state.bus.selectedSlot;
    const qvx3::ReadShape shape = module ? qvx3::readShape(*command) : qvx3::ReadShape{false, 2};
    FUZZ_CHECK(shape.text == text, "read of %u as the wrong kind", *command);
    if (text) {
        FUZZ_CHECK(t.answer.size() <= size, "text of %zu characters for %zu", t.answer.size(),
                   size);
        for (uint8_t c : t.answer)
            FUZZ_CHECK(c != 0, "a terminator inside the text of %u", *command);
    } else {
        FUZZ_CHECK(t.answer.size() == size && size == static_cast<std::size_t>(shape.length),
                   "%zu bytes of %u for %zu", t.answer.size(), *command, size);
    }
    const auto forced = state.forced.find(*command);
    if (module && forced != state.forced.end() && !text)
        FUZZ_CHECK(t.answer == forced->second, "forced register %u", *command);
    if (module && (*command == qvx3::CMD_Frequency_X || *command == qvx3::CMD_Frequency_Y)) {
        const uint8_t newBit =
            *command == qvx3::CMD_Frequency_X ? qvx3::kStateNewX : qvx3::kStateNewY;
        FUZZ_CHECK(!(stateByte(state, now) & newBit), "result of %u still new after its read",
                   *command);
    }
}

void Layout(FuzzedDataProvider &in, SimState &state) {
    const auto slot = static_cast<uint8_t>(in.ConsumeIntegralInRange(0, 3));
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
        state.bus.selectedSlot = slot;
        break;
    case 1:
        state.bus.foreign.erase(slot);
        state.bus.moduleSlot = slot;
        break;
    case 2:
        state.bus.moduleSlot.reset();
        break;
    default:
        if (state.bus.moduleSlot != slot) state.bus.foreign[slot] = in.ConsumeIntegral<uint16_t>();
        break;
    }
}

void Force(FuzzedDataProvider &in, SimState &state) {
    const uint8_t code = Code(in);
    if (!isForceable(code)) return;
    const qvx3::ReadShape shape = qvx3::readShape(code);
    const int length = shape.text ? in.ConsumeIntegralInRange(0, shape.length) : shape.length;
    std::vector<uint8_t> bytes;
    for (int i = 0; i < length; ++i)
        bytes.push_back(static_cast<uint8_t>(in.ConsumeIntegralInRange(shape.text ? 1 : 0, 255)));
    if (in.ConsumeBool())
        state.forced[code] = bytes;
    else
        state.forced.erase(code);
}

Signal Input(FuzzedDataProvider &in) {
    Signal s;
    s.on = in.ConsumeBool();
    s.millihertz = in.ConsumeIntegralInRange<uint64_t>(0, kMaxSignalMillihertz);
    s.microvolts = in.ConsumeIntegralInRange<uint32_t>(0, kMaxSignalMicrovolts);
    s.dutyPpm = in.ConsumeIntegralInRange<uint32_t>(1, 999999);
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    int64_t now = in.ConsumeIntegralInRange<int64_t>(0, int64_t{1} << 50);
    SimState state = freshState("boot", now);
    Bus bus;
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 8)) {
        case 0: {
            bool found = false;
            const SimState before = state;
            bus.probe(state, found);
            FUZZ_CHECK(state == before && !bus.pendingCommand(), "probe");
            FUZZ_CHECK(found == (state.bus.moduleSlot == state.bus.selectedSlot ||
                                 state.bus.foreign.count(state.bus.selectedSlot)),
                       "probe of slot %u", state.bus.selectedSlot);
            break;
        }
        case 1:
        case 2:
            Send(in, bus, state, now);
            break;
        case 3:
        case 4:
            Receive(in, bus, state, now);
            break;
        case 5:
            // Times only go forward: milliseconds mostly, now and then hours or years.
            now += in.ConsumeBool() ? in.ConsumeIntegralInRange<int64_t>(0, 300000000)
                                    : in.ConsumeIntegralInRange<int64_t>(0, int64_t{1} << 56);
            break;
        case 6:
            Layout(in, state);
            break;
        case 7:
            Force(in, state);
            break;
        default:
            if (in.ConsumeBool())
                setInput(state, in.ConsumeIntegralInRange(0, kChannels - 1), Input(in), now);
            else
                powerCycle(state, now);
            break;
        }
    }
    return 0;
}
