#include "logic/sidechain_source_search.h"

#include <algorithm>
#include <unordered_map>

#include "support/unicode.h"

namespace corvane::sidechain_source {

namespace {

// "bus 1", "bus 12": the only sources Logic Pro's menu writes with more than their own name.
bool isBusName(std::string_view needle) {
    constexpr std::string_view kBus = "bus ";
    if (!needle.starts_with(kBus) || needle.size() == kBus.size()) return false;
    return std::all_of(needle.begin() + kBus.size(), needle.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<Match> scan(const std::vector<Group>& groups, const std::vector<std::size_t>& which,
                        std::string_view needle) {
    std::vector<Match> found;
    for (const std::size_t g : which)
        for (std::size_t i = 0, n = groups[g].size(); i < n; ++i)
            if (titleNames(groups[g].itemTitle(i), needle)) found.push_back({g, i});
    return found;
}

// The groups titled with the needle's first word, and the others, each in menu order.
std::pair<std::vector<std::size_t>, std::vector<std::size_t>> kindFirst(const std::vector<Group>& groups,
                                                                        std::string_view needle) {
    const std::string_view kind = needle.substr(0, needle.find(' '));
    std::pair<std::vector<std::size_t>, std::vector<std::size_t>> split;
    for (std::size_t g = 0; g < groups.size(); ++g)
        (text::lowercased(groups[g].title) == kind ? split.first : split.second).push_back(g);
    return split;
}

enum class Halved { found, absent, unsettled };

// Items in the order of the list: each item's place in the list tells on which side of it the
// source lies. An item whose name the list does not show, or shows more than once, leaves the
// order untold.
Halved halve(const Group& group, const std::unordered_map<std::string, long>& places, long wanted,
             std::string_view needle, std::size_t& at) {
    long low = 0;
    long high = static_cast<long>(group.size()) - 1;
    while (low <= high) {
        const long middle = low + (high - low) / 2;
        const std::string title = text::lowercased(group.itemTitle(static_cast<std::size_t>(middle)));
        if (titleNames(title, needle)) {
            at = static_cast<std::size_t>(middle);
            return Halved::found;
        }
        const auto place = places.find(title);
        if (place == places.end() || place->second < 0) return Halved::unsettled;
        if (place->second < wanted)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return Halved::absent;
}

}  // namespace

bool titleNames(std::string_view title, std::string_view needle) {
    const std::string t = text::lowercased(title);
    if (t.empty()) return false;
    if (t == needle) return true;
    if (!isBusName(needle)) return false;
    const std::string n(needle);
    return t.starts_with(n + " ") || t.starts_with(n + "\u2190") || t.find("(" + n + ")") != std::string::npos;
}

bool mayNameTrack(std::string_view needle) { return !isBusName(needle) && needle != "none" && needle != "internal"; }

bool mayHideTracks(const std::vector<std::int64_t>& numbers, const std::function<bool()>& lastIsFolder) {
    if (numbers.empty() || numbers.front() != 1) return true;
    for (std::size_t i = 1; i < numbers.size(); ++i)
        if (numbers[i] != numbers[i - 1] + 1) return true;
    return lastIsFolder();
}

std::vector<Match> everyMatch(const std::vector<Group>& groups, std::string_view needle) {
    const auto [kind, others] = kindFirst(groups, needle);
    if (auto found = scan(groups, kind, needle); !found.empty()) return found;
    return scan(groups, others, needle);
}

std::vector<Match> findMatches(const std::vector<Group>& groups, const Shown& shown, std::string_view needle) {
    const auto [kind, others] = kindFirst(groups, needle);
    if (auto found = scan(groups, kind, needle); !found.empty()) return found;

    // Halving holds only while every track of the menu is one the list shows, under a name no
    // other shown track bears; else a second item of the name could lie anywhere.
    std::unordered_map<std::string, long> places;  // -1: a name several tracks share
    for (std::size_t i = 0; i < shown.names.size(); ++i) {
        auto [at, added] = places.emplace(text::lowercased(shown.names[i]), static_cast<long>(i));
        if (!added) at->second = -1;
    }
    const auto wanted = places.find(std::string(needle));
    if (isBusName(needle) || wanted == places.end() || wanted->second < 0 || !shown.mayHideTracks ||
        shown.mayHideTracks())
        return scan(groups, others, needle);
    // A hidden track keeps its number, so the list shows a gap where one lies, except after the
    // list's last track: such a track is the last item of its group, and the menu then holds more
    // tracks than the list rows. Each group's last item is read first: it must be a track the list
    // shows under a name of its own, or the source with a track before it that lies before it.
    std::size_t menuTracks = 0;
    for (const std::size_t g : others)
        if (text::lowercased(groups[g].title) != "bus") menuTracks += groups[g].size();
    if (menuTracks > shown.names.size()) return scan(groups, others, needle);
    auto placeOf = [&](const std::string& title) {
        const auto place = places.find(text::lowercased(title));
        return place == places.end() ? -1L : place->second;
    };
    std::vector<Match> found;
    for (const std::size_t g : others) {
        const Group& group = groups[g];
        if (text::lowercased(group.title) == "bus") continue;  // read whole below when no track is found
        const std::size_t size = group.size();
        if (size == 0) continue;
        Group before = group;  // every item but the last
        before.size = [size] { return size - 1; };
        const std::string last = group.itemTitle(size - 1);
        if (titleNames(last, needle)) {
            if (size > 1) {
                const std::string previous = group.itemTitle(size - 2);
                if (titleNames(previous, needle)) return scan(groups, others, needle);
                const long place = placeOf(previous);
                if (place < 0 || place > wanted->second) return scan(groups, others, needle);
            }
            found.push_back({g, size - 1});
            continue;
        }
        if (placeOf(last) < 0) return scan(groups, others, needle);
        std::size_t at = 0;
        switch (halve(before, places, wanted->second, needle, at)) {
            case Halved::found: found.push_back({g, at}); break;
            case Halved::absent: break;
            case Halved::unsettled: return scan(groups, others, needle);
        }
    }
    if (!found.empty()) return found;
    // Items listed in another order than the tracks: read one by one after all.
    return scan(groups, others, needle);
}

}  // namespace corvane::sidechain_source
