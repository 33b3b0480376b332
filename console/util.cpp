#include "util.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// ---- Number entry ---------------------------------------------------------------------------

int EntryBase(const char *text, std::size_t length) {
    switch (text[length - 1]) {
    case 'h':
        return 16;
    case 'b':
        return 2;
    default:
        return 10;
    }
}

// A suffixed number must stop at its suffix; a decimal one must use the whole text.
bool StoppedRight(const char *text, const char *end, std::size_t length, int base) {
    if (end == text) return false;
    return end == text + (base == 10 ? length : length - 1);
}

// ---- Time formatting ------------------------------------------------------------------------

// 2^32: the count of minutes (sprintt) or hours (sprintmt) that the fields hold.
constexpr double kFieldLimit = 4294967296.0;

// True when `format` writes `seconds` as 60 or more, so that it belongs to the next minute.
bool RoundsToMinute(const char *format, double seconds) {
    char probe[64];
    std::snprintf(probe, sizeof probe, format, seconds);
    return std::strtod(probe, nullptr) >= 60.0;
}

// Whole minutes and the seconds left of a non-negative time. A remainder that
// `secondsFormat` would write as 60 is carried into the minutes.
void SplitMinutes(double seconds, const char *secondsFormat, double &minutes, double &rest) {
    // Whole seconds first: 60 x minutes then never exceeds the time, so the rest is >= 0.
    minutes = std::floor(std::trunc(seconds) / 60.0);
    rest = seconds - 60.0 * minutes;
    if (RoundsToMinute(secondsFormat, rest)) {
        minutes += 1.0;
        rest = 0.0;
    }
}

// The tail of a sprintmt format: from its first ".", else "f", else "F", else all of it.
const char *FormatTail(const char *format) {
    for (char c : {'.', 'f', 'F'}) {
        if (const char *p = std::strchr(format, c)) return p;
    }
    return format;
}

// Field width of the seconds: two digits, plus the point and the decimals of a positive
// precision. The precision is read as scanf's "%u" would read it.
unsigned SecondsWidth(const char *tail) {
    if (*tail != '.') return 2;
    char *end = nullptr;
    const unsigned long number = std::strtoul(tail + 1, &end, 10);
    if (end == tail + 1) return 2;
    const auto precision = static_cast<int32_t>(static_cast<uint32_t>(number));
    return precision > 0 ? static_cast<unsigned>(precision) + 3 : 2;
}

bool Fits(int length, std::size_t size) {
    return length >= 0 && static_cast<std::size_t>(length) < size;
}

int Refused(char *buffer) {
    buffer[0] = '\0';
    return -1;
}

// ---- Path shortening ------------------------------------------------------------------------

int TailForm(char *buffer, const char *path, std::size_t length, int width) {
    if (width <= 0) {
        buffer[0] = '\0';
        return 0;
    }
    const auto w = static_cast<std::size_t>(width);
    char *out = buffer;
    *out++ = '.';
    if (w >= 2) {
        *out++ = '.';
        std::memcpy(out, path + length - (w - 2), w - 2);
        out += w - 2;
    }
    *out = '\0';
    return width;
}

// The first backslash at or after `start`, or null when `start` lies beyond the path.
const char *BackslashFrom(const char *path, std::size_t length, std::size_t start) {
    return start > length ? nullptr : std::strchr(path + start, '\\');
}

// Writes head characters of `path`, "..", and the path from `from`; returns the length.
int Shortened(char *buffer, const char *path, std::size_t head, const char *from) {
    std::memcpy(buffer, path, head);
    buffer[head] = '.';
    buffer[head + 1] = '.';
    std::strcpy(buffer + head + 2, from);
    return static_cast<int>(head + 2 + std::strlen(from));
}

} // namespace

int String2Long(const char *text, int32_t &value) {
    const std::size_t length = text ? std::strlen(text) : 0;
    if (length == 0) return -1;
    const int base = EntryBase(text, length);
    char *end = nullptr;
    const int savedErrno = errno;
    const long long number = std::strtoll(text, &end, base);
    errno = savedErrno;
    if (!StoppedRight(text, end, length, base)) return -2;
    value = static_cast<int32_t>(std::clamp<long long>(number, INT32_MIN, INT32_MAX));
    return 0;
}

int String2ULong(const char *text, uint32_t &value) {
    const std::size_t length = text ? std::strlen(text) : 0;
    if (length == 0) return -1;
    const int base = EntryBase(text, length);
    char *end = nullptr;
    const int savedErrno = errno;
    errno = 0;
    const unsigned long long number = std::strtoull(text, &end, base);
    const bool overflow = errno == ERANGE;
    errno = savedErrno;
    if (!StoppedRight(text, end, length, base)) return -2;

    // The 64-bit conversion negates modulo 2^64; a 32-bit one saturates a magnitude above
    // 2^32 - 1 and negates a smaller one modulo 2^32.
    const char *start = text;
    while (std::isspace(static_cast<unsigned char>(*start)))
        ++start;
    const bool negative = *start == '-';
    const unsigned long long magnitude = negative ? 0ULL - number : number;
    if (overflow || magnitude > UINT32_MAX) {
        value = UINT32_MAX;
    } else {
        const auto low = static_cast<uint32_t>(magnitude);
        value = negative ? 0U - low : low;
    }
    return 0;
}

int String2Float(const char *text, float &value) {
    const std::size_t length = text ? std::strlen(text) : 0;
    if (length == 0) return -1;
    char *end = nullptr;
    const int savedErrno = errno;
    const float number = std::strtof(text, &end);
    errno = savedErrno;
    if (end != text + length) return -2;
    value = number;
    return 0;
}

int sprintd(char *buffer, const char *format, double value, char digits) {
    int decimals = 0;
    if (std::isfinite(value)) {
        const double magnitude = std::fabs(value);
        // A finite non-zero double has a decimal exponent between -324 and 308.
        const int exponent =
            magnitude > 0.0 ? static_cast<int>(std::floor(std::log10(magnitude))) : 0;
        decimals = std::max(0, static_cast<int>(digits) - 1 - exponent);
    }
    return std::sprintf(buffer, format, decimals, value);
}

int sprintt(char *buffer, double seconds) {
    const double magnitude = std::fabs(seconds);
    if (!(magnitude < kFieldLimit * 60.0)) return std::sprintf(buffer, "%.1e", seconds);
    double minutes = 0.0;
    double rest = 0.0;
    SplitMinutes(magnitude, "%.1f", minutes, rest);
    const double hours = std::floor(minutes / 60.0);
    char hoursField[16];
    std::snprintf(hoursField, sizeof hoursField, "%s%.0f", seconds < 0.0 ? "-" : "", hours);
    return std::sprintf(buffer, "%2s:%02.0f:%04.1f", hoursField, minutes - 60.0 * hours, rest);
}

int sprintt(char *buffer, unsigned long hundredths) {
    return std::sprintf(buffer, "%2lu:%02lu:%02lu.%02lu", hundredths / 360000,
                        (hundredths / 6000) % 60, (hundredths % 6000) / 100, hundredths % 100);
}

int sprintmt(char *buffer, const char *format, double seconds) {
    if (seconds <= -60.0) {
        buffer[0] = '-';
        const int written = sprintmt(buffer + 1, format, -seconds);
        if (written < 0) buffer[0] = '\0';
        return written < 0 ? written : written + 1;
    }
    if (!(seconds >= 60.0 && seconds < kFieldLimit * 3600.0)) {
        return std::sprintf(buffer, format, seconds);
    }

    // The built formats live in fixed-size locals: a tail that does not fit is refused.
    const char *tail = FormatTail(format);
    char secondsFormat[24];
    if (!Fits(
            std::snprintf(secondsFormat, sizeof secondsFormat, "%%0%u%s", SecondsWidth(tail), tail),
            sizeof secondsFormat)) {
        return Refused(buffer);
    }
    double minutes = 0.0;
    double rest = 0.0;
    SplitMinutes(seconds, secondsFormat, minutes, rest);
    const double wholeHours = std::floor(minutes / 60.0);
    // A carry just below the limit can make the hours 2^32, which the field cannot hold.
    if (wholeHours >= kFieldLimit) return std::sprintf(buffer, format, seconds);
    const auto hours = static_cast<unsigned>(wholeHours);
    const auto minutesLeft = static_cast<unsigned>(minutes - 60.0 * wholeHours);

    if (hours == 0) {
        char built[20];
        if (!Fits(std::snprintf(built, sizeof built, "%%u:%s", secondsFormat), sizeof built)) {
            return Refused(buffer);
        }
        return std::sprintf(buffer, built, minutesLeft, rest);
    }
    char built[32];
    if (!Fits(std::snprintf(built, sizeof built, "%%u:%%02u:%s", secondsFormat), sizeof built)) {
        return Refused(buffer);
    }
    return std::sprintf(buffer, built, hours, minutesLeft, rest);
}

int sprintmp(char *buffer, const char *path, int width) {
    const std::size_t length = std::strlen(path);
    if (width >= 0 && length <= static_cast<std::size_t>(width)) {
        std::memcpy(buffer, path, length + 1);
        return static_cast<int>(length);
    }
    const char *first = std::strchr(path, '\\');
    if (width < 2 || !first) return TailForm(buffer, path, length, width);

    std::size_t p = static_cast<std::size_t>(first - path);
    const bool drive = p > 0 && path[p - 1] == ':';
    if (drive) --p;
    const std::size_t excess = length - static_cast<std::size_t>(width);
    const char *q = BackslashFrom(path, length, p + excess + 3);
    if (!q) return TailForm(buffer, path, length, width);

    std::size_t head = p + 1;
    if (drive && head + 2 + std::strlen(q) < static_cast<std::size_t>(width)) ++head;
    return Shortened(buffer, path, head, q);
}

int sprintp(char *buffer, const char *path, int width) {
    const std::size_t length = std::strlen(path);
    int written = 0;
    if (width >= 0 && length <= static_cast<std::size_t>(width)) {
        std::memcpy(buffer, path, length + 1);
        written = static_cast<int>(length);
    } else {
        const char *first = std::strchr(path, '\\');
        const std::size_t excess = length - static_cast<std::size_t>(std::max(width, 0));
        const char *q =
            first && width >= 2
                ? BackslashFrom(path, length, static_cast<std::size_t>(first - path) + excess + 4)
                : nullptr;
        if (!q) return TailForm(buffer, path, length, width);
        written = Shortened(buffer, path, static_cast<std::size_t>(first - path) + 1, q);
    }
    std::memset(buffer + written, ' ', static_cast<std::size_t>(width - written));
    buffer[width] = '\0';
    return width;
}
