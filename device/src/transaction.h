// The two transaction shapes that carry every bus access of the library, through the adapter
// library. Each returns the adapter's status unchanged; after a failure no further adapter
// call is made.
#ifndef QVX3_TRANSACTION_H
#define QVX3_TRANSACTION_H

#include "qvx3_protocol.h"

#include <cstdint>

namespace qvx3 {

// The first argument of the adapter's bus operations.
constexpr int32_t kBus = 1;

// Read shape: sends `code` alone (last flag 0) and, when that succeeded, receives the
// register's readShape(code).length bytes into `target` (last flag 1).
int32_t readRegister(uint8_t code, void *target);

// Read shape for a text: as readRegister, but receives a zero-terminated text of at most the
// code's limit into `text`, which holds limit + 1 bytes.
int32_t readText(uint8_t code, char *text);

// Write shape: sends `code` followed by the low writePayload(code) bytes of `value`, least
// significant first, in one transfer (last flag 1).
int32_t writeRegister(uint8_t code, uint16_t value);

// Read shape into local storage for a per-channel register: reads `XCode` for channel
// selector 0, its Ch Y partner (which answers the same number of bytes) otherwise, and only
// when the whole transaction succeeded stores convert(answer bytes) in *out, so a failure
// leaves *out untouched.
template <uint8_t XCode, typename T, typename Convert>
int32_t readConverted(uint8_t channel, T *out, Convert convert) {
    static_assert(!readShape(XCode).text, "a text has no fixed answer length");
    uint8_t answer[readShape(XCode).length];
    const int32_t status = readRegister(channelCode(XCode, channel), answer);
    if (status == 0) *out = convert(answer);
    return status;
}

// The same for a register that is not per channel.
template <uint8_t Code, typename T, typename Convert>
int32_t readConverted(T *out, Convert convert) {
    return readConverted<Code>(uint8_t{0}, out, convert); // selector 0 reads Code itself
}

} // namespace qvx3

#endif // QVX3_TRANSACTION_H
