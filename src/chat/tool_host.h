#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/track_analysis_state.h"

namespace corvane {

// What the tool executor needs of the application's controller: the live analysis and the two
// places where the agent's notes are kept. The controller implements it; the executor holds it
// weakly and treats a controller that is gone as an empty analysis and nowhere to store.
// Every member may be called from any thread.
class ToolHost {
public:
    virtual ~ToolHost() = default;

    // One state per analysis plug-in instance.
    virtual std::vector<TrackAnalysisState> trackAnalysis() = 0;
    // Keeps a track's description under the analysis instance that streams from the track;
    // false when it was not kept.
    virtual bool storeTrackDescription(const std::string& instanceID, const std::string& description) = 0;
    // Stores the brief in the turn's chat and shows it; absent once stored, else why it was not:
    // kNoWindow where no chat window keeps it (as when headless), or what the store answered.
    virtual std::optional<std::string> updateSongBrief(const std::string& brief, const std::string& threadID) = 0;
    static constexpr const char* kNoWindow = "no chat window is open to keep it";
};

}  // namespace corvane
