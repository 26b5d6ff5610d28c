#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <unordered_set>
#include <utility>

#include "logic/ax_read.h"
#include "logic/ax_tree.h"
#include "logic/key_codes.h"
#include "logic/logic_inspector.h"
#include "logic/logic_inspector_internal.h"
#include "logic/logic_messages.h"
#include "logic/logic_timing.h"
#include "logic/search_depths.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "support/json_fields.h"
#include "support/numbers.h"
#include "support/regex.h"
#include "support/unicode.h"

namespace corvane {

using RenameResult = LogicInspector::RenameResult;
using SendLevelResult = LogicInspector::SendLevelResult;
using SendKnobResult = LogicInspector::SendKnobResult;
using BusTrackResult = LogicInspector::BusTrackResult;
using detail::rawKnobValue;

namespace {

std::string stripShowsAnother(const std::string& trackName, const std::string& shown) {
    return "The mixer strip shows " + (shown.empty() ? std::string("no track") : "'" + shown + "'") + ", not " +
           trackName + ", so its send was not written: the selection moved meanwhile; try again.";
}

std::int64_t maxRaw(const AXElement& knob) {
    if (auto v = knob.number(ax::kMaxValue))
        if (auto i = checkedInteger(*v, INT64_MIN / 2, INT64_MAX / 2)) return *i;
    return LogicInspector::kSendKnobDefaultMaxRaw;
}

bool writeRaw(const AXElement& knob, std::int64_t raw) {
    return knob.setAttributeValue(ax::kValue, raw) == platform::AXError::success;
}

// "-∞ dB" for a muted send, "?" when unknown, else "%+.1f dB".
std::string dbText(const std::optional<double>& db) {
    if (!db) return "?";
    if (std::isinf(*db) && *db < 0) return "-\u221E dB";
    return fmt::format("{:+.1f} dB", *db);
}

// The canonical form of a bus label, so that "B 3", "b  3" and "Bus 3" compare equal.
std::string canonicalize(const std::string& label) {
    std::string s = text::lowercased(text::trimmingWhitespace(label));
    static const Regex shortForm(R"(^b\s+(\d{1,3})$)");
    if (!shortForm.matches(s)) return s;
    auto characters = text::graphemes(s);
    std::string rest;
    for (std::size_t i = 2; i < characters.size(); ++i) rest += characters[i];
    return "bus " + text::trimmingWhitespace(rest);
}

// The send walks place the group and the knob by their frames, and a touch leaves the knob where
// it stood: read with the rest.
const std::vector<std::string> kPlaced{ax::kPosition, ax::kSize, ax::kValue};

bool isNamedStereoOut(const LogicInspector::TrackHeader& h) { return text::equalsIgnoringCase(h.name, "Stereo Out"); }

// What the header walks read of a row, so that a row read here costs them nothing more.
const std::vector<std::string> kRowReads{ax::kRole,     ax::kDescription, ax::kTitle,   ax::kChildren,
                                         ax::kPosition, ax::kSize,        ax::kSelected};

// The row's track, when the row is a track header.
std::optional<LogicInspector::ParsedTrackDescription> headerOfRow(const AXElement& row) {
    row.prefetch(kRowReads);
    return LogicInspector::parseTrackDescription(text::trimmingWhitespaceAndNewlines(textOf(row, ax::kDescription)));
}

// Whether a track of some name is in the track list, as far as the places kept from the last
// listing tell it without reading the whole list again.
struct Listing {
    bool known = false;
    std::optional<std::string> name;  // as its header shows it, when listed
    // the only header of that name, when a listing read within this call had no other
    std::optional<LogicInspector::TrackHeader> alone;
};

Listing listingFromKeptPlaces(const LogicInspector& logic, const AXElement& window, const std::string& name) {
    const auto& kept = detail::keptPlaces();
    if (auto header = logic.keptHeaderNamed(window, name)) {
        const bool alone = kept.listedNow && std::find(kept.sharedNames.begin(), kept.sharedNames.end(),
                                                       text::lowercased(header->name)) == kept.sharedNames.end();
        return {true, header->name, alone ? header : std::nullopt};
    }
    // The rows the last listing had bore other names then; a row keeps its handle through a
    // rename, so they are taken as read only when that listing was read in this call.
    if (kept.open == 0 || !(kept.headersWindow == window) || kept.headerParents.empty()) return {};
    std::unordered_set<AXElement, platform::AXElementHash> listed;
    if (kept.listedNow && kept.namedHeadersWindow == window)
        for (const auto& [lowered, header] : kept.namedHeaders) listed.insert(header);
    Listing listing{true, std::nullopt, std::nullopt};
    for (const auto& list : kept.headerParents) {
        if (listing.name) break;
        const auto rows = list.element.elements(ax::kChildren);
        if (!rows) return {};
        for (const auto& row : *rows) {
            if (listing.name) break;
            if (listed.count(row)) continue;
            const auto header = headerOfRow(row);
            if (!header) return {};  // it may hold headers of its own
            if (text::equalsIgnoringCase(header->name, name)) listing.name = header->name;
        }
    }
    return listing;
}

// The element that holds the last kept list of headers: Logic Pro rebuilds a list whose rows
// change, within the same holder.
std::optional<AXElement> keptListHolder(const AXElement& window) {
    const auto& kept = detail::keptPlaces();
    if (kept.open == 0 || !(kept.headersWindow == window) || kept.headerParents.empty() ||
        kept.headerParents.back().ancestors.empty())
        return std::nullopt;
    return kept.headerParents.back().ancestors.back();
}

// The children of the kept list's holder, before Logic Pro is asked to add a track to the list.
struct ListHolder {
    AXElement element;
    std::vector<AXElement> children;
};
std::optional<ListHolder> listHolderBeforeAdding(const AXElement& window) {
    const auto holder = keptListHolder(window);
    if (!holder) return std::nullopt;
    auto children = holder->elements(ax::kChildren);
    if (!children) return std::nullopt;
    return ListHolder{*holder, std::move(*children)};
}

// Logic Pro puts a track it adds to the list at the end: the last row of a list new in the holder,
// when it bears that name (any name, without one). Remembered under it, as a listing would.
std::optional<LogicInspector::TrackHeader> addedLast(const AXElement& window, const ListHolder& holder,
                                                     const std::optional<std::string>& name) {
    const auto now = holder.element.elements(ax::kChildren);
    if (!now) return std::nullopt;
    for (const auto& list : *now) {
        if (std::find(holder.children.begin(), holder.children.end(), list) != holder.children.end()) continue;
        const auto rows = list.elements(ax::kChildren);
        if (!rows || rows->empty()) continue;
        auto header = headerOfRow(rows->back());
        if (!header || (name && !text::equalsIgnoringCase(header->name, *name))) continue;
        // Where the list and the header are now, as the next search would find them.
        auto& kept = detail::keptPlaces();
        if (kept.open > 0 && kept.headersWindow == window && !kept.headerParents.empty() &&
            !kept.headerParents.back().ancestors.empty() &&
            kept.headerParents.back().ancestors.back() == holder.element)
            kept.headerParents.back().element = list;
        if (kept.open > 0 && kept.namedHeadersWindow == window)
            kept.namedHeaders[text::lowercased(header->name)] = rows->back();
        return LogicInspector::TrackHeader{rows->back(), header->number, header->name, false, false};
    }
    return std::nullopt;
}

// The bus track's name; when other listed tracks bear it too, with the numbers that tell them apart.
std::string busTrackAnswer(const std::string& name, const std::optional<std::int64_t>& busTrack,
                           const std::vector<LogicInspector::TrackHeader>& named) {
    std::vector<std::int64_t> others;
    for (const auto& h : named)
        if (h.trackNumber != busTrack) others.push_back(h.trackNumber);
    if (others.empty()) return name;
    std::string numbers;
    for (std::size_t i = 0; i < others.size(); ++i)
        numbers += (i == 0 ? "" : i + 1 == others.size() ? " and " : ", ") + std::to_string(others[i]);
    if (!busTrack) return fmt::format("{} (tracks {} are all named '{}')", name, numbers, name);
    return fmt::format("{} (track {}; {} {} {} also named '{}')", name, *busTrack,
                       others.size() == 1 ? "track" : "tracks", numbers, others.size() == 1 ? "is" : "are", name);
}

// The strip at an index of the Inspector's mixer area, searched for an automation control.
template <class Recurse>
std::optional<AXElement> automationControl(const LogicInspector& inspector, const AXElement& window, int stripIndex,
                                           Recurse recurse) {
    auto mixer = inspector.findMixerArea(window);
    if (!mixer) return std::nullopt;
    auto strips = mixer->elements(ax::kChildren);
    if (!strips || stripIndex < 0 || stripIndex >= static_cast<int>(strips->size())) return std::nullopt;
    std::optional<AXElement> result;
    recurse((*strips)[static_cast<std::size_t>(stripIndex)], result, 0, search_depth::kSendsAndAutomation);
    return result;
}

// In a group described "<Mode>, automation", the first direct child of the wanted role and description.
void findAutomationChild(const AXElement& element, const char* role, const char* description,
                         std::optional<AXElement>& result, int depth, int maxDepth) {
    if (result) return;
    ax_tree::walk(
        element, maxDepth,
        [&](const Step& step) {
            const std::string lower = text::lowercased(textOf(step.element, ax::kDescription));
            if (textOf(step.element, ax::kRole) == "AXGroup" && lower.ends_with(", automation")) {
                // Read as the walk reads them: the children with their roles and descriptions at once.
                if (const auto& children = step.childrenRead())
                    for (const auto& child : *children)
                        if (textOf(child, ax::kRole) == role && textOf(child, ax::kDescription) == description) {
                            result = child;
                            return Next::stop;
                        }
            }
            return Next::children;
        },
        depth);
}

// The headers of one reading that another lacks, by number.
std::vector<LogicInspector::TrackHeader> onlyIn(const std::vector<LogicInspector::TrackHeader>& these,
                                                const std::vector<LogicInspector::TrackHeader>& other) {
    std::vector<LogicInspector::TrackHeader> out;
    for (const auto& h : these)
        if (std::none_of(other.begin(), other.end(),
                         [&](const LogicInspector::TrackHeader& o) { return o.trackNumber == h.trackNumber; }))
            out.push_back(h);
    return out;
}

std::set<std::int64_t> selectedNumbers(const std::vector<LogicInspector::TrackHeader>& headers) {
    std::set<std::int64_t> numbers;
    for (const auto& h : headers)
        if (detail::selectedFlag(h.element)) numbers.insert(h.trackNumber);
    return numbers;
}

// "Kick", "Kick and Bass", "Kick, Bass and Keys": the tracks of those numbers, in list order.
std::string trackNames(const std::vector<LogicInspector::TrackHeader>& headers, const std::set<std::int64_t>& numbers) {
    std::vector<std::string> names;
    for (const auto& h : headers)
        if (numbers.count(h.trackNumber)) names.push_back(h.name);
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return text;
}

// The output track as Show Output Track presses moved it: listed before under a name of the
// user's and hidden by a press, shown by a press, or both.
struct OutputTrackMove {
    std::optional<LogicInspector::TrackHeader> hidden;  // as it was listed before
    std::optional<LogicInspector::TrackHeader> shown;   // as it is listed now
};

std::optional<std::string> outputTrackNow(const OutputTrackMove& move) {
    if (move.hidden && move.shown)
        return fmt::format(
            "{} (the output track) moved from track {} to track {}, at the end of the track list: it was listed "
            "already, Show Output Track hid it, and a second press showed it again",
            move.shown->name, move.hidden->trackNumber, move.shown->trackNumber);
    if (move.shown)
        return fmt::format("{} is now shown in the track list as track {}", move.shown->name, move.shown->trackNumber);
    if (move.hidden)
        return fmt::format(
            "{} (the output track, track {}) is now hidden from the track list, where it was listed already; "
            "Track > Show Output Track shows it again, at the end of the list",
            move.hidden->name, move.hidden->trackNumber);
    return std::nullopt;
}

// What is selected now, when that is not what was selected before.
std::optional<std::string> selectionNow(const std::vector<LogicInspector::TrackHeader>& before,
                                        const std::set<std::int64_t>& selectedBefore,
                                        const std::set<std::int64_t>& wanted,
                                        const std::vector<LogicInspector::TrackHeader>& now) {
    const auto selected = selectedNumbers(now);
    if (selected == wanted) return std::nullopt;
    std::string said =
        selected.empty() ? "No track is selected now" : "The selection is now " + trackNames(now, selected);
    if (!selectedBefore.empty()) said += " (it was " + trackNames(before, selectedBefore) + ")";
    return said;
}
}  // namespace

void to_json(nlohmann::json& j, const LogicInspector::RenameResult& r) {
    j = {{"success", r.success}, {"message", r.message}};
    if (r.actualName) j["actualName"] = *r.actualName;
}

void to_json(nlohmann::json& j, const LogicInspector::SendKnobResult& r) {
    auto number = [](const std::optional<double>& v) { return json_fields::jsonNumber(v.value_or(NAN)); };
    j = {{"value", number(r.value)},
         {"valueDescription", r.valueDescription},
         {"minValue", number(r.minValue)},
         {"maxValue", number(r.maxValue)},
         {"supportedActions", r.supportedActions}};
}

void to_json(nlohmann::json& j, const LogicInspector::SendLevelResult& r) {
    j = {{"success", r.success}, {"message", r.message}};
    if (r.before) j["before"] = json_fields::jsonNumber(*r.before);
    if (r.after) j["after"] = json_fields::jsonNumber(*r.after);
}

// --- Renaming ------------------------------------------------------------------------------

RenameResult LogicInspector::renameTrack(const std::string& currentName, const std::string& newName) const {
    const std::string name = text::trimmingWhitespace(newName);
    if (name.empty()) return {false, "New name can't be empty.", std::nullopt};

    // Whether some track bore the new name already: then a header with that name proves nothing.
    // Read with the list the selection resolves the track from.
    const auto shownWindow = findMainWindow();
    const auto before = shownWindow ? findTrackHeadersByName(*shownWindow) : std::vector<TrackHeader>{};
    const bool nameTakenBefore =
        std::any_of(before.begin(), before.end(), [&](const TrackHeader& h) { return h.name == name; });
    // Names are found whatever their case: "Kick" asked of a track called "KICK" is a rename.
    if (name == currentName && nameTakenBefore) return {true, "Name already '" + name + "' \u2014 no-op.", name};
    auto selected = selectTrack(currentName, false);
    if (!selected) return {false, "Track '" + currentName + "' not found.", std::nullopt};
    const std::int64_t number = selected->header.trackNumber;
    // Said by the name the list shows: a name asked in another case may be another track's exactly.
    const std::string& was = selected->header.name;
    // The strip takes the new name with the track: it is not held to the old one.
    detail::keptPlaces().holdStrip({});
    platform::pause(pacing::kRenameSelectionSettles);

    auto logic = logicApplication();
    if (!logic) return {false, "Logic process not accessible.", std::nullopt};
    auto app = platform::accessibility().applicationElement(logic->processIdentifier);
    // Found once the pause is over: while the song plays, a handle held through it may no longer answer.
    platform::pause(pacing::kBeforeMenuItemPress);
    auto item = findMenuItemByTitle(app, "Rename Track", search_depth::kMainMenuItems);
    if (!item) return {false, "Track > Rename Track menu item not found.", std::nullopt};
    item->performAction(ax::kPress);
    platform::pause(pacing::kRenameFieldOpens);

    if (!postUnicodeStringToLogic(name).success) {
        pressKey(key_code::kEscape);
        return {false, "Failed to inject rename text.", std::nullopt};
    }
    platform::pause(pacing::kRenameTextSettles);
    pressKey(key_code::kReturn);
    platform::pause(pacing::kRenameLands);

    auto window = findMainWindow();
    if (!window) return {true, "Rename likely succeeded \u2014 couldn't verify (no main window).", name};
    // The renamed track's own header, read anew, while it still shows the track's number.
    const auto renamed = parseTrackDescription(textOf(selected->header.element, ax::kDescription));
    if (renamed && renamed->number == number && renamed->name == name)
        return {true, "Renamed '" + was + "' \u2192 '" + name + "'.", name};
    const auto headers = findTrackHeadersByName(*window);
    auto same =
        std::find_if(headers.begin(), headers.end(), [&](const TrackHeader& h) { return h.trackNumber == number; });
    if (same != headers.end() && same->name == name)
        return {true, "Renamed '" + was + "' \u2192 '" + name + "'.", name};
    // The track keeps its number through a rename, so its own header decides; another track
    // that happens to bear the name only counts when the renamed track's header is gone and
    // no track had that name before.
    if (same == headers.end() && !nameTakenBefore &&
        std::any_of(headers.begin(), headers.end(), [&](const TrackHeader& h) { return h.name == name; }))
        return {true, "Renamed to '" + name + "'.", name};
    std::optional<std::string> actual;
    if (same != headers.end()) actual = same->name;
    return {false, "Rename didn't land \u2014 track name didn't change. Try manually or retry.", actual};
}

// --- Sends -----------------------------------------------------------------------------------

bool LogicInspector::sameBus(const std::string& a, const std::string& b) { return canonicalize(a) == canonicalize(b); }

std::string LogicInspector::compactBusForm(const std::string& label) {
    static const Regex full(R"(^Bus (\d{1,3})$)");
    if (!full.matches(label)) return label;
    return "B " + label.substr(4);
}

void LogicInspector::findSendGroup(const AXElement& in, const std::string& matching, std::optional<AXElement>& result,
                                   int depth, int maxDepth) const {
    if (result) return;
    result = ax_tree::findFirst(
        in, maxDepth,
        [&](const AXElement& e) {
            const std::string description = textOf(e, ax::kDescription);
            return textOf(e, ax::kRole) == "AXGroup" &&
                   (text::equalsIgnoringCase(description, matching) ||
                    text::equalsIgnoringCase(description, compactBusForm(matching)));
        },
        depth, kPlaced);
}

void LogicInspector::findSendKnobAtY(const AXElement& in, double y, std::optional<AXElement>& result, int depth,
                                     int maxDepth) const {
    if (result) return;
    result = ax_tree::findFirst(
        in, maxDepth,
        [&](const AXElement& e) {
            return textOf(e, ax::kRole) == "AXSlider" && textOf(e, ax::kDescription) == "send knob" &&
                   std::fabs(frameForElement(e).y - y) < 2.0;
        },
        depth, kPlaced);
}

std::optional<double> LogicInspector::readKnobDb(const AXElement& knob) {
    return ax_read::decibelsFromText(textOf(knob, ax::kValueDescription));
}

Outcome LogicInspector::clickSendByBusLabel(const std::string& trackName, const std::string& busLabel) const {
    auto selected = selectTrack(trackName);
    if (!selected) return {false, logic_messages::trackNotFound(trackName)};
    platform::pause(pacing::kStripFollowsSelection);
    return touchShownSend(selected->mainWindow, trackName, busLabel);
}

Outcome LogicInspector::touchShownSend(const AXElement& window, const std::string& trackName,
                                       const std::string& busLabel, bool evenStopped) const {
    // The send touched is the named track's: a strip the user's click moved on shows another's.
    std::string shown;
    auto strip = stripShowing(window, trackName, shown, evenStopped);
    if (!strip && !firstStripShown(window)) return {false, logic_messages::mixerAreaNotFoundFor(trackName)};
    if (!strip)
        return {false, "The mixer strip shows " + (shown.empty() ? std::string("no track") : "'" + shown + "'") +
                           ", not " + trackName + ", so its send was not touched."};
    std::optional<AXElement> group;
    findSendGroup(*strip, busLabel, group, 0, search_depth::kSendsAndAutomation);
    if (!group)
        return {false, "No send with label '" + busLabel + "' on " + trackName +
                           ". Check that the track has a send to that bus."};
    const double y = frameForElement(*group).y;
    std::optional<AXElement> knob;
    findSendKnobAtY(*strip, y, knob, 0, search_depth::kSendsAndAutomation);
    if (!knob) return {false, "No send knob at y=" + ax_read::printed(y) + " in strip for " + busLabel};
    // One step and one back: the send counts as touched without changing its level. Down first,
    // as the top of its travel may not show as such where a step up would go nowhere; up first
    // only from the bottom (-∞), where a step down goes nowhere. A Stop never comes between the two.
    const auto found = rawKnobValue(*knob);  // as the search read it
    const bool atBottom = found && *found <= 0;
    platform::pause(pacing::kSendKnobFocus);
    // A step on a handle the strip's rebuild made stale does nothing: taken on the knob found anew,
    // once the strip shows the track again (the step back is owed even once stopped).
    const auto step = [&](const char* action) {
        if (knob->performAction(action) == platform::AXError::success) return true;
        knob.reset();
        if (const auto now = findMainWindow())
            if (const auto fresh = stripShowing(*now, trackName, shown, true)) {
                std::optional<AXElement> freshGroup;
                findSendGroup(*fresh, busLabel, freshGroup, 0, search_depth::kSendsAndAutomation);
                if (freshGroup)
                    findSendKnobAtY(*fresh, frameForElement(*freshGroup).y, knob, 0, search_depth::kSendsAndAutomation);
            }
        return knob && knob->performAction(action) == platform::AXError::success;
    };
    {
        const platform::HeldPauses stepBack;
        if (!step(atBottom ? ax::kIncrement : ax::kDecrement))
            return {false, "The send to " + busLabel + " on " + trackName + " could not be touched."};
        platform::pause(pacing::kSendKnobStep);
        if (!step(atBottom ? ax::kDecrement : ax::kIncrement))
            return {false, "The send to " + busLabel + " on " + trackName +
                               " was moved a step to be touched and could not be moved back: check its level."};
    }
    platform::pause(pacing::kSendTouchSettles);
    return {true, "Touched the send to " + busLabel + " on " + trackName + "."};
}

SendKnobResult LogicInspector::readSendKnobValue(const std::string& trackName, const std::string& busLabel) const {
    auto failed = [](std::string message) { return SendKnobResult{{false, std::move(message)}, {}, {}, {}, {}, {}}; };
    auto selected = selectTrack(trackName);
    if (!selected) return failed(logic_messages::trackNotFound(trackName));
    if (!firstMixerStrip(selected->mainWindow)) return failed(logic_messages::kMixerAreaNotFound);
    // The send read is the asked track's, whatever the strip showed since the selection.
    std::string shown;
    auto strip = stripShowing(selected->mainWindow, selected->header.name, shown);
    if (!strip) return failed(stripShowsAnother(selected->header.name, shown));
    std::optional<AXElement> group;
    findSendGroup(*strip, busLabel, group, 0, search_depth::kSendsAndAutomation);
    if (!group) return failed("No send with label " + busLabel);
    std::optional<AXElement> knob;
    findSendKnobAtY(*strip, frameForElement(*group).y, knob, 0, search_depth::kSendsAndAutomation);
    if (!knob) return failed(logic_messages::kKnobNotFound);
    SendKnobResult read{{true, "Read the send to " + busLabel + " on " + trackName + "."}, {}, {}, {}, {}, {}};
    read.value = knob->number(ax::kValue);
    read.valueDescription = textOf(*knob, ax::kValueDescription);
    read.minValue = knob->number(ax::kMinValue);
    read.maxValue = knob->number(ax::kMaxValue);
    read.supportedActions = actionNames(*knob);
    return read;
}

SendLevelResult LogicInspector::setSendKnobToDb(const std::string& asked, const std::string& busLabel,
                                                double targetDb, std::optional<std::string>* leftWhenStopped) const {
    if (leftWhenStopped) leftWhenStopped->reset();
    // Minus infinity means silence; NaN or plus infinity would walk the knob to an end.
    if (std::isnan(targetDb) || targetDb == INFINITY)
        return {{false, "Send level must be a number of dB."}, std::nullopt, std::nullopt};
    auto selected = selectTrack(asked);
    if (!selected) return {{false, "Track '" + asked + "' not found."}, std::nullopt, std::nullopt};
    // Said by the name the list shows: a name asked in another case may be another track's exactly.
    const std::string& trackName = selected->header.name;
    platform::pause(pacing::kSendStripFollowsSelection);
    if (!firstMixerStrip(selected->mainWindow))
        return {{false, "Mixer strip not found for " + trackName + "."}, std::nullopt, std::nullopt};
    // The send written is the asked track's: the strip must show it before the knob is taken, and
    // each time the knob is found anew (a strip that moved on builds its knobs anew).
    std::string shown;
    auto strip = stripShowing(selected->mainWindow, trackName, shown);
    if (!strip) return {{false, stripShowsAnother(trackName, shown)}, std::nullopt, std::nullopt};
    bool stripLost = false;
    bool wrote = false;
    std::optional<AXElement> group;
    findSendGroup(*strip, busLabel, group, 0, search_depth::kSendsAndAutomation);
    if (!group) return {{false, trackName + " has no send to " + busLabel + "."}, std::nullopt, std::nullopt};
    std::optional<AXElement> knob;
    findSendKnobAtY(*strip, frameForElement(*group).y, knob, 0, search_depth::kSendsAndAutomation);
    if (!knob) return {{false, "Could not locate send knob for " + busLabel + "."}, std::nullopt, std::nullopt};

    // The walk reads and writes the knob many times: a handle that stops answering is found again.
    // Once it wrote, where it left the send is read even once stopped, for the answer to say.
    const auto refind = [&] {
        std::optional<AXElement> found;
        const auto now = stripLost ? std::nullopt : findMainWindow();
        const auto fresh = now ? stripShowing(*now, trackName, shown, wrote) : std::nullopt;
        if (now && !fresh) stripLost = true;
        if (fresh) {
            std::optional<AXElement> freshGroup;
            findSendGroup(*fresh, busLabel, freshGroup, 0, search_depth::kSendsAndAutomation);
            if (freshGroup)
                findSendKnobAtY(*fresh, frameForElement(*freshGroup).y, found, 0, search_depth::kSendsAndAutomation);
        }
        if (found) knob = found;
        return found.has_value();
    };
    const auto levelNow = [&] {
        auto level = readKnobDb(*knob);
        if (!level && refind()) level = readKnobDb(*knob);
        return level;
    };
    const auto rawNow = [&] {
        auto raw = rawKnobValue(*knob);
        if (!raw && refind()) raw = rawKnobValue(*knob);
        return raw;
    };

    platform::pause(pacing::kBeforeKnobRead);
    const auto before = levelNow();
    const std::int64_t top = maxRaw(*knob);
    const bool muting = targetDb <= -60.0;
    const std::string head = "Send " + trackName + " \u2192 " + busLabel + ": ";
    // A write and the knob's time to take it go together: the send rests on a step between them.
    const auto step = [&](std::int64_t raw) {
        const platform::HeldPauses taking;
        wrote = true;
        writeRaw(*knob, raw);
        platform::pause(pacing::kSendKnobWriteRetry);
    };
    // Where a Stop may end the walk: on a step on the way, which the stopped call's answer names.
    const auto mayStopHere = [] { platform::pause(0); };
    std::optional<double> previous;
    std::optional<std::int64_t> previousRaw;
    std::optional<std::pair<double, double>> between;  // the steps on either side of the target
    std::optional<double> nearer;
    bool asNear = false;
    // A Stop may also come while a knob found again waits for its strip to show the track again.
    try {
        if (muting) {
            for (int i = 0; i < 80; ++i) {
                auto raw = rawNow();
                if (!raw || *raw == 0) break;
                mayStopHere();
                step(0);
            }
            if (const bool muted = rawNow() == std::optional<std::int64_t>(0); stripLost || !muted)
                return {{false, stripLost ? head + stripShowsAnother(trackName, shown)
                                          : "Send " + trackName + " \u2192 " + busLabel + " could not be muted."},
                        before,
                        stripLost ? std::nullopt : levelNow()};
            return {{true, "Send " + trackName + " \u2192 " + busLabel + ": muted."}, before, levelNow()};
        }
        for (int i = 0; i < 80; ++i) {
            knob->prefetch({ax::kValue, ax::kValueDescription});  // the level, and the raw value to come back to
            auto current = levelNow();
            if (!current || std::fabs(*current - targetDb) < 0.4) break;
            if (previous && (*previous < targetDb) != (*current < targetDb)) {
                // The last step passed the target, which lies between two steps: the nearer is kept,
                // the quieter of two as near. Going back is one step, never split by a Stop.
                between = std::minmax(*previous, *current);
                const double back = std::fabs(*previous - targetDb), here = std::fabs(*current - targetDb);
                asNear = back == here;
                nearer = back < here || (back == here && *previous < *current) ? *previous : *current;
                if (*nearer == *previous && previousRaw) step(*previousRaw);
                break;
            }
            // A write up that left the level as it was, at the top of the travel: none takes it higher.
            if (previous == current && targetDb > *current && rawNow() >= top) break;
            const auto raw = rawNow();
            mayStopHere();
            previous = current;
            previousRaw = raw;
            step(targetDb > *current ? top : 0);
        }
    } catch (const platform::PauseStopped&) {
        const auto now = levelNow();
        if (leftWhenStopped && now != before)
            *leftWhenStopped = head + dbText(before) + " \u2192 " + dbText(now) + ", stopped on the way to " +
                               dbText(muting ? -INFINITY : targetDb);
        throw;
    }
    const auto after = levelNow();
    if (stripLost)
        return {{false, head + stripShowsAnother(trackName, shown) +
                            (before ? " It showed " + dbText(before) + " before" : std::string()) +
                            (wrote ? (before ? ", and the walk toward " : " The walk toward ") +
                                         dbText(muting ? -INFINITY : targetDb) +
                                         " had moved it: where it stands could not be read."
                                   : std::string(before ? "." : ""))},
                before,
                std::nullopt};
    if (!after)
        return {
            {false, head + dbText(before) + " \u2192 ?: the level it reached could not be read back."}, before, after};
    std::string message = head + dbText(before) + " \u2192 " + dbText(after) + ".";
    if (between) {
        message += " The " + dbText(targetDb) + " asked falls between the send's steps " + dbText(between->first) +
                   " and " + dbText(between->second) + ": ";
        if (after == nearer)
            message +=
                (asNear ? "both are as near, and it took the quieter, " : "it took the nearer, ") + dbText(after) + ".";
        else
            message += "the nearer, " + dbText(nearer) + ", did not take, and it shows " + dbText(after) + ".";
    }
    return {{true, message}, before, after};
}

// --- Buses -----------------------------------------------------------------------------------

void LogicInspector::findAutomationListRecurse(const AXElement& element, std::optional<AXElement>& result, int depth,
                                               int maxDepth) const {
    findAutomationChild(element, "AXButton", "list", result, depth, maxDepth);
}

void LogicInspector::findAutomationPowerRecurse(const AXElement& element, std::optional<AXElement>& result, int depth,
                                                int maxDepth) const {
    findAutomationChild(element, "AXCheckBox", "automation", result, depth, maxDepth);
}

std::optional<AXElement> LogicInspector::findAutomationListButton(const AXElement& on, int stripIndex) const {
    return automationControl(*this, on, stripIndex,
                             [this](const AXElement& e, std::optional<AXElement>& r, int d, int m) {
                                 findAutomationListRecurse(e, r, d, m);
                             });
}

BusTrackResult LogicInspector::ensureBusArrangeTrack(const std::string& trackName, const std::string& busLabel,
                                                     std::optional<std::string>* putInList) const {
    if (putInList) putInList->reset();
    const KeptPlaces places;
    const auto clicked = clickSendByBusLabel(trackName, busLabel);
    if (!clicked.success) return {{false, "Send click failed: " + clicked.message}, std::nullopt};
    platform::pause(pacing::kBusStripAppears);
    auto window = findMainWindow();
    if (!window) return {{false, logic_messages::kNoMainWindow}, std::nullopt};
    bool switched = false;
    BusTrackResult toggled;
    try {
        toggled = toggleSecondStripAutomation(
            *window, busLabel, [&] { return clickSendByBusLabel(trackName, busLabel).success; }, &switched);
    } catch (const platform::PauseStopped&) {
        // The strip still shows the bus's track, which the switch put into the list.
        if (putInList && switched) *putInList = trackOnSecondStrip(*window, busLabel);
        throw;
    }
    if (toggled.success) toggled.message = "Put the track of " + busLabel + " into the track list.";
    return toggled;
}

BusTrackResult LogicInspector::toggleSecondStripAutomation(const AXElement& window, const std::string& busLabel,
                                                           const std::function<bool()>& showBusAgain,
                                                           bool* switched) const {
    // The clicked send's bus shows on the Inspector's right-hand strip: switching its automation
    // on and off again puts its track in the list. The strip shows another track's once the user's
    // click moved the left-hand one on: each press waits for the bus to show again, or touches the
    // send again, so that no other track's automation is switched.
    // The right-hand strip last read showing the bus: it is built anew to show another track.
    AXElement seen;
    const auto showsBus = [&] {
        const AXElement now = mainWindowAnew(window);
        const auto mixer = findMixerArea(now);
        const auto strips = mixer ? mixer->children() : std::vector<AXElement>{};
        if (strips.size() < 2) return false;
        if (seen && strips[1] == seen) return true;
        if (!trackOnSecondStrip(now, busLabel)) return false;
        seen = strips[1];
        return true;
    };
    const auto readyToPress = [&] {
        if (showsBus()) return true;
        if (!showBusAgain()) return false;
        platform::pause(pacing::kBusStripAppears);
        return showsBus();
    };
    auto power = [&] {
        const auto find = [&](const AXElement& in) {
            return automationControl(*this, in, 1,
                                     [this](const AXElement& e, std::optional<AXElement>& r, int d, int m) {
                                         findAutomationPowerRecurse(e, r, d, m);
                                     });
        };
        auto found = find(window);
        // A press rebuilds the strip and may leave the window's handle stale: found again from the top.
        if (!found)
            if (const auto now = findMainWindow()) found = find(*now);
        return found;
    };
    auto box = power();
    if (!box) return {{false, "Could not find automation power checkbox on right Inspector strip"}, std::nullopt};
    platform::pause(pacing::kBeforeAutomationPress);
    if (!readyToPress()) return {{false, "The right-hand strip no longer shows " + busLabel + "."}, std::nullopt};
    box = power();
    if (!box) return {{false, "Could not find automation power checkbox on right Inspector strip"}, std::nullopt};
    // A press on a handle the strip's rebuild made stale does nothing: pressed again, found anew.
    const auto press = [&] {
        if (box->performAction(ax::kPress) == platform::AXError::success) return true;
        box = power();
        return box && box->performAction(ax::kPress) == platform::AXError::success;
    };
    {
        // Switched on, switched off again: a Stop never comes between the two, only cuts the pauses
        // short (the send touched again where the strip moved on among them).
        const platform::HeldPauses switchBack(0.05);
        if (!press()) return {{false, "Could not press the automation power checkbox on right Inspector strip"}, {}};
        platform::pause(pacing::kAutomationToggles);
        if (!readyToPress())
            return {{false, "The right-hand strip moved on to another track before its automation could be switched "
                            "off again"},
                    "The automation of the track of " + busLabel + " was left ON"};
        box = power();
        if (!box || !press())
            return {{false, "Automation checkbox lost after first toggle"},
                    "Track probably created but automation left OFF"};
    }
    if (switched) *switched = true;
    platform::pause(pacing::kAutomationToggles);
    return {{true, "Switched the right-hand strip's automation on and off."}, std::nullopt};
}

std::optional<std::string> LogicInspector::trackOnSecondStrip(const AXElement& window,
                                                              const std::string& busLabel) const {
    auto mixer = findMixerArea(window);
    if (!mixer) return std::nullopt;
    const auto strips = mixer->children();
    if (strips.size() < 2) return std::nullopt;
    nlohmann::json strip = nlohmann::json::object();
    readStripData(strips[1], strip, 0, search_depth::kStripControls);
    const auto input = json_fields::lenientText(strip, "inputBus");
    const auto name = json_fields::lenientText(strip, "name");
    if (!input || !name || !sameBus(*input, busLabel)) return std::nullopt;
    return name;
}

std::optional<std::string> LogicInspector::findTrackForBusThroughSend(const TrackHeader& track,
                                                                      const std::string& busLabel,
                                                                      std::optional<std::string>* putInList) const {
    if (putInList) putInList->reset();
    const KeptPlaces places;
    // Still selected, and shown on the strip, as it was left: the send is touched without a new
    // selection, which would read the whole track list again.
    auto window = findMainWindow();
    if (!window) return std::nullopt;
    const auto parsed = headerOfRow(track.element);
    const auto selectedFlag = ax_read::valueOf(track.element, ax::kSelected);
    const auto strip = readChannelStrip(*window);
    const bool stillShown = parsed && parsed->number == track.trackNumber && parsed->name == track.name &&
                            selectedFlag && std::holds_alternative<bool>(*selectedFlag) &&
                            std::get<bool>(*selectedFlag) &&
                            text::equalsIgnoringCase(strip.text("name").value_or(""), track.name);
    const auto touched =
        stillShown ? touchShownSend(*window, track.name, busLabel) : clickSendByBusLabel(track.name, busLabel);
    if (!touched.success) return std::nullopt;
    platform::pause(pacing::kBusStripAppears);
    window = findMainWindow();
    if (!window) return std::nullopt;
    const auto shown = trackOnSecondStrip(*window, busLabel);
    if (!shown) return std::nullopt;
    // A listed track of that name is the bus's only when its strip takes the bus: another track may
    // have been given the name while the bus's own track is not listed. Its strip cannot be read
    // without selecting it, and tracks that share a name cannot be told apart that way (the strip
    // shows the name): the bus's track is asked into the list instead. When none comes, it is
    // listed already.
    const auto listing = listingFromKeptPlaces(*this, *window, *shown);
    ResolvedTrack named;
    if (listing.alone)
        named.matches = {*listing.alone};
    else if (!listing.known || listing.name)
        named = resolveTrack(*shown);
    if (named.window) window = named.window;
    const auto holder = listHolderBeforeAdding(*window);
    // The track that came into the list with the switch, if one did.
    const auto cameIntoList = [&]() -> std::optional<std::int64_t> {
        bool listChanged = true;  // a list whose rows change is rebuilt in its holder
        if (holder) {
            if (auto last = addedLast(*window, *holder, *shown)) return last->trackNumber;
            listChanged = holder->element.elements(ax::kChildren) != std::optional(holder->children);
        }
        std::optional<std::int64_t> came;
        if (listChanged)
            for (const auto& h : resolveTrack(*shown).matches)
                if (std::none_of(named.matches.begin(), named.matches.end(),
                                 [&](const TrackHeader& m) { return m.trackNumber == h.trackNumber; }))
                    came = h.trackNumber;
        return came;
    };
    try {
        const auto touchAgain = [&] {
            const auto now = findMainWindow();
            return now && touchShownSend(*now, track.name, busLabel, true).success;
        };
        if (!toggleSecondStripAutomation(*window, busLabel, touchAgain).success) return std::nullopt;
    } catch (const platform::PauseStopped&) {
        // Stopped once the switch was made: whether the track came is read, so that the answer can say so.
        if (putInList && cameIntoList()) *putInList = *shown;
        throw;
    }
    const std::optional<std::int64_t> added = cameIntoList();
    if (putInList && added) *putInList = *shown;
    if (!added && named.matches.empty()) return std::nullopt;
    if (!added && named.matches.size() == 1) return named.matches.front().name;
    return busTrackAnswer(*shown, added, named.matches);
}

Outcome LogicInspector::ensureMasterArrangeTrack(std::optional<std::string>* listedAs,
                                                 std::vector<std::string>* leftWhenStopped) const {
    if (listedAs) listedAs->reset();
    if (leftWhenStopped) leftWhenStopped->clear();
    auto window = findMainWindow();
    if (!window) return {false, "Logic not running or main window not found"};
    const auto listing = listingFromKeptPlaces(*this, *window, "Stereo Out");
    if (listing.name) return {true, "Stereo Out was already in the Arrange track list."};
    // Read whole even when the kept places tell the name is not listed: the press is judged by
    // what it changed, as the output track may be listed under a name of the user's.
    const auto before = findTrackHeadersByName(*window);
    if (std::any_of(before.begin(), before.end(), isNamedStereoOut))
        return {true, "Stereo Out was already in the Arrange track list."};
    auto logic = logicApplication();
    if (!logic) return {false, "Logic process not accessible"};
    const auto app = platform::accessibility().applicationElement(logic->processIdentifier);
    auto item = findMenuItemByTitle(app, "Show Output Track", search_depth::kMainMenuItems);
    if (!item) return {false, "Track > Show Output Track menu item not found"};

    OutputTrackMove move;
    std::vector<TrackHeader> now = before;
    const auto holder = listHolderBeforeAdding(*window);
    std::int64_t lastBefore = 0;
    for (const auto& h : before) lastBefore = std::max(lastBefore, h.trackNumber);
    // What the last press changed in the list: only the output track comes or goes with it.
    const auto readChange = [&] {
        // Shown, it is the last row of the list Logic Pro rebuilds in the holder, under a number
        // no listed track had; the rest of the list is as it was, selection included.
        if (holder && !move.hidden)
            if (auto last = addedLast(*window, *holder, std::nullopt); last && last->trackNumber > lastBefore) {
                move.shown = last;
                now = before;
                now.push_back(*last);
                return true;
            }
        // A window whose elements went stale with the change is found again.
        if (auto again = findMainWindow()) window = std::move(again);
        now = findTrackHeadersByName(*window);
        const auto came = onlyIn(now, before);
        const auto went = onlyIn(before, now);
        move.shown = came.size() == 1 ? std::optional(came.front()) : std::nullopt;
        if (came.empty() && went.size() == 1) move.hidden = went.front();
        return !came.empty() || !went.empty();
    };
    // The selection as it would be with the output track at its new number.
    const auto selectedAtFirst = selectedNumbers(before);
    const auto selectedBefore = [&] {
        auto numbers = selectedAtFirst;
        if (move.hidden && move.shown && numbers.erase(move.hidden->trackNumber))
            numbers.insert(move.shown->trackNumber);
        return numbers;
    };
    const auto tellLeft = [&] {
        if (!leftWhenStopped) return;
        if (auto said = outputTrackNow(move)) leftWhenStopped->push_back(*said);
        // Only a hide moves the selection.
        if (!move.hidden) return;
        if (auto said = selectionNow(before, selectedAtFirst, selectedBefore(), now)) leftWhenStopped->push_back(*said);
    };
    item->performAction(ax::kPress);
    try {
        platform::pause(pacing::kOutputTrackAppears);
        if (!readChange()) return {false, "Pressed Show Output Track but Stereo Out did not appear"};
        if (!move.shown && move.hidden) {
            // The list held the output track under another name, and the press hid it: a second
            // press shows it again, at the end of the list. The item is found again from a new
            // handle of the application, as the press may have left the old ones stale.
            const auto appNow = platform::accessibility().applicationElement(logic->processIdentifier);
            if (auto again = findMenuItemByTitle(appNow, "Show Output Track", search_depth::kMainMenuItems))
                item = again;
            item->performAction(ax::kPress);
            platform::pause(pacing::kOutputTrackAppears);
            readChange();
        }
        // Hidden, a selected output track lost the selection, and when it was the one whose strip
        // showed, the first track took it alone. A click on its header selects it alone again: a
        // selection of several cannot be made by the program.
        if (move.hidden && move.shown) {
            const auto wanted = selectedBefore();
            const auto selected = selectedNumbers(now);
            const bool movedAway =
                std::any_of(selected.begin(), selected.end(), [&](std::int64_t n) { return wanted.count(n) == 0; });
            if (wanted.count(move.shown->trackNumber) && !selected.count(move.shown->trackNumber) &&
                (wanted.size() == 1 || movedAway)) {
                move.shown->element.performAction(ax::kPress);
                platform::pause(pacing::kStripFollowsSelection);
                readChange();
            }
        }
    } catch (const platform::PauseStopped&) {
        // Read without waiting, so that the stopped answer can say what the list shows now.
        const platform::HeldPauses quick(0.0);
        readChange();
        if (listedAs && move.shown) *listedAs = move.shown->name;
        tellLeft();
        throw;
    }
    if (listedAs && move.shown) *listedAs = move.shown->name;
    if (!move.shown) {
        if (auto said = outputTrackNow(move)) return {false, "Pressed Show Output Track twice: " + *said + "."};
        return {false,
                "Pressed Show Output Track, but the track list read after it does not tell which track came or went; "
                "list_tracks shows what it holds now."};
    }
    std::string message;
    if (move.hidden)
        message = *outputTrackNow(move) + ".";
    else if (isNamedStereoOut(*move.shown))
        message = fmt::format("Surfaced Stereo Out as Arrange track {}, at the end of the track list.",
                              move.shown->trackNumber);
    else
        message = fmt::format(
            "Surfaced the output track as Arrange track {}, '{}', at the end of the track list: Stereo Out bears "
            "that name in this project.",
            move.shown->trackNumber, move.shown->name);
    if (move.hidden)
        if (auto said = selectionNow(before, selectedAtFirst, selectedBefore(), now)) message += " " + *said + ".";
    return {true, message};
}

}  // namespace corvane
