// "remember" and "forget", and the plug-in and track memories that ride along with every other
// tool's output.

#include <set>
#include <string>

#include "chat/chat_tool_executor.h"
#include "model/tool_catalog.h"
#include "support/json_fields.h"
#include "support/unicode.h"

namespace corvane {

namespace {

nlohmann::json memoryObject(const Memory& memory) {
    return {{"id", memory.id}, {"scope", memory.scope}, {"note", memory.note}};
}

// Compact with sorted keys; {"status":"ok"} when it cannot be written.
AgentToolOutputPayload okWith(const std::string& callID, const char* key, const Memory& memory) {
    return ChatToolExecutor::makeJSONOutput(callID, {{"status", "ok"}, {key, memoryObject(memory)}},
                                            R"({"status":"ok"})");
}

void addKey(std::vector<std::string>& keys, const std::string& raw) {
    std::string key(text::trimSpacesAndTabs(raw));
    if (!key.empty()) keys.push_back(std::move(key));
}

void addCommaPieces(std::vector<std::string>& keys, const std::string& list) {
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        addKey(keys, list.substr(start, comma - start));
        start = comma + 1;
    }
}

AgentToolOutputPayload remember(ToolCall& toolCall) {
    auto args = json_fields::parseObject(toolCall.args());
    auto scopeText = args ? tool_args::text(*args, "scope") : std::nullopt;
    auto noteText = args ? tool_args::text(*args, "note") : std::nullopt;
    const std::string note = noteText ? text::trimmingWhitespaceAndNewlines(*noteText) : std::string();
    if (!scopeText || note.empty()) return toolCall.fail("Missing scope or note.");

    // Lower-cased but not trimmed: " master" is an unknown scope, and its message shows why.
    const std::string word = text::lowercased(*scopeText);
    auto keyText = tool_args::text(*args, "key");
    const std::string key = keyText ? text::trimmingWhitespaceAndNewlines(*keyText) : std::string();
    const std::string project = toolCall.currentProjectName.value_or("");

    std::string scope;
    if (word == "master") {
        scope = "master";
    } else if (word == "song") {
        if (project.empty())
            return toolCall.fail(
                "Can't save a song-scope memory: no Logic project detected. Open the project and retry, or use "
                "master scope instead.");
        scope = "song:" + project;
    } else if (word == "plugin") {
        if (key.empty()) return toolCall.fail("plugin scope requires a plugin name in `key` (e.g. \"Compressor\").");
        scope = "plugin:" + key;
    } else if (word == "track") {
        if (project.empty()) return toolCall.fail("Can't save a track-scope memory: no Logic project detected.");
        if (key.empty()) return toolCall.fail("track scope requires a track name in `key`.");
        scope = "track:" + key + "@" + project;
    } else {
        return toolCall.fail("Unknown scope '" + word + "'. Valid: master, song, plugin, track.");
    }

    const MemoryChange added = toolCall.executor.memoryStore().add(scope, note);
    if (!added.memory) return toolCall.fail("The memory was not stored: " + added.failure.value_or("") + ".");
    const Memory& memory = *added.memory;
    if (added.alreadyKept) {
        // The model is told, so that it does not take the note for lost and store it again.
        const std::string message = "Already remembered [" + memory.id + "] (" + word + "): " + memory.note;
        toolCall.record(message, true);
        return ChatToolExecutor::makeJSONOutput(
            toolCall.callID(),
            {{"status", "ok"}, {"memory", memoryObject(memory)}, {"alreadyRemembered", true}, {"message", message}},
            R"({"status":"ok"})");
    }
    toolCall.record("Remembered [" + memory.id + "] (" + word + "): " + memory.note, true);
    return okWith(toolCall.callID(), "memory", memory);
}

AgentToolOutputPayload forget(ToolCall& toolCall) {
    auto args = json_fields::parseObject(toolCall.args());
    auto idText = args ? tool_args::text(*args, "memory_id") : std::nullopt;
    const std::string id = idText ? text::trimmingWhitespaceAndNewlines(*idText) : std::string();
    if (id.empty()) return toolCall.fail("Missing memory_id.");

    const MemoryChange change = toolCall.executor.memoryStore().remove(id);
    if (change.failure) return toolCall.fail("Memory '" + id + "' was not forgotten: " + *change.failure + ".");
    const auto& removed = change.memory;
    if (!removed) return toolCall.fail("No memory with id '" + id + "'. It may have already been forgotten.");
    toolCall.record("Forgot [" + removed->id + "]: " + removed->note, true);
    return okWith(toolCall.callID(), "removed", *removed);
}

}  // namespace

AgentToolOutputPayload tool_handlers::remember(ToolCall& toolCall) { return corvane::remember(toolCall); }
AgentToolOutputPayload tool_handlers::forget(ToolCall& toolCall) { return corvane::forget(toolCall); }

ChatToolExecutor::MemoryKeys ChatToolExecutor::memoryKeysFromArgs(const std::string& toolName,
                                                                  const nlohmann::json& args) {
    MemoryKeys keys;
    const ToolDescriptor* tool = findTool(toolName);
    if (!tool || !args.is_object()) return keys;
    const MemoryArguments& names = tool->memory;
    auto textOf = [&](const char* key) { return tool_args::text(args, key); };

    if (names.pluginName)
        if (auto name = textOf("plugin_name")) addKey(keys.pluginKeys, *name);
    if (names.trackKey)
        if (auto name = textOf(names.trackKey)) addKey(keys.trackKeys, *name);

    auto found = args.find("track_names");
    if (names.trackNames && found != args.end() && found->is_array()) {
        bool allText = true;
        for (const auto& element : *found) allText = allText && element.is_string();
        if (allText)
            for (const auto& element : *found) addKey(keys.trackKeys, element.get<std::string>());
    }

    found = args.find("tracks");
    if (names.trackObjects && found != args.end() && found->is_array()) {
        bool allObjects = true;
        for (const auto& element : *found) allObjects = allObjects && element.is_object();
        if (allObjects)
            for (const auto& element : *found)
                if (auto name = tool_args::text(element, "track_name")) addKey(keys.trackKeys, *name);
    }

    if (names.trackText)
        if (auto list = textOf("tracks")) addCommaPieces(keys.trackKeys, *list);

    found = args.find("visual");
    if (names.visualTracks && found != args.end() && found->is_object())
        if (auto list = tool_args::text(*found, "tracks")) addCommaPieces(keys.trackKeys, *list);
    return keys;
}

std::vector<Memory> ChatToolExecutor::resolveMemoriesForToolCall(
    const std::string& toolName, const std::string& argsJSON,
    const std::optional<std::string>& currentProjectName) const {
    const MemoryKeys keys =
        memoryKeysFromArgs(toolName, json_fields::parseObject(argsJSON).value_or(nlohmann::json::object()));
    std::vector<Memory> result;
    std::set<std::string> seen;
    auto take = [&](const std::vector<Memory>& memories) {
        for (const auto& memory : memories)
            if (seen.insert(memory.id).second) result.push_back(memory);
    };
    for (const auto& plugin : keys.pluginKeys) take(services_.memoryStore.pluginMemories(plugin));
    // Track memories belong to one project.
    if (!currentProjectName || currentProjectName->empty()) return result;
    for (const auto& track : keys.trackKeys) take(services_.memoryStore.trackMemories(track, *currentProjectName));
    return result;
}

AgentToolOutputPayload ChatToolExecutor::augmentOutputWithMemories(const AgentToolOutputPayload& output,
                                                                   const std::vector<Memory>& memories) {
    auto object = json_fields::parseObject(output.outputJSON);
    if (!object) return output;
    nlohmann::json list = nlohmann::json::array();
    for (const auto& memory : memories) list.push_back(memoryObject(memory));
    (*object)["memories"] = std::move(list);
    AgentToolOutputPayload augmented = output;
    try {
        augmented.outputJSON = object->dump();
    } catch (const nlohmann::json::exception&) {
        return output;
    }
    return augmented;
}

}  // namespace corvane
