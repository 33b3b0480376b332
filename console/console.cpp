#include "console.h"

#include "bxa7.h"
#include "term.h"
#include "util.h"

#include <algorithm>

bool g_quietMode = false;
bool g_debugMode = false;

void PrintHeading(const char *line) {
    if (g_debugMode) term::printf("%s", line);
}

void EndPromptLine() {
    if (term::wherex() != 1) term::printf("\n");
}

namespace {

// The longest reply a number is read from.
constexpr std::size_t kMaxReplyLength = 255;

template <typename T>
Entry ReadEntry(int (*convert)(const char *, T &), T &value, std::size_t maxLength) {
    char line[kMaxReplyLength + 1];
    switch (term::readReply(line, std::min(maxLength, kMaxReplyLength) + 1)) {
    case term::Reply::Abandoned:
        EndPromptLine();
        return Entry::Abandoned;
    case term::Reply::TooLong:
        return Entry::Wrong;
    case term::Reply::Line:
    default:
        return convert(line, value) == 0 ? Entry::Number : Entry::Wrong;
    }
}

} // namespace

Entry ReadInteger(int32_t &value) {
    return ReadEntry(String2Long, value, kMaxReplyLength);
}

Entry ReadReal(float &value) {
    return ReadEntry(String2Float, value, kMaxReplyLength);
}

Entry ReadUnsigned(uint32_t &value, std::size_t maxLength) {
    return ReadEntry(String2ULong, value, maxLength);
}

namespace {

// Every line of a failure report goes through here: printed at once, so that a progress line
// shows before a slow flush, or collected when `into` is given.
void Say(std::string *into, const std::string &line) {
    if (into != nullptr)
        *into += line;
    else
        term::printf("%s", line.c_str());
}

std::string ErrorLine(const char *name) {
    // Both texts describe the failure only until the next adapter operation, and the I/O
    // text is the one asked for first.
    const char *ioText = BXA_7_IO_ErrorMessage();
    const char *errorText = BXA_7_ErrorMessage();
    return std::string("Error at ") + name + ": " + (errorText ? errorText : "") +
           ", I/O Error Message: " + (ioText ? ioText : "") + "\n";
}

void Flush(std::string *into) {
    if (g_debugMode) Say(into, "Flushing communication buffers of the BXA-7 adapter...\n");
    if (BXA_7_Flush_LPT() != 0) {
        Say(into, ErrorLine("BXA_7_Flush_LPT"));
        return;
    }
    if (g_debugMode) {
        Say(into, "Communication buffers of the BXA-7 adapter were flushed\n");
    } else if (!g_quietMode) {
        Say(into, "Buffers flushed\n");
    }
}

} // namespace

void PrintError(const char *name) {
    Say(nullptr, ErrorLine(name));
}

void FlushAdapter() {
    Flush(nullptr);
}

std::string FailureReport(const char *name) {
    std::string report = ErrorLine(name);
    Flush(&report);
    return report;
}

bool Failed(int32_t status, const char *name) {
    if (status == 0) return false;
    PrintError(name);
    FlushAdapter();
    return true;
}
