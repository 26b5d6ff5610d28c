#include "model/track_analysis_state.h"

#include "support/unicode.h"

namespace corvane {

bool TrackAnalysisState::isMasterName(const std::string& name) {
    const std::string lower = text::lowercased(name);
    for (const char* needle : {"stereo out", "master", "main out", "output"})
        if (lower.find(needle) != std::string::npos) return true;
    return false;
}

}  // namespace corvane
