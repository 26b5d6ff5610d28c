#pragma once

// Which item of Logic Pro's side-chain menu names a source. The menu groups its sources in
// submenus ("Audio", "Inst", "Bus"); the track groups list every track of their kind in the order
// of the track list, those hidden in collapsed folders included. Titles are read one at a time
// (each read is a round trip), so the search reads as few as it can while giving the answer a
// read of every item would give.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::sidechain_source {

// `needle` is the source lower-cased and trimmed. A track is named only by its exact name, so
// "Kick" never takes "Kick 2"; a bus ("bus 1") also as Logic Pro writes it with its aux's name:
// "Bus 1 ← Synth", "Bus 1 (Synth)" or "Synth Pad (Bus 1)".
bool titleNames(std::string_view title, std::string_view needle);

// Whether the needle may name a track: anything but a bus ("bus 1") and the menu's own "None"
// and "Internal".
bool mayNameTrack(std::string_view needle);

// A submenu of sources: its title, and how many items it holds and each item's title, read when
// first asked.
struct Group {
    std::string title;
    std::function<std::size_t()> size;
    std::function<std::string(std::size_t)> itemTitle;
};

struct Match {
    std::size_t group = 0;
    std::size_t item = 0;
    friend bool operator==(const Match&, const Match&) = default;
};

// The track list as this call read it.
struct Shown {
    std::vector<std::string> names;  // as the headers show them, in list order
    // Whether a collapsed folder may hide tracks the list does not show; asked only when the
    // answer matters (none given: it may).
    std::function<bool()> mayHideTracks;
};

// Whether a track list that shows these track numbers (ascending) may leave tracks out: those
// hidden in a collapsed folder keep their numbers, so a gap in them, or a folder at the end of
// the list (`lastIsFolder`, asked only then), may hide some.
bool mayHideTracks(const std::vector<std::int64_t>& numbers, const std::function<bool()>& lastIsFolder);

// Every item that names the source, read one by one. A source written with a group's title as its
// first word ("Bus 1" and "Bus") is answered by that group when it holds it.
std::vector<Match> everyMatch(const std::vector<Group>& groups, std::string_view needle);

// The same answer as everyMatch: none, the one item, or several (which the caller refuses). When
// the list shows every track and one track bears the name, the track groups are halved by where
// each item's track lies in the list instead of being read whole. Tracks hidden after the list's
// last track leave no gap in its numbers: only the last item of a group tells of them, and that
// one only when it is the last to be hidden (two hidden in a row, the first sharing the source's
// name and the second another listed track's, pass unseen).
std::vector<Match> findMatches(const std::vector<Group>& groups, const Shown& shown, std::string_view needle);

}  // namespace corvane::sidechain_source
