// A fresh directory for one test, removed with everything in it at the end.
#ifndef BXA7SIM_TESTS_TEMP_DIR_H
#define BXA7SIM_TESTS_TEMP_DIR_H

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

class TempDir {
public:
    // Under the system's temporary directory ($TMPDIR, else /tmp; %TMP% on Windows).
    TempDir() {
        namespace fs = std::filesystem;
        std::error_code error;
        const fs::path base = fs::temp_directory_path(error);
        if (error) throw std::runtime_error("no temporary directory");
        std::random_device seed;
        std::mt19937_64 random(seed());
        for (int attempt = 0; attempt < 100; ++attempt) {
            const fs::path candidate =
                base / ("bxa7-sim-test-" + std::to_string(random() % 1000000000000ull));
            if (fs::create_directory(candidate, error)) {
                path_ = candidate.generic_string();
                return;
            }
        }
        throw std::runtime_error("cannot create a temporary directory");
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
