#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "logic/logic_diagnostics.h"
#include "platform/standin/standin_fixture.h"
#include "platform/standin/taper.h"
#include "support/image_encoding.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;
namespace taper = standin::taper;

std::set<std::string> keysOf(const json& j) {
    std::set<std::string> keys;
    for (auto it = j.begin(); it != j.end(); ++it) keys.insert(it.key());
    return keys;
}

unsigned modeOf(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

json truncated(platform::Rect r) {
    auto t = [](double v) { return static_cast<std::int64_t>(v); };
    return {{"x", t(r.x)}, {"y", t(r.y)}, {"w", t(r.width)}, {"h", t(r.height)}};
}

class LogicDiagnosticsProbes : public standin::testing::StandinTest {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        tmp_ = home.root() / "tmp";
        fs::create_directories(tmp_);
        if (const char* old = std::getenv("TMPDIR")) previous_ = old;
        ::setenv("TMPDIR", tmp_.c_str(), 1);
    }
    void TearDown() override {
        if (previous_)
            ::setenv("TMPDIR", previous_->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }
    json readJson(const fs::path& p) { return json::parse(testing::readAll(p)); }
    long long virtualEpochSeconds() {
        using namespace std::chrono;
        return duration_cast<seconds>(platform::clock().now().time_since_epoch()).count();
    }

    testing::TempHome home;
    LogicInspector inspector;
    LogicDiagnostics diagnostics{inspector};
    fs::path tmp_;
    std::optional<std::string> previous_;
};

TEST_F(LogicDiagnosticsProbes, MenuProbeListsTheOpenedMenuClosesItAndKeepsAPrivateCopy) {
    auto result = diagnostics.probeInsertBarMenu("Kick", -1, false, 0);
    ASSERT_FALSE(result.contains("error")) << result.dump();
    EXPECT_EQ(keysOf(result), (std::set<std::string>{"targetSlot", "clickMethod", "targetBarFrame", "windows",
                                                     "focusedRole", "menuItemCount", "menuItemsPreview",
                                                     "menuNodeCount", "menuNodes", "fullDumpFile"}));
    EXPECT_EQ(result["targetSlot"], -1);
    EXPECT_EQ(result["clickMethod"], "AXPress");
    EXPECT_EQ(result["targetBarFrame"], truncated(*world().insertBarFrame(0, 2)));  // the bar below the chain
    EXPECT_EQ(result["focusedRole"], "AXMenu");
    EXPECT_EQ(result["windows"], (json::array({{{"idx", 0},
                                                {"title", "Demo Song - Tracks"},
                                                {"role", "AXWindow"},
                                                {"subrole", "AXStandardWindow"},
                                                // menu bar, control bar, Inspector, Project, Tracks and
                                                // the three title-bar buttons
                                                {"children", 8}}})));
    // 2 main-menu items + 15 insert-menu entries below the bar, and the same 15 again as the focused menu.
    EXPECT_EQ(result["menuItemCount"], 32);
    EXPECT_EQ(result["menuItemsPreview"].size(), 32u);
    EXPECT_EQ(result["menuNodeCount"], result["menuNodes"].size());
    EXPECT_EQ(world().ui().openMenu, "");  // closed with Escape

    const fs::path file = tmp_ / "insert-bar-menu-probe.json";
    EXPECT_EQ(result["fullDumpFile"], file.string());
    EXPECT_EQ(modeOf(file), 0600u);
    json saved = readJson(file);
    EXPECT_EQ(saved["track"], "Kick");
    EXPECT_EQ(saved["allMenuItems"].size(), 32u);
    json snapshot = result;
    snapshot.erase("fullDumpFile");
    EXPECT_EQ(saved["snapshot"], snapshot);
}

// The temporary folder is shared with every other program: only the probes' own half-written files go.
TEST_F(LogicDiagnosticsProbes, ProbeFilesACrashLeftHalfWrittenGoAtTheFirstProbeAndNothingElseDoes) {
    const std::vector<std::string> leftovers = {
        ".insert-bar-menu-probe.json.tmp-0123456789ab", ".insert-bar-crawl-1765000000.json.tmp-0123456789ab",
        ".insert-bar-click-1765000000.png.tmp-abcdef012345", ".plugin-insert-menu-probe.json.tmp-0123456789ab"};
    const std::vector<std::string> kept = {".insert-bar-crawl-x.json.tmp-0123456789ab",
                                           ".insert-bar-click-1765000000.json.tmp-0123456789ab",
                                           ".other-tool.json.tmp-0123456789ab", ".insert-bar-menu-probe.json.tmp-other",
                                           "insert-bar-crawl-1765000000.json"};
    for (const auto& name : leftovers) testing::writeAll(tmp_ / name, "half");
    for (const auto& name : kept) testing::writeAll(tmp_ / name, "keep");
    ASSERT_FALSE(diagnostics.probeInsertBarMenu("Kick", -1, false, 0).contains("error"));
    for (const auto& name : leftovers) EXPECT_FALSE(fs::exists(tmp_ / name)) << name;
    for (const auto& name : kept) EXPECT_EQ(testing::readAll(tmp_ / name), "keep") << name;
}

TEST_F(LogicDiagnosticsProbes, MenuProbePreviewStopsAtFortyWhileTheCountCoversAll) {
    json song = standin::testing::demoSong();
    for (int i = 0; i < 10; ++i)
        song["plugins"].push_back(
            {{"name", "Extra " + std::to_string(i)}, {"category", {"More"}}, {"formats", {"Stereo"}}});
    load(song);
    auto result = diagnostics.probeInsertBarMenu("Kick", 0, false, 0);
    EXPECT_EQ(result["menuItemCount"], 32 + 2 * 21);
    EXPECT_EQ(result["menuItemsPreview"].size(), 40u);
    EXPECT_EQ(readJson(tmp_ / "insert-bar-menu-probe.json")["allMenuItems"].size(), 74u);
}

TEST_F(LogicDiagnosticsProbes, MenuProbeNeverWritesThroughALinkPlantedAtItsFileName) {
    const fs::path victim = home.root() / "victim.txt";
    testing::writeAll(victim, "keep");
    fs::create_symlink(victim, tmp_ / "insert-bar-menu-probe.json");
    auto result = diagnostics.probeInsertBarMenu("Kick", 0, false, 0);
    EXPECT_FALSE(result.contains("error"));
    EXPECT_EQ(result["fullDumpFile"], (tmp_ / "insert-bar-menu-probe.json").string());
    EXPECT_EQ(testing::readAll(victim), "keep");
    EXPECT_TRUE(fs::is_symlink(tmp_ / "insert-bar-menu-probe.json"));
}

TEST_F(LogicDiagnosticsProbes, TargetBarFollowsTheSlotIndexAndUnresolvableIndexesFailBeforeAnyPress) {
    struct Case {
        const char* track;
        int slotIndex;
        int gap;  // -1: unresolvable
        int occupied;
        int empties;
    };
    for (Case c : {Case{"Kick", 0, 0, 2, 3}, Case{"Kick", 1, 1, 2, 3}, Case{"Kick", 2, 2, 2, 3},
                   Case{"Kick", -1, 2, 2, 3}, Case{"Kick", 3, -1, 2, 3}, Case{"Kick", -2, -1, 2, 3},
                   Case{"Snare", -1, -1, 0, 1}, Case{"Snare", 0, 0, 0, 1}}) {
        world().clearEventLog();
        auto result = diagnostics.probeInsertBarMenu(c.track, c.slotIndex, false, 0);
        if (c.gap < 0) {
            EXPECT_EQ(result, (json{{"error", "Could not resolve insert bar for slot " + std::to_string(c.slotIndex)},
                                    {"occupied", c.occupied},
                                    {"empties", c.empties}}))
                << c.track << " " << c.slotIndex;
            EXPECT_TRUE(world().events(standin::EventKind::axAction).empty());
            EXPECT_EQ(diagnostics.crawlEverythingAfterInsertBarClick(c.track, c.slotIndex),
                      (json{{"error", "Could not resolve insert bar for slot " + std::to_string(c.slotIndex)}}));
        } else {
            EXPECT_EQ(result["targetBarFrame"], truncated(*world().insertBarFrame(0, c.gap)))
                << c.track << " " << c.slotIndex;
        }
    }
}

TEST_F(LogicDiagnosticsProbes, FilledSlotsPluginButtonsAreNoEmptyBars) {
    world().setKnob("filledSlotButton", true);
    for (int slotIndex : {0, 1, 2, -1}) {
        world().clearEventLog();
        auto result = diagnostics.probeInsertBarMenu("Kick", slotIndex, false, 0);
        EXPECT_EQ(world().project().track("Kick")->strip.inserts.size(), 2u) << slotIndex;
        for (const auto& e : world().events(standin::EventKind::axAction))
            EXPECT_NE(e.element, "AXButton \"audio plug-in\"") << slotIndex;
        EXPECT_EQ(result["targetBarFrame"], truncated(*world().insertBarFrame(0, slotIndex < 0 ? 2 : slotIndex)))
            << slotIndex;
    }
    EXPECT_EQ(diagnostics.probeInsertBarMenu("Kick", 3, false, 0),
              (json{{"error", "Could not resolve insert bar for slot 3"}, {"occupied", 2}, {"empties", 3}}));
}

TEST_F(LogicDiagnosticsProbes, AMouseProbeWhoseClickWasNeverSentSaysSo) {
    load(standin::testing::demoSongWith({{"logic", {{"activation", "never"}}}}));
    world().setFrontmost(200);  // the terminal stays in front whatever is asked
    world().clearEventLog();
    const json notSent = {
        {"error", "Could not click the insert bar: Logic Pro did not come to the front; the click was not sent."}};
    auto probe = diagnostics.probeInsertBarMenu("Kick", -1, true, 0);
    auto screenshot = diagnostics.clickInsertBarAndScreenshot("Kick", 0, true);
    // Nothing reached Logic Pro: no click, no menu, the chain as it was.
    EXPECT_TRUE(world().events(standin::EventKind::mouse).empty());
    EXPECT_EQ(world().ui().openMenu, "");
    EXPECT_EQ(world().project().track("Kick")->strip.inserts.size(), 2u);
    EXPECT_EQ(probe, notSent);
    EXPECT_EQ(screenshot, notSent);
    EXPECT_FALSE(fs::exists(tmp_ / "insert-bar-menu-probe.json"));
}

TEST_F(LogicDiagnosticsProbes, ProbesReportAMissingTrackOrLogicInTheirOwnWords) {
    const json missing = {{"error", "Track not found: Nope"}};
    EXPECT_EQ(diagnostics.probeInsertBarMenu("Nope", 0, false, 0), missing);
    EXPECT_EQ(diagnostics.testTypeToFilterInsertMenu("Nope", 0, "EQ"), missing);
    EXPECT_EQ(diagnostics.crawlEverythingAfterInsertBarClick("Nope", 0), missing);
    EXPECT_EQ(diagnostics.clickInsertBarAndScreenshot("Nope", 0, false), missing);

    world().setKnob("running", false);
    EXPECT_EQ(diagnostics.probeInsertBarMenu("Kick", 0, false, 0), (json{{"error", "Logic not running"}}));
    EXPECT_EQ(diagnostics.crawlEverythingAfterInsertBarClick("Kick", 0), (json{{"error", "Logic not running"}}));
    // These two do not ask whether Logic Pro runs.
    EXPECT_EQ(diagnostics.testTypeToFilterInsertMenu("Kick", 0, "EQ"), (json{{"error", "Track not found: Kick"}}));
    EXPECT_EQ(diagnostics.clickInsertBarAndScreenshot("Kick", 0, false), (json{{"error", "Track not found: Kick"}}));
}

TEST_F(LogicDiagnosticsProbes, MouseProbeHitsTheThinBarOnlyWithoutOffset) {
    auto onBar = diagnostics.probeInsertBarMenu("Kick", 1, true, 0);
    EXPECT_EQ(onBar["clickMethod"], "mouse");
    EXPECT_EQ(onBar["menuItemCount"], 32);
    EXPECT_TRUE(world().ui().pluginWindows.empty());

    // Eight points lower the click lands on the slot below and opens its plug-in instead.
    auto below = diagnostics.probeInsertBarMenu("Kick", 1, true, 8);
    EXPECT_EQ(below["menuItemCount"], 2);  // only the main menu's own items
    ASSERT_EQ(world().ui().pluginWindows.size(), 1u);
    EXPECT_EQ(world().ui().pluginWindows[0].title, "Kick: Compressor");
}

TEST_F(LogicDiagnosticsProbes, TypingIntoTheInsertMenuThatDoesNotFilterAddsNothing) {
    auto result = diagnostics.testTypeToFilterInsertMenu("Kick", -1, "Limiter");
    EXPECT_EQ(result, (json{{"typed", true},
                            {"pluginName", "Limiter"},
                            {"beforeSlots", {"Channel EQ", "Compressor"}},
                            {"afterSlots", {"Channel EQ", "Compressor"}},
                            {"added", false},
                            {"note",
                             "No new slot \u2014 either the menu doesn't support type-to-filter or the typed text "
                             "didn't match. Try plain text without format suffix."}}));
    EXPECT_EQ(world().project().track("Kick")->strip.inserts.size(), 2u);
    EXPECT_EQ(world().ui().openMenu, "");
}

TEST_F(LogicDiagnosticsProbes, CrawlDescribesTheApplicationSystemWideFocusAndMenuOwners) {
    auto result = diagnostics.crawlEverythingAfterInsertBarClick("Kick", 0);
    ASSERT_FALSE(result.contains("error")) << result.dump();
    const fs::path file = result["dumpFile"].get<std::string>();
    EXPECT_EQ(file.parent_path(), tmp_);
    EXPECT_EQ(file.filename(), "insert-bar-crawl-" + std::to_string(virtualEpochSeconds()) + ".json");
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(result["logicAppAttrs"], 17);
    EXPECT_EQ(result["systemWideAttrs"], 3);
    EXPECT_GT(result["focusedElements"], 10);
    EXPECT_EQ(result["menuOwnersCount"], 1);
    ASSERT_EQ(result["menuOwnersSummary"].size(), 1u);
    EXPECT_EQ(result["menuOwnersSummary"][0]["pid"], 4242);
    EXPECT_EQ(result["menuOwnersSummary"][0]["name"], "Logic Pro");
    EXPECT_EQ(world().ui().openMenu, "");

    json saved = readJson(file);
    EXPECT_EQ(keysOf(saved),
              (std::set<std::string>{"track", "slotIndex", "logicApp", "systemWide", "focused", "menuOwners"}));
    const json& perAttribute = saved["logicApp"]["perAttribute"];
    EXPECT_EQ(perAttribute["AXRole"], "AXApplication");
    EXPECT_EQ(perAttribute["AXWindows"]["kind"], "[AXUIElement]");
    EXPECT_EQ(perAttribute["AXWindows"]["elements"][0]["label"], "AXWindows[0]");
    EXPECT_EQ(perAttribute["AXFocusedWindow"]["kind"], "AXUIElement");
    EXPECT_FALSE(perAttribute.contains("AXPosition"));  // the application has no frame
    // The system-wide element's focused element is its description itself.
    EXPECT_EQ(saved["systemWide"]["perAttribute"]["AXFocusedUIElement"]["label"], "AXFocusedUIElement");
    EXPECT_EQ(saved["focused"]["elements"][0]["label"], "focused");
    EXPECT_EQ(saved["focused"]["elements"][1]["label"], "focused>AXMenuItem[0]");
}

TEST_F(LogicDiagnosticsProbes, ScreenshotProbeLeavesTheMenuOpenAndSavesTheDisplay) {
    auto result = diagnostics.clickInsertBarAndScreenshot("Kick", 0, false);
    EXPECT_EQ(keysOf(result),
              (std::set<std::string>{"targetBarFrame", "screenshot", "screenshotOK", "clickMethod", "note"}));
    EXPECT_EQ(result["screenshotOK"], true);
    EXPECT_EQ(result["clickMethod"], "AXPress");
    EXPECT_EQ(result["note"], "Menu (if any) left open \u2014 press Esc manually or call any other debug route.");
    EXPECT_EQ(world().ui().openMenu, "insert");
    const fs::path file = result["screenshot"].get<std::string>();
    EXPECT_EQ(file, tmp_ / ("insert-bar-click-" + std::to_string(virtualEpochSeconds()) + ".png"));
    EXPECT_EQ(modeOf(file), 0600u);
    auto image = decodePNG(testing::readAll(file));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 1440);
    EXPECT_EQ(image->height, 900);
    // The open menu shows on screen just below the bar that was pressed.
    const auto bar = *world().insertBarFrame(0, 0);
    const std::uint8_t* px = image->at(static_cast<int>(bar.x + 100), static_cast<int>(bar.maxY() + 9));
    EXPECT_EQ((std::vector<int>{px[0], px[1], px[2]}), (std::vector<int>{210, 210, 214}));

    world().setKnob("screenRecording", "denied");
    auto denied = diagnostics.clickInsertBarAndScreenshot("Kick", 0, false);
    EXPECT_EQ(denied["screenshotOK"], false);
    EXPECT_FALSE(denied["screenshot"].get<std::string>().empty());
    EXPECT_FALSE(fs::exists(denied["screenshot"].get<std::string>()));
}

// --- Control probes ------------------------------------------------------------------------------

TEST_F(LogicDiagnosticsProbes, RawWriteProbeReportsBeforeAfterAndWhetherTheValueStuck) {
    auto step = diagnostics.testSetSendKnobRaw("Kick", "Bus 1", taper::kSendMaxRaw);
    EXPECT_EQ(step["setResult"], "0");
    EXPECT_EQ(step["beforeDesc"], "-18.0");
    EXPECT_EQ(step["beforeRaw"], taper::sendDetentRaw(9));
    EXPECT_EQ(step["afterRaw"], taper::sendDetentRaw(10));
    EXPECT_EQ(step["afterDesc"], "-17.5");
    EXPECT_EQ(step["requestedRaw"], taper::kSendMaxRaw);
    EXPECT_EQ(step["stuck"], false);

    world().setKnob("sendWrites", "absolute");
    EXPECT_EQ(diagnostics.testSetSendKnobRaw("Kick", "B 1", taper::sendDetentRaw(20))["stuck"], true);
    EXPECT_EQ(diagnostics.testSetSendKnobRaw("Kick", "B 1", 12345)["stuck"], false);  // no detent there
    EXPECT_EQ(diagnostics.testSetSendKnobRaw("Bass", "Bus 1", 0), (json{{"error", "Send group not found"}}));
    EXPECT_EQ(diagnostics.testSetSendKnobRaw("Nope", "Bus 1", 0), (json{{"error", "Track not found"}}));
}

TEST_F(LogicDiagnosticsProbes, ButtonInTheOpenPluginIsPressedByLabelFragment) {
    load(standin::testing::demoSongWith(
        {{"plugins",
          json::array({{{"name", "Channel EQ"},
                        {"category", {"EQ"}},
                        {"formats", {"Stereo"}},
                        {"parameters", {{{"id", "lowcut"}, {"label", "Low Cut"}, {"type", "toggle"}, {"default", 0}}}},
                        {"editor",
                         {{"controls",
                           {{{"role", "AXButton"},
                             {"description", "Low\u2028Cut"},
                             {"bind", "lowcut"},
                             {"frame", {20, 80, 60, 20}}}}}}}},
                       {{"name", "Compressor"}, {"category", {"Dynamics"}}, {"formats", {"Stereo"}}}})}}));
    // Logic Pro's own Mixer window is no plug-in window either.
    world().setKnob("mixerWindow", true);
    EXPECT_EQ(diagnostics.clickButtonInOpenPlugin("cut"), (json{{"error", "No plugin window currently open"}}));
    ASSERT_TRUE(inspector.selectTrack("Kick"));
    const auto slots = inspector.findTrackPluginSlots(*inspector.findMainWindow());
    ASSERT_FALSE(slots.empty());
    inspector.findChildButton(slots[0].element, "open")->performAction(platform::ax::kPress);
    EXPECT_EQ(diagnostics.clickButtonInOpenPlugin("COMP"),
              (json{{"ok", true}, {"matchedLabel", "compare"}, {"axResult", 0}}));
    EXPECT_EQ(diagnostics.clickButtonInOpenPlugin("Nowhere"),
              (json{{"error", "No button found containing 'Nowhere'"}}));
    EXPECT_EQ(diagnostics.clickButtonInOpenPlugin("low cut"),
              (json{{"ok", true}, {"matchedLabel", "Low Cut"}, {"axResult", 0}}));
    EXPECT_EQ(world().project().track("Kick")->strip.inserts[0].params.at("lowcut"), 1);
}

}  // namespace
}  // namespace corvane
