#pragma once

// A chat view model on the test thread as its UI thread (a main queue drained by hand, timers in
// the stand-in's virtual time), in front of a companion controller on the simulated Logic Pro's
// demo song, a fresh application folder and a scripted chat backend. Turns run either through
// the real agent loop or through streams the test feeds itself.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/companion_controller.h"
#include "platform/manual_main_queue.h"
#include "platform/platform.h"
#include "platform/standin/standin_fixture.h"
#include "platform/standin/world.h"
#include "support/user_defaults.h"
#include "test_support/free_port.h"
#include "test_support/scripted_chat_backend.h"
#include "test_support/temp_home.h"
#include "ui/chat_view_model.h"

namespace corvane::testing {

inline TrackAnalysisState liveState(const std::string& id, const std::string& trackName, bool withAnalysis = true) {
    TrackAnalysisState state;
    state.id = id;
    state.trackName = trackName;
    state.isMaster = TrackAnalysisState::isMasterName(trackName);
    if (withAnalysis) {
        AudioAnalysisSummary a;
        a.shortTermLufs = -14.26;
        a.lowMidBandRatio = 0.214;
        a.highMidBandRatio = 0.106;
        a.airBandRatio = 0.03;
        a.stereoWidth = 0.456;
        a.spectralTiltDb = -3.04;
        state.analysis = a;
    }
    return state;
}

inline ToolCallInfo toolCall(const std::string& id, std::int64_t round, const std::string& name = "list_tracks") {
    ToolCallInfo call;
    call.id = id;
    call.toolName = name;
    call.displayName = ToolCallInfo::displayNameFor(name);
    call.arguments = "{}";
    call.roundIndex = round;
    return call;
}

class ViewModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        world_->updateFaults([this](standin::Faults& faults) { faults.analysisPort = analysisPort_.port(); });
        transport_ = std::make_shared<ScriptedChatBackend>();
        app::CompanionController::Options options;
        options.port = 0;
        options.chatTransport = transport_;
        controller_ = app::CompanionController::create(options);
        controller_->backendChatService().setAuthTokenProvider([] { return std::optional<std::string>("token"); });
    }
    void TearDown() override {
        // Turns the test fed itself end here, so their readers stop.
        for (auto& stream : streams_) stream->finish();
        model_.reset();
        queue_.drain();
    }

    // The view model; a test that sets up the world or the defaults first calls it after.
    ChatViewModel& model() {
        if (!model_) {
            ChatViewModel::Environment environment{queue_, queue_, defaults_};
            if (fakeTurns_) {
                environment.startTurn = [this](const ChatRequest& request) {
                    requests_.push_back(request);
                    streams_.push_back(std::make_shared<AgentEventStream>());
                    return streams_.back();
                };
            }
            model_ = ChatViewModel::create(controller_->windowPorts(), environment);
        }
        return *model_;
    }

    // The turn the test feeds: the events are taken as the agent loop would send them.
    void feed(const AgentEvent& event) {
        ASSERT_FALSE(streams_.empty());
        // The reader posts each event to the UI thread as one item of work.
        const auto before = queue_.executed();
        streams_.back()->yield(event);
        ASSERT_TRUE(queue_.runUntil([&] { return queue_.executed() > before; }));
    }
    void finish(const std::string& reply, const std::optional<std::string>& threadID = std::nullopt) {
        ChatResponse response;
        response.ok = true;
        response.assistantMessage = reply;
        response.threadID = threadID.value_or(model().currentThreadID());
        feed(AgentEvent::finalResponse(response));
        streams_.back()->finish();
    }
    // Runs the UI thread until the turn's reply has been handed over (its reveal may still run).
    void waitForTurnEvents() {
        ASSERT_TRUE(queue_.runUntil([&] { return !model().isTurnRunning() || model().streamingText().has_value(); }));
    }
    void advance(double seconds) { queue_.advance(seconds); }
    // Another turn (as a harness run would) holds the controller's agent loop until `answer` opens;
    // the view model then runs its turns on that loop too.
    std::shared_ptr<AgentEventStream> holdAgentLoop(Gate& answer) {
        fakeTurns_ = false;
        transport_->replyAfter(answer, respondReply("Harness done."));
        ChatRequest request;
        request.message = "harness";
        return controller_->chatOrchestrator().handleChatStreaming(request);
    }

    std::vector<std::string> transcriptKinds() {
        std::vector<std::string> kinds;
        for (const auto& item : model().transcriptItems()) {
            if (auto* entry = std::get_if<ConversationEntry>(&item.value)) {
                kinds.push_back(toString(entry->role) + ":" + entry->content);
            } else if (auto* group = std::get_if<ToolCallGroup>(&item.value)) {
                std::string text = "group" + std::to_string(group->roundIndex) + ":";
                for (const auto& call : group->toolCalls) text += call.id + ",";
                kinds.push_back(text);
            } else {
                kinds.push_back("thinking");
            }
        }
        return kinds;
    }

    TempHome home_;
    platform::ManualMainQueue queue_;
    ClosedPort analysisPort_;  // where the plug-ins post unless a test points them at the controller
    std::unique_ptr<standin::World> world_ =
        std::make_unique<standin::World>(standin::testing::demoSong(), standin::World::Options{&queue_});
    platform::ScopedServices services_{world_->services()};
    JSONFileUserDefaults defaults_;
    std::shared_ptr<ScriptedChatBackend> transport_;
    std::shared_ptr<app::CompanionController> controller_;
    bool fakeTurns_ = true;  // false: the controller's agent loop against the scripted backend
    std::vector<ChatRequest> requests_;
    std::vector<std::shared_ptr<AgentEventStream>> streams_;
    std::shared_ptr<ChatViewModel> model_;
};

}  // namespace corvane::testing
