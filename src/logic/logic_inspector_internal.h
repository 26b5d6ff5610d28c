#pragma once

// For the sources of LogicInspector and LogicDiagnostics only: the short names they write the
// Accessibility vocabulary with, and the small readings several of them share.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "logic/ax_read.h"
#include "logic/ax_tree.h"
#include "logic/logic_inspector.h"
#include "platform/accessibility.h"
#include "support/numbers.h"

namespace corvane {

namespace ax = platform::ax;
using platform::AXElement;
using ax_tree::Next;
using ax_tree::Step;

using ax_read::textOf;

namespace detail {

// Where an element's frame starts on screen; a missing position counts as 0.
inline double topOf(const AXElement& e) { return LogicInspector::frameForElement(e).y; }

// AXSelected holding the Boolean true; a number does not count.
inline bool selectedFlag(const AXElement& e) {
    const auto selected = ax_read::valueOf(e, ax::kSelected);
    return selected && std::holds_alternative<bool>(*selected) && std::get<bool>(*selected);
}

// Slots, insert bars or anything else with an element, highest on screen first; equals keep their order.
template <class Placed>
void sortTopToBottom(std::vector<Placed>& placed) {
    std::stable_sort(placed.begin(), placed.end(),
                     [](const Placed& a, const Placed& b) { return topOf(a.element) < topOf(b.element); });
}

inline std::vector<std::string> slotNames(const std::vector<LogicInspector::InsertSlot>& slots) {
    std::vector<std::string> names;
    for (const auto& s : slots) names.push_back(s.name);
    return names;
}

// A send knob's raw AXValue, truncated to a whole number.
inline std::optional<std::int64_t> rawKnobValue(const AXElement& knob) {
    auto v = knob.number(ax::kValue);
    if (!v) return std::nullopt;
    return checkedInteger(*v, INT64_MIN / 2, INT64_MAX / 2);
}

// What the readings of a track header's children ask of each child, read in one round trip.
inline const std::vector<std::string> kHeaderChildReads{ax::kRole,       ax::kTitle, ax::kDescription,
                                                        ax::kIdentifier, ax::kValue, ax::kSelected};

// An element the track headers were found in, with its depth and the elements above it from
// the main window down, so that a search can start again from the nearest one still there.
struct HeaderParent {
    AXElement element;
    int depth = 0;
    std::vector<AXElement> ancestors;
};

// What an open LogicInspector::KeptPlaces remembers on this thread, and the read that checks each
// thing before it is used, as described there.
struct KeptPlaces {
    int open = 0;
    InspectorPlaces* owner = nullptr;  // where the outermost hands them on; none for an owner-less one
    int applicationPid = 0;
    AXElement application;
    AXElement mainWindow;  // the window found to hold the track list
    bool applicationChecked = false;  // read since the outermost opened
    AXElement headersWindow;
    std::vector<HeaderParent> headerParents;  // in walk order
    AXElement mixerWindow;
    AXElement mixer;
    struct Area {
        AXElement within;
        std::string description;
        AXElement element;
    };
    std::vector<Area> areas;  // described elements found within others ("Control Bar" in a window)
    struct FolderFlag {
        std::vector<AXElement> children;  // the header's children when it was told
        bool isFolder = false;
    };
    std::unordered_map<AXElement, FolderFlag, platform::AXElementHash> folderFlags;  // by track header
    struct Switches {
        std::vector<AXElement> children;  // the header's children when they were told
        // those of them that are buttons, check boxes or toggles, with their labels then
        std::vector<std::pair<AXElement, std::string>> switches;
    };
    std::unordered_map<AXElement, Switches, platform::AXElementHash> switches;  // by track header
    std::unordered_map<AXElement, AXElement, platform::AXElementHash> stripNameFields;  // by channel strip
    std::size_t stripNameIndex = SIZE_MAX;  // where among a strip's children its name field was last found
    AXElement firstStripWindow;             // the main window whose first strip's name field was last found
    // The track this call selected last: the first strip is taken only while it shows that one, as
    // the user's clicks may move it on while the call works. Never handed on to the next call.
    std::string stripHeldTo;
    bool stripHeldLost = false;  // it showed another all along once: no more waits for it
    AXElement stripHeldSeen;     // the strip last read showing that track: built anew to show another
    void holdStrip(std::string track) {
        stripHeldTo = std::move(track);
        stripHeldLost = false;
        stripHeldSeen = {};
    }
    AXElement firstStripNameField;          // and that field
    std::vector<std::size_t> viewButtonPath;  // child indices from the last plug-in window down to its view button
    AXElement viewButtonWindow;               // the plug-in window whose view button was found last
    AXElement viewButtonParent;               // the element that button lies in, when not the window itself
    AXElement pluginWindow;                   // the plug-in window a call found open last
    // Its title and place then: a handle gone stale finds it again by them, never another window.
    std::string pluginWindowTitle;
    std::optional<platform::Point> pluginWindowOrigin;
    AXElement viewShownWindow;                // the plug-in window whose view was last read or chosen
    std::optional<PluginViewPreference> viewShown;  // and that view
    AXElement namedHeadersWindow;
    std::unordered_map<std::string, AXElement> namedHeaders;  // by lower-cased name, as last listed
    // lower-cased, the names several of the last listed headers bore
    std::vector<std::string> sharedNames;
    // that listing was read since the outermost opened
    bool listedNow = false;
    AXElement chainStrip;                  // the channel strip whose insert bars and slots were found last
    std::vector<AXElement> chainStripChildren;  // its children then
    std::vector<AXElement> chains;              // the lists they lay in
    std::vector<AXElement> chainBars;           // the insert bars among their elements then
    struct SlotButtons {
        std::vector<AXElement> children;  // the slot's children when they were told
        std::size_t bypass = 0;           // which of them is its bypass switch
        std::size_t open = SIZE_MAX;      // and its open button, when that was read
    };
    std::unordered_map<AXElement, SlotButtons, platform::AXElementHash> slotButtons;  // by filled slot
    // The track list as read within this call, for the selections that follow in it: never handed
    // on to the next call.
    struct Listing {
        AXElement window;
        std::vector<std::pair<AXElement, std::vector<AXElement>>> lists;  // each list of headers, with its rows then
        std::vector<LogicInspector::TrackHeader> headers;                 // by number, without folder flags
        std::vector<double> tops;                                         // each header's top on screen, once read
        std::optional<std::int64_t> selected;                             // the track last told selected
    };
    Listing listing;
    // The tracks the collapsed folders hid when the list showed `hiddenBehind` (number and name of
    // each header): kept while every list read shows just that, forgotten when a turn starts.
    bool hiddenLooked = false;
    std::vector<std::pair<std::int64_t, std::string>> hiddenBehind;
    std::vector<LogicInspector::TrackHeader> hidden;
    // The folders a look opened in this call and could not shut again, by name.
    std::vector<std::string> foldersLeftOpen;
};
KeptPlaces& keptPlaces();

// An inspector's own: what its last outermost KeptPlaces handed on, and its search switches.
struct InspectorPlaces {
    std::mutex mutex;
    KeptPlaces handedOn;  // guarded by mutex
    std::atomic<bool> keptBetweenCalls{true};
    std::atomic<bool> foldersOpenedTogether{true};
};

// Whether the track list, as these headers (by number) show it, may leave out tracks Logic Pro
// has (see LogicInspector::mayHideTracks).
bool listMayHideTracks(const std::vector<LogicInspector::TrackHeader>& headers);

// Whether a folder's triangle shows it open; nothing when its value cannot be read.
inline std::optional<bool> triangleOpen(const AXElement& triangle) {
    const auto v = ax_read::valueOf(triangle);
    if (!v) return std::nullopt;
    if (auto* i = std::get_if<std::int64_t>(&*v)) return *i != 0;
    if (auto* b = std::get_if<bool>(&*v)) return *b;
    if (auto* d = std::get_if<double>(&*v)) return *d != 0;
    return std::nullopt;
}
// The track headers as listed now, by number (see LogicInspector::findTrackHeadersByName).
std::vector<LogicInspector::TrackHeader> listedHeaders(const AXElement& mainWindow);
// Whether the header has a disclosure triangle, kept while its children stay the same elements.
bool hasFolderTriangle(const AXElement& header);

// The tracks hidden in the collapsed folders of the list `shown`, as kept from an earlier look in
// this turn while the list shows the same; `looked` tells whether the folders were opened just now.
// `window` is found anew when a look rebuilt it.
std::vector<LogicInspector::TrackHeader> hiddenTracks(const LogicInspector& logic, AXElement& window,
                                                      const std::vector<LogicInspector::TrackHeader>& shown,
                                                      bool& looked);

// The element described so that was found within `within` before, while a read of it (with `reads`)
// still answers with that description; else absent.
std::optional<AXElement> keptArea(const AXElement& within, const std::string& description,
                                  const std::vector<std::string>& reads);
// Remembers it while places are kept (absent: forgets it).
void keepArea(const AXElement& within, const std::string& description, const std::optional<AXElement>& element);

// The main window's own described area ("Control Bar", "Tracks"): the kept one, else the first of the
// window's children so described, read one by one up to it. Absent when no child is so described.
std::optional<AXElement> windowArea(const AXElement& window, const std::string& description);

}  // namespace detail
}  // namespace corvane
