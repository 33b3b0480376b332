/*
 * QVX-3 device library: drives the QVX-3 two-channel frequency counter module in a slot of
 * the RVL bus, through the BXA-7 adapter library (bxa7.h).
 *
 * Rules shared by every function:
 * - The adapter is opened first, by the program: call BXA_7_Open() once (bxa7.h) before the
 *   first function that talks to the module. This library never opens it, and a program links
 *   the adapter library as well (pkg-config qvx3 and CMake's QVX3::QVX3 give both).
 * - Status codes. Every function that talks to the module returns int32_t: 0 is success;
 *   any other value is the adapter library's own status code, passed through unchanged.
 *   The library makes up no status of its own, and after a failure the adapter's
 *   BXA_7_ErrorMessage() and BXA_7_IO_ErrorMessage() describe it.
 * - Transactions. Each function is one transaction with the module in the selected RVL
 *   slot: a read (the command byte, then the answer) or a write (the command byte and its
 *   payload in one transfer). Nothing is retried; nothing is checked beyond what a function
 *   states.
 * - Outputs. Results go to variables and buffers that the caller owns; pointers must point
 *   to writable storage of the stated size. A function that converts a register stores its
 *   outputs only after the whole transaction succeeded, so a failure leaves them untouched.
 *   Functions that receive straight into the caller's variable (firmware version and date,
 *   product identification and number, state, polarity, HPF Tau) leave whatever the
 *   adapter stored there on a failure.
 * - Channel selector: 0 selects Ch X, any other value Ch Y.
 * - Units: gain without unit; volts, seconds and hertz as float; the measured frequency and
 *   the uptime as double; temperature in kelvin; the filter registers Alpha, Beta and Tau as
 *   the module's raw integers.
 * - A reading the module marks as unavailable is delivered as -1.0.
 * - The library keeps no state, allocates nothing and prints nothing. Calls come from one
 *   thread at a time: a read is two adapter calls that must not interleave with another
 *   transaction.
 * - On 32-bit Windows every function uses __stdcall and is exported under its plain,
 *   undecorated name.
 */
#ifndef QVX3_H
#define QVX3_H

#include <stdint.h>

/* Version of this header and of the library it belongs to: 0x0100 is 1.00. */
#define QVX_3_VERSION 0x0100

#if defined(_WIN32) && !defined(_WIN64)
#define QVX_3_CALL __stdcall
#else
#define QVX_3_CALL
#endif

#if defined(_WIN32)
#if defined(QVX_3_BUILDING)
#define QVX_3_API __declspec(dllexport)
#else
#define QVX_3_API __declspec(dllimport)
#endif
#else
#define QVX_3_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Library and identification ------------------------------------------------------ */

/* Version word of the library, 0x0100 (major in the high byte, minor in the low byte).
 * Touches neither the adapter nor the module. */
QVX_3_API uint16_t QVX_3_CALL QVX_3_Version(void);

/* Looks for a QVX-3 in the selected RVL slot. On success *found is 1 when a module answers
 * with the QVX-3 identity and 0 otherwise (nothing answers, or a foreign device does).
 * When the identity query fails after something answered, *found keeps the adapter's
 * non-zero presence value; it is valid only when the status is 0. */
QVX_3_API int32_t QVX_3_CALL QVX_3_Check(uint8_t *found);

/* Firmware version word: the high byte is its first part, the low byte its second. */
QVX_3_API int32_t QVX_3_CALL QVX_3_FW_Ver(uint16_t *version);

/* Firmware date as a zero-terminated text of at most 16 characters; `text` holds at least
 * 17 bytes. */
QVX_3_API int32_t QVX_3_CALL QVX_3_FW_Date(char *text);

/* Product identification as a zero-terminated text of at most 81 characters; `text` holds
 * at least 82 bytes. */
QVX_3_API int32_t QVX_3_CALL QVX_3_Prod_ID(char *text);

/* Product number. */
QVX_3_API int32_t QVX_3_CALL QVX_3_Prod_No(uint32_t *number);

/* ---- Readouts ------------------------------------------------------------------------ */

/* Counter state byte, as the module sends it. Bits 0x10 (Ch X) and 0x20 (Ch Y): a new
 * measurement result has not been read yet. Bits 0x40 (Ch X) and 0x80 (Ch Y): the channel
 * has a result that QVX_3_GetFrequency can read. Bits 0x01 to 0x08 carry nothing. */
QVX_3_API int32_t QVX_3_CALL QVX_3_GetState(uint8_t *state);

/* Measured frequency of a channel in Hz (the register counts 0.0001 Hz); -1.0 when the
 * counter overflowed. */
QVX_3_API int32_t QVX_3_CALL QVX_3_GetFrequency(uint8_t channel, double *hertz);

/* 5 V supply in volts; -1.0 when the module has no reading. */
QVX_3_API int32_t QVX_3_CALL QVX_3_Get5V(float *volts);

/* 3.3 V supply in volts; -1.0 when the module has no reading. */
QVX_3_API int32_t QVX_3_CALL QVX_3_Get3V(float *volts);

/* Module temperature in kelvin; -1.0 when the module has no reading. */
QVX_3_API int32_t QVX_3_CALL QVX_3_GetTemp(float *kelvin);

/* Clock frequencies in Hz, rounded to the nearest float (exact up to 16777216 Hz). */
QVX_3_API int32_t QVX_3_CALL QVX_3_GetClkCPU(float *hertz);
QVX_3_API int32_t QVX_3_CALL QVX_3_GetClkPer(float *hertz);
QVX_3_API int32_t QVX_3_CALL QVX_3_GetClkADC(float *hertz);
QVX_3_API int32_t QVX_3_CALL QVX_3_GetClkDAC(float *hertz);

/* Time since the module's power-on, in seconds with a resolution of 1/1024 s. */
QVX_3_API int32_t QVX_3_CALL QVX_3_GetUptime(double *seconds);

/* ---- Channel settings ---------------------------------------------------------------- */
/*
 * Set functions write the register; only the status tells whether the module took it.
 * The library checks no ranges, and every float argument has a defined outcome: the scaled
 * value (gain x 256; volts or seconds x 1000 + 0.5; formed in double) is truncated toward
 * zero and its low 16 bits (two's complement, i.e. modulo 65536) are written; a NaN or
 * infinite argument writes 0. Within the registers' ranges (gain 0 to below 256, threshold
 * and duration 0 to 65.535) this is plain scaling; beyond them the value wraps (a gain of
 * 256.0 writes 0, a threshold of -0.002 V writes 0xFFFF).
 */

/* Polarity: 0 positive, non-zero negative; written and read back unchanged. */
QVX_3_API int32_t QVX_3_CALL QVX_3_SetPolarity(uint8_t channel, uint8_t polarity);
QVX_3_API int32_t QVX_3_CALL QVX_3_GetPolarity(uint8_t channel, uint8_t *polarity);

/* Amplification (gain factor). The register counts 1/256: the gain is truncated toward
 * zero to a multiple of 1/256 (2.3 is written as 588/256 = 2.296875); read back exactly. */
QVX_3_API int32_t QVX_3_CALL QVX_3_SetAmplification(uint8_t channel, float gain);
QVX_3_API int32_t QVX_3_CALL QVX_3_GetAmplification(uint8_t channel, float *gain);

/* Low-pass filter. Only Beta is written; the module chooses the Alpha it uses with it, and
 * QVX_3_GetLPF reads both back. */
QVX_3_API int32_t QVX_3_CALL QVX_3_SetLPF(uint8_t channel, uint8_t beta);
QVX_3_API int32_t QVX_3_CALL QVX_3_GetLPF(uint8_t channel, uint16_t *alpha, uint8_t *beta);

/* High-pass filter Tau, written and read back unchanged. */
QVX_3_API int32_t QVX_3_CALL QVX_3_SetHPF_Tau(uint8_t channel, uint8_t tau);
QVX_3_API int32_t QVX_3_CALL QVX_3_GetHPF_Tau(uint8_t channel, uint8_t *tau);

/* Counter threshold in volts; the register holds whole millivolts, rounded to nearest with
 * halves up for non-negative values. */
QVX_3_API int32_t QVX_3_CALL QVX_3_SetThreshold(uint8_t channel, float volts);
QVX_3_API int32_t QVX_3_CALL QVX_3_GetThreshold(uint8_t channel, float *volts);

/* Measurement duration in seconds; the register holds whole milliseconds, rounded to
 * nearest with halves up for non-negative values. */
QVX_3_API int32_t QVX_3_CALL QVX_3_SetDuration(uint8_t channel, float seconds);
QVX_3_API int32_t QVX_3_CALL QVX_3_GetDuration(uint8_t channel, float *seconds);

/* ---- Filter calculations (no bus access) --------------------------------------------- */
/*
 * With K = 100000 / (2 pi) (the double 15915.494309189535), N = 2^(Beta mod 32) and the
 * radicand r = N - Alpha / 2 - 1 (exact, then rounded to float): the low-pass corner
 * frequency is K / sqrt(r) and its damping Alpha / (4 sqrt(r)), each computed in double and
 * rounded to float; both are 0 when r <= 0. The high-pass corner frequency is
 * K / 2^(Tau mod 32) rounded to float. No argument is refused and nothing fails.
 */

/* Low-pass corner frequency in Hz; 0.0 when r <= 0. */
QVX_3_API float QVX_3_CALL QVX_3_GetLPF_Frequency(uint16_t alpha, uint8_t beta);

/* Low-pass damping; 0.0 when r <= 0. */
QVX_3_API float QVX_3_CALL QVX_3_GetLPF_Damping(uint16_t alpha, uint8_t beta);

/* Both low-pass values at once, from sqrt(r) rounded to float first, so either may differ
 * in the last place from the two functions above. When r <= 0 nothing is stored. */
QVX_3_API void QVX_3_CALL QVX_3_GetLPF_Parameters(uint16_t alpha, uint8_t beta, float *frequency,
                                                  float *damping);

/* The Alpha that gives `damping` with `beta`, the inverse of QVX_3_GetLPF_Damping up to the
 * rounding of Alpha. With d = damping and r' = N + d^2 - 1 rounded to float, this is
 * v = (sqrt(r') - d) x 4d + 0.5 truncated toward zero, of which the low 16 bits (modulo
 * 65536) are returned: a d whose Alpha exceeds 65535 wraps, a negative d gives the low 16 bits
 * of a negative value. 0 when r' is not positive (a damping of 0 with Beta 0) and when v is not
 * finite: a NaN or infinite damping, or one beyond about 1.8e19 in magnitude, for which r'
 * overflows float. */
QVX_3_API uint16_t QVX_3_CALL QVX_3_GetLPF_Alpha(uint8_t beta, float damping);

/* High-pass corner frequency in Hz. */
QVX_3_API float QVX_3_CALL QVX_3_GetHPF_Frequency(uint8_t tau);

#ifdef __cplusplus
}
#endif

#endif /* QVX3_H */
