#include <algorithm>
#include <initializer_list>
#include <string_view>

#include "model/chat_model.h"
#include "model/tool_catalog.h"
#include "support/json_fields.h"
#include "support/numbers.h"
#include "support/unicode.h"

namespace corvane {

namespace {

constexpr auto& stringMember = json_fields::lenientText;

std::string joinPresent(const std::optional<std::string>& a, const std::optional<std::string>& b,
                        const std::string& separator) {
    if (a && b) return *a + separator + *b;
    if (a) return *a;
    if (b) return *b;
    return {};
}

constexpr const char* kArrow = " \u2192 ";
constexpr const char* kDot = " \u00B7 ";
constexpr std::size_t kTargetsLength = 40;

void addName(std::vector<std::string>& names, std::string_view name) {
    if (auto trimmed = text::trimSpacesAndTabs(name); !trimmed.empty()) names.emplace_back(trimmed);
}

// "tracks" as a comma-separated text, else "track_name" read the same way.
std::vector<std::string> listenedNames(const nlohmann::json& args) {
    std::vector<std::string> names;
    auto list = stringMember(args, "tracks");
    if (!list) list = stringMember(args, "track_name");
    if (!list) return names;
    for (std::size_t start = 0; start <= list->size();) {
        const std::size_t comma = std::min(list->find(',', start), list->size());
        addName(names, std::string_view(*list).substr(start, comma - start));
        start = comma + 1;
    }
    return names;
}

// "track_names" when it is a list of texts, else "track_name".
std::vector<std::string> trackNameList(const nlohmann::json& args) {
    std::vector<std::string> names;
    if (auto it = args.find("track_names"); it != args.end() && it->is_array()) {
        bool allText = true;
        for (const auto& element : *it) allText = allText && element.is_string();
        if (allText) {
            for (const auto& element : *it) addName(names, element.get<std::string>());
            return names;
        }
    }
    if (auto single = stringMember(args, "track_name")) addName(names, *single);
    return names;
}

// "tracks" when it is a list of objects, else the call's own "track_name" and "value"; a value
// shows only as text.
std::vector<std::string> writtenTracks(const nlohmann::json& args) {
    std::vector<std::string> writes;
    auto write = [&writes](const nlohmann::json& object) {
        auto name = stringMember(object, "track_name");
        if (!name) return;
        std::string line(text::trimSpacesAndTabs(*name));
        if (line.empty()) return;
        if (auto value = stringMember(object, "value")) line += kArrow + *value;
        writes.push_back(std::move(line));
    };
    if (auto it = args.find("tracks"); it != args.end() && it->is_array()) {
        bool allObjects = true;
        for (const auto& element : *it) allObjects = allObjects && element.is_object();
        if (allObjects) {
            for (const auto& element : *it) write(element);
            return writes;
        }
    }
    write(args);
    return writes;
}

// The first of `keys` that holds text, else the plug-in, else the action.
std::optional<std::string> trackOrPluginUnder(const nlohmann::json& args, std::initializer_list<const char*> keys) {
    for (const char* key : keys)
        if (auto name = stringMember(args, key)) return name;
    if (auto plugin = stringMember(args, "plugin_name")) return plugin;
    return stringMember(args, "action");
}

// The targets on one line: joined, and cut short so the card keeps to one line.
std::optional<std::string> joinedTargets(const std::vector<std::string>& targets) {
    if (targets.empty()) return std::nullopt;
    std::string joined = targets.front();
    for (std::size_t i = 1; i < targets.size(); ++i) joined += ", " + targets[i];
    if (text::graphemeCount(joined) <= kTargetsLength) return joined;
    std::string cut = text::graphemePrefix(joined, kTargetsLength);
    while (!cut.empty() && (cut.back() == ' ' || cut.back() == ',')) cut.pop_back();
    return cut + "\u2026";
}

}  // namespace

std::optional<std::string> tool_preview::trackOrPlugin(const nlohmann::json& args) {
    return trackOrPluginUnder(args, {"track_name"});
}

std::optional<std::string> tool_preview::folderOrPlugin(const nlohmann::json& args) {
    return trackOrPluginUnder(args, {"track_name", "name", "folder", "folder_name"});
}

std::optional<std::string> tool_preview::currentNameOrPlugin(const nlohmann::json& args) {
    return trackOrPluginUnder(args, {"current_name"});
}

std::optional<std::string> tool_preview::sourceTrackOrPlugin(const nlohmann::json& args) {
    return trackOrPluginUnder(args, {"source_track"});
}

std::optional<std::string> tool_preview::describedTrackOrPlugin(const nlohmann::json& args) {
    return trackOrPluginUnder(args, {"trackName"});
}

std::optional<std::string> tool_preview::trackAndPlugin(const nlohmann::json& args) {
    return joinPresent(stringMember(args, "track_name"), stringMember(args, "plugin_name"), " > ");
}

std::optional<std::string> tool_preview::parameterWrite(const nlohmann::json& args) {
    auto parameter = stringMember(args, "parameter_name");
    auto value = stringMember(args, "value");
    if (parameter && value) return stringMember(args, "track_name").value_or("") + " > " + *parameter + kArrow + *value;
    return trackAndPlugin(args);
}

std::optional<std::string> tool_preview::pluginOnTrack(const nlohmann::json& args) {
    return joinPresent(stringMember(args, "plugin_name"), stringMember(args, "track_name"), " on ");
}

std::optional<std::string> tool_preview::trackWrites(const nlohmann::json& args) {
    return joinedTargets(writtenTracks(args));
}

std::optional<std::string> tool_preview::namedTracks(const nlohmann::json& args) {
    return joinedTargets(trackNameList(args));
}

std::optional<std::string> tool_preview::listened(const nlohmann::json& args) {
    std::string label = joinedTargets(listenedNames(args)).value_or("full mix");
    auto it = args.find("duration_seconds");
    if (it == args.end() || !it->is_number()) return label;
    auto seconds = checkedInteger(it->get<double>(), INT64_MIN, INT64_MAX);  // whole seconds toward zero
    if (!seconds) return label;
    return label + kDot + std::to_string(*seconds) + "s";
}

std::optional<std::string> tool_preview::action(const nlohmann::json& args) { return stringMember(args, "action"); }

std::string ToolCallInfo::displayNameFor(const std::string& toolName) {
    const ToolDescriptor* tool = findCardTool(toolName);
    return tool && !tool->title.empty() ? std::string(tool->title) : toolName;
}

std::string ToolCallInfo::icon(const std::string& toolName) {
    const ToolDescriptor* tool = findCardTool(toolName);
    return tool && !tool->icon.empty() ? std::string(tool->icon) : "gearshape";
}

std::optional<std::string> ToolCallInfo::argumentPreview() const {
    nlohmann::json args = nlohmann::json::parse(arguments, nullptr, false);
    if (!args.is_object()) return std::nullopt;  // also what a parse failure gives (discarded)
    const ToolDescriptor* tool = findCardTool(toolName);
    return tool && tool->preview ? tool->preview(args) : tool_preview::trackOrPlugin(args);
}

}  // namespace corvane
