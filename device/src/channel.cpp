// The six settings of each channel: a write-shape set and a read-shape get per setting.
#include "qvx3.h"

#include "convert.h"
#include "transaction.h"

using namespace qvx3;

int32_t QVX_3_CALL QVX_3_SetPolarity(uint8_t channel, uint8_t polarity) {
    return writeRegister(channelCode(CMD_Polarity_X, channel), polarity);
}

int32_t QVX_3_CALL QVX_3_GetPolarity(uint8_t channel, uint8_t *polarity) {
    return readRegister(channelCode(CMD_Polarity_X, channel), polarity);
}

int32_t QVX_3_CALL QVX_3_SetAmplification(uint8_t channel, float gain) {
    return writeRegister(channelCode(CMD_Amplification_X, channel), gainToRegister(gain));
}

int32_t QVX_3_CALL QVX_3_GetAmplification(uint8_t channel, float *gain) {
    return readConverted<CMD_Amplification_X>(
        channel, gain, [](const uint8_t *answer) { return gainFromRegister(le16(answer)); });
}

int32_t QVX_3_CALL QVX_3_SetLPF(uint8_t channel, uint8_t beta) {
    return writeRegister(channelCode(CMD_LPF_X, channel), beta);
}

int32_t QVX_3_CALL QVX_3_GetLPF(uint8_t channel, uint16_t *alpha, uint8_t *beta) {
    uint8_t answer[readShape(CMD_LPF_X).length]; // Alpha (2 bytes), then Beta
    static_assert(sizeof answer == 3);
    const int32_t status = readRegister(channelCode(CMD_LPF_X, channel), answer);
    if (status == 0) {
        *alpha = le16(answer);
        *beta = answer[2];
    }
    return status;
}

int32_t QVX_3_CALL QVX_3_SetHPF_Tau(uint8_t channel, uint8_t tau) {
    return writeRegister(channelCode(CMD_HPF_Tau_X, channel), tau);
}

int32_t QVX_3_CALL QVX_3_GetHPF_Tau(uint8_t channel, uint8_t *tau) {
    return readRegister(channelCode(CMD_HPF_Tau_X, channel), tau);
}

int32_t QVX_3_CALL QVX_3_SetThreshold(uint8_t channel, float volts) {
    return writeRegister(channelCode(CMD_Threshold_X, channel), thousandthsToRegister(volts));
}

int32_t QVX_3_CALL QVX_3_GetThreshold(uint8_t channel, float *volts) {
    return readConverted<CMD_Threshold_X>(channel, volts, [](const uint8_t *answer) {
        return thousandthsFromRegister(le16(answer));
    });
}

int32_t QVX_3_CALL QVX_3_SetDuration(uint8_t channel, float seconds) {
    return writeRegister(channelCode(CMD_Duration_X, channel), thousandthsToRegister(seconds));
}

int32_t QVX_3_CALL QVX_3_GetDuration(uint8_t channel, float *seconds) {
    return readConverted<CMD_Duration_X>(channel, seconds, [](const uint8_t *answer) {
        return thousandthsFromRegister(le16(answer));
    });
}
