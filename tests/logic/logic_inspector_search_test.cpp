#include <gtest/gtest.h>

#include <cmath>

#include "logic/logic_inspector.h"
#include "platform/platform.h"
#include "platform/standin/standin_fixture.h"
#include "test_support/fake_ax.h"
#include "test_support/manual_clock.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

using testing::FakeElement;
using Node = std::shared_ptr<FakeElement>;

Node el(const std::string& role, const std::string& description = {}) { return FakeElement::make(role, description); }

// --- On the simulated Logic Pro ----------------------------------------------------------------

class LogicInspectorSearch : public standin::testing::StandinTest {
protected:
    testing::TempHome home;
    LogicInspector inspector;
};

TEST_F(LogicInspectorSearch, APluginWindowOfATrackNamedWithTracksIsNeverTheMainWindow) {
    world().setKnob("extraWindows", nlohmann::json::array({{{"title", "Drum Tracks: Compressor"}, {"front", true}}}));
    auto window = inspector.findMainWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->string("AXTitle"), "Demo Song - Tracks");
}

// --- On hand-built elements ------------------------------------------------------------------

TEST(LogicInspectorSearchShapes, DescriptionsAreTrimmedButCaseSensitiveAndRolesFilter) {
    LogicInspector inspector;
    auto fader = el("AXSlider", "  volume fader\n")->set("AXValue", std::int64_t{100});
    auto root = el("AXWindow")
                    ->add(el("AXGroup", "Mixer")->add(el("AXGroup", "Volume Fader")))
                    ->add(el("AXLayoutArea", "Mixer")->add(fader));
    EXPECT_TRUE(inspector.findDescendant(root->handle(), "volume fader", std::nullopt, 10));
    EXPECT_FALSE(inspector.findDescendant(root->handle(), "Volume fader", std::nullopt, 10));
    auto mixer = inspector.findDescendant(root->handle(), "Mixer", std::string("AXLayoutArea"), 10);
    ASSERT_TRUE(mixer);
    EXPECT_EQ(mixer->string("AXRole"), "AXLayoutArea");
    EXPECT_TRUE(inspector.findSlider(root->handle(), "volume fader", 10));
    EXPECT_FALSE(inspector.findSlider(root->handle(), "Mixer", 10));

    // Depth bounds: the fader sits at depth 2, so a limit of 2 never reaches it; 0 reads nothing.
    EXPECT_FALSE(inspector.findSlider(root->handle(), "volume fader", 2));
    EXPECT_TRUE(inspector.findSlider(root->handle(), "volume fader", 3));
    int before = root->reads;
    EXPECT_FALSE(inspector.findDescendant(root->handle(), "Mixer", std::nullopt, 0));
    EXPECT_EQ(root->reads, before);
}

TEST(LogicInspectorSearchShapes, SliderWriteTruncatesConfirmsWithinOneAndRefusesNonFiniteValues) {
    testing::ManualClock clock;
    platform::ScopedServices services({.clock = &clock});
    LogicInspector inspector;
    auto slider = el("AXSlider", "pan")->set("AXValue", std::int64_t{0});
    auto root = el("AXGroup")->add(slider);
    EXPECT_TRUE(inspector.setSliderValue(root->handle(), "pan", 127.9, 10).success);
    EXPECT_EQ(std::get<double>(slider->writes.front()), 127.0);

    // A control that settles one step off still counts; two steps off does not.
    slider->attributes["AXValue"] = std::int64_t{0};
    slider->writeTransform = [](const platform::AXValue& v) {
        return platform::AXValue(std::int64_t(std::get<double>(v)) + 1);
    };
    EXPECT_TRUE(inspector.setSliderValue(root->handle(), "pan", 127, 10).success);
    slider->writeTransform = [](const platform::AXValue& v) {
        return platform::AXValue(std::int64_t(std::get<double>(v)) + 2);
    };
    EXPECT_FALSE(inspector.setSliderValue(root->handle(), "pan", 127, 10).success);
    EXPECT_EQ(slider->writes.size(), 1u + 300u + 300u);

    slider->writes.clear();
    for (double bad : {std::nan(""), double(INFINITY), 1e300})
        EXPECT_FALSE(inspector.setSliderValue(root->handle(), "pan", bad, 10).success);
    EXPECT_TRUE(slider->writes.empty());

    // A refused write on the first match does not end the search: the next slider is tried.
    auto locked = el("AXSlider", "bar")->set("AXValue", std::int64_t{1});
    locked->rejectWrites = true;
    auto second = el("AXSlider", "bar")->set("AXValue", std::int64_t{1});
    auto group = el("AXGroup")->add(locked)->add(second);
    EXPECT_TRUE(inspector.setSliderValue(group->handle(), "bar", 9, 4).success);
    EXPECT_EQ(std::get<double>(second->attributes["AXValue"]), 9.0);
}

TEST(LogicInspectorSearchShapes, ButtonsChildrenMenusAndLabels) {
    LogicInspector inspector;
    auto menuButton = el("AXMenuButton", "Play");
    auto play = el("AXCheckBox")->set("AXTitle", std::string("Play"));
    auto root = el("AXWindow")->add(menuButton->add(play));
    EXPECT_TRUE(inspector.findAndClickButton(root->handle(), "Play", 0, 8).success);
    EXPECT_TRUE(menuButton->performed.empty());
    EXPECT_EQ(play->performed, std::vector<std::string>{"AXPress"});

    auto close = el("AXButton", "Close");
    auto grandchild = el("AXButton", "open");
    auto window = el("AXWindow")->add(close)->add(el("AXGroup")->add(grandchild));
    EXPECT_TRUE(inspector.findChildButton(window->handle(), "close"));
    EXPECT_FALSE(inspector.findChildButton(window->handle(), "open"));

    auto labelled = el("AXButton", "Auto\u2028GAIN");
    auto titled = el("AXButton")->set("AXTitle", std::string("Output Level"));
    auto editor = el("AXWindow")->add(labelled)->add(titled);
    EXPECT_TRUE(inspector.findButtonByLabelContains(editor->handle(), "auto gain", 0, 15));
    EXPECT_TRUE(inspector.findButtonByLabelContains(editor->handle(), "output", 0, 15));

    auto item = el("AXMenuItem")->set("AXTitle", std::string("RENAME TRACK"));
    auto ellipsis = el("AXMenuItem")->set("AXTitle", std::string("Rename Track…"));
    auto app = el("AXApplication");
    auto mainWindow = el("AXWindow")->add(el("AXMenu")->add(ellipsis));
    auto menu = el("AXMenu")->add(item);
    app->set("AXWindows", std::vector<platform::AXElement>{mainWindow->handle()});
    EXPECT_FALSE(inspector.findMenuItemByTitle(app->handle(), "Rename Track", 8));
    app->set("AXFocusedUIElement", menu->handle());
    EXPECT_TRUE(inspector.findMenuItemByTitle(app->handle(), "Rename Track", 8));

    std::optional<platform::AXElement> found;
    auto view = el("AXMenuButton", "View");
    inspector.findMenuButtonRecurse(el("AXWindow")->add(el("AXGroup")->add(view))->handle(), "view", found, 0, 15);
    EXPECT_TRUE(found);
}

TEST(LogicInspectorSearchShapes, FramesNeedPositionOrSizeAndZeroFramesCountAsMissing) {
    LogicInspector inspector;
    auto marker = el("AXValueIndicator", "Start Marker");
    auto root = el("AXGroup")->add(marker);
    EXPECT_FALSE(inspector.findElementFrame(root->handle(), "Start Marker", 10));
    marker->set("AXPosition", platform::Point{440, 60});
    auto frame = inspector.findElementFrame(root->handle(), "Start Marker", 10);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->x, 440);
    EXPECT_EQ(frame->width, 0);
    marker->attributes.erase("AXPosition");
    marker->set("AXSize", platform::Size{4, 10});
    EXPECT_EQ(LogicInspector::frameForElement(marker->handle()), (platform::Rect{0, 0, 4, 10}));
}

}  // namespace
}  // namespace corvane
