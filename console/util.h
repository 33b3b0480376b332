// The console's utility module: number entry parsing and text formatting. Plain functions
// without state; none prints anything.
#ifndef QVX3_CONSOLE_UTIL_H
#define QVX3_CONSOLE_UTIL_H

#include <cstdint>

// ---- Number entry -------------------------------------------------------------------------

// Integer entry in decimal, hexadecimal with the suffix h, or binary with the suffix b
// ("123", "7Bh", "1111011b"); only a lower-case last character selects the base. The text
// is converted by strtol/strtoul rules: leading white space, one sign, "0x" in base 16.
// Returns 0 and stores the number, -1 for the empty text (or a null pointer), or -2 for a
// text that is not a number in the notation its last character selects; on -1 and -2
// `value` is untouched.
// Out-of-range numbers saturate as the 32-bit conversions do on every platform, with
// result 0: String2Long gives 2147483647 or -2147483648; String2ULong gives 4294967295 for
// a magnitude above 4294967295 and negates a smaller negative number modulo 2^32
// ("-5" gives 4294967291).
int String2Long(const char *text, int32_t &value);
int String2ULong(const char *text, uint32_t &value);

// A real number, the whole text as strtof reads it: leading white space, one sign, decimal
// or hexadecimal digits with a point and an exponent ("2.5", "1e1", ".5"), "inf" and "nan".
// Results as above: 0 and the number (an infinity beyond the range of float, 0 or a
// subnormal below it), -1 for the empty text, -2 when strtof stops before the end.
int String2Float(const char *text, float &value);

// ---- Text formatting ------------------------------------------------------------------------
// Each function writes a NUL-terminated text into the caller's buffer, which must hold what
// it writes, and returns the count of characters written (without the NUL).

// `value` with `digits` significant digits. `format` takes the count of decimals (an int)
// and then the double, so it carries a "*" precision: sprintd(buf, "%.*lf", 123.456, 4)
// writes "123.5". The decimals are digits - 1 - floor(log10(|value|)), never below 0, so
// 98765 at 3 digits is "98765"; the format's rounding may carry into a new leading digit
// (9.96 at 2 digits is "10.0"). A negative value counts by its magnitude (-0.012345 at 3
// digits is "-0.0123"), 0 gets digits - 1 decimals, NaN and infinities get 0 decimals.
// Returns what sprintf returns.
int sprintd(char *buffer, const char *format, double value, char digits);

// A time in seconds as hours, minutes and seconds with one decimal, "%2lu:%02lu:%04.1lf":
// 3725.3 is " 1:02:05.3", hours from 100 on widen the first field. Seconds that round to
// 60.0 carry into the minutes (59.96 is " 0:01:00.0"). A negative time is written as its
// magnitude with a minus sign before the hours ("-1:02:05.3", "-0:00:05.0"). NaN,
// infinities and times of 2^32 minutes or more are written with "%.1e" ("nan", "-inf",
// "1.0e+12"). At most 18 characters.
int sprintt(char *buffer, double seconds);

// A time in hundredths of a second as "%2lu:%02lu:%02lu.%02lu": 372530 is " 1:02:05.30".
int sprintt(char *buffer, unsigned long hundredths);

// A time in seconds with the caller's number format below a minute, and turned into
// minutes or hours from 60 s on. `format` has one floating conversion for a double, e.g.
// "%.2lfs": 45.5 gives "45.50s", 125.5 "2:05.50s", 3725.25 "1:02:05.25s".
// - Below 60 s (and for NaN, infinities and times of 2^32 hours or more) the format is used
//   unchanged.
// - From 60 s on the format's tail (from its first ".", else its first "f", else its first
//   "F", else all of it) formats the seconds, zero-padded to two digits plus the point and
//   the decimals that the tail's precision asks for; a width before the point is dropped.
//   Seconds that the tail rounds up to 60 carry into the minutes (119.996 gives "2:00.00s").
// - A negative time from -60 s on is written as its magnitude with a minus sign in front.
// - The minutes form has room for a tail of 13 characters, the hours form for 20 (less when
//   the precision has more than one digit). A longer tail is refused: the buffer gets the
//   empty text and the result is -1.
int sprintmt(char *buffer, const char *format, double seconds);

// ---- Path shortening ------------------------------------------------------------------------
// Both shorten a path with backslash separators to `width` characters by putting ".." in
// place of the directories after its first backslash, keeping the first backslash (or a
// drive "C:") and as many of the last directories and the file name as fit:
// C:\Work\Projects\Alpha\Beta\report.txt at width 30 gives C:\..\Alpha\Beta\report.txt.
// When no directory boundary fits, the tail form is written: ".." and the last width - 2
// characters of the path. `buffer` holds at least width + 1 characters. A width below 2 has
// no room for ".."; the path is then cut to the first width characters of the tail form
// (nothing for a width of 0 or below).

// At most `width` characters; returns the length written. A path that fits is copied whole.
// A drive colon before the first backslash stands for the head ("C:..\Beta\report.txt")
// when the backslash after it does not fit too.
int sprintmp(char *buffer, const char *path, int width);

// Exactly `width` characters, left-aligned and padded with blanks; returns width (0 for a
// width below 0). A shortened path is at most width - 1 characters, so at least one blank
// follows it.
int sprintp(char *buffer, const char *path, int width);

#endif // QVX3_CONSOLE_UTIL_H
