// The tool definitions the model is given against what the executor really does: the tool names of
// its catalog and dispatch table, and the keys and types each handler reads when called with its definition's
// arguments.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "chat/tool_executor_fixture.h"
#include "model/tool_catalog.h"
#include "support/app_paths.h"
#include "support/files.h"

namespace corvane::testing {
namespace {

using nlohmann::json;
using Reads = std::set<std::pair<std::string, std::string>>;

json definitions() {
    return json::parse(readFile(AppPaths::resourcesDirectory() / "ToolDefinitions" / "tools.json").bytes);
}

// The schema types of one property in the readers' words: "string", "array<object>", …; anyOf
// gives each branch.
std::set<std::string> typesOf(const json& schema) {
    if (schema.contains("anyOf")) {
        std::set<std::string> all;
        for (const auto& branch : schema["anyOf"]) all.merge(typesOf(branch));
        return all;
    }
    const std::string type = schema.value("type", "");
    if (type == "array") return {"array<" + schema["items"].value("type", "") + ">"};
    return {type};
}

// Every (key, type) a schema declares, nested objects and array elements included.
void declared(const json& schema, Reads& into) {
    if (schema.contains("anyOf"))
        for (const auto& branch : schema["anyOf"]) declared(branch, into);
    if (schema.contains("items")) declared(schema["items"], into);
    const json properties = schema.value("properties", json::object());
    for (const auto& [key, property] : properties.items()) {
        for (const auto& type : typesOf(property)) into.emplace(key, type);
        declared(property, into);
    }
}

// Values that lead each handler past its early failures on the demo song, so that it reads on.
json sample(const std::string& key, const json& schema) {
    static const std::map<std::string, json> known{
        {"track_name", "Lead Vox"},  {"track_names", {"Lead Vox"}}, {"trackName", "Lead Vox"},
        {"current_name", "Guitar"},  {"new_name", "Guitar 2"},      {"plugin_name", "Compressor"},
        {"plugin_index", 1},         {"parameter_name", "Threshold"}, {"source", "Bus 1"},
        {"source_track", "Guitar"},  {"bus_label", "Bus 1"},        {"name", "Drums"},
        {"folder", "Drums"},         {"folder_name", "Drums"},      {"scope", "plugin"},
        {"key", "Compressor"},       {"prose", "Done."},            {"type", "freq_curve"},
        {"duration_seconds", 1},     {"start_bar", 1},              {"from_index", 0},
        {"to_index", 1},             {"slot_index", 0},             {"memory_id", "abc123"},
    };
    const std::string type = schema.contains("anyOf") ? schema["anyOf"][0].value("type", "") : schema.value("type", "");
    if (type == "object") {
        json object = json::object();
        const json properties = schema.value("properties", json::object());
        for (const auto& [k, property] : properties.items())
            object[k] = sample(k, property);
        return object;
    }
    if (auto found = known.find(key); found != known.end() && type != "array") return found->second;
    if (key == "tracks" && type == "string") return "Lead Vox";
    if (schema.contains("enum")) return schema["enum"][0];
    if (type == "array") return json::array({key == "track_names" ? json("Lead Vox") : sample(key, schema["items"])});
    if (type == "boolean") return true;
    if (type == "integer" || type == "number") return 1;
    return "x";
}

class ToolDefinitions : public ToolExecutorTest {
protected:
    // One call straight to the handler, on a fresh demo song; the keys and types it read.
    std::pair<Reads, json> call(const ToolHandler& handler, const std::string& name, const json& args) {
        load(standin::testing::demoSong());
        const AgentToolCall agentCall{"c", name, args.dump()};
        const std::vector<AgentToolCall> roundCalls{agentCall};
        const std::vector<AgentToolOutputPayload> outputs;
        ToolCall toolCall{*executor, agentCall, request,  threadID, projectName, installedPlugins,
                          toolsUsed, roundCalls, 0,       outputs,  {}};
        tool_args::ReadRecorder recorder;
        const auto output = handler(toolCall);
        return {recorder.reads(), json::parse(output.outputJSON, nullptr, false)};
    }
};

// A tool in one of the catalog, the dispatch table and tools.json but missing from another.
TEST_F(ToolDefinitions, NameExactlyTheCatalogedAndDispatchedToolsWithSchemasAStrictValidatorAccepts) {
    std::set<std::string> cataloged;
    for (const auto& tool : toolCatalog()) EXPECT_TRUE(cataloged.emplace(tool.name).second) << tool.name << " twice";
    std::set<std::string> defined;
    for (const auto& tool : definitions()) defined.insert(tool["name"].get<std::string>());
    std::set<std::string> dispatched;
    for (const auto& [name, handler] : ChatToolExecutor::defaultToolTable()) dispatched.insert(name);
    EXPECT_EQ(defined, cataloged) << "tools.json against the catalog";
    EXPECT_EQ(dispatched, cataloged) << "the handlers against the catalog";

    // Strict mode: one type per schema (alternatives through anyOf), known keywords only, and
    // required keys that exist.
    const std::set<std::string> types{"object", "array", "string", "number", "integer", "boolean"};
    const std::set<std::string> keywords{"type", "description", "properties", "required", "items", "enum", "minimum",
                                         "anyOf"};
    std::function<void(const json&, const std::string&)> check = [&](const json& schema, const std::string& where) {
        ASSERT_TRUE(schema.is_object()) << where;
        for (const auto& [keyword, value] : schema.items()) EXPECT_TRUE(keywords.count(keyword)) << where << " " << keyword;
        EXPECT_NE(schema.contains("type"), schema.contains("anyOf")) << where;
        if (schema.contains("type")) {
            ASSERT_TRUE(schema["type"].is_string()) << where << " " << schema["type"];
            EXPECT_TRUE(types.count(schema["type"].get<std::string>())) << where;
        }
        const json branches = schema.value("anyOf", json::array());
        for (const auto& branch : branches) check(branch, where + " anyOf");
        if (schema.value("type", "") == "array") {
            ASSERT_TRUE(schema.contains("items")) << where;
            check(schema["items"], where + "[]");
        }
        const json properties = schema.value("properties", json::object());
        for (const auto& [key, property] : properties.items()) check(property, where + "." + key);
        const json requiredKeys = schema.value("required", json::array());
        for (const auto& required : requiredKeys)
            EXPECT_TRUE(schema["properties"].contains(required)) << where << " requires " << required;
    };
    for (const auto& tool : definitions()) check(tool["parameters"], tool["name"].get<std::string>());
}

TEST_F(ToolDefinitions, DeclareWhatEachHandlerReadsAndNothingElse) {
    const ToolTable table = ChatToolExecutor::defaultToolTable();
    for (const auto& tool : definitions()) {
        const std::string name = tool["name"];
        SCOPED_TRACE(name);
        const auto found = table.find(name);
        ASSERT_NE(found, table.end());
        const json& parameters = tool["parameters"];
        const json properties = parameters.value("properties", json::object());
        const json required = parameters.value("required", json::array());

        json minimal = json::object();
        for (const auto& key : required) minimal[key.get<std::string>()] = sample(key, properties[key.get<std::string>()]);
        // Alternatives such as track_name beside track_names are read only when the other is
        // absent, so each property gets a call of its own beside the required ones.
        Reads read = call(found->second, name, minimal).first;
        for (const auto& [key, property] : properties.items()) {
            json args = minimal;
            args[key] = sample(key, property);
            read.merge(call(found->second, name, args).first);
        }

        Reads expected;
        declared(parameters, expected);
        for (const auto& [key, type] : expected)
            EXPECT_TRUE(read.count({key, type})) << "declares " << key << " as " << type << " but never reads it so";
        std::set<std::string> declaredKeys;
        for (const auto& entry : expected) declaredKeys.insert(entry.first);
        for (const auto& [key, type] : read)
            EXPECT_TRUE(declaredKeys.count(key)) << "reads " << key << " (" << type << ") that it does not declare";

        // Without one of its required arguments the call fails.
        for (const auto& key : required) {
            json args = json::object();
            for (const auto& [k, property] : properties.items())
                if (k != key.get<std::string>()) args[k] = sample(k, property);
            const json output = call(found->second, name, args).second;
            EXPECT_EQ(output.value("status", ""), "error") << "without " << key << ": " << output;
        }
    }
}

}  // namespace
}  // namespace corvane::testing
