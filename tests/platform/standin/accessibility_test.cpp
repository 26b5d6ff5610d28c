#include <gtest/gtest.h>

#include "standin_fixture.h"

namespace corvane::standin::testing {
namespace {

using platform::AXError;
using platform::AXValue;
namespace ax = platform::ax;

std::vector<std::string> headerDescriptions(const platform::AXElement& window) {
    std::vector<std::string> out;
    std::function<void(const platform::AXElement&, int)> walk = [&](const platform::AXElement& e, int depth) {
        if (depth >= 15) return;
        std::string d = e.string(ax::kDescription).value_or("");
        if (d.rfind("Track ", 0) == 0) {
            out.push_back(d);
            return;
        }
        for (const auto& c : e.children()) walk(c, depth + 1);
    };
    walk(window, 0);
    return out;
}

TEST_F(StandinTest, ApplicationElementListsWindowsFocusAndTheSelectedHeader) {
    auto a = app();
    EXPECT_EQ(a.string(ax::kRole), "AXApplication");
    auto windows = a.elements(ax::kWindows);
    ASSERT_TRUE(windows);
    ASSERT_EQ(windows->size(), 1u);
    EXPECT_EQ((*windows)[0].string(ax::kTitle), "Demo Song - Tracks");
    EXPECT_EQ((*windows)[0].string(ax::kSubrole), "AXStandardWindow");
    EXPECT_EQ(a.element(ax::kFocusedWindow), (*windows)[0]);
    auto focused = a.element(ax::kFocusedUIElement);
    ASSERT_TRUE(focused);
    EXPECT_EQ(focused->string(ax::kDescription), "Track 2 \u201CKick\u201D");
    auto children = a.children();
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[1].string(ax::kRole), "AXMenuBar");
    int pid = 0;
    EXPECT_EQ((*windows)[0].processIdentifier(pid), AXError::success);
    EXPECT_EQ(pid, 4242);
}

TEST_F(StandinTest, HeadersCarryNumberQuotesMutedSuffixAndFolderIndent) {
    auto w = mainWindow();
    ASSERT_TRUE(w);
    std::vector<std::string> expected{"Track 1 \u201CDrums\u201D",    "Track 2 \u201CKick\u201D",
                                      "Track 3 \u201CSnare\u201D",    "Track 4 \u201CBass\u201D",
                                      "Track 5 \u201CLead Vox\u201D", "Track 6 \u201CKeys\u201D, muted",
                                      "Track 7 \u201CGuitar\u201D"};
    // The header column comes first; the rows of "Tracks contents" carry the same descriptions after it.
    auto found = headerDescriptions(*w);
    ASSERT_EQ(found.size(), 2 * expected.size());
    EXPECT_EQ(std::vector<std::string>(found.begin(), found.begin() + 7), expected);
    EXPECT_EQ(std::vector<std::string>(found.begin() + 7, found.end()), expected);
    EXPECT_EQ(world().headerFrame("Kick")->x - world().headerFrame("Drums")->x, 12);
    EXPECT_EQ(world().headerFrame("Snare")->y - world().headerFrame("Kick")->y, 40);
    auto drums = find(*w, "Track 1 \u201CDrums\u201D");
    ASSERT_TRUE(drums);
    auto triangle = drums->children().front();
    EXPECT_EQ(triangle.string(ax::kRole), "AXDisclosureTriangle");
    EXPECT_EQ(triangle.number(ax::kValue), 1);
    auto kick = find(*w, "Track 2 \u201CKick\u201D");
    EXPECT_EQ(kick->boolean(ax::kSelected), true);
    EXPECT_EQ(drums->boolean(ax::kSelected), false);
}

TEST_F(StandinTest, NamingVariantsFollowTheirKnobs) {
    world().updateFaults([](Faults& f) {
        f.plainQuotes = true;
        f.toggleValueText = true;
        f.titleSuffix = true;
        f.levelFormatPlain = true;
    });
    auto w = mainWindow();
    ASSERT_TRUE(w);
    EXPECT_EQ(w->string(ax::kTitle), "Demo Song.logicx - Tracks");
    auto keys = find(*w, "Track 6 \"Keys\", muted");
    ASSERT_TRUE(keys);
    auto mute = find(*keys, "mute");
    EXPECT_EQ(mute->string(ax::kValue), "On");
    EXPECT_EQ(find(*keys, "solo")->string(ax::kValue), "Off");
    auto level = find(*strip(), "volume fader level");
    EXPECT_EQ(level->string(ax::kTitle), "-5.0");  // Kick: raw 200
}

TEST_F(StandinTest, StripShowsTheSelectedTrackAndStrip1ItsOutputChannel) {
    auto s0 = strip(0);
    ASSERT_TRUE(s0);
    EXPECT_EQ(stripName(), "Kick");
    auto input = find(*s0, "Input 1", "AXButton");
    ASSERT_TRUE(input);
    EXPECT_EQ(input->string(ax::kHelp), "Input slot: Input 1");
    EXPECT_EQ(find(*s0, "Stereo Output", "AXButton")->string(ax::kHelp), "Output slot: Stereo Output");
    EXPECT_EQ(find(*s0, "volume fader", "AXSlider")->number(ax::kValue), 200);
    EXPECT_EQ(find(*s0, "volume fader level")->string(ax::kTitle), "-5.0 dB");
    EXPECT_EQ(find(*s0, "channel mode")->string(ax::kValue), "Stereo");
    EXPECT_EQ(find(*s0, "B 1", "AXGroup")->string(ax::kRole), "AXGroup");
    auto knob = find(*s0, "send knob", "AXSlider");
    EXPECT_EQ(knob->string(ax::kValueDescription), "-18.0");
    EXPECT_EQ(knob->point(ax::kPosition)->y, find(*s0, "B 1")->point(ax::kPosition)->y);
    EXPECT_TRUE(find(*s0, "Channel EQ", "AXGroup"));
    EXPECT_EQ(find(*s0, "Read, automation")->string(ax::kRole), "AXGroup");
    auto s1 = strip(1);
    ASSERT_TRUE(s1);
    EXPECT_EQ(find(*s1, "name", "AXTextField")->string(ax::kValue), "Stereo Out");
}

TEST_F(StandinTest, ElementsSitWithinTheProgramsDepthBounds) {
    auto w = mainWindow();
    ASSERT_TRUE(w);
    struct Case {
        const char* description;
        const char* role;
        int maxDepth;  // the program examines depths 0..maxDepth-1 from the main window
    };
    const Case cases[] = {{"Play", "AXCheckBox", 8},
                          {"Playhead Position", "AXGroup", 8},
                          {"Mixer", "AXLayoutArea", 10},
                          {"Tracks contents", "", 10},
                          {"Start Marker", "", 10},
                          {"Playhead thumb", "", 10},
                          {"Track 7 \u201CGuitar\u201D", "", 15},
                          {"Tempo", "AXSlider", 8}};
    for (const auto& c : cases) EXPECT_TRUE(find(*w, c.description, c.role, c.maxDepth)) << c.description;
    auto group = find(*w, "Playhead Position", "AXGroup", 8);
    for (const char* s : {"bar", "beat", "division", "tick"}) EXPECT_TRUE(find(*group, s, "AXSlider", 4)) << s;
    auto s0 = strip();
    for (const char* d : {"volume fader", "pan", "name", "insert bar", "bypass", "send knob", "list"})
        EXPECT_TRUE(find(*s0, d, "", 10)) << d;
}

TEST_F(StandinTest, AttributeErrorsUseTheDocumentedCodes) {
    auto s0 = strip();
    auto fader = find(*s0, "volume fader", "AXSlider");
    auto name = find(*s0, "name", "AXTextField");
    AXValue v;
    EXPECT_EQ(s0->copyAttributeValue(ax::kDescription, v), AXError::noValue);  // the strip group has no description
    EXPECT_EQ(s0->copyAttributeValue(ax::kValue, v), AXError::attributeUnsupported);
    EXPECT_EQ(fader->copyAttributeValue("AXNoSuchThing", v), AXError::attributeUnsupported);
    EXPECT_EQ(fader->setAttributeValue(ax::kValue, std::string("loud")), AXError::illegalArgument);
    EXPECT_EQ(fader->setAttributeValue(ax::kTitle, std::string("x")), AXError::attributeUnsupported);
    EXPECT_EQ(name->setAttributeValue(ax::kValue, std::string("Renamed")), AXError::attributeUnsupported);
    EXPECT_EQ(fader->performAction("AXShowMenu"), AXError::actionUnsupported);
    bool settable = false;
    EXPECT_EQ(fader->isAttributeSettable(ax::kValue, settable), AXError::success);
    EXPECT_TRUE(settable);
    EXPECT_EQ(name->isAttributeSettable(ax::kValue, settable), AXError::success);
    EXPECT_FALSE(settable);

    std::vector<std::string> names;
    ASSERT_EQ(fader->copyAttributeNames(names), AXError::success);
    std::vector<std::string> expected{"AXRole",    "AXSubrole", "AXRoleDescription", "AXDescription",
                                      "AXTitle",   "AXHelp",    "AXIdentifier",      "AXEnabled",
                                      "AXFocused", "AXParent",  "AXChildren",        "AXPosition",
                                      "AXSize",    "AXValue",   "AXMinValue",        "AXMaxValue"};
    EXPECT_EQ(names, expected);
    std::vector<std::string> actions;
    ASSERT_EQ(find(*s0, "list", "AXButton")->copyActionNames(actions), AXError::success);
    EXPECT_EQ(actions, (std::vector<std::string>{"AXPress", "AXShowMenu"}));
    auto automationList = find(*find(*s0, "Read, automation"), "list");
    ASSERT_EQ(automationList->copyActionNames(actions), AXError::success);
    EXPECT_EQ(actions, (std::vector<std::string>{"AXPress", "AXShowMenu", "AXCancel"}));
}

TEST_F(StandinTest, VolumeFaderWritesTruncateClampAndUpdateTheLevelTextAtOnce) {
    struct Case {
        AXValue written;
        int raw;
        const char* text;
    };
    const Case cases[] = {{std::int64_t{195}, 195, "-6.0 dB"}, {127.9, 127, "-19.6 dB"},
                          {std::int64_t{300}, 255, "6.0 dB"},  {-12.5, 0, "-\u221E dB"},
                          {std::int64_t{225}, 225, "0.0 dB"},  {1e30, 255, "6.0 dB"}};
    for (const auto& c : cases) {
        auto s0 = strip();
        auto fader = find(*s0, "volume fader", "AXSlider");
        ASSERT_EQ(fader->setAttributeValue(ax::kValue, c.written), AXError::success);
        EXPECT_EQ(fader->number(ax::kValue), c.raw);
        EXPECT_EQ(find(*s0, "volume fader level")->string(ax::kTitle), c.text);
        EXPECT_EQ(find(*s0, "volume fader level")->string(ax::kValue), c.text);
        EXPECT_EQ(world().project().track("Kick")->strip.volume, c.raw);
        EXPECT_EQ(world().levelText(c.raw), c.text);
    }
    auto writes = world().events(EventKind::axWrite);
    ASSERT_EQ(writes.size(), std::size(cases));
    EXPECT_EQ(writes.front().element, "AXSlider \"volume fader\"");
    EXPECT_EQ(writes.front().code, 0);
}

TEST_F(StandinTest, PanAndPlayheadWritesClampToTheirRanges) {
    auto pan = find(*strip(), "pan", "AXSlider");
    ASSERT_EQ(pan->setAttributeValue(ax::kValue, std::int64_t{-100}), AXError::success);
    EXPECT_EQ(world().project().track("Kick")->strip.pan, -64);
    ASSERT_EQ(pan->setAttributeValue(ax::kValue, std::int64_t{64}), AXError::success);
    EXPECT_EQ(world().project().track("Kick")->strip.pan, 63);

    auto group = findInMain("Playhead Position", "AXGroup", 8);
    find(*group, "bar", "AXSlider")->setAttributeValue(ax::kValue, std::int64_t{17});
    find(*group, "beat", "AXSlider")->setAttributeValue(ax::kValue, std::int64_t{9});
    find(*group, "tick", "AXSlider")->setAttributeValue(ax::kValue, std::int64_t{0});
    EXPECT_EQ(world().project().transport.playhead(), (PlayheadPosition{17, 4, 1, 1}));
    find(*group, "bar", "AXSlider")->setAttributeValue(ax::kValue, std::int64_t{500});
    EXPECT_EQ(world().project().transport.playhead().bar, 64);
    EXPECT_EQ(find(*group, "bar", "AXSlider")->number(ax::kValue), 64);
}

TEST_F(StandinTest, UpperPlayheadGroupIsFoundFirstButIgnoresWrites) {
    world().setKnob("secondPlayheadGroup", true);
    auto upper = findInMain("Playhead Position", "AXGroup", 8);
    ASSERT_TRUE(upper);
    EXPECT_EQ(upper->point(ax::kPosition)->y, 40);
    EXPECT_EQ(find(*upper, "bar", "AXSlider")->setAttributeValue(ax::kValue, std::int64_t{9}), AXError::success);
    EXPECT_EQ(world().project().transport.playhead().bar, 1);
    auto lower = find(*findInMain("Control Bar"), "Playhead Position", "AXGroup");
    find(*lower, "bar", "AXSlider")->setAttributeValue(ax::kValue, std::int64_t{9});
    EXPECT_EQ(world().project().transport.playhead().bar, 9);
    EXPECT_EQ(find(*upper, "bar", "AXSlider")->number(ax::kValue), 9);  // it still shows the position
}

TEST_F(StandinTest, UnchangedNodesGiveEqualHandlesAndRebuiltOnesGoStale) {
    auto fader1 = find(*strip(), "volume fader", "AXSlider");
    auto fader2 = find(*strip(), "volume fader", "AXSlider");
    ASSERT_TRUE(fader1 && fader2);
    EXPECT_EQ(*fader1, *fader2);
    EXPECT_EQ(fader1->hash(), fader2->hash());
    auto header = findInMain("Track 4 \u201CBass\u201D");
    auto play = findInMain("Play");

    fader1->setAttributeValue(ax::kValue, std::int64_t{100});  // a value change rebuilds nothing
    EXPECT_EQ(fader1->number(ax::kValue), 100);

    ASSERT_EQ(header->performAction(ax::kPress), AXError::success);  // a new selection rebuilds the strips
    EXPECT_EQ(selectedName(), "Bass");
    AXValue v;
    EXPECT_EQ(fader1->copyAttributeValue(ax::kValue, v), AXError::invalidUIElement);
    EXPECT_EQ(fader1->setAttributeValue(ax::kValue, std::int64_t{1}), AXError::invalidUIElement);
    EXPECT_EQ(world().project().track("Kick")->strip.volume, 100);
    auto fresh = find(*strip(), "volume fader", "AXSlider");
    EXPECT_NE(*fresh, *fader1);
    EXPECT_EQ(fresh->number(ax::kValue), 185);
    EXPECT_EQ(header->boolean(ax::kSelected), true);  // the header list did not change
    EXPECT_EQ(play->string(ax::kRole), "AXCheckBox");

    pressKey(46);  // muting changes the header text, not the list
    EXPECT_EQ(header->string(ax::kDescription), "Track 4 \u201CBass\u201D, muted");
}

TEST_F(StandinTest, StaleAfterKnobMakesHeldHandlesFail) {
    auto play = findInMain("Play");
    ASSERT_TRUE(play);
    world().setKnob("staleAfter", "afterReads 2");  // counted from here on
    AXValue v;
    EXPECT_EQ(play->copyAttributeValue(ax::kValue, v), AXError::success);
    EXPECT_EQ(play->copyAttributeValue(ax::kValue, v), AXError::success);
    EXPECT_EQ(play->copyAttributeValue(ax::kValue, v), AXError::invalidUIElement);

    world().setKnob("staleAfter", "always");
    auto tempo = findInMain("Tempo");
    const auto application = app();
    ASSERT_EQ(tempo->copyAttributeValue(ax::kValue, v), AXError::success);
    pressKey(8);  // any change rebuilds everything
    EXPECT_EQ(tempo->copyAttributeValue(ax::kValue, v), AXError::invalidUIElement);
    // but the application's element, which stands for the process and is never rebuilt
    EXPECT_EQ(application.copyAttributeValue(ax::kWindows, v), AXError::success);
}

TEST_F(StandinTest, QuittingLogicInvalidatesEveryHandle) {
    auto a = app();
    auto w = mainWindow();
    ASSERT_TRUE(w);
    world().quitLogic();
    AXValue v;
    EXPECT_EQ(a.copyAttributeValue(ax::kRole, v), AXError::invalidUIElement);
    EXPECT_EQ(w->copyAttributeValue(ax::kTitle, v), AXError::invalidUIElement);
    EXPECT_EQ(app().copyAttributeValue(ax::kRole, v), AXError::invalidUIElement);
    world().launchLogic();
    EXPECT_EQ(w->copyAttributeValue(ax::kTitle, v), AXError::invalidUIElement);
    EXPECT_EQ(mainWindow()->string(ax::kTitle), "Demo Song - Tracks");
}

TEST_F(StandinTest, UntrustedAccessibilityRefusesEveryCallAndCountsPrompts) {
    auto fader = find(*strip(), "volume fader", "AXSlider");
    world().setKnob("accessibilityTrusted", false);
    auto& access = platform::accessibility();
    EXPECT_FALSE(access.isProcessTrusted(false));
    EXPECT_EQ(world().accessibilityPrompts(), 0);
    EXPECT_FALSE(access.isProcessTrusted(true));
    EXPECT_FALSE(access.isProcessTrusted(true));
    EXPECT_EQ(world().accessibilityPrompts(), 2);

    AXValue v;
    std::vector<std::string> names;
    bool settable = false;
    int pid = 0;
    EXPECT_EQ(app().copyAttributeValue(ax::kRole, v), AXError::apiDisabled);
    EXPECT_EQ(fader->copyAttributeValue(ax::kValue, v), AXError::apiDisabled);
    EXPECT_EQ(fader->setAttributeValue(ax::kValue, std::int64_t{1}), AXError::apiDisabled);
    EXPECT_EQ(fader->performAction(ax::kIncrement), AXError::apiDisabled);
    EXPECT_EQ(fader->copyAttributeNames(names), AXError::apiDisabled);
    EXPECT_EQ(fader->copyActionNames(names), AXError::apiDisabled);
    EXPECT_EQ(fader->isAttributeSettable(ax::kValue, settable), AXError::apiDisabled);
    EXPECT_EQ(fader->processIdentifier(pid), AXError::apiDisabled);
    EXPECT_EQ(access.systemWideElement().copyAttributeValue(ax::kFocusedUIElement, v), AXError::apiDisabled);
    EXPECT_EQ(world().project().track("Kick")->strip.volume, 200);
    EXPECT_EQ(world().events(EventKind::axWrite).back().code, -25211);

    world().setKnob("grantOnPrompt", true);
    EXPECT_FALSE(access.isProcessTrusted(true));  // answers the state before the prompt
    EXPECT_TRUE(access.isProcessTrusted(false));
    EXPECT_EQ(fader->number(ax::kValue), 200);
}

TEST_F(StandinTest, AXErrorKnobsFailTheChosenReadAndWrite) {
    world().setKnob("axError", {{"element", "application"}, {"attribute", "AXRole"}, {"code", -25204}});
    AXValue v;
    EXPECT_EQ(app().copyAttributeValue(ax::kRole, v), AXError::cannotComplete);
    EXPECT_EQ(app().copyAttributeValue(ax::kWindows, v), AXError::success);
    world().setKnob("axError", {{"element", "volume fader"}, {"attribute", "AXValue"}, {"code", -25200}, {"times", 1}});
    auto fader = find(*strip(), "volume fader");
    EXPECT_EQ(fader->copyAttributeValue(ax::kValue, v), AXError::failure);
    EXPECT_EQ(fader->copyAttributeValue(ax::kValue, v), AXError::success);
    // Failing later: the reads before it are answered.
    world().setKnob("axError", {{"element", "application"}, {"attribute", "AXWindows"}, {"code", -25202},
                                {"times", 1}, {"after", 2}});
    for (const AXError expected : {AXError::success, AXError::success, AXError::invalidUIElement, AXError::success})
        EXPECT_EQ(app().copyAttributeValue(ax::kWindows, v), expected);

    // A refused write keeps the value; reads go on answering.
    world().setKnob("axError", nullptr);
    world().setKnob("axWriteError", {{"element", "volume fader"}, {"attribute", "AXValue"}, {"code", -25204}, {"times", 1}});
    const auto was = fader->number(ax::kValue);
    EXPECT_EQ(fader->setAttributeValue(ax::kValue, 100), AXError::cannotComplete);
    EXPECT_EQ(fader->number(ax::kValue), was);
    EXPECT_EQ(world().events(EventKind::axWrite).back().code, -25204);
    EXPECT_EQ(fader->setAttributeValue(ax::kValue, 100), AXError::success);
    EXPECT_EQ(fader->number(ax::kValue), 100);
}

TEST_F(StandinTest, SystemWideFocusIsLogicsOnlyWhileLogicIsFrontmost) {
    auto sys = platform::accessibility().systemWideElement();
    AXValue v;
    EXPECT_EQ(sys.copyAttributeValue(ax::kFocusedUIElement, v), AXError::noValue);
    world().setFrontmost(logicPid());
    auto focused = sys.element(ax::kFocusedUIElement);
    ASSERT_TRUE(focused);
    EXPECT_EQ(focused->string(ax::kDescription), "Track 2 \u201CKick\u201D");
    EXPECT_EQ(sys.element("AXFocusedApplication"), app());
}

TEST_F(StandinTest, LayoutVariantsAddDecoysWithoutMovingTheRealElements) {
    world().updateFaults([](Faults& f) {
        f.duplicateNameField = true;
        f.decoyContainers = true;
    });
    EXPECT_EQ(stripName(), "Kick");  // the first "name" field is the real one
    auto controlBar = findInMain("Control Bar");
    auto children = controlBar->children();
    EXPECT_EQ(children[0].string(ax::kDescription), "open");
    EXPECT_EQ(children[1].string(ax::kDescription), "bypass");
    int names = 0;
    for (const auto& c : strip()->children()) names += c.string(ax::kDescription) == "name";
    EXPECT_EQ(names, 2);
}

TEST_F(StandinTest, AMixerWindowInFrontIsListedFirstAndItsFirstStripIsNotTheSelectedTracks) {
    world().setKnob("mixerWindowFirst", true);
    auto windows = app().elements(ax::kWindows);
    ASSERT_EQ(windows->size(), 2u);
    EXPECT_EQ((*windows)[0].string(ax::kTitle), "Demo Song - Mixer");
    EXPECT_EQ((*windows)[1].string(ax::kTitle), "Demo Song - Tracks");
    EXPECT_EQ(world().ui().keyWindow, "Demo Song - Mixer");
    // Its first strip is the first track's, not the selected one's: a reader that took it for the
    // window with the track list would report another track.
    EXPECT_EQ(mainWindow()->string(ax::kTitle), "Demo Song - Mixer");
    EXPECT_EQ(stripName(), "Drums");
    EXPECT_EQ(selectedName(), "Kick");

    world().updateFaults([](Faults& f) { f.extraWindows = {{"Logic Pro", {100, 100, 300, 200}, true}}; });
    windows = app().elements(ax::kWindows);
    ASSERT_EQ(windows->size(), 3u);
    EXPECT_EQ((*windows)[0].string(ax::kTitle), "Logic Pro");
    ASSERT_EQ((*windows)[2].performAction(ax::kRaise), AXError::success);
    EXPECT_EQ(app().element(ax::kFocusedWindow)->string(ax::kTitle), "Demo Song - Tracks");
}

TEST_F(StandinTest, ARealWindowsDecoysStandWhereLogicHasThemAndActAsThere) {
    // The control bar's "Mixer" check box is met before the Inspector's "Mixer" area.
    auto mixer = findInMain("Mixer");
    ASSERT_TRUE(mixer);
    EXPECT_EQ(mixer->string(ax::kRole), "AXCheckBox");
    EXPECT_EQ(mixer->element(ax::kParent)->string(ax::kDescription), "Control Bar");
    ASSERT_EQ(mixer->performAction(ax::kPress), AXError::success);
    EXPECT_TRUE(world().ui().mixerAreaShown);
    EXPECT_EQ(findInMain("Mixer")->number(ax::kValue), 1);
    EXPECT_EQ(stripName(), "Kick");

    // A real window's title-bar buttons and "Project" group are there by default.
    world().updateFaults([](Faults& f) { f.decoyContainers = true; });
    auto children = mainWindow()->children();
    std::vector<std::string> described;
    for (const auto& c : children)
        described.push_back(c.string(ax::kDescription).value_or(c.string(ax::kRole).value_or("")));
    EXPECT_EQ(described, (std::vector<std::string>{"AXMenuBar", "Control Bar", "Inspector", "Project", "Tracks",
                                                   "close", "full screen", "minimize"}));
    EXPECT_EQ(children[3].children().at(0).string(ax::kDescription), "open");  // decoyContainers reach "Project" too
    const auto& close = children[5];
    EXPECT_EQ(close.string(ax::kSubrole), "AXCloseButton");
    EXPECT_EQ(close.string(ax::kRoleDescription), "close button");
    EXPECT_EQ(children[7].string(ax::kSubrole), "AXMinimizeButton");
    EXPECT_TRUE(hasHeader("Track 2 \u201CKick\u201D"));

    // Minimise puts the window in the Dock; close takes the project's window away until Logic starts again.
    ASSERT_EQ(children[7].performAction(ax::kPress), AXError::success);
    EXPECT_EQ(world().ui().minimisedWindows, (std::vector<std::string>{"Demo Song - Tracks"}));
    world().setKnob("minimisedWindows", nullptr);
    ASSERT_EQ(mainWindow()->children()[5].performAction(ax::kPress), AXError::success);
    EXPECT_TRUE(world().ui().windows.empty());
    EXPECT_FALSE(mainWindow());
    world().quitLogic();
    world().launchLogic();
    EXPECT_EQ(world().ui().windows, (std::vector<std::string>{"Demo Song - Tracks"}));
}

TEST_F(StandinTest, TheEventLogPlacesEachElementSoSameNamedOnesAreTold) {
    find(*strip(0), "mute", "AXCheckBox")->performAction(ax::kPress);
    find(*strip(1), "mute", "AXCheckBox")->performAction(ax::kPress);
    auto header = findInMain("Track 3 \u201CSnare\u201D");
    find(*header, "mute", "AXCheckBox")->performAction(ax::kPress);
    clickInProcess(World::center(*world().stripControlFrame(0, "mute")));
    auto actions = world().events(EventKind::axAction);
    ASSERT_EQ(actions.size(), 3u);
    for (const auto& a : actions) EXPECT_EQ(a.element, "AXCheckBox \"mute\"");
    const std::string inspector =
        "window \"Demo Song - Tracks\" > AXGroup \"Inspector\"[2] > AXLayoutArea \"Mixer\"[0] > ";
    EXPECT_EQ(actions[0].place, inspector + "AXGroup[0] > AXCheckBox \"mute\"[9]");
    EXPECT_EQ(actions[1].place, inspector + "AXGroup[1] > AXCheckBox \"mute\"[8]");
    EXPECT_EQ(actions[2].place.rfind("window \"Demo Song - Tracks\" > AXGroup \"Tracks\"[4] > AXGroup[0] > "
                                     "AXGroup \"Track 3 \u201CSnare\u201D\"[2] > AXCheckBox \"mute\"",
                                     0),
              0u)
        << actions[2].place;
    EXPECT_EQ(world().events(EventKind::mouse).back().place, actions[0].place);
    EXPECT_NE(describe(actions[1]).find(" place=" + actions[1].place), std::string::npos);
}

}  // namespace
}  // namespace corvane::standin::testing
