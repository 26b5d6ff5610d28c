#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "logic/logic_inspector.h"
#include "platform/standin/standin_fixture.h"
#include "platform/standin/taper.h"
#include "test_support/fake_ax.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

using nlohmann::json;
using standin::EventKind;
using testing::FakeElement;
namespace taper = standin::taper;

// The demo song plus bus 3: Bass sends to it, and its aux "FX Verb" is in the track list at the bottom.
json busSong() {
    json j = standin::testing::demoSong();
    j["project"]["buses"].push_back({{"number", 3}, {"aux", "FX Verb"}});
    auto& tracks = j["project"]["tracks"];
    tracks[1]["sends"] = json::array({{{"bus", 3}, {"levelDb", -6.0}}});
    tracks[0]["input"] = "Bus 5";  // a folder is never asked what it receives
    tracks.insert(tracks.begin() + 5,
                  json{{"name", "FX Verb"}, {"kind", "aux"}, {"input", "Bus 3"}, {"inArrange", true}});
    return j;
}

class LogicInspectorBuses : public standin::testing::StandinTest {
protected:
    const standin::Track& track(const std::string& name) {
        project_ = world().project();
        const standin::Track* t = project_.track(name);
        EXPECT_TRUE(t) << name;
        static const standin::Track none;
        return t ? *t : none;
    }
    double sendDb(const std::string& name, int send = 0) {
        return taper::sendDetentDb(track(name).strip.sends.at(static_cast<std::size_t>(send)).detent);
    }
    int knobWrites() {
        int n = 0;
        for (const auto& e : world().events(EventKind::axWrite))
            if (e.element == "AXSlider \"send knob\"") ++n;
        return n;
    }
    int typedKeys() {
        int n = 0;
        for (const auto& e : world().events(EventKind::key))
            if (e.keyDown && !e.text.empty()) ++n;
        return n;
    }

    testing::TempHome home;
    LogicInspector inspector;
    standin::Project project_;
};

// --- Renaming ------------------------------------------------------------------------------------

TEST_F(LogicInspectorBuses, RenameGoesThroughTheTrackMenuAndIsConfirmedOnTheSameTrackNumber) {
    auto result = inspector.renameTrack("Bass", "  Bass DI ");
    EXPECT_TRUE(result.success);
    EXPECT_EQ(result.message, "Renamed 'Bass' \u2192 'Bass DI'.");
    EXPECT_EQ(result.actualName, "Bass DI");
    EXPECT_EQ(track("Bass DI").number, 4);
    EXPECT_EQ(world().project().track("Bass"), nullptr);

    // A change of case only is a rename like any other.
    EXPECT_TRUE(inspector.renameTrack("Bass DI", "BASS DI").success);
    EXPECT_EQ(track("BASS DI").number, 4);
}

TEST_F(LogicInspectorBuses, SameNameOrBlankNameNeverTouchesLogic) {
    struct Case {
        const char* newName;
        bool success;
        const char* message;
    };
    for (Case c : {Case{"Bass", true, "Name already 'Bass' \u2014 no-op."},
                   Case{"  Bass\t", true, "Name already 'Bass' \u2014 no-op."},
                   Case{"   ", false, "New name can't be empty."}}) {
        world().clearEventLog();
        auto result = inspector.renameTrack("Bass", c.newName);
        EXPECT_EQ(result.success, c.success) << c.newName;
        EXPECT_EQ(result.message, c.message);
        EXPECT_EQ(result.actualName, c.success ? std::optional<std::string>("Bass") : std::nullopt);
        EXPECT_TRUE(world().events(EventKind::key).empty()) << c.newName;
        EXPECT_TRUE(world().events(EventKind::axAction).empty()) << c.newName;
    }
    EXPECT_EQ(track("Bass").number, 4);

    // Asked by a name that differs from the track's only in case, the same name is a rename, said
    // with the name the track had.
    ASSERT_TRUE(inspector.renameTrack("Bass", "BASS").success);
    const auto recased = inspector.renameTrack("Bass", "Bass");
    EXPECT_NE(world().project().track("Bass"), nullptr);
    EXPECT_EQ(world().project().track("BASS"), nullptr);
    EXPECT_TRUE(recased.success);
    EXPECT_EQ(recased.message, "Renamed 'BASS' \u2192 'Bass'.");
}

TEST_F(LogicInspectorBuses, RenameFailuresSayWhereItStoppedAndNeverTypeBlind) {
    auto missing = inspector.renameTrack("Nope", "Other");
    EXPECT_FALSE(missing.success);
    EXPECT_EQ(missing.message, "Track 'Nope' not found.");

    world().setKnob("mainMenuExposure", "appOnly");
    auto hidden = inspector.renameTrack("Bass", "Sub");
    EXPECT_FALSE(hidden.success);
    EXPECT_EQ(hidden.message, "Track > Rename Track menu item not found.");
    EXPECT_EQ(typedKeys(), 0);
    EXPECT_EQ(track("Bass").number, 4);
}

TEST_F(LogicInspectorBuses, IgnoredRenameIsAFailureEvenWhenAnotherTrackAlreadyBearsTheName) {
    world().setKnob("renameIgnoresInput", true);
    auto ignored = inspector.renameTrack("Bass", "Sub");
    EXPECT_FALSE(ignored.success);
    EXPECT_EQ(ignored.message, "Rename didn't land \u2014 track name didn't change. Try manually or retry.");
    EXPECT_EQ(ignored.actualName, "Bass");

    // "Snare" is listed already, so finding a header of that name proves nothing: Kick kept its name.
    auto clash = inspector.renameTrack("Kick", "Snare");
    EXPECT_FALSE(clash.success);
    EXPECT_EQ(clash.actualName, "Kick");
    EXPECT_EQ(track("Kick").number, 2);

    world().setKnob("renameIgnoresInput", false);
    auto taken = inspector.renameTrack("Kick", "Snare");
    EXPECT_TRUE(taken.success);
    EXPECT_EQ(taken.message, "Renamed 'Kick' \u2192 'Snare'.");
}

// --- Sends -----------------------------------------------------------------------------------------

TEST_F(LogicInspectorBuses, SendIsReadByItsFullOrShortBusLabel) {
    load(busSong());
    for (const char* label : {"Bus 3", "B 3", "b 3"}) {
        auto read = inspector.readSendKnobValue("Bass", label);
        ASSERT_TRUE(read.success) << label << read.message;
        EXPECT_EQ(read.value, double(taper::sendDetentRaw(taper::nearestSendDetent(-6.0))));
        EXPECT_EQ(read.valueDescription, "-6.0");
        EXPECT_EQ(read.minValue, 0.0);
        EXPECT_EQ(read.maxValue, double(taper::kSendMaxRaw));
        EXPECT_EQ(read.supportedActions, (std::vector<std::string>{"AXIncrement", "AXDecrement"}));
    }
    for (const auto& [track, bus, message] : {std::tuple{"Bass", "Bus 1", "No send with label Bus 1"},
                                              std::tuple{"Nope", "Bus 3", "Track not found: Nope"}}) {
        const auto read = inspector.readSendKnobValue(track, bus);
        EXPECT_FALSE(read.success);
        EXPECT_EQ(read.message, message);
        EXPECT_EQ(read.value, std::nullopt);
    }
}

TEST_F(LogicInspectorBuses, UnreadableKnobNumbersBecomeNullNeverNaN) {
    world().setKnob("axError", json{{"element", "send knob"}, {"attribute", "AXMinValue"}, {"code", -25200}});
    const json read = inspector.readSendKnobValue("Kick", "Bus 1");
    ASSERT_TRUE(read.contains("minValue"));
    EXPECT_TRUE(read["minValue"].is_null());
    EXPECT_EQ(read.dump().find("nan"), std::string::npos);
    EXPECT_TRUE(json::accept(read.dump()));
}

TEST_F(LogicInspectorBuses, SendLevelsAreSetInDecibelsAndMinusSixtyOrLessMutes) {
    struct Case {
        const char* label;
        double target;
        double landsOn;
        const char* message;
    };
    for (Case c : {Case{"Bus 1", -12.0, -12.0, "Send Kick \u2192 Bus 1: -18.0 dB \u2192 -12.0 dB."},
                   Case{"B 1", 2.0, 2.0, "Send Kick \u2192 B 1: -18.0 dB \u2192 +2.0 dB."},
                   Case{"Bus 1", -59.9, -60.0, "Send Kick \u2192 Bus 1: -18.0 dB \u2192 -60.0 dB."},
                   Case{"Bus 1", -60.0, -INFINITY, "Send Kick \u2192 Bus 1: muted."},
                   Case{"Bus 1", -80.0, -INFINITY, "Send Kick \u2192 Bus 1: muted."}}) {
        load(standin::testing::demoSong());
        auto result = inspector.setSendKnobToDb("Kick", c.label, c.target);
        EXPECT_TRUE(result.success) << c.target;
        EXPECT_EQ(result.message, c.message);
        EXPECT_EQ(result.before, -18.0);
        EXPECT_EQ(result.after, c.landsOn);
        EXPECT_EQ(sendDb("Kick"), c.landsOn) << c.target;
        EXPECT_EQ(sendDb("Snare"), -12.0);  // only the selected track's send moved
    }
}

TEST_F(LogicInspectorBuses, MutedSendIsWrittenAsNullAndItsTextAsMinusInfinity) {
    inspector.setSendKnobToDb("Kick", "Bus 1", -70);
    auto again = inspector.setSendKnobToDb("Kick", "Bus 1", -6.0);
    EXPECT_EQ(again.before, -INFINITY);
    EXPECT_EQ(again.message, "Send Kick \u2192 Bus 1: -\u221E dB \u2192 -6.0 dB.");
    json j = again;
    EXPECT_TRUE(j["before"].is_null());
    EXPECT_EQ(j["after"], -6.0);
    EXPECT_FALSE(json(LogicInspector::SendLevelResult{{false, "m"}, std::nullopt, std::nullopt}).contains("before"));
}

TEST_F(LogicInspectorBuses, SteppingStopsWithinToleranceAndIsBoundedWhenLogicIgnoresOrOvershoots) {
    // Already within 0.4 dB: nothing is written.
    auto near = inspector.setSendKnobToDb("Kick", "Bus 1", -18.3);
    EXPECT_EQ(knobWrites(), 0);
    EXPECT_EQ(near.before, near.after);

    world().setKnob("sendWrites", "ignore");
    world().clearEventLog();
    auto stuck = inspector.setSendKnobToDb("Kick", "Bus 1", -6.0);
    EXPECT_TRUE(stuck.success);
    EXPECT_EQ(stuck.after, -18.0);
    EXPECT_EQ(knobWrites(), 80);

    // A knob that jumps to its top passes the target at once: the walk goes back to where it was,
    // as near, and quieter, and ends there.
    world().setKnob("sendWrites", "absolute");
    world().clearEventLog();
    auto overshoot = inspector.setSendKnobToDb("Kick", "Bus 1", -6.0);
    EXPECT_TRUE(overshoot.success);
    EXPECT_EQ(knobWrites(), 2);
    EXPECT_EQ(sendDb("Kick"), -18.0);
}

TEST_F(LogicInspectorBuses, AMuteThatDoesNotTakeOrANonsenseTargetIsNeverReportedAsDone) {
    world().setKnob("sendWrites", "ignore");
    auto stuck = inspector.setSendKnobToDb("Kick", "Bus 1", -70);
    EXPECT_FALSE(stuck.success);
    EXPECT_EQ(stuck.message, "Send Kick \u2192 Bus 1 could not be muted.");
    world().setKnob("sendWrites", "step");
    for (double bad : {std::nan(""), double(INFINITY)}) {
        world().clearEventLog();
        auto refused = inspector.setSendKnobToDb("Kick", "Bus 1", bad);
        EXPECT_FALSE(refused.success);
        EXPECT_EQ(knobWrites(), 0);
    }
    EXPECT_TRUE(inspector.setSendKnobToDb("Kick", "Bus 1", -INFINITY).success);  // silence is a real target
}

TEST_F(LogicInspectorBuses, SendLevelFailuresNameTheMissingPiece) {
    EXPECT_EQ(inspector.setSendKnobToDb("Nope", "Bus 1", -6).message, "Track 'Nope' not found.");
    auto noSend = inspector.setSendKnobToDb("Bass", "Bus 1", -6);
    EXPECT_FALSE(noSend.success);
    EXPECT_EQ(noSend.message, "Bass has no send to Bus 1.");
    EXPECT_FALSE(noSend.before);
}

TEST_F(LogicInspectorBuses, ClickingASendNudgesItBackAndShowsItsAuxOnTheSecondStrip) {
    EXPECT_TRUE(inspector.clickSendByBusLabel("Snare", "Bus 1").success);
    EXPECT_EQ(sendDb("Snare"), -12.0);
    ASSERT_TRUE(world().ui().lastTouchedSend);
    EXPECT_EQ(world().ui().lastTouchedSend->bus, 1);
    EXPECT_EQ(find(*strip(1), "name", "AXTextField", 10)->string(platform::ax::kValue), "Reverb");

    EXPECT_EQ(inspector.clickSendByBusLabel("Snare", "Bus 4"),
              (Outcome{false, "No send with label 'Bus 4' on Snare. Check that the track has a send to that bus."}));
    EXPECT_EQ(inspector.clickSendByBusLabel("Nope", "Bus 1"), (Outcome{false, "Track not found: Nope"}));
}

TEST_F(LogicInspectorBuses, KnobLevelTextsReadAsDecibelsMinusInfinityOrNothing) {
    struct Case {
        const char* shown;
        std::optional<double> db;
    };
    for (Case c : {Case{"-12.5", -12.5}, Case{" +2.0 dB ", 2.0}, Case{"-\u221E", -INFINITY}, Case{"-INF dB", -INFINITY},
                   Case{"inf", -INFINITY}, Case{"", std::nullopt}, Case{"   ", std::nullopt}, Case{"off", std::nullopt},
                   Case{"\u0663", std::nullopt}, Case{"level 3", 3.0}}) {
        auto knob = FakeElement::make("AXSlider", "send knob")->set("AXValueDescription", std::string(c.shown));
        EXPECT_EQ(LogicInspector::readKnobDb(knob->handle()), c.db) << c.shown;
    }
    EXPECT_EQ(LogicInspector::readKnobDb(FakeElement::make("AXSlider", "send knob")->handle()), std::nullopt);
}

TEST_F(LogicInspectorBuses, SendGroupMatchesTheShortFormButNotTheReverseAndKnobsMatchByRow) {
    auto strip = FakeElement::make("AXGroup");
    strip->add(FakeElement::make("AXGroup", "bus 3")->set("AXPosition", platform::Point{0, 331}))
        ->add(FakeElement::make("AXSlider", "send knob")->set("AXPosition", platform::Point{40, 300}))
        ->add(FakeElement::make("AXSlider", "send knob")->set("AXPosition", platform::Point{40, 330}))
        ->add(FakeElement::make("AXButton", "B 4")->set("AXPosition", platform::Point{0, 351}));
    auto groupFor = [&](const std::string& label) {
        std::optional<platform::AXElement> found;
        inspector.findSendGroup(strip->handle(), label, found, 0, 15);
        return found;
    };
    EXPECT_EQ(groupFor("Bus 3"), strip->children[0]->handle());  // case-insensitive
    EXPECT_FALSE(groupFor("B 4"));                               // a button is no send group
    auto shortOnly = FakeElement::make("AXGroup")->add(FakeElement::make("AXGroup", "B 12"));
    std::optional<platform::AXElement> found;
    inspector.findSendGroup(shortOnly->handle(), "Bus 12", found, 0, 15);
    EXPECT_TRUE(found);
    auto longOnly = FakeElement::make("AXGroup")->add(FakeElement::make("AXGroup", "Bus 12"));
    found.reset();
    inspector.findSendGroup(longOnly->handle(), "B 12", found, 0, 15);
    EXPECT_FALSE(found);

    std::optional<platform::AXElement> knob;
    inspector.findSendKnobAtY(strip->handle(), 331, knob, 0, 15);
    EXPECT_EQ(knob, strip->children[2]->handle());
    EXPECT_EQ(LogicInspector::compactBusForm("Bus 12"), "B 12");
    EXPECT_EQ(LogicInspector::compactBusForm("Bus 1234"), "Bus 1234");
    EXPECT_EQ(LogicInspector::compactBusForm("bus 1"), "bus 1");
}

// --- Buses ---------------------------------------------------------------------------------------------

TEST_F(LogicInspectorBuses, TheTrackOfABusIsTheOneItsNudgedSendShowsOnTheSecondStrip) {
    json j = busSong();
    j["project"]["tracks"][0]["children"][1]["sends"] = json::array({{{"bus", 7}, {"levelDb", -12.0}}});  // Snare
    load(j);
    auto header = [&](const std::string& name) { return *inspector.resolveTrack(name).header; };
    // Bass is not the selected track: it is selected first. Its aux is listed, so nothing is surfaced.
    ASSERT_EQ(selectedName(), "Kick");
    EXPECT_EQ(inspector.findTrackForBusThroughSend(header("Bass"), "B 3"), "FX Verb");
    EXPECT_EQ(selectedName(), "Bass");
    EXPECT_EQ(sendDb("Bass"), -6.0);
    EXPECT_FALSE(track("FX Verb").strip.automation.power);
    EXPECT_FALSE(track("Reverb").inArrange);

    // Kick's aux is not listed: it is surfaced and named as its header shows it.
    EXPECT_EQ(inspector.findTrackForBusThroughSend(header("Kick"), "Bus 1"), "Reverb");
    EXPECT_EQ(selectedName(), "Kick");
    EXPECT_TRUE(track("Reverb").inArrange);
    EXPECT_EQ(sendDb("Kick"), -18.0);

    // No aux takes bus 7: the second strip shows the output's strip, whose automation is left alone.
    EXPECT_EQ(inspector.findTrackForBusThroughSend(header("Snare"), "Bus 7"), std::nullopt);
    EXPECT_FALSE(track("Stereo Out").inArrange);
    EXPECT_FALSE(track("Stereo Out").strip.automation.power);
    EXPECT_EQ(sendDb("Snare"), -12.0);
}

TEST_F(LogicInspectorBuses, BusAuxIsSurfacedIntoTheTrackListThroughItsAutomationPower) {
    auto result = inspector.ensureBusArrangeTrack("Kick", "Bus 1");
    EXPECT_TRUE(result.success) << result.message;
    EXPECT_TRUE(track("Reverb").inArrange);
    EXPECT_EQ(track("Reverb").number, 8);
    EXPECT_TRUE(hasHeader("Track 8 \u201CReverb\u201D"));
    EXPECT_FALSE(track("Reverb").strip.automation.power);  // toggled back
    EXPECT_EQ(sendDb("Kick"), -18.0);

    result = inspector.ensureBusArrangeTrack("Bass", "Bus 1");
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.message,
              "Send click failed: No send with label 'Bus 1' on Bass. Check that the track has a send to that bus.");
}

TEST_F(LogicInspectorBuses, OutputTrackIsSurfacedOnceThroughTheTrackMenu) {
    EXPECT_EQ(inspector.ensureMasterArrangeTrack(),
              (Outcome{true, "Surfaced Stereo Out as Arrange track 8, at the end of the track list."}));
    EXPECT_EQ(track("Stereo Out").number, 8);
    world().clearEventLog();
    EXPECT_EQ(inspector.ensureMasterArrangeTrack(),
              (Outcome{true, "Stereo Out was already in the Arrange track list."}));
    EXPECT_TRUE(world().events(EventKind::axAction).empty());
    EXPECT_TRUE(track("Stereo Out").inArrange);

    load(standin::testing::demoSong());
    world().setKnob("mainMenuExposure", "appOnly");
    EXPECT_EQ(inspector.ensureMasterArrangeTrack(), (Outcome{false, "Track > Show Output Track menu item not found"}));
    EXPECT_FALSE(track("Stereo Out").inArrange);
}

}  // namespace
}  // namespace corvane
