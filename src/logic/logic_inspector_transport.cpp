#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <variant>

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

LogicInspector::ArrangementReading unreadable(std::string why) { return {std::move(why), {}}; }

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
            for (const Row& row : kRows) {
                if (description != row.description) continue;
                if (row.boolean) {
                    if (auto on = ax_read::toggleState(e)) transport[row.key] = *on;
                } else if (auto value = valueText(e)) {
                    transport[row.key] = *value;
                }
                break;
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

// Every "Playhead Position" group, leaving out what holds none: menus, the Inspector and its
// channel strips, and the tracks area.
std::vector<AXElement> positionDisplays(const AXElement& in) {
    std::vector<AXElement> groups;
    // From the window's children on: the window holds no position display itself.
    const ax_tree::Visit visit = [&](const Step& step) {
        const AXElement& e = step.element;
        const std::string role = textOf(e, ax::kRole);
        const std::string description = trimmed(e, ax::kDescription);
        if (role == "AXGroup" && description == "Playhead Position") {
            groups.push_back(e);
            return Next::siblings;
        }
        if (role == "AXMenuBar" || role == "AXMenu" || role == "AXLayoutArea" ||
            (role == "AXGroup" && (description == "Tracks" || description == "Inspector")))
            return Next::siblings;
        return Next::children;
    };
    for (const auto& child : in.children()) ax_tree::walk(child, search_depth::kControlBar, visit, 1);
    return groups;
}

// A kept position display is checked with what a walk reads of it.
const std::vector<std::string> kDisplayReads{ax::kRole, ax::kDescription, ax::kTitle, ax::kChildren};

}  // namespace

// The editable position display: the one kept from an earlier search while a read still finds it
// so described, else the lowest of those found now (then kept).
std::optional<LogicInspector::PositionDisplay> LogicInspector::positionDisplay(const AXElement& in) {
    if (auto kept = detail::keptArea(in, "Playhead Position", kDisplayReads)) return PositionDisplay{*kept, 0, {}};
    const auto groups = positionDisplays(in);
    std::optional<PositionDisplay> found;
    // One display alone needs no frames to be chosen.
    if (groups.size() == 1) found = PositionDisplay{groups.front(), 1, {}};
    if (groups.size() > 1) {
        const auto lowest = lowestFirst(groups).front();
        found = PositionDisplay{lowest.group, groups.size(), lowest.frame};
    }
    detail::keepArea(in, "Playhead Position", found ? std::optional<AXElement>(found->group) : std::nullopt);
    return found;
}

Outcome LogicInspector::movePlayhead(std::int64_t toBar, const AXElement& in) const {
    // A display (kept, or found through a held window) may answer its check and go stale in the
    // writes that follow: the move is tried again on a display found anew through the window
    // found anew, only after a stale handle, as the strip's sliders are.
    SliderWrites writes;
    std::optional<bool> reached;
    bool shown = false;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const AXElement window = attempt == 0 ? in : findMainWindow().value_or(in);
        if (attempt > 0) detail::keepArea(window, "Playhead Position", std::nullopt);
        const auto display = positionDisplay(window);
        if (!display) {
            if (attempt == 0 && ax_read::gone(in, ax::kChildren)) continue;
            break;
        }
        shown = true;
        reached = movePlayheadOn(*display, toBar, writes);
        if (reached || !writes.stale) break;
    }
    if (!shown) {
        PlayheadDebug::log("no Playhead Position AXGroup found in window");
        return {false, "No playhead position display found."};
    }
    if (!reached || !*reached) return {false, fmt::format("The playhead did not move to bar {}.", toBar)};
    return {true, fmt::format("Playhead at bar {}.", toBar)};
}

// Whether the playhead reached the bar; none where the bar field could not be written.
std::optional<bool> LogicInspector::movePlayheadOn(const PositionDisplay& display, std::int64_t toBar,
                                                   SliderWrites& writes) const {
    // Logic Pro clamps the bar field to the project's ends: the end is written, not a bar the field
    // never shows, which would be written again and again.
    double bar = static_cast<double>(toBar);
    if (const auto field = findSlider(display.group, "bar", search_depth::kPlayheadFields, 0)) {
        field->prefetch({ax::kMaxValue, ax::kMinValue});
        if (const auto highest = field->number(ax::kMaxValue); highest && bar > *highest) bar = *highest;
        if (const auto lowest = field->number(ax::kMinValue); lowest && bar < *lowest) bar = *lowest;
    }
    const bool written = setSliderValue(display.group, "bar", bar, search_depth::kPlayheadFields, 0, &writes).success;
    // The frame is read once the fields are written: every read counts against a handle that may
    // go stale, and the trace waits for it.
    const auto trace = [&] {
        const platform::Rect frame = display.frame ? *display.frame : frameForElement(display.group);
        // A display kept from an earlier search was the lowest of those found then.
        const std::string among = display.candidates ? std::to_string(display.candidates) : std::string("kept");
        PlayheadDebug::log(fmt::format("target bar={} candidates={} chose frame=(x={} y={} w={} h={})", toBar, among,
                                       truncated(frame.x), truncated(frame.y), truncated(frame.width),
                                       truncated(frame.height)));
    };
    if (!written && writes.stale) {
        trace();
        return std::nullopt;
    }
    setSliderValue(display.group, "beat", 1, search_depth::kPlayheadFields, 0);
    setSliderValue(display.group, "division", 1, search_depth::kPlayheadFields, 0);
    setSliderValue(display.group, "tick", 1, search_depth::kPlayheadFields, 0);
    trace();
    return written && bar == static_cast<double>(toBar);
}

// --- Arrangement -----------------------------------------------------------------------------

namespace {

// What the search for the tracks' contents and the ruler's marks reads of each element: a mark's
// place comes with it.
const std::vector<std::string> kMarkReads{ax::kRole,     ax::kDescription, ax::kTitle,
                                          ax::kChildren, ax::kPosition,    ax::kSize};
const std::vector<std::string> kKeptMarkReads{ax::kDescription, ax::kPosition};
// A position display's fields are read with their value and range.
const std::vector<std::string> kFieldReads{ax::kValue, ax::kMaxValue};

bool placedOnScreen(const AXElement& mark) {
    const auto at = mark.point(ax::kPosition);
    return at && std::isfinite(at->x);
}

// What holds neither the arrangement, nor its ruler, nor a position display: menus, the control
// bar (for the arrangement) and the Inspector with its channel strips.
bool holdsNoArrangement(const AXElement& e, const std::string& described) {
    const std::string role = textOf(e, ax::kRole);
    return role == "AXMenuBar" || role == "AXMenu" || (role == "AXLayoutArea" && described == "Mixer") ||
           (role == "AXGroup" && (described == "Control Bar" || described == "Inspector"));
}

struct ArrangePlaces {
    std::optional<AXElement> contents;  // looked for only when asked
    std::optional<AXElement> start;
    std::optional<AXElement> thumb;
};

// The tracks' contents, the start marker and the playhead thumb nearest below `in` (depths 1 to
// kArrangeArea-1), in one search. A ruler holds a handful of marks where the track list and the
// tracks' contents hold a row per track: at each depth the shorter lists are read first, so the
// rows are read only while no ruler turned up.
ArrangePlaces findArrangePlaces(const AXElement& in, bool withContents) {
    ArrangePlaces found;
    auto count = [](const AXElement& e) { return e.elements(ax::kChildren).value_or(std::vector<AXElement>{}).size(); };
    std::vector<AXElement> level{in};
    for (int depth = 1; depth < search_depth::kArrangeArea && !level.empty(); ++depth) {
        std::stable_sort(level.begin(), level.end(),
                         [&](const AXElement& a, const AXElement& b) { return count(a) < count(b); });
        std::vector<AXElement> below;
        for (const auto& parent : level) {
            parent.prefetchChildren(kMarkReads);
            for (const auto& e : parent.children()) {
                const std::string described = trimmed(e, ax::kDescription);
                if (withContents && !found.contents && described == "Tracks contents") found.contents = e;
                if (!found.start && described == "Start Marker" && placedOnScreen(e)) found.start = e;
                if (!found.thumb && described == "Playhead thumb" && placedOnScreen(e)) found.thumb = e;
                if (found.start && found.thumb && (found.contents || !withContents)) return found;
                if (holdsNoArrangement(e, described)) continue;
                if (count(e) > 0) below.push_back(e);
            }
        }
        level = std::move(below);
    }
    return found;
}

// A mark kept from an earlier call while it still says what it is and stands on screen, else the
// one found now.
std::optional<AXElement> keptMark(const AXElement& in, const char* description) {
    auto mark = detail::keptArea(in, description, kKeptMarkReads);
    if (mark && placedOnScreen(*mark)) return mark;
    return std::nullopt;
}

}  // namespace

std::variant<LogicInspector::BarScale, std::string> LogicInspector::measureBarScale(const AXElement& in) const {
    // Logic Pro does not expose its zoom: the ruler's start marker is where bar 1 begins, and the
    // playhead's thumb on the ruler stands where the position display says.
    ArrangePlaces marks;
    std::optional<PositionDisplay> chosen;
    auto locate = [&](const AXElement& window) {
        marks = {std::nullopt, keptMark(window, "Start Marker"), keptMark(window, "Playhead thumb")};
        if (!marks.start || !marks.thumb) {
            marks = findArrangePlaces(window, false);
            detail::keepArea(window, "Start Marker", marks.start);
            detail::keepArea(window, "Playhead thumb", marks.thumb);
        }
        chosen = positionDisplay(window);
    };
    locate(in);
    // A window that no longer answers is found again: what it failed to show was not read.
    if ((!marks.start || !marks.thumb || !chosen) && !in.string(ax::kRole))
        if (const auto window = findMainWindow()) locate(*window);
    const auto& start = marks.start;
    auto thumb = marks.thumb;
    if (!start || !thumb) return unmeasurable("the ruler shows no start marker or playhead.");
    if (!chosen) return unmeasurable("no playhead position display found.");
    AXElement display = chosen->group;
    // Each field read when it is needed, its value and range with it; the display itself was read
    // when it was found or checked.
    auto field = [&](const char* name) -> std::optional<AXElement> {
        for (const auto& child : display.children())
            if (auto found = ax_tree::findFirst(
                    child, search_depth::kPlayheadFields,
                    [&](const AXElement& e) {
                        return textOf(e, ax::kRole) == "AXSlider" && trimmed(e, ax::kDescription) == name;
                    },
                    1, kFieldReads))
                return found;
        return std::nullopt;
    };
    auto barField = field("bar");
    // Logic Pro may rebuild its window on any change, or a handle may stop answering after a few
    // reads: the display, its bar field and the thumb are then found again from the main window.
    auto findAgain = [&]() -> bool {
        const auto window = findMainWindow();
        if (!window) return false;
        const auto again = positionDisplay(*window);
        if (!again) return false;
        auto thumbAgain = keptMark(*window, "Playhead thumb");
        if (!thumbAgain) {
            thumbAgain = findArrangePlaces(*window, false).thumb;
            detail::keepArea(*window, "Playhead thumb", thumbAgain);
        }
        // What was held is kept unless all is found again.
        const AXElement held = display;
        display = again->group;
        auto fieldAgain = field("bar");
        if (!fieldAgain || !thumbAgain) {
            display = held;
            return false;
        }
        barField = std::move(fieldAgain);
        thumb = std::move(thumbAgain);
        return true;
    };
    auto bar = barField ? ax_read::wholeNumber(*barField) : std::nullopt;
    if (!bar && findAgain()) bar = ax_read::wholeNumber(*barField);
    if (!barField || !bar) return unmeasurable("the playhead's bar cannot be read.");

    BarScale scale;
    scale.startX = start->point(ax::kPosition).value_or(Point{}).x;
    scale.lastBar = ax_read::wholeNumber(*barField, ax::kMaxValue);
    auto thumbAt = thumb->point(ax::kPosition);
    if (!thumbAt && findAgain()) thumbAt = thumb->point(ax::kPosition);
    const double thumbX = thumbAt.value_or(Point{}).x;
    auto accept = [&](double pointsPerBar) -> std::variant<BarScale, std::string> {
        if (!std::isfinite(pointsPerBar) || !(pointsPerBar > 0) || !std::isfinite(scale.startX))
            return unmeasurable("the ruler's marks do not follow the playhead.");
        scale.pointsPerBar = pointsPerBar;
        return scale;
    };
    // Within the first bar the playhead is moved whatever its beat: the rest of its place is not read.
    auto onFirstCount = [&](const char* name) {
        const auto f = field(name);
        return f && ax_read::wholeNumber(*f) == 1;
    };
    if (*bar >= 2 && onFirstCount("beat") && onFirstCount("division") && onFirstCount("tick"))
        return accept((thumbX - scale.startX) / static_cast<double>(*bar - 1));
    // A second place: only the bar changes, so the two places lie whole bars apart wherever in
    // the bar the playhead stands.
    std::int64_t other = *bar + kMeasuringBars;
    if (scale.lastBar && other > *scale.lastBar) other = std::max<std::int64_t>(*scale.lastBar, 1);
    if (other == *bar) other = std::max<std::int64_t>(*bar - kMeasuringBars, 1);
    if (other == *bar) return unmeasurable("the song is one bar long.");
    if (barField->setAttributeValue(ax::kValue, static_cast<double>(other)) != platform::AXError::success &&
        findAgain())
        barField->setAttributeValue(ax::kValue, static_cast<double>(other));
    auto moved = ax_read::wholeNumber(*barField);
    auto movedTo = thumb->point(ax::kPosition);
    if ((!moved || !movedTo) && findAgain()) {
        moved = ax_read::wholeNumber(*barField);
        movedTo = thumb->point(ax::kPosition);
    }
    // A read leaves the song as it found it, or says what it changed: a write or read-back that
    // failed on a handle gone stale is tried again on the field found again.
    auto putBack = [&] {
        barField->setAttributeValue(ax::kValue, static_cast<double>(*bar));
        return ax_read::wholeNumber(*barField) == bar;
    };
    if (!putBack() && !(findAgain() && (ax_read::wholeNumber(*barField) == bar || putBack())))
        return fmt::format("The playhead was moved to measure the bar scale and could not be put back on bar {}.",
                           *bar);
    if (!moved || *moved == *bar || !movedTo)
        return unmeasurable(fmt::format("the playhead did not leave bar {}.", *bar));
    return accept((movedTo->x - thumbX) / static_cast<double>(*moved - *bar));
}

LogicInspector::ArrangementReading LogicInspector::readArrangement(const AXElement& in,
                                                                   const std::optional<std::string>& trackName) const {
    // The rows are read before the scale is measured: moving the playhead moves no region, and what
    // was read before it would have to be read again after. Each row and each region is one round
    // trip: a row's children come with its description.
    struct Row {
        ParsedTrackDescription track;
        std::optional<std::vector<Region>> regions;  // absent when the row's items cannot be listed
    };
    std::string filter = trackName ? text::lowercased(*trackName) : std::string();
    std::vector<Row> rows;
    // Nothing when every row was read, else why not.
    auto readRows = [&](const AXElement& window) -> std::optional<std::string> {
        rows.clear();
        // Checked with the read that also lists its rows.
        auto contents = detail::keptArea(window, "Tracks contents", {ax::kDescription, ax::kChildren});
        if (!contents) {
            // The ruler's marks are found on the way, and kept for the bar scale.
            const auto places = findArrangePlaces(window, true);
            contents = places.contents;
            detail::keepArea(window, "Tracks contents", contents);
            detail::keepArea(window, "Start Marker", places.start);
            detail::keepArea(window, "Playhead thumb", places.thumb);
        }
        if (!contents) return "Tracks contents area not found";
        contents->prefetchChildren({ax::kDescription, ax::kChildren});
        auto rowElements = contents->elements(ax::kChildren);
        if (!rowElements) return "No track content areas found";
        bool everyRow = true;
        for (const auto& row : *rowElements) {
            std::string description = trimmed(row, ax::kDescription);
            if (description.rfind("Track ", 0) != 0) continue;
            if (description.find('"') == std::string::npos && description.find("\u201C") == std::string::npos)
                continue;
            auto parsed = parseTrackDescription(description);
            if (!parsed) continue;
            if (trackName && text::lowercased(parsed->name).find(filter) == std::string::npos) continue;
            Row read{*parsed, std::nullopt};
            row.prefetchChildren({ax::kRole, ax::kPosition, ax::kSize, ax::kDescription});
            if (auto items = row.elements(ax::kChildren)) {
                read.regions.emplace();
                for (const auto& item : *items) {
                    if (textOf(item, ax::kRole) != "AXLayoutItem") continue;
                    Rect frame = frameForElement(item);
                    if (!(frame.width > 0)) continue;
                    read.regions->push_back({frame.x, frame.x + frame.width,
                                             textOf(item, ax::kDescription).find("muted") != std::string::npos});
                }
            } else {
                everyRow = false;
            }
            rows.push_back(std::move(read));
        }
        if (!everyRow) return "A track's content area could not be read";
        return std::nullopt;
    };
    // A handle may stop answering after a few reads, or a change rebuild the window: what could not
    // be read is read again from handles found anew, from the main window when the one given no
    // longer answers.
    AXElement window = in;
    auto failed = readRows(window);
    bool fromApplication = false;
    for (int again = 0; failed && again < 2; ++again) {
        if (fromApplication || !in.string(ax::kRole))
            if (auto now = findMainWindow()) {
                window = *now;
                fromApplication = true;
            }
        detail::keepArea(window, "Tracks contents", std::nullopt);
        failed = readRows(window);
    }
    // A row that still cannot be listed is told as holding nothing known, as before.
    if (failed && !rows.empty()) failed.reset();
    if (failed) return unreadable(*failed);

    const auto measured = measureBarScale(window);
    if (const auto* why = std::get_if<std::string>(&measured)) return unreadable(*why);
    const BarScale& scale = std::get<BarScale>(measured);
    auto barAt = [&](double x) {
        return checkedRounded((x - scale.startX) / scale.pointsPerBar + 1.0, INT32_MIN, INT32_MAX);
    };

    ArrangementReading arrangement;
    for (const auto& row : rows) {
        ArrangementRow entry{row.track.number, row.track.name, std::nullopt};
        std::vector<Region> regions;
        // A frame that cannot be placed on a bar is no region we can report.
        if (row.regions)
            std::copy_if(row.regions->begin(), row.regions->end(), std::back_inserter(regions),
                         [&](const Region& r) { return barAt(r.startX) && barAt(r.endX); });
        if (regions.empty()) {
            arrangement.rows.push_back(std::move(entry));
            continue;
        }

        std::vector<Region> audible;
        std::copy_if(regions.begin(), regions.end(), std::back_inserter(audible),
                     [](const Region& r) { return !r.muted; });
        std::stable_sort(audible.begin(), audible.end(),
                         [](const Region& a, const Region& b) { return a.startX < b.startX; });
        std::vector<BarSpan> spans;
        auto emit = [&](const Region& run) {
            const auto startBar = std::max<std::int64_t>(1, *barAt(run.startX));
            auto endBar = std::max<std::int64_t>(1, *barAt(run.endX));
            // A region may run on past the song's end, where nothing plays.
            if (scale.lastBar) {
                if (startBar > *scale.lastBar) return;
                endBar = std::min(endBar, *scale.lastBar + 1);
            }
            spans.push_back({startBar, endBar});
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
        entry.spans = std::move(spans);
        arrangement.rows.push_back(std::move(entry));
    }
    return arrangement;
}

void to_json(nlohmann::json& j, const LogicInspector::ArrangementReading& r) {
    j = nlohmann::json::array();
    if (r.error) {
        j.push_back({{"error", *r.error}});
        return;
    }
    for (const auto& row : r.rows) {
        nlohmann::json entry{
            {"trackNumber", row.trackNumber}, {"name", row.name}, {"hasContent", row.spans.has_value()}};
        if (row.spans) {
            entry["spans"] = nlohmann::json::array();
            for (const auto& span : *row.spans)
                entry["spans"].push_back({{"startBar", span.startBar}, {"endBar", span.endBar}});
        }
        j.push_back(std::move(entry));
    }
}

}  // namespace corvane
