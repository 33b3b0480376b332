#include "util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <string>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// ---- Number entry ---------------------------------------------------------------------------

struct EntryCase {
    const char *text;
    int result;
    int32_t signedValue;    // String2Long's value when result is 0
    uint32_t unsignedValue; // String2ULong's value when result is 0
};

constexpr int32_t kUntouchedSigned = 0x5A5A5A5A;
constexpr uint32_t kUntouchedUnsigned = 0xA5A5A5A5;

void PrintTo(const EntryCase &c, std::ostream *os) {
    *os << '"' << c.text << '"';
}

class NumberEntry : public ::testing::TestWithParam<EntryCase> {};

TEST_P(NumberEntry, BothParsersAgreeOnNotationAndSaturateAs32Bit) {
    const EntryCase &c = GetParam();
    int32_t s = kUntouchedSigned;
    uint32_t u = kUntouchedUnsigned;
    EXPECT_EQ(String2Long(c.text, s), c.result);
    EXPECT_EQ(String2ULong(c.text, u), c.result);
    EXPECT_EQ(s, c.result == 0 ? c.signedValue : kUntouchedSigned);
    EXPECT_EQ(u, c.result == 0 ? c.unsignedValue : kUntouchedUnsigned);
}

INSTANTIATE_TEST_SUITE_P(
    Notations, NumberEntry,
    ::testing::Values(
        // The three notations of the same number; only the last character selects the base.
        EntryCase{"123", 0, 123, 123}, EntryCase{"7Bh", 0, 123, 123},
        EntryCase{"1111011b", 0, 123, 123}, EntryCase{"FFh", 0, 255, 255},
        EntryCase{"ffh", 0, 255, 255}, EntryCase{"1bh", 0, 27, 27}, EntryCase{"10b", 0, 2, 2},
        EntryCase{"0b", 0, 0, 0}, EntryCase{"0x7Bh", 0, 123, 123}, EntryCase{" 42", 0, 42, 42},
        EntryCase{"+7", 0, 7, 7},
        // Not a number in the selected notation.
        EntryCase{"7BH", -2, 0, 0}, EntryCase{"1111011B", -2, 0, 0}, EntryCase{"7B", -2, 0, 0},
        EntryCase{"12b", -2, 0, 0}, EntryCase{"h", -2, 0, 0}, EntryCase{"b", -2, 0, 0},
        EntryCase{"42 ", -2, 0, 0}, EntryCase{"12x", -2, 0, 0}, EntryCase{"-", -2, 0, 0},
        EntryCase{"0xh", -2, 0, 0}, EntryCase{"7h7h", -2, 0, 0},
        // Empty.
        EntryCase{"", -1, 0, 0}));

INSTANTIATE_TEST_SUITE_P(
    Saturation, NumberEntry,
    ::testing::Values(EntryCase{"-5", 0, -5, 4294967291U},
                      EntryCase{"2147483647", 0, 2147483647, 2147483647U},
                      EntryCase{"2147483648", 0, 2147483647, 2147483648U},
                      EntryCase{"-2147483648", 0, INT32_MIN, 2147483648U},
                      EntryCase{"-2147483649", 0, INT32_MIN, 2147483647U},
                      EntryCase{"4294967295", 0, 2147483647, 4294967295U},
                      EntryCase{"4294967296", 0, 2147483647, 4294967295U},
                      EntryCase{"-4294967295", 0, INT32_MIN, 1U},
                      EntryCase{"-4294967296", 0, INT32_MIN, 4294967295U},
                      EntryCase{"100000000h", 0, 2147483647, 4294967295U},
                      EntryCase{"-18446744073709551615", 0, INT32_MIN, 4294967295U},
                      EntryCase{"99999999999999999999999", 0, 2147483647, 4294967295U},
                      EntryCase{"-99999999999999999999999", 0, INT32_MIN, 4294967295U}));

TEST(NumberEntryNull, NullTextCountsAsEmpty) {
    int32_t s = kUntouchedSigned;
    uint32_t u = kUntouchedUnsigned;
    EXPECT_EQ(String2Long(nullptr, s), -1);
    EXPECT_EQ(String2ULong(nullptr, u), -1);
    EXPECT_EQ(s, kUntouchedSigned);
    EXPECT_EQ(u, kUntouchedUnsigned);
}

// A real number is the whole text or nothing: what the integer parsers refuse for its
// notation, a real reply refuses for a unit or a second number.
TEST(RealEntry, TakesTheWholeTextOnly) {
    const struct {
        const char *text;
        int result;
        float value;
    } cases[] = {
        {"2.5", 0, 2.5f},      {"1e1", 0, 10.0f},     {" -0.5", 0, -0.5f}, {"+.5", 0, 0.5f},
        {"5.", 0, 5.0f},       {"0x10", 0, 16.0f},    {"1e99", 0, INFINITY},
        {"-inf", 0, -INFINITY}, {"2.5V", -2, 0.0f},    {"7 9", -2, 0.0f},   {"1.5 ", -2, 0.0f},
        {"abc", -2, 0.0f},     {"1e", -2, 0.0f},      {".", -2, 0.0f},     {"-", -2, 0.0f},
        {"14h", -2, 0.0f},     {"", -1, 0.0f},
    };
    for (const auto &c : cases) {
        float value = 42.0f;
        EXPECT_EQ(String2Float(c.text, value), c.result) << c.text;
        EXPECT_EQ(value, c.result == 0 ? c.value : 42.0f) << c.text;
    }
    float value = 42.0f;
    EXPECT_EQ(String2Float("nan", value), 0);
    EXPECT_TRUE(std::isnan(value));
    EXPECT_EQ(String2Float(nullptr, value), -1);
}

// ---- sprintd --------------------------------------------------------------------------------

struct DigitsCase {
    double value;
    int digits;
    const char *expected;
};

void PrintTo(const DigitsCase &c, std::ostream *os) {
    *os << c.value << " @" << c.digits;
}

class SignificantDigits : public ::testing::TestWithParam<DigitsCase> {};

TEST_P(SignificantDigits, WritesTheDigitsAndReturnsTheLength) {
    const DigitsCase &c = GetParam();
    char buffer[64];
    const int n = sprintd(buffer, "%.*lf", c.value, static_cast<char>(c.digits));
    EXPECT_STREQ(buffer, c.expected);
    EXPECT_EQ(n, static_cast<int>(std::strlen(c.expected)));
}

INSTANTIATE_TEST_SUITE_P(
    Values, SignificantDigits,
    ::testing::Values(DigitsCase{123.456, 4, "123.5"}, DigitsCase{0.012345, 3, "0.0123"},
                      DigitsCase{98765, 3, "98765"}, DigitsCase{9.96, 2, "10.0"},
                      DigitsCase{1.0, 1, "1"}, DigitsCase{0.5, 2, "0.50"},
                      // Values without a logarithm of their own.
                      DigitsCase{-123.456, 4, "-123.5"}, DigitsCase{-0.012345, 3, "-0.0123"},
                      DigitsCase{0.0, 4, "0.000"}, DigitsCase{-0.0, 1, "-0"},
                      DigitsCase{kNaN, 4, "nan"}, DigitsCase{kInf, 4, "inf"},
                      DigitsCase{-kInf, 4, "-inf"},
                      // Digits of 0 or below never make the decimals negative.
                      DigitsCase{123.456, 0, "123"}, DigitsCase{0.25, -5, "0"}));

TEST(SignificantDigitsRange, SmallestDoubleHasAllItsDecimals) {
    char buffer[400];
    const int n = sprintd(buffer, "%.*le", std::numeric_limits<double>::denorm_min(), 2);
    // floor(log10(4.9e-324)) is -324, so 325 decimals reach the printf precision.
    EXPECT_EQ(std::string(buffer).substr(0, 4), "4.94");
    EXPECT_EQ(n, static_cast<int>(std::strlen(buffer)));
}

// ---- sprintt --------------------------------------------------------------------------------

struct TimeCase {
    double seconds;
    const char *expected;
};

void PrintTo(const TimeCase &c, std::ostream *os) {
    *os << c.seconds << " s";
}

class TimeFromSeconds : public ::testing::TestWithParam<TimeCase> {};

TEST_P(TimeFromSeconds, WritesHoursMinutesSeconds) {
    const TimeCase &c = GetParam();
    char buffer[32];
    const int n = sprintt(buffer, c.seconds);
    EXPECT_STREQ(buffer, c.expected);
    EXPECT_EQ(n, static_cast<int>(std::strlen(c.expected)));
}

INSTANTIATE_TEST_SUITE_P(
    Values, TimeFromSeconds,
    ::testing::Values(TimeCase{0.0, " 0:00:00.0"}, TimeCase{3725.3, " 1:02:05.3"},
                      TimeCase{59.9, " 0:00:59.9"}, TimeCase{60.0, " 0:01:00.0"},
                      TimeCase{360000.0, "100:00:00.0"},
                      // A remainder that rounds to 60.0 belongs to the next minute and hour.
                      TimeCase{59.96, " 0:01:00.0"}, TimeCase{3599.96, " 1:00:00.0"},
                      TimeCase{119.999999, " 0:02:00.0"}, TimeCase{59.94, " 0:00:59.9"},
                      // Negative times mirror positive ones.
                      TimeCase{-3725.3, "-1:02:05.3"}, TimeCase{-5.0, "-0:00:05.0"},
                      TimeCase{-59.96, "-0:01:00.0"},
                      // Beyond the fields.
                      TimeCase{kNaN, "nan"}, TimeCase{kInf, "inf"}, TimeCase{-kInf, "-inf"},
                      TimeCase{1e300, "1.0e+300"},
                      TimeCase{4294967295.0 * 60.0, "71582788:15:00.0"},
                      TimeCase{4294967296.0 * 60.0, "2.6e+11"}));

struct HundredthsCase {
    unsigned long hundredths;
    const char *expected;
};

void PrintTo(const HundredthsCase &c, std::ostream *os) {
    *os << c.hundredths;
}

class TimeFromHundredths : public ::testing::TestWithParam<HundredthsCase> {};

TEST_P(TimeFromHundredths, WritesHoursMinutesSecondsHundredths) {
    const HundredthsCase &c = GetParam();
    char buffer[32];
    const int n = sprintt(buffer, c.hundredths);
    EXPECT_STREQ(buffer, c.expected);
    EXPECT_EQ(n, static_cast<int>(std::strlen(c.expected)));
}

INSTANTIATE_TEST_SUITE_P(Values, TimeFromHundredths,
                         ::testing::Values(HundredthsCase{0, " 0:00:00.00"},
                                           HundredthsCase{372530, " 1:02:05.30"},
                                           HundredthsCase{6000, " 0:01:00.00"},
                                           HundredthsCase{5999, " 0:00:59.99"},
                                           HundredthsCase{36000000, "100:00:00.00"}));

// ---- sprintmt -------------------------------------------------------------------------------

struct MinuteTimeCase {
    const char *format;
    double seconds;
    const char *expected;
};

void PrintTo(const MinuteTimeCase &c, std::ostream *os) {
    *os << '"' << c.format << "\" " << c.seconds << " s";
}

class MinuteTime : public ::testing::TestWithParam<MinuteTimeCase> {};

TEST_P(MinuteTime, SwitchesToMinutesAndHoursFromOneMinute) {
    const MinuteTimeCase &c = GetParam();
    char buffer[64];
    const int n = sprintmt(buffer, c.format, c.seconds);
    EXPECT_STREQ(buffer, c.expected);
    EXPECT_EQ(n, static_cast<int>(std::strlen(c.expected)));
}

INSTANTIATE_TEST_SUITE_P(
    Values, MinuteTime,
    ::testing::Values(
        MinuteTimeCase{"%.2lfs", 45.5, "45.50s"}, MinuteTimeCase{"%.2lfs", 59.99, "59.99s"},
        MinuteTimeCase{"%.2lfs", 60.0, "1:00.00s"}, MinuteTimeCase{"%.2lfs", 125.5, "2:05.50s"},
        MinuteTimeCase{"%.2lfs", 3725.25, "1:02:05.25s"},
        MinuteTimeCase{"%.2lfs", 3599.0, "59:59.00s"},
        MinuteTimeCase{"%.2lfs", 360000.0, "100:00:00.00s"},
        // The caller's width is not carried; no point gives the tail "f" and width 2.
        MinuteTimeCase{"%8.2lf", 30.0, "   30.00"}, MinuteTimeCase{"%8.2lf", 125.5, "2:05.50"},
        MinuteTimeCase{"%lf", 125.5, "2:5.500000"}, MinuteTimeCase{"%.0lf s", 125.0, "2:05 s"},
        MinuteTimeCase{"%.0lf s", 125.4, "2:05 s"},
        // A remainder rounded up to 60 carries into the minutes and hours.
        MinuteTimeCase{"%.2lfs", 119.996, "2:00.00s"},
        MinuteTimeCase{"%.2lfs", 3599.996, "1:00:00.00s"}, MinuteTimeCase{"%.0lfs", 119.5, "2:00s"},
        // A carry that would make 2^32 hours keeps the caller's format.
        MinuteTimeCase{"%.2lfs", 4294967296.0 * 3600 - 0.002, "15461882265600.00s"},
        // Below a minute, NaN and infinity keep the caller's format.
        MinuteTimeCase{"%.2lfs", -30.0, "-30.00s"}, MinuteTimeCase{"%.2lfs", kNaN, "nans"},
        MinuteTimeCase{"%.2lfs", kInf, "infs"},
        // Negative times from a minute on mirror positive ones.
        MinuteTimeCase{"%.2lfs", -125.5, "-2:05.50s"},
        MinuteTimeCase{"%.2lfs", -3725.25, "-1:02:05.25s"},
        MinuteTimeCase{"%.2lfs", -kInf, "-infs"}));

TEST(MinuteTimeTail, LongestTailsThatFitAreUsedWhole) {
    char buffer[128];
    // Thirteen characters of tail in the minutes form, twenty in the hours form.
    EXPECT_EQ(sprintmt(buffer, "%.2lf seconds!", 125.5), 16);
    EXPECT_STREQ(buffer, "2:05.50 seconds!");
    EXPECT_EQ(sprintmt(buffer, "%.2lf seconds elapsed", 3725.25), 26);
    EXPECT_STREQ(buffer, "1:02:05.25 seconds elapsed");
}

TEST(MinuteTimeTail, TooLongTailIsRefusedWithAnEmptyText) {
    // A tail one character too long for each form, and one far too long: the built format
    // would not fit its local buffer, so nothing is formatted (and nothing overruns).
    const std::string longTail = "%.2lf" + std::string(200, 'x');
    struct {
        const char *format;
        double seconds;
    } cases[] = {{"%.2lf seconds!!", 125.5},
                 {"%.2lf seconds elapsed!", 3725.25},
                 {longTail.c_str(), 125.5},
                 {longTail.c_str(), -3725.25},
                 {"%.12lf seconds", 125.5}};
    for (const auto &c : cases) {
        char buffer[256];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(sprintmt(buffer, c.format, c.seconds), -1) << c.format;
        EXPECT_STREQ(buffer, "") << c.format;
    }
    // Below a minute the caller's format is used as it is, whatever its length.
    char buffer[256];
    EXPECT_EQ(sprintmt(buffer, longTail.c_str(), 1.0), 204);
}

// ---- sprintmp and sprintp -------------------------------------------------------------------

constexpr const char *kPath = R"(C:\Work\Projects\Alpha\Beta\report.txt)"; // 38 characters

struct PathCase {
    const char *path;
    int width;
    const char *atMost;  // sprintmp
    const char *exactly; // sprintp, blanks shown as '_'
};

void PrintTo(const PathCase &c, std::ostream *os) {
    *os << c.path << " @" << c.width;
}

class PathShortening : public ::testing::TestWithParam<PathCase> {};

TEST_P(PathShortening, BothFormsFitTheWidth) {
    const PathCase &c = GetParam();
    char buffer[128];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(sprintmp(buffer, c.path, c.width), static_cast<int>(std::strlen(c.atMost)));
    EXPECT_STREQ(buffer, c.atMost);

    std::memset(buffer, '#', sizeof buffer);
    std::string exactly = c.exactly;
    for (char &ch : exactly) {
        if (ch == '_') ch = ' ';
    }
    EXPECT_EQ(sprintp(buffer, c.path, c.width), std::max(c.width, 0));
    EXPECT_EQ(std::string(buffer), exactly);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PathShortening,
    ::testing::Values(PathCase{kPath, 40, kPath, R"(C:\Work\Projects\Alpha\Beta\report.txt__)"},
                      PathCase{kPath, 38, kPath, kPath},
                      PathCase{kPath, 30, R"(C:\..\Alpha\Beta\report.txt)",
                               R"(C:\..\Alpha\Beta\report.txt___)"},
                      PathCase{kPath, 20, R"(C:..\Beta\report.txt)", R"(C:\..\report.txt____)"},
                      PathCase{kPath, 16, R"(C:\..\report.txt)", R"(..eta\report.txt)"},
                      PathCase{kPath, 12, "..report.txt", "..report.txt"},
                      // No backslash at all: the tail form.
                      PathCase{"averylongfilename.txt", 10, "..name.txt", "..name.txt"},
                      // A network path keeps only its first backslash as the head.
                      PathCase{R"(\\server\share\projects\file.txt)", 20, R"(\..\file.txt)",
                               R"(\..\file.txt________)"},
                      // A relative path without a drive.
                      PathCase{R"(work\projects\alpha\file.txt)", 20, R"(work\..\file.txt)",
                               R"(work\..\file.txt____)"},
                      // Widths without room for "..".
                      PathCase{kPath, 2, "..", ".."}, PathCase{kPath, 1, ".", "."},
                      PathCase{kPath, 0, "", ""}, PathCase{kPath, -3, "", ""},
                      PathCase{"", 0, "", ""}));

} // namespace
