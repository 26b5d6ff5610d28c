#pragma once

#include <string>
#include <vector>

#include "model/chat_model_tool_results.h"
#include "model/conversation_model.h"

namespace corvane {

// Finds the measurements shown in a diagram: those of earlier listening calls stored in a
// thread, never the live analysis.
struct AnalysisResolver {
    using TrackAnalysisInfo = AudioAnalysisToolResult::TrackAnalysisInfo;

    // The wanted tracks (letter case ignored) from the newest "listen_to_playback" results of
    // the thread's entries (oldest first), newest result first, at most `count` lists. Each
    // list comes from one result, keeps that result's order and names (two tracks of one name
    // stay two entries), and is never empty.
    // Pure: callable from any thread.
    static std::vector<std::vector<TrackAnalysisInfo>> resolve(const std::vector<std::string>& tracks,
                                                               const std::vector<ConversationEntry>& from, int count);
};

}  // namespace corvane
