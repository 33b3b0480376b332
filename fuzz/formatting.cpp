// Every formatting utility with fuzzed formats, values and widths, each writing into a
// buffer of exactly the size its result needs (so that AddressSanitizer sees one byte too
// many), and each result checked against what the function promises to write.
#include "check.h"
#include "util.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <regex>
#include <string>

namespace {

// Calls `format(buffer)` into a roomy buffer, then again into one of exactly the size the
// first result asks for; both must write the same text, whose length is the result.
template <typename Format> std::string ExactSize(Format format, int &result) {
    constexpr std::size_t kRoom = 8192;
    std::unique_ptr<char[]> roomy(new char[kRoom]);
    std::memset(roomy.get(), '#', kRoom);
    result = format(roomy.get());
    const std::string text = roomy.get();
    FUZZ_CHECK(text.size() < kRoom - 1, "text of %zu characters", text.size());
    FUZZ_CHECK(result < 0 || static_cast<std::size_t>(result) == text.size(),
               "result %d for \"%s\"", result, text.c_str());
    FUZZ_CHECK(roomy[text.size() + 1] == '#', "bytes written after the terminator of \"%s\"",
               text.c_str());
    std::unique_ptr<char[]> exact(new char[text.size() + 1]);
    const int again = format(exact.get());
    FUZZ_CHECK(again == result && text == exact.get(), "\"%s\" then \"%s\"", text.c_str(),
               exact.get());
    return text;
}

double Value(FuzzedDataProvider &in) {
    static const double kPicks[] = {0.0,      -0.0,      59.99,  59.996, 60.0,   119.996,
                                    3599.996, 3725.25,   1e13,   -1e13,  1.5e13, NAN,
                                    INFINITY, -INFINITY, 5e-324, 1e300};
    if (in.ConsumeBool()) return in.PickValueInArray(kPicks);
    return in.ConsumeFloatingPoint<double>();
}

// ---- sprintmt ------------------------------------------------------------------------------

// The accepted formats, spelled as a grammar: literal text and "%%", one f/F conversion.
const std::regex
    kTimeFormat(R"(((?:[^%]|%%)*)%([-+ #0]*)([0-9]*)(\.[0-9]*)?([lL]?)([fF])((?:[^%]|%%)*))");

std::string Unescaped(const std::string &text) {
    return std::regex_replace(text, std::regex("%%"), "%");
}

void MinuteTime(FuzzedDataProvider &in) {
    const std::string format = in.ConsumeRandomLengthString(48).c_str();
    const double seconds = Value(in);
    std::smatch parts;
    const bool accepted = std::regex_match(format, parts, kTimeFormat);
    const long precision = parts[4].length() > 1 ? std::atol(parts[4].str().substr(1, 12).c_str())
                           : parts[4].length() == 1 ? 0
                                                    : 6;
    // Fields of thousands of characters only slow the run down.
    if (accepted && (parts[3].length() > 3 || parts[4].length() > 4)) return;

    int result = 0;
    const std::string text =
        ExactSize([&](char *buffer) { return sprintmt(buffer, format.c_str(), seconds); }, result);
    const char *f = format.c_str();
    if (!accepted) {
        FUZZ_CHECK(result == -1 && text.empty(), "\"%s\" at %.17g gave %d \"%s\"", f, seconds,
                   result, text.c_str());
        return;
    }
    const double magnitude = std::fabs(seconds);
    if (!(magnitude >= 60.0 && magnitude < 4294967296.0 * 3600.0)) {
        // The caller's format as it is; the value is a double whatever the length modifier.
        const std::string plain = parts[1].str() + "%" + parts[2].str() + parts[3].str() +
                                  parts[4].str() + parts[6].str() + parts[7].str();
        char expected[4096];
        std::snprintf(expected, sizeof expected, plain.c_str(), seconds);
        FUZZ_CHECK(result >= 0 && text == expected, "\"%s\" at %.17g gave \"%s\", not \"%s\"", f,
                   seconds, text.c_str(), expected);
        return;
    }

    // From a minute on: [-]M:SS<tail> or [-]H:MM:SS<tail>, seconds padded to two digits.
    const std::string suffix = Unescaped(parts[7].str());
    // The tail runs from the point (or the letter) to the end, "l" kept and "L" taken out.
    const std::size_t tailLength =
        parts[4].length() + (parts[4].length() && parts[5] == "l" ? 1 : 0) + 1 + parts[7].length();
    const unsigned fieldWidth = precision > 0 ? static_cast<unsigned>(precision) + 3 : 2;
    const std::size_t widthDigits = std::to_string(fieldWidth).size();
    const std::size_t minutesRoom = 13 - (widthDigits - 1);
    const std::size_t hoursRoom = 20 - (widthDigits - 1);
    if (result == -1) {
        // Only a tail too long for the form's built format is refused.
        FUZZ_CHECK(text.empty() && tailLength > minutesRoom &&
                       (magnitude < 3600.0 || tailLength > hoursRoom),
                   "\"%s\" at %.17g refused", f, seconds);
        return;
    }
    if (text.size() > 14 && text.find(':') == std::string::npos) return; // 2^32 hours carry
    const std::string decimals = precision > 0 ? "\\.[0-9]{" + std::to_string(precision) + "}" : "";
    const std::regex shape("(-?)(?:([0-9]+):([0-5][0-9])|([0-9]+)):([0-5][0-9]" + decimals +
                           ")([\\s\\S]*)");
    std::smatch got;
    FUZZ_CHECK(std::regex_match(text, got, shape), "\"%s\" at %.17g gave \"%s\"", f, seconds,
               text.c_str());
    FUZZ_CHECK(got[6].str() == suffix, "\"%s\" at %.17g ends \"%s\", not \"%s\"", f, seconds,
               got[6].str().c_str(), suffix.c_str());
    FUZZ_CHECK((got[1].length() == 1) == (seconds < 0), "\"%s\" at %.17g: sign of \"%s\"", f,
               seconds, text.c_str());
    FUZZ_CHECK(tailLength <= (got[2].length() ? hoursRoom : minutesRoom),
               "\"%s\" at %.17g: tail too long for \"%s\"", f, seconds, text.c_str());
    const double written = got[2].length() ? std::strtod(got[2].str().c_str(), nullptr) * 3600.0 +
                                                 std::strtod(got[3].str().c_str(), nullptr) * 60.0
                                           : std::strtod(got[4].str().c_str(), nullptr) * 60.0;
    const double total = written + std::strtod(got[5].str().c_str(), nullptr);
    const double tolerance =
        0.5 * std::pow(10.0, -static_cast<double>(precision)) + magnitude * 1e-15;
    FUZZ_CHECK(std::fabs(total - magnitude) <= tolerance, "\"%s\" at %.17g gave \"%s\"", f, seconds,
               text.c_str());
}

// ---- sprintd -------------------------------------------------------------------------------

// A format for sprintd: fuzzed flags and width, the "*" precision, one of the floating
// conversions, literal text after it.
struct DigitsFormat {
    std::string text;
    char letter;
    std::size_t width;
    std::string suffix;
};

DigitsFormat MakeDigitsFormat(FuzzedDataProvider &in) {
    DigitsFormat f;
    f.text = "%";
    const auto flags = in.ConsumeIntegral<uint8_t>();
    for (int bit = 0; bit < 5; ++bit)
        if (flags & (1 << bit)) f.text += "-+ #0"[bit];
    f.width = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::size_t>(1, 40) : 0;
    if (f.width > 0) f.text += std::to_string(f.width);
    f.text += in.ConsumeBool() ? ".*l" : ".*";
    f.letter = in.PickValueInArray({'f', 'F', 'e', 'E', 'g', 'G'});
    f.text += f.letter;
    for (char c : in.ConsumeRandomLengthString(8))
        if (c != '%' && c != '\0') f.suffix += c;
    f.text += f.suffix;
    return f;
}

void SignificantDigits(FuzzedDataProvider &in) {
    const double value = Value(in);
    const char digits = static_cast<char>(in.ConsumeIntegral<signed char>());
    const DigitsFormat format = MakeDigitsFormat(in);
    const char *f = format.text.c_str();
    int result = 0;
    const std::string text =
        ExactSize([&](char *buffer) { return sprintd(buffer, f, value, digits); }, result);
    // The number, padded to the width, then the text after the conversion.
    FUZZ_CHECK(
        text.size() >= format.suffix.size() + std::max<std::size_t>(format.width, 1) &&
            text.compare(text.size() - format.suffix.size(), std::string::npos, format.suffix) == 0,
        "\"%s\": %.17g at %d digits gave \"%s\"", f, value, digits, text.c_str());
    std::string number = text.substr(0, text.size() - format.suffix.size());
    number.erase(0, number.find_first_not_of(' '));
    number.erase(number.find_last_not_of(' ') + 1);
    char *end = nullptr;
    // Read back wider than a double: a value near the largest double may round up past it.
    const long double back = std::strtold(number.c_str(), &end);
    FUZZ_CHECK(*end == '\0' || (*end == '.' && end[1] == '\0'), "\"%s\": %.17g gave \"%s\"", f,
               value, text.c_str());
    if (!std::isfinite(value)) {
        FUZZ_CHECK(std::isnan(value) ? std::isnan(back) : back == static_cast<long double>(value),
                   "\"%s\": %g gave \"%s\"", f, value, text.c_str());
        return;
    }
    const char kind = static_cast<char>(format.letter | 0x20);
    const std::size_t point = number.find('.');
    const std::size_t exponent = number.find_first_of("eE");
    const int decimals = point == std::string::npos
                             ? 0
                             : static_cast<int>(std::min(exponent, number.size()) - point - 1);
    const long double magnitude = std::fabs(static_cast<long double>(value));
    const long double error = std::fabs(back - static_cast<long double>(value));
    if (kind == 'g') {
        // Trailing zeros go, so only the order of magnitude is sure.
        FUZZ_CHECK(error <= 0.5L * magnitude * (1 + 1e-9L),
                   "\"%s\": %.17g at %d digits gave \"%s\"", f, value, digits, text.c_str());
        return;
    }
    const long double unit = std::pow(10.0L, -decimals) * (kind == 'e' ? magnitude : 1.0L);
    FUZZ_CHECK(error <= 0.5L * unit * (1 + 1e-9L) + magnitude * 1e-15L,
               "\"%s\": %.17g at %d digits gave \"%s\"", f, value, digits, text.c_str());
    if (kind != 'f') return;
    // The significant digits: as asked, one more when rounding carried into a new leading
    // digit, or more when the whole part alone has more.
    const std::size_t lead = number.find_first_of("123456789");
    if (digits < 1 || lead == std::string::npos) return;
    const std::size_t significant =
        number.size() - lead - (point != std::string::npos && point > lead ? 1 : 0);
    if (decimals > 0) {
        FUZZ_CHECK(significant == static_cast<std::size_t>(digits) ||
                       significant == static_cast<std::size_t>(digits) + 1,
                   "\"%s\": %.17g at %d digits gave \"%s\"", f, value, digits, text.c_str());
    } else {
        FUZZ_CHECK(significant >= static_cast<std::size_t>(digits),
                   "\"%s\": %.17g at %d digits gave \"%s\"", f, value, digits, text.c_str());
    }
}

// ---- sprintt -------------------------------------------------------------------------------

void TimeFromSeconds(FuzzedDataProvider &in) {
    const double seconds = Value(in);
    int result = 0;
    const std::string text =
        ExactSize([&](char *buffer) { return sprintt(buffer, seconds); }, result);
    FUZZ_CHECK(text.size() <= 18, "%.17g gave \"%s\"", seconds, text.c_str());
    const double magnitude = std::fabs(seconds);
    if (!(magnitude < 4294967296.0 * 60.0)) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "%.1e", seconds);
        FUZZ_CHECK(text == expected, "%.17g gave \"%s\"", seconds, text.c_str());
        return;
    }
    static const std::regex shape(R"( ?(-?)([0-9]+):([0-5][0-9]):([0-5][0-9]\.[0-9]))");
    std::smatch got;
    FUZZ_CHECK(std::regex_match(text, got, shape) && text.find(':') >= 2, "%.17g gave \"%s\"",
               seconds, text.c_str());
    FUZZ_CHECK((got[1].length() == 1) == (seconds < 0), "%.17g gave \"%s\"", seconds, text.c_str());
    const double total = std::strtod(got[2].str().c_str(), nullptr) * 3600.0 +
                         std::strtod(got[3].str().c_str(), nullptr) * 60.0 +
                         std::strtod(got[4].str().c_str(), nullptr);
    FUZZ_CHECK(std::fabs(total - magnitude) <= 0.05 + magnitude * 1e-15, "%.17g gave \"%s\"",
               seconds, text.c_str());
}

void TimeFromHundredths(FuzzedDataProvider &in) {
    const auto hundredths = in.ConsumeIntegral<unsigned long>();
    int result = 0;
    const std::string text =
        ExactSize([&](char *buffer) { return sprintt(buffer, hundredths); }, result);
    unsigned long h = 0, m = 0, s = 0, c = 0;
    char end = 0;
    FUZZ_CHECK(std::sscanf(text.c_str(), "%lu:%2lu:%2lu.%2lu%c", &h, &m, &s, &c, &end) == 4 &&
                   m < 60 && s < 60 && text.size() >= 11 &&
                   ((h * 60 + m) * 60 + s) * 100 + c == hundredths,
               "%lu gave \"%s\"", hundredths, text.c_str());
}

// ---- sprintmp and sprintp ------------------------------------------------------------------

void Paths(FuzzedDataProvider &in) {
    const int width = in.ConsumeIntegralInRange<int>(-3, 72);
    const bool exactly = in.ConsumeBool();
    std::string path = in.ConsumeRandomLengthString(80).c_str();
    const std::size_t room = static_cast<std::size_t>(width < 0 ? 0 : width);
    // A path that fits is copied whole by sprintmp, into a buffer of width + 1.
    int result = 0;
    const std::string text = ExactSize(
        [&](char *buffer) {
            return exactly ? sprintp(buffer, path.c_str(), width)
                           : sprintmp(buffer, path.c_str(), width);
        },
        result);
    const char *p = path.c_str();
    if (exactly) {
        FUZZ_CHECK(result == (width < 0 ? 0 : width) && text.size() == room, "\"%s\" @%d: \"%s\"",
                   p, width, text.c_str());
    } else {
        FUZZ_CHECK(text.size() <= room, "\"%s\" @%d: \"%s\"", p, width, text.c_str());
    }
    if (path.size() <= room) {
        FUZZ_CHECK(text == (exactly ? path + std::string(room - path.size(), ' ') : path),
                   "\"%s\" @%d: \"%s\"", p, width, text.c_str());
        return;
    }
    // The tail form, or head + ".." + the path from a later backslash (for sprintp followed
    // by at least one blank).
    const std::string tail =
        width < 2 ? std::string("..").substr(0, room) : ".." + path.substr(path.size() - room + 2);
    if (text == tail) return;
    const std::size_t first = path.find('\\');
    const auto shortened = [&](const std::string &shown) {
        if (first == std::string::npos || shown.size() < first + 3) return false;
        std::size_t head = first + 1;
        if (!exactly && first > 0 && path[first - 1] == ':' && shown.compare(first, 2, "..") == 0)
            head = first; // the drive's colon stands for the head
        const std::size_t rest = shown.size() - head - 2;
        return shown.compare(0, head, path, 0, head) == 0 && shown.compare(head, 2, "..") == 0 &&
               rest > 0 && rest < path.size() && path.size() - rest > first &&
               shown.compare(head + 2, rest, path, path.size() - rest, rest) == 0 &&
               shown[head + 2] == '\\';
    };
    bool matched = false;
    if (exactly) {
        for (std::size_t blanks = 1;
             !matched && blanks <= text.size() && text[text.size() - blanks] == ' '; ++blanks)
            matched = shortened(text.substr(0, text.size() - blanks));
    } else {
        matched = shortened(text);
    }
    FUZZ_CHECK(matched, "\"%s\" @%d: \"%s\"", p, width, text.c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange<int>(0, 4)) {
    case 0:
        MinuteTime(in);
        break;
    case 1:
        SignificantDigits(in);
        break;
    case 2:
        TimeFromSeconds(in);
        break;
    case 3:
        TimeFromHundredths(in);
        break;
    default:
        Paths(in);
        break;
    }
    return 0;
}
