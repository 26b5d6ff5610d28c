#include "chat/track_descriptions.h"

#include "support/unicode.h"

namespace corvane {

std::vector<std::string> descriptionKeysForTrack(const std::string& trackName,
                                                 const std::vector<TrackAnalysisState>& liveStates) {
    const std::string wanted = text::lowercased(trackName);
    std::vector<std::string> ids;
    for (const auto& state : liveStates)
        if (text::lowercased(state.trackName) == wanted) ids.push_back(state.id);
    return ids;
}

std::map<std::string, std::string> trackDescriptionsByTrackName(const std::map<std::string, std::string>& byInstanceID,
                                                                const std::vector<TrackAnalysisState>& liveStates) {
    std::map<std::string, std::string> byName;
    for (const auto& state : liveStates) {
        auto found = byInstanceID.find(state.id);
        if (found != byInstanceID.end()) byName.emplace(text::lowercased(state.trackName), found->second);
    }
    return byName;
}

}  // namespace corvane
