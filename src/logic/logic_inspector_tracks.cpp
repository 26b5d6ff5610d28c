#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <set>

#include "logic/ax_read.h"
#include "logic/ax_tree.h"
#include "logic/key_codes.h"
#include "logic/logic_inspector.h"
#include "logic/logic_inspector_internal.h"
#include "logic/logic_messages.h"
#include "logic/logic_timing.h"
#include "logic/search_depths.h"
#include "logic/sidechain_source_search.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "support/numbers.h"
#include "support/regex.h"
#include "support/unicode.h"

namespace corvane {

namespace {

const std::string kLeftQuote = "\u201C";
const std::string kRightQuote = "\u201D";

// Finds the first opening (or closing) quote at or after pos; returns its byte position and length.
std::optional<std::pair<size_t, size_t>> findQuote(const std::string& s, size_t pos, const std::string& typographic) {
    size_t plain = s.find('"', pos);
    size_t curly = s.find(typographic, pos);
    if (plain == std::string::npos && curly == std::string::npos) return std::nullopt;
    if (curly == std::string::npos || (plain != std::string::npos && plain < curly))
        return std::make_pair(plain, size_t{1});
    return std::make_pair(curly, typographic.size());
}

using detail::kHeaderChildReads;
using detail::selectedFlag;

bool hasDisclosureTriangle(const AXElement& header) {
    // An element's role never changes: a header whose children are the same elements as when it
    // was last looked at has the answer it had then, and its children need not be read again.
    auto& kept = detail::keptPlaces();
    const auto children = header.children();
    if (kept.open > 0)
        if (auto known = kept.folderFlags.find(header);
            known != kept.folderFlags.end() && known->second.children == children)
            return known->second.isFolder;
    // Read one by one: the first triangle settles it, and the children after it stay unread.
    bool isFolder = false;
    for (const auto& child : children) {
        child.prefetch(kHeaderChildReads);
        if (child.string(ax::kRole) == std::optional<std::string>("AXDisclosureTriangle")) {
            isFolder = true;
            break;
        }
    }
    if (kept.open > 0) {
        if (kept.folderFlags.size() >= 4096) kept.folderFlags.clear();  // a session's worth, not more
        kept.folderFlags[header] = {children, isFolder};
    }
    return isFolder;
}

std::string stripName(const LogicInspector::StripReading& strip) { return strip.text("name").value_or(""); }

// Names are told apart whole and in any case, without the blanks around them: a request comes
// trimmed, so a header's or strip's name is trimmed too ("Bass " is reached as "Bass").
std::string nameKey(std::string_view name) { return text::lowercased(text::trimmingWhitespace(name)); }
bool namesMatch(std::string_view a, std::string_view b) { return nameKey(a) == nameKey(b); }
}  // namespace

std::optional<LogicInspector::ParsedTrackDescription> LogicInspector::parseTrackDescription(
    const std::string& rawDescription) {
    const std::string description = text::trimmingWhitespaceAndNewlines(rawDescription);
    const std::string prefix = "Track ";
    if (description.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    size_t numberStart = prefix.size();
    if (numberStart >= description.size()) return std::nullopt;
    size_t space = description.find(' ', numberStart);
    if (space == std::string::npos) return std::nullopt;
    auto number = readInteger(std::string_view(description).substr(numberStart, space - numberStart));
    if (!number) return std::nullopt;
    size_t rest = space + 1;
    if (rest >= description.size()) return std::nullopt;
    auto open = findQuote(description, rest, kLeftQuote);
    if (!open) return std::nullopt;
    size_t nameStart = open->first + open->second;
    if (nameStart >= description.size()) return std::nullopt;
    auto close = findQuote(description, nameStart, kRightQuote);
    if (!close) return std::nullopt;
    return ParsedTrackDescription{*number, description.substr(nameStart, close->first - nameStart)};
}

namespace {

// What a walk reads of each element of a list the headers are found in: the rows are placed by
// their frames, so one read brings them for the whole list.
// AXSelected too: the selection is told by the header Logic Pro shows selected.
const std::vector<std::string> kListReads{ax::kRole,     ax::kDescription, ax::kTitle, ax::kChildren,
                                          ax::kPosition, ax::kSize,        ax::kSelected};

// The headers' walk; `parents`, when given, gets each element the headers were found in, once,
// with the elements above it (`above` being those above the walk's first element).
// Without `folders` the folder flags are left for the caller to read of the headers it keeps.
// `mixer`, when given, gets the Inspector's Mixer area if the walk meets it before any header:
// up to there the walk visits what the Mixer's own search does, in the same order.
// `pruned` leaves out what cannot hold a header (see holdsNoHeaders).
// The track list's headers sit in the main window's tracks area: never in a menu, never in the
// control bar (transport and playhead), never among the channel strips of a Mixer area (the
// Inspector's or the window's own), and never in the tracks' contents, whose rows only repeat
// the headers' descriptions after the list. The role comes with the walk's own read.
bool holdsNoHeaders(const AXElement& e, const std::string& description) {
    const std::string role = textOf(e, ax::kRole);
    return role == "AXMenuBar" || role == "AXMenu" ||
           (role == "AXLayoutArea" && (description == "Mixer" || description == "Tracks contents")) ||
           (role == "AXGroup" && description == "Control Bar");
}

void collectHeaders(const AXElement& element, std::vector<LogicInspector::TrackHeader>& headers, int depth,
                    int maxDepth, std::vector<detail::HeaderParent>* parents, bool folders = true,
                    const std::vector<AXElement>& above = {}, AXElement* mixer = nullptr, bool pruned = false) {
    const AXElement* placed = nullptr;
    std::vector<AXElement> path;  // the elements from the walk's first one down to the one visited
    ax_tree::walk(
        element, maxDepth,
        [&](const Step& step) {
            const AXElement& e = step.element;
            if (parents) {
                path.resize(static_cast<std::size_t>(step.depth - depth));
                path.push_back(e);
            }
            std::string description = text::trimmingWhitespaceAndNewlines(textOf(e, ax::kDescription));
            if (mixer && !*mixer && headers.empty() && step.depth < search_depth::kMixerArea &&
                description == "Mixer" && textOf(e, ax::kRole) == "AXLayoutArea")
                *mixer = e;
            if (pruned && holdsNoHeaders(e, description)) return Next::siblings;
            bool candidate = description.starts_with("Track ") && (description.find('"') != std::string::npos ||
                                                                   description.find(kLeftQuote) != std::string::npos);
            if (!candidate) return Next::children;
            bool muted = description.ends_with(", mute") || description.ends_with(", muted");
            auto parsed = LogicInspector::parseTrackDescription(description);
            if (!parsed) return Next::children;
            if (step.parent && step.parent != placed) {
                placed = step.parent;
                placed->prefetchChildren(kListReads);
                if (parents && std::none_of(parents->begin(), parents->end(),
                                            [&](const auto& p) { return p.element == *placed; })) {
                    std::vector<AXElement> ancestors = above;
                    ancestors.insert(ancestors.end(), path.begin(), path.end() - 2);
                    parents->push_back({*placed, step.depth - 1, std::move(ancestors)});
                }
            }
            headers.push_back(LogicInspector::TrackHeader{e, parsed->number, parsed->name, muted,
                                                          folders && hasDisclosureTriangle(e)});
            return Next::siblings;
        },
        depth, {ax::kPosition, ax::kSize, ax::kSelected});  // with the rest of each list: rows are placed by them
}

// A remembered element still answers as the same one: a handle to a vanished or rebuilt element
// is refused. Reads what the walks read of it first, in the same round trip.
bool stillThere(const AXElement& element) {
    element.prefetch(kListReads);
    return element.string(ax::kRole).has_value();
}

// The headers under a list they were found in before, read with the list in one round trip;
// false when the list is gone.
bool collectFromList(const detail::HeaderParent& list, std::vector<LogicInspector::TrackHeader>& headers) {
    list.element.prefetchChildren(kListReads);
    const auto rows = list.element.elements(ax::kChildren);
    if (!rows) return false;
    for (const auto& row : *rows)
        collectHeaders(row, headers, list.depth + 1, search_depth::kTrackHeaders, nullptr, false);
    return true;
}

bool sameList(const std::vector<LogicInspector::TrackHeader>& headers,
              const std::vector<std::pair<std::int64_t, std::string>>& list) {
    return headers.size() == list.size() &&
           std::equal(headers.begin(), headers.end(), list.begin(), [](const auto& h, const auto& entry) {
               return h.trackNumber == entry.first && h.name == entry.second;
           });
}

// The track headers in list order by number, without repeats and without folder flags.
// `sameCall`: the list as read earlier in this call, while each list the headers lie in still holds
// the same rows (one read per list), for a caller that reads anew the header it goes on with;
// `reused` tells whether it was.
// How often a list that could not be read is read again, and whether the last one read stayed unread.
constexpr int kReadsAfterFailure = 3;
thread_local bool tListUnreadable = false;

std::vector<LogicInspector::TrackHeader> headersOf(const AXElement& mainWindow, bool sameCall = false,
                                                   bool* reused = nullptr) {
    tListUnreadable = false;
    std::vector<LogicInspector::TrackHeader> found;
    auto& kept = detail::keptPlaces();
    auto& listing = kept.listing;
    if (reused) *reused = false;
    if (sameCall && kept.open > 0 && listing.window == mainWindow && !listing.lists.empty() &&
        std::all_of(listing.lists.begin(), listing.lists.end(), [](const auto& list) {
            const auto rows = list.first.elements(ax::kChildren);
            return rows && *rows == list.second;
        })) {
        if (reused) *reused = true;
        return listing.headers;
    }
    // Only the lists the last search found them in, read anew while those are still there; a list
    // that was rebuilt is looked for again from the nearest element above it that is still there.
    if (kept.open > 0 && kept.headersWindow == mainWindow && !kept.headerParents.empty()) {
        std::vector<detail::HeaderParent> renewed;
        for (const auto& list : kept.headerParents) {
            if (collectFromList(list, found)) {
                if (std::none_of(renewed.begin(), renewed.end(),
                                 [&](const auto& p) { return p.element == list.element; }))
                    renewed.push_back(list);
                continue;
            }
            // The ancestors run from the window at depth 0, one per depth.
            long from = static_cast<long>(list.ancestors.size()) - 1;
            while (from > 0 && !stillThere(list.ancestors[static_cast<std::size_t>(from)])) --from;
            if (from <= 0) {  // only the window itself is left: search it whole
                found.clear();
                break;
            }
            const std::vector<AXElement> higher(list.ancestors.begin(), list.ancestors.begin() + from);
            std::vector<detail::HeaderParent> again;
            collectHeaders(list.ancestors[static_cast<std::size_t>(from)], found, static_cast<int>(from),
                           search_depth::kTrackHeaders, &again, false, higher, nullptr, true);
            for (auto& p : again)
                if (std::none_of(renewed.begin(), renewed.end(), [&](const auto& r) { return r.element == p.element; }))
                    renewed.push_back(std::move(p));
        }
        if (!found.empty()) kept.headerParents = std::move(renewed);
    }
    if (found.empty()) {
        std::vector<detail::HeaderParent> parents;
        AXElement mixer;
        const bool keep = kept.open > 0;
        collectHeaders(mainWindow, found, 0, search_depth::kTrackHeaders, keep ? &parents : nullptr, false, {},
                       keep ? &mixer : nullptr, true);
        if (found.empty()) {  // none where they belong: look everywhere, as a window of another shape may need
            parents.clear();
            collectHeaders(mainWindow, found, 0, search_depth::kTrackHeaders, keep ? &parents : nullptr, false, {},
                           keep ? &mixer : nullptr);
        }
        // A window whose rows could not be read shows no tracks only for now: a failed read is kept
        // for the call, so it is read anew, and one that keeps failing is told apart from an empty list.
        for (int again = 0; found.empty() && !mainWindow.elements(ax::kChildren); ++again) {
            if (again == kReadsAfterFailure) {
                tListUnreadable = true;
                break;
            }
            platform::invalidateAccessibilityReads();
            parents.clear();
            collectHeaders(mainWindow, found, 0, search_depth::kTrackHeaders, keep ? &parents : nullptr, false, {},
                           keep ? &mixer : nullptr);
        }
        if (keep) {
            kept.headersWindow = mainWindow;
            kept.headerParents = std::move(parents);
            if (mixer) {
                kept.mixerWindow = mainWindow;
                kept.mixer = mixer;
            }
        }
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const LogicInspector::TrackHeader& a, const LogicInspector::TrackHeader& b) {
                         return a.trackNumber < b.trackNumber;
                     });
    std::vector<LogicInspector::TrackHeader> unique;
    for (auto& h : found)
        if (unique.empty() || unique.back().trackNumber != h.trackNumber) unique.push_back(std::move(h));
    if (kept.open > 0) {
        // What a look into the folders learned holds only for the list it looked behind; a list
        // that could not be read at all changed nothing.
        if (kept.hiddenLooked && !unique.empty() && !sameList(unique, kept.hiddenBehind)) {
            kept.hiddenLooked = false;
            kept.hiddenBehind.clear();
            kept.hidden.clear();
        }
        kept.namedHeadersWindow = mainWindow;
        kept.namedHeaders.clear();
        kept.sharedNames.clear();
        kept.listedNow = true;
        for (const auto& h : unique)
            if (!kept.namedHeaders.emplace(text::lowercased(h.name), h.element).second)
                kept.sharedNames.push_back(text::lowercased(h.name));
        listing = {};
        if (!unique.empty()) {
            listing.window = mainWindow;
            for (const auto& list : kept.headerParents)
                if (auto rows = list.element.elements(ax::kChildren)) listing.lists.emplace_back(list.element, *rows);
            listing.headers = unique;
        }
    }
    return unique;
}

}  // namespace

std::vector<LogicInspector::TrackHeader> LogicInspector::findTrackHeadersByName(const AXElement& mainWindow) const {
    return headersOf(mainWindow);
}

std::optional<LogicInspector::TrackHeader> LogicInspector::keptHeaderNamed(const AXElement& mainWindow,
                                                                          const std::string& name) const {
    const auto& kept = detail::keptPlaces();
    if (kept.open == 0 || !(kept.namedHeadersWindow == mainWindow)) return std::nullopt;
    const auto found = kept.namedHeaders.find(text::lowercased(name));
    if (found == kept.namedHeaders.end()) return std::nullopt;
    // Read anew: a header that went away answers nothing, and one renamed answers its new name.
    found->second.prefetch(kListReads);
    const std::string description = text::trimmingWhitespaceAndNewlines(textOf(found->second, ax::kDescription));
    const auto parsed = parseTrackDescription(description);
    if (!parsed || !text::equalsIgnoringCase(parsed->name, name)) return std::nullopt;
    const bool muted = description.ends_with(", mute") || description.ends_with(", muted");
    return TrackHeader{found->second, parsed->number, parsed->name, muted, hasDisclosureTriangle(found->second)};
}

void LogicInspector::findTrackHeaderElements(const AXElement& element, std::vector<TrackHeader>& headers, int depth,
                                             int maxDepth) const {
    collectHeaders(element, headers, depth, maxDepth, nullptr);
}

std::vector<LogicInspector::TrackHeader> LogicInspector::findTrackHeaders(const AXElement& mainWindow) const {
    auto headers = headersOf(mainWindow);
    // Only of the headers kept: a track's row in the contents repeats its header's description.
    for (auto& h : headers) h.isFolder = hasDisclosureTriangle(h.element);
    return headers;
}

std::vector<LogicInspector::IndentedHeader> LogicInspector::findTrackHeadersWithIndent(
    const AXElement& mainWindow) const {
    auto headers = findTrackHeaders(mainWindow);
    if (headers.empty()) return {};
    std::vector<double> xs;
    for (const auto& h : headers) xs.push_back(frameForElement(h.element).x);
    double minX = *std::min_element(xs.begin(), xs.end());
    std::vector<IndentedHeader> out;
    for (size_t i = 0; i < headers.size(); ++i) {
        double level = std::round(std::max(0.0, xs[i] - minX) / 12.0);
        out.push_back({headers[i], std::isfinite(level) ? static_cast<std::int64_t>(level) : 0});
    }
    return out;
}

namespace {

// The header as listed still shows that track under that name, read anew; its mute state as it
// shows now.
bool stillShows(LogicInspector::TrackHeader& header) {
    header.element.prefetch(kListReads);
    const std::string description = text::trimmingWhitespaceAndNewlines(textOf(header.element, ax::kDescription));
    const auto parsed = LogicInspector::parseTrackDescription(description);
    if (!parsed || parsed->number != header.trackNumber || parsed->name != header.name) return false;
    header.isMuted = description.ends_with(", mute") || description.ends_with(", muted");
    return true;
}

}  // namespace

std::vector<LogicInspector::TrackHeader> detail::listedHeaders(const AXElement& mainWindow) {
    return headersOf(mainWindow);
}

bool detail::hasFolderTriangle(const AXElement& header) { return hasDisclosureTriangle(header); }

LogicInspector::ResolvedTrack LogicInspector::resolveTrack(const std::string& named, bool lookIntoFolders) const {
    auto window = findMainWindow();
    if (!window) {
        ResolvedTrack none;
        none.unreadable = logicApplication().has_value();
        return none;
    }
    // A track list read earlier in this call is read once more only when a list of it changed, or
    // the header found no longer shows the name: the list is what tells a name shared by several
    // tracks, and reading it whole again for each track a call selects costs a round trip per track.
    for (const bool sameCall : {true, false}) {
        bool reused = false;
        // Only the header found needs its folder flag: one read instead of one per track.
        const auto headers = headersOf(*window, sameCall, &reused);
        ResolvedTrack result;
        result.unreadable = tListUnreadable;
        for (const auto& h : headers) result.availableNames.push_back(h.name);
        auto takeAll = [&](const std::string& lowered) {
            for (const auto& h : headers)
                if (nameKey(h.name) == lowered) result.matches.push_back(h);
            if (result.matches.empty()) return false;
            result.header = result.matches.front();
            return true;
        };
        auto wanted = nameKey(named);
        if (!takeAll(wanted)) {
            static const Regex suffix(R"(\s*\[[^\]]*\]\s*$)");
            std::string stripped = suffix.replaceAll(wanted, "");
            stripped = std::string(text::trimSpacesAndTabs(stripped));
            if (stripped != wanted && takeAll(stripped)) wanted = stripped;
        }
        if (reused && (!result.header || !stillShows(*result.header))) continue;
        // A name one shown track bears may be borne by a track a collapsed folder hides as well.
        if (lookIntoFolders && result.matches.size() == 1 && detail::listMayHideTracks(headers)) {
            bool looked = false;
            const auto hidden = detail::hiddenTracks(*this, *window, headers, looked);
            if (looked) {  // the folders opened and closed again may have rebuilt the list, or the window
                const auto refind = [&] {
                    for (const auto& h : headersOf(*window))
                        if (h.trackNumber == result.header->trackNumber) {
                            result.header = result.matches.front() = h;
                            return true;
                        }
                    return false;
                };
                if (!refind()) {
                    platform::invalidateAccessibilityReads();  // see FolderLook::windowAnew
                    if ((window = findMainWindow())) refind();
                }
                if (!window) return {};
                result.window = window;
            }
            for (const auto& h : hidden)
                if (nameKey(h.name) == wanted) result.matches.push_back(h);
            std::stable_sort(result.matches.begin(), result.matches.end(),
                             [](const TrackHeader& a, const TrackHeader& b) { return a.trackNumber < b.trackNumber; });
        }
        if (result.header) result.header->isFolder = hasDisclosureTriangle(result.header->element);
        return result;
    }
    return {};
}

std::string LogicInspector::ambiguousTrackMessage(const ResolvedTrack& resolved) {
    std::string numbers;
    for (std::size_t i = 0; i < resolved.matches.size(); ++i)
        numbers += (i == 0 ? "" : i + 1 == resolved.matches.size() ? " and " : ", ") +
                   std::to_string(resolved.matches[i].trackNumber);
    const std::string name = resolved.header ? resolved.header->name : std::string();
    return "tracks " + numbers + " are all named '" + name +
           "', so the one meant cannot be told apart; nothing was changed. Give them distinct names in Logic Pro, "
           "then retry.";
}

std::string LogicInspector::unreadableListMessage(const std::string& named) {
    return "Track '" + named +
           "' was not looked for: Logic Pro's track list could not be read, even when read again. Nothing was "
           "changed; retry in a moment.";
}

std::string LogicInspector::selectionFailure(const std::string& named) const {
    const auto resolved = resolveTrack(named);
    if (resolved.unreadable) return unreadableListMessage(named);
    if (!resolved.header) {
        std::string available;
        for (const auto& n : resolved.availableNames) available += (available.empty() ? "" : ", ") + n;
        // A track inside a collapsed folder has no header to select, so an unlisted name may still be a track.
        if (auto window = findMainWindow(); window && mayHideTracks(*window))
            return "Track '" + named +
                   "' is not among the tracks Logic Pro's track list shows; a collapsed folder may hold it, and a "
                   "track inside one cannot be selected. Nothing was changed: expand the folder that holds it "
                   "(set_folder_expanded), then retry. Shown: " +
                   available;
        return "Track '" + named + "' not found. Available: " + available;
    }
    if (resolved.matches.size() > 1) return "Track '" + named + "': " + ambiguousTrackMessage(resolved);
    std::string message = "Track '" + resolved.header->name + "' could not be selected";
    if (auto window = findMainWindow())
        if (auto shown = stripName(readChannelStrip(*window)); !shown.empty())
            message += " \u2014 Logic Pro's channel strip shows '" + shown + "'";
    return message + "; nothing was changed.";
}

std::optional<LogicInspector::SelectedTrack> LogicInspector::selectTrack(const std::string& named,
                                                                         bool stripReadNext) const {
    auto window = findMainWindow();
    if (!window) return std::nullopt;
    auto resolved = resolveTrack(named);
    if (!resolved.header) return std::nullopt;
    if (resolved.window) window = resolved.window;
    if (resolved.matches.size() > 1) {
        log(fmt::format("[selectTrack] {} tracks are named '{}'; none is selected", resolved.matches.size(),
                        resolved.header->name));
        return std::nullopt;
    }
    activateLogic();
    if (selectTrackViaKeyboard(*resolved.header, *window, stripReadNext))
        return SelectedTrack{*resolved.header, *window};
    log(logic_messages::selectTrackFailed(resolved.header->name));
    return std::nullopt;
}

namespace {

using Row = std::pair<LogicInspector::TrackHeader, double>;

// The shown headers in on-screen order, top to bottom; `reused`: as listed earlier in this call
// (see headersOf), with where they lay then.
std::vector<Row> rowsOnScreen(const AXElement& mainWindow, bool& reused) {
    // Only a listing whose places were read with it: the headers' places cost more read alone than
    // with the list.
    auto& listing = detail::keptPlaces().listing;
    const bool placedBefore = !listing.tops.empty() && listing.tops.size() == listing.headers.size();
    const auto headers = headersOf(mainWindow, placedBefore, &reused);
    const bool placed = reused && listing.tops.size() == headers.size();
    std::vector<Row> rows;
    for (std::size_t i = 0; i < headers.size(); ++i)
        rows.emplace_back(headers[i], placed ? listing.tops[i] : LogicInspector::frameForElement(headers[i].element).y);
    if (!placed && listing.headers.size() == headers.size()) {
        listing.tops.clear();
        for (const auto& row : rows) listing.tops.push_back(row.second);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    return rows;
}

// The name the first channel strip shows, as its own name field (among its direct children) holds
// it; empty when there is no strip. The field found is kept per strip, and read anew each time: a
// strip that shows another track shows that track's name in it.
std::string nameOnStrip(const LogicInspector& logic, const AXElement& mainWindow) {
    // What a whole read of the strip asks of each element: one that follows finds these answers kept.
    static const std::vector<std::string> kFieldReads{ax::kRole, ax::kDescription, ax::kTitle,    ax::kChildren,
                                                      ax::kHelp, ax::kValue,       ax::kPosition, ax::kSize};
    auto isNameField = [](const AXElement& e) {
        return textOf(e, ax::kRole) == "AXTextField" &&
               text::trimmingWhitespaceAndNewlines(textOf(e, ax::kDescription)) == "name";
    };
    auto& kept = detail::keptPlaces();
    // The field last found on the first strip, while one read of it still finds it so: Logic Pro
    // shows the selected track on that strip, built anew (and its handles gone) when it shows another.
    if (kept.open > 0 && kept.firstStripNameField && kept.firstStripWindow == mainWindow) {
        kept.firstStripNameField.prefetch(kFieldReads);
        if (isNameField(kept.firstStripNameField))
            if (auto name = ax_read::valueText(kept.firstStripNameField)) return *name;
    }
    const auto strip = logic.firstStripShown(mainWindow);
    if (!strip) return "";
    strip->prefetch(kFieldReads);
    if (auto known = kept.stripNameFields.find(*strip); kept.open > 0 && known != kept.stripNameFields.end()) {
        known->second.prefetch(kFieldReads);
        if (isNameField(known->second))
            if (auto name = ax_read::valueText(known->second)) {
                kept.firstStripWindow = mainWindow;
                kept.firstStripNameField = known->second;
                return *name;
            }
    }
    const auto children = strip->children();
    auto take = [&](std::size_t index) -> std::optional<std::string> {
        const auto& child = children[index];
        child.prefetch(kFieldReads);
        if (!isNameField(child)) return std::nullopt;
        auto name = ax_read::valueText(child);
        if (!name) return std::nullopt;
        if (kept.open > 0) {
            if (kept.stripNameFields.size() >= 4096) kept.stripNameFields.clear();  // a session's worth, not more
            kept.stripNameFields[*strip] = child;
            kept.stripNameIndex = index;
            kept.firstStripWindow = mainWindow;
            kept.firstStripNameField = child;
        }
        return name;
    };
    // A strip built anew for another track lays its children out as the last one did: the field is
    // looked for first where it was then, and only if it is not there, child by child.
    if (kept.open > 0 && kept.stripNameIndex < children.size())
        if (auto name = take(kept.stripNameIndex)) return *name;
    for (std::size_t i = 0; i < children.size(); ++i)
        if (auto name = take(i)) return *name;
    return "";
}

// The rows whose headers Logic Pro shows selected; none when the selected track is hidden in a
// collapsed folder.
std::vector<long> selectedRows(const std::vector<Row>& rows) {
    std::vector<long> selected;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (selectedFlag(rows[i].first.element)) selected.push_back(static_cast<long>(i));
    return selected;
}

}  // namespace

// The track shown by the channel strip is the one a write reaches, and the one selected is the one
// the M and S keys reach: both must be the target's row before anyone acts. The selection is told
// by the selected header, never by the strip's name, which two tracks may share and which lags.
bool LogicInspector::selectTrackViaKeyboard(const TrackHeader& target, const AXElement& mainWindow,
                                            bool stripReadNext) const {
    const KeptPlaces places;
    // The strip is to follow another track now: until it shows this one, any may show.
    detail::keptPlaces().holdStrip({});
    const auto holdStrip = [&] { detail::keptPlaces().holdStrip(target.name); };
    // Each change may rebuild the window and everything in it (stale handles): where the held window
    // finds nothing, it is found anew, and what was looked for looked for again.
    AXElement window = mainWindow;
    auto renewWindow = [&] {
        if (window.string(ax::kRole)) return false;
        window = mainWindowAnew(window);
        return true;
    };
    ensureInspectorOpen(window);
    bool listed = false;
    auto rows = rowsOnScreen(window, listed);
    if (rows.empty() && renewWindow()) rows = rowsOnScreen(window, listed);
    if (rows.empty()) return false;
    auto& listing = detail::keptPlaces().listing;

    auto targetIt = std::find_if(rows.begin(), rows.end(),
                                 [&](const auto& r) { return r.first.trackNumber == target.trackNumber; });
    if (targetIt == rows.end()) {
        log(fmt::format("[selectTrackViaKeyboard] target '{}' (#{}) not in header list", target.name,
                        target.trackNumber));
        return false;
    }
    const long targetIndex = targetIt - rows.begin();
    const auto sameName = std::count_if(rows.begin(), rows.end(), [&](const auto& r) {
        return namesMatch(r.first.name, target.name);
    });
    if (sameName > 1) {
        log(fmt::format("[selectTrackViaKeyboard] {} tracks are named '{}': the strip cannot tell which it shows",
                        sameName, target.name));
        return false;
    }

    // Only the name is read, except where the answer rests on the read and the caller reads the
    // strip next: that read is whole, and its answers are found kept.
    bool answerRead = false;
    auto shownStripName = [&] {
        auto read = [&] {
            return answerRead && stripReadNext ? stripName(readChannelStrip(window)) : nameOnStrip(*this, window);
        };
        std::string shown = read();
        if (shown.empty() && renewWindow()) shown = read();
        return shown;
    };
    // Strip reads until it shows `name`, within the bound; the last name read. An unreadable strip
    // is not waited for.
    auto awaitStrip = [&](const std::string& name, std::string shown, const std::function<bool()>& worthWaiting) {
        for (double waited = 0; !namesMatch(shown, name) && waited < pacing::kStripCatchUpLimit;
             waited += pacing::kStripCatchUpPoll) {
            if (shown.empty() || !worthWaiting()) break;
            platform::pause(pacing::kStripCatchUpPoll);
            shown = shownStripName();
        }
        return shown;
    };

    // The rows as listed earlier in this call: the one this call last selected, while it still
    // shows selected, is the one to move from (one read instead of one per row above it).
    long currentIndex = -1;
    if (listed && listing.selected) {
        const auto known = std::find_if(rows.begin(), rows.end(),
                                        [&](const auto& r) { return r.first.trackNumber == *listing.selected; });
        if (known != rows.end() && selectedFlag(known->first.element)) currentIndex = known - rows.begin();
    }
    std::string current;
    bool currentRead = false;
    if (currentIndex < 0) {
        const auto selected = selectedRows(rows);
        if (selected.size() == 1) {
            currentIndex = selected.front();
        } else if (selected.size() > 1) {
            // Shift-clicks select more than one: the strip, and the arrow keys, follow the track
            // selected before them, whose header has the focus, or else whose name the strip shows
            // when one of the selected bears it (a strip that lags shows an earlier one). When none
            // or several do, the target's header is pressed instead, selecting it alone.
            std::vector<TrackHeader> shown;
            for (const long row : selected) shown.push_back(rows[static_cast<std::size_t>(row)].first);
            if (const auto focused = focusedHeader(shown)) {
                for (const long row : selected)
                    if (rows[static_cast<std::size_t>(row)].first.trackNumber == *focused) currentIndex = row;
            } else {
                current = nameOnStrip(*this, window);
                currentRead = true;
                long named = -1;
                int bearing = 0;
                for (const long row : selected)
                    if (namesMatch(rows[static_cast<std::size_t>(row)].first.name, current)) {
                        named = row;
                        ++bearing;
                    }
                if (bearing == 1) currentIndex = named;
            }
        }
    }
    answerRead = currentIndex == targetIndex;
    if (!currentRead || (answerRead && stripReadNext)) current = shownStripName();
    if (currentIndex >= 0) {
        // A strip still following an earlier selection would change under a write later on.
        current = awaitStrip(rows[static_cast<std::size_t>(currentIndex)].first.name, current, [] { return true; });
        if (currentIndex == targetIndex) {
            const bool shows = namesMatch(current, target.name);
            log(shows ? fmt::format("[selectTrackViaKeyboard] already on target '{}'", target.name)
                      : fmt::format("[selectTrackViaKeyboard] '{}' is selected but the strip shows '{}'", target.name,
                                    current));
            if (shows) {
                listing.selected = target.trackNumber;
                holdStrip();
            }
            return shows;
        }
    }

    // The strip is built anew for the track selected next: the name field found on it goes.
    detail::keptPlaces().firstStripNameField = {};
    if (currentIndex < 0) {
        log(fmt::format("[selectTrackViaKeyboard] no shown header is selected (strip name='{}'); pressing '{}' (#{})",
                        current, target.name, target.trackNumber));
        activateLogic();
        auto pressed = target.element.performAction(ax::kPress);
        if (pressed != platform::AXError::success) {  // by its number, in the list read anew
            renewWindow();
            for (const auto& h : headersOf(window))
                if (h.trackNumber == target.trackNumber) pressed = h.element.performAction(ax::kPress);
        }
        if (pressed != platform::AXError::success) {
            log(fmt::format("[selectTrackViaKeyboard] the header of '{}' could not be pressed", target.name));
            return false;
        }
        platform::pause(pacing::kSelectionSettles);
    } else if (currentIndex != targetIndex) {
        const long delta = targetIndex - currentIndex;
        const long presses = std::labs(delta);
        const std::uint16_t key = delta > 0 ? key_code::kDown : key_code::kUp;
        log(fmt::format("[selectTrackViaKeyboard] navigating from '{}' (idx {}) to '{}' (idx {}) via {} {} presses",
                        rows[static_cast<std::size_t>(currentIndex)].first.name, currentIndex, target.name,
                        targetIndex, presses, delta > 0 ? "↓" : "↑"));
        activateLogic();
        platform::pause(pacing::kBeforeArrowKeys);
        for (long i = 0; i < presses; ++i) {
            pressKey(key);
            platform::pause(pacing::kArrowKeyRepeat);
        }
        platform::pause(pacing::kSelectionSettles);
    }

    // The target's header must show it selected, and the strip must follow; a selection that did
    // not move is not waited for.
    auto targetSelected = [&] {
        // Its own header answers, while it is still the target's; else the list is searched again.
        target.element.prefetch(kListReads);
        if (auto parsed = parseTrackDescription(textOf(target.element, ax::kDescription));
            parsed && parsed->number == target.trackNumber)
            return selectedFlag(target.element);
        for (int attempt = 0; attempt < 2; ++attempt) {
            for (const auto& h : headersOf(window))
                if (h.trackNumber == target.trackNumber) return selectedFlag(h.element);
            if (!renewWindow()) break;
        }
        return false;
    };
    const bool selected = targetSelected();
    answerRead = selected;
    const std::string after = selected ? awaitStrip(target.name, shownStripName(), targetSelected)
                                       : shownStripName();
    const bool verified = selected && namesMatch(after, target.name) && targetSelected();
    if (verified) {
        listing.selected = target.trackNumber;
        holdStrip();
    }
    log(fmt::format("[selectTrackViaKeyboard] after navigation, strip name='{}' (verified={})", after,
                    verified ? "yes" : "no"));
    return verified;
}

std::vector<LogicInspector::TrackHeader> LogicInspector::selectedTrackHeaders(const AXElement& mainWindow) const {
    std::vector<TrackHeader> selected;
    for (auto& h : headersOf(mainWindow))
        if (selectedFlag(h.element)) selected.push_back(std::move(h));
    return selected;
}

std::optional<std::int64_t> LogicInspector::focusedHeader(const std::vector<TrackHeader>& headers) const {
    const auto logic = logicApplication();
    if (!logic) return std::nullopt;
    auto focused = applicationElement(*logic).element(ax::kFocusedUIElement);
    // A held handle read too often may no longer answer: one made anew stands for the same process.
    if (!focused)
        focused = platform::accessibility().applicationElement(logic->processIdentifier).element(ax::kFocusedUIElement);
    if (!focused) return std::nullopt;
    for (const auto& h : headers)
        if (h.element == *focused) return h.trackNumber;
    return std::nullopt;
}

LogicInspector::AXElement LogicInspector::mainWindowAnew(const AXElement& held) const {
    if (held.string(ax::kRole)) return held;
    // A handle of the same window, new: a kept one may be the very handle that went stale.
    if (const auto logic = logicApplication())
        if (const auto windows = applicationElement(*logic).elements(ax::kWindows))
            if (const auto same = std::find(windows->begin(), windows->end(), held); same != windows->end())
                return *same;
    return findMainWindow().value_or(held);
}

std::optional<LogicInspector::AXElement> LogicInspector::stripShowing(const AXElement& window,
                                                                      const std::string& trackName,
                                                                      std::string& shown, bool evenStopped) const {
    const KeptPlaces places;  // the strip's name field, read again while it still answers
    AXElement held = window;
    // Timed by the clock: a stopped call's held pauses may be cut short.
    const auto start = platform::clock().now();
    for (;;) {
        held = mainWindowAnew(held);
        shown = nameOnStrip(*this, held);
        if (namesMatch(shown, trackName))
            if (auto strip = firstStripShown(held)) return strip;
        // Once stopped, what shows now is all there is: a stopped call waits for nothing, unless it
        // still has to put back what it moved.
        const std::chrono::duration<double> waited = platform::clock().now() - start;
        if (waited.count() >= pacing::kStripCatchUpLimit || (!evenStopped && platform::stopRequested()))
            return std::nullopt;
        if (evenStopped) {
            const platform::HeldPauses owed;
            platform::pause(pacing::kStripCatchUpPoll);
        } else {
            platform::pause(pacing::kStripCatchUpPoll);
        }
    }
}

std::optional<LogicInspector::AXElement> LogicInspector::heldStrip(const AXElement& window, std::string& shown,
                                                                   bool evenStopped) const {
    auto& kept = detail::keptPlaces();
    if (kept.open == 0 || kept.stripHeldTo.empty()) return firstStripShown(window);
    const std::string track = kept.stripHeldTo;
    auto strip = firstStripShown(window);
    if (strip && *strip == kept.stripHeldSeen) return strip;
    shown = nameOnStrip(*this, window);
    if (shown.empty()) return strip;
    if (!namesMatch(shown, track)) {
        strip = kept.stripHeldLost ? std::nullopt : stripShowing(window, track, shown, evenStopped);
        if (!strip) {
            kept.stripHeldLost = true;
            return std::nullopt;
        }
    }
    kept.stripHeldSeen = strip.value_or(AXElement{});
    return strip;
}

LogicInspector::TrackSelection LogicInspector::trackSelection(const AXElement& mainWindow) const {
    TrackSelection selection{selectedTrackHeaders(mainWindow), std::nullopt};
    if (selection.headers.size() == 1) selection.leading = selection.headers.front().trackNumber;
    if (selection.headers.size() < 2) return selection;
    if ((selection.leading = focusedHeader(selection.headers))) return selection;
    const std::string shown = nameOnStrip(*this, mainWindow);
    int bearing = 0;
    for (const auto& h : selection.headers)
        if (namesMatch(h.name, shown)) {
            selection.leading = h.trackNumber;
            ++bearing;
        }
    if (bearing != 1) selection.leading.reset();
    return selection;
}

bool LogicInspector::reselectTracks(const TrackSelection& selection, const AXElement& heldWindow) const {
    if (selection.headers.empty()) return true;
    // The user's selection comes back, and the strip with it.
    detail::keptPlaces().holdStrip({});
    AXElement mainWindow = mainWindowAnew(heldWindow);
    std::set<std::int64_t> wanted;
    for (const auto& h : selection.headers) wanted.insert(h.trackNumber);
    const std::int64_t leading = selection.leading.value_or(selection.headers.front().trackNumber);
    auto selectedNow = [&] {
        std::set<std::int64_t> numbers;
        for (const auto& h : selectedTrackHeaders(mainWindow)) numbers.insert(h.trackNumber);
        return numbers;
    };
    // By number: a header handle may have gone stale since the selection was read.
    auto shown = [&] {
        std::map<std::int64_t, TrackHeader> byNumber;
        for (auto& h : headersOf(mainWindow)) byNumber.emplace(h.trackNumber, std::move(h));
        return byNumber;
    };
    const auto before = selectedNow();
    if (before == wanted) return true;
    auto headers = shown();
    if (!headers.count(leading)) return false;
    if (before != std::set<std::int64_t>{leading}) {
        if (headers.at(leading).element.performAction(ax::kPress) != platform::AXError::success) return false;
        platform::pause(pacing::kSelectionSettles);
        mainWindow = mainWindowAnew(mainWindow);
    }
    const auto logic = logicApplication();
    if (!logic) return false;
    if (wanted.size() > 1) {
        // A click lands on the frontmost window under the pointer and brings the main window to the
        // front: the windows before it go back in front afterwards, the frontmost last.
        // A handle made anew since may not equal the one listed: the main window is then told by its
        // title, which no other window's can equal.
        const std::string mainTitle = textOf(mainWindow, ax::kTitle);
        auto frontOf = [&](const std::vector<AXElement>& windows) {
            auto main = std::find(windows.begin(), windows.end(), mainWindow);
            if (main == windows.end() && !mainTitle.empty())
                main = std::find_if(windows.begin(), windows.end(),
                                    [&](const AXElement& w) { return textOf(w, ax::kTitle) == mainTitle; });
            return main;
        };
        // Windows that cannot be listed are no place to click blind.
        auto listed = [&] { return applicationWindows(*logic); };
        const auto windows = listed();
        if (!windows) return false;
        const auto main = frontOf(*windows);
        if (main == windows->end()) return false;
        const std::vector<AXElement> inFront(windows->begin(), main);
        // Their titles find them again where a raise or click leaves the handles stale.
        std::vector<std::string> inFrontTitles;
        for (const auto& w : inFront) inFrontTitles.push_back(textOf(w, ax::kTitle));
        if (!inFront.empty()) {
            if (mainWindow.performAction(ax::kRaise) == platform::AXError::invalidUIElement)
                mainWindow = mainWindowAnew(mainWindow), mainWindow.performAction(ax::kRaise);
            mainWindow = mainWindowAnew(mainWindow);
            // A click lands on whatever window is in front: none is made unless the main window is.
            const auto raised = listed();
            if (!raised || frontOf(*raised) != raised->begin()) return false;
        }
        headers = shown();  // the click before rebuilt the list
        auto& input = platform::input();
        for (const std::int64_t number : wanted) {
            const auto h = headers.find(number);
            if (number == leading || h == headers.end()) continue;
            // Near its top edge, clear of the header's own switches and fields.
            const Rect frame = frameForElement(h->second.element);
            const Point at{frame.x + frame.width / 2, frame.y + std::min(4.0, frame.height / 4)};
            using platform::MouseEventType;
            input.postMouseToProcess(logic->processIdentifier, {MouseEventType::moved, at, 0});
            platform::pause(pacing::kTargetedClickPointerSettle);
            input.postMouseToProcess(logic->processIdentifier, {MouseEventType::leftDown, at, platform::modifier::kShift});
            platform::pause(pacing::kTargetedClickHold);
            input.postMouseToProcess(logic->processIdentifier, {MouseEventType::leftUp, at, platform::modifier::kShift});
        }
        platform::pause(pacing::kSelectionExtends);
        for (std::size_t i = inFront.size(); i-- > 0;) {
            if (inFront[i].performAction(ax::kRaise) != platform::AXError::invalidUIElement) continue;
            if (const auto again = listed())
                for (const auto& w : *again)
                    if (!inFrontTitles[i].empty() && textOf(w, ax::kTitle) == inFrontTitles[i]) {
                        w.performAction(ax::kRaise);
                        break;
                    }
        }
        mainWindow = mainWindowAnew(mainWindow);
    }
    return selectedNow() == wanted;
}

bool LogicInspector::mayHideTracks(const AXElement& mainWindow) const {
    auto headers = headersOf(mainWindow, true);
    // No rows read through a window handle gone stale: through the window found anew.
    if (headers.empty())
        if (const auto again = mainWindowAnew(mainWindow); !(again == mainWindow)) headers = headersOf(again, true);
    return detail::listMayHideTracks(headers);
}

bool detail::listMayHideTracks(const std::vector<LogicInspector::TrackHeader>& headers) {
    std::vector<std::int64_t> numbers;
    for (const auto& h : headers) numbers.push_back(h.trackNumber);
    return sidechain_source::mayHideTracks(numbers, [&] { return hasDisclosureTriangle(headers.back().element); });
}

std::optional<bool> LogicInspector::headerSwitchState(const TrackHeader& header, const std::string& labelHint) const {
    header.element.prefetch(kListReads);
    const auto parsed = parseTrackDescription(textOf(header.element, ax::kDescription));
    if (!parsed || parsed->number != header.trackNumber) return std::nullopt;
    return detectToggleState(header.element, labelHint);
}

bool LogicInspector::ensureInspectorOpen(const AXElement& mainWindow) const {
    if (findMixerArea(mainWindow)) return true;
    // A window gone stale shows no Mixer area: I would hide the Inspector it still shows.
    if (!mainWindow.string(ax::kRole))
        if (auto window = findMainWindow(); window && findMixerArea(*window)) return true;
    activateLogic();
    platform::pause(pacing::kBeforeInspectorKey);
    pressKey(key_code::kI);
    platform::pause(pacing::kInspectorOpens);
    if (findMixerArea(mainWindow)) return true;
    log("[ensureInspectorOpen] pressed I but Inspector still hidden");
    return false;
}

std::optional<bool> LogicInspector::isFolderExpanded(const TrackHeader& header) const {
    if (!header.isFolder) return std::nullopt;
    header.element.prefetchChildren(kHeaderChildReads);
    for (const auto& child : header.element.children()) {
        if (child.string(ax::kRole) != std::optional<std::string>("AXDisclosureTriangle")) continue;
        if (const auto open = detail::triangleOpen(child)) return open;
    }
    return std::nullopt;
}

Outcome LogicInspector::setFolderExpanded(const TrackHeader& header, bool expanded) const {
    if (!header.isFolder) return {false, "Track '" + header.name + "' is not a folder."};
    auto state = isFolderExpanded(header);
    if (state && *state == expanded)
        return {true, "Folder '" + header.name + "' is already " + (expanded ? "expanded" : "collapsed") + "."};
    // By its row: another track may carry the folder's name.
    auto window = findMainWindow();
    activateLogic();
    if (!window || !selectTrackViaKeyboard(header, *window))
        return {false, "Could not select folder '" + header.name + "'."};
    pressKeyChord(expanded ? key_code::kRight : key_code::kLeft, key_code::kCommandFlag | key_code::kControlFlag);
    platform::pause(pacing::kFolderToggles);
    return {true, std::string(expanded ? "Expanded folder '" : "Collapsed folder '") + header.name + "'."};
}

}  // namespace corvane
