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

void to_json(nlohmann::json& j, const AudioAnalysisToolResult::TrackAnalysisInfo& v);
void from_json(const nlohmann::json& j, AudioAnalysisToolResult::TrackAnalysisInfo& v);
void to_json(nlohmann::json& j, const AudioAnalysisToolResult& v);
void from_json(const nlohmann::json& j, AudioAnalysisToolResult& v);
void to_json(nlohmann::json& j, const ListenResult& v);
void from_json(const nlohmann::json& j, ListenResult& v);

}  // namespace corvane
