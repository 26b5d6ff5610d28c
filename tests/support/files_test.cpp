#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

#include "support/files.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

TEST(Files, ReadTellsMissingFromUnreadable) {
    testing::TempHome home;
    EXPECT_EQ(readFile(home.root() / "none").status, FileRead::Status::missing);
    auto f = home.root() / "f";
    testing::writeAll(f, "x");
    if (::geteuid() != 0) {  // root reads everything
        ::chmod(f.c_str(), 0);
        EXPECT_EQ(readFile(f).status, FileRead::Status::unreadable);
    }
    EXPECT_EQ(readFile(home.root()).status, FileRead::Status::unreadable);  // a folder
}

TEST(Files, AtomicWriteLeavesOldOrNewContentEvenWhenTheWriterIsKilled) {
    testing::TempHome home;
    auto f = home.root() / "store.json";
    const std::string oldText(200000, 'a'), newText(200000, 'b');
    ASSERT_TRUE(writeFileAtomically(f, oldText));
    for (int round = 0; round < 20; ++round) {
        pid_t child = ::fork();
        if (child == 0) {
            for (;;) writeFileAtomically(f, (round % 2) ? oldText : newText);
        }
        ::usleep(static_cast<useconds_t>(1000 + round * 300));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        auto text = readFile(f).bytes;
        EXPECT_TRUE(text == oldText || text == newText) << "torn file, size " << text.size();
    }
}

// Two copies of the program on one application folder: the one starting cleans the leftovers of
// a crash, never the temporary file the other is writing at that moment.
TEST(Files, CleaningLeftoversSparesAWriteUnderWayInAnotherProcess) {
    testing::TempHome home;
    const auto folder = home.root();
    const auto image = folder / "drop-1.png";
    const std::string bytes(1 << 20, 'p');
    testing::writeAll(folder / ".drop-0.png.tmp-0123456789ab", "left by a crash");
    const auto isDrop = [](std::string_view name) { return name.starts_with("drop-"); };

    pid_t writer = ::fork();
    if (writer == 0) {
        bool all = true;
        for (int i = 0; i < 30; ++i) all = writeFileAtomically(image, bytes) && all;
        ::_exit(all ? 0 : 1);
    }
    int status = 0;
    for (;;) {
        removeLeftoverTemporaryFiles(folder, isDrop);
        if (::waitpid(writer, &status, WNOHANG) == writer) break;
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a write lost its temporary file to the cleaner";
    EXPECT_EQ(testing::readAll(image), bytes);
    EXPECT_FALSE(fs::exists(folder / ".drop-0.png.tmp-0123456789ab"));
}

// The same within one process: a file its writer still holds is not a leftover.
TEST(Files, ATemporaryFileItsWriterHoldsIsKeptAndAnUnheldOneRemoved) {
    testing::TempHome home;
    const auto held = home.root() / ".store.json.tmp-0123456789ab";
    const auto left = home.root() / ".store.json.tmp-ba9876543210";
    testing::writeAll(held, "being written");
    testing::writeAll(left, "left by a crash");
    const int fd = ::open(held.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);

    removeLeftoverTemporaryFiles(home.root() / "store.json");
    EXPECT_TRUE(fs::exists(held));
    EXPECT_FALSE(fs::exists(left));
    ::close(fd);
    removeLeftoverTemporaryFiles(home.root() / "store.json");
    EXPECT_FALSE(fs::exists(held));
}

// A network mount without locks: flock answers ENOLCK. Writes still go; the cleaner cannot tell
// a crashed writer's file from one being written, and goes by age.
TEST(Files, WithoutLocksOnlyLeftoversOlderThanAnyWriteAreRemoved) {
    struct NoLocks {
        NoLocks() {
            setFlockFunctionForTesting([](int, int) {
                errno = ENOLCK;
                return -1;
            });
        }
        ~NoLocks() { setFlockFunctionForTesting(nullptr); }
    } noLocks;
    testing::TempHome home;
    const auto store = home.root() / "store.json";
    const auto crashed = home.root() / ".store.json.tmp-0123456789ab";
    const auto recent = home.root() / ".store.json.tmp-ba9876543210";
    testing::writeAll(crashed, "left by a crash");
    testing::writeAll(recent, "perhaps being written");
    const auto age = kLeftoverTemporaryAge + std::chrono::seconds(60);
    const timespec times[2] = {{.tv_sec = ::time(nullptr) - age.count(), .tv_nsec = 0},
                               {.tv_sec = ::time(nullptr) - age.count(), .tv_nsec = 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, crashed.c_str(), times, 0), 0);

    removeLeftoverTemporaryFiles(store);
    EXPECT_FALSE(fs::exists(crashed));
    EXPECT_TRUE(fs::exists(recent));

    EXPECT_FALSE(FileLock::acquire(store).held());
    ASSERT_TRUE(writeFileAtomically(store, "{}"));
    EXPECT_EQ(testing::readAll(store), "{}");
}

TEST(Files, PrivateFilesAre0600RefuseLinksAndAppendWithoutLosingLines) {
    testing::TempHome home;
    auto f = home.root() / "trace.log";
    std::vector<std::jthread> writers;
    for (int t = 0; t < 8; ++t)
        writers.emplace_back([&] {
            for (int i = 0; i < 100; ++i) appendToPrivateFile(f, "line\n");
        });
    writers.clear();
    struct stat st {};
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(testing::readAll(f).size(), 800u * 5);

    auto target = home.root() / "target";
    testing::writeAll(target, "keep");
    auto link = home.root() / "link";
    fs::create_symlink(target, link);
    EXPECT_FALSE(appendToPrivateFile(link, "evil"));
    EXPECT_FALSE(writePrivateFile(link, "evil"));
    EXPECT_EQ(testing::readAll(target), "keep");

    auto p = home.root() / "probe.json";
    ASSERT_TRUE(writePrivateFile(p, "{}"));
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace corvane
