// The call trace (BXA7_SIM_TRACE): one line per adapter call,
//     <function>[ <argument>=<value>...] -> <result>[ <output>=<value>...]
// e.g.
//     BXA_7_Send bus=1 count=1 last=0 data=05 -> 0
//     BXA_7_Receive bus=1 count=6 last=1 -> 0 data=10 0e 00 00 00 02
//     BXA_7_Receive bus=1 count=4 last=1 -> 6 error="BXA_7_Receive: command 5 answers ..."
// Bytes are two lower-case hexadecimal digits each (the first 64, then "..."); texts are quoted,
// with \" \\ and \xNN for quotes, backslashes and bytes outside printable ASCII.
#ifndef BXA7SIM_TRACE_H
#define BXA7SIM_TRACE_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace bxa7sim {

class TraceLine {
public:
    explicit TraceLine(const char *function) : text_(function) {}

    TraceLine &arg(const char *name, int64_t value);
    TraceLine &bytes(const char *name, const uint8_t *data, int64_t count);
    TraceLine &text(const char *name, const char *text);
    // Starts the result part: " -> value".
    TraceLine &result(int64_t value);
    TraceLine &result(const std::string &formatted);

    const std::string &str() const { return text_; }

private:
    std::string text_;
};

// `text` quoted as the trace writes texts.
std::string quoted(const char *text);

// The trace file, appended to; each line reaches the file in one write, so processes that
// share it do not mix their lines.
class TraceFile {
public:
    TraceFile() = default;
    ~TraceFile();
    TraceFile(const TraceFile &) = delete;
    TraceFile &operator=(const TraceFile &) = delete;

    // Opens `path` for appending; an empty path traces nothing. False with `error` (the
    // system's reason) when the file cannot be opened.
    bool open(const std::string &path, std::string &error);
    void write(const TraceLine &line);

private:
    std::FILE *file_ = nullptr;
    std::string path_;
};

} // namespace bxa7sim

#endif // BXA7SIM_TRACE_H
