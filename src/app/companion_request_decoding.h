#pragma once

// How the loopback API's request bodies become requests. The lenient decoders never fail: a
// missing, empty or malformed body gives the request's defaults. The routes that delete or
// overwrite data use the strict forms instead, which refuse such a body so that nothing changes.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/chat_model_analysis.h"
#include "model/conversation_model.h"

namespace corvane::app {

namespace CompanionRequestDecoding {

// One decoded analysis post.
struct AnalysisUpdate {
    std::optional<std::string> instanceID;
    std::optional<std::string> trackName;
    std::optional<AudioAnalysisSummary> audioAnalysis;
    std::optional<std::vector<BarAnalysisEntry>> barAnalysisMap;
    bool operator==(const AnalysisUpdate&) const = default;
};

// A strict decoder's outcome: the request, or why the body was refused.
template <class T>
struct Decoded {
    std::optional<T> request;
    std::string error;  // set exactly when request is absent
};

ConversationThreadRequest decodeConversationThreadRequest(std::string_view body);
SongBriefRequest decodeSongBriefRequest(std::string_view body);
AnalysisUpdate decodeAnalysisUpdate(std::string_view body);
AudioAnalysisSummary decodeAudioAnalysisSummary(const nlohmann::json& object);
std::optional<BarAnalysisEntry> decodeBarAnalysisEntry(const nlohmann::json& object);

// An empty body means the current thread; anything else must be a JSON object whose "threadID",
// when present and not null, is a string.
Decoded<ConversationThreadRequest> decodeConversationThreadRequestStrictly(std::string_view body);
// A JSON object with a string "songBrief" and an optional string "threadID".
Decoded<SongBriefRequest> decodeSongBriefRequestStrictly(std::string_view body);

}  // namespace CompanionRequestDecoding

}  // namespace corvane::app
