// The plug-in inspector on the stand-in: a mapped plug-in ("Drift Delay", read and written in its
// editor view through resources/PluginMaps) and one without a map ("Tube Saturator", through
// Logic Pro's Controls view). Every write is checked against the simulated parameter state.

#include <algorithm>

#include "platform/log.h"
#include "plugins/plugin_editors_fixture.h"

namespace corvane::testing {
namespace {

using standin::EventKind;

class PluginInspectorTest : public PluginEditorsTest {
protected:
    std::map<std::string, std::string> shown(const PluginReadResult& r) {
        std::map<std::string, std::string> out;
        for (const auto& e : r.parameters) out[e.def.label] = e.currentDisplay.value_or("(none)");
        return out;
    }
    int presses(const std::string& element) {
        int n = 0;
        for (const auto& e : world().events(EventKind::axAction))
            if (e.element == element && e.name == "AXPress") ++n;
        return n;
    }
    ParameterWriteResult writeDrift(const std::string& name, const std::string& value) {
        return inspector.writeParameter(slotOf("Vox", "Drift Delay"), main(), name, value);
    }
    ParameterWriteResult writeTube(const std::string& name, const std::string& value) {
        return inspector.writeParameter(slotOf("Vox", "Tube Saturator"), main(), name, value);
    }
    double drift(const std::string& id) { return param("Vox", "Drift Delay", id); }
    double tube(const std::string& id) { return param("Vox", "Tube Saturator", id); }
};

TEST_F(PluginInspectorTest, MappedReadShowsEveryVisibleParameterAndCompletesStatesFromTheControlsView) {
    const auto read = inspector.readPlugin(slotOf("Vox", "Drift Delay"), main(), "Vox");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->pluginName, "Drift Delay");
    EXPECT_EQ(read->trackName, "Vox");
    EXPECT_EQ(read->viewUsed, PluginViewPreference::editor);
    EXPECT_TRUE(read->mapApplied);
    const std::map<std::string, std::string>
        expected = {{"Time", "141 ms"},      {"Decay", "1.00 s"},
                    {"Cutoff", "20.00 kHz"}, {"Feedback", "30%"},  // blank description: from the map
                    {"Mix", "50%"},          {"Tempo Sync", "off"},
                    {"Freeze", "on"},  // value-less, no probe: from the Controls view
                    {"Mode", "Digital"},     {"Filter", "Low Pass"},
                    {"Resonance", "20%"},    {"Shelf", "0.0 dB"},
                    {"Wow", "0%"},           {"Tap Tempo", "(none)"},
                    {"Preset", "(none)"}};
    EXPECT_EQ(shown(*read), expected);  // the hidden Oversampling is left out
    for (const auto& e : read->parameters) EXPECT_EQ(e.source, ParameterSource::map) << e.def.label;
    // Completing states visited the Controls view and left the window in the editor view.
    EXPECT_EQ(world().project().track("Vox")->strip.inserts[0].windowView, "Editor");
}

TEST_F(PluginInspectorTest, ControlsViewReadListsEveryControlWithNumberedRepeats) {
    const auto read = inspector.readPlugin(slotOf("Vox", "Tube Saturator"), main(), "Vox");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->viewUsed, PluginViewPreference::controls);
    EXPECT_FALSE(read->mapApplied);
    std::vector<std::string> rows;
    for (const auto& e : read->parameters)
        rows.push_back(e.def.id + "|" + e.def.label + "|" + toString(e.def.type) + "|" + e.currentRaw.value_or("-") +
                       "|" + e.currentDisplay.value_or("-") + "|" + toString(e.source));
    EXPECT_EQ(rows, (std::vector<std::string>{
                        "drive|Drive|continuous|40|0.0 dB|runtime", "tone|Tone|continuous|64|1.28 kHz|runtime",
                        "release|Release|continuous|100|100 ms|runtime", "gain|Gain|continuous|48|0.0 dB|runtime",
                        "gain_2|Gain [2]|continuous|48|0.0 dB|runtime", "ratio|Ratio|continuous|10|2.0:1|runtime",
                        "steps|Steps|continuous|4|4|runtime", "drive_2|Drive [2]|toggle|1|on|runtime",
                        "oversample|Oversample|toggle|0|off|runtime", "soft_clip|Soft Clip|toggle|0|off|runtime",
                        "character|Character|selector|Warm|Warm|runtime"}));
    EXPECT_EQ(nlohmann::json(read->parameters[0]).at("def"),
              (nlohmann::json{{"id", "drive"}, {"label", "Drive"}, {"type", "continuous"}}));
}

TEST_F(PluginInspectorTest, ContinuousWritesLandInTheParameterUnitAndAreVerifiedByReadBack) {
    struct Case {
        const char* name;
        const char* value;
        const char* id;
        double raw;
        const char* message;
    };
    for (const Case& c : {Case{"time", "1.5 s", "time", 946, "Time: 141 ms \u2192 1.50 s"},
                          // Seconds and kilohertz on parameters shown in s and kHz are not scaled by 1000.
                          Case{"Decay", "2.5 s", "decay", 140, "Decay: 1.00 s \u2192 2.51 s"},
                          Case{"cutoff", "2.5 kHz", "cutoff", 70, "Cutoff: 20.00 kHz \u2192 2.53 kHz"},
                          Case{"FEEDBACK", "45", "feedback", 45, "Feedback: 30% \u2192 45%"},
                          Case{"Mix", "25%", "mix", 32, "Mix: 50% \u2192 25%"}}) {
        const auto r = writeDrift(c.name, c.value);
        EXPECT_TRUE(r.success) << c.name << ": " << r.message;
        EXPECT_EQ(r.message, c.message);
        EXPECT_EQ(drift(c.id), c.raw) << c.name;
    }
    const auto parse = writeDrift("Time", "fast");
    EXPECT_EQ(parse.message, "Could not parse numeric value from 'fast'");
    EXPECT_EQ(parse.beforeDisplay, "1.50 s");
}

TEST_F(PluginInspectorTest, AWriteThatNeverReachesItsTargetIsAFailure) {
    world().setKnob("ignoreWrites", true);
    auto stuck = writeDrift("Time", "1.5 s");
    EXPECT_FALSE(stuck.success);
    EXPECT_EQ(stuck.message, "Could not set Time to 1.5 s; it shows 141 ms (was 141 ms)");
    EXPECT_EQ(drift("time"), 500);
    world().setKnob("ignoreWrites", false);

    // Beyond the range is the range's end.
    auto beyond = writeDrift("Cutoff", "50 kHz");
    EXPECT_TRUE(beyond.success);
    EXPECT_EQ(beyond.message, "Cutoff: 20.00 kHz \u2192 20.00 kHz");

    // A coarse control that cannot show the exact value still counts when it is as near as its steps go.
    auto coarse = writeDrift("Resonance", "0.4");
    EXPECT_TRUE(coarse.success) << coarse.message;
    EXPECT_EQ(coarse.message, "Resonance: 20% \u2192 0%");
    EXPECT_EQ(drift("resonance"), 0);
}

TEST_F(PluginInspectorTest, ToggleWritesReadTheStateFirstAndNeverPressBlind) {
    const std::string sync = "AXButton \"Tempo\u2028Sync\"";
    // The program's shield over Logic Pro must not darken what the probe reads.
    const auto frame = *world().windowFrame("main");
    world().addWindow(standin::WindowSpec::shield(frame));

    auto on = writeDrift("Tempo Sync", "on");
    EXPECT_TRUE(on.success) << on.message;
    EXPECT_EQ(on.message, "Tempo Sync \u2192 on");
    EXPECT_EQ(drift("sync"), 1);
    auto again = writeDrift("tempo sync", " YES ");
    EXPECT_TRUE(again.success);
    EXPECT_EQ(again.message, "Tempo Sync already on");
    EXPECT_EQ(again.beforeDisplay, "on");
    EXPECT_EQ(presses(sync), 1);
    EXPECT_EQ(drift("sync"), 1);

    // Freeze shows its state nowhere in the editor: pressing could switch it off instead of on.
    auto freeze = writeDrift("Freeze", "on");
    EXPECT_FALSE(freeze.success);
    EXPECT_EQ(presses("AXButton \"Freeze\""), 0);
    EXPECT_EQ(drift("freeze"), 1);

    EXPECT_EQ(writeDrift("Tempo Sync", "sometimes").message,
              "Invalid toggle value 'sometimes' for Tempo Sync. Use on/off.");
}

TEST_F(PluginInspectorTest, SelectorsRadiosButtonsAndTextParameters) {
    auto filter = writeDrift("Filter", "high pass");  // the pop-up ignores direct writes: its menu is used
    EXPECT_TRUE(filter.success) << filter.message;
    EXPECT_EQ(filter.message, "Filter \u2192 High Pass");
    EXPECT_EQ(filter.beforeDisplay, "Low Pass");
    EXPECT_EQ(drift("filter"), 1);
    EXPECT_EQ(world().ui().openMenu, "");

    auto mode = writeDrift("Mode", "analog");
    EXPECT_TRUE(mode.success);
    EXPECT_EQ(mode.message, "Mode \u2192 Analog");
    EXPECT_EQ(mode.beforeDisplay, "Digital");  // read from the option probes
    EXPECT_EQ(drift("mode"), 2);

    EXPECT_EQ(writeDrift("tap", "").message, "Pressed Tap Tempo");
    EXPECT_EQ(drift("tap"), 1);
    auto preset = writeDrift("Preset", "Dub");
    EXPECT_FALSE(preset.success);
    EXPECT_EQ(preset.message, "Cannot write read-only text parameter Preset");
    EXPECT_EQ(writeDrift("Mode", "Spring").message,
              "Mode: unknown option 'Spring'. Available: tape (Tape), digital (Digital), analog (Analog)");
    auto hidden = writeDrift("Oversampling", "on");
    EXPECT_EQ(hidden.message,
              "Parameter 'Oversampling' not in Drift Delay map. Available: Time, Decay, Cutoff, Feedback, Mix, Tempo "
              "Sync, Freeze, "
              "Mode, Filter, Resonance, Shelf, Wow, Tap Tempo, Preset");
    EXPECT_EQ(drift("oversampling"), 0);
}

TEST_F(PluginInspectorTest, DependenciesRefuseWritesAndFollowValuesWrittenThroughTheInspector) {
    setParam("Vox", "Drift Delay", "filter", 2);  // Band Pass
    auto refused = writeDrift("Resonance", "50");
    EXPECT_FALSE(refused.success);
    EXPECT_EQ(refused.message, "Resonance isn't available when Filter is Band Pass. Allowed: Low Pass, High Pass.");
    EXPECT_FALSE(refused.beforeDisplay);
    EXPECT_EQ(drift("resonance"), 20);
    // Allowed, but the editor has no such control: the writer names what makes it available.
    EXPECT_EQ(writeDrift("Shelf", "3 dB").message,
              "Shelf isn't available in the current configuration. Filter must be one of: Band Pass.");

    // A value written through the inspector is what the next check sees.
    ASSERT_TRUE(writeDrift("Filter", "lp").success);
    auto allowed = writeDrift("Resonance", "50");
    EXPECT_TRUE(allowed.success) << allowed.message;
    EXPECT_EQ(drift("resonance"), 50);
}

TEST_F(PluginInspectorTest, AWritePrerequisiteSelectsItsOptionFirst) {
    auto wow = writeDrift("Wow", "40");
    EXPECT_TRUE(wow.success) << wow.message;
    EXPECT_EQ(drift("mode"), 0);  // Tape, pressed before the write
    EXPECT_EQ(drift("wow"), 40);
}

TEST_F(PluginInspectorTest, TheWindowIsReusedWithinATurnAndReopenedAfterTheReset) {
    const std::string open = "AXButton \"open\"";
    const auto drift = slotOf("Vox", "Drift Delay");
    platform::LogCapture logs;
    ASSERT_TRUE(inspector.readPlugin(drift, main(), "Vox"));
    ASSERT_TRUE(inspector.writeParameter(drift, main(), "Mix", "75%").success);
    ASSERT_TRUE(inspector.readPlugin(drift, main(), "Vox"));
    EXPECT_EQ(presses(open), 1);
    EXPECT_TRUE(logs.contains("[switchAndReacquire] cache hit, already at editor"));

    // Another slot: the first window closes and the new one opens.
    ASSERT_TRUE(inspector.readPlugin(slotOf("Vox", "Tube Saturator"), main(), "Vox"));
    EXPECT_EQ(presses(open), 2);
    EXPECT_EQ(pluginWindowTitles(), (std::vector<std::string>{"Vox: Tube Saturator"}));

    // End of the turn: the window closes in its editor view and the next turn opens it anew.
    logic.closeOpenPluginAndRestoreEditorView();
    inspector.resetTurnState();
    EXPECT_TRUE(pluginWindowTitles().empty());
    EXPECT_EQ(world().project().track("Vox")->strip.inserts[1].windowView, "Editor");
    ASSERT_TRUE(inspector.readPlugin(slotOf("Vox", "Tube Saturator"), main(), "Vox"));
    EXPECT_EQ(presses(open), 3);
    // Even the same slot is opened again once the turn state is gone.
    inspector.resetTurnState();
    ASSERT_TRUE(inspector.readPlugin(slotOf("Vox", "Tube Saturator"), main(), "Vox"));
    EXPECT_EQ(presses(open), 4);
}

TEST_F(PluginInspectorTest, AnotherPluginWindowThatOpenedMeanwhileIsNotTakenForTheSlots) {
    const auto compressor = slotOf("Vox", "Compressor");
    ASSERT_TRUE(inspector.writeParameter(compressor, main(), "Threshold", "-20 dB").success);
    // Another plug-in's window comes to the front, as an inserted plug-in's does.
    logic.findChildButton(slotOf("Vox", "Drift Delay").element, "open")->performAction(platform::ax::kPress);
    auto again = inspector.writeParameter(compressor, main(), "Threshold", "-30 dB");
    EXPECT_TRUE(again.success) << again.message;
    EXPECT_EQ(param("Vox", "Compressor", "threshold"), 64);
    EXPECT_EQ(param("Vox", "Drift Delay", "time"), 500);
}

TEST_F(PluginInspectorTest, OpeningFailuresAreReported) {
    world().setKnob("lateWindow", 5.0);
    auto late = writeDrift("Mix", "10%");
    EXPECT_EQ(late.message, "Could not open plugin window");
    EXPECT_FALSE(inspector.readPlugin(slotOf("Vox", "Tube Saturator"), main(), "Vox"));
    world().setKnob("lateWindow", 0.0);
    const auto slot = slotOf("Vox", "Drift Delay");
    world().quitLogic();
    EXPECT_EQ(inspector.writeParameter(slot, slot.element, "Mix", "10%").message, "Logic Pro is not running");
    EXPECT_FALSE(inspector.readPlugin(slot, slot.element, "Vox"));
}

TEST_F(PluginInspectorTest, ControlsViewWritesReachTheControlTheReaderNamed) {
    struct Case {
        const char* name;
        const char* value;
        const char* id;
        double raw;
        const char* message;
    };
    for (const Case& c : {Case{"Drive", "6 dB", "drive", 60, "Set Drive to 6.0 dB (was 0.0 dB)"},
                          Case{"Gain [2]", "-6 dB", "gainOut", 36, "Set Gain [2] to -6.0 dB (was 0.0 dB)"},
                          Case{"Ratio", "4:1", "ratio", 30, "Set Ratio to 4.0:1 (was 2.0:1)"},
                          Case{"Tone", "2 kHz", "tone", 79, "Set Tone to 1.98 kHz (closest to 2.0 kHz) (was 1.28 kHz)"},
                          Case{"Steps", "7", "steps", 7, "Set Steps to 7.0  (was 4)"},
                          // A check box that shares its label with a slider is the reader's "Drive [2]".
                          Case{"Drive [2]", "off", "driveOn", 0, "Drive [2]: on \u2192 off"},
                          Case{"soft clip", "on", "softClip", 1, "soft clip: off \u2192 on"},
                          Case{"Character", "Dark", "character", 2, "Set Character to Dark (was Warm)"},
                          Case{"Reset", "", "reset", 1, "Pressed Reset"}}) {
        const auto r = writeTube(c.name, c.value);
        EXPECT_TRUE(r.success) << c.name << ": " << r.message;
        EXPECT_EQ(r.message, c.message) << c.name;
        EXPECT_EQ(tube(c.id), c.raw) << c.name;
    }
    EXPECT_EQ(tube("gainIn"), 48);  // the other "Gain" is untouched
}

TEST_F(PluginInspectorTest, ControlsViewWriteFailuresSayWhy) {
    struct Case {
        const char* name;
        const char* value;
        const char* message;
    };
    for (const Case& c :
         {Case{"Drive", "6", "Unit mismatch: Drive reads as dB, target is "},
          Case{"Oversample", "maybe", "Invalid value 'maybe' for Oversample. Use on/off."},
          Case{"Oversample", "no", "Oversample already off"},
          Case{"Gain [3]", "1 dB", "'Gain [3]' index out of range. Only 2 control(s) match \u2014 use [1]..[2]."},
          Case{"Nope", "1", "Parameter 'Nope' not found in Controls view"}}) {
        EXPECT_EQ(writeTube(c.name, c.value).message, c.message) << c.name;
    }
}

TEST_F(PluginInspectorTest, ANudgeThatFailsPutsTheParameterBack) {
    auto beyond = writeTube("Drive", "30 dB");  // the slider ends at 24 dB
    EXPECT_FALSE(beyond.success);
    EXPECT_EQ(beyond.message, "Could not reach 30.0 dB for Drive. Closest was 24.0 dB.");
    EXPECT_EQ(beyond.beforeDisplay, "0.0 dB");
    EXPECT_EQ(tube("drive"), 40);

    world().setKnob("ignoreWrites", true);
    EXPECT_EQ(writeTube("Release", "1.5 s").message, "Release doesn't respond to AX writes");
    EXPECT_EQ(tube("release"), 100);
    world().setKnob("ignoreWrites", false);

    // Inverted sliders (raw up, value down) are nudged the other way.
    auto gate = inspector.writeParameter(slotOf("Bass", "Inverse Gate"), main(), "Threshold", "-30 dB");
    EXPECT_TRUE(gate.success) << gate.message;
    EXPECT_EQ(param("Bass", "Inverse Gate", "threshold"), 100);

    // Where every write rebuilds the window, the slider and its read-out are found again for the
    // probe, each step and the put-back.
    world().setKnob("staleAfter", "always");
    auto stale = writeTube("Drive", "6 dB");
    EXPECT_EQ(tube("drive"), 60);
    EXPECT_EQ(stale.message, "Set Drive to 6.0 dB (was 0.0 dB)");
    auto staleBeyond = writeTube("Drive", "30 dB");
    EXPECT_EQ(tube("drive"), 60);
    EXPECT_EQ(staleBeyond.message, "Could not reach 30.0 dB for Drive. Closest was 24.0 dB.");
}

TEST_F(PluginInspectorTest, APopUpWriteLooksOnlyInItsOwnMenuAndClosesIt) {
    // "Rename Track" is an item of Logic Pro's main menu: it must never be pressed for a pop-up.
    auto r = writeTube("Character", "Rename Track");
    EXPECT_FALSE(r.success);
    EXPECT_EQ(r.message, "Could not set Character to 'Rename Track' \u2014 menu item not found");
    EXPECT_EQ(r.beforeDisplay, "Warm");
    EXPECT_EQ(world().ui().openMenu, "");
    EXPECT_FALSE(world().ui().renaming);
    EXPECT_EQ(tube("character"), 0);

    // Where Logic Pro hangs open menus under the application, the pop-up's menu is still found.
    world().setKnob("menuPlacement", "appLevel");
    auto appLevel = writeTube("Character", "Bright");
    EXPECT_TRUE(appLevel.success) << appLevel.message;
    EXPECT_EQ(tube("character"), 1);
}

}  // namespace
}  // namespace corvane::testing
