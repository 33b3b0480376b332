// What the device library's tests share: a fixture that starts every test with an empty
// scripted adapter, and the calls a correct transaction makes.
#ifndef QVX3_DEVICE_TEST_H
#define QVX3_DEVICE_TEST_H

#include "qvx3.h"
#include "scripted_adapter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override { scripted::reset(); }
};

using Calls = std::vector<scripted::Call>;

// The read shape: the command code alone, then `count` bytes.
inline Calls readShape(uint8_t code, int32_t count) {
    return {scripted::call::send({code}, 0), scripted::call::receive(count)};
}

// The write shape: the command code and its payload in one transfer.
inline Calls writeShape(std::vector<uint8_t> bytes) {
    return {scripted::call::send(std::move(bytes), 1)};
}

// A register as the module answers it, and the value the library makes of it.
struct Reading {
    std::vector<uint8_t> answer;
    double expected; // for float results: the float nearest to it
};

// Feeds each answer to `read` (a function that reads into a T and returns a status) and
// expects the converted value, exactly.
template <typename T, typename Read>
void expectReadings(Read read, const std::vector<Reading> &readings) {
    for (const Reading &reading : readings) {
        scripted::reset();
        scripted::queueAnswer(reading.answer);
        T value = -7;
        ASSERT_EQ(read(&value), 0);
        EXPECT_EQ(value, static_cast<T>(reading.expected))
            << "answer " << ::testing::PrintToString(reading.answer);
    }
}

// The statuses that failure tests feed through: the library must pass every one unchanged.
inline const std::vector<int32_t> &failureStatuses() {
    static const std::vector<int32_t> statuses = {-1, 1, 4711, INT32_MIN, INT32_MAX};
    return statuses;
}

#endif // QVX3_DEVICE_TEST_H
