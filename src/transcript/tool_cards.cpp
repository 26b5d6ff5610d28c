#include "transcript/tool_cards.h"

#include <algorithm>

#include "model/tool_catalog.h"
#include "transcript/theme.h"

namespace corvane {

using namespace diagram;

std::vector<bool> ToolCallCards::recoveredFlags(const ToolCallGroup& group) {
    const auto& calls = group.toolCalls;
    std::vector<bool> flags(calls.size(), false);
    // One pass from the end: which tools have a completed call later in the group.
    std::vector<std::string> completedLater;
    for (size_t i = calls.size(); i-- > 0;) {
        const bool seen =
            std::find(completedLater.begin(), completedLater.end(), calls[i].toolName) != completedLater.end();
        if (calls[i].status == ToolCallStatus::failed) flags[i] = seen;
        if (calls[i].status == ToolCallStatus::completed && !seen) completedLater.push_back(calls[i].toolName);
    }
    return flags;
}

bool ToolCallCards::hasVisual(const ToolCallInfo& call) {
    const ToolDescriptor* tool = findCardTool(call.toolName);
    return call.resultJSON && !call.resultJSON->empty() && call.status == ToolCallStatus::completed && tool &&
           tool->hasVisual;
}

bool ToolCallCards::canCollapse(const ToolCallInfo& call) {
    return hasVisual(call) || (call.summary && !call.summary->empty());
}

bool ToolCallCards::showsSummary(const ToolCallInfo& call, bool open) {
    return open && call.summary && !call.summary->empty();
}

bool ToolCallCards::showsVisual(const ToolCallInfo& call, bool open) { return open && hasVisual(call); }

double ToolCallCards::columnWidth(double rowWidth) { return std::clamp(rowWidth - trailingGap, 0.0, maxColumnWidth); }

ToolCardLook ToolCardLook::forCall(const ToolCallInfo& call, bool isRecovered, bool open) {
    ToolCardLook look;
    look.chevronRotationDegrees = open ? 0 : -90;
    look.summaryColor = CorvaneTheme::textSecondary;
    switch (call.status) {
        case ToolCallStatus::running:
            look.status = Symbol::spinner;
            look.iconColor = CorvaneTheme::textSecondary;
            break;
        case ToolCallStatus::completed:
            look.status = Symbol::checkmark;
            look.statusSymbolName = "checkmark";
            look.statusColor = system_color::green.withOpacity(0.8);
            look.iconColor = system_color::green.withOpacity(0.6);
            break;
        case ToolCallStatus::failed:
            if (isRecovered) {
                look.status = Symbol::recovered;
                look.statusSymbolName = "arrow.triangle.2.circlepath";
                look.statusColor = white(0.35);
                look.iconColor = white(0.3);
                look.summaryColor = white(0.35);
            } else {
                look.status = Symbol::xmark;
                look.statusSymbolName = "xmark";
                look.statusColor = system_color::red.withOpacity(0.8);
                look.iconColor = system_color::red.withOpacity(0.6);
                look.summaryColor = system_color::red.withOpacity(0.7);
            }
            break;
    }
    return look;
}

}  // namespace corvane
