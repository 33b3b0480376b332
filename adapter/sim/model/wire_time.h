// How long transfers take on the I2C wire. Every transfer starts with a start condition
// (one bit time) and the slot's address byte; each byte, the address included, takes nine
// bit times (eight bits and the acknowledge); a transfer that ends the transaction adds a
// stop condition (one bit time). A read command leaves the stop out: the read that follows
// begins with a repeated start.
#ifndef BXA7SIM_MODEL_WIRE_TIME_H
#define BXA7SIM_MODEL_WIRE_TIME_H

#include <cstdint>

namespace bxa7sim {

constexpr int64_t kConditionBits = 1; // start, repeated start or stop
constexpr int64_t kByteBits = 9;      // eight data bits and the acknowledge bit

// A write of `bytes` data bytes after the address; with the stop when `last`.
constexpr int64_t writeBits(int64_t bytes, bool last) {
    return kConditionBits + kByteBits * (1 + bytes) + (last ? kConditionBits : 0);
}

// A read of `bytes` data bytes after the address, ending with the stop.
constexpr int64_t readBits(int64_t bytes) {
    return writeBits(bytes, true);
}

// An address that nothing acknowledges, or an address probe: start, address, stop.
constexpr int64_t addressOnlyBits() {
    return writeBits(0, true);
}

// The longest duration reported, about 146 years: far beyond any real transfer, and far
// enough from the limit of int64_t that a clock reading plus it cannot overflow.
constexpr int64_t kMaxWireNanoseconds = int64_t{1} << 62;

// The duration of `bits` (not negative) at a bus clock of `hertz`, rounded up to whole
// nanoseconds, at most kMaxWireNanoseconds; 0 for an instant bus (hertz 0). Whole seconds
// and the rest are scaled apart, so that a huge count (a caller's absurd byte count)
// cannot overflow.
constexpr int64_t wireNanoseconds(int64_t bits, uint32_t hertz) {
    if (hertz == 0 || bits <= 0) return 0;
    constexpr uint64_t kNsPerSecond = 1000000000;
    const uint64_t seconds = static_cast<uint64_t>(bits) / hertz;
    const uint64_t rest = static_cast<uint64_t>(bits) % hertz; // below 2^32: no overflow
    if (seconds >= static_cast<uint64_t>(kMaxWireNanoseconds) / kNsPerSecond)
        return kMaxWireNanoseconds;
    return static_cast<int64_t>(seconds * kNsPerSecond + (rest * kNsPerSecond + hertz - 1) / hertz);
}

} // namespace bxa7sim

#endif // BXA7SIM_MODEL_WIRE_TIME_H
