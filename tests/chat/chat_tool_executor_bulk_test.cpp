#include <fmt/format.h>
#include <gtest/gtest.h>

#include "chat/chat_tool_executor.h"
#include "platform/log.h"
#include "chat/tool_executor_fixture.h"

namespace corvane::testing {
namespace {

using nlohmann::json;

class ChatToolExecutorBulk : public ToolExecutorTest {
protected:
    const standin::Track& track(const std::string& name) {
        project_ = world().project();
        return *project_.track(name);
    }
    // Opens the plug-in window of the selected track's first slot, which then holds the key focus.
    void openFirstPluginWindow() {
        auto window = logic.findMainWindow();
        ASSERT_TRUE(window);
        auto slots = logic.findTrackPluginSlots(*window);
        ASSERT_FALSE(slots.empty());
        auto open = logic.findChildButton(slots[0].element, "open");
        ASSERT_TRUE(open);
        open->performAction("AXPress");
        world().advance(1);
    }
    standin::Project project_;
};

TEST_F(ChatToolExecutorBulk, SoloAndMuteArgumentsAreCheckedBeforeLogicProIsTouched) {
    const std::pair<const char*, const char*> cases[] = {
        {"not json", "Missing `enabled` parameter (boolean)."},
        {R"({"enabled":"true","track_names":["Kick"]})", "Missing `enabled` parameter (boolean)."},
        {R"({"enabled":true})", "Missing `track_names` parameter (array of track name strings)."},
        {R"({"enabled":true,"track_names":"Kick"})", "Missing `track_names` parameter (array of track name strings)."},
        {R"({"enabled":true,"track_names":[]})", "No valid track names provided in `track_names`."},
        {R"({"enabled":true,"track_names":[" ","\t"]})", "No valid track names provided in `track_names`."},
    };
    world().clearEventLog();
    for (const auto& [args, error] : cases) {
        SCOPED_TRACE(args);
        EXPECT_EQ(oneJSON("set_track_solo", args), (json{{"status", "error"}, {"message", error}}));
        EXPECT_EQ(lastRecord(), (ToolExecution{"set_track_solo", error, false}));
    }
    EXPECT_TRUE(world().eventLog().empty());
}

// A track a collapsed folder hides has no header to select: the answer says where it may be.
TEST_F(ChatToolExecutorBulk, ATrackInACollapsedFolderIsSaidToBeHiddenNotMissing) {
    const std::pair<const char*, const char*> calls[] = {
        {"set_track_mute", R"({"enabled":true,"track_names":["Snare"]})"},
        {"set_track_solo", R"({"enabled":true,"track_names":["Snare"]})"},
        {"set_track_volume", R"({"track_name":"Snare","value":"-6 dB"})"},
        {"set_track_pan", R"({"track_name":"Snare","value":20})"},
    };
    for (const auto& [tool, args] : calls) {
        SCOPED_TRACE(tool);
        load(standin::testing::demoSong());
        world().mutateProject([](standin::Project& p) { p.track("Drums")->expanded = false; });
        signature.reset();
        const auto before = track("Snare");

        const json answer = oneJSON(tool, args);

        const auto& snare = track("Snare");
        EXPECT_EQ(snare.muted, before.muted);
        EXPECT_EQ(snare.soloed, before.soloed);
        EXPECT_EQ(snare.strip.volume, before.strip.volume);
        EXPECT_EQ(snare.strip.pan, before.strip.pan);
        const std::string message = answer.value("message", "");
        EXPECT_NE(message.find("'Snare' \u2014 not among the tracks Logic Pro's track list shows; a collapsed "
                               "folder may hold it"),
                  std::string::npos)
            << message;
        EXPECT_EQ(message.find("not found"), std::string::npos) << message;
    }
}

TEST_F(ChatToolExecutorBulk, SoloesTheFoundTracksAndListsTheOthers) {
    auto answer = oneJSON("set_track_solo", R"({"enabled":true,"track_names":[" kick","Snare","Bas","KICK"]})");
    EXPECT_TRUE(track("Kick").soloed);
    EXPECT_TRUE(track("Snare").soloed);
    EXPECT_FALSE(track("Bass").soloed);
    const std::string message =
        "Soloed Kick, Snare. Failed: 'Bas' \u2014 not found. Available: Drums, Kick, Snare, Bass, Lead Vox, Keys, "
        "Guitar";
    EXPECT_EQ(answer, (json{{"status", "partial"}, {"message", message}}));
    EXPECT_EQ(lastRecord(), (ToolExecution{"set_track_solo", message, true}));

    // Keys is muted already: that counts as switched.
    answer = oneJSON("set_track_mute", R"({"enabled":true,"track_name":"Keys","track_names":[1]})");
    EXPECT_TRUE(track("Keys").muted);
    EXPECT_EQ(answer, (json{{"status", "ok"}, {"message", "Muted Keys."}}));
}

TEST_F(ChatToolExecutorBulk, ATrackWhoseHeaderDoesNotShowTheStateIsNotCountedAsSwitched) {
    world().updateFaults([](standin::Faults& f) { f.pluginWindowTakesKeys = true; });
    openFirstPluginWindow();  // Kick stays selected; the plug-in window swallows M
    auto answer = oneJSON("set_track_mute", R"({"enabled":false,"track_names":["Kick","Nope"]})");
    EXPECT_FALSE(track("Kick").muted);
    answer = oneJSON("set_track_mute", R"({"enabled":true,"track_names":["Kick","Nope"]})");
    EXPECT_FALSE(track("Kick").muted);
    EXPECT_EQ(answer["status"], "error");
    EXPECT_EQ(answer["message"],
              "No tracks were muted. Failed: 'Kick' \u2014 could not toggle mute; 'Nope' \u2014 not found. Available: "
              "Drums, Kick, Snare, Bass, Lead Vox, Keys, Guitar");
    EXPECT_FALSE(lastRecord().succeeded);
}

TEST_F(ChatToolExecutorBulk, TheAvailableNamesAreCappedAtFifteen) {
    json tracks = json::array();
    for (int i = 1; i <= 17; ++i) tracks.push_back({{"name", "T" + std::to_string(i)}, {"kind", "audio"}});
    load(standin::testing::demoSongWith({{"project", {{"tracks", tracks}, {"selected", "T1"}}}}));
    auto answer = oneJSON("set_track_solo", R"({"enabled":false,"track_names":["X"]})");
    EXPECT_EQ(answer["message"],
              "No tracks were unsoloed. Failed: 'X' \u2014 not found. Available: T1, T2, T3, T4, T5, T6, T7, T8, T9, "
              "T10, T11, T12, T13, T14, T15");
}

TEST_F(ChatToolExecutorBulk, VolumeAndPanInEveryFormWithClampingAndBeforeAfterLines) {
    ASSERT_EQ(track("Kick").strip.volume, 200);
    ASSERT_EQ(track("Guitar").strip.pan, 20);
    ASSERT_EQ(track("Bass").strip.pan, -10);
    auto answer = oneJSON("set_track_pan", R"({"tracks":[{"track_name":"Guitar","value":"-30"},
                                                         {"track_name":" Bass ","value":"12.7"},
                                                         {"track_name":"Snare","value":"+100"},
                                                         {"track_name":"Keys","value":" +3"}]})");
    EXPECT_EQ(track("Guitar").strip.pan, -10);
    EXPECT_EQ(track("Bass").strip.pan, 12);
    EXPECT_EQ(track("Snare").strip.pan, 63);  // the knob's own end stop
    EXPECT_EQ(answer, (json{{"status", "partial"},
                            {"message",
                             "Guitar pan: 20 \u2192 -10 (-30). Bass pan: -10 \u2192 12. Snare pan: 0 \u2192 63 (+100). "
                             "Failed: 'Keys' \u2014 invalid value ' +3'"}}));

    const double before = world().level(track("Kick").strip.volume);
    answer = oneJSON("set_track_volume", R"({"tracks":[{"track_name":"Kick","value":"-6 dB"},
                                                       {"track_name":"Snare","value":"-6"},
                                                       {"track_name":"Bass","value":"300"},
                                                       {"track_name":"Guitar","value":"nan"},
                                                       {"track_name":"Keys","value":"inf"}]})");
    EXPECT_NEAR(world().level(track("Kick").strip.volume), -6.0, 0.3);
    EXPECT_EQ(track("Snare").strip.volume, 184);
    const int top = world().project().track("Bass")->strip.volume;
    EXPECT_GT(top, 200);
    EXPECT_NE(track("Guitar").strip.volume, top);
    const std::string message = answer["message"];
    EXPECT_EQ(answer["status"], "partial");
    EXPECT_EQ(message.rfind(fmt::format("Kick volume: {:+.1f} dB \u2192 -6.0 dB. Snare volume: ", before), 0), 0u)
        << message;
    EXPECT_NE(message.find(" \u2192 184 (-6). Bass volume: "), std::string::npos) << message;
    EXPECT_NE(message.find(" \u2192 " + std::to_string(top) +
                           ". Failed: 'Guitar' \u2014 invalid value 'nan'; "
                           "'Keys' \u2014 invalid value 'inf'"),
              std::string::npos)
        << message;
}

// A leading "-" in text is a change, so a pan to the left is asked for with a JSON number.
TEST_F(ChatToolExecutorBulk, ANumericValueIsAbsoluteSoANegativeTargetCanBeAskedFor) {
    auto answer = oneJSON("set_track_pan", R"({"tracks":[{"track_name":"Guitar","value":-30},
                                                         {"track_name":"Bass","value":-64}]})");
    EXPECT_EQ(track("Guitar").strip.pan, -30);
    EXPECT_EQ(track("Bass").strip.pan, -64);
    EXPECT_EQ(answer, (json{{"status", "ok"}, {"message", "Guitar pan: 20 → -30. Bass pan: -10 → -64."}}));

    answer = oneJSON("set_track_volume", R"({"track_name":"Snare","value":150})");
    EXPECT_EQ(track("Snare").strip.volume, 150);
    EXPECT_EQ(answer["status"], "ok");
    EXPECT_EQ(answer["message"].get<std::string>().find("(") , std::string::npos) << answer;  // not a change
}

TEST_F(ChatToolExecutorBulk, EntryListFallbacksAndRelativeWritesThatCannotReadTheCurrentValue) {
    const std::pair<const char*, const char*> missing[] = {
        {R"({"tracks":[],"track_name":"Kick","value":"1"})", "Missing `tracks` array of {track_name, value} objects."},
        {R"({"tracks":[{"track_name":"Kick","value":true}]})", "Missing `tracks` array of {track_name, value} objects."},
        {R"(["x"])", "Invalid arguments."},
    };
    for (const auto& [args, error] : missing) EXPECT_EQ(oneJSON("set_track_pan", args)["message"], error) << args;

    // One non-object element spoils the list; the top-level pair is used instead.
    auto answer = oneJSON("set_track_pan", R"({"tracks":[1,{"track_name":"Kick","value":"5"}],
                                              "track_name":"Guitar","value":"7"})");
    EXPECT_EQ(track("Guitar").strip.pan, 7);
    EXPECT_EQ(track("Kick").strip.pan, 0);
    EXPECT_EQ(answer, (json{{"status", "ok"}, {"message", "Guitar pan: 20 \u2192 7."}}));

    // A level that cannot be read stops the search with the fader moved: the answer says where it stands.
    world().setKnob("axError", json{{"element", "volume fader level"}, {"attribute", "AXTitle"}});
    answer = oneJSON("set_track_volume", R"({"track_name":"Kick","value":"-20 dB"})");
    const int moved = track("Kick").strip.volume;
    EXPECT_NE(moved, 200);
    EXPECT_EQ(answer["message"], "No changes applied. Failed: 'Kick' \u2014 dB write failed (target -20.0 dB): The volume "
                                 "fader's level could not be read. The fader was moved on the way: it stands at " +
                                     std::to_string(moved) + ", not 200 as before.");
    world().setKnob("axError", json::array());

    answer = oneJSON("set_track_volume", R"({"track_name":"Nowhere","value":"+3 dB"})");
    EXPECT_EQ(answer["message"],
              "No changes applied. Failed: 'Nowhere' \u2014 not found. Available: Drums, Kick, Snare, Bass, Lead Vox, "
              "Keys, Guitar");
}

// Held elements that go stale at every change (while playing, all the time) or after a few reads:
// the window and the headers are found anew, and a present track is switched.
TEST_F(ChatToolExecutorBulk, ATrackIsReachedOnAScreenWhoseElementsGoStale) {
    for (const char* stale : {"always", "afterReads 3", "afterReads 5"}) {
        for (const bool playing : {false, true}) {
            for (const char* target : {"Bass", "Guitar", "Kick"}) {
                SCOPED_TRACE(std::string(stale) + (playing ? ", playing, " : ", ") + target);
                load(standin::testing::demoSong());
                world().setKnob("staleAfter", stale);
                if (playing) world().mutateProject([](standin::Project& p) { p.transport.playing = true; });
                const std::string name = std::string(R"("track_name":")") + target + "\"";
                const json muted = oneJSON("set_track_mute", "{\"enabled\":true," + name + "}");
                EXPECT_TRUE(track(target).muted);
                EXPECT_EQ(muted["status"], "ok") << muted.dump();
                EXPECT_EQ(muted.value("message", "").rfind(std::string("Muted ") + target + ".", 0), 0u) << muted.dump();
                const json soloed = oneJSON("set_track_solo", "{\"enabled\":true," + name + "}");
                EXPECT_TRUE(track(target).soloed);
                EXPECT_EQ(soloed["status"], "ok") << soloed.dump();
            }
        }
    }
}

// A fader or knob whose handle goes stale while it is written: the write is confirmed through
// handles found anew, and a value that took is said to have taken.
TEST_F(ChatToolExecutorBulk, AValueWrittenThroughHandlesThatGoStaleIsSaidToHaveTaken) {
    for (const char* stale : {"always", "afterReads 3"}) {
        SCOPED_TRACE(stale);
        load(standin::testing::demoSong());
        world().setKnob("staleAfter", stale);
        const json panned = oneJSON("set_track_pan", R"({"track_name":"Guitar","value":-30})");
        EXPECT_EQ(track("Guitar").strip.pan, -30);
        EXPECT_EQ(panned, (json{{"status", "ok"}, {"message", "Guitar pan: 20 \u2192 -30."}}));

        const json raw = oneJSON("set_track_volume", R"({"track_name":"Snare","value":150})");
        EXPECT_EQ(track("Snare").strip.volume, 150);
        EXPECT_EQ(raw["status"], "ok") << raw.dump();

        // Past the knob's end stop: the range is read anew too, so the end is asked for, not beyond it.
        const json beyond = oneJSON("set_track_pan", R"({"track_name":"Bass","value":100})");
        EXPECT_EQ(track("Bass").strip.pan, 63);
        EXPECT_EQ(beyond["status"], "ok") << beyond.dump();

        // Playing, the search for a level reads the fader more often than the pauses it waits.
        world().mutateProject([](standin::Project& p) { p.transport.playing = true; });
        const json levels = oneJSON("set_track_volume", R"({"tracks":[{"track_name":"Kick","value":"-6 dB"},
                                                                   {"track_name":"Keys","value":"-20 dB"}]})");
        EXPECT_NEAR(world().level(track("Kick").strip.volume), -6.0, 0.3);
        EXPECT_NEAR(world().level(track("Keys").strip.volume), -20.0, 0.3);
        EXPECT_EQ(levels["status"], "ok") << levels.dump();
        for (const char* name : {"Kick volume: ", "Keys volume: "})
            EXPECT_NE(levels.value("message", "").find(name), std::string::npos) << levels.dump();
    }
}

// A strip that lags a click still shows the track selected before it, here one Shift-clicked back
// in: the track the selection follows is told by its header's focus, so the keys start from it and
// the selection is put back around it.
TEST_F(ChatToolExecutorBulk, ASelectionWhoseStripLagsKeepsTheTrackItFollows) {
    for (const char* target : {"Bass", "Kick"}) {
        SCOPED_TRACE(target);
        load(standin::testing::demoSong());  // Kick selected
        world().setKnob("lateStripUpdate", 0.9);
        world().clickHeader(track("Bass").id);
        world().shiftClickHeader("Kick");
        const json answer = oneJSON("set_track_mute", std::string(R"({"enabled":true,"track_name":")") + target + "\"}");
        EXPECT_EQ(world().project().selectedTrackIds(), (std::vector<int>{track("Bass").id, track("Kick").id}));
        world().advance(1);  // the strip follows in its own time
        EXPECT_EQ(world().project().stripTrackId, track("Bass").id);
        for (const char* name : {"Kick", "Snare", "Bass"}) EXPECT_EQ(track(name).muted, std::string(name) == target) << name;
        EXPECT_EQ(answer, (json{{"status", "ok"}, {"message", std::string("Muted ") + target + "."}}));
    }
}

// Logic Pro's window refusing a read for a moment hides no track: it is read again and the
// change is made; one that keeps refusing is said to be unreadable, never a missing track.
TEST_F(ChatToolExecutorBulk, AWindowThatFailsAReadIsReadAgainNotTakenForAMissingTrack) {
    for (const auto& [attribute, name] : {std::pair{"AXChildren", "Bass"}, std::pair{"AXTitle", "Guitar"}}) {
        SCOPED_TRACE(attribute);
        load(standin::testing::demoSong());
        world().setKnob("axError", json{{"element", "window"}, {"attribute", attribute}, {"code", -25200}, {"times", 3}});
        const json answer = oneJSON("set_track_mute", fmt::format(R"({{"enabled":true,"track_names":["{}"]}})", name));
        EXPECT_TRUE(track(name).muted);
        EXPECT_EQ(answer, (json{{"status", "ok"}, {"message", fmt::format("Muted {}.", name)}}));
    }
    load(standin::testing::demoSong());
    world().setKnob("axError", json{{"element", "window"}, {"attribute", "AXChildren"}, {"code", -25200}});
    const json answer = oneJSON("set_track_mute", R"({"enabled":true,"track_names":["Kick"]})");
    EXPECT_FALSE(track("Kick").muted);
    const std::string message = answer.value("message", "");
    EXPECT_NE(message.find("'Kick' \u2014 not looked for: Logic Pro's track list could not be read"), std::string::npos)
        << message;
    EXPECT_EQ(message.find("not found"), std::string::npos) << message;
}

}  // namespace
}  // namespace corvane::testing
