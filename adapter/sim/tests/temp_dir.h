// A fresh directory for one test, removed with everything in it at the end.
#ifndef BXA7SIM_TESTS_TEMP_DIR_H
#define BXA7SIM_TESTS_TEMP_DIR_H

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

class TempDir {
public:
    TempDir() {
        const char *base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base && base[0] ? base : "/tmp") + "/bxa7-sim-test-XXXXXX";
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot create a temporary directory");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    std::string file(const std::string &name) const { return path_ + "/" + name; }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

#endif // BXA7SIM_TESTS_TEMP_DIR_H
