// The user's hand between two calls of the generated check.

#include "generated/hand_draw.h"

#include <rapidcheck.h>

#include <algorithm>
#include <cstdlib>

#include "generated/generated_project.h"

namespace corvane::generated {

std::vector<std::pair<int, int>> sharingABus(const standin::Project& project) {
    std::vector<std::pair<int, int>> pairs;
    const auto visible = project.visibleTrackIds();
    for (int a : visible)
        for (int b : visible) {
            const auto& as = project.trackById(a)->strip.sends;
            const auto& bs = project.trackById(b)->strip.sends;
            if (a != b && std::any_of(as.begin(), as.end(), [&](const standin::Send& x) {
                    return std::any_of(bs.begin(), bs.end(), [&](const standin::Send& y) { return x.bus == y.bus; });
                }))
                pairs.push_back({a, b});
        }
    return pairs;
}

HandAction drawHand(const standin::World& world, bool toSender, const std::vector<int>& selection) {
    const auto project = world.project();
    const int n = static_cast<int>(project.tracks.size());
    HandAction hand;
    // The user puts back a selection a call or a Stop left otherwise, to work on it again.
    if (selection.size() > 1 && project.selectedTrackIds() != selection &&
        *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(true)}, {1, rc::gen::just(false)}})) {
        hand.kind = 7;
        hand.id = selection.front();
        hand.also.assign(selection.begin() + 1, selection.end());
        return hand;
    }
    // Another track than the strip shows, on a bus that one sends to too where one does.
    std::vector<int> senders, sharing;
    const standin::Track* shown = project.trackById(project.stripTrackId);
    if (toSender)
        for (int id : project.visibleTrackIds()) {
            const auto& sends = project.trackById(id)->strip.sends;
            if (sends.empty() || id == project.stripTrackId) continue;
            senders.push_back(id);
            if (shown && std::any_of(sends.begin(), sends.end(), [&](const standin::Send& a) {
                    return std::any_of(shown->strip.sends.begin(), shown->strip.sends.end(),
                                       [&](const standin::Send& b) { return a.bus == b.bus; });
                }))
                sharing.push_back(id);
        }
    if (!sharing.empty()) senders = sharing;
    // Three times in four a click on a track that sends, then, a moment later, one back on the track
    // the strip shows, which sends on the same bus: the strip, late, goes to the first as a send on
    // it begins, and back to the second while the send works.
    if (toSender && shown && *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(true)}, {1, rc::gen::just(false)}})) {
        std::vector<int> first;
        for (const auto& [a, b] : sharingABus(project))
            if (b == shown->id) first.push_back(a);
        if (!first.empty()) {
            hand.kind = 4;
            hand.id = *rc::gen::elementOf(first);
            hand.then = shown->id;
            hand.wait = *rc::gen::elementOf(std::vector<double>{0.1, 0.3, 0.4, 0.45, 0.6, 0.75});
            return hand;
        }
    }
    if (!senders.empty() && *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(true)}, {1, rc::gen::just(false)}})) {
        hand.kind = 2;
        hand.id = *rc::gen::elementOf(senders);
        return hand;
    }
    hand.kind = *rc::gen::weightedOneOf<int>({{4, rc::gen::just(0)}, {1, rc::gen::inRange(1, 4)}});
    if (hand.kind == 0) return hand;
    hand.id = project.tracks[static_cast<std::size_t>(*rc::gen::inRange(0, n))].id;
    if (hand.kind == 1) hand.name = *rc::gen::elementOf(namePool());
    if (hand.kind == 3) {
        const char* direction = std::getenv("CORVANE_GENERATED_SHIFT_CLICKS");
        const auto visible = project.visibleTrackIds();
        const auto at = [&](int track) { return std::find(visible.begin(), visible.end(), track) - visible.begin(); };
        if (direction && std::string(direction) == "below" && at(hand.id) <= at(project.selectedTrackId)) hand.kind = 0;
    }
    return hand;
}

void apply(const HandAction& hand, standin::World& world) {
    if (hand.kind == 1) world.renameByHand(hand.id, hand.name);
    if (hand.kind == 2) world.clickHeader(hand.id);
    if (hand.kind == 3) world.shiftClickHeader(hand.id);
    if (hand.kind == 5) world.advance(hand.wait);
    if (hand.kind == 6) {
        world.openPluginWindowByHand(hand.id, hand.then);
        world.drainMainQueue();
    }
    if (hand.kind == 4) {
        world.clickHeader(hand.id);
        world.advance(hand.wait);
        world.clickHeader(hand.then);
    }
    if (hand.kind == 7) {
        world.clickHeader(hand.id);
        for (int id : hand.also) world.shiftClickHeader(id);
    }
}

std::string describe(const HandAction& hand) {
    if (hand.kind == 1) return "by hand: track " + std::to_string(hand.id) + " renamed '" + hand.name + "'";
    if (hand.kind == 2) return "by hand: header of track " + std::to_string(hand.id) + " clicked";
    if (hand.kind == 6)
        return "by hand: the window of track " + std::to_string(hand.id) + "'s slot " + std::to_string(hand.then) +
               " brought in front";
    if (hand.kind == 4)
        return "by hand: header of track " + std::to_string(hand.id) + " clicked, " + std::to_string(hand.wait) +
               " s later that of track " + std::to_string(hand.then);
    if (hand.kind == 7) {
        std::string also;
        for (int id : hand.also) also += (also.empty() ? " " : ", ") + std::to_string(id);
        return "by hand: header of track " + std::to_string(hand.id) + " clicked, then Shift-clicked:" + also;
    }
    return "by hand: header of track " + std::to_string(hand.id) + " Shift-clicked";
}

}  // namespace corvane::generated
