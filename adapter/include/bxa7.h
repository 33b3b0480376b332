/*
 * BXA-7 adapter library: the I2C adapter on the PC parallel port that reaches the modules
 * in the slots of the RVL bus.
 *
 * Both the QVX-3 device library and the QVX-3-Test console link against the adapter
 * library ("libBXA-7.so", "BXA-7.dll") when they are loaded; any library that exports
 * these eleven functions with this ABI can take its place without a rebuild.
 *
 * Rules shared by every function:
 * - Every function that returns int32_t returns a status code: 0 is success, anything else
 *   is a failure whose meaning the adapter library alone defines. After a failure,
 *   BXA_7_ErrorMessage() and BXA_7_IO_ErrorMessage() describe it.
 * - The first argument of the four bus operations (Check, Send, Receive, ReceiveString)
 *   is the bus constant 1. The slot operations are called with the pair 1, 0.
 * - Texts returned by the two message functions belong to the adapter library: read them,
 *   never free or keep them past the next adapter call.
 * - One caller thread at a time. There is a single implicit connection, opened once with
 *   BXA_7_Open() and never closed.
 * - On 32-bit Windows every function uses __stdcall and is exported under its plain,
 *   undecorated name. An adapter DLL built with __cdecl instead is called correctly when
 *   BXA_7_CDECL is defined for every caller (the build option QVX3_ADAPTER_CALL=cdecl).
 */
#ifndef BXA7_H
#define BXA7_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64) && defined(BXA_7_CDECL)
#define BXA_7_CALL __cdecl
#elif defined(_WIN32) && !defined(_WIN64)
#define BXA_7_CALL __stdcall
#else
#define BXA_7_CALL
#endif

#if defined(_WIN32)
#if defined(BXA_7_BUILDING)
#define BXA_7_API __declspec(dllexport)
#else
#define BXA_7_API __declspec(dllimport)
#endif
#else
#define BXA_7_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Version word of the adapter library: major version in the high byte, minor in the low
 * byte (0x0100 is 1.00). Works before BXA_7_Open(). */
BXA_7_API uint16_t BXA_7_CALL BXA_7_Version(void);

/* Opens the adapter; the library chooses the port itself. Status code. */
BXA_7_API int32_t BXA_7_CALL BXA_7_Open(void);

/* Empties the adapter's communication buffers. Status code. */
BXA_7_API int32_t BXA_7_CALL BXA_7_Flush_LPT(void);

/* Stores the selected RVL slot number in *slot. Called with a = 1, b = 0. Status code. */
BXA_7_API int32_t BXA_7_CALL BXA_7_GetSlot(uint8_t *slot, int32_t a, int32_t b);

/* Selects RVL slot `slot` for every later transfer. Called with a = 1, b = 0. Status code. */
BXA_7_API int32_t BXA_7_CALL BXA_7_SetSlot(uint8_t slot, int32_t a, int32_t b);

/* Zero-terminated text on the most recent failure. */
BXA_7_API const char *BXA_7_CALL BXA_7_ErrorMessage(void);

/* Zero-terminated text on the input/output error behind the most recent failure. */
BXA_7_API const char *BXA_7_CALL BXA_7_IO_ErrorMessage(void);

/* Asks whether a module answers in the selected slot. On success *found is 0 when nothing
 * answers and non-zero otherwise. Status code. */
BXA_7_API int32_t BXA_7_CALL BXA_7_Check(int32_t bus, uint8_t *found);

/* Writes `count` bytes from `data`, in order, as one write to the module in the selected
 * slot. `last` is non-zero when the transfer ends the transaction (a write of a register)
 * and 0 when a read follows (a command byte). Status code. */
BXA_7_API int32_t BXA_7_CALL BXA_7_Send(int32_t bus, const uint8_t *data, int32_t count,
                                        int32_t last);

/* Reads exactly `count` bytes into `data`, in arrival order; called with last = 1.
 * Status code. */
BXA_7_API int32_t BXA_7_CALL BXA_7_Receive(int32_t bus, uint8_t *data, int32_t count, int32_t last);

/* Reads a zero-terminated text of at most `limit` characters into `text`; called with
 * last = 1. The caller provides limit + 1 bytes. Status code. */
BXA_7_API int32_t BXA_7_CALL BXA_7_ReceiveString(int32_t bus, char *text, int32_t limit,
                                                 int32_t last);

#ifdef __cplusplus
}
#endif

#endif /* BXA7_H */
