// A simulated adapter (Session) on a fresh state file, with environment, clock and sleeps
// under the test's control.
#ifndef BXA7SIM_TESTS_SESSION_FIXTURE_H
#define BXA7SIM_TESTS_SESSION_FIXTURE_H

#include "session.h"
#include "state_store.h"
#include "status.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace bxa7sim {

// The adapter's host, under the test's control: environment, clock and sleeps.
class FakeHost {
public:
    explicit FakeHost(const std::string &statePath) {
        env["BXA7_SIM_STATE"] = statePath;
        env["BXA7_SIM_BUS_HZ"] = "0";
    }
    Host host() {
        Host h;
        h.getenv = [this](const char *name) -> const char * {
            const auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        };
        h.now = [this] { return now; };
        h.sleepUntil = [this](int64_t deadline) {
            sleeps.push_back(deadline - now);
            now = std::max(now, deadline);
        };
        h.bootId = "boot";
        return h;
    }

    std::map<std::string, std::string> env;
    int64_t now = 1000000000;
    std::vector<int64_t> sleeps; // how long each sleep lasted
};

class SessionTest : public testing::Test {
protected:
    Session &adapter() {
        if (!session) session = std::make_unique<Session>(fake.host());
        return *session;
    }
    Session &opened() {
        const int32_t status = adapter().open();
        EXPECT_EQ(status, kOk) << adapter().errorMessage();
        return adapter();
    }
    void expectFailure(int32_t status, int32_t expected, const std::string &error,
                       const std::string &io) {
        EXPECT_EQ(status, expected);
        EXPECT_EQ(adapter().errorMessage(), error);
        EXPECT_EQ(adapter().ioErrorMessage(), io);
    }
    // A read transaction as the device library makes it.
    int32_t read(uint8_t code, uint8_t *data, int32_t count) {
        if (const int32_t status = adapter().send(1, &code, 1, 0)) return status;
        return adapter().receive(1, data, count, 1);
    }
    int32_t write(std::vector<uint8_t> bytes) {
        return adapter().send(1, bytes.data(), static_cast<int32_t>(bytes.size()), 1);
    }
    // Changes the shared state as another process (bxa7-sim) would.
    void elsewhere(const std::function<void(SimState &)> &change) {
        StateStore other(statePath, "boot", [this] { return fake.now; });
        FileError error;
        ASSERT_TRUE(other.update([&](SimState &s, int64_t) { change(s); }, error));
    }
    std::string fileText(const std::string &path) const {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    TempDir dir;
    std::string statePath = dir.file("state");
    FakeHost fake{statePath};
    std::unique_ptr<Session> session;
};

} // namespace bxa7sim

#endif // BXA7SIM_TESTS_SESSION_FIXTURE_H
