#include "support/user_defaults.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/files.h"
#include "test_support/store_fixture.h"

namespace corvane {
namespace {

TEST(UserDefaultsTest, UnreadableValuesReadAsAbsentAndWritesKeepOtherKeys) {
    testing::StoreFixture scene("user-defaults.json");
    JSONFileUserDefaults defaults;
    EXPECT_EQ(defaults.file(), scene.file());
    EXPECT_EQ(defaults.string("tier"), std::nullopt);  // no file

    scene.prepare("{not json");
    EXPECT_EQ(defaults.string("tier"), std::nullopt);
    defaults.setString("tier", "pro");
    EXPECT_EQ(defaults.string("tier"), "pro");
    EXPECT_EQ(testing::readAll(scene.backup()), "{not json") << "the undecodable file is kept beside it";
    EXPECT_EQ(testing::readAll(defaults.file()), "{\n  \"tier\": \"pro\"\n}\n");

    writeFileAtomically(defaults.file(), R"({"tier": 3, "other": {"kept": true}, "name": "x"})");
    EXPECT_EQ(defaults.string("tier"), std::nullopt);
    EXPECT_EQ(defaults.string("name"), "x");
    defaults.setString("tier", "standard");
    const auto stored = nlohmann::json::parse(readFile(defaults.file()).bytes);
    EXPECT_EQ(stored, nlohmann::json::parse(R"({"tier": "standard", "other": {"kept": true}, "name": "x"})"));
}

}  // namespace
}  // namespace corvane
