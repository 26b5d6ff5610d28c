#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "model/chat_model_analysis.h"

namespace corvane {

// The latest state of one analysis plug-in instance, as the controller keeps it.
struct TrackAnalysisState {
    std::string id;         // the instance ID, "default" when the post had none
    std::string trackName;  // "Unknown" when the post had none
    std::optional<AudioAnalysisSummary> analysis;
    std::vector<BarAnalysisEntry> barMap;
    std::chrono::system_clock::time_point lastUpdateTime;
    bool isMaster = false;  // isMasterName(trackName) when the post arrived

    // Whether a track name denotes the master output. A plain substring test, so "Mastering
    // Vox" counts while "Out Of Time" does not.
    static bool isMasterName(const std::string& name);

    friend bool operator==(const TrackAnalysisState&, const TrackAnalysisState&) = default;
};

}  // namespace corvane
