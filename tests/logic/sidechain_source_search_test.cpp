// The side-chain menu's search, halving or not, against a read of every item, on generated
// projects: names that start alike or differ only in case, folders open and collapsed, hidden
// tracks, listed tracks the menu leaves out (aux and output), buses.

#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "logic/sidechain_source_search.h"
#include "support/unicode.h"

namespace corvane::sidechain_source {
namespace {

// Logic Pro's project, as far as its side-chain menu and its track list tell it.
struct Project {
    struct Track {
        std::string name;
        int kind = 0;  // 0 audio, 1 instrument, 2 folder
        int parent = -1;
        bool expanded = true;
        bool hidden = false;  // taken out of the list, keeping its number
    };
    std::vector<Track> tracks;  // in list order: a folder's tracks follow it
    std::vector<std::string> busItems;
    // Aux and output tracks shown in the list, numbered after every track; the menu lists none.
    std::vector<std::string> listedOthers;

    bool shown(std::size_t i) const {
        if (tracks[i].hidden) return false;
        for (int p = tracks[i].parent; p >= 0; p = tracks[static_cast<std::size_t>(p)].parent)
            if (!tracks[static_cast<std::size_t>(p)].expanded) return false;
        return true;
    }
};

const std::vector<std::string> kNames{"Kick",  "Kick 2", "kick", "KICK",  "Kick Sub", "Kick ",
                                      "Snare", "Bass",   "Keys", "Bus 1", "Audio"};

rc::Gen<Project> projects() {
    return rc::gen::exec([] {
        Project p;
        const int count = *rc::gen::inRange(3, 41);
        std::vector<int> open;  // the folders the next track may lie in, outermost first
        for (int i = 0; i < count; ++i) {
            Project::Track t;
            t.name = *rc::gen::elementOf(kNames);
            t.kind = *rc::gen::weightedElement<int>({{4, 0}, {2, 1}, {1, 2}});
            const auto depth = *rc::gen::inRange<std::size_t>(0, open.size() + 1);
            open.resize(depth);
            t.parent = open.empty() ? -1 : open.back();
            t.expanded = *rc::gen::weightedElement<bool>({{1, true}, {1, false}});
            t.hidden = t.kind != 2 && *rc::gen::weightedElement<bool>({{7, false}, {1, true}});
            if (t.kind == 2) open.push_back(i);
            p.tracks.push_back(t);
        }
        p.listedOthers = *rc::gen::container<std::vector<std::string>>(
            static_cast<std::size_t>(*rc::gen::inRange(0, 3)), rc::gen::elementOf(kNames));
        const int buses = *rc::gen::inRange(0, 4);
        for (int b = 1; b <= buses; ++b) {
            const std::string bus = "Bus " + std::to_string(b * 5 - 4);  // 1, 6, 11
            p.busItems.push_back(*rc::gen::arbitrary<bool>() ? bus : bus + " \u2190 " + *rc::gen::elementOf(kNames));
        }
        return p;
    });
}

RC_GTEST_PROP(SidechainSourceSearch, FindsWhatAReadOfEveryItemFinds, ()) {
    const Project p = *projects();
    std::vector<std::string> audio, inst;
    Shown shown;
    std::vector<std::int64_t> numbers;
    for (std::size_t i = 0; i < p.tracks.size(); ++i) {
        const auto& t = p.tracks[i];
        if (t.kind == 0) audio.push_back(t.name);
        if (t.kind == 1) inst.push_back(t.name);
        if (p.shown(i)) {
            shown.names.push_back(t.name);
            numbers.push_back(static_cast<std::int64_t>(i) + 1);
        }
    }
    for (std::size_t i = 0; i < p.listedOthers.size(); ++i) {
        shown.names.push_back(p.listedOthers[i]);
        numbers.push_back(static_cast<std::int64_t>(p.tracks.size() + i) + 1);
    }
    const bool lastShownIsFolder = [&] {
        if (!p.listedOthers.empty()) return false;
        for (std::size_t i = p.tracks.size(); i-- > 0;)
            if (p.shown(i)) return p.tracks[i].kind == 2;
        return false;
    }();
    const bool mayHide = mayHideTracks(numbers, [&] { return lastShownIsFolder; });
    shown.mayHideTracks = [&] { return mayHide; };

    // As Logic Pro builds the menu: only the kinds it holds, each in the order of the tracks.
    std::vector<std::vector<std::string>> lists;
    std::vector<Group> groups;
    for (const auto& [title, items] :
         {std::pair<std::string, std::vector<std::string>>{"Audio", audio}, {"Inst", inst}, {"Bus", p.busItems}}) {
        if (items.empty()) continue;
        lists.push_back(items);
        groups.push_back({title, [n = items.size()] { return n; }, {}});
    }
    for (std::size_t g = 0; g < groups.size(); ++g)
        groups[g].itemTitle = [&lists, g](std::size_t i) { return lists[g].at(i); };

    const std::string asked = *rc::gen::elementOf(std::vector<std::string>{
        "Kick", "kick", "Kick 2", "Kick Sub", "Snare", "Bass", "Keys", "Bus 1", "bus 6", "Bus 11", "Audio", "Nowhere"});
    const std::string needle = text::trimmingWhitespace(text::lowercased(asked));

    const auto plain = everyMatch(groups, needle);
    const auto fast = findMatches(groups, shown, needle);
    RC_TAG(plain.size() == 0 ? "none" : plain.size() == 1 ? "one" : "several");
    // The same answer: nothing, the same item pressed, or a refusal.
    RC_ASSERT(std::min<std::size_t>(fast.size(), 2) == std::min<std::size_t>(plain.size(), 2));
    if (plain.size() == 1) RC_ASSERT(fast.front() == plain.front());
}

}  // namespace
}  // namespace corvane::sidechain_source
