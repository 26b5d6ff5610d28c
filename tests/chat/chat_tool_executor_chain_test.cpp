#include <gtest/gtest.h>

#include "chat/chat_tool_executor.h"
#include "chat/tool_executor_fixture.h"

namespace corvane::testing {
namespace {

using nlohmann::json;

class ChatToolExecutorChain : public ToolExecutorTest {
protected:
    std::vector<std::string> chain(const std::string& track) {
        std::vector<std::string> names;
        const auto project = world().project();
        for (const auto& s : project.track(track)->strip.inserts) names.push_back(s.plugin);
        return names;
    }
    std::string sideChain(const std::string& track, std::size_t slot) {
        const auto project = world().project();
        return project.track(track)->strip.inserts.at(slot).sideChainSource;
    }
    using Names = std::vector<std::string>;
};

TEST_F(ChatToolExecutorChain, AddedPlugInsLandAboveTheAnalysisPlugInWhichStaysLast) {
    ASSERT_EQ(chain("Lead Vox"), (Names{"Channel EQ", "Compressor", "Corvane"}));
    auto answer = oneJSON("add_plugin", R"({"track_name":"lead vox","plugin_name":"Limiter"})");
    EXPECT_EQ(chain("Lead Vox"), (Names{"Channel EQ", "Compressor", "Limiter", "Corvane"}));
    EXPECT_EQ(answer["status"], "ok");
    EXPECT_EQ(answer["message"], "Added Limiter to Lead Vox at slot 2.");
    EXPECT_EQ(answer["updatedPlugins"][3], (json{{"index", 3}, {"name", "Corvane"}, {"bypassed", false}}));
    EXPECT_EQ(executor->corvanePresence("Lead Vox"), true);

    // A slot at or below the analysis plug-in is not given; the plug-in stays straight above it.
    answer = oneJSON("add_plugin", R"({"track_name":"Lead Vox","plugin_name":"Channel EQ","slot_index":9})");
    EXPECT_EQ(chain("Lead Vox"), (Names{"Channel EQ", "Compressor", "Limiter", "Channel EQ", "Corvane"}));
    EXPECT_EQ(answer["message"], "Added Channel EQ to Lead Vox at slot 3. (kept above Corvane, which stays last)");

    answer = oneJSON("add_plugin", R"({"track_name":"Lead Vox","plugin_name":"Compressor","slot_index":0})");
    EXPECT_EQ(chain("Lead Vox"), (Names{"Compressor", "Channel EQ", "Compressor", "Limiter", "Channel EQ", "Corvane"}));
    EXPECT_EQ(answer["message"].get<std::string>().rfind("Added Compressor to Lead Vox at slot 0.", 0), 0u);

    answer = oneJSON("add_plugin", R"({"track_name":"Lead Vox","plugin_name":"Corvane"})");
    EXPECT_EQ(chain("Lead Vox").size(), 6u);
    EXPECT_EQ(answer["alreadyPresent"], true);
    EXPECT_EQ(answer["existingSlot"], 5);
    EXPECT_EQ(answer["message"], "Corvane is already on Lead Vox at slot 5 \u2014 skipped add to avoid duplicate.");
}

TEST_F(ChatToolExecutorChain, AWantedSlotIsReachedByADragAfterTheSettleWaitAndAMissedDragIsReported) {
    ASSERT_EQ(chain("Kick"), (Names{"Channel EQ", "Compressor"}));
    auto answer = oneJSON("add_plugin", R"({"track_name":"Kick","plugin_name":"Limiter","slot_index":0})");
    EXPECT_EQ(chain("Kick"), (Names{"Limiter", "Channel EQ", "Compressor"}));
    EXPECT_EQ(answer["message"].get<std::string>().rfind("Added Limiter to Kick at slot 0.", 0), 0u) << answer;

    world().updateFaults([](standin::Faults& f) { f.dropMisses = 2; });
    answer = oneJSON("add_plugin", R"({"track_name":"Kick","plugin_name":"Corvane","slot_index":1.5})");
    EXPECT_EQ(chain("Kick"), (Names{"Limiter", "Channel EQ", "Compressor", "Corvane"}));
    EXPECT_EQ(answer["message"], "Added Corvane to Kick at end of chain.");

    answer = oneJSON("add_plugin", R"({"track_name":"Snare","plugin_name":"Limiter"})");
    answer = oneJSON("add_plugin", R"({"track_name":"Snare","plugin_name":"Compressor","slot_index":0})");
    EXPECT_EQ(chain("Snare"), (Names{"Limiter", "Compressor"}));  // both drags missed
    const std::string message = answer["message"];
    EXPECT_EQ(message.rfind("Added Compressor to Snare at slot 1. (Reorder failed twice", 0), 0u) << message;
    EXPECT_EQ(answer["status"], "ok");

    EXPECT_EQ(oneJSON("add_plugin", R"({"track_name":"Kick","plugin_name":"Nonesuch"})")["status"], "error");
    EXPECT_EQ(chain("Kick").size(), 4u);
    EXPECT_EQ(oneJSON("add_plugin", R"({"track_name":"Kik","plugin_name":"Limiter"})")["message"],
              "Track 'Kik' not found. Available: Drums, Kick, Snare, Bass, Lead Vox, Keys, Guitar");
}

TEST_F(ChatToolExecutorChain, AWantedSlotIsReachedWhenTheAnalysisPlugInHadToBeMovedBackToTheEnd) {
    ASSERT_EQ(chain("Kick"), (Names{"Channel EQ", "Compressor"}));
    oneJSON("add_plugin", R"({"track_name":"Kick","plugin_name":"Corvane","slot_index":0})");
    ASSERT_EQ(chain("Kick"), (Names{"Corvane", "Channel EQ", "Compressor"}));

    auto answer = oneJSON("add_plugin", R"({"track_name":"Kick","plugin_name":"Limiter","slot_index":2})");
    EXPECT_EQ(chain("Kick"), (Names{"Channel EQ", "Compressor", "Limiter", "Corvane"}));
    EXPECT_EQ(answer["status"], "ok");
    EXPECT_EQ(answer["message"].get<std::string>().rfind("Added Limiter to Kick at slot 2.", 0), 0u) << answer;
}

TEST_F(ChatToolExecutorChain, RemovesByIndexOrNameAndTracksTheAnalysisPlugIn) {
    auto answer = oneJSON("remove_plugin", R"({"track_name":"Lead Vox","plugin_index":0,"plugin_name":"Corvane"})");
    EXPECT_EQ(chain("Lead Vox"), (Names{"Compressor", "Corvane"}));
    EXPECT_EQ(answer, (json{{"status", "ok"}, {"message", "Removed Channel EQ from Lead Vox."}}));

    answer = oneJSON("remove_plugin", R"({"track_name":"Lead Vox","plugin_name":"corvane"})");
    EXPECT_EQ(chain("Lead Vox"), (Names{"Compressor"}));
    EXPECT_EQ(executor->corvanePresence("Lead Vox"), false);
    EXPECT_EQ(oneJSON("remove_plugin", R"({"track_name":"Lead Vox","plugin_index":4})")["message"],
              "Plugin index 4 out of range (0-0).");
}

TEST_F(ChatToolExecutorChain, ReorderKeepsTheAnalysisPlugInLast) {
    const std::pair<const char*, const char*> refused[] = {
        {R"({"track_name":"Lead Vox","from_index":2,"to_index":0})", "Corvane must stay last \u2014 don't move it."},
        {R"({"track_name":"Lead Vox","from_index":0,"to_index":2})",
         "Target slot 2 is at or past Corvane (slot 2) \u2014 CV must stay last. Use toIndex <= 1."},
        {R"({"track_name":"Lead Vox","from_index":0})", "Missing track_name, from_index, or to_index."},
    };
    for (const auto& [args, message] : refused)
        EXPECT_EQ(oneJSON("reorder_plugin", args), (json{{"status", "error"}, {"message", message}})) << args;
    EXPECT_EQ(chain("Lead Vox"), (Names{"Channel EQ", "Compressor", "Corvane"}));

    // Numbers past an int are quoted as sent, never as the int they would have been squeezed into.
    const std::pair<const char*, const char*> outOfRange[] = {
        {R"({"track_name":"Kick","from_index":0,"to_index":1000000000000000000})",
         "toIndex 1000000000000000000 out of range (0..2)"},
        {R"({"track_name":"Kick","from_index":-3000000000,"to_index":1})", "fromIndex -3000000000 out of range (chain size 2)"},
        {R"({"track_name":"Kick","from_index":0,"to_index":1e30})", "toIndex 1e+30 out of range (0..2)"},
        {R"({"track_name":"Lead Vox","from_index":0,"to_index":18446744073709551615})",
         "Target slot 18446744073709551615 is at or past Corvane (slot 2) \u2014 CV must stay last. Use toIndex <= 1."},
    };
    for (const auto& [args, message] : outOfRange)
        EXPECT_EQ(oneJSON("reorder_plugin", args), (json{{"status", "error"}, {"message", message}})) << args;
    EXPECT_EQ(chain("Kick"), (Names{"Channel EQ", "Compressor"}));
    auto added = oneJSON("add_plugin", R"({"track_name":"Kick","plugin_name":"Limiter","slot_index":4294967298})");
    EXPECT_EQ(chain("Kick"), (Names{"Channel EQ", "Compressor", "Limiter"}));
    EXPECT_EQ(added["message"],
              "Added Limiter to Kick at slot 2. (slot_index 4294967298 out of range (0..2) \u2014 left at end of chain)");

    auto answer = oneJSON("reorder_plugin", R"({"track_name":"Lead Vox","from_index":1.9,"to_index":0})");
    EXPECT_EQ(chain("Lead Vox"), (Names{"Compressor", "Channel EQ", "Corvane"}));
    EXPECT_EQ(answer["message"], "Moved plugin on Lead Vox from slot 1 to slot 0.");
    EXPECT_EQ(answer["updatedPlugins"].size(), 3u);
}

// While the song plays every moment is a change: where each change leaves every handle held
// before it stale, a plug-in is still moved and added where asked.
TEST_F(ChatToolExecutorChain, APlayingSongWhoseHandlesGoStaleOnEveryChangeHasItsPlugInsMoved) {
    auto scenario = standin::testing::demoSong();
    scenario["project"]["playing"] = true;
    load(scenario);
    world().setKnob("staleAfter", "always");
    auto answer = oneJSON("reorder_plugin", R"({"track_name":"Kick","from_index":1,"to_index":0})");
    EXPECT_EQ(chain("Kick"), (Names{"Compressor", "Channel EQ"}));
    EXPECT_EQ(answer["status"], "ok") << answer;
    answer = oneJSON("add_plugin", R"({"track_name":"Kick","plugin_name":"Limiter","slot_index":0})");
    EXPECT_EQ(chain("Kick"), (Names{"Limiter", "Compressor", "Channel EQ"}));
    EXPECT_EQ(answer["message"].get<std::string>().rfind("Added Limiter to Kick at slot 0.", 0), 0u) << answer;
    EXPECT_TRUE(world().project().transport.playing);
}

// A track hidden from the list after its last track keeps its number and so leaves no gap, yet
// the menu lists it: a source sharing its name is refused, not taken for the listed one.
TEST_F(ChatToolExecutorChain, ASideChainSourceSharingItsNameWithATrackHiddenAtTheEndIsRefused) {
    auto scenario = standin::testing::demoSong();
    auto& tracks = scenario["project"]["tracks"];
    tracks.insert(tracks.begin() + 5, json{{"name", "Bass"}, {"kind", "audio"}, {"inArrange", false}, {"number", 8}});
    load(scenario);
    const auto answer = oneJSON("set_plugin_sidechain",
                                R"({"track_name":"Lead Vox","plugin_name":"Compressor","source":"Bass"})");
    EXPECT_EQ(sideChain("Lead Vox", 1), "None");
    EXPECT_EQ(answer["status"], "error") << answer;
    EXPECT_NE(answer.value("message", "").find("2 items of Logic Pro's side-chain menu are named so"),
              std::string::npos)
        << answer;
}

TEST_F(ChatToolExecutorChain, SideChainByBusNumberTrackNameAndKeyword) {
    load(standin::testing::demoSongWith(
        {{"project", {{"buses", {{{"number", 1}, {"aux", "Reverb"}}, {{"number", 14}}}}}}}));
    const std::string vox = R"({"track_name":"Lead Vox","plugin_name":"Compressor",)";
    auto answer = oneJSON("set_plugin_sidechain", vox + R"("source":"14"})");
    EXPECT_EQ(sideChain("Lead Vox", 1), "Bus 14");
    EXPECT_EQ(answer, (json{{"status", "ok"},
                            {"message",
                             "Compressor on Lead Vox: Side Chain: None \u2192 Bus 14 (interpreted '14' as "
                             "'Bus 14')"}}));

    answer = oneJSON("set_plugin_sidechain", vox + R"("source":"Kick"})");
    EXPECT_EQ(sideChain("Lead Vox", 1), "Kick");
    EXPECT_EQ(answer["message"], "Compressor on Lead Vox: Side Chain: Bus 14 \u2192 Kick");

    answer = oneJSON("set_plugin_sidechain", vox + R"("source":"bus 1"})");
    EXPECT_EQ(sideChain("Lead Vox", 1), "Bus 1");
    answer = oneJSON("set_plugin_sidechain", vox + R"("source":"Internal"})");
    EXPECT_EQ(sideChain("Lead Vox", 1), "Internal");
    answer = oneJSON("set_plugin_sidechain", vox + R"("source":"internal"})");
    EXPECT_EQ(answer["message"], "Compressor on Lead Vox: Side Chain \u2192 internal");

    answer = oneJSON("set_plugin_sidechain", vox + R"("source":"Drums"})");
    EXPECT_EQ(answer["message"],
              "Cannot sidechain to folder 'Drums' \u2014 it's routed directly to Stereo Output, not a bus. Route "
              "'Drums' through a bus first, or pass the bus name directly.");
    EXPECT_EQ(sideChain("Lead Vox", 1), "Internal");
    EXPECT_EQ(oneJSON("set_plugin_sidechain", R"({"track_name":"Lead Vox","source":"Bus 1"})")["message"],
              "Missing plugin_name or plugin_index parameter.");
}

// A plug-in window the user opened by hand stays open through a call that opens plug-in windows,
// on its own plug-in or another track's, and the Mixer window the user had in front of the main
// window stays in front of it, also where handles go stale on every change (the window is then
// known by its title).
TEST_F(ChatToolExecutorChain, APlugInWindowOpenedByHandSurvivesACallThatOpensPlugInWindows) {
    struct Case {
        const char* tool;
        const char* args;
    };
    const std::vector<Case> cases{
        {"set_plugin_sidechain", R"({"track_name":"Bass","plugin_name":"Compressor","source":"Bus 1"})"},
        {"get_plugin_parameters", R"({"track_name":"Kick","plugin_name":"Compressor"})"},
        {"set_plugin_parameter",
         R"({"track_name":"Kick","plugin_name":"Compressor","parameter_name":"Threshold","value":"-20 dB"})"},
    };
    const auto ownWindows = [&] {
        Names titles;
        for (const auto& title : world().ui().windows)
            if (title.ends_with(" - Mixer") || title.ends_with(" - Tracks")) titles.push_back(title);
        return titles;
    };
    const auto pluginWindows = [&] {
        Names titles;
        for (const auto& w : world().ui().pluginWindows) titles.push_back(w.title);
        return titles;
    };
    for (const auto& c : cases)
        for (const bool stale : {false, true}) {
            SCOPED_TRACE(std::string(c.tool) + (stale ? ", playing, handles going stale on every change" : ""));
            auto scenario = standin::testing::demoSong();
            scenario["project"]["playing"] = stale;
            load(scenario);
            signature.reset();
            world().setKnob("mixerWindowFirst", true);
            if (stale) world().setKnob("staleAfter", "always");
            world().openPluginWindowByHand(world().project().track("Bass")->id, 0);
            const auto ownBefore = ownWindows();
            ASSERT_EQ(pluginWindows(), Names{"Bass: Compressor"});
            ASSERT_TRUE(ownBefore.at(0).ends_with(" - Mixer"));

            const auto answer = oneJSON(c.tool, c.args);

            const auto open = pluginWindows();
            EXPECT_NE(std::find(open.begin(), open.end(), "Bass: Compressor"), open.end());
            EXPECT_EQ(ownWindows(), ownBefore);
            EXPECT_NE(answer.value("status", ""), "error") << answer;
            if (std::string(c.tool) == "set_plugin_sidechain") {
                EXPECT_EQ(sideChain("Bass", 0), "Bus 1");
            }
        }
}

}  // namespace
}  // namespace corvane::testing
