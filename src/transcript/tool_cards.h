#pragma once

#include <string>
#include <vector>

#include "model/chat_model.h"
#include "diagrams/diagram_shapes.h"

namespace corvane {

// The decisions behind one round's tool-call cards.
struct ToolCallCards {
    static constexpr double maxColumnWidth = 720;
    static constexpr double trailingGap = 24;
    static constexpr double cardSpacing = 6;

    // Per call of the group: a failed call counts as recovered when a later call of the same
    // tool in the same group completed.
    static std::vector<bool> recoveredFlags(const ToolCallGroup& group);
    // A completed call with a result, of a tool whose catalog entry has a visual.
    static bool hasVisual(const ToolCallInfo& call);
    static bool canCollapse(const ToolCallInfo& call);
    // The summary shows only on an open card that has one; the visual only on an open card
    // that has one. A card that cannot collapse ignores clicks.
    static bool showsSummary(const ToolCallInfo& call, bool open);
    static bool showsVisual(const ToolCallInfo& call, bool open);

    // The width of the column of cards in a transcript row of the given width.
    static double columnWidth(double rowWidth);
};

// How a card shows its call's state.
struct ToolCardLook {
    enum class Symbol { spinner, checkmark, xmark, recovered };
    Symbol status = Symbol::spinner;
    std::string statusSymbolName;  // the symbol the icon stands for; empty for the spinner
    diagram::Color statusColor;
    diagram::Color iconColor;
    diagram::Color summaryColor;
    double chevronRotationDegrees = 0;  // 0 open, -90 closed

    static ToolCardLook forCall(const ToolCallInfo& call, bool isRecovered, bool open);
};

}  // namespace corvane
