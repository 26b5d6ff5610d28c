#include <gtest/gtest.h>

#include <fmt/format.h>

#include <cmath>

#include "logic/logic_inspector.h"
#include "platform/log.h"
#include "platform/standin/standin_fixture.h"
#include "test_support/fake_ax.h"
#include "test_support/manual_clock.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

using nlohmann::json;
using standin::EventKind;
using testing::FakeElement;
using Node = std::shared_ptr<FakeElement>;

// --- On the simulated Logic Pro ----------------------------------------------------------------

class LogicInspectorValues : public standin::testing::StandinTest {
protected:
    platform::AXElement selected(const std::string& name) {
        auto window = inspector.selectAndVerifyTrack(name);
        EXPECT_TRUE(window) << name;
        return window.value_or(platform::AXElement());
    }
    LogicInspector::TrackHeader header(const std::string& name) {
        auto resolved = inspector.resolveTrack(name);
        EXPECT_TRUE(resolved.header) << name;
        return resolved.header.value_or(LogicInspector::TrackHeader{});
    }
    const standin::Track& track(const std::string& name) {
        project_ = world().project();
        return *project_.track(name);
    }
    int keyPresses(std::uint16_t code) {
        int n = 0;
        for (const auto& e : world().events(EventKind::key))
            if (e.keyDown && e.keyCode == code) ++n;
        return n;
    }

    testing::TempHome home;
    LogicInspector inspector;
    standin::Project project_;
};

TEST_F(LogicInspectorValues, VolumeInDecibelsReadsBackWithinTheToleranceAndMatchesTheTaper) {
    auto window = selected("Bass");
    for (double target : {-6.0, -20.0, 0.0, 3.4, -12.5, -45.3}) {
        auto result = inspector.setTrackVolumeToDb(window, target);
        ASSERT_TRUE(result.success) << target;
        ASSERT_TRUE(result.actualDb) << target;
        EXPECT_LT(std::fabs(*result.actualDb - target), 0.3) << target;
        // What was reported is what the fader now really shows.
        EXPECT_NEAR(standin::World::level(track("Bass").strip.volume), *result.actualDb, 0.05) << target;
        EXPECT_EQ(inspector.readCurrentVolumeDb(window), result.actualDb) << target;
    }
    auto six = inspector.setTrackVolumeToDb(window, -6.0);
    EXPECT_EQ(six.actualDb, -6.0);
    EXPECT_EQ(six.message, "Volume: -6.0 dB.");
    EXPECT_EQ(track("Bass").strip.volume, standin::World::rawFor(-6.0));
    EXPECT_EQ(track("Kick").strip.volume, 200);  // only the selected strip moved

    // Beyond the top of the fader: as loud as it goes.
    auto loud = inspector.setTrackVolumeToDb(window, 10.0);
    EXPECT_TRUE(loud.success);
    EXPECT_EQ(loud.actualDb, 6.0);
    EXPECT_EQ(track("Bass").strip.volume, 255);

    // A read-out without the unit reads the same.
    world().setKnob("levelFormat", "plain");
    EXPECT_EQ(inspector.setTrackVolumeToDb(window, -6.0).actualDb, -6.0);
}

TEST_F(LogicInspectorValues, TargetsAtOrBelowSixtyDecibelsDownSilenceTheFader) {
    auto window = selected("Snare");
    for (double target : {-60.0, -90.0, -double(INFINITY)}) {
        world().mutateProject([](standin::Project& p) { p.track("Snare")->strip.volume = 190; });
        auto result = inspector.setTrackVolumeToDb(window, target);
        EXPECT_TRUE(result.success) << target;
        EXPECT_EQ(result.actualDb, -INFINITY) << target;
        EXPECT_EQ(result.message, "Volume: -\u221E dB.") << target;
        EXPECT_EQ(track("Snare").strip.volume, 0) << target;
    }
}

TEST_F(LogicInspectorValues, SilencingAFaderThatCannotBeWrittenIsAFailure) {
    auto window = selected("Snare");
    world().setKnob("axError", json{{"element", "volume fader"}, {"attribute", "AXValue"}});
    auto result = inspector.setTrackVolumeToDb(window, -70.0);
    EXPECT_FALSE(result.success);
    EXPECT_EQ(track("Snare").strip.volume, 190);
}

TEST_F(LogicInspectorValues, NonsenseTargetsAreRefusedWithoutTouchingTheFader) {
    auto window = selected("Snare");
    world().clearEventLog();
    for (double target : {std::nan(""), double(INFINITY)}) {
        auto result = inspector.setTrackVolumeToDb(window, target);
        EXPECT_FALSE(result.success);
        EXPECT_FALSE(result.actualDb);
    }
    EXPECT_FALSE(inspector.setTrackVolume(window, std::nan("")).success);
    EXPECT_FALSE(inspector.setTrackPan(window, -INFINITY).success);
    EXPECT_FALSE(inspector.setTrackPan(window, 1e300).success);
    EXPECT_TRUE(world().events(EventKind::axWrite).empty());
    EXPECT_EQ(track("Snare").strip.volume, 190);
}

TEST_F(LogicInspectorValues, RawVolumeAndPanLandOnTheSelectedTrackOnly) {
    auto window = selected("Guitar");
    EXPECT_TRUE(inspector.setTrackVolume(window, 150.7).success);
    EXPECT_EQ(track("Guitar").strip.volume, 150);
    struct Case {
        double value;
        bool confirmed;
        int lands;
    };
    for (const Case& c : {Case{-30, true, -30}, Case{63, true, 63}, Case{0, true, 0}, Case{100, false, 63}}) {
        EXPECT_EQ(inspector.setTrackPan(window, c.value).success, c.confirmed) << c.value;
        EXPECT_EQ(track("Guitar").strip.pan, c.lands) << c.value;
    }
    EXPECT_EQ(track("Kick").strip.pan, 0);
    EXPECT_EQ(track("Bass").strip.pan, -10);

    // A value the slider never reaches is not written again through handles found anew: the
    // answer comes within one search's writes.
    for (const bool volume : {true, false}) {
        world().clearEventLog();
        const double start = world().virtualSeconds();
        const auto beyond = volume ? inspector.setTrackVolume(window, 300) : inspector.setTrackPan(window, -100);
        EXPECT_EQ(track("Guitar").strip.volume, 255);
        EXPECT_EQ(track("Guitar").strip.pan, volume ? 63 : -64);
        EXPECT_FALSE(beyond.success) << volume;
        EXPECT_LE(world().events(EventKind::axWrite).size(), 300u) << volume;
        EXPECT_LE(world().virtualSeconds() - start, 1.6) << volume;
    }
}

TEST_F(LogicInspectorValues, AHiddenInspectorFailsEveryStripWrite) {
    auto window = selected("Bass");
    world().setKnob("inspectorVisible", false);
    EXPECT_FALSE(inspector.setTrackVolume(window, 100).success);
    EXPECT_FALSE(inspector.setTrackPan(window, 10).success);
    auto result = inspector.setTrackVolumeToDb(window, -6);
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.message, "Mixer strip not found.");
    EXPECT_FALSE(result.actualDb);
    EXPECT_FALSE(inspector.readCurrentVolumeDb(window));
    EXPECT_EQ(track("Bass").strip.volume, 185);
}

TEST_F(LogicInspectorValues, MuteAndSoloSetAndReadBackThroughTheShortcuts) {
    auto window = selected("Bass");
    struct Case {
        const char* hint;
        bool desired;
        bool muted;
        bool soloed;
        const char* message;
    };
    for (const Case& c : {Case{"Mute", true, true, false, "Track 'Bass': mute is now on."},
                          Case{"solo", true, true, true, "Track 'Bass': solo is now on."},
                          Case{"MUTE", false, false, true, "Track 'Bass': mute is now off."},
                          Case{"Solo", false, false, false, "Track 'Bass': solo is now off."}}) {
        auto result = inspector.clickTrackHeaderButton(header("Bass"), c.hint, c.desired, window);
        EXPECT_TRUE(result.success) << c.hint;
        EXPECT_EQ(result.isOn, c.desired) << c.hint;
        EXPECT_EQ(result.message, c.message);
        EXPECT_EQ(track("Bass").muted, c.muted) << c.hint;
        EXPECT_EQ(track("Bass").soloed, c.soloed) << c.hint;
    }
    EXPECT_EQ(keyPresses(46), 2);
    EXPECT_EQ(keyPresses(1), 2);
}

TEST_F(LogicInspectorValues, AStateThatAlreadyMatchesPressesNothing) {
    auto window = selected("Keys");  // muted in the demo song
    world().clearEventLog();
    platform::LogCapture logs;
    auto result = inspector.clickTrackHeaderButton(header("Keys"), "Mute", true, window);
    EXPECT_TRUE(result.success);
    EXPECT_EQ(result.message, "Track 'Keys': mute is already on.");
    EXPECT_EQ(logs.lines(),
              (std::vector<std::string>{"clickTrackHeaderButton: 'Mute' on track 'Keys' (desired=ON)",
                                        "clickTrackHeaderButton: current=ON desired=ON",
                                        "clickTrackHeaderButton: state already matches, no action needed"}));
    EXPECT_TRUE(world().events(EventKind::key).empty());

    // Header toggles that show "On"/"Off" read the same.
    world().setKnob("toggleValueText", true);
    EXPECT_EQ(inspector.clickTrackHeaderButton(header("Keys"), "mute", true, window).message,
              "Track 'Keys': mute is already on.");
    EXPECT_TRUE(inspector.clickTrackHeaderButton(header("Keys"), "mute", false, window).success);
    EXPECT_FALSE(track("Keys").muted);
}

TEST_F(LogicInspectorValues, AShortcutThatDoesNotReachTheTrackIsReportedNotTrusted) {
    // A key lost while Logic Pro is in the background.
    auto window = selected("Bass");
    world().setKnob("backgroundKeys", "ignore");
    world().setFrontmost(world().selfPid());
    platform::LogCapture logs;
    auto lost = inspector.clickTrackHeaderButton(header("Bass"), "mute", true, window);
    EXPECT_FALSE(lost.success);
    EXPECT_EQ(lost.isOn, false);
    EXPECT_EQ(lost.message, "Pressed M but track 'Bass' still shows mute off.");
    EXPECT_TRUE(logs.contains("clickTrackHeaderButton: pressed M for 'mute' on track 'Bass'"));
    EXPECT_TRUE(logs.contains("clickTrackHeaderButton: after press current=OFF desired=ON"));
    EXPECT_FALSE(track("Bass").muted);

    // A header of a track other than the selected one: the shortcut soloes the selection instead.
    world().setKnob("backgroundKeys", "deliver");
    auto elsewhere = inspector.clickTrackHeaderButton(header("Guitar"), "solo", true, window);
    EXPECT_FALSE(elsewhere.success);
    EXPECT_EQ(elsewhere.isOn, false);
    EXPECT_FALSE(track("Guitar").soloed);
}

TEST_F(LogicInspectorValues, AHeaderRebuiltByThePressIsFoundAgainForTheReadBack) {
    auto window = selected("Bass");
    world().setKnob("staleAfter", "always");
    auto result = inspector.clickTrackHeaderButton(header("Bass"), "mute", true, inspector.findMainWindow().value());
    EXPECT_TRUE(result.success) << result.message;
    EXPECT_EQ(result.isOn, true);
    EXPECT_TRUE(track("Bass").muted);

    // A header that went stale before the call cannot be read at all.
    auto stale = header("Bass");
    world().mutateProject([](standin::Project& p) { p.transport.tempo = 100; });
    platform::LogCapture logs;
    auto unreadable = inspector.clickTrackHeaderButton(stale, "solo", true, window);
    EXPECT_FALSE(unreadable.success);
    EXPECT_TRUE(logs.contains("clickTrackHeaderButton: no children found for header 'Bass'"));
}

TEST_F(LogicInspectorValues, AToggleWithoutAValueIsReportedUnreadAndNeverPressedBlind) {
    // Keys is muted in the demo song; its mute controls answer no value.
    auto window = selected("Keys");
    world().setKnob("axError", json{{"element", "mute"}, {"attribute", "AXValue"}, {"code", -25212}});
    world().clearEventLog();
    for (bool desired : {false, true}) {
        platform::LogCapture logs;
        auto result = inspector.clickTrackHeaderButton(header("Keys"), "mute", desired, window);
        EXPECT_TRUE(track("Keys").muted) << desired;
        EXPECT_TRUE(world().events(EventKind::key).empty()) << desired;
        EXPECT_FALSE(result.success) << desired;
        EXPECT_EQ(result.isOn, std::nullopt) << desired;
        EXPECT_EQ(result.message, "Could not read the mute state of track 'Keys'; nothing was pressed.");
        EXPECT_TRUE(logs.contains(
            fmt::format("clickTrackHeaderButton: current=unreadable desired={}", desired ? "ON" : "OFF")));
    }
}

TEST_F(LogicInspectorValues, HintsWithoutAButtonOrAShortcutFail) {
    auto window = selected("Bass");
    platform::LogCapture logs;
    auto missing = inspector.clickTrackHeaderButton(header("Bass"), "record", true, window);
    EXPECT_FALSE(missing.success);
    EXPECT_TRUE(logs.contains("clickTrackHeaderButton: button 'record' not found on track 'Bass'"));
    // "mu" finds the mute toggle, but no key belongs to it.
    auto noKey = inspector.clickTrackHeaderButton(header("Bass"), "mu", true, window);
    EXPECT_FALSE(noKey.success);
    EXPECT_TRUE(logs.contains("clickTrackHeaderButton: no keyboard shortcut for 'mu'"));
    EXPECT_FALSE(track("Bass").muted);
}

// --- On hand-built elements ------------------------------------------------------------------

class LogicInspectorValuesShapes : public ::testing::Test {
protected:
    static Node el(const std::string& role, const std::string& description = {}) {
        return FakeElement::make(role, description);
    }

    // A strip whose read-out shows raw - 200 dB: one whole decibel per step, so most targets
    // fall between two fader positions.
    void coarseStrip(std::int64_t raw) {
        readout = el("AXTextField", "volume fader level");
        fader = el("AXSlider", "volume fader");
        auto show = [r = readout](std::int64_t v) { r->attributes["AXTitle"] = fmt::format("{} dB", v - 200); };
        fader->set("AXValue", raw);
        show(raw);
        fader->writeTransform = [show](const platform::AXValue& v) {
            auto written =
                std::holds_alternative<std::int64_t>(v) ? std::get<std::int64_t>(v) : std::int64_t(std::get<double>(v));
            show(written);
            return platform::AXValue(written);
        };
        window = el("AXWindow")->add(el("AXLayoutArea", "Mixer")->add(el("AXGroup")->add(fader)->add(readout)));
    }
    std::int64_t faderValue() { return std::get<std::int64_t>(fader->attributes["AXValue"]); }

    testing::ManualClock clock;
    platform::ScopedServices services{{.clock = &clock}};
    testing::TempHome home;
    LogicInspector inspector;
    Node readout, fader, window;
};

TEST_F(LogicInspectorValuesShapes, ReadOutTextsParseAsDecibels) {
    struct Case {
        const char* title;
        std::optional<double> db;
    };
    for (const Case& c : {Case{"-12.5 dB", -12.5}, Case{"+3 dB", 3.0}, Case{"  -6.0 dB\t", -6.0}, Case{"0", 0.0},
                          Case{"-inf dB", -INFINITY}, Case{"INF", -INFINITY}, Case{"-\u221E dB", -INFINITY},
                          Case{"+\u221E", -INFINITY}, Case{"level 4 of 7", 4.0}, Case{"dB", std::nullopt},
                          Case{"", std::nullopt}, Case{"\u0663 dB", std::nullopt}}) {
        auto e = el("AXTextField", "volume fader level")->set("AXTitle", std::string(c.title));
        EXPECT_EQ(LogicInspector::readDbFromFader(e->handle()), c.db) << c.title;
    }
    // Digits beyond what a double holds are no level.
    auto huge = el("AXTextField")->set("AXTitle", "1" + std::string(400, '0') + " dB");
    EXPECT_FALSE(LogicInspector::readDbFromFader(huge->handle()));
    EXPECT_FALSE(LogicInspector::readDbFromFader(el("AXTextField")->handle()));
}

TEST_F(LogicInspectorValuesShapes, BisectionEndsOnTheCloserNeighbourAndTheLowerOneOnATie) {
    struct Case {
        double target;
        double shown;
        std::int64_t raw;
    };
    for (const Case& c : {Case{-50.4, -50, 150}, Case{-50.6, -51, 149}, Case{-50.5, -51, 149}, Case{-9.0, -9, 191}}) {
        coarseStrip(100);
        auto result = inspector.setTrackVolumeToDb(window->handle(), c.target);
        EXPECT_TRUE(result.success) << c.target;
        EXPECT_EQ(result.actualDb, c.shown) << c.target;
        EXPECT_EQ(faderValue(), c.raw) << c.target;  // left on the value reported
    }
}

TEST_F(LogicInspectorValuesShapes, AFaderThatRefusesWritesIsNeverReportedAsSet) {
    for (double target : {-70.0, -6.0}) {
        coarseStrip(100);
        fader->rejectWrites = true;
        auto result = inspector.setTrackVolumeToDb(window->handle(), target);
        EXPECT_FALSE(result.success) << target;
        EXPECT_FALSE(result.actualDb) << target;
    }
    // A fader that takes no value is written one fader write's worth, not again through handles
    // found anew.
    coarseStrip(100);
    fader->writeTransform = [](const platform::AXValue&) { return platform::AXValue(std::int64_t{100}); };
    EXPECT_FALSE(inspector.setTrackVolumeToDb(window->handle(), -6.0).success);
    EXPECT_EQ(faderValue(), 100);
    EXPECT_EQ(fader->writes.size(), 400u);
    // An unreadable read-out mid-way stops the bisection at once.
    coarseStrip(100);
    fader->writeTransform = [](const platform::AXValue& v) { return v; };
    readout->attributes.erase("AXTitle");
    EXPECT_FALSE(inspector.setTrackVolumeToDb(window->handle(), -6.0).success);
    EXPECT_EQ(fader->writes.size(), 1u);
}

TEST_F(LogicInspectorValuesShapes, HeaderToggleValuesAndRolesAsLogicShowsThem) {
    struct Case {
        platform::AXValue value;
        bool on;
    };
    for (const Case& c : {Case{std::string("On"), true}, Case{std::string("1"), true}, Case{std::int64_t{2}, false},
                          Case{std::string("yes"), false}, Case{true, true}}) {
        auto header = el("AXGroup", "Track 3 \u201CBass\u201D")
                          ->add(el("AXStaticText", "mute")->set("AXValue", std::int64_t{1}))
                          ->add(el("AXCheckBox", "Mute")->set("AXValue", c.value));
        LogicInspector::TrackHeader h{header->handle(), 3, "Bass", false, false};
        // Desired = what the control shows: no key is needed, so the outcome tells how it was read.
        auto result = inspector.clickTrackHeaderButton(h, "mute", c.on, platform::AXElement());
        EXPECT_TRUE(result.success);
        EXPECT_EQ(result.isOn, c.on);
    }
}

}  // namespace
}  // namespace corvane
