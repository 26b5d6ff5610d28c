#include "conversation/memory_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <functional>
#include <iostream>
#include <thread>

#include "platform/log.h"
#include "test_support/store_fixture.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::StoreFixture;

std::vector<std::string> notesOf(const std::vector<Memory>& memories) {
    std::vector<std::string> notes;
    for (const auto& m : memories) notes.push_back(m.note);
    return notes;
}

ino_t inodeOf(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

std::string memoriesJSON(const std::vector<Memory>& memories) { return json(memories).dump(2); }

class MemoryStoreTest : public ::testing::Test, public StoreFixture {
protected:
    MemoryStoreTest() : StoreFixture("memories.json") {}
};

TEST_F(MemoryStoreTest, NothingIsWrittenUntilTheFirstAddWhichStoresATrimmedNote) {
    clock.set(testing::at("2026-12-06T15:24:00.123Z"));
    MemoryStore store;

    EXPECT_TRUE(store.all().empty());
    EXPECT_TRUE(store.masterMemories().empty());
    EXPECT_FALSE(fs::exists(store.fileURL()));

    Memory added = store.add("master", "  Prefers warm vocals \n").memory.value();
    EXPECT_EQ(added.note, "Prefers warm vocals");
    EXPECT_EQ(added.scope, "master");
    EXPECT_EQ(added.createdAt, "2026-12-06T15:24:00.123Z");
    ASSERT_EQ(added.id.size(), 6u);
    EXPECT_EQ(added.id.find_first_not_of("0123456789abcdef"), std::string::npos) << added.id;

    json stored = json::parse(testing::readAll(file()));
    ASSERT_TRUE(stored.is_array());
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0], (json{{"createdAt", "2026-12-06T15:24:00.123Z"},
                               {"id", added.id},
                               {"note", "Prefers warm vocals"},
                               {"scope", "master"}}));
    EXPECT_EQ(MemoryStore().all(), std::vector<Memory>{added});  // a fresh store reads it back
}

TEST_F(MemoryStoreTest, ScopeFiltersCompareTheWholeScopeAndOnlyMasterIsCaseSensitive) {
    MemoryStore store;
    store.add("master", "everywhere");
    store.add("Master", "capital master");
    store.add("Song:My Mix", "song capital");
    store.add("song:My Mix ", "song trailing space");
    store.add("song:My Mix Two", "other song");
    store.add("plugin:Pro-Q 3", "plugin");
    store.add("track:bass@my mix", "track lower");
    store.add("track:Bass", "track without song");
    store.add("track:Bass@Other", "track other song");

    struct Case {
        const char* what;
        std::vector<Memory> found;
        std::vector<std::string> notes;
    };
    const Case cases[] = {
        {"master", store.masterMemories(), {"everywhere"}},
        {"song lower case", store.songMemories("my mix"), {"song capital"}},
        {"song prefix only", store.songMemories("My"), {}},
        {"plugin", store.pluginMemories("PRO-Q 3"), {"plugin"}},
        {"track", store.trackMemories("Bass", "My Mix"), {"track lower"}},
        {"track other song", store.trackMemories("Bass", "Other"), {"track other song"}},
    };
    for (const auto& c : cases) EXPECT_EQ(notesOf(c.found), c.notes) << c.what;
}

TEST_F(MemoryStoreTest, RemoveTakesOnlyTheFirstMatchAndLeavesTheFileAloneWhenNothingMatches) {
    MemoryStore store;
    std::vector<Memory> stored = {{"abc123", "master", "first", "2026-12-06T15:24:00.000Z"},
                                  {"abc123", "master", "second", "2026-12-06T15:24:01.000Z"},
                                  {"def456", "song:A", "third", "2026-12-06T15:24:02.000Z"}};
    const std::string original = memoriesJSON(stored) + "\n";  // not our own formatting
    testing::writeAll(store.fileURL(), original);

    EXPECT_EQ(store.remove("ABC123").memory, std::nullopt);  // ids compare case-sensitively
    EXPECT_EQ(store.remove("ffffff").memory, std::nullopt);
    EXPECT_EQ(testing::readAll(store.fileURL()), original);

    EXPECT_EQ(store.remove("abc123").memory, stored[0]);
    EXPECT_EQ(notesOf(store.all()), (std::vector<std::string>{"second", "third"}));
}

TEST(MemoryStore, CorruptFileIsArchivedAndTheStoreStartsEmpty) {
    struct Case {
        const char* what;
        std::string contents;
    };
    const Case cases[] = {
        {"object instead of array", R"({"id": "abc123"})"},
        {"truncated", R"([{"id": "abc123", "scope": "master")"},
        {"missing note", R"([{"id": "abc123", "scope": "master", "createdAt": "x"}])"},
        {"id of the wrong type", R"([{"id": 7, "scope": "master", "note": "n", "createdAt": "x"}])"},
        {"empty file", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StoreFixture scene("memories.json", "2026-12-06T15:24:00.500Z");
        platform::LogCapture logs;
        MemoryStore store;
        scene.prepare(c.contents);

        EXPECT_TRUE(store.all().empty());
        EXPECT_TRUE(logs.contains("[MemoryStore] decode failed: "));
        const fs::path backup = scene.backup();
        EXPECT_TRUE(logs.contains("[MemoryStore] Preserved corrupt file: " + backup.string()));
        EXPECT_EQ(testing::readAll(backup), c.contents);
        EXPECT_EQ(store.remove("abc123").memory, std::nullopt);
        EXPECT_EQ(testing::readAll(store.fileURL()), c.contents);  // reads never write

        scene.clock.sleep(std::chrono::seconds(1));
        Memory added = store.add("master", "fresh").memory.value();
        EXPECT_EQ(store.all(), std::vector<Memory>{added});
        EXPECT_EQ(testing::readAll(backup), c.contents);
    }
}

// A link that loops where this second's backup would go: the copy fails, so the file's own
// bytes exist nowhere else.
TEST_F(MemoryStoreTest, CorruptFileThatCouldNotBeBackedUpIsNeverOverwritten) {
    platform::LogCapture logs;
    MemoryStore store;
    prepare("{second");
    const fs::path blocked = backup();
    fs::create_symlink(blocked.filename(), blocked);

    store.add("master", "note");
    EXPECT_EQ(testing::readAll(store.fileURL()), "{second");
    EXPECT_TRUE(logs.contains("[MemoryStore] Not overwriting corrupt file without a backup: "));
    EXPECT_TRUE(store.lastFailure());

    clock.sleep(std::chrono::seconds(1));  // a new second: the backup can be made now
    Memory added = store.add("master", "note").memory.value();
    EXPECT_EQ(store.all(), std::vector<Memory>{added});
    EXPECT_FALSE(store.lastFailure());
    EXPECT_EQ(testing::readAll(backup("2026-12-06T15-24-01Z")), "{second");
}

// What cannot be read stays where it is, never written over, and every change says why.
TEST(MemoryStore, UnreadableFileStaysWhereItIsAndEveryChangeSaysWhy) {
    struct Case {
        const char* what;
        std::function<bool(const fs::path&)> makeUnreadable;  // false: cannot be done here
    };
    const Case cases[] = {
        {"no read permission",
         [](const fs::path& file) {
             if (::geteuid() == 0) return false;  // root reads it anyway
             testing::writeAll(file, "[]");
             fs::permissions(file, fs::perms::none);
             return true;
         }},
        {"link that points to itself",
         [](const fs::path& file) {
             fs::create_symlink(file.filename(), file);
             return true;
         }},
        {"folder in its place", [](const fs::path& file) { return fs::create_directory(file); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StoreFixture scene("memories.json");
        platform::LogCapture logs;
        MemoryStore store;
        if (!c.makeUnreadable(store.fileURL())) {
            std::cout << "[  SKIPPED ] " << c.what << ": not possible as root\n";
            continue;
        }
        const fs::path backup = scene.backup();
        const ino_t before = inodeOf(store.fileURL());

        EXPECT_TRUE(store.all().empty());
        const MemoryChange refused = store.add("master", "note");
        EXPECT_NE(refused.failure.value_or("").find(store.fileURL().string() + " could not be read"), std::string::npos)
            << refused.failure.value_or("");
        EXPECT_EQ(inodeOf(store.fileURL()), before) << "moved or replaced";
        EXPECT_FALSE(fs::exists(fs::symlink_status(backup)));
    }
}

// Whatever the store writes, a later run reads back, and the running store answers as it will.
TEST_F(MemoryStoreTest, InvalidTextReadsBackInALaterRun) {
    MemoryStore store;
    Memory added = store.add("song:\xFF", "note \xC3").memory.value();
    EXPECT_EQ(added.note, "note \uFFFD");
    platform::LogCapture logs;
    EXPECT_EQ(MemoryStore().all(), std::vector<Memory>{added});
    EXPECT_EQ(store.all(), std::vector<Memory>{added});
    EXPECT_TRUE(logs.lines().empty());
}

// A folder that cannot hold the file: the failure is kept for the caller and nothing is held.
TEST_F(MemoryStoreTest, StoreThatCannotWriteSaysSo) {
    fs::create_directories(home.root());
    testing::writeAll(home.appFolder(), "a file where the folder should be");
    platform::LogCapture logs;
    MemoryStore store;
    store.add("master", "note");
    EXPECT_TRUE(store.lastFailure());
    EXPECT_TRUE(logs.contains("[MemoryStore] Could not write "));
    EXPECT_TRUE(store.all().empty());
}

TEST_F(MemoryStoreTest, ConcurrentAddsFromManyThreadsAreAllKept) {
    MemoryStore store;
    std::vector<std::jthread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&store, t] {
            for (int i = 0; i < 10; ++i) store.add("song:A", std::to_string(t * 10 + i));
        });
    threads.clear();
    EXPECT_EQ(store.songMemories("A").size(), 80u);
}

}  // namespace
}  // namespace corvane
