#include "conversation/project_data_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "platform/log.h"
#include "test_support/store_fixture.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::StoreFixture;

class ProjectDataStoreTest : public ::testing::Test, public StoreFixture {
protected:
    ProjectDataStoreTest() : StoreFixture("project-data.json") {}
};

StoredProjectData fullRecord() {
    StoredProjectData data;
    data.sections = {{"Verse", 9, 16, 2}, {"Intro", 1, 8, 0}};
    data.trackDescriptions = {{"Lead Vox", "main vocal"}, {"Bass", "synth bass"}};
    data.songStartBar = 1;
    data.songEndBar = 96;
    return data;
}

TEST_F(ProjectDataStoreTest, EmptyRecordWritesOnlyTheRequiredMembers) {
    ProjectDataStore store;
    EXPECT_EQ(store.load("Song"), std::nullopt);
    EXPECT_FALSE(fs::exists(store.fileURL()));

    store.save("Song", StoredProjectData{});
    EXPECT_EQ(testing::readAll(file()),
              "{\n"
              "  \"Song\": {\n"
              "    \"sections\": [],\n"
              "    \"trackDescriptions\": {}\n"
              "  }\n"
              "}");
    EXPECT_EQ(store.load("Song"), StoredProjectData{});
}

TEST_F(ProjectDataStoreTest, RecordsAreKeptPerProjectAndFoundOnlyByTheExactName) {
    ProjectDataStore store;
    StoredProjectData b;
    b.trackDescriptions = {{"Drums", "loop"}};
    store.save("Song A", fullRecord());
    store.save("Song B", b);

    StoredProjectData replaced;
    replaced.songEndBar = 40;
    store.save("Song A", replaced);

    ProjectDataStore restarted;
    EXPECT_EQ(restarted.load("Song A"), replaced);
    EXPECT_EQ(restarted.load("Song B"), b);
    EXPECT_EQ(restarted.load("song a"), std::nullopt);

    store.save("Song A", fullRecord());
    EXPECT_EQ(restarted.load("Song A"), fullRecord());  // nothing cached between stores
    const std::string text = testing::readAll(store.fileURL());
    EXPECT_NE(text.find(R"("colorIndex": 2,
        "endBar": 16,
        "name": "Verse",
        "startBar": 9)"),
              std::string::npos)
        << text;
    EXPECT_LT(text.find("\"songEndBar\""), text.find("\"songStartBar\""));
}

TEST(ProjectDataStore, OneBadRecordMakesTheWholeFileCorruptArchivedOnce) {
    const std::string good = R"("Good": {"sections": [], "trackDescriptions": {}})";
    struct Case {
        const char* what;
        std::string contents;
    };
    const Case cases[] = {
        {"record without trackDescriptions", "{" + good + R"(, "Bad": {"sections": []}})"},
        {"record without sections", "{" + good + R"(, "Bad": {"trackDescriptions": {}}})"},
        {"sections not a list", "{" + good + R"(, "Bad": {"sections": {}, "trackDescriptions": {}}})"},
        {"bar not an integer",
         "{" + good +
             R"(, "Bad": {"sections": [{"name": "A", "startBar": 1.5, "endBar": 2, "colorIndex": 0}],
                "trackDescriptions": {}}})"},
        {"bar out of range", "{" + good + R"(, "Bad": {"sections": [], "trackDescriptions": {}, "songEndBar": 1e12}})"},
        {"description not text", "{" + good + R"(, "Bad": {"sections": [], "trackDescriptions": {"A": 1}}})"},
        {"list instead of mapping", "[]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StoreFixture scene("project-data.json");
        platform::LogCapture logs;
        ProjectDataStore store;
        scene.prepare(c.contents);

        EXPECT_EQ(store.load("Good"), std::nullopt);
        EXPECT_EQ(store.load("Good"), std::nullopt);
        EXPECT_TRUE(logs.contains("[ProjectDataStore] decode failed: "));
        EXPECT_EQ(scene.backupCount(), 1u);
        const fs::path backup = scene.backup();
        scene.clock.sleep(std::chrono::seconds(1));
        EXPECT_EQ(store.load("Bad"), std::nullopt);
        EXPECT_EQ(scene.backupCount(), 1u) << "the same bytes are not copied again";
        EXPECT_EQ(testing::readAll(backup), c.contents);

        store.save("New", fullRecord());
        EXPECT_EQ(store.load("New"), fullRecord());
        EXPECT_EQ(store.load("Good"), std::nullopt);  // the backup keeps the old records
    }
}

TEST_F(ProjectDataStoreTest, IntegralBarsWrittenAsDecimalsStillLoad) {
    ProjectDataStore store;
    testing::writeAll(store.fileURL(), R"({"S": {"sections": [{"name": "A", "startBar": 1.0, "endBar": 4,
        "colorIndex": 3}], "trackDescriptions": {}, "songStartBar": null, "extra": true}})");
    StoredProjectData expected;
    expected.sections = {{"A", 1, 4, 3}};
    EXPECT_EQ(store.load("S"), expected);
}

TEST_F(ProjectDataStoreTest, CorruptFileThatCouldNotBeBackedUpIsNeverOverwritten) {
    platform::LogCapture logs;
    ProjectDataStore store;
    testing::writeAll(store.fileURL(), "{first");
    store.load("A");
    testing::writeAll(store.fileURL(), "{second");  // a second version within the same second

    EXPECT_TRUE(store.save("A", fullRecord()));
    EXPECT_EQ(testing::readAll(backup("2026-12-06T15-24-00Z")), "{first");
    EXPECT_EQ(testing::readAll(backup("2026-12-06T15-24-00Z-2")), "{second");

    testing::writeAll(store.fileURL(), "{third");
    const fs::path blocked = backup("2026-12-06T15-24-00Z-3");
    fs::create_symlink(blocked.filename(), blocked);  // a link looping where the next backup goes
    EXPECT_FALSE(store.save("A", fullRecord()));
    EXPECT_EQ(testing::readAll(store.fileURL()), "{third");
    EXPECT_TRUE(logs.contains("[ProjectDataStore] Not overwriting corrupt file without a backup: "));
    EXPECT_TRUE(store.lastFailure());
}

TEST_F(ProjectDataStoreTest, UnreadableFileStaysWhereItIsAndASaveSaysWhy) {
    ProjectDataStore store;
    fs::create_directories(store.fileURL() / "inner");  // a folder in its place

    EXPECT_FALSE(store.save("A", fullRecord()));
    EXPECT_EQ(store.lastFailure(), store.fileURL().string() + " could not be read and is not written over: Is a directory");
    EXPECT_TRUE(fs::is_directory(store.fileURL() / "inner"));
    EXPECT_FALSE(fs::exists(backup()));
    fs::remove_all(store.fileURL());
    EXPECT_TRUE(store.save("A", fullRecord()));
    EXPECT_EQ(ProjectDataStore().load("A"), fullRecord());
}

// Whatever the store writes, a later run reads back, and the running store answers as it will.
TEST_F(ProjectDataStoreTest, HostileValuesReadBackInALaterRun) {
    ProjectDataStore store;
    StoredProjectData data;
    data.sections = {{"Verse \xFF", INT_MIN, INT_MAX, INT_MIN}};
    data.trackDescriptions = {{"Lead \xC3", "warm \xFF"}};
    data.songStartBar = INT_MIN;
    data.songEndBar = INT_MAX;
    ASSERT_TRUE(store.save("Song \xFF", data));

    platform::LogCapture logs;
    auto later = ProjectDataStore().load("Song \uFFFD");
    ASSERT_TRUE(later);
    EXPECT_EQ(later, store.load("Song \uFFFD"));
    EXPECT_EQ(later->sections.at(0).startBar, INT_MIN);
    EXPECT_EQ(later->songEndBar, INT_MAX);
    EXPECT_EQ(later->trackDescriptions.at("Lead \uFFFD"), "warm \uFFFD");
    EXPECT_TRUE(logs.lines().empty());
}

TEST_F(ProjectDataStoreTest, StoreThatCannotWriteSaysSo) {
    fs::create_directories(home.root());
    testing::writeAll(home.appFolder(), "a file where the folder should be");
    platform::LogCapture logs;
    ProjectDataStore store;
    EXPECT_FALSE(store.save("A", fullRecord()));
    EXPECT_TRUE(store.lastFailure());
    EXPECT_TRUE(logs.contains("[ProjectDataStore] Could not write "));
    EXPECT_EQ(store.load("A"), std::nullopt);
}

}  // namespace
}  // namespace corvane
