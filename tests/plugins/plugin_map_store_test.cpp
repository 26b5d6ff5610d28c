#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/log.h"
#include "plugins/plugin_map_store.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string mapText(const std::string& name, json aliases = nullptr, int parameters = 1) {
    json document = {{"name", name}, {"preferredView", "editor"}, {"parameters", json::array()}};
    for (int i = 0; i < parameters; ++i)
        document["parameters"].push_back({{"id", "p" + std::to_string(i)}, {"label", "P"}, {"type", "toggle"}});
    if (!aliases.is_null()) document["aliases"] = aliases;
    return document.dump();
}

class PluginMapStoreTest : public ::testing::Test {
protected:
    fs::path resources() const { return home_.root() / "resources"; }
    fs::path maps() const { return resources() / "PluginMaps"; }
    void put(const std::string& file, const std::string& bytes) {
        fs::create_directories(maps());
        testing::writeAll(maps() / file, bytes);
    }
    PluginMapStore loaded() {
        PluginMapStore store(resources());
        store.reload();
        return store;
    }
    std::string nameFor(const PluginMapStore& store, const std::string& slot) {
        const PluginMap* map = store.mapForPlugin(slot);
        return map ? map->name + "/" + std::to_string(map->parameters.size()) : "(none)";
    }

    testing::TempHome home_;
};

TEST_F(PluginMapStoreTest, NamesAndAliasesFindTheirMapAndTheLastFileWinsAKey) {
    put("10-channel-eq.json", mapText("Channel EQ", json::array({"EQ", "Chan EQ"}), 1));
    put("20-comp.json", mapText("COMPRESSOR", nullptr, 1));
    put("30-comp.json", mapText("Compressor", json::array(), 2));             // same name, other case: replaces
    put("40-eq.json", mapText("Linear EQ", json::array({"channel eq"}), 3));  // alias takes a name
    put("05-early.json", mapText("Early", json::array({"Linear EQ"}), 4));    // replaced by the later name

    auto store = loaded();
    EXPECT_EQ(nameFor(store, "compressor"), "Compressor/2");
    EXPECT_EQ(nameFor(store, "COMPRESSOR"), "Compressor/2");
    EXPECT_EQ(nameFor(store, "Channel EQ"), "Linear EQ/3");
    EXPECT_EQ(nameFor(store, "chan eq"), "Channel EQ/1");
    EXPECT_EQ(nameFor(store, "Eq"), "Channel EQ/1");
    EXPECT_EQ(nameFor(store, "Linear EQ"), "Linear EQ/3");
    EXPECT_EQ(nameFor(store, "Early"), "Early/4");
    // No trimming and no partial matches.
    EXPECT_EQ(nameFor(store, "Compressor "), "(none)");
    EXPECT_EQ(nameFor(store, "Compress"), "(none)");
    EXPECT_EQ(store.mapsByKey().size(), 6u);  // channel eq, eq, chan eq, compressor, linear eq, early
}

TEST_F(PluginMapStoreTest, ABadFileIsLoggedAndSkippedWhileTheOthersLoad) {
    put("a.json", mapText("Alpha"));
    json badCurve = json::parse(mapText("Bravo"));
    badCurve["parameters"][0]["curve"] = "cubic";
    put("b.json", badCurve.dump());
    put("c.json", "{ not json");
    fs::create_directories(maps() / "d.json");                  // a folder that merely looks like a map
    ASSERT_EQ(::mkfifo((maps() / "e.json").c_str(), 0600), 0);  // must not block the scan
    put("notes.txt", mapText("Ignored"));
    put("f.json", mapText("Foxtrot", nullptr, 2));

    platform::LogCapture log;
    auto store = loaded();
    EXPECT_EQ(nameFor(store, "alpha"), "Alpha/1");
    EXPECT_EQ(nameFor(store, "bravo"), "(none)");
    EXPECT_EQ(nameFor(store, "ignored"), "(none)");
    EXPECT_EQ(nameFor(store, "foxtrot"), "Foxtrot/2");

    auto lines = log.lines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "[PluginMapStore] Scanning 6 PluginMap resource(s)");
    EXPECT_EQ(lines[1], "[PluginMapStore] Loaded 'Alpha' (1 parameters) from a.json");
    EXPECT_EQ(lines[2].rfind("[PluginMapStore] Failed to decode b.json: ", 0), 0u) << lines[2];
    EXPECT_NE(lines[2].find("cubic"), std::string::npos) << lines[2];
    EXPECT_EQ(lines[3].rfind("[PluginMapStore] Failed to decode c.json: ", 0), 0u) << lines[3];
    EXPECT_EQ(lines[4], "[PluginMapStore] Could not read d.json");
    EXPECT_EQ(lines[5], "[PluginMapStore] Could not read e.json");
    EXPECT_EQ(lines[6], "[PluginMapStore] Loaded 'Foxtrot' (2 parameters) from f.json");
}

TEST_F(PluginMapStoreTest, TopLevelFilesServeOnlyWhenThePluginMapsFolderHasNone) {
    fs::create_directories(maps());
    testing::writeAll(resources() / "top.json", mapText("Top"));
    testing::writeAll(resources() / "settings.json", R"({"theme": "dark"})");
    auto store = loaded();
    EXPECT_EQ(nameFor(store, "top"), "Top/1");
    EXPECT_EQ(store.mapsByKey().size(), 1u);

    put("inner.json", mapText("Inner"));
    store.reload();  // starts over: the top-level file is no longer taken
    EXPECT_EQ(nameFor(store, "top"), "(none)");
    EXPECT_EQ(nameFor(store, "inner"), "Inner/1");
}

TEST_F(PluginMapStoreTest, AMissingResourceFolderLeavesAUsableEmptyStore) {
    platform::LogCapture log;
    PluginMapStore store(home_.root() / "nowhere");
    store.reload();
    EXPECT_TRUE(store.mapsByKey().empty());
    EXPECT_EQ(store.mapForPlugin("Compressor"), nullptr);
    EXPECT_TRUE(log.contains("[PluginMapStore] Scanning 0 PluginMap resource(s)"));
}

TEST_F(PluginMapStoreTest, TheShippedMapsLoadAndTheEnvironmentCanMoveThem) {
    std::optional<std::string> previous;
    if (const char* v = std::getenv("CORVANE_RESOURCES")) previous = v;
    ::unsetenv("CORVANE_RESOURCES");
    EXPECT_EQ(PluginMapStore::resourcesRoot(), fs::path(CORVANE_SOURCE_DIR) / "resources");

    platform::LogCapture log;
    PluginMapStore shipped;
    shipped.reload();
    EXPECT_FALSE(log.contains("Failed to decode"));
    const PluginMap* compressor = shipped.mapForPlugin("Compressor");
    ASSERT_NE(compressor, nullptr);
    ASSERT_EQ(compressor->parameters.size(), 2u);
    const auto& thr = compressor->parameters[0];
    EXPECT_EQ(thr.editorAX->identifier, "thr");
    EXPECT_EQ(rawToDisplay(127, thr), 0.0);
    EXPECT_EQ(rawToDisplay(0, thr), -60.0);
    const auto& autoGain = compressor->parameters[1];
    EXPECT_EQ(autoGain.editorAX->title, "Auto Gain");
    ASSERT_TRUE(autoGain.stateProbe);
    EXPECT_EQ(autoGain.stateProbe->x, 430);
    EXPECT_EQ(autoGain.stateProbe->litRGB, (std::vector<std::int64_t>{0, 200, 255}));

    put("moved.json", mapText("Moved"));
    ::setenv("CORVANE_RESOURCES", resources().c_str(), 1);
    PluginMapStore moved;
    moved.reload();
    EXPECT_EQ(nameFor(moved, "moved"), "Moved/1");
    EXPECT_EQ(moved.mapForPlugin("Compressor"), nullptr);

    if (previous)
        ::setenv("CORVANE_RESOURCES", previous->c_str(), 1);
    else
        ::unsetenv("CORVANE_RESOURCES");
}

}  // namespace
}  // namespace corvane
