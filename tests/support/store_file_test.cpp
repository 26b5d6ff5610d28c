#include "support/store_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/log.h"
#include "test_support/no_descriptors.h"
#include "test_support/store_fixture.h"

namespace corvane {
namespace {

using nlohmann::json;

TEST(StoreFile, UndecodableFileIsReportedBeforeItsBackupAndThenWrittenOver) {
    testing::StoreFixture scene("store.json");
    const auto path = scene.file();
    scene.prepare(R"([1, "two"])");
    platform::LogCapture logs;
    StoreFile file(path, "TestStore");

    auto loaded = file.load<std::vector<int>>();
    EXPECT_EQ(loaded.found, StoreFile::Found::corrupt);
    EXPECT_TRUE(loaded.value.empty());
    auto lines = logs.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("[TestStore] decode failed: ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("[TestStore] Preserved corrupt file: ", 0), 0u) << lines[1];

    EXPECT_TRUE(file.save(loaded, json::array({3})));
    EXPECT_EQ(testing::readAll(path), "[\n  3\n]");
}

// The conversation store keeps chat history private; the pretty, sorted text is what every
// store file looks like, and one bad byte must not cost the whole write.
TEST(StoreFile, WritesArePrettySortedAndInTheStoresMode) {
    testing::StoreFixture scene("private.json");
    const auto path = scene.file();
    std::filesystem::create_directories(path.parent_path());
    StoreFile file(path, "TestStore", {.mode = 0600, .reportRefusedWrites = false});

    auto loaded = file.load<json>();
    EXPECT_EQ(loaded.found, StoreFile::Found::missing);
    ASSERT_TRUE(file.save(loaded, {{"b", 1}, {"a", "bad \xFF byte"}}));
    EXPECT_EQ(testing::readAll(path), "{\n  \"a\": \"bad \xEF\xBF\xBD byte\",\n  \"b\": 1\n}");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A copy stopped while it holds the lock, its lock file deleted meanwhile (as a user told that
// another copy holds the folder may do), another copy taking a new lock and writing: the first
// copy's write, of what it read before, must not replace the other's.
TEST(StoreFile, AWriteWhoseLockFileWasReplacedWhileHeldIsRefused) {
    testing::StoreFixture scene("store.json");
    const auto path = scene.file();
    scene.prepare("[1]");
    StoreFile first(path, "TestStore"), second(path, "TestStore");
    {
        const FileLock held = first.lock();
        auto loaded = first.load<std::vector<int>>();
        std::filesystem::remove(path.parent_path() / ".store.json.lock");
        {
            const FileLock other = second.lock();
            ASSERT_TRUE(other.held());
            auto read = second.load<std::vector<int>>();
            read.value.push_back(2);
            ASSERT_TRUE(second.save(read, json(read.value)));
        }
        loaded.value.push_back(3);
        EXPECT_FALSE(first.save(loaded, json(loaded.value)));
        EXPECT_NE(first.lastFailure().value_or("").find(".store.json.lock"), std::string::npos);
    }
    EXPECT_EQ(testing::readAll(path), "[\n  1,\n  2\n]");

    // Deleted while nobody wrote the file: the lock is taken again and the write goes.
    const FileLock held = first.lock();
    auto loaded = first.load<std::vector<int>>();
    std::filesystem::remove(path.parent_path() / ".store.json.lock");
    loaded.value.push_back(3);
    EXPECT_TRUE(first.save(loaded, json(loaded.value)));
    EXPECT_EQ(testing::readAll(path), "[\n  1,\n  2,\n  3\n]");
}

// Out of descriptors (idle connections up to the hard limit), a write was refused as if another
// copy of Corvane had written the file meanwhile, with none running, and a read failed without
// its reason: each refusal now says what happened.
TEST(StoreFile, OutOfDescriptorsARefusalSaysSo) {
    const std::string tooMany = std::generic_category().message(EMFILE);
    for (const bool atTheRead : {false, true}) {
        SCOPED_TRACE(atTheRead ? "the read" : "the version held at the lock");
        testing::StoreFixture scene("store.json");
        const auto path = scene.file();
        scene.prepare("[1]");
        StoreFile file(path, "TestStore");
        const FileLock held = FileLock::acquire(path);
        std::optional<StoreFile::Contents<std::vector<int>>> loaded;
        if (atTheRead) {
            file.lockedBy(held);
            const testing::NoDescriptors none;
            loaded = file.load<std::vector<int>>();
        } else {
            {
                const testing::NoDescriptors none;
                file.lockedBy(held);
            }
            loaded = file.load<std::vector<int>>();
        }
        EXPECT_EQ(loaded->found, atTheRead ? StoreFile::Found::unreadable : StoreFile::Found::decoded);
        EXPECT_FALSE(file.save(*loaded, json::array({2})));
        EXPECT_EQ(file.lastFailure(), path.string() + (atTheRead ? " could not be read and is not written over: "
                                                                 : " could not be written: ") +
                                          tooMany);
        EXPECT_EQ(testing::readAll(path), "[1]");
    }
}

// Under a file-size limit (ulimit -f) below the store's size, a write is refused with its reason,
// as on a full disk, rather than ending the program; a backup of an undecodable store that
// cannot be written whole leaves nothing behind, however often the store is read.
TEST(StoreFile, PastTheFileSizeLimitAWriteIsRefusedAndABackupCutShortIsRemoved) {
    testing::StoreFixture scene("store.json");
    const auto path = scene.file();
    const std::string large(350 * 1024, 'x');
    scene.prepare("[\"" + large);  // undecodable, and larger than the limit
    const pid_t child = ::fork();
    if (child == 0) {
        refuseWritesPastFileSizeLimit();
        const rlimit limit{64 * 1024, 64 * 1024};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(10);
        StoreFile file(path, "TestStore");
        for (int request = 0; request < 5; ++request) {
            auto loaded = file.load<json>();
            if (loaded.found != StoreFile::Found::corrupt || file.save(loaded, json::array())) ::_exit(1);
        }
        StoreFile other(path.parent_path() / "other.json", "TestStore");
        auto empty = other.load<json>();
        if (other.save(empty, json::array({large}))) ::_exit(2);
        const auto failure = other.lastFailure().value_or("");
        ::_exit(failure.find(std::generic_category().message(EFBIG)) != std::string::npos ? 0 : 3);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(path.parent_path()))
        if (entry.path().filename() != "store.json" && !entry.path().filename().string().ends_with(".lock"))
            left.push_back(entry.path().filename().string());
    EXPECT_TRUE(left.empty()) << left.size() << " files left, the first: " << left.front();
    EXPECT_EQ(testing::readAll(path), "[\"" + large);
}

}  // namespace
}  // namespace corvane
