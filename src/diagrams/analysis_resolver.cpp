#include "diagrams/analysis_resolver.h"

#include <set>

#include "support/unicode.h"

namespace corvane {

namespace {
// A stored output read as an analysis result, or failing that as a listening result.
std::optional<std::vector<AnalysisResolver::TrackAnalysisInfo>> decodeTracks(const std::string& resultJSON) {
    nlohmann::json document = nlohmann::json::parse(resultJSON, nullptr, false);
    if (document.is_discarded()) return std::nullopt;
    try {
        return document.get<AudioAnalysisToolResult>().tracks;
    } catch (const std::exception&) {
    }
    try {
        return document.get<ListenResult>().tracks;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}
}  // namespace

std::vector<std::vector<AnalysisResolver::TrackAnalysisInfo>> AnalysisResolver::resolve(
    const std::vector<std::string>& tracks, const std::vector<ConversationEntry>& from, int count) {
    std::vector<std::vector<TrackAnalysisInfo>> output;
    if (count <= 0) return output;
    std::set<std::string> wanted;
    for (const auto& name : tracks) wanted.insert(text::lowercased(name));
    if (wanted.empty()) return output;

    for (auto entry = from.rbegin(); entry != from.rend(); ++entry) {
        if (entry->role != ConversationRole::toolCall || entry->toolName != "listen_to_playback" || !entry->resultJSON)
            continue;
        auto stored = decodeTracks(*entry->resultJSON);
        if (!stored) continue;

        // Two tracks of one name are two tracks: diagrams keep their rows by position.
        std::vector<TrackAnalysisInfo> found;
        for (auto& track : *stored)
            if (wanted.count(text::lowercased(track.trackName))) found.push_back(std::move(track));
        if (found.empty()) continue;
        output.push_back(std::move(found));
        if (output.size() >= static_cast<size_t>(count)) break;
    }
    return output;
}

}  // namespace corvane
