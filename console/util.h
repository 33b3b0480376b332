// The console's utility module: number entry parsing and text formatting. Plain functions
// without state; none prints anything.
#ifndef QVX3_CONSOLE_UTIL_H
#define QVX3_CONSOLE_UTIL_H

#include <cstdint>

// Integer entry in decimal, hexadecimal with the suffix h, or binary with the suffix b
// ("123", "7Bh", "1111011b"). Returns 0 and stores the number, -1 for the empty text, or
// -2 for a text that is not a number in the notation its last character selects; on -1 and
// -2 `value` is untouched. Out-of-range numbers saturate as strtol/strtoul do.
int String2Long(const char *text, int32_t &value);
int String2ULong(const char *text, uint32_t &value);

#endif // QVX3_CONSOLE_UTIL_H
