// String2Long and String2ULong against a digit-by-digit model of the entry notation: the
// base from the last character, strtol's leading blanks, sign and "0x", the whole text used
// up to the suffix, saturation, and the value left alone on failure.
#include "check.h"
#include "util.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

struct Model {
    int result = -2;
    bool negative = false;
    uint64_t magnitude = 0;
    bool overflow = false; // magnitude above 2^64 - 1
};

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

bool Blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

Model Parse(const std::string &text) {
    Model m;
    if (text.empty()) {
        m.result = -1;
        return m;
    }
    const int base = text.back() == 'h' ? 16 : text.back() == 'b' ? 2 : 10;
    const std::size_t end = base == 10 ? text.size() : text.size() - 1;
    std::size_t i = 0;
    while (i < text.size() && Blank(text[i]))
        ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) m.negative = text[i++] == '-';
    // "0x" belongs to the number only when a hexadecimal digit follows it.
    if (base == 16 && i + 2 < text.size() && text[i] == '0' && (text[i + 1] | 0x20) == 'x' &&
        DigitValue(text[i + 2]) < 16)
        i += 2;
    const std::size_t first = i;
    while (i < text.size() && DigitValue(text[i]) < base) {
        const uint64_t digit = static_cast<uint64_t>(DigitValue(text[i]));
        if (m.magnitude > (UINT64_MAX - digit) / static_cast<uint64_t>(base)) m.overflow = true;
        m.magnitude = m.magnitude * static_cast<uint64_t>(base) + digit;
        ++i;
    }
    m.result = (i > first && i == end) ? 0 : -2;
    return m;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    const std::string entry = text.c_str(); // up to the first NUL, as the parsers see it
    const Model m = Parse(entry);
    // A newer C library takes "0b" as a prefix in base 2; the notation leaves that open.
    const std::size_t digits = entry.find_first_not_of(" \t\n\v\f\r+-");
    if (!entry.empty() && entry.back() == 'b' && digits != std::string::npos &&
        entry.compare(digits, 2, "0b") == 0)
        return 0;

    int32_t signedValue = 12345;
    const int signedResult = String2Long(entry.c_str(), signedValue);
    FUZZ_CHECK(signedResult == m.result, "String2Long(\"%s\") gave %d, expected %d", entry.c_str(),
               signedResult, m.result);
    uint32_t unsignedValue = 54321;
    const int unsignedResult = String2ULong(entry.c_str(), unsignedValue);
    FUZZ_CHECK(unsignedResult == m.result, "String2ULong(\"%s\") gave %d, expected %d",
               entry.c_str(), unsignedResult, m.result);
    if (m.result != 0) {
        FUZZ_CHECK(signedValue == 12345 && unsignedValue == 54321,
                   "\"%s\" refused but the value was written", entry.c_str());
        return 0;
    }

    const bool big = m.overflow || m.magnitude > INT64_MAX;
    const int64_t expectedSigned =
        m.negative
            ? (big || m.magnitude > 2147483648ULL ? INT32_MIN : -static_cast<int64_t>(m.magnitude))
            : (big || m.magnitude > INT32_MAX ? INT32_MAX : static_cast<int64_t>(m.magnitude));
    FUZZ_CHECK(signedValue == expectedSigned, "String2Long(\"%s\") stored %d, expected %lld",
               entry.c_str(), signedValue, static_cast<long long>(expectedSigned));

    const uint32_t low = static_cast<uint32_t>(m.magnitude);
    const uint32_t expectedUnsigned = m.overflow || m.magnitude > UINT32_MAX ? UINT32_MAX
                                      : m.negative                           ? 0U - low
                                                                             : low;
    FUZZ_CHECK(unsignedValue == expectedUnsigned, "String2ULong(\"%s\") stored %u, expected %u",
               entry.c_str(), unsignedValue, expectedUnsigned);
    return 0;
}
