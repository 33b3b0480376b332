// A program that drives the simulated adapter library from the command line, so that tests
// can run several processes against one state file. Each argument group is one step:
//   open | getslot | setslot N | check | write CODE BYTE... | read CODE COUNT |
//   text CODE LIMIT | sleep MS | hammer CODE FIRST COUNT | count CODE FIRST
// Results go to standard output, one line per step; a failed call prints
// "error STATUS: TEXT / IO-TEXT" and ends the program with status 1. hammer writes the
// 16-bit values FIRST to FIRST+COUNT-1 to CODE, reads each back at once and prints how
// many read back differently. count writes FIRST, FIRST+1, ... (16 bits) to CODE without
// end and prints "stored V" as soon as each write returned, for a test to kill it anywhere.
#include "bxa7.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

void check(int32_t status) {
    if (status == 0) return;
    std::printf("error %d: %s / %s\n", status, BXA_7_ErrorMessage(), BXA_7_IO_ErrorMessage());
    std::exit(1);
}

long number(const char *text) {
    return std::strtol(text, nullptr, 0);
}

void printBytes(const uint8_t *data, int count) {
    for (int i = 0; i < count; ++i)
        std::printf(i ? " %02x" : "%02x", data[i]);
    std::printf("\n");
}

int32_t readRegister(uint8_t code, uint8_t *data, int count) {
    if (const int32_t status = BXA_7_Send(1, &code, 1, 0)) return status;
    return BXA_7_Receive(1, data, count, 1);
}

} // namespace

int main(int argc, char **argv) {
    std::vector<const char *> args(argv + 1, argv + argc);
    auto next = [&](size_t &i) {
        if (++i >= args.size()) {
            std::fprintf(stderr, "sim_client: missing argument\n");
            std::exit(2);
        }
        return args[i];
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string step = args[i];
        if (step == "open") {
            check(BXA_7_Open());
            std::printf("opened\n");
        } else if (step == "getslot") {
            uint8_t slot = 0;
            check(BXA_7_GetSlot(&slot, 1, 0));
            std::printf("slot %u\n", slot);
        } else if (step == "setslot") {
            check(BXA_7_SetSlot(static_cast<uint8_t>(number(next(i))), 1, 0));
            std::printf("selected\n");
        } else if (step == "check") {
            uint8_t found = 0;
            check(BXA_7_Check(1, &found));
            std::printf("found %u\n", found);
        } else if (step == "write") {
            std::vector<uint8_t> bytes{static_cast<uint8_t>(number(next(i)))};
            while (i + 1 < args.size() && args[i + 1][0] >= '0' && args[i + 1][0] <= '9')
                bytes.push_back(static_cast<uint8_t>(number(next(i))));
            check(BXA_7_Send(1, bytes.data(), static_cast<int32_t>(bytes.size()), 1));
            std::printf("written\n");
        } else if (step == "read") {
            const auto code = static_cast<uint8_t>(number(next(i)));
            const int count = static_cast<int>(number(next(i)));
            std::vector<uint8_t> data(static_cast<size_t>(count));
            check(readRegister(code, data.data(), count));
            printBytes(data.data(), count);
        } else if (step == "text") {
            uint8_t code = static_cast<uint8_t>(number(next(i)));
            const int limit = static_cast<int>(number(next(i)));
            std::vector<char> text(static_cast<size_t>(limit) + 1);
            check(BXA_7_Send(1, &code, 1, 0));
            check(BXA_7_ReceiveString(1, text.data(), limit, 1));
            std::printf("%s\n", text.data());
        } else if (step == "sleep") {
            std::this_thread::sleep_for(std::chrono::milliseconds(number(next(i))));
        } else if (step == "hammer") {
            const auto code = static_cast<uint8_t>(number(next(i)));
            const long first = number(next(i));
            const long count = number(next(i));
            long differing = 0;
            for (long v = first; v < first + count; ++v) {
                const uint8_t bytes[] = {code, static_cast<uint8_t>(v & 0xFF),
                                         static_cast<uint8_t>(v >> 8 & 0xFF)};
                check(BXA_7_Send(1, bytes, 3, 1));
                uint8_t back[2] = {};
                check(readRegister(code, back, 2));
                if ((back[0] | back[1] << 8) != (v & 0xFFFF)) ++differing;
            }
            std::printf("differing %ld\n", differing);
        } else if (step == "count") {
            const auto code = static_cast<uint8_t>(number(next(i)));
            for (long v = number(next(i));; ++v) {
                const uint8_t bytes[] = {code, static_cast<uint8_t>(v & 0xFF),
                                         static_cast<uint8_t>(v >> 8 & 0xFF)};
                check(BXA_7_Send(1, bytes, 3, 1));
                std::printf("stored %ld\n", v & 0xFFFF);
                std::fflush(stdout);
            }
        } else {
            std::fprintf(stderr, "sim_client: unknown step '%s'\n", step.c_str());
            return 2;
        }
    }
    return 0;
}
