#include "module.h"
#include "state_codec.h"
#include "state_store.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace bxa7sim {
namespace {

using namespace qvx3;

// A state with something in every part of the file.
SimState busyState() {
    SimState s = freshState("0a1b-2c3d", 123456789);
    s.bus.selectedSlot = 200;
    s.bus.moduleSlot.reset();
    s.bus.foreign = {{0, 0x4896}, {255, 0xFFFF}};
    s.inputs[0].on = false;
    s.inputs[1] = {true, kMaxSignalMillihertz, kMaxSignalMicrovolts, 999999};
    s.forced = {{CMD_Prod_ID, {}},
                {CMD_FW_Date, {'2', '0', '3', '0'}},
                {CMD_Uptime, {1, 2, 3, 4, 5, 6}},
                {CMD_State, {0xFF}}};
    s.module.powerOn = 5;
    s.module.settings[1] = {0xA5, 0xFFFF, 255, 0, 65535, 0};
    s.module.counters[0] = {INT64_MAX, UINT64_MAX, 0xFFFFFFFF, true, false};
    return s;
}

TEST(StateCodec, ReadsBackWhatItWrote) {
    for (const SimState &s : {freshState("b", 0), busyState()}) {
        const std::string text = encodeState(s);
        const std::optional<SimState> back = decodeState(text);
        ASSERT_TRUE(back) << text;
        EXPECT_TRUE(*back == s) << text << "\n" << encodeState(*back);
    }
}

TEST(StateCodec, RefusesEverythingButAWholeValidState) {
    const std::string valid = encodeState(busyState());
    // Every truncation, at line ends and within lines.
    for (size_t n = 0; n < valid.size(); ++n)
        ASSERT_FALSE(decodeState(valid.substr(0, n))) << "prefix of " << n << " bytes";

    auto replaced = [&valid](const std::string &from, const std::string &to) {
        std::string s = valid;
        const size_t at = s.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? valid : s.replace(at, from.size(), to);
    };
    const std::string cases[] = {
        "",
        "\n",
        "garbage\n",
        replaced("bxa7-sim-state 1", "bxa7-sim-state 2"),
        valid + "end\n",
        valid + "\n",
        replaced("selected-slot 200", "selected-slot 256"),
        replaced("selected-slot 200", "selected-slot -1"),
        replaced("selected-slot 200", "selected-slot 0x10"),
        replaced("selected-slot 200", "selected-slot  200"),
        replaced("selected-slot 200\n", "selected-slot 200\nselected-slot 1\n"),
        replaced("module-slot none", "module-slot 255"), // 255 holds a foreign device
        replaced("foreign 255 65535", "foreign 255 65536"),
        replaced("input Y on 10000000000", "input Y on 10000000001"),
        replaced("1000000 500000\n", "1000000 0\n"), // duty 0
        replaced("input X off", "input X maybe"),
        replaced("input X", "input Z"),
        replaced("force 4 32303330", "force 4 3230333"),
        replaced("force 4 32303330", "force 4 32003330"), // a terminator inside a text
        replaced("force 27 ff", "force 27 ffff"),         // a 1-byte register
        replaced("force 27 ff", "force 17 0001"),         // a settings register
        replaced("force 27 ff", "force 28 ff"),
        replaced("force 27 ff", "force 27 zz"),
        replaced("settings Y 165", "settings Y 256"),
        replaced("counter X 9223372036854775807", "counter X 9223372036854775808"),
        replaced("4294967295 1 0", "4294967295 2 0"),
        replaced("\nend\n", "\nend\r\n"),
        replaced("boot 0a1b-2c3d", "boot "),
        replaced("power-on 5", "power-on"),
        replaced("power-on 5\n", ""),
        // Clock times before the boot would overflow the model's time differences.
        replaced("power-on 5", "power-on -5"),
        replaced("power-on 5", "power-on -9223372036854775808"),
        replaced("counter X 9223372036854775807", "counter X -1"),
    };
    // Sanity: the edited lines exist, so each case is one edit away from a valid state.
    EXPECT_TRUE(decodeState(replaced("selected-slot 200", "selected-slot 7")));
    for (const std::string &text : cases)
        EXPECT_FALSE(decodeState(text)) << text;
}

TEST(StateCodec, SurvivesRandomDamage) {
    const std::string valid = encodeState(busyState());
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        std::string text = valid;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            const size_t at = random() % text.size();
            switch (random() % 3) {
            case 0:
                text[at] = static_cast<char>(random() % 256);
                break;
            case 1:
                text.erase(at, 1 + random() % 8);
                break;
            default:
                text.insert(at, 1, " 0\n-x"[random() % 5]);
                break;
            }
            if (text.empty()) text = "x";
        }
        // Whatever is accepted must be a state that writes itself the same way again.
        if (const std::optional<SimState> s = decodeState(text)) {
            const std::optional<SimState> again = decodeState(encodeState(*s));
            ASSERT_TRUE(again && *again == *s) << text;
        }
    }
}

class StateStoreTest : public testing::Test {
protected:
    std::unique_ptr<StateStore> store(const std::string &boot = "boot-1") {
        return std::make_unique<StateStore>(path, boot, [this] { return now; });
    }
    std::string contents() const {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void write(const std::string &text) const { std::ofstream(path) << text; }
    ino_t inode() const {
        struct stat st {};
        return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    }

    TempDir dir;
    std::string path = dir.file("deeper/still/state"); // the directories do not exist yet
    int64_t now = 1000;
    FileError error;
};

TEST_F(StateStoreTest, CreatesAFreshModuleOnFirstUseAndSharesChanges) {
    auto a = store();
    const SimState *state = a->current(error);
    ASSERT_TRUE(state) << error.what << ": " << error.cause;
    EXPECT_TRUE(*state == freshState("boot-1", 1000));
    EXPECT_EQ(contents(), encodeState(*state));

    auto b = store(); // another process on the same file
    now = 2000;
    ASSERT_TRUE(b->update(
        [](SimState &s, int64_t t) {
            s.bus.selectedSlot = 42;
            EXPECT_EQ(t, 2000);
        },
        error));
    state = a->current(error);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->bus.selectedSlot, 42);
    EXPECT_EQ(state->module.powerOn, 1000); // the power-on time outlives the processes
}

TEST_F(StateStoreTest, ReadsAndUnchangingUpdatesNeverRewriteTheFile) {
    auto a = store();
    ASSERT_TRUE(a->current(error));
    const ino_t before = inode();
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(a->current(error));
        ASSERT_TRUE(a->update([](SimState &s, int64_t) { s.bus.selectedSlot = 0; }, error));
    }
    EXPECT_EQ(inode(), before);
    ASSERT_TRUE(a->update([](SimState &s, int64_t) { s.bus.selectedSlot = 1; }, error));
    EXPECT_NE(inode(), before);
}

TEST_F(StateStoreTest, AnEmptyOrDamagedFileIsAFreshlyPoweredOnModule) {
    const SimState kept = [] {
        SimState s = busyState();
        s.bootId = "boot-1";
        return s;
    }();
    struct Case {
        const char *what;
        std::string text;
        SimState expected;
        bool keptAside; // a damaged state file is kept beside it
    };
    SimState otherBoot = kept;
    otherBoot.bootId = "boot-0";
    SimState repowered = kept;
    powerCycle(repowered, 5000);
    const Case cases[] = {
        {"empty", "", freshState("boot-1", 5000), false},
        {"truncated", encodeState(kept).substr(0, 200), freshState("boot-1", 5000), true},
        {"cut in its first line", "bxa7-sim-state ", freshState("boot-1", 5000), true},
        {"valid", encodeState(kept), kept, false},
        {"from an earlier boot", encodeState(otherBoot), repowered, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir caseDir;
        path = caseDir.file("state");
        auto first = store();
        ASSERT_TRUE(first->current(error)); // creates the file
        write(c.text);
        now = 5000;
        std::vector<std::string> notices;
        StateStore second(path, "boot-1", [this] { return now; },
                          [&notices](const std::string &n) { notices.push_back(n); });
        const SimState *state = second.current(error);
        ASSERT_TRUE(state) << error.what << ": " << error.cause;
        EXPECT_TRUE(*state == c.expected) << encodeState(*state);
        EXPECT_EQ(contents(), encodeState(*state)); // repaired in the file, too
        if (c.keptAside) {
            ASSERT_EQ(notices.size(), 1u);
            EXPECT_EQ(notices[0], "the state file " + path + " was corrupt; kept as " + path +
                                      ".corrupt, a freshly powered-on module takes its place");
            std::ifstream aside(path + ".corrupt");
            std::stringstream text;
            text << aside.rdbuf();
            EXPECT_EQ(text.str(), c.text);
        } else {
            EXPECT_TRUE(notices.empty());
            EXPECT_FALSE(std::ifstream(path + ".corrupt").good());
        }
        // The process that had the old file open sees the new one too.
        state = first->current(error);
        ASSERT_TRUE(state);
        EXPECT_TRUE(*state == c.expected);
    }
}

TEST_F(StateStoreTest, DamagedFilesAreKeptAsideWithoutReplacingEarlierOnes) {
    path = dir.file("state");
    auto s = store();
    for (int round = 0; round < 3; ++round) {
        write("bxa7-sim-state 1\nround " + std::to_string(round) + "\n");
        ASSERT_TRUE(s->update([](SimState &st, int64_t) { st.bus.selectedSlot = 9; }, error))
            << error.what << ": " << error.cause;
        EXPECT_EQ(decodeState(contents())->bus.selectedSlot, 9);
    }
    const char *names[] = {".corrupt", ".corrupt.1", ".corrupt.2"};
    for (int round = 0; round < 3; ++round) {
        std::ifstream in(path + names[round]);
        std::string first, second;
        std::getline(in, first);
        std::getline(in, second);
        EXPECT_EQ(second, "round " + std::to_string(round)) << names[round];
    }
}

// What is not a state file of ours is refused by reads and changes alike, and stays exactly
// as it was: no replacement, no lock file, no temporary file beside it.
TEST_F(StateStoreTest, RefusesAndLeavesAloneWhatIsNoStateFileOfOurs) {
    struct Case {
        const char *what;
        std::function<void(const std::string &)> make;
        std::string message;
        std::string cause;
    };
    auto file = [](const std::string &text) {
        return [text](const std::string &p) { std::ofstream(p, std::ios::binary) << text; };
    };
    // The error's text around the path.
    const std::string notState = "the file |PATH| is not a state file and was left untouched";
    const std::string newer = "the state file |PATH| has a newer format version and was left "
                              "untouched";
    const std::string special = "the state file |PATH| is not a regular file";
    const Case cases[] = {
        {"notes", file("my notes\n"), notState, "set BXA7_SIM_STATE to another path"},
        {"one blank", file(" "), notState, "set BXA7_SIM_STATE to another path"},
        {"an executable", file("\x7f" "ELF\x01\x02"), notState,
         "set BXA7_SIM_STATE to another path"},
        {"the format word alone", file("bxa7-sim-state"), notState,
         "set BXA7_SIM_STATE to another path"},
        {"version 2", file("bxa7-sim-state 2\nwhatever comes then\n"), newer,
         "written by a newer bxa7-sim"},
        {"a huge version", file("bxa7-sim-state 99999999999999999999999\n"), newer,
         "written by a newer bxa7-sim"},
        {"a directory", [](const std::string &p) { mkdir(p.c_str(), 0700); }, special,
         "Is a directory"},
        // Reading a FIFO with no writer would block forever.
        {"a FIFO", [](const std::string &p) { mkfifo(p.c_str(), 0600); }, special, "Is a FIFO"},
        {"a socket",
         [](const std::string &p) {
             const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             std::snprintf(address.sun_path, sizeof address.sun_path, "%s", p.c_str());
             bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
             close(fd);
         },
         special, "Is a socket"},
        {"a device", [](const std::string &p) { symlink("/dev/null", p.c_str()); }, special,
         "Is a device"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir caseDir;
        path = caseDir.file("state");
        c.make(path);
        struct stat before {};
        ASSERT_EQ(lstat(path.c_str(), &before), 0);
        const std::string text = S_ISREG(before.st_mode) ? contents() : "";

        auto s = store();
        for (int attempt = 0; attempt < 2; ++attempt) { // the second sees an unchanged file
            error = {};
            EXPECT_FALSE(s->current(error));
            std::string expected = c.message;
            expected.replace(expected.find("|PATH|"), 6, path);
            EXPECT_EQ(error.what, expected);
            EXPECT_EQ(error.cause, c.cause);
            error = {};
            EXPECT_FALSE(s->update([](SimState &st, int64_t) { st.bus.selectedSlot = 1; }, error));
            EXPECT_EQ(error.cause, c.cause);
        }

        struct stat after {};
        ASSERT_EQ(lstat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
        if (S_ISREG(before.st_mode)) {
            EXPECT_EQ(contents(), text);
        }
        size_t entries = 0;
        for (const auto &entry : std::filesystem::directory_iterator(caseDir.path())) {
            EXPECT_EQ(entry.path().filename(), "state");
            ++entries;
        }
        EXPECT_EQ(entries, 1u);
    }
}

TEST_F(StateStoreTest, ALinkIsFollowedAndStaysALink) {
    const std::string target = dir.file("elsewhere/real-state");
    path = dir.file("state");
    ASSERT_EQ(symlink("elsewhere/real-state", path.c_str()), 0); // relative, dangling yet
    auto s = store();
    ASSERT_TRUE(s->current(error)) << error.what << ": " << error.cause;
    ASSERT_TRUE(s->update([](SimState &st, int64_t) { st.bus.selectedSlot = 77; }, error));

    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(decodeState(contents())->bus.selectedSlot, 77); // read through the link
    std::ifstream real(target);
    EXPECT_TRUE(real.good());
    EXPECT_TRUE(std::ifstream(target + ".lock").good()); // the lock beside the target
    EXPECT_FALSE(std::ifstream(path + ".lock").good());

    // Damage behind the link is kept beside the target, too.
    std::ofstream(target) << "bxa7-sim-state 1\n";
    ASSERT_TRUE(store()->current(error));
    EXPECT_TRUE(std::ifstream(target + ".corrupt").good());
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(StateStoreTest, ReportsAFileItCannotCreate) {
    const std::string plain = dir.file("plain");
    std::ofstream(plain) << "";
    const std::string blocked = plain + "/state"; // below a regular file
    StateStore s(blocked, "boot-1", [] { return int64_t{0}; });
    EXPECT_FALSE(s.current(error));
    EXPECT_NE(error.what.find(plain), std::string::npos) << error.what;
    EXPECT_EQ(error.cause, "Not a directory");
    EXPECT_FALSE(s.update([](SimState &, int64_t) {}, error));
}

} // namespace
} // namespace bxa7sim
