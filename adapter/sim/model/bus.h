// The RVL bus behind the adapter: transfers to whatever sits in the selected slot, byte for
// byte as the command protocol (qvx3_protocol.h) defines them.
//
// A Bus object is one adapter's side of the bus: it remembers the command of a read in
// progress (sent with last flag 0, not yet received). The slots and the module live in the
// SimState each transfer is given.
//
// What answers:
//   empty slot      nothing: every transfer ends unacknowledged after the address;
//   foreign device  the identity query (code 0) with its own identity; any other command
//                   byte is not acknowledged;
//   QVX-3 module    every code 0 to 27: reads of the length readShape() gives, writes of
//                   settings registers with the payload writePayload() gives. Unknown codes,
//                   writes to read-only registers and payloads of the wrong length are not
//                   acknowledged.
// The adapter side refuses, before anything goes on the wire: a read command of more than
// the command byte, a read without a command in progress, a read of the wrong length or kind
// (Receive for a text, ReceiveString for a register), and a read that does not end the
// transaction. A read, successful or not, ends the command in progress; so does a probe.
#ifndef BXA7SIM_MODEL_BUS_H
#define BXA7SIM_MODEL_BUS_H

#include "state.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bxa7sim {

enum class Outcome {
    Done,
    NoAcknowledge, // nothing answers at the selected slot's address
    Refused,       // the device did not acknowledge a byte it cannot take
    Misuse,        // the adapter refused the call; nothing went on the wire
};

struct Transfer {
    Outcome outcome = Outcome::Done;
    std::string detail;          // what went wrong, when it did
    int64_t wireBits = 0;        // bit times the transfer took on the wire
    std::vector<uint8_t> answer; // bytes read, or a text's characters without terminator
};

class Bus {
public:
    // Probes the selected slot's address; `found` tells whether anything acknowledged.
    Transfer probe(const SimState &state, bool &found);

    // `count` (>= 1) bytes, the command code first.
    Transfer send(SimState &state, const uint8_t *data, std::size_t count, bool last, int64_t now);

    // Reads the register of the command in progress: exactly `count` bytes.
    Transfer receive(SimState &state, std::size_t count, bool last, int64_t now);

    // Reads the text of the command in progress: the device's characters up to `limit`.
    Transfer receiveText(SimState &state, std::size_t limit, bool last, int64_t now);

    // Forgets the command in progress.
    void abort() { pending_.reset(); }

    std::optional<uint8_t> pendingCommand() const { return pending_; }

private:
    Transfer read(SimState &state, bool text, std::size_t size, bool last, int64_t now);

    std::optional<uint8_t> pending_;
};

} // namespace bxa7sim

#endif // BXA7SIM_MODEL_BUS_H
