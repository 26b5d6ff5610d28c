#pragma once

// Every tool the agent may call, as plain data: what its card shows, which of its arguments name
// plug-ins and tracks, and how many Accessibility round trips a call may make. The dispatcher binds
// a handler to each name (chat/chat_tool_table.cpp) and resources/ToolDefinitions/tools.json
// defines each for the model; tests hold the three to the same names.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace corvane {

// The most Accessibility round trips one call may make on the demo song.
enum class RoundTripBudget { reading, editing, wide };
// 50 reading, 150 editing, 300 wide (the tools that read several whole channel strips).
long roundTripGoal(RoundTripBudget budget);

// Where a tool's arguments name plug-ins and tracks, whose memories then ride along with its output.
struct MemoryArguments {
    bool pluginName = false;         // "plugin_name"
    const char* trackKey = nullptr;  // the key that names its one track, if one does
    bool trackNames = false;         // "track_names", a list of names
    bool trackObjects = false;       // "tracks", a list of objects with a "track_name"
    bool trackText = false;          // "tracks", names separated by commas
    bool visualTracks = false;       // "visual" with "tracks", names separated by commas
};

// The one-line summary of a call's arguments on its card; the arguments are a JSON object.
using ArgumentPreview = std::optional<std::string> (*)(const nlohmann::json& args);

struct ToolDescriptor {
    std::string_view name;
    std::string_view title;  // the card's title; empty: the name
    std::string_view icon;   // the card's symbol; empty: the generic one
    ArgumentPreview preview = nullptr;
    bool hasVisual = false;  // whether a completed call's result shows a visual on its card
    MemoryArguments memory;
    RoundTripBudget roundTrips = RoundTripBudget::reading;
};

// The tools the agent may call, in the order tools.json defines them.
std::span<const ToolDescriptor> toolCatalog();
// Matched exactly; null for a name the catalog lacks.
const ToolDescriptor* findTool(std::string_view name);
// A card's tool: one of the catalog's, else a card no agent call makes itself (the visual of a
// "respond", a stored call of a retired tool); null for any other name.
const ToolDescriptor* findCardTool(std::string_view name);

// The argument previews the catalog's entries use.
namespace tool_preview {
// The track the call names ("track_name"), else its plug-in, else its action: also what a tool
// the catalog lacks shows.
std::optional<std::string> trackOrPlugin(const nlohmann::json& args);
// The same with the track read from the key the tool names it by.
std::optional<std::string> folderOrPlugin(const nlohmann::json& args);  // "track_name", "name", "folder", "folder_name"
std::optional<std::string> currentNameOrPlugin(const nlohmann::json& args);
std::optional<std::string> sourceTrackOrPlugin(const nlohmann::json& args);
std::optional<std::string> describedTrackOrPlugin(const nlohmann::json& args);  // "trackName"
// "Track > Plug-in".
std::optional<std::string> trackAndPlugin(const nlohmann::json& args);
// "Track > Parameter → value", else "Track > Plug-in".
std::optional<std::string> parameterWrite(const nlohmann::json& args);
// "Plug-in on Track".
std::optional<std::string> pluginOnTrack(const nlohmann::json& args);
// The tracks written, each with "→ value".
std::optional<std::string> trackWrites(const nlohmann::json& args);
// The tracks named.
std::optional<std::string> namedTracks(const nlohmann::json& args);
// The tracks listened to ("full mix" for none) and the duration in whole seconds.
std::optional<std::string> listened(const nlohmann::json& args);
// "action".
std::optional<std::string> action(const nlohmann::json& args);
}  // namespace tool_preview

}  // namespace corvane
