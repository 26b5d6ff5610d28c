#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace corvane {

// A listening or analysis tool result. Any JSON object with "status" and "tracks" decodes as
// one, so a listening result does too.
struct AudioAnalysisToolResult {
    // One track's measurements; every measurement may be missing.
    struct TrackAnalysisInfo {
        std::string trackName;
        bool isMaster = false;
        std::optional<double> shortTermLufs;
        std::optional<double> momentaryLufs;
        std::optional<double> peakDbfs;
        std::optional<double> rmsDbfs;
        std::optional<double> headroomDb;
        std::optional<double> crestDb;
        std::optional<double> spectralTiltDb;
        std::optional<double> subBandRatio;
        std::optional<double> bassBandRatio;
        std::optional<double> lowMidBandRatio;
        std::optional<double> highMidBandRatio;
        std::optional<double> airBandRatio;
        std::optional<double> stereoWidth;
        std::optional<double> phaseCorrelation;
        friend bool operator==(const TrackAnalysisInfo&, const TrackAnalysisInfo&) = default;
    };

    std::string status;
    std::vector<TrackAnalysisInfo> tracks;
};

// The output of "listen_to_playback".
struct ListenResult {
    std::string status;
    double durationSeconds = 0;
    std::optional<std::string> soloedTrack;
    std::vector<AudioAnalysisToolResult::TrackAnalysisInfo> tracks;
    std::string summary;
};

// One track's entry in the output of "get_track_details".
struct TrackDetailsResult {
    struct PluginSlotInfo {
        int index = 0;  // 0-based position in the chain, top to bottom
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
    std::optional<std::map<std::string, std::string>> sendTargets;
    std::optional<std::string> channelMode;
    std::vector<PluginSlotInfo> plugins;
};

// A plug-in's parameters as a typed result (decodable; no tool writes it).
struct PluginParametersResult {
    struct PluginParam {
        std::string label;
        std::optional<std::string> value;  // as the plug-in shows it
        std::string role;
    };
    std::string status;
    std::string trackName;
    std::string pluginName;
    std::vector<PluginParam> parameters;
};

// The output of "list_tracks".
struct ListTracksResult {
    struct TrackInfo {
        int number = 0;
        std::string name;
        bool isMuted = false;
        bool isFolder = false;
    };
    std::string status;
    std::vector<TrackInfo> tracks;
};

void to_json(nlohmann::json& j, const AudioAnalysisToolResult::TrackAnalysisInfo& v);
void from_json(const nlohmann::json& j, AudioAnalysisToolResult::TrackAnalysisInfo& v);
void to_json(nlohmann::json& j, const AudioAnalysisToolResult& v);
void from_json(const nlohmann::json& j, AudioAnalysisToolResult& v);
void to_json(nlohmann::json& j, const ListenResult& v);
void from_json(const nlohmann::json& j, ListenResult& v);
void from_json(const nlohmann::json& j, TrackDetailsResult::PluginSlotInfo& v);
void from_json(const nlohmann::json& j, TrackDetailsResult& v);
void from_json(const nlohmann::json& j, PluginParametersResult::PluginParam& v);
void from_json(const nlohmann::json& j, PluginParametersResult& v);
void from_json(const nlohmann::json& j, ListTracksResult::TrackInfo& v);
void from_json(const nlohmann::json& j, ListTracksResult& v);

}  // namespace corvane
