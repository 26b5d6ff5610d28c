#include "support/store_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <vector>

#include "platform/log.h"
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

}  // namespace
}  // namespace corvane
