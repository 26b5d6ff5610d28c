#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/chat_model.h"

namespace corvane {

// What the transcript shows for a thread: one row per visible item, then as much of the final
// reply as is revealed so far, then a 1-pt bottom anchor it scrolls to.
struct TranscriptRows {
    static constexpr double rowSpacing = 6;
    static constexpr double horizontalPadding = 8;
    static constexpr double verticalPadding = 10;

    enum class RowKind { none, bubble, toolCallGroup, thinking };
    struct Row {
        RowKind kind = RowKind::none;
        ConversationRole role = ConversationRole::assistant;  // bubbles
        bool withThreadEntries = false;                       // the thread's entries go to the bubble (for visual tags)
        bool withReport = false;  // the bubble's "Report" sets the view model's reportingEntry
    };

    // The items that get a row: while a reply is revealed (`streamingText` present, even
    // empty), the newest assistant message is left out, since the streaming row stands in for it.
    static std::vector<TranscriptItem> visibleItems(const std::vector<TranscriptItem>& items,
                                                    const std::optional<std::string>& streamingText);
    static Row rowFor(const TranscriptItem& item);
    static bool showsStreamingRow(const std::optional<std::string>& streamingText) {
        return streamingText && !streamingText->empty();
    }

    // Scrolling to the bottom: animated (0.2 s ease-out) when the item count changed, without
    // animation when only the revealed text changed, not at all otherwise.
    enum class Scroll { none, animated, immediate };
    static Scroll scrollAfterChange(size_t oldCount, size_t newCount, const std::optional<std::string>& oldStreaming,
                                    const std::optional<std::string>& newStreaming);
};

// The thinking indicator's three dots pulse between 0.3 and 1.0 opacity, 0.5 s each way with an
// ease-in-out curve, each dot 0.15 s behind its left neighbour, from the moment it is shown.
struct ThinkingIndicator {
    static constexpr int dotCount = 3;
    static constexpr double dotDiameter = 5;
    static constexpr double dotSpacing = 4;
    static constexpr double pulseSeconds = 0.5;
    static constexpr double staggerSeconds = 0.15;

    // `secondsShown` absent: not on screen yet.
    static double dotOpacity(int dot, std::optional<double> secondsShown);
};

}  // namespace corvane
