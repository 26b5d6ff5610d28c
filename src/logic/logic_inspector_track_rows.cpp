// The tracks as rows for a context snapshot: from the track headers in Logic Pro's own window, or
// from any described rows in another.

#include "logic/ax_read.h"
#include "logic/ax_tree.h"
#include "logic/logic_inspector.h"
#include "logic/logic_inspector_internal.h"
#include "logic/search_depths.h"
#include "platform/platform.h"
#include "support/unicode.h"

namespace corvane {

using ax_read::trimmedOrAbsent;
using detail::selectedFlag;

TrackContextSnapshot LogicInspector::trackContext() const {
    TrackContextSnapshot snapshot;
    auto logic = logicApplication();
    if (!logic) return snapshot;
    auto app = platform::accessibility().applicationElement(logic->processIdentifier);
    snapshot.tracks = findTracks(app);
    for (const auto& t : snapshot.tracks) {
        if (t.isSoloed) snapshot.soloedTrackNames.push_back(t.name);
        if (t.isSelected) snapshot.selectedTrackNames.push_back(t.name);
    }
    snapshot.hasSoloedTracks = !snapshot.soloedTrackNames.empty();
    return snapshot;
}

std::vector<TrackSummary> LogicInspector::findTracks(const AXElement& axApp) const {
    std::vector<TrackSummary> tracks;
    auto windows = axApp.elements(ax::kWindows);
    if (!windows) return tracks;
    for (const auto& w : *windows) {
        if (isLogicMainWindowTitle(textOf(w, ax::kTitle))) {
            // In Logic Pro's own window the rows are the track headers; a loose walk would
            // also take the control bar's and the Inspector's described groups for tracks.
            for (const auto& header : findTrackHeaders(w)) {
                TrackSummary row;
                row.name = header.name;
                row.index = static_cast<int>(tracks.size());
                row.isSoloed = detectToggleState(header.element, "solo");
                row.isMuted = header.isMuted || detectToggleState(header.element, "mute");
                row.isSelected = selectedFlag(header.element);
                tracks.push_back(std::move(row));
            }
        } else {
            findTrackElements(w, tracks, 0, search_depth::kLooseTrackRows);
        }
        if (!tracks.empty()) break;
    }
    return tracks;
}

void LogicInspector::findTrackElements(const AXElement& element, std::vector<TrackSummary>& tracks, int depth,
                                       int maxDepth) const {
    ax_tree::walk(
        element, maxDepth,
        [&](const Step& step) {
            const AXElement& e = step.element;
            auto role = e.string(ax::kRole);
            auto title = trimmedOrAbsent(e, ax::kTitle);
            auto description = trimmedOrAbsent(e, ax::kDescription);
            auto identifier = e.string(ax::kIdentifier);
            std::optional<std::string> lowerIdentifier;
            if (identifier) lowerIdentifier = text::lowercased(*identifier);

            bool candidate = false;
            if (lowerIdentifier && lowerIdentifier->find("track") != std::string::npos) candidate = true;
            if (role && (*role == "AXRow" || *role == "AXGroup" || *role == "AXCell") &&
                ((title && !title->empty()) || (description && !description->empty())))
                candidate = true;
            if (description) {
                auto lower = text::lowercased(*description);
                if (lower.find("track") != std::string::npos || lower.find("channel") != std::string::npos)
                    candidate = true;
            }
            if (!candidate) return Next::children;
            auto name = bestTrackName(title, description);
            if (!name) return Next::children;
            TrackSummary row;
            row.name = *name;
            row.index = static_cast<int>(tracks.size());
            row.isSoloed = detectToggleState(e, "solo");
            row.isMuted = detectToggleState(e, "mute");
            row.isSelected = selectedFlag(e);
            tracks.push_back(std::move(row));
            return Next::siblings;
        },
        depth);
}

std::optional<std::string> LogicInspector::bestTrackName(const std::optional<std::string>& title,
                                                         const std::optional<std::string>& description) {
    if (title && !title->empty()) return title;
    if (description && !description->empty()) return description;
    return std::nullopt;
}

}  // namespace corvane
