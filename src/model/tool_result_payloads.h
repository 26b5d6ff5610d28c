#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace corvane {

// The results the agent's tools report. Their JSON is stored with the conversation and the tool
// logs and read back by the transcript, so keys, optionality and nesting are a file format: keys
// are the field names, absent optionals are left out, and decoding is strict (a missing required
// key or a value of the wrong JSON type fails the whole value; unknown keys are ignored).
// The listening results live with the chat model (model/chat_model_tool_results.h).

// The outcome of an action tool.
struct ActionResult {
    std::string status;
    std::string message;
    friend bool operator==(const ActionResult&, const ActionResult&) = default;
};

struct ListTracksResult {
    // One row of Logic Pro's track list.
    struct TrackInfo {
        std::int64_t number = 0;
        std::string name;
        bool isMuted = false;
        bool isFolder = false;
        friend bool operator==(const TrackInfo&, const TrackInfo&) = default;
    };
    std::string status;
    std::vector<TrackInfo> tracks;
    friend bool operator==(const ListTracksResult&, const ListTracksResult&) = default;
};

struct TransportResult {
    std::string status;
    std::optional<std::string> tempo;
    std::optional<std::string> timeSignature;
    std::optional<std::int64_t> playheadBar;
    bool isPlaying = false;
    bool isRecording = false;
    bool cycleEnabled = false;
    bool globalSolo = false;
    friend bool operator==(const TransportResult&, const TransportResult&) = default;
};

// One track's channel strip and insert chain; the strip fields are texts as Logic Pro shows them.
struct TrackDetailsResult {
    struct PluginSlotInfo {
        std::int64_t index = 0;
        std::string name;
        bool isBypassed = false;
        friend bool operator==(const PluginSlotInfo&, const PluginSlotInfo&) = default;
    };
    std::string status;
    std::string trackName;
    std::optional<std::string> volume;
    std::optional<std::string> volumeDisplay;
    std::optional<std::string> pan;
    std::optional<std::string> input;
    std::optional<std::string> inputBus;
    std::optional<std::string> output;
    std::optional<std::vector<std::string>> sends;
    std::optional<std::map<std::string, std::string>> sendTargets;  // send label -> receiving track
    std::optional<std::string> channelMode;
    std::vector<PluginSlotInfo> plugins;
    friend bool operator==(const TrackDetailsResult&, const TrackDetailsResult&) = default;
};

// A plug-in's parameters in the shape the transcript's tool-result view reads; no tool writes it.
struct PluginParametersResult {
    struct PluginParam {
        std::string label;
        std::optional<std::string> value;
        std::string role;
        friend bool operator==(const PluginParam&, const PluginParam&) = default;
    };
    std::string status;
    std::string trackName;
    std::string pluginName;
    std::vector<PluginParam> parameters;
    friend bool operator==(const PluginParametersResult&, const PluginParametersResult&) = default;
};

void to_json(nlohmann::json& j, const ActionResult& v);
void from_json(const nlohmann::json& j, ActionResult& v);
void to_json(nlohmann::json& j, const ListTracksResult::TrackInfo& v);
void from_json(const nlohmann::json& j, ListTracksResult::TrackInfo& v);
void to_json(nlohmann::json& j, const ListTracksResult& v);
void from_json(const nlohmann::json& j, ListTracksResult& v);
void to_json(nlohmann::json& j, const TransportResult& v);
void from_json(const nlohmann::json& j, TransportResult& v);
void to_json(nlohmann::json& j, const TrackDetailsResult::PluginSlotInfo& v);
void from_json(const nlohmann::json& j, TrackDetailsResult::PluginSlotInfo& v);
void to_json(nlohmann::json& j, const TrackDetailsResult& v);
void from_json(const nlohmann::json& j, TrackDetailsResult& v);
void to_json(nlohmann::json& j, const PluginParametersResult::PluginParam& v);
void from_json(const nlohmann::json& j, PluginParametersResult::PluginParam& v);
void to_json(nlohmann::json& j, const PluginParametersResult& v);
void from_json(const nlohmann::json& j, PluginParametersResult& v);

}  // namespace corvane
