#pragma once

// The tool executor on the stand-in's demo song, with real stores in a temporary application
// folder, a real tool logger and a fake controller.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "chat/chat_tool_executor.h"
#include "platform/standin/standin_fixture.h"
#include "test_support/temp_home.h"

namespace corvane {
inline void PrintTo(const ToolExecution& e, std::ostream* os) {
    *os << "{" << e.tool << ", \"" << e.summary << "\", " << (e.succeeded ? "true" : "false") << "}";
}
}  // namespace corvane

namespace corvane::testing {

// The controller as the executor sees it: live analysis states and the two stores of notes,
// descriptions kept by analysis instance ID as the controller keeps them.
class FakeToolHost final : public ToolHost {
public:
    std::vector<TrackAnalysisState> trackAnalysis() override {
        std::lock_guard lock(mutex_);
        return states_;
    }
    bool storeTrackDescription(const std::string& instanceID, const std::string& description) override {
        std::lock_guard lock(mutex_);
        if (refuse_) return false;
        descriptions_[instanceID] = description;
        return true;
    }
    std::optional<std::string> updateSongBrief(const std::string& brief, const std::string&) override {
        std::lock_guard lock(mutex_);
        briefs_.push_back(brief);
        return std::nullopt;
    }

    void stream(const std::string& instanceID, const std::string& trackName) {
        std::lock_guard lock(mutex_);
        TrackAnalysisState state;
        state.id = instanceID;
        state.trackName = trackName;
        states_.push_back(state);
    }
    void refuseDescriptions() {
        std::lock_guard lock(mutex_);
        refuse_ = true;
    }
    std::map<std::string, std::string> descriptions() {
        std::lock_guard lock(mutex_);
        return descriptions_;
    }
    std::vector<std::string> briefs() {
        std::lock_guard lock(mutex_);
        return briefs_;
    }

private:
    std::mutex mutex_;
    std::vector<TrackAnalysisState> states_;
    std::map<std::string, std::string> descriptions_;
    std::vector<std::string> briefs_;
    bool refuse_ = false;
};

inline AgentToolCall toolCall(const std::string& id, const std::string& name, const std::string& args = "{}") {
    return {id, name, args};
}

class ToolExecutorTest : public standin::testing::StandinTest {
protected:
    // One round through the executor; toolsUsed and the repeat signature carry over between
    // rounds as the agent loop keeps them.
    std::vector<AgentToolOutputPayload> round(const std::vector<AgentToolCall>& calls) {
        auto outputs = executor->executeToolCalls(calls, request, threadID, roundIndex++, projectName,
                                                  installedPlugins, toolsUsed, signature, {}, writer.get());
        world().drainMainQueue();  // what the calls left to the main thread, run before the next
        return outputs;
    }
    AgentToolOutputPayload one(const std::string& name, const std::string& args = "{}") {
        auto outputs = round({toolCall("call_" + std::to_string(roundIndex), name, args)});
        return outputs.at(0);
    }
    nlohmann::json oneJSON(const std::string& name, const std::string& args = "{}") {
        return nlohmann::json::parse(one(name, args).outputJSON);
    }
    const ToolExecution& lastRecord() const { return toolsUsed.back(); }

    // The log records of the calls so far, from the turn's log file.
    std::vector<ToolCallLog> loggedCalls() {
        logger.endTurn(roundIndex);
        logger.drain();
        auto files = logger.recentLogPaths(1);
        if (files.empty()) return {};
        auto turn = nlohmann::json::parse(readAll(files[0].url)).get<TurnLog>();
        logger.beginTurn("again", threadID);
        return turn.toolCalls;
    }

    void SetUp() override {
        StandinTest::SetUp();
        threadID = conversations.createThread(std::string("Demo Song")).currentThreadID;
        writer = std::make_unique<TurnWriter>(conversations, threadID);
        ASSERT_TRUE(writer->question("Mix it"));
        logger.beginTurn("Mix it", threadID);
    }

    TempHome home;
    ConversationStore conversations;
    MemoryStore memories;
    ToolLogger logger;
    PluginInventoryService inventory{home.root() / "system", home.root() / "home"};
    LogicInspector logic;
    PluginMapStore maps;
    PluginInspector plugins{logic, maps};
    std::shared_ptr<FakeToolHost> host = std::make_shared<FakeToolHost>();
    std::unique_ptr<ChatToolExecutor> executor = std::make_unique<ChatToolExecutor>(
        ChatToolExecutor::Services{inventory, conversations, memories, logic, plugins, logger, host});

    ChatRequest request{"Mix it", {}, {}, {}, ModelTier::standard};
    std::string threadID;
    std::unique_ptr<TurnWriter> writer;  // the turn the rounds belong to
    int roundIndex = 0;
    std::optional<std::string> projectName = std::string("Demo Song");
    std::optional<InstalledPluginInventory> installedPlugins;
    std::vector<ToolExecution> toolsUsed;
    std::optional<std::string> signature;
};

}  // namespace corvane::testing
