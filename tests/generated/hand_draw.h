#pragma once

// The user's hand between two calls of the generated check, drawn from the project as it stands.

#include <string>
#include <utility>
#include <vector>

#include "platform/standin/world.h"

namespace corvane::generated {

// The user's hand between two calls: nothing, a rename, a click or a Shift-click on a header, or
// a click, a moment's wait and a click on another header.
struct HandAction {
    int kind = 0;  // 0 nothing, 1 rename, 2 click, 3 Shift-click, 4 two clicks, 5 a wait alone, 6 a
                   // plug-in window (track `id`, slot `then`) opened or brought in front, 7 a click
                   // and Shift-clicks on `also`
    int id = -1;
    std::string name;
    int then = -1;               // the header clicked second
    double wait = 0;             // seconds between the two clicks, or waited
    std::vector<int> also = {};  // Shift-clicked after the click, in order
};

// Two visible tracks that send on the same bus, by id.
std::vector<std::pair<int, int>> sharingABus(const standin::Project& project);
// `toSender`: mostly a click on a track that sends, the selection a strip that follows late lags.
// `selection` (the focused track first): where the selection is no longer that, mostly those
// tracks selected again.
HandAction drawHand(const standin::World& world, bool toSender = false, const std::vector<int>& selection = {});
void apply(const HandAction& hand, standin::World& world);
std::string describe(const HandAction& hand);

}  // namespace corvane::generated
