// The look into collapsed folders. Logic Pro lists no header for a track inside a collapsed folder,
// yet such a track may bear the name asked for. The folders shown collapsed are opened by their
// triangles (which leaves the selection alone), the headers they hold read (those of folders
// collapsed within too), and each shut again. Every press finds its folder anew by number, the
// window too when it was rebuilt, as the press before it may have rebuilt either.

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <utility>

#include "logic/ax_read.h"
#include "logic/logic_inspector.h"
#include "logic/logic_inspector_internal.h"
#include "logic/logic_timing.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/platform.h"

namespace corvane {

namespace {

using detail::kHeaderChildReads;

// How long each pause of a look into the folders lasts once Stop is pressed: the folders are
// still closed again, only quicker.
constexpr double kLookOnceStopped = 0.05;

// How often a folder's header is found anew for one step of the look before it is given up: on a
// screen whose elements go stale, each change may rebuild the window and everything in it.
constexpr int kLookAttempts = 4;

// Nested deeper than this, folders are not looked into.
constexpr int kLookDepth = 16;

// How often the list is read again while it has not yet changed as folders pressed will change it.
constexpr double kSettlePoll = 0.05;

class FolderLook {
public:
    FolderLook(const LogicInspector& logic, AXElement held, const std::vector<LogicInspector::TrackHeader>& shown)
        : window(std::move(held)), logic_(logic) {
        for (const auto& h : shown) seen.push_back(h.trackNumber);
    }

    // Each collapsed folder of a level is pressed open right after the other, then the list is read
    // once it shows what they all hold; the folders collapsed among those are opened likewise, and
    // at the end every folder opened is shut, from the bottom of the list up, and the list read
    // until it shows what it showed before. Each wait lasts until the list changed, one pause at most.
    void together(const std::vector<LogicInspector::TrackHeader>& shown) {
        auto folders = collapsedAmong(shown);  // read before the pause, with the list
        notePlaces(shown);
        platform::pause(0);  // a Stop by now opens no folder
        const platform::HeldPauses whole(kLookOnceStopped);  // never left open by a Stop
        std::vector<std::pair<std::int64_t, std::string>> toShut;
        level(std::move(folders), 0, toShut);
        // From the bottom of the list up: a folder within another lies below it, and each press
        // leaves the rows above it where they were.
        std::sort(toShut.begin(), toShut.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        bool pressed = false;
        for (const auto& [number, name] : toShut) pressed = shutPress(number, name, true) || pressed;
        if (!pressed || shown.empty()) return;
        std::vector<std::int64_t> before;
        for (const auto& h : shown) before.push_back(h.trackNumber);
        listOnceSettled(before.front(), [&](const std::vector<LogicInspector::TrackHeader>& headers) {
            return headers.size() == before.size() &&
                   std::equal(headers.begin(), headers.end(), before.begin(),
                              [](const auto& h, std::int64_t n) { return h.trackNumber == n; });
        });
    }

    // One folder after the other: opened, looked into (those within too) and shut, each press
    // followed by its pause.
    void oneByOne(const std::vector<LogicInspector::TrackHeader>& shown, int depth) {
        if (depth > kLookDepth) return;
        for (auto& [number, held] : collapsedAmong(shown)) {
            platform::pause(0);  // a Stop by now opens no further folder
            const platform::HeldPauses whole(kLookOnceStopped);  // never left open by a Stop
            const auto name = held.name;
            if (!openPress(number, std::move(held), false)) continue;
            opened = true;
            platform::pause(pacing::kFolderToggles);
            const auto inside = newlyListed(listNow(number));
            oneByOne(inside, depth + 1);
            if (shutPress(number, name, false)) platform::pause(pacing::kFolderToggles);
        }
    }

    AXElement window;  // found anew whenever the one held no longer answers
    std::vector<std::int64_t> seen;  // the numbers of the headers read so far
    std::vector<LogicInspector::TrackHeader> hidden;
    bool opened = false;
    std::vector<std::string> leftOpen;  // the folders it opened and could not shut again

private:
    struct Folder {
        AXElement triangle;
        bool open = false;
        std::string name;
    };
    struct List {
        AXElement element;
        AXElement above;        // the element it lies in, when known
        std::size_t index = 0;  // among the children of that
    };
    struct Place {
        std::size_t list = 0;  // of lists_
        std::size_t index = 0;
    };

    // The collapsed folders of one level, and those they hold.
    void level(std::vector<std::pair<std::int64_t, Folder>> folders, int depth,
               std::vector<std::pair<std::int64_t, std::string>>& toShut) {
        if (depth > kLookDepth) return;
        std::vector<std::int64_t> pressed;
        // From the bottom up, as they are shut.
        for (auto f = folders.rbegin(); f != folders.rend(); ++f) {
            auto& [number, held] = *f;
            const auto name = held.name;
            if (!openPress(number, std::move(held), true)) continue;
            toShut.emplace_back(number, name);
            pressed.push_back(number);
        }
        if (pressed.empty()) return;
        opened = true;
        // Settled once every folder pressed shows open and the list shows tracks it did not; folders
        // that hold nothing change no list, and are waited for the whole pause.
        const auto listed = listOnceSettled(pressed.front(), [&](const auto& headers) {
            const bool grew = std::any_of(headers.begin(), headers.end(), [&](const auto& h) {
                return std::find(seen.begin(), seen.end(), h.trackNumber) == seen.end();
            });
            return grew && std::all_of(pressed.begin(), pressed.end(), [&](std::int64_t number) {
                const auto h = std::find_if(headers.begin(), headers.end(),
                                            [&](const auto& header) { return header.trackNumber == number; });
                const auto folder = h == headers.end() ? std::nullopt : triangleIn(*h);
                return folder && folder->open;
            });
        });
        level(collapsedAmong(newlyListed(listed)), depth + 1, toShut);
    }

    // The list read after presses until `settled` holds of it, again after each short pause, for
    // one pause of a folder's toggle at most: the last read then.
    template <class Settled>
    std::vector<LogicInspector::TrackHeader> listOnceSettled(std::int64_t expected, Settled settled) {
        static const int polls = static_cast<int>(std::lround(pacing::kFolderToggles / kSettlePoll));
        auto headers = listNow(expected);
        for (int poll = 0; poll < polls && !settled(headers); ++poll) {
            platform::pause(kSettlePoll);
            platform::invalidateAccessibilityReads();  // what the list answered before the pause is past
            headers = listNow(expected);
        }
        return headers;
    }

    // The folders shown collapsed among these headers, in list order, by number.
    std::vector<std::pair<std::int64_t, Folder>> collapsedAmong(const std::vector<LogicInspector::TrackHeader>& shown) {
        std::vector<std::pair<std::int64_t, Folder>> folders;
        for (const auto& h : shown)
            if (auto folder = collapsed(h)) folders.emplace_back(h.trackNumber, std::move(*folder));
        return folders;
    }

    // Presses the folder's triangle, as read, until a press on it succeeds: a folder opened before
    // may have rebuilt the list, and a press on a handle gone stale does nothing. Whether it opened.
    // `byPlace`: found anew where the last list read had it first (see triangleAt).
    bool openPress(std::int64_t number, Folder held, bool byPlace) {
        std::optional<Folder> folder = std::move(held);
        for (int attempt = 0; attempt < kLookAttempts; ++attempt) {
            if (attempt > 0) {
                folder = byPlace && attempt == 1 ? triangleAt(number) : triangleOf(number);
                if (!folder) return false;
                if (folder->open) return true;  // a press answered with an error yet acted
            }
            if (folder->triangle.performAction(ax::kPress) == platform::AXError::success) return true;
        }
        return false;
    }

    // Of the headers listed, those not listed before (found within the folders just opened), noted
    // as hidden.
    std::vector<LogicInspector::TrackHeader> newlyListed(std::vector<LogicInspector::TrackHeader> listed) {
        std::vector<LogicInspector::TrackHeader> inside;
        for (auto& h : listed)
            if (std::find(seen.begin(), seen.end(), h.trackNumber) == seen.end()) {
                seen.push_back(h.trackNumber);
                inside.push_back(std::move(h));
            }
        hidden.insert(hidden.end(), inside.begin(), inside.end());
        return inside;
    }

    // The main window found anew. The answers kept for this call go first: a handle gone stale
    // answered an error that a new handle to the same element would be given from them.
    std::optional<AXElement> windowAnew() const {
        platform::invalidateAccessibilityReads();
        return logic_.findMainWindow();
    }

    // The list as it shows now; with the window found anew when the one held lists nothing or not
    // the header numbered `expected`.
    std::vector<LogicInspector::TrackHeader> listNow(std::optional<std::int64_t> expected = std::nullopt) {
        auto headers = detail::listedHeaders(window);
        const auto holds = [&] {
            return !headers.empty() &&
                   (!expected || std::any_of(headers.begin(), headers.end(),
                                             [&](const auto& h) { return h.trackNumber == *expected; }));
        };
        if (!holds())
            if (auto again = windowAnew()) {
                window = *again;
                headers = detail::listedHeaders(window);
            }
        notePlaces(headers);
        return headers;
    }

    // Where each of these headers, just read, lies: its list, and the list's place in the element
    // above it.
    void notePlaces(const std::vector<LogicInspector::TrackHeader>& headers) {
        places_.clear();
        lists_.clear();
        for (const auto& parent : detail::keptPlaces().headerParents) {
            const auto rows = parent.element.elements(ax::kChildren);
            if (!rows) continue;
            List list{parent.element, {}, 0};
            if (!parent.ancestors.empty()) {
                list.above = parent.ancestors.back();
                const auto siblings = list.above.elements(ax::kChildren);
                const auto at = siblings ? std::find(siblings->begin(), siblings->end(), parent.element)
                                         : std::vector<AXElement>::const_iterator{};
                if (siblings && at != siblings->end()) list.index = static_cast<std::size_t>(at - siblings->begin());
                else list.above = {};
            }
            lists_.push_back(std::move(list));
            for (const auto& h : headers)
                if (const auto at = std::find(rows->begin(), rows->end(), h.element); at != rows->end())
                    places_[h.trackNumber] = {lists_.size() - 1, static_cast<std::size_t>(at - rows->begin())};
        }
    }

    // The rows of a list noted, through the element above it when the press rebuilt the list.
    std::optional<std::vector<AXElement>> rowsOf(List& list) {
        if (auto rows = list.element.elements(ax::kChildren)) return rows;
        if (!list.above) return std::nullopt;
        const auto siblings = list.above.elements(ax::kChildren);
        if (!siblings || list.index >= siblings->size()) return std::nullopt;
        list.element = (*siblings)[list.index];
        return list.element.elements(ax::kChildren);
    }

    // The folder's triangle read from the row where the last list read had its header, while that
    // row still shows it: a few round trips, not a read of the whole list. The list read anew
    // otherwise (see triangleOf).
    std::optional<Folder> triangleAt(std::int64_t number) {
        if (const auto place = places_.find(number); place != places_.end()) {
            const auto rows = rowsOf(lists_[place->second.list]);
            if (rows && place->second.index < rows->size()) {
                LogicInspector::TrackHeader header;
                header.element = (*rows)[place->second.index];
                header.element.prefetch({ax::kRole, ax::kDescription, ax::kChildren});
                const auto parsed = LogicInspector::parseTrackDescription(textOf(header.element, ax::kDescription));
                if (parsed && parsed->number == number) {
                    header.trackNumber = number;
                    header.name = parsed->name;
                    if (auto folder = triangleIn(header)) return folder;
                }
            }
        }
        return triangleOf(number);
    }

    // The triangle of the folder numbered so, and whether it shows the folder open, read from its
    // header found anew; nothing when no header so numbered has a triangle that answers.
    std::optional<Folder> triangleOf(std::int64_t number) {
        for (int attempt = 0; attempt < kLookAttempts; ++attempt) {
            if (attempt > 0)
                if (auto again = windowAnew()) window = *again;
            for (const auto& h : attempt == 0 ? listNow(number) : detail::listedHeaders(window)) {
                if (h.trackNumber != number) continue;
                if (auto folder = triangleIn(h)) return folder;
                break;
            }
        }
        return std::nullopt;
    }

    // The header's triangle as it reads now; nothing when the header has none or does not answer.
    // Its children are read one at a time: the triangle comes first, and the rest stay unread.
    static std::optional<Folder> triangleIn(const LogicInspector::TrackHeader& header) {
        for (const auto& child : header.element.children()) {
            child.prefetch(kHeaderChildReads);
            if (child.string(ax::kRole) == std::optional<std::string>("AXDisclosureTriangle")) {
                const auto open = detail::triangleOpen(child);
                if (!open) return std::nullopt;
                return Folder{child, *open, header.name};
            }
        }
        return std::nullopt;
    }

    // The triangle of a folder shown collapsed; a header that no longer answers is found anew.
    std::optional<Folder> collapsed(const LogicInspector::TrackHeader& header) {
        // Every header has children: one without answers no more. Only a folder's are read one
        // by one; the others' flags are kept (see detail::hasFolderTriangle).
        if (!header.element.children().empty()) {
            if (!detail::hasFolderTriangle(header.element)) return std::nullopt;
            if (auto folder = triangleIn(header)) return folder->open ? std::nullopt : folder;
        }
        auto folder = triangleOf(header.trackNumber);
        return folder && !folder->open ? folder : std::nullopt;
    }

    // Presses the folder numbered so shut again, read before each press so that no press opens it
    // anew; whether a press was made. One that cannot be shut is noted.
    bool shutPress(std::int64_t number, const std::string& name, bool byPlace) {
        for (int attempt = 0; attempt < kLookAttempts; ++attempt) {
            const auto folder = byPlace && attempt == 0 ? triangleAt(number) : triangleOf(number);
            if (!folder) break;
            if (!folder->open) return false;
            if (folder->triangle.performAction(ax::kPress) == platform::AXError::success) return true;
        }
        leftOpen.push_back(name);
        log(fmt::format("[lookIntoFolders] folder '{}' (#{}) could not be shut again", name, number));
        return false;
    }

    std::vector<List> lists_;               // the lists the last list read found headers in
    std::map<std::int64_t, Place> places_;  // by number, as the last list read had them
    const LogicInspector& logic_;
};

}  // namespace

void LogicInspector::setFoldersOpenedTogether(bool together) const { places_->foldersOpenedTogether = together; }

bool LogicInspector::foldersOpenedTogether() const { return places_->foldersOpenedTogether.load(); }

std::vector<LogicInspector::TrackHeader> detail::hiddenTracks(const LogicInspector& logic, AXElement& window,
                                                              const std::vector<LogicInspector::TrackHeader>& shown,
                                                              bool& looked) {
    auto& kept = detail::keptPlaces();
    std::vector<std::pair<std::int64_t, std::string>> behind;
    for (const auto& h : shown) behind.emplace_back(h.trackNumber, h.name);
    looked = false;
    if (kept.open > 0 && kept.hiddenLooked && kept.hiddenBehind == behind) return kept.hidden;
    FolderLook look(logic, window, shown);
    if (logic.foldersOpenedTogether())
        look.together(shown);
    else
        look.oneByOne(shown, 0);
    looked = look.opened;
    window = look.window;
    kept.foldersLeftOpen.insert(kept.foldersLeftOpen.end(), look.leftOpen.begin(), look.leftOpen.end());
    // Found level by level or folder by folder: the same tracks, in list order either way.
    std::stable_sort(look.hidden.begin(), look.hidden.end(),
                     [](const auto& a, const auto& b) { return a.trackNumber < b.trackNumber; });
    // A folder left open shows tracks the list will not show once it is shut: nothing is kept.
    if (kept.open > 0 && look.leftOpen.empty()) {
        kept.hiddenLooked = true;
        kept.hiddenBehind = std::move(behind);
        kept.hidden = look.hidden;
    }
    return look.hidden;
}

}  // namespace corvane
