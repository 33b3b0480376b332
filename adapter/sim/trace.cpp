#include "trace.h"

#include <cerrno>
#include <cstring>

namespace bxa7sim {

namespace {

const char kHex[] = "0123456789abcdef";

void appendQuoted(std::string &out, const char *text) {
    out += '"';
    for (const char *p = text; *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c > 0x7E) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

} // namespace

std::string quoted(const char *text) {
    std::string out;
    appendQuoted(out, text);
    return out;
}

TraceLine &TraceLine::arg(const char *name, int64_t value) {
    text_ += ' ';
    text_ += name;
    text_ += '=';
    text_ += std::to_string(value);
    return *this;
}

TraceLine &TraceLine::bytes(const char *name, const uint8_t *data, int64_t count) {
    text_ += ' ';
    text_ += name;
    text_ += '=';
    if (!data) {
        text_ += "(null)";
        return *this;
    }
    constexpr int64_t kShown = 64; // a line stays readable, and one write
    for (int64_t i = 0; i < count && i < kShown; ++i) {
        if (i) text_ += ' ';
        text_ += kHex[data[i] >> 4];
        text_ += kHex[data[i] & 0xF];
    }
    if (count > kShown) text_ += " ...";
    return *this;
}

TraceLine &TraceLine::text(const char *name, const char *value) {
    text_ += ' ';
    text_ += name;
    text_ += '=';
    text_ += value ? quoted(value) : "(null)";
    return *this;
}

TraceLine &TraceLine::result(int64_t value) {
    return result(std::to_string(value));
}

TraceLine &TraceLine::result(const std::string &formatted) {
    text_ += " -> ";
    text_ += formatted;
    return *this;
}

TraceFile::~TraceFile() {
    if (file_) std::fclose(file_);
}

bool TraceFile::open(const std::string &path, std::string &error) {
    if (path == path_ && (file_ || path.empty())) return true;
    if (file_) std::fclose(file_);
    file_ = nullptr;
    path_.clear();
    if (path.empty()) return true;
    file_ = std::fopen(path.c_str(), "a");
    if (!file_) {
        error = std::strerror(errno);
        return false;
    }
    path_ = path;
    return true;
}

void TraceFile::write(const TraceLine &line) {
    if (!file_) return;
    // One fwrite of the whole line, then the flush: a single write() to the O_APPEND file.
    const std::string text = line.str() + '\n';
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fflush(file_);
}

} // namespace bxa7sim
