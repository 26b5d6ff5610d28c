#pragma once

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
    // False when nothing took the brief (no chat window to keep it, as when headless).
    virtual bool updateSongBrief(const std::string& brief) = 0;
};

}  // namespace corvane
