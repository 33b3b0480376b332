// The QVX-3 module's command protocol on the bus: the one wire format that the device library
// speaks and the simulated module answers.
//
// Every transaction starts with a one-byte command code. A read sends the code alone (last
// flag 0) and then receives the register (last flag 1); a write sends the code and its payload
// in one transfer (last flag 1). Integers wider than a byte travel least significant byte
// first. Per-channel registers have two codes: the odd one for Ch X, the next even one for
// Ch Y. The same code reads and writes a register.
#ifndef QVX3_PROTOCOL_H
#define QVX3_PROTOCOL_H

#include <cmath>
#include <cstdint>

namespace qvx3 {

enum Command : uint8_t {
    CMD_Check = 0,   // read 2: identity
    CMD_Prod_ID = 1, // read text, limit 81
    CMD_Prod_No = 2, // read 4: product number
    CMD_FW_Ver = 3,  // read 2: firmware version, high byte first part
    CMD_FW_Date = 4, // read text, limit 16
    CMD_Uptime = 5,  // read 6: whole seconds (4), then 1/1024 s (2)
    CMD_5V = 6,      // read 2: mV, 0x8000 = no reading
    CMD_3V = 7,      // read 2: mV, 0x8000 = no reading
    CMD_Temp = 8,    // read 2: 0.01 K, 0xFFFF = no reading
    CMD_ClkCPU = 9,  // read 4: Hz
    CMD_ClkPer = 10, // read 4: Hz
    CMD_ClkADC = 11, // read 4: Hz
    CMD_ClkDAC = 12, // read 4: Hz
    CMD_LPF_X = 13,  // write 1: Beta; read 3: Alpha (2), Beta (1)
    CMD_LPF_Y = 14,
    CMD_HPF_Tau_X = 15, // write 1, read 1: Tau
    CMD_HPF_Tau_Y = 16,
    CMD_Amplification_X = 17, // write 2, read 2: gain x 256
    CMD_Amplification_Y = 18,
    CMD_Polarity_X = 19, // write 1, read 1: 0 positive, non-zero negative
    CMD_Polarity_Y = 20,
    CMD_Threshold_X = 21, // write 2, read 2: mV
    CMD_Threshold_Y = 22,
    CMD_Duration_X = 23, // write 2, read 2: ms
    CMD_Duration_Y = 24,
    CMD_Frequency_X = 25, // read 4: 0.0001 Hz, 0xFFFFFFFF = overflow
    CMD_Frequency_Y = 26,
    CMD_State = 27, // read 1: counter state bits
};

constexpr int kCommandCount = 28;

constexpr uint16_t kIdentity = 0x9648;

constexpr int32_t kProdIdLimit = 81;
constexpr int32_t kFwDateLimit = 16;

constexpr uint16_t kNoVoltage = 0x8000;
constexpr uint16_t kNoTemperature = 0xFFFF;
constexpr uint32_t kFrequencyOverflow = 0xFFFFFFFF;

// Counter state bits.
constexpr uint8_t kStateNewX = 0x10;
constexpr uint8_t kStateNewY = 0x20;
constexpr uint8_t kStateValidX = 0x40;
constexpr uint8_t kStateValidY = 0x80;

// The code of a per-channel register: `xCode` for selector 0, the next code otherwise.
constexpr uint8_t channelCode(uint8_t xCode, uint8_t channel) {
    return static_cast<uint8_t>(channel == 0 ? xCode : xCode + 1);
}

// What a read of `code` (below kCommandCount) returns: a fixed number of bytes, or a text
// up to a limit.
struct ReadShape {
    bool text;
    int32_t length; // bytes for a register, the text limit for a text
};

constexpr ReadShape readShape(uint8_t code) {
    switch (code) {
    case CMD_Prod_ID:
        return {true, kProdIdLimit};
    case CMD_FW_Date:
        return {true, kFwDateLimit};
    case CMD_Prod_No:
    case CMD_ClkCPU:
    case CMD_ClkPer:
    case CMD_ClkADC:
    case CMD_ClkDAC:
    case CMD_Frequency_X:
    case CMD_Frequency_Y:
        return {false, 4};
    case CMD_Uptime:
        return {false, 6};
    case CMD_LPF_X:
    case CMD_LPF_Y:
        return {false, 3};
    case CMD_HPF_Tau_X:
    case CMD_HPF_Tau_Y:
    case CMD_Polarity_X:
    case CMD_Polarity_Y:
    case CMD_State:
        return {false, 1};
    default:
        return {false, 2};
    }
}

// Payload bytes that a write of `code` carries after the code; 0 for a read-only register.
constexpr int32_t writePayload(uint8_t code) {
    switch (code) {
    case CMD_LPF_X:
    case CMD_LPF_Y:
    case CMD_HPF_Tau_X:
    case CMD_HPF_Tau_Y:
    case CMD_Polarity_X:
    case CMD_Polarity_Y:
        return 1;
    case CMD_Amplification_X:
    case CMD_Amplification_Y:
    case CMD_Threshold_X:
    case CMD_Threshold_Y:
    case CMD_Duration_X:
    case CMD_Duration_Y:
        return 2;
    default:
        return 0;
    }
}

// A scaled number as a 16-bit register value: the low 16 bits (two's complement) of `value`
// truncated toward zero; 0 for NaN and infinities. A plain cast would be undefined outside
// the register's range.
inline uint16_t low16(double value) {
    if (!std::isfinite(value)) return 0;
    // fmod of an integral double is exact, and keeps the sign of the dividend.
    double wrapped = std::fmod(std::trunc(value), 65536.0);
    if (wrapped < 0) wrapped += 65536.0;
    return static_cast<uint16_t>(wrapped);
}

} // namespace qvx3

#endif // QVX3_PROTOCOL_H
