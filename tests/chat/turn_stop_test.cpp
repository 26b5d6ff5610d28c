// The user's Stop while a tool is in the middle of its steps, on the stand-in in virtual time.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "chat/chat_orchestrator.h"
#include "chat/turn_services.h"
#include "platform/standin/standin_fixture.h"
#include "plugins/plugin_map_store.h"
#include "test_support/scripted_chat_backend.h"
#include "test_support/temp_home.h"

namespace corvane::testing {
namespace {

using nlohmann::json;

class TurnStopTest : public standin::testing::StandinTest, protected ScriptedTurns {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        threadID = conversations.createThread(std::string("Demo Song")).currentThreadID;
        backend.setAuthTokenProvider([] { return std::optional<std::string>("token"); });
    }
    void TearDown() override {
        orchestrator.reset();
        world().drainMainQueue();
        StandinTest::TearDown();
    }

    ChatResponse run() {
        ChatRequest request;
        request.message = "Pull Kick and Bass down, then listen";
        request.threadID = threadID;
        std::optional<ChatResponse> response;
        for (const auto& event : orchestrator->handleChatStreaming(request)->collect())
            if (auto* f = std::get_if<AgentEvent::FinalResponse>(&event.value)) response = f->response;
        world().drainMainQueue();
        logger.drain();
        EXPECT_TRUE(response);
        return response.value_or(ChatResponse{});
    }

    std::string threadID;
};

// Stop comes while set_track_volume is between its steps, before the listen after it: the call
// ends at its next pause, the turn within half a second of the click, the listen never starts,
// and the call's answer says whether it had touched Logic Pro and what the strip shows now.
TEST_F(TurnStopTest, StopBetweenAToolsStepsEndsItAtItsNextPause) {
    struct Case {
        const char* label;
        double stopAfter;  // virtual seconds into the turn
        std::string selected;
        std::string answer;
    };
    const std::vector<Case> cases{
        {"while Logic Pro comes to the front", 0.05, "Kick",
         "Stopped by the user before set_track_volume finished; nothing had been sent to Logic Pro, so nothing "
         "changed."},
        {"while the selection settles", 0.4, "Bass",
         "Stopped by the user before set_track_volume finished; it had already acted on Logic Pro. Not done: Bass. "
         "The selected track is now 'Bass', volume -8.0 dB, pan -10. Check it before doing more."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        load(standin::testing::demoSong());
        const int bassBefore = world().project().track("Bass")->strip.volume;
        const auto playheadBefore = world().project().transport.positionTicks;
        const std::size_t requestsBefore = transport->requests().size();
        // The one reply: a second request would find none.
        transport->reply(callsReply({{"v", "set_track_volume", R"({"track_name":"Bass","value":"-6 dB"})"},
                                     {"l", "listen_to_playback", R"({"duration_seconds":4,"start_bar":1})"}}));

        const double start = world().virtualSeconds();
        world().at(start + c.stopAfter, [this] { orchestrator->cancelCurrentTurn(); });
        const ChatResponse response = run();

        EXPECT_LE(world().virtualSeconds() - start, c.stopAfter + 0.5);
        EXPECT_EQ(world().project().track("Bass")->strip.volume, bassBefore);
        EXPECT_EQ(world().project().selectedTrack()->name, c.selected);
        EXPECT_FALSE(world().project().transport.playing);
        EXPECT_EQ(world().project().transport.positionTicks, playheadBefore);
        EXPECT_EQ(transport->requests().size(), requestsBefore + 1);
        EXPECT_EQ(response.assistantMessage, "");
        ASSERT_EQ(response.toolsUsed.size(), 2u);
        EXPECT_EQ(response.toolsUsed[0].summary, c.answer);
        EXPECT_FALSE(response.toolsUsed[0].succeeded);
        EXPECT_EQ(response.toolsUsed[1].summary, ChatToolExecutor::kStoppedCallMessage);
    }
}

// Stop between the tracks of a call that acts on several: the first track stays changed, the
// second is not touched, and the answer names the one that was changed and the one that was not.
TEST_F(TurnStopTest, StopBetweenTracksSaysWhichTracksWereChanged) {
    struct Case {
        const char* tool;
        const char* args;
        double stopAfter;  // after the first track's change, before the second's
        std::string answer;
    };
    const std::vector<Case> cases{
        {"set_track_volume",
         R"({"tracks":[{"track_name":"Bass","value":"-14 dB"},{"track_name":"Guitar","value":"-10 dB"}]})", 1.3,
         "Stopped by the user before set_track_volume finished; it had already acted on Logic Pro. Already done: Bass "
         "volume: -8.0 dB \u2192 -14.0 dB. Not done: Guitar. The selected track is now 'Guitar', volume 0.0 dB, pan "
         "20. "
         "Check it before doing more."},
        {"set_track_mute", R"({"track_names":["Bass","Guitar"],"enabled":true})", 1.0,
         "Stopped by the user before set_track_mute finished; it had already acted on Logic Pro. Already done: Bass "
         "muted. Not done: Guitar. The selected track is now 'Keys', volume 0.0 dB, pan 0, muted. Check it before "
         "doing "
         "more."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tool);
        load(standin::testing::demoSong());
        const auto guitarBefore = *world().project().track("Guitar");
        transport->reply(callsReply({{"c", c.tool, c.args}}));

        const double start = world().virtualSeconds();
        world().at(start + c.stopAfter, [this] { orchestrator->cancelCurrentTurn(); });
        const ChatResponse response = run();

        const auto project = world().project();
        const auto& bass = *project.track("Bass");
        const auto& guitar = *project.track("Guitar");
        if (std::string(c.tool) == "set_track_volume")
            EXPECT_EQ(bass.strip.volume, standin::World::rawFor(-14.0));
        else
            EXPECT_TRUE(bass.muted);
        EXPECT_EQ(guitar.strip.volume, guitarBefore.strip.volume);
        EXPECT_EQ(guitar.muted, guitarBefore.muted);
        ASSERT_EQ(response.toolsUsed.size(), 1u);
        EXPECT_EQ(response.toolsUsed[0].summary, c.answer);
        EXPECT_FALSE(response.toolsUsed[0].succeeded);
    }
}

}  // namespace
}  // namespace corvane::testing
