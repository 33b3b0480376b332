// The platform's state file through its interface: what one process writes another sees,
// the lock excludes, failures name the path.
#include "state_file.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

using namespace bxa7sim;

namespace {

struct Seen {
    StateFile::Read read = StateFile::Read::Unchanged;
    std::string text;
};

Seen refresh(StateFile &file) {
    Seen seen;
    FileError error;
    EXPECT_TRUE(file.refresh(seen.read, seen.text, error)) << error.what << ": " << error.cause;
    return seen;
}

class StateFileTest : public testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("deeper/still/state"); // the directories do not exist yet
    FileError error;
};

TEST_F(StateFileTest, EachReplacementIsSeenOnceByEveryOtherUser) {
    StateFile writer(path), reader(path);
    EXPECT_EQ(refresh(reader).read, StateFile::Read::Missing);

    ASSERT_TRUE(writer.replace("first version\n", error)) << error.what << ": " << error.cause;
    Seen seen = refresh(reader);
    EXPECT_EQ(seen.read, StateFile::Read::Changed);
    EXPECT_EQ(seen.text, "first version\n");
    EXPECT_EQ(refresh(reader).read, StateFile::Read::Unchanged);
    EXPECT_EQ(refresh(writer).read, StateFile::Read::Unchanged); // its own write is known

    // Same size, written at once: still another version.
    ASSERT_TRUE(writer.replace("other version\n", error));
    seen = refresh(reader);
    EXPECT_EQ(seen.read, StateFile::Read::Changed);
    EXPECT_EQ(seen.text, "other version\n");

    ASSERT_TRUE(reader.replace("reader's turn\n", error));
    seen = refresh(writer);
    EXPECT_EQ(seen.read, StateFile::Read::Changed);
    EXPECT_EQ(seen.text, "reader's turn\n");
    std::ifstream in(path + ".tmp");
    EXPECT_FALSE(in.good()) << "the temporary file is renamed, not left behind";
}

TEST_F(StateFileTest, WhereNoDirectoryCanBeMadeTheFailureNamesIt) {
    std::ofstream(dir.file("deeper")) << "a file where a directory should be";
    StateFile file(path);
    EXPECT_FALSE(file.replace("text", error));
    EXPECT_EQ(error.what.rfind("cannot create the directory ", 0), 0u) << error.what;
    EXPECT_NE(error.what.find("deeper"), std::string::npos) << error.what;
    EXPECT_FALSE(error.cause.empty());
    EXPECT_FALSE(file.lock(error));
}

TEST_F(StateFileTest, TheLockIsHeldAgainstOthersUntilReleased) {
    StateFile first(path), second(path);
    auto held = first.lock(error);
    ASSERT_TRUE(held) << error.what << ": " << error.cause;

    std::atomic<bool> taken{false};
    std::thread other([&] {
        FileError otherError;
        auto lock = second.lock(otherError);
        taken = lock != nullptr;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(taken) << "the second lock was granted while the first was held";
    held.reset();
    other.join();
    EXPECT_TRUE(taken);
}

// A device at the path is neither read (it could block or swallow data) nor replaced.
TEST_F(StateFileTest, ADeviceIsRefused) {
#ifdef _WIN32
    const char *const devices[] = {"NUL", "con", "C:\\somewhere\\nul.txt", "COM1"};
#else
    const char *const devices[] = {"/dev/null", "/dev/zero"};
#endif
    for (const char *device : devices) {
        StateFile file(device);
        StateFile::Read read = StateFile::Read::Missing;
        std::string text;
        error = {};
        EXPECT_FALSE(file.refresh(read, text, error)) << device;
        EXPECT_EQ(error.what, std::string("the state file ") + device + " is not a regular file");
        EXPECT_EQ(error.cause, "Is a device");
    }
}

TEST(BootId, NamesTheSameBootWithinABoot) {
    const std::string id = currentBootId();
    EXPECT_FALSE(id.empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(sameBoot(id, currentBootId()));
    EXPECT_TRUE(sameBoot(currentBootId(), id));
    EXPECT_FALSE(sameBoot("", id));
}

} // namespace
