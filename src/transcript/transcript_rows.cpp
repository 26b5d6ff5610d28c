#include "transcript/transcript_rows.h"

#include <cmath>

namespace corvane {

namespace {
const ConversationEntry* messageOf(const TranscriptItem& item) { return std::get_if<ConversationEntry>(&item.value); }

// The platform's ease-in-out timing curve, cubic Bézier (0.42, 0) (0.58, 1), at progress x.
double easeInOut(double x) {
    auto bezier = [](double a, double b, double t) {
        const double u = 1 - t;
        return 3 * u * u * t * a + 3 * u * t * t * b + t * t * t;
    };
    double lo = 0;
    double hi = 1;
    for (int i = 0; i < 40; ++i) {
        const double mid = (lo + hi) / 2;
        (bezier(0.42, 0.58, mid) < x ? lo : hi) = mid;
    }
    return bezier(0, 1, (lo + hi) / 2);
}
}  // namespace

std::vector<TranscriptItem> TranscriptRows::visibleItems(const std::vector<TranscriptItem>& items,
                                                         const std::optional<std::string>& streamingText) {
    std::vector<TranscriptItem> visible = items;
    if (!streamingText) return visible;
    for (auto item = visible.rbegin(); item != visible.rend(); ++item) {
        const ConversationEntry* entry = messageOf(*item);
        if (entry && entry->role == ConversationRole::assistant) {
            visible.erase(std::next(item).base());
            break;
        }
    }
    return visible;
}

TranscriptRows::Row TranscriptRows::rowFor(const TranscriptItem& item) {
    if (std::holds_alternative<ToolCallGroup>(item.value)) return {RowKind::toolCallGroup};
    if (std::holds_alternative<TranscriptItem::Thinking>(item.value)) return {RowKind::thinking};
    const ConversationEntry& entry = *messageOf(item);
    switch (entry.role) {
        case ConversationRole::user:
        case ConversationRole::update: return {RowKind::bubble, entry.role, false, false};
        case ConversationRole::assistant: return {RowKind::bubble, entry.role, true, true};
        default: return {RowKind::none, entry.role};
    }
}

TranscriptRows::Scroll TranscriptRows::scrollAfterChange(size_t oldCount, size_t newCount,
                                                         const std::optional<std::string>& oldStreaming,
                                                         const std::optional<std::string>& newStreaming) {
    if (oldCount != newCount) return Scroll::animated;
    if (oldStreaming != newStreaming) return Scroll::immediate;
    return Scroll::none;
}

double ThinkingIndicator::dotOpacity(int dot, std::optional<double> secondsShown) {
    constexpr double low = 0.3;
    constexpr double high = 1.0;
    if (!secondsShown) return low;
    const double t = *secondsShown - dot * staggerSeconds;
    if (t <= 0) return low;
    const double phase = std::fmod(t, 2 * pulseSeconds);
    const double rising = phase < pulseSeconds ? phase / pulseSeconds : 2 - phase / pulseSeconds;
    return low + (high - low) * easeInOut(rising);
}

}  // namespace corvane
