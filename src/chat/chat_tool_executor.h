#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "chat/tool_host.h"
#include "chat/tool_logger.h"
#include "conversation/conversation_store.h"
#include "conversation/memory_store.h"
#include "logic/logic_inspector.h"
#include "model/chat_model.h"
#include "model/chat_model_tool_results.h"
#include "platform/platform.h"
#include "plugins/plugin_inspector.h"
#include "plugins/plugin_inventory.h"

namespace corvane {

class ChatToolExecutor;

// One call as its handler sees it: the call, the round it belongs to and the turn's in-out state.
// A handler appends exactly one record to toolsUsed (before it builds the output) and returns the
// call's one output; fail() and succeed() do both.
struct ToolCall {
    ChatToolExecutor& executor;
    const AgentToolCall& call;
    const ChatRequest& request;
    const std::string& threadID;
    const std::optional<std::string>& currentProjectName;
    std::optional<InstalledPluginInventory>& installedPlugins;
    std::vector<ToolExecution>& toolsUsed;
    const std::vector<AgentToolCall>& roundCalls;  // the whole round; this call is roundCalls[index]
    std::size_t index;
    const std::vector<AgentToolOutputPayload>& outputs;  // of the calls before this one
    std::stop_token stopToken;
    TurnWriter* turnWriter = nullptr;  // the turn's one way into its chat; none: notes are not kept

    const std::string& callID() const { return call.callID; }
    const std::string& args() const { return call.argumentsJSON; }

    void record(const std::string& summary, bool succeeded) const;
    void record(const std::string& tool, const std::string& summary, bool succeeded) const;
    // A note in the chat after the turn's earlier entries, as they are stored.
    void note(const std::string& message) const;
    // Records (call name, message, false) and answers the error output.
    AgentToolOutputPayload fail(const std::string& message) const;
    // Records (call name, summary, true) and answers the encoded payload.
    template <class Payload>
    AgentToolOutputPayload succeed(const std::string& summary, const Payload& payload) const;

    // A call that works through several tracks says which ones it will act on, in order, and settles
    // each as it finishes it, so that a call Stop ends midway can say what it changed and what not.
    void planTracks(std::vector<std::string> names);
    void noteDone(std::string change);     // "Bass volume: -8.0 dB → -14.0 dB", "Keys muted"
    void noteFailed(std::string failure);  // "'Guitar' — not found."
    struct Progress {
        // What a stopped call left as it was, said after what it did ("Kick's plug-ins ... as they were").
        std::vector<std::string> untouched;
        std::vector<std::string> planned;
        std::vector<std::string> done;
        std::vector<std::string> failed;
    };
    Progress progress{};
};

using ToolHandler = std::function<AgentToolOutputPayload(ToolCall&)>;
// Tool names, matched exactly and case-sensitively, to their handlers.
using ToolTable = std::unordered_map<std::string, ToolHandler>;

// "1 track", "3 tracks": a card's summary reads as the user would write it.
inline std::string counted(std::size_t count, std::string_view noun) {
    return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

// One handler per tool, bound to its name in chat_tool_table.cpp; the handler files define them.
namespace tool_handlers {
AgentToolOutputPayload listInstalledPlugins(ToolCall& toolCall);
AgentToolOutputPayload updateTrackDescription(ToolCall& toolCall);
AgentToolOutputPayload updateSongBrief(ToolCall& toolCall);
AgentToolOutputPayload updateUser(ToolCall& toolCall);
AgentToolOutputPayload listTracks(ToolCall& toolCall);
AgentToolOutputPayload getTransport(ToolCall& toolCall);
AgentToolOutputPayload getTrackDetails(ToolCall& toolCall);
AgentToolOutputPayload getPluginParameters(ToolCall& toolCall);
AgentToolOutputPayload setTrackSolo(ToolCall& toolCall);
AgentToolOutputPayload setTrackMute(ToolCall& toolCall);
AgentToolOutputPayload setPluginBypass(ToolCall& toolCall);
AgentToolOutputPayload controlTransport(ToolCall& toolCall);
AgentToolOutputPayload setTrackVolume(ToolCall& toolCall);
AgentToolOutputPayload setTrackPan(ToolCall& toolCall);
AgentToolOutputPayload setPluginParameter(ToolCall& toolCall);
AgentToolOutputPayload getArrangement(ToolCall& toolCall);
AgentToolOutputPayload respond(ToolCall& toolCall);
AgentToolOutputPayload listenToPlayback(ToolCall& toolCall);
AgentToolOutputPayload renameTrack(ToolCall& toolCall);
AgentToolOutputPayload setSendLevel(ToolCall& toolCall);
AgentToolOutputPayload ensureBusTrack(ToolCall& toolCall);
AgentToolOutputPayload ensureMasterTrack(ToolCall& toolCall);
AgentToolOutputPayload addPlugin(ToolCall& toolCall);
AgentToolOutputPayload setPluginSidechain(ToolCall& toolCall);
AgentToolOutputPayload removePlugin(ToolCall& toolCall);
AgentToolOutputPayload reorderPlugin(ToolCall& toolCall);
AgentToolOutputPayload setFolderExpanded(ToolCall& toolCall);  // also expand_folder and collapse_folder
AgentToolOutputPayload remember(ToolCall& toolCall);
AgentToolOutputPayload forget(ToolCall& toolCall);
}  // namespace tool_handlers

// Runs the model's tool calls against Logic Pro and the local stores and answers one JSON output
// per call. One executor serves every turn of the process; two turns may call it at once (a
// window turn and a test turn), so the fields it keeps between calls are guarded.
class ChatToolExecutor final {
public:
    using AXElement = platform::AXElement;
    using InsertSlot = LogicInspector::InsertSlot;

    struct Services {
        PluginInventoryService& pluginInventoryService;
        ConversationReader conversations;  // tools read the chats; the turn's writer writes
        MemoryStore& memoryStore;
        const LogicInspector& logicInspector;
        PluginInspector& pluginInspector;
        ToolLogger& toolLogger;
        std::weak_ptr<ToolHost> host;
    };

    explicit ChatToolExecutor(Services services);
    ChatToolExecutor(const ChatToolExecutor&) = delete;
    ChatToolExecutor& operator=(const ChatToolExecutor&) = delete;

    // Every tool the executor knows at creation: the handlers chat_tool_table.cpp binds to the
    // names of the tool catalog (model/tool_catalog.h).
    static ToolTable defaultToolTable();
    // Adds a tool or replaces the handler of one; for tool groups that arrive later.
    void registerTool(const std::string& name, ToolHandler handler);

    // Runs one round's calls in order; exactly one output per call, in order, and exactly one
    // record appended to toolsUsed per call. previousToolSignature belongs to the caller, who
    // keeps it across the rounds of a turn. Once `stopToken` is stopped no further call runs;
    // each answers kStoppedCallMessage. The calls' notes go to the chat through `turnWriter` alone.
    std::vector<AgentToolOutputPayload> executeToolCalls(
        const std::vector<AgentToolCall>& calls, const ChatRequest& request, const std::string& threadID,
        int roundIndex, const std::optional<std::string>& currentProjectName,
        std::optional<InstalledPluginInventory>& installedPlugins, std::vector<ToolExecution>& toolsUsed,
        std::optional<std::string>& previousToolSignature, std::stop_token stopToken = {},
        TurnWriter* turnWriter = nullptr);

    // --- Output makers ----------------------------------------------------------------------
    // {"message":…,"status":"error"}; "{}" when the message cannot be written (not UTF-8).
    static AgentToolOutputPayload makeErrorToolOutput(const std::string& callID, const std::string& message);
    // The payload's JSON; {"status":"ok"} when it cannot be written.
    template <class Payload>
    static AgentToolOutputPayload makeToolOutput(const std::string& callID, const Payload& payload) {
        return makeJSONOutput(callID, nlohmann::json(payload), R"({"status":"ok"})");
    }
    // Any JSON value, compact with sorted keys; `fallback` when it cannot be written.
    static AgentToolOutputPayload makeJSONOutput(const std::string& callID, const nlohmann::json& value,
                                                 const std::string& fallback);
    // The installed plug-ins, de-duplicated by name and format and capped at 80.
    static AgentToolOutputPayload makePluginInventoryToolOutput(
        const std::string& callID, const std::string& status, const std::optional<InstalledPluginInventory>& inventory,
        const std::string& message);
    static constexpr std::size_t kMaxListedPlugins = 80;
    static constexpr std::size_t kLoggedResultCharacters = 10000;
    // What a call answers that never ran because the turn was stopped.
    static constexpr const char* kStoppedCallMessage = "The turn was stopped before this tool call ran.";
    // From here on a stop comes from the program ending, not from the user: a stopped call says so.
    void noteProgramEnding() { programEnding_ = true; }
    bool programEnding() const { return programEnding_; }
    // "Stopped by the user " + what, or that Corvane was ending.
    std::string stoppedBecause(const std::string& what) const;

    // --- What handlers use ------------------------------------------------------------------
    PluginInventoryService& pluginInventoryService() const { return services_.pluginInventoryService; }
    const ConversationReader& conversations() const { return services_.conversations; }
    MemoryStore& memoryStore() const { return services_.memoryStore; }
    const LogicInspector& logicInspector() const { return services_.logicInspector; }
    PluginInspector& pluginInspector() const { return services_.pluginInspector; }
    std::shared_ptr<ToolHost> host() const { return services_.host.lock(); }
    // The live analysis; empty once the controller is gone.
    std::vector<TrackAnalysisState> trackAnalysis() const;

    // The agent loop routes each turn's interim messages ("update_user") to that turn's stream.
    void setInterimUpdateHandler(std::function<void(const std::string&)> handler);
    void sendInterimUpdate(const std::string& message) const;

    // Whether the analysis plug-in sits on a track, by the name the model used; kept for the
    // executor's life.
    void updateCorvaneCache(const std::string& trackName, const std::vector<InsertSlot>& slots);
    std::optional<bool> corvanePresence(const std::string& trackName) const;
    void markCorvanePresent(const std::string& trackName);
    void forgetCorvanePresence(const std::string& trackName);

    // --- Memories -----------------------------------------------------------------------------
    struct MemoryKeys {
        std::vector<std::string> pluginKeys;
        std::vector<std::string> trackKeys;
    };
    std::vector<Memory> resolveMemoriesForToolCall(const std::string& toolName, const std::string& argsJSON,
                                                   const std::optional<std::string>& currentProjectName) const;
    static MemoryKeys memoryKeysFromArgs(const std::string& toolName, const nlohmann::json& args);
    // The output with "memories" set and every key re-sorted; unchanged when it is no JSON object.
    static AgentToolOutputPayload augmentOutputWithMemories(const AgentToolOutputPayload& output,
                                                            const std::vector<Memory>& memories);

    // --- Plug-in slots -----------------------------------------------------------------------
    struct SlotResolution {
        std::optional<InsertSlot> slot;
        std::optional<std::string> error;
    };
    struct SidechainSource {
        std::optional<std::string> source;
        std::optional<std::string> error;
        std::optional<std::string> note;
    };
    static SlotResolution resolvePluginSlot(const nlohmann::json& args, const std::vector<InsertSlot>& pluginSlots,
                                            const std::string& trackName);
    // The analysis plug-in under any name Logic Pro shows for it, narrow slots included.
    static bool isCorvaneSlot(std::string_view name);
    static bool pluginNameMatches(std::string_view expected, std::string_view actual);
    // The selected track's slots once the expected plug-in sits last at a position that held
    // still for two polls; absent at the time-out.
    std::optional<std::vector<InsertSlot>> waitForPluginAtEnd(const AXElement& window, const std::string& expectedName,
                                                              double timeout) const;
    SidechainSource resolveSidechainSource(const std::string& source) const;

    // --- Listening ----------------------------------------------------------------------------
    using TrackAnalysisInfo = AudioAnalysisToolResult::TrackAnalysisInfo;
    struct BeforeAfterDelta {
        double maxDelta = 0.0;
        double threshold = 0.0;
    };
    // The output of the round's latest listen among the calls that already answered; calls and
    // outputs pair up by position.
    static std::optional<std::string> findRecentListenJSON(const std::vector<AgentToolCall>& calls,
                                                           const std::vector<AgentToolOutputPayload>& outputs);
    // The largest change of `metric` ("freq", "levels", "stereo") between two listens and the change
    // below which a before/after diagram would show nothing. An after track the before listen
    // lacks is an infinite change.
    static BeforeAfterDelta beforeAfterMaxDelta(const std::vector<TrackAnalysisInfo>& before,
                                                const std::vector<TrackAnalysisInfo>& after, const std::string& metric);
    // "Vocals: -14.2 LUFS, tilt -3.1dB, width 0.45", tilt and width only when measured.
    static std::string trackSummaryLine(const TrackAnalysisInfo& track);

    // --- Track lookups ------------------------------------------------------------------------
    // The failure text for a track the track list does not show.
    std::string collapsedFolderHint(const std::string& trackName, const std::vector<std::string>& availableNames) const;

private:
    AgentToolOutputPayload dispatch(ToolCall& toolCall);
    // What a call stopped in the middle answers: whether it had acted on Logic Pro, the tracks it
    // had finished and those it had not, what it closed that it had left open, and what the
    // selected track's strip shows now.
    std::string stoppedMidwayMessage(const std::string& toolName, bool changed, const ToolCall::Progress& progress,
                                     const LogicInspector::LeftOpen& leftOpen) const;
    void logCall(const AgentToolCall& call, const std::vector<ToolExecution>& toolsUsed,
                 const AgentToolOutputPayload& output, platform::Clock::TimePoint start, int roundIndex) const;

    Services services_;

    mutable std::mutex tableMutex_;
    ToolTable table_;

    mutable std::mutex interimMutex_;
    std::function<void(const std::string&)> onInterimUpdate_;

    mutable std::mutex presenceMutex_;
    std::map<std::string, bool> corvanePresenceCache_;

    std::atomic<bool> programEnding_{false};
};

template <class Payload>
AgentToolOutputPayload ToolCall::succeed(const std::string& summary, const Payload& payload) const {
    record(summary, true);
    return ChatToolExecutor::makeToolOutput(callID(), payload);
}

// Helpers shared by the tool groups. Handlers read their arguments only through these, and each
// read notes its key and the JSON Schema type it takes, so the tool definitions the model is given
// can be checked against what the handlers really read.
namespace tool_args {
// A member read only with the expected JSON type.
std::optional<std::string> text(const nlohmann::json& args, const char* key);
std::optional<bool> boolean(const nlohmann::json& args, const char* key);
// A JSON number with an integral value, within 64 bits.
std::optional<std::int64_t> integer(const nlohmann::json& args, const char* key);
// Any JSON number.
std::optional<double> number(const nlohmann::json& args, const char* key);
// An array whose elements are all texts (an empty one included).
std::optional<std::vector<std::string>> textList(const nlohmann::json& args, const char* key);
// An array whose elements are all objects (an empty one included), or an object.
const nlohmann::json* objectList(const nlohmann::json& args, const char* key);
const nlohmann::json* object(const nlohmann::json& args, const char* key);
// For a reader of its own: notes that `key` was read as JSON Schema type `type`.
void noteRead(const char* key, const char* type);

// The reads of this thread while it lives, as (key, type) pairs; nested keys (an element's
// "track_name") count like top-level ones.
class ReadRecorder {
public:
    ReadRecorder();
    ~ReadRecorder();
    ReadRecorder(const ReadRecorder&) = delete;
    ReadRecorder& operator=(const ReadRecorder&) = delete;
    const std::set<std::pair<std::string, std::string>>& reads() const { return reads_; }

private:
    friend void noteRead(const char* key, const char* type);
    std::set<std::pair<std::string, std::string>> reads_;
    ReadRecorder* previous_;
};
}  // namespace tool_args

// Error texts that several tools give word for word.
namespace tool_messages {
inline constexpr const char* kInvalidArguments = "Invalid arguments.";
inline constexpr const char* kMissingTrackName = "Missing track_name parameter.";
}  // namespace tool_messages

}  // namespace corvane
