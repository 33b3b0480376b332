// What the module measures and reports about itself.
#include "qvx3.h"

#include "convert.h"
#include "transaction.h"

using namespace qvx3;

namespace {

// Missing readings are delivered as a value no valid reading produces.
constexpr double kNoReading = -1.0;

float millivoltsToVolts(const uint8_t *answer) {
    const uint16_t millivolts = le16(answer);
    return millivolts == kNoVoltage ? static_cast<float>(kNoReading)
                                    : thousandthsFromRegister(millivolts);
}

float clockHertz(const uint8_t *answer) {
    return static_cast<float>(le32(answer));
}

} // namespace

int32_t QVX_3_CALL QVX_3_GetState(uint8_t *state) {
    return readRegister(CMD_State, state);
}

int32_t QVX_3_CALL QVX_3_GetFrequency(uint8_t channel, double *hertz) {
    return readConverted<CMD_Frequency_X>(channel, hertz, [](const uint8_t *answer) {
        const uint32_t count = le32(answer); // in units of 0.0001 Hz
        return count == kFrequencyOverflow ? kNoReading : count * 0.0001;
    });
}

int32_t QVX_3_CALL QVX_3_Get5V(float *volts) {
    return readConverted<CMD_5V>(volts, millivoltsToVolts);
}

int32_t QVX_3_CALL QVX_3_Get3V(float *volts) {
    return readConverted<CMD_3V>(volts, millivoltsToVolts);
}

int32_t QVX_3_CALL QVX_3_GetTemp(float *kelvin) {
    return readConverted<CMD_Temp>(kelvin, [](const uint8_t *answer) {
        const uint16_t hundredths = le16(answer);
        return static_cast<float>(hundredths == kNoTemperature ? kNoReading : hundredths * 0.01);
    });
}

int32_t QVX_3_CALL QVX_3_GetClkCPU(float *hertz) {
    return readConverted<CMD_ClkCPU>(hertz, clockHertz);
}

int32_t QVX_3_CALL QVX_3_GetClkPer(float *hertz) {
    return readConverted<CMD_ClkPer>(hertz, clockHertz);
}

int32_t QVX_3_CALL QVX_3_GetClkADC(float *hertz) {
    return readConverted<CMD_ClkADC>(hertz, clockHertz);
}

int32_t QVX_3_CALL QVX_3_GetClkDAC(float *hertz) {
    return readConverted<CMD_ClkDAC>(hertz, clockHertz);
}

int32_t QVX_3_CALL QVX_3_GetUptime(double *seconds) {
    return readConverted<CMD_Uptime>(seconds, [](const uint8_t *answer) {
        // The fraction counts 1/1024 s and is not masked: 1024 or more adds whole seconds.
        return le32(answer) + le16(answer + 4) * 0.0009765625;
    });
}
