// The look into collapsed folders: what a tool learns there of the tracks they hide, that the
// folders it opened are shut again even on a screen whose elements go stale, and that it waits for
// a level of folders at a time.

#include <gtest/gtest.h>

#include <string>

#include "chat/chat_tool_executor.h"
#include "chat/tool_executor_fixture.h"
#include "logic/logic_timing.h"

namespace corvane::testing {
namespace {

using nlohmann::json;

json track(const std::string& name, const char* kind = "audio") { return {{"name", name}, {"kind", kind}}; }

json folder(const std::string& name, bool expanded, json children) {
    return {{"name", name}, {"kind", "folder"}, {"expanded", expanded}, {"children", std::move(children)}};
}

// Band (collapsed) holds Drums (collapsed) holding `hidden`; Lead Vox and Kick at the top.
json nestedSong(const std::string& hidden) {
    return standin::testing::demoSongWith(
        {{"project",
          {{"selected", "Bass"},
           {"tracks",
            {track("Kick"), folder("Band", false, {folder("Drums", false, {track(hidden)}), track("Snare")}),
             track("Bass"), track("Lead Vox"), folder("Keys Group", false, {track("Keys", "instrument")}),
             {{"name", "Stereo Out"}, {"kind", "output"}, {"inArrange", false}}}}}}});
}

class FolderLook : public ToolExecutorTest {
protected:
    bool expanded(const std::string& name) { return world().project().track(name)->expanded; }
    bool allShut() { return !expanded("Band") && !expanded("Drums") && !expanded("Keys Group"); }
    std::string message(const AgentToolOutputPayload& out) { return json::parse(out.outputJSON).value("message", ""); }
    // The presses on folder triangles so far.
    std::size_t trianglePresses() {
        std::size_t n = 0;
        for (const auto& e : world().eventLog())
            if (e.kind == standin::EventKind::axAction && e.name == "AXPress" &&
                e.element.starts_with("AXDisclosureTriangle"))
                ++n;
        return n;
    }
    void newTurn() {
        roundIndex = 0;
        signature.reset();
    }
};

// Whatever goes stale meanwhile, every folder the look opened is shut again, the tool does on its
// target what it does with the folders expanded, and a name a hidden track shares is refused.
TEST_F(FolderLook, TheFoldersOpenedAreShutAgainOnAScreenWhoseElementsGoStale) {
    for (const char* stale : {"always", "afterReads 3", "afterReads 5", "onRebuild"}) {
        SCOPED_TRACE(stale);
        double seconds = 0;  // of the last mute, in virtual time
        const auto muteLeadVox = [&](bool collapsed) {
            json song = nestedSong("kick");
            for (auto& t : song["project"]["tracks"])
                if (t.contains("expanded")) t["expanded"] = !collapsed;
            load(song);
            signature.reset();
            roundIndex = 0;
            world().updateFaults([&](standin::Faults& f) { f.staleAfter = standin::parseStaleAfter(stale); });
            const double start = world().virtualSeconds();
            const auto answer = message(one("set_track_mute", R"({"enabled":true,"track_name":"Lead Vox"})"));
            seconds = world().virtualSeconds() - start;
            return answer;
        };
        const std::string expanded = muteLeadVox(false);
        const double expandedSeconds = seconds;
        const bool mutedExpanded = world().project().track("Lead Vox")->muted;

        const std::string collapsed = muteLeadVox(true);
        // Two levels of folders: at most a pause to open each level and one to shut them all, not
        // two for every folder.
        EXPECT_LE(seconds, expandedSeconds + 3 * pacing::kFolderToggles + 1e-9);
        EXPECT_TRUE(allShut());
        EXPECT_EQ(world().project().track("Lead Vox")->muted, mutedExpanded);
        EXPECT_EQ(collapsed, expanded);
        if (std::string(stale) == "onRebuild") {
            EXPECT_EQ(collapsed, "Muted Lead Vox.");
        }

        const auto refused = message(one("set_track_mute", R"({"enabled":true,"track_name":"Kick"})"));
        EXPECT_TRUE(allShut());
        EXPECT_FALSE(world().project().track("Kick")->muted);
        EXPECT_FALSE(world().project().track("kick")->muted);
        EXPECT_NE(refused.find("are all named 'Kick'"), std::string::npos) << refused;
    }
}

// What a look learned is kept while the list shows the same, within the turn: the folders are
// opened once for several calls, and again once the list changed.
TEST_F(FolderLook, AFolderIsLookedIntoOncePerTurnUnlessTheListChanges) {
    load(nestedSong("Perc"));
    EXPECT_EQ(message(one("set_track_mute", R"({"enabled":true,"track_name":"Kick"})")), "Muted Kick.");
    const std::size_t firstLook = trianglePresses();
    EXPECT_EQ(firstLook, 6u);  // Band, Drums within it, Keys Group: each opened and shut
    EXPECT_EQ(message(one("set_track_solo", R"({"enabled":true,"track_names":["Bass"]})")), "Soloed Bass.");
    EXPECT_EQ(message(one("set_track_mute", R"({"enabled":true,"track_name":"Lead Vox"})")), "Muted Lead Vox.");
    EXPECT_EQ(trianglePresses(), firstLook);
    EXPECT_TRUE(allShut());

    // A shown track renamed: the list changed, so the folders are looked into again.
    EXPECT_EQ(lastRecord().succeeded, true);
    (void)one("rename_track", R"({"current_name":"Bass","new_name":"Bass DI"})");
    ASSERT_NE(world().project().track("Bass DI"), nullptr);
    EXPECT_EQ(message(one("set_track_mute", R"({"enabled":false,"track_name":"Kick"})")), "Unmuted Kick.");
    EXPECT_GT(trianglePresses(), firstLook);
    EXPECT_FALSE(world().project().track("Kick")->muted);
    EXPECT_TRUE(allShut());
}

// Between turns the user may rename a track a collapsed folder hides: what the last turn's look
// learned is not taken for what the folders hide now, neither to accept nor to refuse a name.
TEST_F(FolderLook, ATrackRenamedInsideACollapsedFolderBetweenTurnsIsSeen) {
    load(nestedSong("Perc"));
    EXPECT_EQ(message(one("set_track_mute", R"({"enabled":true,"track_name":"Kick"})")), "Muted Kick.");

    newTurn();
    world().renameByHand(world().project().track("Perc")->id, "kick");
    const std::string refused = message(one("set_track_mute", R"({"enabled":false,"track_name":"Kick"})"));
    EXPECT_TRUE(world().project().track("Kick")->muted);
    EXPECT_TRUE(allShut());
    EXPECT_NE(refused.find("tracks 1 and 4 are all named 'Kick'"), std::string::npos) << refused;

    newTurn();
    world().renameByHand(world().project().track("kick")->id, "Perc");
    // Selected alone for the press, which the answer may add: a selected track a folder hides is let go.
    const std::string unmuted = message(one("set_track_mute", R"({"enabled":false,"track_name":"Kick"})"));
    EXPECT_EQ(unmuted.rfind("Unmuted Kick.", 0), 0u) << unmuted;
    EXPECT_FALSE(world().project().track("Kick")->muted);
    EXPECT_TRUE(allShut());
}

// The folder tools and a side chain's source take a name as the other tools do: one that a track a
// collapsed folder hides shares is refused, and nothing is opened, closed or keyed.
TEST_F(FolderLook, AFolderOrSideChainSourceNamedAsAHiddenTrackIsRefused) {
    const auto song = [](bool drumsExpanded) {
        return standin::testing::demoSongWith(
            {{"project",
              {{"selected", "Bass"},
               {"tracks",
                {folder("Drums", drumsExpanded, {track("Snare")}),
                 folder("Band", false, {folder("drums", false, {track("Kick")}), track("lead vox")}),
                 {{"name", "Bass"}, {"kind", "audio"}, {"inserts", {{{"plugin", "Compressor"}}}}}, track("Lead Vox"),
                 {{"name", "Stereo Out"}, {"kind", "output"}, {"inArrange", false}}}}}}});
    };
    for (const bool drumsExpanded : {true, false})
        for (const char* tool : {"set_folder_expanded", "expand_folder", "collapse_folder"}) {
            SCOPED_TRACE(std::string(tool) + (drumsExpanded ? " on Drums expanded" : " on Drums collapsed"));
            load(song(drumsExpanded));
            const std::string answer =
                message(one(tool, json{{"track_name", "Drums"}, {"expanded", !drumsExpanded}}.dump()));
            EXPECT_EQ(expanded("Drums"), drumsExpanded) << answer;
            EXPECT_FALSE(expanded("Band"));
            EXPECT_FALSE(expanded("drums"));
            EXPECT_FALSE(lastRecord().succeeded);
            EXPECT_NE(answer.find("tracks 1 and 4 are all named 'Drums'"), std::string::npos) << answer;
        }

    load(song(true));
    const std::string answer =
        message(one("set_plugin_sidechain", R"({"track_name":"Bass","plugin_name":"Compressor","source":"Lead Vox"})"));
    EXPECT_EQ(world().project().track("Bass")->strip.inserts.at(0).sideChainSource, "None");
    EXPECT_FALSE(expanded("Band"));
    EXPECT_FALSE(lastRecord().succeeded);
    EXPECT_NE(answer.find("are all named 'Lead Vox'"), std::string::npos) << answer;
}

}  // namespace
}  // namespace corvane::testing
