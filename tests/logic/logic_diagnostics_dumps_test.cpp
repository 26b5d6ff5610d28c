#include <gtest/gtest.h>

#include <set>

#include "logic/logic_diagnostics.h"
#include "platform/standin/standin_fixture.h"
#include "test_support/fake_ax.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

using nlohmann::json;
using testing::FakeElement;
using Node = std::shared_ptr<FakeElement>;
using DumpList = LogicDiagnostics::DumpList;

std::set<std::string> keysOf(const json& j) {
    std::set<std::string> keys;
    for (auto it = j.begin(); it != j.end(); ++it) keys.insert(it.key());
    return keys;
}

const json kTruncated = {{"x", 10}, {"y", 20}, {"w", 99}, {"h", 30}};
const json kRounded = {{"x", 11}, {"y", 20}, {"w", 100}, {"h", 31}};

// A group with every attribute the dumps read and a fractional frame, holding an untitled button
// with a number for a value, and a menu item without a title whose submenu holds a titled item.
struct Shapes {
    Node root = FakeElement::make("AXGroup", "Mixer strip");
    Node button = FakeElement::make("AXButton", "open");
    Node blankItem = FakeElement::make("AXMenuItem", "  ");
    Node submenu = FakeElement::make("AXMenu");
    Node leaf = FakeElement::make("AXMenuItem");
    Shapes() {
        root->set("AXSubrole", std::string(""))
            ->set("AXTitle", std::string(""))
            ->set("AXIdentifier", std::string("strip-1"))
            ->set("AXHelp", std::string("a strip"))
            ->set("AXRoleDescription", std::string("group"))
            ->set("AXValue", std::string("v"))
            ->set("AXSelected", true)
            ->set("AXEnabled", true)
            ->set("AXFocused", false)
            ->set("AXPosition", platform::Point{10.6, 20.4})
            ->set("AXSize", platform::Size{99.5, 30.5});
        root->actions = {"AXPress"};
        button->set("AXTitle", std::string("  Open\n"))
            ->set("AXValue", std::int64_t{42})
            ->set("AXHelp", std::string("opens it"));
        leaf->set("AXTitle", std::string("Leaf"));
        submenu->add(leaf);
        blankItem->set("AXTitle", std::string(" "))->add(submenu);
        root->add(button)->add(blankItem);
    }
};

class LogicDiagnosticsDumpsShapes : public ::testing::Test {
protected:
    LogicInspector inspector;
    LogicDiagnostics diagnostics{inspector};
    Shapes s;
};

TEST_F(LogicDiagnosticsDumpsShapes, EachRecursionWritesItsOwnKeySetAndFrameRounding) {
    json node = diagnostics.dumpElement(s.root->handle(), 0, 1);
    EXPECT_EQ(keysOf(node), (std::set<std::string>{"role", "subrole", "description", "identifier", "value", "selected",
                                                   "childCount", "children"}));
    EXPECT_EQ(node["children"][0]["value"], "42");           // numbers as their text
    EXPECT_FALSE(node["children"][0].contains("children"));  // depth 1 is the limit

    DumpList crawl;
    int count = 0;
    diagnostics.crawlElement(s.root->handle(), "W", 0, 1, crawl, count, 100);
    ASSERT_EQ(crawl.size(), 1u);
    EXPECT_EQ(keysOf(crawl[0]),
              (std::set<std::string>{"path", "depth", "role", "subrole", "description", "identifier", "value",
                                     "selected", "enabled", "focused", "roleDescription", "help", "frame"}));
    EXPECT_EQ(crawl[0]["frame"], kTruncated);

    DumpList actions;
    diagnostics.dumpElementWithActions(s.root->handle(), "Strip", 0, 1, actions);
    EXPECT_EQ(keysOf(actions[0]), (std::set<std::string>{"path", "depth", "role", "subrole", "description",
                                                         "identifier", "help", "roleDescription", "actions", "frame"}));
    EXPECT_EQ(actions[0]["actions"], (json{"AXPress"}));

    DumpList all;
    diagnostics.dumpAllElementsInSubtree(s.root->handle(), all, 0, 2);
    EXPECT_EQ(all[0], (json{{"role", "AXGroup"},
                            {"desc", "Mixer strip"},
                            {"title", ""},
                            {"value", "v"},
                            {"help", "a strip"},
                            {"depth", 0},
                            {"frame", kRounded}}));
    EXPECT_EQ(all[1]["value"], "");  // only a text value is written here
    EXPECT_EQ(all[1]["frame"], (json{{"x", 0}, {"y", 0}, {"w", 0}, {"h", 0}}));

    DumpList buttons;
    diagnostics.dumpAllAXButtonsInSubtree(s.root->handle(), buttons, 0, 5);
    ASSERT_EQ(buttons.size(), 1u);
    EXPECT_EQ(buttons[0], (json{{"role", "AXButton"},
                                {"desc", "open"},
                                {"title", "  Open\n"},
                                {"roleDescription", ""},
                                {"value", ""},
                                {"help", "opens it"},
                                {"frame", {{"x", 0}, {"y", 0}, {"w", 0}, {"h", 0}}}}));

    DumpList nodes, menus;
    s.submenu->set("AXPosition", platform::Point{10.6, 20.4})->set("AXSize", platform::Size{99.5, 30.5});
    diagnostics.collectMenuNodes(s.root->handle(), nodes, 0, 5);
    EXPECT_EQ(nodes, (DumpList{{{"depth", 2}, {"childCount", 1}, {"frame", kTruncated}}}));
    diagnostics.findAllMenusIn(s.root->handle(), 0, 5, menus);
    ASSERT_EQ(menus.size(), 3u);
    EXPECT_EQ(menus[0], (json{{"role", "AXMenuItem"},
                              {"title", " "},
                              {"desc", "  "},
                              {"depth", 1},
                              {"childCount", 1},
                              {"frame", {{"x", 0}, {"y", 0}, {"w", 0}, {"h", 0}}}}));

    json described = diagnostics.describeElement(s.root->handle(), "here");
    EXPECT_EQ(keysOf(described), (std::set<std::string>{"label", "role", "subrole", "description", "identifier",
                                                        "frame", "actions", "attrs", "childCount"}));
    EXPECT_EQ(described["childCount"], 2);
    // Without position and size there is no frame at all where a zero frame is left out.
    EXPECT_FALSE(diagnostics.describeElement(s.leaf->handle(), "x").contains("frame"));
    EXPECT_FALSE(diagnostics.describeElement(s.leaf->handle(), "x").contains("actions"));
}

TEST_F(LogicDiagnosticsDumpsShapes, PathsUseEachWritersSeparatorAndLabel) {
    // The root has an empty title but a description.
    DumpList crawl;
    int count = 0;
    diagnostics.crawlElement(s.root->handle(), "", 0, 5, crawl, count, 100);
    EXPECT_EQ(crawl[1]["path"], " > [0]");  // the empty title is the label, even though empty
    EXPECT_EQ(crawl[4]["path"], " > [1] >  [0] > AXMenu[0]");

    DumpList actions;
    diagnostics.dumpElementWithActions(s.root->handle(), "Strip", 0, 5, actions);
    EXPECT_EQ(actions[1]["path"], "Strip>Mixer strip[0]");
    EXPECT_EQ(actions[4]["path"], "Strip>Mixer strip[1]>  [0]>AXMenu[0]");

    DumpList menu;
    diagnostics.dumpMenuTree(s.root->handle(), menu, 0, 5, "focused");
    std::vector<std::string> paths;
    for (const auto& e : menu) paths.push_back(e["path"]);
    // The blank item gets no entry but its submenu's item does; the trimmed title names the button.
    EXPECT_EQ(paths, (std::vector<std::string>{"focused > Mixer strip[0]",
                                               "focused > Mixer strip[1] > AXMenuItem[0] > AXMenu[0]"}));
    EXPECT_EQ(menu[0], (json{{"role", "AXButton"},
                             {"depth", 1},
                             {"path", "focused > Mixer strip[0]"},
                             {"title", "Open"},
                             {"description", "open"},
                             {"value", "42"}}));

    DumpList deep;
    diagnostics.deepCrawlWithAttributes(s.root->handle(), "focused", 0, 5, deep);
    EXPECT_EQ(deep[4]["label"], "focused>AXMenuItem[1]>AXMenu[0]>AXMenuItem[0]");  // the child's own role
    EXPECT_EQ(deep[4]["depth"], 3);
}

TEST_F(LogicDiagnosticsDumpsShapes, MenuItemTitlesReportEnabledSubmenusAndSkipUntitledItems) {
    DumpList items;
    diagnostics.collectMenuItemTitles(s.root->handle(), items, 0, 10);
    // " " is a non-empty title, so the blank item is listed; an item without a title is not.
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0],
              (json{{"title", " "}, {"enabled", true}, {"depth", 1}, {"hasSubmenu", true}, {"childCount", 1}}));
    s.leaf->set("AXEnabled", false);
    s.blankItem->attributes.erase("AXTitle");
    items.clear();
    diagnostics.collectMenuItemTitles(s.root->handle(), items, 0, 10);
    EXPECT_EQ(
        items,
        (DumpList{{{"title", "Leaf"}, {"enabled", false}, {"depth", 3}, {"hasSubmenu", false}, {"childCount", 0}}}));
}

TEST_F(LogicDiagnosticsDumpsShapes, DepthZeroVisitsNothingButDumpElementStillDescribesItsElement) {
    EXPECT_EQ(keysOf(diagnostics.dumpElement(s.root->handle(), 0, 0)),
              (std::set<std::string>{"role", "subrole", "description", "identifier", "value", "selected"}));
    DumpList out;
    int count = 0;
    diagnostics.crawlElement(s.root->handle(), "", 0, 0, out, count, 10);
    diagnostics.dumpElementWithActions(s.root->handle(), "", 0, 0, out);
    diagnostics.dumpAllElementsInSubtree(s.root->handle(), out, 0, 0);
    diagnostics.dumpAllAXButtonsInSubtree(s.root->handle(), out, 0, 0);
    diagnostics.dumpMenuTree(s.root->handle(), out, 0, 0, "");
    diagnostics.collectMenuItemTitles(s.root->handle(), out, 0, 0);
    diagnostics.collectMenuNodes(s.root->handle(), out, 0, 0);
    diagnostics.findAllMenusIn(s.root->handle(), 0, 0, out);
    diagnostics.deepCrawlWithAttributes(s.root->handle(), "", 0, 0, out);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(count, 0);
}

TEST_F(LogicDiagnosticsDumpsShapes, InspectorStripsAreLeftAloneWithoutAMixerArea) {
    DumpList results{json{{"keep", true}}};
    diagnostics.dumpInspectorMixerStrips(s.root->handle(), results);
    EXPECT_EQ(results, (DumpList{json{{"keep", true}}}));
}

// --- On the simulated Logic Pro -------------------------------------------------------------------

class LogicDiagnosticsDumps : public standin::testing::StandinTest {
protected:
    testing::TempHome home;
    LogicInspector inspector;
    LogicDiagnostics diagnostics{inspector};
};

TEST_F(LogicDiagnosticsDumps, AXDumpReportsTheProcessTheRoleReadAndAtMostFiveShallowWindows) {
    auto dump = diagnostics.debugAXDump(6);
    EXPECT_EQ(keysOf(dump),
              (std::set<std::string>{"logicPID", "logicName", "axTrustedCheck", "axRawReadResult", "axRawReadNote",
                                     "axRawRole", "windowCount", "focusedWindow", "allWindows"}));
    EXPECT_EQ(dump["logicPID"], 4242);
    EXPECT_EQ(dump["logicName"], "Logic Pro");
    EXPECT_EQ(dump["axTrustedCheck"], true);
    EXPECT_EQ(dump["axRawReadNote"], "AX access works!");
    EXPECT_EQ(dump["axRawRole"], "AXApplication");
    EXPECT_EQ(dump["focusedWindow"]["title"], "Demo Song - Tracks");
    EXPECT_EQ(dump["allWindows"].size(), 1u);
    EXPECT_EQ(dump["allWindows"][0], diagnostics.dumpElement(*inspector.findMainWindow(), 0, 3));

    world().setKnob("extraWindows", json{"A", "B", "C", "D", "E", "F"});
    world().setKnob("axError", json{{"element", "application"}, {"attribute", "AXRole"}, {"code", -25204}});
    dump = diagnostics.debugAXDump(6);
    EXPECT_EQ(dump["windowCount"], 7);
    EXPECT_EQ(dump["allWindows"].size(), 5u);
    EXPECT_EQ(dump["axRawReadResult"], -25204);
    EXPECT_EQ(dump["axRawReadNote"], "AX read failed (-25204)");
    EXPECT_EQ(dump["axRawRole"], "nil");

    world().setKnob("running", false);
    EXPECT_EQ(diagnostics.debugAXDump(6), (json{{"error", "Logic is not running"}}));
}

TEST_F(LogicDiagnosticsDumps, FullCrawlIsCappedAcrossAllWindowsInPreOrder) {
    world().setKnob("extraWindows", json::array({json{{"title", "Other"}, {"front", true}}}));
    auto three = diagnostics.fullAXCrawl(15, 3);
    ASSERT_EQ(three.size(), 3u);
    EXPECT_EQ(three[0]["path"], "Other");
    EXPECT_EQ(three[0]["frame"], (json{{"x", 200}, {"y", 150}, {"w", 600}, {"h", 400}}));
    EXPECT_EQ(three[1]["path"], "Demo Song - Tracks");  // the extra window has no children
    EXPECT_EQ(three[2]["path"], "Demo Song - Tracks > Demo Song - Tracks[0]");
    EXPECT_EQ(three[2]["role"], "AXMenuBar");

    auto all = diagnostics.fullAXCrawl(15, 10000);
    EXPECT_GT(all.size(), 100u);
    EXPECT_LT(all.size(), 10000u);
    EXPECT_EQ(diagnostics.fullAXCrawl(0, 100).size(), 0u);

    world().setKnob("axError", json{{"element", "application"}, {"attribute", "AXWindows"}});
    EXPECT_EQ(diagnostics.fullAXCrawl(15, 10), (DumpList{json{{"error", "Cannot read windows"}}}));
    world().setKnob("running", false);
    EXPECT_EQ(diagnostics.fullAXCrawl(15, 10), (DumpList{json{{"error", "Logic is not running"}}}));
}

TEST_F(LogicDiagnosticsDumps, ChannelStripWithActionsStartsAtTheStripAndLabelsPathsByParent) {
    auto dump = diagnostics.dumpChannelStripWithActions(12);
    ASSERT_TRUE(dump.contains("elements")) << dump.dump();
    const auto& elements = dump["elements"];
    EXPECT_EQ(dump["count"], elements.size());
    EXPECT_EQ(elements[0]["path"], "Strip");
    EXPECT_EQ(elements[0]["role"], "AXGroup");
    EXPECT_EQ(elements[1]["path"], "Strip>AXGroup[0]");
    EXPECT_EQ(elements[1]["description"], "channel mode");
    EXPECT_EQ(elements[1]["actions"], (json{"AXPress"}));
    bool sawSlotChild = false;
    for (const auto& e : elements)
        // A filled slot lists its "audio plug-in" button first, then bypass and open.
        if (e["path"] == "Strip>AXGroup[2]>AXGroup[1]>Channel EQ[2]") sawSlotChild = e["description"] == "open";
    EXPECT_TRUE(sawSlotChild);
    EXPECT_EQ(diagnostics.dumpChannelStripWithActions(0), (json{{"count", 0}, {"elements", json::array()}}));

    world().setKnob("inspectorVisible", false);
    EXPECT_EQ(diagnostics.dumpChannelStripWithActions(12),
              (json{{"error", "Mixer area not found. Make sure the Inspector is open (shortcut I)."}}));
}

TEST_F(LogicDiagnosticsDumps, InspectorStripsAndStripSubtreesCarryTheirIndexesAndRoundedFrames) {
    DumpList results;
    diagnostics.dumpInspectorMixerStrips(*inspector.findMainWindow(), results);
    ASSERT_FALSE(results.empty());
    EXPECT_EQ(results.front()["stripIndex"], 0);
    EXPECT_EQ(results.back()["stripIndex"], 1);
    std::set<std::string> names;
    for (const auto& r : results)
        if (r["stripIndex"] == 1 && r["desc"] == "name") names.insert(r["value"].get<std::string>());
    EXPECT_EQ(names, (std::set<std::string>{"Stereo Out"}));

    DumpList buttons;
    diagnostics.dumpAllAXButtonsInSubtree(*inspector.firstMixerStrip(*inspector.findMainWindow()), buttons, 0, 15);
    for (const auto& b : buttons) {
        EXPECT_FALSE(b.contains("depth"));
        EXPECT_EQ(keysOf(b),
                  (std::set<std::string>{"role", "desc", "title", "roleDescription", "value", "help", "frame"}));
    }
}

TEST_F(LogicDiagnosticsDumps, MenuItemsOfTheFocusedMenuAreListedAndNothingWhenWindowsAreUnreadable) {
    auto app = platform::accessibility().applicationElement(logicPid());
    auto bar = find(*strip(0), "insert bar", "AXButton", 10);
    bar->performAction(platform::ax::kPress);
    DumpList results;
    diagnostics.dumpMenuItems(app, results, 4);
    ASSERT_FALSE(results.empty());
    // The window's path starts with its role; the control bar is its second child.
    EXPECT_EQ(results[0], (json{{"role", "AXButton"},
                                {"depth", 2},
                                {"path", "AXWindow > Demo Song - Tracks[1] > Control Bar[0]"},
                                {"description", "Go to Beginning"}}));
    // The open menu hangs deeper than 4 below the window, but it is the focused element.
    std::vector<std::string> focused;
    for (const auto& r : results)
        if (r["depth"] == 1 && r["path"].get<std::string>().rfind("focused", 0) == 0)
            focused.push_back(r["path"].get<std::string>() + " " + r["title"].get<std::string>());
    EXPECT_EQ(focused, (std::vector<std::string>{"focused > AXMenu[0] EQ", "focused > AXMenu[1] Dynamics",
                                                 "focused > AXMenu[2] Audio Units"}));

    world().setKnob("axError", json{{"element", "application"}, {"attribute", "AXWindows"}});
    DumpList none;
    diagnostics.dumpMenuItems(app, none, 4);
    EXPECT_TRUE(none.empty());
}

TEST_F(LogicDiagnosticsDumps, SidechainMenuIsOpenedListedAndClosedAgain) {
    EXPECT_EQ(diagnostics.dumpSidechainMenuItems(),
              (json{{"error", "No plugin window currently open. Run /debug/open-plugin first."}}));
    // Kick's second slot is a Compressor, whose window has a side-chain selector.
    std::vector<platform::AXElement> opens;
    std::function<void(const platform::AXElement&)> walk = [&](const platform::AXElement& e) {
        if (e.string(platform::ax::kDescription) == std::optional<std::string>("open")) opens.push_back(e);
        for (const auto& c : e.children()) walk(c);
    };
    walk(*strip(0));
    ASSERT_EQ(opens.size(), 2u);
    opens[1].performAction(platform::ax::kPress);
    auto dump = diagnostics.dumpSidechainMenuItems();
    ASSERT_FALSE(dump.contains("error")) << dump.dump();
    EXPECT_EQ(dump["count"], dump["items"].size());
    EXPECT_EQ(dump["items"][0]["title"], "None");
    EXPECT_EQ(dump["currentValue"], "None");
    EXPECT_EQ(world().ui().openMenu, "");

    world().setKnob("running", false);
    EXPECT_EQ(diagnostics.dumpSidechainMenuItems(), (json{{"error", "Logic not running"}}));
}

TEST_F(LogicDiagnosticsDumps, AutomationMenuIsListedThroughShowMenuAndClosedWithCancel) {
    auto dump = diagnostics.dumpAutomationMenu(0);
    ASSERT_FALSE(dump.contains("error")) << dump.dump();
    EXPECT_EQ(dump["actionUsed"], "AXShowMenu");
    EXPECT_EQ(dump["supportedActions"], (json{"AXPress", "AXShowMenu", "AXCancel"}));
    // The main window's menu bar first, then the open menu below its button, then the same menu
    // again as the focused element: a menu reachable twice is listed twice.
    std::vector<std::string> titles;
    for (const auto& item : dump["items"]) titles.push_back(item["title"]);
    const std::vector<std::string> modes{"Off", "Read", "Touch", "Latch", "Write"};
    std::vector<std::string> expected{"Rename Track", "Show Output Track"};
    expected.insert(expected.end(), modes.begin(), modes.end());
    expected.insert(expected.end(), modes.begin(), modes.end());
    EXPECT_EQ(titles, expected);
    EXPECT_EQ(dump["count"], 12);
    EXPECT_EQ(dump["items"][2],
              (json{{"title", "Off"}, {"enabled", true}, {"depth", 7}, {"hasSubmenu", false}, {"childCount", 0}}));
    EXPECT_EQ(dump["items"][7]["depth"], 1);
    EXPECT_EQ(world().ui().openMenu, "");
    EXPECT_EQ(world().project().track("Kick")->strip.automation.mode, "Read");

    for (int index : {2, -1})
        EXPECT_EQ(diagnostics.dumpAutomationMenu(index)["error"],
                  "Automation popup not found on strip " + std::to_string(index) +
                      ". Did you surface the bus first (click a send)?");
}

}  // namespace
}  // namespace corvane
