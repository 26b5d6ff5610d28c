#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <tuple>
#include <utility>

#include "logic/ax_read.h"
#include "logic/ax_tree.h"
#include "logic/logic_inspector.h"
#include "logic/logic_inspector_internal.h"
#include "logic/search_depths.h"
#include "platform/platform.h"
#include "support/numbers.h"
#include "support/unicode.h"

namespace corvane {

using ax_read::trimmed;
using ax_read::valueText;

namespace {

// Frame numbers for the trace line; a frame Logic Pro reports as NaN or infinite prints as 0.
std::int64_t truncated(double v) { return checkedInteger(v, INT64_MIN / 2, INT64_MAX / 2).value_or(0); }

nlohmann::json errorList(const std::string& message) {
    return nlohmann::json::array({nlohmann::json{{"error", message}}});
}

struct Region {
    double startX = 0;
    double endX = 0;
    bool muted = false;
};

constexpr double kDefaultPointsPerBar = 9.0;
constexpr double kMergeGap = 2.0;

}  // namespace

// --- Transport -------------------------------------------------------------------------------

namespace {
// The transport's controls and the playhead position sit in the control bar: searched there, the
// rest of the window, its tracks and strips, stays unread. A window without one is searched whole.
struct ControlBarSearch {
    AXElement root;
    int depth = 0;
};
ControlBarSearch controlBarSearch(const AXElement& window) {
    if (auto bar = detail::windowPart(window, "Control Bar")) return {*bar, 1};
    return {window, 0};
}
}  // namespace

nlohmann::json LogicInspector::readTransport(const AXElement& from) const {
    nlohmann::json transport = nlohmann::json::object();
    const auto search = controlBarSearch(from);
    readTransportElements(search.root, transport, search.depth, search_depth::kControlBar);
    return transport;
}

void LogicInspector::readTransportElements(const AXElement& from, nlohmann::json& transport, int depth,
                                           int maxDepth) const {
    struct Row {
        const char* description;
        const char* key;
        bool boolean;
    };
    static constexpr Row kRows[] = {{"Tempo", "tempo", false},       {"Time Signature", "timeSignature", false},
                                    {"Play", "isPlaying", true},     {"Record", "isRecording", true},
                                    {"Cycle", "cycleEnabled", true}, {"Solo", "globalSolo", true}};
    static const std::vector<std::string> alsoRead{ax::kValue};
    ax_tree::walk(
        from, maxDepth,
        [&](const Step& step) {
            const AXElement& e = step.element;
            std::string description = trimmed(e, ax::kDescription);
            if (auto value = valueText(e)) {
                for (const Row& row : kRows) {
                    if (description != row.description) continue;
                    if (row.boolean)
                        transport[row.key] = *value == "1";
                    else
                        transport[row.key] = *value;
                    break;
                }
            }
            return Next::children;
        },
        depth, alsoRead);
}

Outcome LogicInspector::clickTransportButton(const std::string& description, const AXElement& in) const {
    const auto search = controlBarSearch(in);
    auto clicked = findAndClickButton(search.root, description, search.depth, search_depth::kControlBar);
    if (clicked.success || search.depth == 0) return clicked;
    return findAndClickButton(in, description, 0, search_depth::kControlBar);
}

// --- Playhead --------------------------------------------------------------------------------

std::optional<std::int64_t> LogicInspector::currentBar(const AXElement& in) const {
    const auto search = controlBarSearch(in);
    auto group = findDescendant(search.root, "Playhead Position", std::string("AXGroup"), search_depth::kControlBar,
                                search.depth);
    if (!group && search.depth > 0)
        group = findDescendant(in, "Playhead Position", std::string("AXGroup"), search_depth::kControlBar);
    if (!group) return std::nullopt;
    auto bar = findSlider(*group, "bar", search_depth::kPlayheadFields);
    if (!bar) return std::nullopt;
    return ax_read::wholeNumber(*bar);
}

void LogicInspector::collectAllPlayheadGroups(const AXElement& root, std::vector<AXElement>& into, int depth,
                                              int maxDepth) const {
    ax_tree::walk(
        root, maxDepth,
        [&](const Step& step) {
            const AXElement& e = step.element;
            if (textOf(e, ax::kRole) == "AXGroup" && trimmed(e, ax::kDescription) == "Playhead Position")
                into.push_back(e);
            return Next::children;
        },
        depth);
}

Outcome LogicInspector::movePlayhead(std::int64_t toBar, const AXElement& in) const {
    std::vector<AXElement> groups;
    collectAllPlayheadGroups(in, groups, 0, search_depth::kControlBar);
    if (groups.empty()) {
        PlayheadDebug::log("no Playhead Position AXGroup found in window");
        return {false, "No playhead position display found."};
    }
    // Logic Pro may show a second, read-only position display higher up; the editable one is
    // the lowest on screen.
    struct Candidate {
        AXElement group;
        Rect frame;
        double sortY;
    };
    std::vector<Candidate> candidates;
    for (const auto& g : groups) {
        Rect frame = frameForElement(g);
        candidates.push_back({g, frame, std::isfinite(frame.y) ? frame.y : 0.0});
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.sortY > b.sortY; });
    const Candidate& chosen = candidates.front();
    PlayheadDebug::log(fmt::format("target bar={} candidates={} chose frame=(x={} y={} w={} h={})", toBar,
                                   candidates.size(), truncated(chosen.frame.x), truncated(chosen.frame.y),
                                   truncated(chosen.frame.width), truncated(chosen.frame.height)));
    const bool moved =
        setSliderValue(chosen.group, "bar", static_cast<double>(toBar), search_depth::kPlayheadFields, 0).success;
    setSliderValue(chosen.group, "beat", 1, search_depth::kPlayheadFields, 0);
    setSliderValue(chosen.group, "division", 1, search_depth::kPlayheadFields, 0);
    setSliderValue(chosen.group, "tick", 1, search_depth::kPlayheadFields, 0);
    if (!moved) return {false, fmt::format("The playhead did not move to bar {}.", toBar)};
    return {true, fmt::format("Playhead at bar {}.", toBar)};
}

// --- Arrangement -----------------------------------------------------------------------------

namespace {

constexpr const char* kStartMarker = "Start Marker";
constexpr const char* kPlayheadThumb = "Playhead thumb";

// The frames of the start marker and the playhead thumb in the main window's tracks area, the first
// of each with a frame, as findElementFrame finds them: the kept ones, else a walk of the area that
// leaves out the contents and any list of track rows, where no marker is.
std::pair<std::optional<platform::Rect>, std::optional<platform::Rect>> markerFrames(const AXElement& area) {
    static const std::vector<std::string> kReads{ax::kRole,     ax::kDescription, ax::kTitle,
                                                 ax::kChildren, ax::kPosition,    ax::kSize};
    const char* names[2] = {kStartMarker, kPlayheadThumb};
    std::optional<platform::Rect> frames[2];
    bool searched = true;
    for (int i = 0; i < 2; ++i) {
        if (auto kept = detail::keptPart(area, names[i], kReads))
            if (auto frame = LogicInspector::frameForElement(*kept); frame != platform::Rect{}) frames[i] = frame;
        searched = searched && frames[i];
    }
    if (searched) return {frames[0], frames[1]};
    std::optional<AXElement> found[2];
    ax_tree::walk(
        area, search_depth::kArrangeArea,
        [&](const Step& step) {
            const std::string description = trimmed(step.element, ax::kDescription);
            for (int i = 0; i < 2; ++i) {
                if (description != names[i]) continue;
                if (found[i]) return Next::siblings;
                const auto frame = LogicInspector::frameForElement(step.element);
                if (frame == platform::Rect{}) return Next::siblings;
                found[i] = step.element;
                frames[i] = frame;
                return found[0] && found[1] ? Next::stop : Next::siblings;
            }
            if (description == "Tracks contents") return Next::siblings;
            // A list whose first element is a track's row or header holds tracks, not markers.
            if (const auto& children = step.children(); children && !children->empty()) {
                const AXElement& first = children->front();
                first.prefetch(kReads);
                if (LogicInspector::parseTrackDescription(trimmed(first, ax::kDescription))) return Next::siblings;
            }
            return Next::children;
        },
        1, {ax::kPosition, ax::kSize});
    for (int i = 0; i < 2; ++i) detail::keepPart(area, names[i], found[i]);
    return {frames[0], frames[1]};
}

}  // namespace

nlohmann::json LogicInspector::readArrangement(const AXElement& in, const std::optional<std::string>& trackName) const {
    // The tracks area's parts are looked for among its own children, leaving its track list unread;
    // a window without the area is searched whole.
    const auto area = detail::windowPart(in, "Tracks");
    std::optional<AXElement> contents;
    if (area) {
        contents = detail::keptPart(*area, "Tracks contents", {ax::kRole, ax::kDescription, ax::kChildren});
        if (!contents) {
            if (auto parts = area->elements(ax::kChildren))
                for (const auto& part : *parts) {
                    part.prefetch({ax::kRole, ax::kDescription, ax::kTitle, ax::kChildren});
                    if (trimmed(part, ax::kDescription) == "Tracks contents") {
                        contents = part;
                        break;
                    }
                }
            detail::keepPart(*area, "Tracks contents", contents);
        }
    }
    if (!contents) contents = findDescendant(in, "Tracks contents", std::nullopt, search_depth::kArrangeArea);
    if (!contents) return errorList("Tracks contents area not found");

    // Logic Pro does not expose its zoom, so the scale comes from the playhead's distance to the
    // start marker; with the playhead on bar 1 there is nothing to measure and a guess stays.
    std::optional<Rect> startFrame;
    std::optional<Rect> playheadFrame;
    if (area) std::tie(startFrame, playheadFrame) = markerFrames(*area);
    if (!area || !startFrame) startFrame = findElementFrame(in, kStartMarker, search_depth::kArrangeArea);
    if (!area || !playheadFrame) playheadFrame = findElementFrame(in, kPlayheadThumb, search_depth::kArrangeArea);
    double startX = startFrame.value_or(Rect{}).x;
    double playheadX = playheadFrame.value_or(Rect{}).x;
    double pointsPerBar = kDefaultPointsPerBar;
    if (auto bar = currentBar(in); bar && *bar >= 2 && startX < playheadX) {
        double measured = (playheadX - startX) / static_cast<double>(*bar - 1);
        if (std::isfinite(measured) && measured > 0) pointsPerBar = measured;
    }
    auto barAt = [&](double x) { return checkedRounded((x - startX) / pointsPerBar + 1.0, INT32_MIN, INT32_MAX); };

    // Each row and each region is one round trip: a row's children come with its description.
    contents->prefetchChildren({ax::kDescription, ax::kChildren});
    auto rows = contents->elements(ax::kChildren);
    if (!rows) return errorList("No track content areas found");

    std::string filter = trackName ? text::lowercased(*trackName) : std::string();
    nlohmann::json arrangement = nlohmann::json::array();
    for (const auto& row : *rows) {
        std::string description = trimmed(row, ax::kDescription);
        if (description.rfind("Track ", 0) != 0) continue;
        if (description.find('"') == std::string::npos && description.find("\u201C") == std::string::npos) continue;
        auto parsed = parseTrackDescription(description);
        if (!parsed) continue;
        if (trackName && text::lowercased(parsed->name).find(filter) == std::string::npos) continue;

        nlohmann::json entry{{"trackNumber", parsed->number}, {"name", parsed->name}, {"hasContent", false}};
        row.prefetchChildren({ax::kRole, ax::kPosition, ax::kSize, ax::kDescription});
        auto items = row.elements(ax::kChildren);
        if (!items) {
            arrangement.push_back(std::move(entry));
            continue;
        }
        std::vector<Region> regions;
        for (const auto& item : *items) {
            if (textOf(item, ax::kRole) != "AXLayoutItem") continue;
            Rect frame = frameForElement(item);
            if (!(frame.width > 0)) continue;
            Region r{frame.x, frame.x + frame.width, textOf(item, ax::kDescription).find("muted") != std::string::npos};
            // A frame that cannot be placed on a bar is no region we can report.
            if (!barAt(r.startX) || !barAt(r.endX)) continue;
            regions.push_back(r);
        }
        if (regions.empty()) {
            arrangement.push_back(std::move(entry));
            continue;
        }

        std::vector<Region> audible;
        std::copy_if(regions.begin(), regions.end(), std::back_inserter(audible),
                     [](const Region& r) { return !r.muted; });
        std::stable_sort(audible.begin(), audible.end(),
                         [](const Region& a, const Region& b) { return a.startX < b.startX; });
        nlohmann::json spans = nlohmann::json::array();
        auto emit = [&](const Region& run) {
            spans.push_back({{"startBar", std::max<std::int64_t>(1, *barAt(run.startX))},
                             {"endBar", std::max<std::int64_t>(1, *barAt(run.endX))}});
        };
        if (!audible.empty()) {
            Region run = audible.front();
            for (std::size_t i = 1; i < audible.size(); ++i) {
                if (audible[i].startX <= run.endX + kMergeGap) {
                    run.endX = std::max(run.endX, audible[i].endX);
                } else {
                    emit(run);
                    run = audible[i];
                }
            }
            emit(run);
        }
        entry["hasContent"] = true;
        entry["spans"] = std::move(spans);
        arrangement.push_back(std::move(entry));
    }
    return arrangement;
}

}  // namespace corvane
