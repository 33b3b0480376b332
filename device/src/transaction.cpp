#include "transaction.h"

#include "bxa7.h"

namespace qvx3 {

namespace {

int32_t sendCommand(uint8_t code) {
    return BXA_7_Send(kBus, &code, 1, 0);
}

} // namespace

int32_t readRegister(uint8_t code, void *target) {
    const int32_t status = sendCommand(code);
    if (status != 0) return status;
    return BXA_7_Receive(kBus, static_cast<uint8_t *>(target), readShape(code).length, 1);
}

int32_t readText(uint8_t code, char *text) {
    const int32_t status = sendCommand(code);
    if (status != 0) return status;
    return BXA_7_ReceiveString(kBus, text, readShape(code).length, 1);
}

int32_t writeRegister(uint8_t code, uint16_t value) {
    const uint8_t frame[3] = {code, static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    return BXA_7_Send(kBus, frame, 1 + writePayload(code), 1);
}

} // namespace qvx3
