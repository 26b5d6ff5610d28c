// Plug-in windows, slot drags and the slot knobs on the stand-in.

#include <functional>

#include "platform/standin/standin_fixture.h"

namespace corvane::standin::testing {
namespace {

using platform::AXElement;
using platform::MouseEventType;
namespace ax = platform::ax;

class PluginWindowsTest : public StandinTest {
protected:
    // A control of slot `slot` on strip 0 ("open", "bypass", "list"), as a user's pointer reaches it.
    AXElement slotControl(int slot, const std::string& description) {
        auto group =
            find(*strip(0), world().project().selectedTrack()->strip.inserts.at(static_cast<std::size_t>(slot)).plugin,
                 "AXGroup");
        return *find(*group, description);
    }
    std::optional<AXElement> window(const std::string& title) {
        const auto windows = app().elements(ax::kWindows).value_or(std::vector<AXElement>{});
        for (const auto& w : windows)
            if (w.string(ax::kTitle) == std::optional<std::string>(title)) return w;
        return std::nullopt;
    }
    std::vector<std::string> chain(const std::string& track) {
        std::vector<std::string> names;
        const auto project = world().project();
        for (const auto& s : project.track(track)->strip.inserts) names.push_back(s.plugin);
        return names;
    }
    void select(const std::string& track) {
        world().mutateProject([&](Project& p) { p.selectedTrackId = p.stripTrackId = p.track(track)->id; });
    }
    // The first menu item titled so, below `root`.
    static std::optional<AXElement> menuItem(const AXElement& root, const std::string& title) {
        std::optional<AXElement> found;
        std::function<void(const AXElement&, int)> walk = [&](const AXElement& e, int depth) {
            if (found || depth > 12) return;
            if (e.string(ax::kRole) == std::optional<std::string>("AXMenuItem") &&
                e.string(ax::kTitle) == std::optional<std::string>(title)) {
                found = e;
                return;
            }
            for (const auto& c : e.children()) walk(c, depth + 1);
        };
        walk(root, 0);
        return found;
    }
    // The program's drag gesture at the HID tap: down, 12 pt toward the end, 24 steps, up.
    // `midway` runs once the drag has started.
    void drag(platform::Point from, platform::Point to, const std::function<void()>& midway = {}) {
        auto& in = platform::input();
        in.postMouseAtHIDTap({MouseEventType::leftDown, from});
        in.postMouseAtHIDTap({MouseEventType::leftDragged, {from.x, from.y + (to.y >= from.y ? 12 : -12)}});
        if (midway) midway();
        for (int i = 1; i <= 24; ++i)
            in.postMouseAtHIDTap(
                {MouseEventType::leftDragged, {from.x + (to.x - from.x) * i / 24, from.y + (to.y - from.y) * i / 24}});
        in.postMouseAtHIDTap({MouseEventType::leftUp, to});
    }
};

TEST_F(PluginWindowsTest, OpenRaisesInsteadOfDuplicatingAndCloseHandsKeyFocusBack) {
    slotControl(1, "open").performAction(ax::kPress);
    slotControl(0, "open").performAction(ax::kPress);
    EXPECT_EQ(world().ui().windows,
              (std::vector<std::string>{"Kick: Channel EQ", "Kick: Compressor", "Demo Song - Tracks"}));
    slotControl(1, "open").performAction(ax::kPress);
    EXPECT_EQ(world().ui().windows,
              (std::vector<std::string>{"Kick: Compressor", "Kick: Channel EQ", "Demo Song - Tracks"}));

    auto w = window("Kick: Compressor");
    EXPECT_EQ(w->string(ax::kSubrole), "AXFloatingWindow");
    find(*w, "close")->performAction(ax::kPress);
    EXPECT_EQ(world().ui().keyWindow, "Demo Song - Tracks");
    EXPECT_EQ(world().ui().pluginWindows.size(), 1u);

    // A window whose plug-in leaves the chain goes with it.
    world().mutateProject(
        [](Project& p) { p.track("Kick")->strip.inserts.erase(p.track("Kick")->strip.inserts.begin()); });
    EXPECT_TRUE(world().ui().pluginWindows.empty());
}

TEST_F(PluginWindowsTest, OpenKnobsDelayToggleOrSwallowTheWindow) {
    struct Case {
        const char* knob;
        nlohmann::json value;
        std::vector<std::size_t> windowsAfterEachPress;  // three presses of "open"
    };
    for (const Case& c : {Case{"openToggles", true, {1, 0, 1}}, Case{"openIgnoresFirstPress", true, {0, 1, 1}},
                          Case{"lateWindow", 0.5, {0, 0, 0}}}) {
        load(demoSong());
        world().setKnob(c.knob, c.value);
        for (std::size_t press = 0; press < 3; ++press) {
            slotControl(1, "open").performAction(ax::kPress);
            EXPECT_EQ(world().ui().pluginWindows.size(), c.windowsAfterEachPress[press])
                << c.knob << " press " << press;
        }
    }
    world().advance(0.5);  // the late window arrives once, however often it was asked for
    EXPECT_EQ(world().ui().pluginWindows.size(), 1u);

    // Without windowOnInsert, inserting a plug-in opens nothing.
    load(demoSong());
    world().setKnob("windowOnInsert", false);
    find(*strip(0), "insert bar")->performAction(ax::kPress);
    pressKey(125);
    pressKey(124);
    pressKey(125);
    pressKey(36);  // EQ > Channel EQ: its submenu opens
    pressKey(125);
    pressKey(36);  // Mono
    EXPECT_EQ(world().project().track("Kick")->strip.inserts.size(), 3u);
    EXPECT_TRUE(world().ui().pluginWindows.empty());
}

TEST_F(PluginWindowsTest, ViewMenuRebuildsTheBodyAndTheSlotKeepsItsView) {
    slotControl(1, "open").performAction(ax::kPress);
    auto w = *window("Kick: Compressor");
    auto view = *find(w, "view", "AXMenuButton");
    EXPECT_EQ(view.string(ax::kValue), "Editor");
    EXPECT_TRUE(find(w, "Auto Gain", "AXButton"));
    view.performAction(ax::kPress);
    EXPECT_EQ(world().ui().openMenu, "view");
    std::optional<AXElement> controls;
    for (const auto& item : find(w, "view", "AXMenuButton")->children().at(0).children())
        if (item.string(ax::kTitle) == std::optional<std::string>("Controls")) controls = item;
    ASSERT_TRUE(controls);
    controls->performAction(ax::kPress);
    EXPECT_EQ(view.string(ax::kTitle), "Controls");
    EXPECT_FALSE(find(w, "Auto Gain", "AXButton"));
    EXPECT_TRUE(find(w, "Auto Gain", "AXCheckBox"));  // Logic's generic row for the toggle

    find(w, "close")->performAction(ax::kPress);
    slotControl(1, "open").performAction(ax::kPress);
    EXPECT_EQ(world().ui().pluginWindows.at(0).view, "Controls");
}

TEST_F(PluginWindowsTest, SidechainPopUpOffersTracksAndBusesAndAnswersDirectWritesByKnob) {
    select("Lead Vox");
    slotControl(1, "open").performAction(ax::kPress);
    auto popup = *find(*window("Lead Vox: Compressor"), "Side Chain", "AXPopUpButton");
    EXPECT_NE(popup.string(ax::kHelp).value_or("").find("Side Chain Source"), std::string::npos);
    popup.performAction(ax::kPress);
    auto menu = popup.children().at(0);
    std::vector<std::string> top, bus, inst;
    for (const auto& item : menu.children()) {
        top.push_back(item.string(ax::kTitle).value_or(""));
        for (const auto& sub : item.children().empty() ? std::vector<AXElement>{} : item.children().at(0).children()) {
            if (top.back() == "Bus") bus.push_back(sub.string(ax::kTitle).value_or(""));
            if (top.back() == "Inst") inst.push_back(sub.string(ax::kTitle).value_or(""));
        }
    }
    EXPECT_EQ(top, (std::vector<std::string>{"None", "Internal", "Audio", "Inst", "Bus"}));
    EXPECT_EQ(inst, (std::vector<std::string>{"Keys"}));
    EXPECT_EQ(bus, (std::vector<std::string>{"Bus 1 \u2190 Reverb"}));
    pressKey(53);

    struct Case {
        const char* knob;
        const char* written;
        platform::AXError code;
        const char* shows;
    };
    for (const Case& c : {Case{"ignore", "Bus 1", platform::AXError::success, "None"},
                          Case{"refuse", "Bus 1", platform::AXError::attributeUnsupported, "None"},
                          Case{"accept", "Bus 9", platform::AXError::success, "None"},
                          Case{"accept", " bus 1", platform::AXError::success, "Bus 1"}}) {
        world().setKnob("popupDirectSet", c.knob);
        EXPECT_EQ(popup.setAttributeValue(ax::kValue, std::string(c.written)), c.code) << c.knob << " " << c.written;
        EXPECT_EQ(world().project().track("Lead Vox")->strip.inserts[1].sideChainSource, c.shows)
            << c.knob << " " << c.written;
    }
}

TEST_F(PluginWindowsTest, DropsMoveAPluginOnlyIntoAGapOfItsStrip) {
    world().setFrontmost(logicPid());
    struct Case {
        const char* where;
        std::function<platform::Point()> target;
        std::vector<std::string> chain;
    };
    auto slot = [&](int i) { return *world().slotFrame(0, i); };
    const std::vector<std::string> unchanged{"Channel EQ", "Compressor", "Corvane"};
    for (const Case& c : {
             Case{"bar above slot 2",
                  [&] { return World::center(*world().insertBarFrame(0, 2)); },
                  {"Compressor", "Channel EQ", "Corvane"}},
             Case{"top edge of slot 2",
                  [&] {
                      return platform::Point{slot(2).x + 30, slot(2).y + 2};
                  },
                  {"Compressor", "Channel EQ", "Corvane"}},
             Case{"bottom edge of slot 2",
                  [&] {
                      return platform::Point{slot(2).x + 30, slot(2).maxY() - 1};
                  },
                  {"Compressor", "Corvane", "Channel EQ"}},
             Case{"bottom bar",
                  [&] { return World::center(*world().insertBarFrame(0, 3)); },
                  {"Compressor", "Corvane", "Channel EQ"}},
             Case{"middle of slot 1", [&] { return World::center(slot(1)); }, unchanged},
             Case{"outside the strip",
                  [&] {
                      return platform::Point{300, slot(1).y + 10};
                  },
                  unchanged},
         }) {
        load(demoSong());
        select("Lead Vox");
        world().setFrontmost(logicPid());
        drag({slot(0).x + 24, slot(0).y + 10}, c.target());
        EXPECT_EQ(chain("Lead Vox"), c.chain) << c.where;
        EXPECT_TRUE(world().ui().pluginWindows.empty()) << c.where;
    }

    // A missed drag is a click on the source slot: its window opens, the chain stays.
    world().setKnob("dropMisses", 1);
    drag({slot(0).x + 24, slot(0).y + 10}, World::center(*world().insertBarFrame(0, 2)));
    EXPECT_EQ(chain("Lead Vox"), unchanged);
    EXPECT_EQ(world().ui().pluginWindows.at(0).title, "Lead Vox: Channel EQ");
    EXPECT_EQ(world().faults().dropMisses, 0);
}

// The user's clicks on another application's windows during a drag are not the drag's: the held
// button's events go on to Logic's window, and only a new press needs Logic in front.
TEST_F(PluginWindowsTest, ADragHeldInLogicGoesOnWhateverTheUserActivatesMeanwhile) {
    auto slot = [&](int i) { return *world().slotFrame(0, i); };
    const std::vector<std::string> moved{"Compressor", "Channel EQ", "Corvane"};
    struct Case {
        const char* midway;
        std::function<void()> act;
    };
    for (const Case& c : {
             Case{"the user activates Corvane", [&] { world().setFrontmost(world().selfPid()); }},
             Case{"Corvane's window comes up over the strip",
                  [&] {
                      WindowSpec chat{0, "Corvane", {slot(0).x - 10, slot(0).y - 10, 400, 300}};
                      chat.level = WindowSpec::Level::floating;
                      world().addWindow(chat);
                      world().setFrontmost(world().selfPid());
                  }},
         }) {
        load(demoSong());
        select("Lead Vox");
        world().setFrontmost(logicPid());
        drag({slot(0).x + 24, slot(0).y + 10}, World::center(*world().insertBarFrame(0, 2)), c.act);
        EXPECT_EQ(chain("Lead Vox"), moved) << c.midway;
        EXPECT_EQ(world().events(EventKind::mouse).back().outcome, "drop") << c.midway;

        // A new press with Corvane in front is no drag of Logic's.
        drag({slot(0).x + 24, slot(0).y + 10}, World::center(*world().insertBarFrame(0, 2)));
        EXPECT_EQ(chain("Lead Vox"), moved) << c.midway;
        EXPECT_EQ(world().events(EventKind::mouse).back().route, "stray") << c.midway;
    }
}

TEST_F(PluginWindowsTest, SlotVariantsShowInTheTreeAndKeysStayWithThePluginWindow) {
    world().setKnob("slotNameWidth", 5);
    EXPECT_TRUE(find(*strip(0), "Chann", "AXGroup"));
    world().setKnob("slotNameEllipsis", true);
    EXPECT_TRUE(find(*strip(0), "Chann\u2026", "AXGroup"));
    world().setKnob("slotNameWidth", 10);  // a name that fits is shown whole
    EXPECT_TRUE(find(*strip(0), "Compressor", "AXGroup"));
    world().setKnob("slotNameEllipsis", false);
    world().setKnob("slotNameWidth", 0);

    world().setKnob("filledSlotButton", true);
    auto group = *find(*strip(0), "Compressor", "AXGroup");
    EXPECT_TRUE(find(group, "audio plug-in", "AXButton"));
    clickInProcess(World::center(*world().slotFrame(0, 1)));  // still the "open" area
    EXPECT_EQ(world().events(EventKind::mouse).back().element, "AXButton \"open\"");

    // New slots read as a zero frame for the first position reads.
    world().setKnob("newSlotZeroFrame", 2);
    find(*strip(0), "insert bar")->performAction(ax::kPress);
    pressKey(125);
    pressKey(125);
    pressKey(124);
    pressKey(125);
    pressKey(125);
    pressKey(124);
    pressKey(125);
    pressKey(36);  // Dynamics > Limiter > Stereo
    auto limiter = *find(*strip(0), "Limiter", "AXGroup");
    EXPECT_EQ(limiter.point(ax::kPosition), (platform::Point{0, 0}));
    EXPECT_EQ(limiter.point(ax::kPosition), (platform::Point{0, 0}));
    EXPECT_EQ(limiter.point(ax::kPosition), world().slotFrame(0, 0)->origin());
    EXPECT_EQ(world().project().track("Kick")->strip.inserts[0].plugin, "Limiter");

    // The Limiter's window is key: with pluginWindowTakesKeys it swallows Down and M.
    world().setKnob("pluginWindowTakesKeys", true);
    pressKey(125);
    pressKey(46);
    EXPECT_EQ(selectedName(), "Kick");
    EXPECT_FALSE(world().project().track("Kick")->muted);
    find(*window("Kick: Limiter"), "close")->performAction(ax::kPress);
    pressKey(125);
    EXPECT_EQ(selectedName(), "Snare");
}

TEST_F(PluginWindowsTest, WindowImageShowsHeaderAndBody) {
    slotControl(1, "open").performAction(ax::kPress);
    auto id = world().windowId("plugin:" + std::to_string(world().project().track("Kick")->strip.inserts[1].uid));
    ASSERT_TRUE(id);
    auto shot = world().screenCapture().captureWindow(*id);
    ASSERT_TRUE(shot.ok());
    EXPECT_EQ(shot.value->width, 520);
    EXPECT_EQ(pixelAt(*shot.value, 260, 10), palette::titleBar);
    EXPECT_EQ(pixelAt(*shot.value, 500, 24), palette::pluginHeader);
    EXPECT_EQ(pixelAt(*shot.value, 260, 200), palette::pluginBody);
}

TEST_F(PluginWindowsTest, AudioPlugInButtonOfAFilledSlotOffersThePluginMenuToReplaceItNotItsWindow) {
    world().setKnob("filledSlotButton", true);
    slotControl(1, "open").performAction(ax::kPress);  // the Compressor's window, to see it go with its plug-in
    const int oldUid = world().project().track("Kick")->strip.inserts[1].uid;
    auto button = *find(*find(*strip(0), "Compressor", "AXGroup"), "audio plug-in", "AXButton");
    world().clearEventLog();
    ASSERT_EQ(button.performAction(ax::kPress), platform::AXError::success);
    EXPECT_EQ(world().ui().openMenu, "insert");
    EXPECT_EQ(world().ui().pluginWindows.size(), 1u);  // no second window, no raise of another
    auto menu = app().element(ax::kFocusedUIElement);
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->children().at(0).string(ax::kTitle), "No Plug-in");
    EXPECT_NE(world()
                  .events(EventKind::axAction)
                  .back()
                  .place.find("AXGroup \"Compressor\"[3] > AXButton \"audio plug-in\"[0]"),
              std::string::npos);

    ASSERT_EQ(menuItem(*menuItem(*menu, "Limiter"), "Stereo")->performAction(ax::kPress), platform::AXError::success);
    EXPECT_EQ(chain("Kick"), (std::vector<std::string>{"Channel EQ", "Limiter"}));
    const auto replaced = world().project().track("Kick")->strip.inserts[1];
    EXPECT_NE(replaced.uid, oldUid);  // a new instance in the same place
    EXPECT_EQ(replaced.format, "Stereo");
    std::vector<std::string> titles;
    for (const auto& w : world().ui().pluginWindows) titles.push_back(w.title);
    EXPECT_EQ(titles, (std::vector<std::string>{"Kick: Limiter"}));

    // "No Plug-in" empties the slot.
    find(*find(*strip(0), "Channel EQ", "AXGroup"), "audio plug-in", "AXButton")->performAction(ax::kPress);
    menuItem(*app().element(ax::kFocusedUIElement), "No Plug-in")->performAction(ax::kPress);
    EXPECT_EQ(chain("Kick"), (std::vector<std::string>{"Limiter"}));
    EXPECT_EQ(world().ui().openMenu, "");
}

}  // namespace
}  // namespace corvane::standin::testing
