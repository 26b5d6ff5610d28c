#include "chat/chat_tool_executor.h"

#include <chrono>
#include <cmath>
#include <exception>
#include <limits>
#include <set>
#include <utility>

#include "platform/clock.h"
#include "platform/log.h"
#include "support/iso8601.h"
#include "support/json_fields.h"
#include "support/unicode.h"

namespace corvane {

namespace {

constexpr const char* kListenTool = "listen_to_playback";
// Its dash is an em dash.
constexpr const char* kSecondListenRejection =
    "Rejected: listen_to_playback was already called in this round. Only ONE listen per round \u2014 the playback "
    "head and solo state are shared, so parallel listens would race. Listen to one track at a time across multiple "
    "rounds, observing each result before the next listen.";

}  // namespace

// --- ToolCall ---------------------------------------------------------------------------------

void ToolCall::record(const std::string& summary, bool succeeded) const { record(call.name, summary, succeeded); }

void ToolCall::record(const std::string& tool, const std::string& summary, bool succeeded) const {
    toolsUsed.push_back({tool, summary, succeeded});
}

void ToolCall::note(const std::string& message) const {
    if (turnWriter) turnWriter->entry(ConversationRole::tool, message);
}

AgentToolOutputPayload ToolCall::fail(const std::string& message) const {
    record(message, false);
    return ChatToolExecutor::makeErrorToolOutput(callID(), message);
}

void ToolCall::planTracks(std::vector<std::string> names) {
    progress = {};
    progress.planned = std::move(names);
}

void ToolCall::noteDone(std::string change) { progress.done.push_back(std::move(change)); }

void ToolCall::noteFailed(std::string failure) { progress.failed.push_back(std::move(failure)); }

// --- Argument helpers ---------------------------------------------------------------------------

namespace tool_args {

namespace {
thread_local ReadRecorder* recorder = nullptr;
}

ReadRecorder::ReadRecorder() : previous_(recorder) { recorder = this; }
ReadRecorder::~ReadRecorder() { recorder = previous_; }

void noteRead(const char* key, const char* type) {
    if (recorder) recorder->reads_.emplace(key, type);
}

std::optional<std::string> text(const nlohmann::json& args, const char* key) {
    noteRead(key, "string");
    return json_fields::lenientText(args, key);
}

std::optional<bool> boolean(const nlohmann::json& args, const char* key) {
    noteRead(key, "boolean");
    auto found = args.find(key);
    if (found == args.end() || !found->is_boolean()) return std::nullopt;
    return found->get<bool>();
}

std::optional<std::int64_t> integer(const nlohmann::json& args, const char* key) {
    noteRead(key, "integer");
    auto found = args.find(key);
    if (found == args.end()) return std::nullopt;
    if (found->is_number_integer()) {
        if (found->is_number_unsigned() &&
            found->get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return std::nullopt;
        return found->get<std::int64_t>();
    }
    if (found->is_number_float()) {
        const double value = found->get<double>();
        // 2^63 itself is out of range; every double below it converts exactly.
        if (!std::isfinite(value) || value != std::trunc(value) || value < -9223372036854775808.0 ||
            value >= 9223372036854775808.0)
            return std::nullopt;
        return static_cast<std::int64_t>(value);
    }
    return std::nullopt;
}

std::optional<double> number(const nlohmann::json& args, const char* key) {
    noteRead(key, "number");
    auto found = args.find(key);
    if (found == args.end() || !found->is_number()) return std::nullopt;
    return found->get<double>();
}

std::optional<std::vector<std::string>> textList(const nlohmann::json& args, const char* key) {
    noteRead(key, "array<string>");
    auto found = args.find(key);
    if (found == args.end() || !found->is_array()) return std::nullopt;
    std::vector<std::string> list;
    for (const auto& element : *found) {
        if (!element.is_string()) return std::nullopt;
        list.push_back(element.get<std::string>());
    }
    return list;
}

const nlohmann::json* objectList(const nlohmann::json& args, const char* key) {
    noteRead(key, "array<object>");
    auto found = args.find(key);
    if (found == args.end() || !found->is_array()) return nullptr;
    for (const auto& element : *found)
        if (!element.is_object()) return nullptr;
    return &*found;
}

const nlohmann::json* object(const nlohmann::json& args, const char* key) {
    noteRead(key, "object");
    auto found = args.find(key);
    return found != args.end() && found->is_object() ? &*found : nullptr;
}

}  // namespace tool_args

// --- The executor -------------------------------------------------------------------------------

ChatToolExecutor::ChatToolExecutor(Services services) : services_(std::move(services)), table_(defaultToolTable()) {}

void ChatToolExecutor::registerTool(const std::string& name, ToolHandler handler) {
    std::lock_guard lock(tableMutex_);
    table_[name] = std::move(handler);
}

std::vector<TrackAnalysisState> ChatToolExecutor::trackAnalysis() const {
    auto controller = host();
    return controller ? controller->trackAnalysis() : std::vector<TrackAnalysisState>{};
}

void ChatToolExecutor::setInterimUpdateHandler(std::function<void(const std::string&)> handler) {
    std::lock_guard lock(interimMutex_);
    onInterimUpdate_ = std::move(handler);
}

void ChatToolExecutor::sendInterimUpdate(const std::string& message) const {
    std::function<void(const std::string&)> handler;
    {
        std::lock_guard lock(interimMutex_);
        handler = onInterimUpdate_;
    }
    if (handler) handler(message);  // outside the lock: the handler may set the next one
}

void ChatToolExecutor::updateCorvaneCache(const std::string& trackName, const std::vector<InsertSlot>& slots) {
    bool present = false;
    for (const auto& slot : slots)
        if (isCorvaneSlot(slot.name)) present = true;
    std::lock_guard lock(presenceMutex_);
    corvanePresenceCache_[trackName] = present;
}

std::optional<bool> ChatToolExecutor::corvanePresence(const std::string& trackName) const {
    std::lock_guard lock(presenceMutex_);
    auto found = corvanePresenceCache_.find(trackName);
    if (found == corvanePresenceCache_.end()) return std::nullopt;
    return found->second;
}

void ChatToolExecutor::markCorvanePresent(const std::string& trackName) {
    std::lock_guard lock(presenceMutex_);
    corvanePresenceCache_[trackName] = true;
}

void ChatToolExecutor::forgetCorvanePresence(const std::string& trackName) {
    std::lock_guard lock(presenceMutex_);
    corvanePresenceCache_.erase(trackName);
}

namespace {

// A folder a look into the collapsed ones opened and could not shut shows tracks the user had
// hidden: the answer says so, whatever the tool did.
AgentToolOutputPayload withFoldersLeftOpen(AgentToolOutputPayload output, std::vector<ToolExecution>& toolsUsed,
                                           const std::vector<std::string>& folders) {
    if (folders.empty()) return output;
    std::string names;
    for (std::size_t i = 0; i < folders.size(); ++i)
        names += (i == 0 ? "" : i + 1 == folders.size() ? " and " : ", ") + ("'" + folders[i] + "'");
    const std::string note = " Folder" + std::string(folders.size() > 1 ? "s " : " ") + names +
                             (folders.size() > 1 ? " were" : " was") +
                             " opened to read the tracks inside and could not be collapsed again: left expanded.";
    if (!toolsUsed.empty()) toolsUsed.back().summary += note;
    auto object = json_fields::parseObject(output.outputJSON);
    if (!object) return output;
    if (object->contains("message") && (*object)["message"].is_string())
        (*object)["message"] = (*object)["message"].get<std::string>() + note;
    else
        (*object)["note"] = note.substr(1);
    try {
        output.outputJSON = object->dump();
    } catch (const nlohmann::json::exception&) {
    }
    return output;
}

}  // namespace

std::vector<AgentToolOutputPayload> ChatToolExecutor::executeToolCalls(
    const std::vector<AgentToolCall>& calls, const ChatRequest& request, const std::string& threadID, int roundIndex,
    const std::optional<std::string>& currentProjectName, std::optional<InstalledPluginInventory>& installedPlugins,
    std::vector<ToolExecution>& toolsUsed, std::optional<std::string>& previousToolSignature,
    std::stop_token stopToken, TurnWriter* turnWriter) {
    std::vector<AgentToolOutputPayload> outputs;
    outputs.reserve(calls.size());
    bool listened = false;
    // Between turns the user may have renamed or moved a track a collapsed folder hides.
    if (roundIndex == 0) LogicInspector::KeptPlaces::startTurn(services_.logicInspector);

    for (std::size_t i = 0; i < calls.size(); ++i) {
        const AgentToolCall& call = calls[i];
        // Stop means no further key or click reaches Logic Pro; the one running finishes first.
        if (stopToken.stop_requested()) {
            toolsUsed.push_back({call.name, kStoppedCallMessage, false});
            outputs.push_back(makeErrorToolOutput(call.callID, kStoppedCallMessage));
            continue;
        }
        // The playhead and solo state are shared, so a round gets one listen; a first listen that is
        // then skipped as a repeat still uses it up.
        if (call.name == kListenTool) {
            if (listened) {
                toolsUsed.push_back({kListenTool, kSecondListenRejection, false});
                outputs.push_back(makeErrorToolOutput(call.callID, kSecondListenRejection));
                continue;
            }
            listened = true;
        }

        const auto start = platform::clock().now();
        std::string signature = call.name + "|" + call.argumentsJSON;
        if (previousToolSignature && *previousToolSignature == signature) {
            const std::string message = "Skipped repeated tool call: " + call.name + ".";
            toolsUsed.push_back({call.name, message, false});
            // A refused note fails the turn through the writer, as its next entry would.
            if (turnWriter) turnWriter->entry(ConversationRole::tool, message);
            outputs.push_back(makeErrorToolOutput(call.callID, message));
            continue;
        }
        previousToolSignature = std::move(signature);

        ToolCall toolCall{*this,     call,  request, threadID, currentProjectName, installedPlugins,
                          toolsUsed, calls, i,       outputs,  stopToken, turnWriter};
        AgentToolOutputPayload output = [&] {
            // Answers read from Logic Pro are kept for this call only; where they were found is
            // remembered for the next.
            platform::AXReadScope reads;
            const LogicInspector::KeptPlaces places(services_.logicInspector);
            auto answer = dispatch(toolCall);
            return withFoldersLeftOpen(std::move(answer), toolsUsed, LogicInspector::KeptPlaces::foldersLeftOpen());
        }();

        if (call.name != "remember" && call.name != "forget") {
            auto memories = resolveMemoriesForToolCall(call.name, call.argumentsJSON, currentProjectName);
            if (!memories.empty()) output = augmentOutputWithMemories(output, memories);
        }
        outputs.push_back(std::move(output));
        logCall(call, toolsUsed, outputs.back(), start, roundIndex);
    }
    return outputs;
}

AgentToolOutputPayload ChatToolExecutor::dispatch(ToolCall& toolCall) {
    const AgentToolCall& call = toolCall.call;
    ToolHandler handler;
    {
        std::lock_guard lock(tableMutex_);
        auto found = table_.find(call.name);
        if (found != table_.end()) handler = found->second;
    }
    if (!handler) {
        const std::string message = "Model requested unknown tool: " + call.name;
        toolCall.record(message, false);
        toolCall.note(message);
        return makeErrorToolOutput(call.callID, message);
    }

    // A handler that throws or forgets its record would break the one-record-per-call pairing
    // the agent loop relies on; such a call answers an error and leaves exactly one record.
    const std::size_t recordsBefore = toolCall.toolsUsed.size();
    // Stop ends the call at its next pause rather than at its end. The listen holds its pauses
    // once it moves the transport, which it puts back itself.
    std::optional<platform::StoppablePauses> stoppable(std::in_place, toolCall.stopToken);
    try {
        AgentToolOutputPayload output = handler(toolCall);
        const std::size_t records = toolCall.toolsUsed.size() - recordsBefore;
        if (records == 1) return output;
        log("[ChatToolExecutor] " + call.name + " left " + std::to_string(records) + " records instead of one");
        if (records == 0) {
            toolCall.record("No result recorded.", false);
        } else {
            ToolExecution last = toolCall.toolsUsed.back();
            toolCall.toolsUsed.resize(recordsBefore);
            toolCall.toolsUsed.push_back(std::move(last));
        }
        return output;
    } catch (const std::exception& e) {
        toolCall.toolsUsed.resize(recordsBefore);
        return toolCall.fail(call.name + " failed: " + e.what());
    } catch (const platform::PauseStopped&) {
        const bool changed = stoppable && stoppable->changesSent() > 0;
        stoppable.reset();
        LogicInspector::KeptPlaces::releaseStrip();
        toolCall.toolsUsed.resize(recordsBefore);
        // A menu or name field left open would take the next tool's keys.
        const auto leftOpen = changed ? services_.logicInspector.closeMenusAndNameField() : LogicInspector::LeftOpen{};
        return toolCall.fail(stoppedMidwayMessage(call.name, changed, toolCall.progress, leftOpen));
    }
}

std::string ChatToolExecutor::stoppedBecause(const std::string& what) const {
    return (programEnding_ ? "Stopped as Corvane was ending, " : "Stopped by the user ") + what;
}

std::string ChatToolExecutor::stoppedMidwayMessage(const std::string& toolName, bool changed,
                                                   const ToolCall::Progress& progress,
                                                   const LogicInspector::LeftOpen& leftOpen) const {
    std::string message = stoppedBecause("before " + toolName + " finished");
    if (!changed) return message + "; nothing had been sent to Logic Pro, so nothing changed.";
    message += "; it had already acted on Logic Pro";
    const auto list = [](const std::vector<std::string>& items, std::size_t from, const char* separator) {
        std::string text;
        for (std::size_t i = from; i < items.size(); ++i) {
            std::string_view item = items[i];
            if (item.ends_with('.')) item.remove_suffix(1);
            text += (i > from ? separator : "") + std::string(item);
        }
        return text;
    };
    // Tracks are settled in the planned order, so the ones after the settled count were not done;
    // the one in hand may be half done, which the strip below shows.
    const std::size_t settled = progress.done.size() + progress.failed.size();
    if (!progress.done.empty()) message += ". Already done: " + list(progress.done, 0, "; ");
    if (!progress.failed.empty()) message += ". Failed: " + list(progress.failed, 0, "; ");
    if (settled < progress.planned.size()) message += ". Not done: " + list(progress.planned, settled, ", ");
    if (!progress.untouched.empty()) message += ". " + list(progress.untouched, 0, ". ");
    if (leftOpen.menu) message += ". A menu it had opened was closed with nothing chosen";
    if (leftOpen.nameField) message += ". The name it was typing was dropped, so the track keeps its old name";
    // What it did is told by what Logic Pro shows now: the selected headers, and the strip of the
    // selected track once it shows that track (a strip may lag the selection).
    if (auto window = services_.logicInspector.findMainWindow()) {
        const auto selected = services_.logicInspector.selectedTrackHeaders(*window);
        const auto strip = services_.logicInspector.readChannelStrip(*window);
        const auto text = [&](const char* key) { return strip.text(key); };
        const auto name = text("name");
        if (selected.size() > 1 || (selected.size() == 1 && !(name && *name == selected[0].name))) {
            std::string names;
            for (std::size_t i = 0; i < selected.size(); ++i) names += (i ? ", '" : "'") + selected[i].name + "'";
            message += selected.size() == 1 ? ". The selected track is now " + names
                                            : ". The selected tracks are now " + names;
        } else if (name) {
            message += ". The selected track is now '" + *name + "'";
            if (auto level = text("volumeDisplay")) message += ", volume " + *level;
            if (auto pan = text("pan")) message += ", pan " + *pan;
            const auto on = [&](const char* key) {
                const auto shown = text(key);
                return shown && (*shown == "1" || text::equalsIgnoringCase(*shown, "on"));
            };
            if (on("mute")) message += ", muted";
            if (on("solo")) message += ", soloed";
        }
    }
    return message + ". Check it before doing more.";
}

void ChatToolExecutor::logCall(const AgentToolCall& call, const std::vector<ToolExecution>& toolsUsed,
                               const AgentToolOutputPayload& output, platform::Clock::TimePoint start,
                               int roundIndex) const {
    const auto now = platform::clock().now();
    const double elapsedSeconds = std::chrono::duration<double>(now - start).count();
    ToolCallLog entry;
    entry.timestamp = ISO8601::plainString(now);
    entry.callID = call.callID;
    entry.tool = call.name;
    entry.arguments = call.argumentsJSON;
    entry.succeeded = toolsUsed.empty() ? false : toolsUsed.back().succeeded;
    entry.summary = toolsUsed.empty() ? std::string() : toolsUsed.back().summary;
    entry.resultJSON = text::graphemePrefix(output.outputJSON, kLoggedResultCharacters);
    const double ms = elapsedSeconds * 1000.0;
    entry.durationMs = std::isfinite(ms) && ms < static_cast<double>(std::numeric_limits<int>::max())
                           ? static_cast<int>(ms)
                           : std::numeric_limits<int>::max();
    entry.roundIndex = roundIndex;
    services_.toolLogger.logToolCall(entry);
}

// --- Output makers ------------------------------------------------------------------------------

AgentToolOutputPayload ChatToolExecutor::makeJSONOutput(const std::string& callID, const nlohmann::json& value,
                                                        const std::string& fallback) {
    AgentToolOutputPayload output;
    output.callID = callID;
    try {
        output.outputJSON = value.dump();  // throws on text that is not UTF-8
    } catch (const nlohmann::json::exception&) {
        output.outputJSON = fallback;
    }
    return output;
}

AgentToolOutputPayload ChatToolExecutor::makeErrorToolOutput(const std::string& callID, const std::string& message) {
    return makeJSONOutput(callID, {{"status", "error"}, {"message", message}}, "{}");
}

AgentToolOutputPayload ChatToolExecutor::makePluginInventoryToolOutput(
    const std::string& callID, const std::string& status, const std::optional<InstalledPluginInventory>& inventory,
    const std::string& message) {
    PluginInventoryToolResult result;
    result.status = status;
    result.message = message;
    if (inventory) {
        result.totalCount = inventory->totalCount;
        std::set<std::pair<std::string, InstalledPluginFormat>> seen;
        for (const auto& plugin : inventory->plugins) {
            if (result.plugins.size() == kMaxListedPlugins) break;
            if (seen.emplace(plugin.name, plugin.format).second) result.plugins.push_back({plugin.name, plugin.format});
        }
    }
    nlohmann::json fallback{{"status", status}, {"message", message}};
    std::string fallbackText;
    try {
        fallbackText = fallback.dump();
    } catch (const nlohmann::json::exception&) {
        fallbackText = "{}";
    }
    return makeJSONOutput(callID, nlohmann::json(result), fallbackText);
}

}  // namespace corvane
