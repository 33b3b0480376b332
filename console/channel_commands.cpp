// The per-channel settings: a lower-case key reads a setting of both channels, an upper-case
// key asks for a channel and a new value, checks its range and writes it.
//
// A reply that is not one number of its prompt's form is refused like a number out of range;
// an abandoned prompt (Esc, the end of the input) ends the command. Either way nothing is
// sent.
#include "commands.h"
#include "console.h"
#include "qvx3.h"
#include "term.h"

#include <cmath>

namespace {

// Accepted entries. Real bounds are compared in single precision, so typing a bound itself
// is accepted; every test is written so that NaN fails it.
constexpr float kMaxGain = 256.0f; // exclusive
constexpr int kMinBeta = 2;
constexpr int kMaxBeta = 24;
constexpr int kMinTau = 1;
constexpr int kMaxTau = 20;
constexpr float kMinThreshold = 0.001f;
constexpr float kMaxThreshold = 5.0f;
constexpr float kMinDuration = 0.01f;
constexpr float kMaxDuration = 10.0f;

// The damping the LPF is set for; the module picks the Alpha that gives it with a Beta.
const float kLowPassDamping = static_cast<float>(std::sqrt(3.0) / 2.0);

char Letter(uint8_t channel) {
    return channel == 0 ? 'X' : 'Y';
}

const char *PolarityName(unsigned polarity) {
    return polarity ? "negative" : "positive";
}

// Reads a setting of Ch X and then Ch Y; false after reporting a failure.
template <typename Getter, typename... Values>
bool GetBothChannels(Getter get, const char *name, Values (&...values)[2]) {
    for (uint8_t channel = 0; channel < 2; ++channel) {
        if (Failed(get(channel, &values[channel]...), name)) return false;
    }
    return true;
}

} // namespace

bool AskChannel(uint8_t &channel) {
    term::printf("Enter the channel number (X=%d, Y=%d): ", 0, 1);
    int32_t reply = 0;
    const Entry entry = ReadInteger(reply);
    if (entry == Entry::Abandoned) return false;
    if (entry == Entry::Wrong || reply < 0 || reply > 1) {
        term::printf("Wrong value specified!\n");
        return false;
    }
    channel = static_cast<uint8_t>(reply);
    return true;
}

// ---- Amplification --------------------------------------------------------------------------

void ReadAmplification() {
    PrintHeading("Getting channel amplification:\n");
    float gain[2] = {};
    if (!GetBothChannels(QVX_3_GetAmplification, "QVX_3_GetAmplification", gain)) return;
    term::printf("Ch X: %.4f\tCh Y: %.4f\n", gain[0], gain[1]);
}

void SetAmplification() {
    PrintHeading("Setting channel amplification:\n");
    uint8_t channel = 0;
    if (!AskChannel(channel)) return;
    term::printf("Enter the new amplification (0-%d): ", static_cast<int>(kMaxGain));
    float gain = 0.0f;
    const Entry entry = ReadReal(gain);
    if (entry == Entry::Abandoned) return;
    if (entry == Entry::Wrong || !(gain >= 0.0f && gain < kMaxGain)) {
        term::printf("Wrong value specified! The amplification must not be negative and must be "
                     "lower than %d.\n",
                     static_cast<int>(kMaxGain));
        return;
    }
    if (Failed(QVX_3_SetAmplification(channel, gain), "QVX_3_SetAmplification")) return;
    if (g_debugMode) {
        term::printf("Channel amplification set: Ch %c = %.4f\n", Letter(channel), gain);
    }
}

// ---- Polarity -------------------------------------------------------------------------------

void ReadPolarity() {
    PrintHeading("Getting channel polarity:\n");
    uint8_t polarity[2] = {};
    if (!GetBothChannels(QVX_3_GetPolarity, "QVX_3_GetPolarity", polarity)) return;
    term::printf("Ch X: %s\tCh Y: %s\n", PolarityName(polarity[0]), PolarityName(polarity[1]));
}

void SetPolarity() {
    PrintHeading("Setting channel polarity:\n");
    uint8_t channel = 0;
    if (!AskChannel(channel)) return;
    term::printf("Enter the channel polarity (positive=0, negative=1): ");
    int32_t polarity = 0;
    const Entry entry = ReadInteger(polarity);
    if (entry == Entry::Abandoned) return;
    if (entry == Entry::Wrong || polarity < 0 || polarity > 1) {
        term::printf("Wrong value specified!\n");
        return;
    }
    if (Failed(QVX_3_SetPolarity(channel, static_cast<uint8_t>(polarity)), "QVX_3_SetPolarity")) {
        return;
    }
    if (g_debugMode) {
        term::printf("Channel polarity set: Ch %c = %s\n", Letter(channel), PolarityName(polarity));
    }
}

// ---- Low-pass filter ------------------------------------------------------------------------

void ReadLowPass() {
    PrintHeading("Getting LPF frequency:\n");
    uint16_t alpha[2] = {};
    uint8_t beta[2] = {};
    if (!GetBothChannels(QVX_3_GetLPF, "QVX_3_GetLPF", alpha, beta)) return;
    term::printf("Ch X LPF: %.3fHz, Damping=%.2f (Alpha=%u, Beta=%u)\t"
                 "Ch Y LPF: %.3fHz, Damping=%.2f (Alpha=%u, Beta=%u)\n",
                 QVX_3_GetLPF_Frequency(alpha[0], beta[0]), QVX_3_GetLPF_Damping(alpha[0], beta[0]),
                 static_cast<unsigned>(alpha[0]), static_cast<unsigned>(beta[0]),
                 QVX_3_GetLPF_Frequency(alpha[1], beta[1]), QVX_3_GetLPF_Damping(alpha[1], beta[1]),
                 static_cast<unsigned>(alpha[1]), static_cast<unsigned>(beta[1]));
}

void SetLowPass() {
    PrintHeading("Setting LPF frequency:\n");
    uint8_t channel = 0;
    if (!AskChannel(channel)) return;
    term::printf("Enter the LPF Beta parameter (%d-%d): ", kMinBeta, kMaxBeta);
    int32_t beta = 0;
    const Entry entry = ReadInteger(beta);
    if (entry == Entry::Abandoned) return;
    if (entry == Entry::Wrong || beta < kMinBeta || beta > kMaxBeta) {
        term::printf("Wrong value specified! The LPF Beta parameter must be in the range from %d "
                     "to %d.\n",
                     kMinBeta, kMaxBeta);
        return;
    }
    if (Failed(QVX_3_SetLPF(channel, static_cast<uint8_t>(beta)), "QVX_3_SetLPF")) return;
    if (g_debugMode) {
        // Computed for the damping the module uses, not read back.
        const auto betaByte = static_cast<uint8_t>(beta);
        const uint16_t alpha = QVX_3_GetLPF_Alpha(betaByte, kLowPassDamping);
        term::printf("LPF frequency set: Ch %c LPF: %.3fHz, Damping=%.2f (Alpha=%u, Beta=%u)\n",
                     Letter(channel), QVX_3_GetLPF_Frequency(alpha, betaByte),
                     QVX_3_GetLPF_Damping(alpha, betaByte), static_cast<unsigned>(alpha),
                     static_cast<unsigned>(betaByte));
    }
}

// ---- High-pass filter -----------------------------------------------------------------------

void ReadHighPass() {
    PrintHeading("Getting HPF frequency:\n");
    uint8_t tau[2] = {};
    if (!GetBothChannels(QVX_3_GetHPF_Tau, "QVX_3_GetHPF_Tau", tau)) return;
    term::printf("Ch X HPF: %.3fHz (Tau=%u)\tCh Y HPF: %.3fHz (Tau=%u)\n",
                 QVX_3_GetHPF_Frequency(tau[0]), static_cast<unsigned>(tau[0]),
                 QVX_3_GetHPF_Frequency(tau[1]), static_cast<unsigned>(tau[1]));
}

void SetHighPass() {
    PrintHeading("Setting HPF frequency:\n");
    uint8_t channel = 0;
    if (!AskChannel(channel)) return;
    term::printf("Enter the HPF tau parameter (%d-%d): ", kMinTau, kMaxTau);
    int32_t tau = 0;
    const Entry entry = ReadInteger(tau);
    if (entry == Entry::Abandoned) return;
    if (entry == Entry::Wrong || tau < kMinTau || tau > kMaxTau) {
        term::printf("Wrong value specified! The HPF tau parameter must be in the range from %d to "
                     "%d.\n",
                     kMinTau, kMaxTau);
        return;
    }
    const auto tauByte = static_cast<uint8_t>(tau);
    if (Failed(QVX_3_SetHPF_Tau(channel, tauByte), "QVX_3_SetHPF_Tau")) return;
    if (g_debugMode) {
        term::printf("HPF frequency set: Ch %c HPF: %.3fHz (Tau=%d)\n", Letter(channel),
                     QVX_3_GetHPF_Frequency(tauByte), tau);
    }
}

// ---- Threshold ------------------------------------------------------------------------------

void ReadThreshold() {
    PrintHeading("Getting channel threshold:\n");
    float volts[2] = {};
    if (!GetBothChannels(QVX_3_GetThreshold, "QVX_3_GetThreshold", volts)) return;
    term::printf("Ch X: %.3fV\tCh Y: %.3fV\n", volts[0], volts[1]);
}

void SetThreshold() {
    PrintHeading("Setting channel threshold:\n");
    uint8_t channel = 0;
    if (!AskChannel(channel)) return;
    term::printf("Enter the new threshold in V (%.3fV-%.3fV): ", kMinThreshold, kMaxThreshold);
    float volts = 0.0f;
    const Entry entry = ReadReal(volts);
    if (entry == Entry::Abandoned) return;
    if (entry == Entry::Wrong || !(volts >= kMinThreshold && volts <= kMaxThreshold)) {
        term::printf("Wrong value specified! The threshold must be between %.3fV and %.3fV.\n",
                     kMinThreshold, kMaxThreshold);
        return;
    }
    if (Failed(QVX_3_SetThreshold(channel, volts), "QVX_3_SetThreshold")) return;
    if (g_debugMode) term::printf("Counter threshold set: Ch %c = %.3fV\n", Letter(channel), volts);
}

// ---- Measurement duration -------------------------------------------------------------------

void ReadDuration() {
    PrintHeading("Getting channel measurement duration:\n");
    float seconds[2] = {};
    if (!GetBothChannels(QVX_3_GetDuration, "QVX_3_GetDuration", seconds)) return;
    term::printf("Ch X: %.3fs\tCh Y: %.3fs\n", seconds[0], seconds[1]);
}

void SetDuration() {
    PrintHeading("Setting channel measurement duration:\n");
    uint8_t channel = 0;
    if (!AskChannel(channel)) return;
    term::printf("Enter the new measurement duration in s (%.3fs-%.3fs): ", kMinDuration,
                 kMaxDuration);
    float seconds = 0.0f;
    const Entry entry = ReadReal(seconds);
    if (entry == Entry::Abandoned) return;
    if (entry == Entry::Wrong || !(seconds >= kMinDuration && seconds <= kMaxDuration)) {
        term::printf("Wrong value specified! The measurement duration must be between %.3fs and "
                     "%.3fs.\n",
                     kMinDuration, kMaxDuration);
        return;
    }
    if (Failed(QVX_3_SetDuration(channel, seconds), "QVX_3_SetDuration")) return;
    if (g_debugMode) {
        term::printf("Counter measurement duration set: Ch %c = %.3fs\n", Letter(channel), seconds);
    }
}
