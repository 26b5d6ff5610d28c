#include <fmt/format.h>

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "logic/ax_read.h"
#include "logic/ax_tree.h"
#include "logic/logic_inspector.h"
#include "logic/logic_inspector_internal.h"
#include "logic/logic_messages.h"
#include "logic/logic_timing.h"
#include "logic/search_depths.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "support/json_fields.h"
#include "support/regex.h"
#include "support/unicode.h"

namespace corvane {

using ax_read::valueText;

namespace {

std::string stripName(const LogicInspector::StripReading& strip) { return strip.text("name").value_or(""); }

}  // namespace

std::optional<std::string> LogicInspector::StripReading::text(const char* key) const {
    return json_fields::lenientText(values, key);
}

void to_json(nlohmann::json& j, const LogicInspector::StripReading& r) {
    j = r.error ? nlohmann::json{{"error", *r.error}} : r.values;
}

LogicInspector::StripReading LogicInspector::readChannelStrip(const AXElement& mainWindow) const {
    std::string shown;
    const auto first = heldStrip(mainWindow, shown);
    if (!first) {
        if (!findMixerArea(mainWindow)) return {logic_messages::kMixerAreaNotFound};
        if (const auto& held = detail::keptPlaces().stripHeldTo; !held.empty() && !shown.empty())
            return {logic_messages::stripShowsAnother(held, shown)};
        return {"No channel strip found"};
    }
    StripReading strip;
    readStripData(*first, strip.values, 0, search_depth::kStripControls);
    return strip;
}

void LogicInspector::readStripData(const AXElement& element, nlohmann::json& strip, int depth, int maxDepth) const {
    // Frames too, in the same round trips: the slots and sends read from the strip next are placed by them.
    static const std::vector<std::string> alsoRead{ax::kHelp, ax::kValue, ax::kPosition, ax::kSize};
    // The list that holds the insert bars holds the filled slots too: nothing a strip reports lies
    // within a slot, so a slot's own buttons are left unread.
    AXElement chain;
    ax_tree::walk(
        element, maxDepth,
        [&](const Step& step) {
            const AXElement& e = step.element;
            std::string description = text::trimmingWhitespaceAndNewlines(textOf(e, ax::kDescription));
            std::string role = textOf(e, ax::kRole);
            std::string help = textOf(e, ax::kHelp);

            if (auto value = valueText(e)) {
                if (description == "volume fader" && role == "AXSlider")
                    strip["volume"] = *value;
                else if (description == "pan" && role == "AXSlider")
                    strip["pan"] = *value;
                else if (description == "volume fader level" && role == "AXTextField")
                    strip["volumeDisplay"] = text::trimmingWhitespaceAndNewlines(textOf(e, ax::kTitle));
                else if (description == "name" && role == "AXTextField") {
                    if (!strip.contains("name")) strip["name"] = *value;
                } else if (description == "channel mode")
                    strip["channelMode"] = *value;
                else if (description == "mute")
                    strip["mute"] = *value;
                else if (description == "solo")
                    strip["solo"] = *value;
            }
            if (role == "AXButton" && help.starts_with("Output slot")) strip["output"] = description;
            if (role == "AXButton" && help.starts_with("Input slot")) {
                strip["input"] = description;
                if (description.starts_with("Bus ")) strip["inputBus"] = description;
            }
            static const Regex sendGroup(R"(^B (\d{1,3})$)");
            if (role == "AXGroup" && sendGroup.matches(description)) {
                std::string label = "Bus " + description.substr(2);
                auto& sends = strip["sends"];
                bool textList =
                    sends.is_array() && std::all_of(sends.begin(), sends.end(), [](auto& s) { return s.is_string(); });
                if (!textList) sends = nlohmann::json::array();
                if (std::find(sends.begin(), sends.end(), label) == sends.end()) sends.push_back(label);
            }
            if (step.parent && isInsertBar(e)) chain = *step.parent;
            if (role == "AXGroup" && chain && step.parent && *step.parent == chain) return Next::siblings;
            return Next::children;
        },
        depth, alsoRead);
}

std::optional<AXElement> LogicInspector::selectAndVerifyTrack(const std::string& named) const {
    // The strip is read whole after the pause below: the selection's own check needs its name only.
    auto selected = selectTrack(named, false);
    if (!selected) return std::nullopt;
    platform::pause(pacing::kStripFollowsSelection);
    std::string shown = stripName(readChannelStrip(selected->mainWindow));
    if (text::equalsIgnoringCase(shown, selected->header.name)) return selected->mainWindow;
    log(fmt::format("[selectAndVerifyTrack] First select landed on wrong strip (got '{}', wanted '{}'). Retrying.",
                    shown, selected->header.name));
    selectTrack(selected->header.name);
    platform::pause(pacing::kStripFollowsReselection);
    shown = stripName(readChannelStrip(selected->mainWindow));
    if (text::equalsIgnoringCase(shown, selected->header.name)) return selected->mainWindow;
    log(fmt::format("[selectAndVerifyTrack] Retry also missed. Got '{}'. Giving up.", shown));
    return std::nullopt;
}

void LogicInspector::collectRoutingButtons(const AXElement& element, std::vector<RoutingCandidate>& candidates,
                                           double& firstPluginY, int depth, int maxDepth) const {
    // A filled slot lies in the list of insert bars: once a bar above it was seen, nothing within
    // it can be a routing button or lie higher, so its buttons are left unread.
    AXElement chain;
    ax_tree::walk(
        element, maxDepth,
        [&](const Step& step) {
            const AXElement& e = step.element;
            const std::string role = textOf(e, ax::kRole);
            if (role == "AXButton") {
                std::string description = text::trimmingWhitespaceAndNewlines(textOf(e, ax::kDescription));
                std::string lower = text::lowercased(description);
                if (description == "Stereo Output" || lower.starts_with("bus ") || lower.starts_with("output ") ||
                    lower.starts_with("surround "))
                    candidates.push_back({description, frameForElement(e).y});
                if (lower == "insert bar" || lower == "audio plug-in") {
                    firstPluginY = std::min(firstPluginY, frameForElement(e).y);
                    if (step.parent) chain = *step.parent;
                }
            }
            if (role == "AXGroup" && chain && step.parent && *step.parent == chain &&
                frameForElement(e).y >= firstPluginY)
                return Next::siblings;
            return Next::children;
        },
        depth, {ax::kPosition, ax::kSize});
}

namespace {
struct Routing {
    std::vector<LogicInspector::RoutingCandidate> candidates;
    double firstPluginY = DBL_MAX;
};

const LogicInspector::RoutingCandidate* topMost(const std::vector<const LogicInspector::RoutingCandidate*>& list) {
    const LogicInspector::RoutingCandidate* best = nullptr;
    for (auto* c : list)
        if (!best || c->y < best->y) best = c;
    return best;
}
const LogicInspector::RoutingCandidate* bottomMost(const std::vector<const LogicInspector::RoutingCandidate*>& list) {
    const LogicInspector::RoutingCandidate* best = nullptr;
    for (auto* c : list)
        if (!best || c->y > best->y) best = c;
    return best;
}
bool isBus(const LogicInspector::RoutingCandidate& c) { return text::lowercased(c.desc).starts_with("bus "); }
}  // namespace

std::optional<std::string> LogicInspector::readTrackOutput(const AXElement& mainWindow) const {
    auto strip = firstMixerStrip(mainWindow);
    if (!strip) return std::nullopt;
    Routing r;
    collectRoutingButtons(*strip, r.candidates, r.firstPluginY, 0, search_depth::kRoutingButtons);
    if (r.candidates.empty()) return std::nullopt;
    std::vector<const RoutingCandidate*> all, above, below, busesAbove;
    for (const auto& c : r.candidates) {
        all.push_back(&c);
        (c.y < r.firstPluginY ? above : below).push_back(&c);
        if (c.y < r.firstPluginY && isBus(c)) busesAbove.push_back(&c);
    }
    if (r.firstPluginY == DBL_MAX) return bottomMost(all)->desc;
    if (!busesAbove.empty()) return topMost(busesAbove)->desc;
    if (!below.empty()) return bottomMost(below)->desc;
    return bottomMost(all)->desc;
}

std::optional<std::string> LogicInspector::readTrackInputBus(const AXElement& mainWindow) const {
    auto strip = firstMixerStrip(mainWindow);
    if (!strip) return std::nullopt;
    Routing r;
    collectRoutingButtons(*strip, r.candidates, r.firstPluginY, 0, search_depth::kRoutingButtons);
    if (r.firstPluginY == DBL_MAX) return std::nullopt;
    std::vector<const RoutingCandidate*> busesAbove;
    for (const auto& c : r.candidates)
        if (c.y < r.firstPluginY && isBus(c)) busesAbove.push_back(&c);
    if (auto* c = topMost(busesAbove)) return c->desc;
    return std::nullopt;
}

std::optional<std::string> LogicInspector::readTrackOutputForName(const std::string& name) const {
    auto window = selectAndVerifyTrack(name);
    if (!window) return std::nullopt;
    return readTrackOutput(*window);
}

}  // namespace corvane
