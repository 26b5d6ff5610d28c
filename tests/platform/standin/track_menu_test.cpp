// The main menu's "Track" items, renaming, send knobs and the automation controls on the stand-in.

#include <functional>

#include "platform/standin/standin_fixture.h"
#include "platform/standin/taper.h"

namespace corvane::standin::testing {
namespace {

using platform::AXElement;
namespace ax = platform::ax;

// Depth-first search by role and title, examining depths 0..maxDepth-1.
std::optional<AXElement> findTitled(const AXElement& root, const std::string& role, const std::string& title,
                                    int maxDepth) {
    std::optional<AXElement> found;
    std::function<void(const AXElement&, int)> walk = [&](const AXElement& e, int depth) {
        if (found || depth >= maxDepth) return;
        if (e.string(ax::kRole) == std::optional<std::string>(role) &&
            e.string(ax::kTitle) == std::optional<std::string>(title)) {
            found = e;
            return;
        }
        for (const auto& c : e.children()) walk(c, depth + 1);
    };
    walk(root, 0);
    return found;
}

class TrackMenuTest : public StandinTest {
protected:
    const Track& track(const std::string& name) {
        project_ = world().project();
        return *project_.track(name);
    }
    void type(const std::string& text) {
        std::u16string units(text.begin(), text.end());
        platform::input().postKeyToProcess(logicPid(), {0, true, 0, units});
        platform::input().postKeyToProcess(logicPid(), {0, false, 0, units});
    }
    AXElement knob(int strip = 0) { return *find(*this->strip(strip), "send knob", "AXSlider", 10); }
    Project project_;
};

TEST_F(TrackMenuTest, TrackMenuItemsAreMirroredInTheMainWindowUnlessExposedOnlyByTheApplication) {
    // Under the application's menu bar the items are always there, menu closed or not.
    auto appItem = findTitled(app(), "AXMenuItem", "Rename Track", 5);
    ASSERT_TRUE(appItem);
    // The mirror keeps them within reach of a search of the windows (items at depth 4).
    ASSERT_TRUE(findTitled(*mainWindow(), "AXMenuItem", "Rename Track", 5));
    EXPECT_FALSE(findTitled(*mainWindow(), "AXMenuItem", "Rename Track", 4));
    ASSERT_TRUE(findTitled(*mainWindow(), "AXMenuItem", "Show Output Track", 5));

    world().setKnob("mainMenuExposure", "appOnly");
    EXPECT_FALSE(findTitled(*mainWindow(), "AXMenuItem", "Rename Track", 20));
    EXPECT_FALSE(findTitled(*app().element(ax::kFocusedUIElement), "AXMenuItem", "Rename Track", 20));
    EXPECT_TRUE(findTitled(app(), "AXMenuItem", "Rename Track", 5));
    EXPECT_THROW(world().setKnob("mainMenuExposure", "menuBar"), std::invalid_argument);
}

TEST_F(TrackMenuTest, RenameFieldTakesTypingDeleteReturnAndEscapeAndFollowsIntoWindowTitles) {
    findTitled(*mainWindow(), "AXMenuItem", "Rename Track", 5)->performAction(ax::kPress);
    ASSERT_TRUE(world().ui().renaming);
    EXPECT_EQ(world().ui().renaming->text, "Kick");
    auto field = app().element(ax::kFocusedUIElement);
    ASSERT_TRUE(field);
    EXPECT_EQ(field->string(ax::kDescription), "track name");

    type("Kock");  // replaces the whole selected name
    type("x");     // then appends
    pressKey(51);  // Delete erases the last character
    pressKey(1);   // S types its letter while editing, it does not solo
    EXPECT_EQ(world().ui().renaming->text, "Kocks");
    EXPECT_FALSE(track("Kick").soloed);
    pressKey(36);
    EXPECT_FALSE(world().ui().renaming);
    EXPECT_EQ(track("Kocks").number, 2);
    EXPECT_TRUE(hasHeader("Track 2 \u201CKocks\u201D"));
    EXPECT_EQ(stripName(), "Kocks");

    // Escape drops the edit; an emptied name stays as it was.
    findTitled(app(), "AXMenuItem", "Rename Track", 5)->performAction(ax::kPress);
    type("Other");
    pressKey(53);
    EXPECT_EQ(track("Kocks").number, 2);
    findTitled(app(), "AXMenuItem", "Rename Track", 5)->performAction(ax::kPress);
    pressKey(51);
    pressKey(36);
    EXPECT_EQ(track("Kocks").number, 2);

    // A plug-in window's title follows the track's new name.
    find(*strip(), "open", "AXButton", 10)->performAction(ax::kPress);
    findTitled(app(), "AXMenuItem", "Rename Track", 5)->performAction(ax::kPress);
    type("Kick In");
    pressKey(36);
    EXPECT_EQ(world().ui().pluginWindows.at(0).title, "Kick In: Channel EQ");
}

TEST_F(TrackMenuTest, RenameIgnoresInputLeavesTheOldNameAfterReturn) {
    world().setKnob("renameIgnoresInput", true);
    findTitled(app(), "AXMenuItem", "Rename Track", 5)->performAction(ax::kPress);
    type("Kick 2");
    pressKey(36);
    EXPECT_EQ(track("Kick").number, 2);
    EXPECT_EQ(world().project().track("Kick 2"), nullptr);
}

// One item, whatever the list shows: it shows the output track at the end of the list, and hides
// it again under whatever name it bears there, the selection moving off it; shown again, it takes
// the next number.
TEST_F(TrackMenuTest, ShowOutputTrackTogglesTheOutputTrackUnderAnyName) {
    auto item = [&] { return *findTitled(app(), "AXMenuItem", "Show Output Track", 5); };
    item().performAction(ax::kPress);
    EXPECT_TRUE(track("Stereo Out").inArrange);
    EXPECT_EQ(track("Stereo Out").number, 8);
    EXPECT_TRUE(hasHeader("Track 8 \u201CStereo Out\u201D"));
    EXPECT_FALSE(findTitled(app(), "AXMenuItem", "Hide Output Track", 5));

    const int output = track("Stereo Out").id;
    world().renameByHand(output, "Master");
    world().clickHeader(track("Kick").id);
    world().shiftClickHeader(output);
    item().performAction(ax::kPress);
    EXPECT_FALSE(track("Master").inArrange);
    EXPECT_EQ(track("Master").number, 8);
    EXPECT_FALSE(hasHeader("Track 8 \u201CMaster\u201D"));
    EXPECT_EQ(world().project().selectedTrackIds(), std::vector<int>{track("Kick").id});

    item().performAction(ax::kPress);
    EXPECT_TRUE(track("Master").inArrange);
    EXPECT_EQ(track("Master").number, 9);
    EXPECT_TRUE(hasHeader("Track 9 \u201CMaster\u201D"));
    EXPECT_EQ(world().project().visibleTrackIds().back(), output);
}

TEST_F(TrackMenuTest, SendKnobWritesFollowTheSendWritesKnobAndTouchTheSend) {
    // Kick's send to bus 1 sits at -18 dB (detent 9).
    const int start = track("Kick").strip.sends[0].detent;
    ASSERT_EQ(taper::sendDetentDb(start), -18.0);
    EXPECT_EQ(knob().string(ax::kValueDescription), "-18.0");
    bool settable = false;
    knob().isAttributeSettable(ax::kValue, settable);
    EXPECT_TRUE(settable);

    struct Case {
        const char* mode;
        std::int64_t raw;
        int expected;
    };
    for (Case c : {Case{"step", taper::kSendMaxRaw, start + 1}, Case{"step", 0, start - 1},
                   Case{"absolute", taper::kSendMaxRaw, taper::kSendDetents - 1}, Case{"absolute", 0, 0},
                   Case{"ignore", taper::kSendMaxRaw, start}}) {
        world().mutateProject([&](Project& p) { p.track("Kick")->strip.sends[0].detent = start; });
        world().setKnob("sendWrites", c.mode);
        EXPECT_EQ(knob().setAttributeValue(ax::kValue, c.raw), platform::AXError::success) << c.mode;
        EXPECT_EQ(track("Kick").strip.sends[0].detent, c.expected) << c.mode << " " << c.raw;
        EXPECT_EQ(world().ui().lastTouchedSend->bus, 1) << c.mode;
    }
    world().mutateProject([&](Project& p) { p.track("Kick")->strip.sends[0].detent = 0; });
    EXPECT_EQ(knob().string(ax::kValueDescription), "-\u221E");
    EXPECT_EQ(knob().number(ax::kMaxValue), double(taper::kSendMaxRaw));
}

TEST_F(TrackMenuTest, TouchingASendSwitchesStripOneToItsAuxWhoseAutomationPowerSurfacesIt) {
    // Before: strip 1 shows the output the track feeds.
    EXPECT_EQ(find(*strip(1), "name", "AXTextField", 10)->string(ax::kValue), "Stereo Out");
    knob().performAction(ax::kIncrement);
    knob().performAction(ax::kDecrement);
    EXPECT_EQ(find(*strip(1), "name", "AXTextField", 10)->string(ax::kValue), "Reverb");

    auto group = find(*strip(1), "Read, automation", "AXGroup", 10);
    ASSERT_TRUE(group);
    auto power = find(*group, "automation", "AXCheckBox", 2);
    ASSERT_TRUE(power);
    power->performAction(ax::kPress);
    EXPECT_TRUE(track("Reverb").inArrange);
    EXPECT_EQ(track("Reverb").number, 8);
    EXPECT_TRUE(hasHeader("Track 8 \u201CReverb\u201D"));
    find(*strip(1), "automation", "AXCheckBox", 10)->performAction(ax::kPress);
    EXPECT_FALSE(track("Reverb").strip.automation.power);
    EXPECT_TRUE(track("Reverb").inArrange);  // switching it off again keeps the track
}

TEST_F(TrackMenuTest, AutomationListOpensTheModeMenuAndCancelClosesIt) {
    // The automation "list" is the one in the automation group, not a slot's own "list".
    auto list = *find(*find(*strip(0), "Read, automation", "AXGroup", 10), "list", "AXButton", 2);
    std::vector<std::string> actions;
    list.copyActionNames(actions);
    EXPECT_EQ(actions, (std::vector<std::string>{"AXPress", "AXShowMenu", "AXCancel"}));

    EXPECT_EQ(list.performAction(ax::kShowMenu), platform::AXError::success);
    EXPECT_EQ(world().ui().openMenu, "automation");
    auto menu = app().element(ax::kFocusedUIElement);
    ASSERT_TRUE(menu);
    std::vector<std::string> titles;
    for (const auto& item : menu->children()) titles.push_back(item.string(ax::kTitle).value_or(""));
    EXPECT_EQ(titles, (std::vector<std::string>{"Off", "Read", "Touch", "Latch", "Write"}));
    list.performAction(ax::kCancel);
    EXPECT_EQ(world().ui().openMenu, "");

    list.performAction(ax::kPress);
    findTitled(*find(*strip(0), "Read, automation", "AXGroup", 10), "AXMenuItem", "Latch", 4)
        ->performAction(ax::kPress);
    EXPECT_EQ(track("Kick").strip.automation.mode, "Latch");
    EXPECT_TRUE(find(*strip(0), "Latch, automation", "AXGroup", 10));
}

}  // namespace
}  // namespace corvane::standin::testing
