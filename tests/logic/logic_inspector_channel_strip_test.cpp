#include <gtest/gtest.h>

#include "logic/logic_inspector.h"
#include "platform/standin/standin_fixture.h"
#include "test_support/fake_ax.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

using testing::FakeElement;
using Node = std::shared_ptr<FakeElement>;

Node el(const std::string& role, const std::string& description = {}) { return FakeElement::make(role, description); }
Node at(Node n, double x, double y) {
    return n->set("AXPosition", platform::Point{x, y})->set("AXSize", platform::Size{80, 20});
}

// --- On the simulated Logic Pro ----------------------------------------------------------------

class LogicInspectorChannelStrip : public standin::testing::StandinTest {
protected:
    testing::TempHome home;
    LogicInspector inspector;
};

TEST_F(LogicInspectorChannelStrip, StripOfATrackWithInsertsSendsAndABusInput) {
    world().mutateProject([](standin::Project& p) { p.track("Lead Vox")->strip.input = "Bus 4"; });
    auto window = inspector.selectAndVerifyTrack("Lead Vox");
    ASSERT_TRUE(window);
    const nlohmann::json strip = inspector.readChannelStrip(*window);
    EXPECT_EQ(strip["name"], "Lead Vox");
    EXPECT_EQ(strip["input"], "Bus 4");
    EXPECT_EQ(strip["inputBus"], "Bus 4");
    EXPECT_EQ(strip["output"], "Stereo Output");
    EXPECT_EQ(strip["sends"], (nlohmann::json{"Bus 1"}));
    EXPECT_EQ(strip["volume"], "225");
    EXPECT_EQ(strip["volumeDisplay"], "0.0 dB");
    EXPECT_EQ(strip["channelMode"], "Stereo");
    EXPECT_EQ(inspector.readTrackInputBus(*window), "Bus 4");
    EXPECT_EQ(inspector.readTrackOutput(*window), "Bus 4");  // a bus above the first slot wins
    EXPECT_EQ(inspector.readTrackOutputForName("Bass"), "Stereo Output");
}

// --- On hand-built elements ------------------------------------------------------------------

TEST(LogicInspectorChannelStripShapes, ReadsKeysByDescriptionRoleAndValue) {
    LogicInspector inspector;
    auto strip = el("AXGroup")
                     ->add(el("AXButton", "channel mode")->set("AXValue", std::string("Stereo")))
                     ->add(el("AXButton", "Bus 4")->set("AXHelp", std::string("Input slot: Bus 4")))
                     ->add(el("AXGroup")
                               ->add(el("AXGroup", "B 1"))
                               ->add(el("AXGroup", "B 12"))
                               ->add(el("AXGroup", "B 1"))
                               ->add(el("AXGroup", "B 1234"))
                               ->add(el("AXGroup", "Bus 1"))
                               ->add(el("AXGroup", "b 1")))
                     ->add(el("AXButton", "Stereo Output")->set("AXHelp", std::string("Output slot: Stereo Output")))
                     ->add(el("AXSlider", "volume fader")->set("AXValue", std::int64_t{200}))
                     ->add(el("AXTextField", "volume fader level")->set("AXTitle", std::string(" -6.0 dB ")))
                     ->add(el("AXCheckBox", "mute")->set("AXValue", std::int64_t{0}))
                     ->add(el("AXTextField", "name")->set("AXValue", std::string("Kick")))
                     ->add(el("AXTextField", "name")->set("AXValue", std::string("Decoy")));
    auto window = el("AXWindow")->add(el("AXGroup", "Inspector")->add(el("AXLayoutArea", "Mixer")->add(strip)));

    const nlohmann::json data = inspector.readChannelStrip(window->handle());
    EXPECT_EQ(data["name"], "Kick");
    EXPECT_EQ(data["volume"], "200");
    EXPECT_FALSE(data.contains("volumeDisplay"));  // a level field without a value says nothing
    EXPECT_EQ(data["mute"], "0");
    EXPECT_EQ(data["channelMode"], "Stereo");
    EXPECT_EQ(data["input"], "Bus 4");
    EXPECT_EQ(data["inputBus"], "Bus 4");
    EXPECT_EQ(data["output"], "Stereo Output");
    EXPECT_EQ(data["sends"], (nlohmann::json{"Bus 1", "Bus 12"}));
    EXPECT_FALSE(data.contains("pan"));

    auto hidden = el("AXWindow")->add(el("AXGroup", "Tracks"));
    EXPECT_EQ(inspector.readChannelStrip(hidden->handle()).error, "Mixer area not found");
    auto empty = el("AXWindow")->add(el("AXLayoutArea", "Mixer"));
    EXPECT_EQ(inspector.readChannelStrip(empty->handle()).error, "No channel strip found");
}

TEST(LogicInspectorChannelStripShapes, OutputAndInputBusComeFromButtonPositionsAroundTheFirstSlot) {
    LogicInspector inspector;
    auto makeWindow = [&](bool withBus2, bool withSlot) {
        auto strip = el("AXGroup");
        if (withBus2) strip->add(at(el("AXButton", "Bus 2"), 5, 100));
        if (withSlot) strip->add(at(el("AXButton", "insert bar"), 5, 150));
        strip->add(at(el("AXButton", "Bus 5"), 5, 300));
        strip->add(at(el("AXButton", "Stereo Output"), 5, 420));
        strip->add(at(el("AXButton", "stereo output"), 5, 500));
        return el("AXWindow")->add(el("AXLayoutArea", "Mixer")->add(strip));
    };
    auto full = makeWindow(true, true);
    EXPECT_EQ(inspector.readTrackOutput(full->handle()), "Bus 2");
    EXPECT_EQ(inspector.readTrackInputBus(full->handle()), "Bus 2");
    auto noBus2 = makeWindow(false, true);
    EXPECT_EQ(inspector.readTrackOutput(noBus2->handle()), "Stereo Output");
    EXPECT_FALSE(inspector.readTrackInputBus(noBus2->handle()));
    auto noSlot = makeWindow(true, false);
    EXPECT_EQ(inspector.readTrackOutput(noSlot->handle()), "Stereo Output");
    EXPECT_FALSE(inspector.readTrackInputBus(noSlot->handle()));
}

}  // namespace
}  // namespace corvane
