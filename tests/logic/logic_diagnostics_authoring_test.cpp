// The plug-in window authoring dumps on the stand-in: their exact key sets, what the authoring walk
// records and skips, position rounding, the insert menu dump file, and the failure dictionaries.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "logic/logic_diagnostics.h"
#include "platform/standin/standin_fixture.h"
#include "support/base64.h"
#include "test_support/fake_ax.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

json pluginEditors() {
    std::ifstream in(std::string(CORVANE_SOURCE_DIR) + "/resources/Scenarios/plugin-editors.json");
    std::stringstream s;
    s << in.rdbuf();
    return json::parse(s.str());
}

std::set<std::string> keys(const json& object) {
    std::set<std::string> out;
    for (auto it = object.begin(); it != object.end(); ++it) out.insert(it.key());
    return out;
}

class LogicDiagnosticsAuthoring : public standin::testing::StandinTest {
protected:
    void SetUp() override {
        load(pluginEditors());
        if (const char* old = std::getenv("TMPDIR")) previousTmp_ = old;
        ::setenv("TMPDIR", home.root().c_str(), 1);
    }
    void TearDown() override {
        if (previousTmp_)
            ::setenv("TMPDIR", previousTmp_->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }

    platform::AXElement main() { return *inspector.findMainWindow(); }
    LogicInspector::InsertSlot labSlot() {
        EXPECT_TRUE(inspector.selectTrack("Synth"));
        return inspector.findTrackPluginSlots(main()).at(0);
    }
    void openLab() { inspector.findChildButton(labSlot().element, "open")->performAction(platform::ax::kPress); }

    testing::TempHome home;
    LogicInspector inspector;
    LogicDiagnostics diagnostics{inspector};
    std::optional<std::string> previousTmp_;
};

const json kLabBody = json::array({
    {{"label", "Level"},
     {"role", "AXSlider"},
     {"relX", 13},
     {"relY", 60},
     {"width", 60},
     {"height", 20},
     {"value", "50"},
     {"axHelp", "Output level knob"},
     {"axIdentifier", "lab.level"}},
    {{"label", "Outer"},
     {"role", "AXSlider"},
     {"relX", 100},
     {"relY", 90},
     {"width", 80},
     {"height", 40},
     {"value", "9"}},
    {{"label", "v2.0"},
     {"role", "AXStaticText"},
     {"relX", 200},
     {"relY", 30},
     {"width", 40},
     {"height", 12},
     {"text", "v2.0"}},
    {{"label", "Tempo\u2028Sync"}, {"role", "AXButton"}, {"relX", 250}, {"relY", 30}, {"width", 60}, {"height", 20}},
    {{"label", "Trim"},
     {"role", "AXSlider"},
     {"relX", 205},
     {"relY", 105},
     {"width", 60},
     {"height", 20},
     {"value", "11"}},
});

const json kLabUnlabelled = json::array({
    {{"axIndex", 1},
     {"role", "AXSlider"},
     {"value", "42"},
     {"relX", -1},
     {"relY", 90},
     {"width", 40},
     {"height", 40},
     {"axHelp", "Drive amount"},
     {"axIdentifier", "lab.drive"},
     {"axRoleDescription", "slider"}},
    {{"axIndex", 2},
     {"role", "AXSlider"},
     {"value", "5"},
     {"relX", 305},
     {"relY", 151},
     {"width", 40},
     {"height", 21},
     {"axRoleDescription", "slider"}},
});

TEST_F(LogicDiagnosticsAuthoring, OpenWindowSnapshotRecordsLabelledControlsAndNumbersUnlabelledSliders) {
    openLab();
    const json dump = diagnostics.dumpOpenPluginWindow();
    EXPECT_EQ(keys(dump), (std::set<std::string>{"pluginName", "windowTitle", "windowWidth", "windowHeight",
                                                 "unlabeledSliderCount", "labeledControlCount", "unlabeledSliders",
                                                 "labeledControls", "note", "screenshotBase64", "screenshotFormat"}));
    EXPECT_EQ(dump["pluginName"], "Authoring Lab");
    EXPECT_EQ(dump["windowTitle"], "Synth: Authoring Lab");
    EXPECT_EQ(dump["windowWidth"], 400.0);
    EXPECT_EQ(dump["windowHeight"], 240.0);
    EXPECT_EQ(dump["note"],
              "Window left open \u2014 nothing was clicked. Re-run to get a fresh snapshot after changing controls.");
    EXPECT_EQ(dump["screenshotFormat"], "jpeg");
    EXPECT_TRUE(base64Decode(dump["screenshotBase64"].get<std::string>()));

    // The window's own header controls come first, then the editor's.
    const json& labelled = dump["labeledControls"];
    std::vector<std::string> labels;
    for (const auto& r : labelled) labels.push_back(r["label"]);
    EXPECT_EQ(labels, (std::vector<std::string>{"close", "bypass", "compare", "copy", "paste", "previous", "next",
                                                "view", "Level", "Outer", "v2.0", "Tempo\u2028Sync", "Trim"}));
    EXPECT_EQ(json(std::vector<json>(labelled.end() - 5, labelled.end())), kLabBody);
    EXPECT_EQ(
        labelled[0],
        (json{{"label", "close"}, {"role", "AXButton"}, {"relX", 8}, {"relY", 4}, {"width", 14}, {"height", 14}}));
    EXPECT_EQ(dump["unlabeledSliders"], kLabUnlabelled);
    EXPECT_EQ(dump["labeledControlCount"], labelled.size());
    EXPECT_EQ(dump["unlabeledSliderCount"], 2);
    // Nothing was pressed: the window is still open.
    EXPECT_EQ(world().ui().pluginWindows.size(), 1u);

    world().setKnob("screenRecording", "denied");
    EXPECT_FALSE(diagnostics.dumpOpenPluginWindow().contains("screenshotBase64"));
}

TEST_F(LogicDiagnosticsAuthoring, SlotSnapshotOpensTheWindowAndClosesItAgain) {
    const json dump = diagnostics.dumpPluginParametersForAuthoring(labSlot(), main());
    EXPECT_EQ(keys(dump), (std::set<std::string>{"pluginName", "windowWidth", "windowHeight", "unlabeledSliderCount",
                                                 "labeledControlCount", "unlabeledSliders", "labeledControls",
                                                 "screenshotBase64", "screenshotFormat"}));
    EXPECT_EQ(dump["pluginName"], "Authoring Lab");
    EXPECT_EQ(dump["unlabeledSliders"], kLabUnlabelled);
    EXPECT_TRUE(world().ui().pluginWindows.empty());
}

TEST_F(LogicDiagnosticsAuthoring, AttributeDumpMatchesByLabelPrefixOrRole) {
    openLab();
    const json sliders = diagnostics.dumpFullAttributesInOpenPlugin("role:AxSlIdEr");
    EXPECT_EQ(sliders["prefix"], "role:AxSlIdEr");
    EXPECT_EQ(sliders["count"], 8);  // nested and value-less sliders included
    const json& level = sliders["matches"][0];
    EXPECT_EQ(keys(level), (std::set<std::string>{"label", "role", "attributes", "attributeNames"}));
    EXPECT_EQ(level["label"], "  Level  ");
    EXPECT_EQ(level["attributes"]["AXValue"], "50");
    EXPECT_EQ(level["attributes"]["AXSubrole"], "<nil>");
    EXPECT_EQ(level["attributes"]["AXValueDescription"], "-25.0 dB");
    EXPECT_EQ(level["attributeNames"].size(), level["attributes"].size());

    const json sync = diagnostics.dumpFullAttributesInOpenPlugin("TEMPO");
    EXPECT_EQ(sync["count"], 1);
    EXPECT_EQ(sync["matches"][0]["role"], "AXButton");
    EXPECT_GT(diagnostics.dumpFullAttributesInOpenPlugin("")["count"].get<int>(), 20);
}

TEST_F(LogicDiagnosticsAuthoring, InsertMenuDumpWritesAPrivateFileAndPreviewsTwentyItems) {
    const json dump = diagnostics.dumpPluginInsertMenu("Guitar");
    const fs::path file = home.root() / "plugin-insert-menu-probe.json";
    EXPECT_EQ(keys(dump), (std::set<std::string>{"track", "count", "probeFile", "note", "preview"}));
    EXPECT_EQ(dump["probeFile"], file.string());
    EXPECT_EQ(dump["note"], "Full dump saved to " + file.string() + ". Preview of first 20 items:");
    // The main menu mirrored in the Tracks window (2 items), then the insert menu (5 categories,
    // 6 plug-ins, 12 formats) below its bar and once more as the focused menu: nothing is merged.
    EXPECT_EQ(dump["count"], 48);
    EXPECT_EQ(dump["preview"].size(), 20u);
    EXPECT_EQ(world().ui().openMenu, "");

    const std::string text = testing::readAll(file);
    const json saved = json::parse(text);
    EXPECT_EQ(keys(saved), (std::set<std::string>{"count", "items", "track"}));
    EXPECT_EQ(saved["items"].size(), 48u);
    EXPECT_EQ(json(std::vector<json>(saved["items"].begin(), saved["items"].begin() + 20)), dump["preview"]);
    EXPECT_EQ(saved["items"][2],
              (json{{"title", "Delay"}, {"enabled", true}, {"depth", 7}, {"hasSubmenu", true}, {"childCount", 1}}));
    EXPECT_EQ(saved["items"][25],
              (json{{"title", "Delay"}, {"enabled", true}, {"depth", 1}, {"hasSubmenu", true}, {"childCount", 1}}));
    EXPECT_EQ(text.rfind("{\n  \"count\": 48,\n  \"items\": [", 0), 0u);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A link planted at the file's name is never written through.
    fs::remove(file);
    const fs::path victim = home.root() / "victim.txt";
    testing::writeAll(victim, "keep");
    fs::create_symlink(victim, file);
    diagnostics.dumpPluginInsertMenu("Guitar");
    EXPECT_EQ(testing::readAll(victim), "keep");
}

TEST_F(LogicDiagnosticsAuthoring, AShortInsertMenuIsPreviewedWhole) {
    json scenario = pluginEditors();
    scenario["plugins"] = json::array({{{"name", "Channel EQ"}, {"category", {"EQ"}}, {"formats", {"Mono", "Stereo"}}},
                                       {{"name", "Limiter"}, {"category", {"Dynamics"}}, {"formats", {"Stereo"}}}});
    load(scenario);
    const json dump = diagnostics.dumpPluginInsertMenu("Guitar");
    EXPECT_EQ(dump["count"], 16);  // 2 + 7 + 7
    EXPECT_EQ(dump["preview"].size(), 16u);
}

TEST_F(LogicDiagnosticsAuthoring, FailuresAreOneKeyErrorDictionaries) {
    auto slotless = testing::FakeElement::make("AXGroup", "Ghost");
    const LogicInspector::InsertSlot ghost{"Ghost", slotless->handle(), false};
    EXPECT_EQ(diagnostics.dumpOpenPluginWindow(),
              (json{{"error", "No plugin window is currently open in Logic. Open a plugin first."}}));
    EXPECT_EQ(diagnostics.dumpFullAttributesInOpenPlugin("x"), (json{{"error", "No plugin window currently open"}}));
    EXPECT_EQ(diagnostics.dumpPluginInsertMenu("Nobody"), (json{{"error", "Track not found: Nobody"}}));
    EXPECT_EQ(diagnostics.dumpPluginParametersForAuthoring(ghost, main()),
              (json{{"error", "No open button for Ghost"}}));

    world().setKnob("lateWindow", 5.0);
    EXPECT_EQ(diagnostics.dumpPluginParametersForAuthoring(labSlot(), main()),
              (json{{"error", "Plugin window did not appear"}}));

    const auto slot = labSlot();
    world().quitLogic();
    for (const json& failed :
         {diagnostics.dumpOpenPluginWindow(), diagnostics.dumpFullAttributesInOpenPlugin("x"),
          diagnostics.dumpPluginInsertMenu("Vox"), diagnostics.dumpPluginParametersForAuthoring(slot, slot.element)})
        EXPECT_EQ(failed, (json{{"error", "Logic not running"}}));
}

}  // namespace
}  // namespace corvane
