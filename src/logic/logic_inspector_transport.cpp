#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <variant>
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

constexpr double kMergeGap = 2.0;
// How far the playhead is moved to measure the bar scale: far enough that a point's rounding
// on screen hardly changes it.
constexpr std::int64_t kMeasuringBars = 4;

std::string unmeasurable(const std::string& why) { return "Cannot measure the bar scale: " + why; }

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
    if (auto bar = detail::windowArea(window, "Control Bar")) return {*bar, 1};
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

namespace {

struct Candidate {
    AXElement group;
    platform::Rect frame;
    double sortY;
};

// Logic Pro may show a second, read-only position display higher up; the editable one is the
// lowest on screen, the first found of equal ones.
std::vector<Candidate> lowestFirst(const std::vector<AXElement>& groups) {
    std::vector<Candidate> candidates;
    for (const auto& g : groups) {
        platform::Rect frame = LogicInspector::frameForElement(g);
        candidates.push_back({g, frame, std::isfinite(frame.y) ? frame.y : 0.0});
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.sortY > b.sortY; });
    return candidates;
}

// Every playhead position display, as collectAllPlayheadGroups finds them, leaving out what
// holds none: menus, the channel strips and the tracks area.
std::vector<AXElement> positionDisplays(const AXElement& in) {
    std::vector<AXElement> groups;
    ax_tree::walk(in, search_depth::kControlBar, [&](const Step& step) {
        const AXElement& e = step.element;
        const std::string role = textOf(e, ax::kRole);
        const std::string description = trimmed(e, ax::kDescription);
        if (role == "AXGroup" && description == "Playhead Position") {
            groups.push_back(e);
            return Next::siblings;
        }
        if (role == "AXMenuBar" || role == "AXMenu" || role == "AXLayoutArea" ||
            (role == "AXGroup" && description == "Tracks"))
            return Next::siblings;
        return Next::children;
    });
    return groups;
}

}  // namespace

Outcome LogicInspector::movePlayhead(std::int64_t toBar, const AXElement& in) const {
    std::vector<AXElement> groups;
    collectAllPlayheadGroups(in, groups, 0, search_depth::kControlBar);
    if (groups.empty()) {
        PlayheadDebug::log("no Playhead Position AXGroup found in window");
        return {false, "No playhead position display found."};
    }
    const auto candidates = lowestFirst(groups);
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

std::variant<LogicInspector::BarScale, std::string> LogicInspector::measureBarScale(const AXElement& in) const {
    // Logic Pro does not expose its zoom: the ruler's start marker is where bar 1 begins, and the
    // playhead's thumb on the ruler stands where the position display says.
    auto onRuler = [&](const char* description) {
        return findNearestDescendant(in, description, search_depth::kArrangeArea, [](const AXElement& e) {
            const auto at = e.point(ax::kPosition);
            return at && std::isfinite(at->x);
        });
    };
    const auto start = onRuler("Start Marker");
    const auto thumb = onRuler("Playhead thumb");
    if (!start || !thumb) return unmeasurable("the ruler shows no start marker or playhead.");
    const auto groups = positionDisplays(in);
    if (groups.empty()) return unmeasurable("no playhead position display found.");
    const AXElement display = lowestFirst(groups).front().group;
    display.prefetchChildren({ax::kRole, ax::kDescription, ax::kTitle, ax::kChildren, ax::kValue, ax::kMaxValue});
    std::optional<std::int64_t> fields[4];
    std::optional<AXElement> barField;
    const char* names[4] = {"bar", "beat", "division", "tick"};
    for (int i = 0; i < 4; ++i)
        if (auto field = findSlider(display, names[i], search_depth::kPlayheadFields)) {
            fields[i] = ax_read::wholeNumber(*field);
            if (i == 0) barField = field;
        }
    const auto bar = fields[0];
    if (!barField || !bar) return unmeasurable("the playhead's bar cannot be read.");

    BarScale scale;
    scale.startX = start->point(ax::kPosition).value_or(Point{}).x;
    scale.lastBar = ax_read::wholeNumber(*barField, ax::kMaxValue);
    const double thumbX = thumb->point(ax::kPosition).value_or(Point{}).x;
    auto accept = [&](double pointsPerBar) -> std::variant<BarScale, std::string> {
        if (!std::isfinite(pointsPerBar) || !(pointsPerBar > 0) || !std::isfinite(scale.startX))
            return unmeasurable("the ruler's marks do not follow the playhead.");
        scale.pointsPerBar = pointsPerBar;
        return scale;
    };
    const bool onDownbeat = fields[1] == 1 && fields[2] == 1 && fields[3] == 1;
    if (onDownbeat && *bar >= 2) return accept((thumbX - scale.startX) / static_cast<double>(*bar - 1));

    // A second place: only the bar changes, so the two places lie whole bars apart wherever in
    // the bar the playhead stands.
    std::int64_t other = *bar + kMeasuringBars;
    if (scale.lastBar && other > *scale.lastBar) other = std::max<std::int64_t>(*scale.lastBar, 1);
    if (other == *bar) other = std::max<std::int64_t>(*bar - kMeasuringBars, 1);
    if (other == *bar) return unmeasurable("the song is one bar long.");
    barField->setAttributeValue(ax::kValue, static_cast<double>(other));
    const auto moved = ax_read::wholeNumber(*barField);
    const auto movedTo = thumb->point(ax::kPosition);
    barField->setAttributeValue(ax::kValue, static_cast<double>(*bar));
    // A read leaves the song as it found it, or says what it changed.
    if (ax_read::wholeNumber(*barField) != bar)
        return fmt::format("The playhead was moved to measure the bar scale and could not be put back on bar {}.",
                           *bar);
    if (!moved || *moved == *bar || !movedTo)
        return unmeasurable(fmt::format("the playhead did not leave bar {}.", *bar));
    return accept((movedTo->x - thumbX) / static_cast<double>(*moved - *bar));
}

nlohmann::json LogicInspector::readArrangement(const AXElement& in, const std::optional<std::string>& trackName) const {
    auto contents = findTracksArea(in);
    if (!contents) return errorList("Tracks contents area not found");
    const auto measured = measureBarScale(in);
    if (const auto* why = std::get_if<std::string>(&measured)) return errorList(*why);
    const BarScale& scale = std::get<BarScale>(measured);
    auto barAt = [&](double x) {
        return checkedRounded((x - scale.startX) / scale.pointsPerBar + 1.0, INT32_MIN, INT32_MAX);
    };

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
            const auto startBar = std::max<std::int64_t>(1, *barAt(run.startX));
            auto endBar = std::max<std::int64_t>(1, *barAt(run.endX));
            // A region may run on past the song's end, where nothing plays.
            if (scale.lastBar) {
                if (startBar > *scale.lastBar) return;
                endBar = std::min(endBar, *scale.lastBar + 1);
            }
            spans.push_back({{"startBar", startBar}, {"endBar", endBar}});
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
