// PrintUptime: rounding, the three layouts, the line end that only standard output gets,
// and the defined outcome for times that do not fit the display.
#include "commands.h"
#include "term.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

struct UptimeCase {
    double seconds;
    const char *shown;
};

std::string Printed(double seconds, uint8_t toConsole) {
    testing::internal::CaptureStdout();
    PrintUptime(seconds, toConsole);
    term::flush(); // the layer holds output until the program waits; the capture ends now
    return testing::internal::GetCapturedStdout();
}

class PrintUptimeTest : public testing::TestWithParam<UptimeCase> {};

TEST_P(PrintUptimeTest, ConsoleHasNoLineEndStandardOutputHasOne) {
    const UptimeCase &c = GetParam();
    EXPECT_EQ(Printed(c.seconds, 1), c.shown);
    EXPECT_EQ(Printed(c.seconds, 7), c.shown) << "any non-zero flag means the console";
    EXPECT_EQ(Printed(c.seconds, 0), std::string(c.shown) + "\n");
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(Layouts, PrintUptimeTest,
                         testing::Values(UptimeCase{0.0, "0.00s"}, UptimeCase{7.25, "7.25s"},
                                         UptimeCase{0.125, "0.13s"}, // halves round up
                                         UptimeCase{59.994, "59.99s"},
                                         UptimeCase{59.999, "1:00.00"}, // rounded before the split
                                         UptimeCase{61.5, "1:01.50"},
                                         UptimeCase{3599.996, "1:00:00.00"},
                                         UptimeCase{3600.0, "1:00:00.00"},
                                         UptimeCase{3723.456, "1:02:03.46"},
                                         UptimeCase{360000.0, "100:00:00.00"}, // no days
                                         // Beyond 32-bit hundredths (about 497 days) and the
                                         // module's largest whole-second count: still exact.
                                         UptimeCase{42949673.0, "11930:27:53.00"},
                                         UptimeCase{4294967295.0, "1193046:28:15.00"}));

INSTANTIATE_TEST_SUITE_P(BadValues, PrintUptimeTest,
                         testing::Values(UptimeCase{-0.004, "0.00s"}, // rounds to zero anyway
                                         UptimeCase{-0.006, "0.00s"}, UptimeCase{-3600.0, "0.00s"},
                                         UptimeCase{-kInf, "0.00s"}, UptimeCase{kNaN, "0.00s"},
                                         UptimeCase{4294967296.5, "1193046:28:15.99"},
                                         UptimeCase{1e300, "1193046:28:15.99"},
                                         UptimeCase{kInf, "1193046:28:15.99"}));

} // namespace
