// The bus transactions of every function that talks to the module: command codes for both
// channels, bytes, counts, last flags, and the failure paths.
#include "device_test.h"

#include <string>

namespace {

using scripted::Op;

constexpr uint8_t kSelectors[] = {0, 1, 255};

// Channel selector 0 picks the X code, every other selector the next code.
uint8_t codeFor(uint8_t xCode, bool perChannel, uint8_t selector) {
    return perChannel && selector != 0 ? static_cast<uint8_t>(xCode + 1) : xCode;
}

// ---- Functions that read ----------------------------------------------------------------

// Calls a reader with its outputs preset; `untouched` reports whether they still hold the
// preset values afterwards.
using ReaderCall = int32_t (*)(uint8_t channel, bool &untouched);

template <typename T> constexpr T kPreset = static_cast<T>(12.5);

template <typename T, int32_t(QVX_3_CALL *Function)(T *)>
int32_t plainReader(uint8_t, bool &untouched) {
    T out = kPreset<T>;
    const int32_t status = Function(&out);
    untouched = out == kPreset<T>;
    return status;
}

template <typename T, int32_t(QVX_3_CALL *Function)(uint8_t, T *)>
int32_t channelReader(uint8_t channel, bool &untouched) {
    T out = kPreset<T>;
    const int32_t status = Function(channel, &out);
    untouched = out == kPreset<T>;
    return status;
}

template <int32_t(QVX_3_CALL *Function)(char *)> int32_t textReader(uint8_t, bool &untouched) {
    char text[100] = "preset";
    const int32_t status = Function(text);
    untouched = std::string(text) == "preset";
    return status;
}

int32_t lowPassReader(uint8_t channel, bool &untouched) {
    uint16_t alpha = 0x1111;
    uint8_t beta = 0x22;
    const int32_t status = QVX_3_GetLPF(channel, &alpha, &beta);
    untouched = alpha == 0x1111 && beta == 0x22;
    return status;
}

struct Reader {
    const char *name;
    uint8_t xCode;
    bool perChannel;
    bool text;      // read with ReceiveString, `length` is the limit
    int32_t length; // bytes read, or the text limit
    bool converts;  // outputs are written only after the whole transaction succeeded
    ReaderCall call;
};

const Reader kReaders[] = {
    {"QVX_3_Prod_ID", 1, false, true, 81, false, textReader<QVX_3_Prod_ID>},
    {"QVX_3_Prod_No", 2, false, false, 4, false, plainReader<uint32_t, QVX_3_Prod_No>},
    {"QVX_3_FW_Ver", 3, false, false, 2, false, plainReader<uint16_t, QVX_3_FW_Ver>},
    {"QVX_3_FW_Date", 4, false, true, 16, false, textReader<QVX_3_FW_Date>},
    {"QVX_3_GetUptime", 5, false, false, 6, true, plainReader<double, QVX_3_GetUptime>},
    {"QVX_3_Get5V", 6, false, false, 2, true, plainReader<float, QVX_3_Get5V>},
    {"QVX_3_Get3V", 7, false, false, 2, true, plainReader<float, QVX_3_Get3V>},
    {"QVX_3_GetTemp", 8, false, false, 2, true, plainReader<float, QVX_3_GetTemp>},
    {"QVX_3_GetClkCPU", 9, false, false, 4, true, plainReader<float, QVX_3_GetClkCPU>},
    {"QVX_3_GetClkPer", 10, false, false, 4, true, plainReader<float, QVX_3_GetClkPer>},
    {"QVX_3_GetClkADC", 11, false, false, 4, true, plainReader<float, QVX_3_GetClkADC>},
    {"QVX_3_GetClkDAC", 12, false, false, 4, true, plainReader<float, QVX_3_GetClkDAC>},
    {"QVX_3_GetLPF", 13, true, false, 3, true, lowPassReader},
    {"QVX_3_GetHPF_Tau", 15, true, false, 1, false, channelReader<uint8_t, QVX_3_GetHPF_Tau>},
    {"QVX_3_GetAmplification", 17, true, false, 2, true,
     channelReader<float, QVX_3_GetAmplification>},
    {"QVX_3_GetPolarity", 19, true, false, 1, false, channelReader<uint8_t, QVX_3_GetPolarity>},
    {"QVX_3_GetThreshold", 21, true, false, 2, true, channelReader<float, QVX_3_GetThreshold>},
    {"QVX_3_GetDuration", 23, true, false, 2, true, channelReader<float, QVX_3_GetDuration>},
    {"QVX_3_GetFrequency", 25, true, false, 4, true, channelReader<double, QVX_3_GetFrequency>},
    {"QVX_3_GetState", 27, false, false, 1, false, plainReader<uint8_t, QVX_3_GetState>},
};

class ReaderTest : public DeviceTest, public ::testing::WithParamInterface<Reader> {
protected:
    std::vector<uint8_t> selectors() const {
        return GetParam().perChannel
                   ? std::vector<uint8_t>(std::begin(kSelectors), std::end(kSelectors))
                   : std::vector<uint8_t>{0};
    }

    Calls expectedRead(uint8_t selector) const {
        const Reader &r = GetParam();
        const uint8_t code = codeFor(r.xCode, r.perChannel, selector);
        return {scripted::call::send({code}, 0), r.text ? scripted::call::receiveString(r.length)
                                                        : scripted::call::receive(r.length)};
    }

    void queueAnswer() const {
        if (GetParam().text) {
            scripted::queueText("text");
        } else {
            scripted::queueAnswer(std::vector<uint8_t>(static_cast<size_t>(GetParam().length)));
        }
    }
};

TEST_P(ReaderTest, SendsTheCommandCodeAloneThenReadsTheAnswer) {
    for (const uint8_t selector : selectors()) {
        SCOPED_TRACE("channel selector " + std::to_string(selector));
        scripted::reset();
        queueAnswer();
        bool untouched = true;
        EXPECT_EQ(GetParam().call(selector, untouched), 0);
        EXPECT_EQ(scripted::calls(), expectedRead(selector));
    }
}

TEST_P(ReaderTest, FailingCommandWriteReturnsItsStatusAndReadsNothing) {
    for (const int32_t status : failureStatuses()) {
        SCOPED_TRACE("status " + std::to_string(status));
        scripted::reset();
        scripted::failCall(Op::Send, status, "send failed", "bus fault");
        bool untouched = false;
        EXPECT_EQ(GetParam().call(1, untouched), status);
        EXPECT_EQ(scripted::calls(), Calls{expectedRead(1).front()});
        if (GetParam().converts) {
            EXPECT_TRUE(untouched) << "a converted output changed";
        }
    }
}

TEST_P(ReaderTest, FailingReadReturnsItsStatusAndLeavesConvertedOutputsAlone) {
    for (const int32_t status : failureStatuses()) {
        SCOPED_TRACE("status " + std::to_string(status));
        scripted::reset();
        // A failing Receive leaves rubbish in the buffer it was given.
        scripted::failCall(GetParam().text ? Op::ReceiveString : Op::Receive, status,
                           "receive failed", "bus fault");
        bool untouched = false;
        EXPECT_EQ(GetParam().call(1, untouched), status);
        EXPECT_EQ(scripted::calls(), expectedRead(1));
        if (GetParam().converts) {
            EXPECT_TRUE(untouched) << "a converted output changed";
        }
    }
}

void PrintTo(const Reader &reader, std::ostream *out) {
    *out << reader.name;
}

std::string readerName(const ::testing::TestParamInfo<Reader> &info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(EveryReader, ReaderTest, ::testing::ValuesIn(kReaders), readerName);

// ---- Functions that write ---------------------------------------------------------------

struct Writer {
    const char *name;
    uint8_t xCode;
    int32_t (*call)(uint8_t channel);
    std::vector<uint8_t> payload; // what the call below sends after the code
};

const Writer kWriters[] = {
    {"QVX_3_SetLPF", 13, [](uint8_t channel) { return QVX_3_SetLPF(channel, 0xA7); }, {0xA7}},
    {"QVX_3_SetHPF_Tau", 15, [](uint8_t channel) { return QVX_3_SetHPF_Tau(channel, 9); }, {9}},
    {"QVX_3_SetAmplification",
     17,
     [](uint8_t channel) { return QVX_3_SetAmplification(channel, 1.0f); },
     {0x00, 0x01}},
    {"QVX_3_SetPolarity",
     19,
     [](uint8_t channel) { return QVX_3_SetPolarity(channel, 0xFF); },
     {0xFF}},
    {"QVX_3_SetThreshold",
     21,
     [](uint8_t channel) { return QVX_3_SetThreshold(channel, 5.0f); },
     {0x88, 0x13}},
    {"QVX_3_SetDuration",
     23,
     [](uint8_t channel) { return QVX_3_SetDuration(channel, 10.0f); },
     {0x10, 0x27}},
};

class WriterTest : public DeviceTest, public ::testing::WithParamInterface<Writer> {
protected:
    Calls expectedWrite(uint8_t selector) const {
        std::vector<uint8_t> bytes = {codeFor(GetParam().xCode, true, selector)};
        bytes.insert(bytes.end(), GetParam().payload.begin(), GetParam().payload.end());
        return writeShape(bytes);
    }
};

TEST_P(WriterTest, SendsCodeAndPayloadInOneFinalTransfer) {
    for (const uint8_t selector : kSelectors) {
        SCOPED_TRACE("channel selector " + std::to_string(selector));
        scripted::reset();
        EXPECT_EQ(GetParam().call(selector), 0);
        EXPECT_EQ(scripted::calls(), expectedWrite(selector));
    }
}

TEST_P(WriterTest, FailingWriteReturnsItsStatus) {
    for (const int32_t status : failureStatuses()) {
        SCOPED_TRACE("status " + std::to_string(status));
        scripted::reset();
        scripted::failCall(Op::Send, status, "send failed", "bus fault");
        EXPECT_EQ(GetParam().call(0), status);
        EXPECT_EQ(scripted::calls(), expectedWrite(0));
    }
}

void PrintTo(const Writer &writer, std::ostream *out) {
    *out << writer.name;
}

std::string writerName(const ::testing::TestParamInfo<Writer> &info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(EveryWriter, WriterTest, ::testing::ValuesIn(kWriters), writerName);

} // namespace
