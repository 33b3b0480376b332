#include "bus.h"

#include "module.h"
#include "wire_time.h"

#include <algorithm>

namespace bxa7sim {

namespace {

using namespace qvx3;

struct Occupant {
    enum Kind { None, Module, Foreign } kind = None;
    uint16_t identity = 0; // of a foreign device
};

Occupant occupant(const SimState &state) {
    const uint8_t slot = state.bus.selectedSlot;
    if (state.bus.moduleSlot == slot) return {Occupant::Module, kIdentity};
    const auto foreign = state.bus.foreign.find(slot);
    if (foreign != state.bus.foreign.end()) return {Occupant::Foreign, foreign->second};
    return {};
}

Transfer failed(Outcome outcome, std::string detail, int64_t wireBits = 0) {
    Transfer t;
    t.outcome = outcome;
    t.detail = std::move(detail);
    t.wireBits = wireBits;
    return t;
}

Transfer noAcknowledge(const SimState &state) {
    return failed(Outcome::NoAcknowledge,
                  "no acknowledge from RVL slot " + std::to_string(state.bus.selectedSlot),
                  addressOnlyBits());
}

std::string codeText(uint8_t code) {
    return "command " + std::to_string(code);
}

} // namespace

Transfer Bus::probe(const SimState &state, bool &found) {
    pending_.reset();
    found = occupant(state).kind != Occupant::None;
    Transfer t;
    t.wireBits = addressOnlyBits();
    return t;
}

Transfer Bus::send(SimState &state, const uint8_t *data, std::size_t count, bool last,
                   int64_t now) {
    pending_.reset();
    const uint8_t code = data[0];
    if (!last && count != 1)
        return failed(Outcome::Misuse, "a read command is the command byte alone, not " +
                                           std::to_string(count) + " bytes (last flag 0)");
    const Occupant device = occupant(state);
    if (device.kind == Occupant::None) return noAcknowledge(state);

    const int64_t bits = writeBits(static_cast<int64_t>(count), last);
    const int64_t refusedBits = writeBits(1, true); // the command byte, then the stop
    if (device.kind == Occupant::Foreign && (last || code != CMD_Check))
        return failed(Outcome::Refused,
                      codeText(code) + " not acknowledged by the device in RVL slot " +
                          std::to_string(state.bus.selectedSlot),
                      refusedBits);
    if (code >= kCommandCount)
        return failed(Outcome::Refused, "unknown command code " + std::to_string(code),
                      refusedBits);
    if (!last) {
        pending_ = code;
        Transfer t;
        t.wireBits = bits;
        return t;
    }
    const auto payload = static_cast<std::size_t>(writePayload(code));
    if (payload == 0)
        return failed(Outcome::Refused, "register " + std::to_string(code) + " is read-only",
                      refusedBits);
    if (count - 1 != payload)
        return failed(Outcome::Refused,
                      codeText(code) + " takes " + std::to_string(payload) + " payload byte" +
                          (payload == 1 ? "" : "s") + ", not " + std::to_string(count - 1),
                      bits);
    writeRegister(state, code, data + 1, now);
    Transfer t;
    t.wireBits = bits;
    return t;
}

Transfer Bus::receive(SimState &state, std::size_t count, bool last, int64_t now) {
    return read(state, false, count, last, now);
}

Transfer Bus::receiveText(SimState &state, std::size_t limit, bool last, int64_t now) {
    return read(state, true, limit, last, now);
}

Transfer Bus::read(SimState &state, bool text, std::size_t size, bool last, int64_t now) {
    const std::optional<uint8_t> command = pending_;
    pending_.reset();
    if (!command)
        return failed(Outcome::Misuse,
                      "no command in progress (send the command byte with last flag 0 first)");
    if (!last) return failed(Outcome::Misuse, "a read must end the transaction (last flag 1)");
    const Occupant device = occupant(state);
    const ReadShape shape =
        device.kind == Occupant::Foreign ? ReadShape{false, 2} : readShape(*command);
    if (shape.text != text) {
        return failed(Outcome::Misuse,
                      shape.text ? codeText(*command) +
                                       " answers a text (read it with BXA_7_ReceiveString)"
                                 : codeText(*command) + " answers " + std::to_string(shape.length) +
                                       " bytes, not a text (read it with BXA_7_Receive)");
    }
    if (!text && size != static_cast<std::size_t>(shape.length))
        return failed(Outcome::Misuse, codeText(*command) + " answers " +
                                           std::to_string(shape.length) + " bytes, not " +
                                           std::to_string(size));
    if (device.kind == Occupant::None) return noAcknowledge(state);

    Transfer t;
    if (device.kind == Occupant::Foreign) {
        t.answer = {static_cast<uint8_t>(device.identity & 0xFF),
                    static_cast<uint8_t>(device.identity >> 8)};
    } else {
        t.answer = readRegister(state, *command, now);
    }
    if (!text) {
        t.wireBits = readBits(static_cast<int64_t>(size));
        return t;
    }
    // The reader takes characters until the terminator or until it holds `size` of them.
    const std::size_t characters = std::min(t.answer.size(), size);
    const std::size_t onWire = t.answer.size() < size ? characters + 1 : characters;
    t.answer.resize(characters);
    t.wireBits = readBits(static_cast<int64_t>(onWire));
    return t;
}

} // namespace bxa7sim
