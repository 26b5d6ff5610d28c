// Plug-in slot rules: naming a slot by position or name, recognising the analysis plug-in under
// every name Logic Pro shows for it, waiting for a new plug-in to settle at the end of a chain,
// and reading a side-chain source given in words.

#include <string>

#include "chat/chat_tool_executor.h"
#include "logic/plugin_names.h"
#include "platform/clock.h"
#include "support/numbers.h"
#include "support/unicode.h"

namespace corvane {

namespace {

constexpr double kSettlePollSeconds = 0.1;

std::string lowerTrimmed(std::string_view name) { return std::string(text::trimSpacesAndTabs(text::lowercased(name))); }

bool contains(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
}

bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

std::string listed(const std::vector<std::pair<std::size_t, std::string>>& slots) {
    std::string text;
    for (const auto& [index, name] : slots)
        text += (text.empty() ? "" : ", ") + ("[" + std::to_string(index) + "] " + name);
    return text;
}

std::string joined(const std::vector<std::string>& names, std::size_t limit) {
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < limit; ++i) text += (i ? ", " : "") + names[i];
    return text;
}

}  // namespace

ChatToolExecutor::SlotResolution ChatToolExecutor::resolvePluginSlot(const nlohmann::json& args,
                                                                     const std::vector<InsertSlot>& pluginSlots,
                                                                     const std::string& trackName) {
    // An index of 0 or more decides alone; a negative one falls through to the name. A whole number
    // past 64 bits is still an index, out of every range, and is quoted as sent.
    auto index = tool_args::integer(args, "plugin_index");
    std::optional<std::string> shown = index ? std::optional(std::to_string(*index)) : std::nullopt;
    if (const auto found = args.find("plugin_index"); !index && found != args.end() && found->is_number_unsigned())
        shown = found->dump();
    if (shown && (!index || *index >= 0)) {
        if (index && static_cast<std::uint64_t>(*index) < pluginSlots.size())
            return {pluginSlots[static_cast<std::size_t>(*index)], std::nullopt};
        if (pluginSlots.empty())
            return {std::nullopt, "Plugin index " + *shown + " out of range: " + trackName + " has no plugins."};
        return {std::nullopt,
                "Plugin index " + *shown + " out of range (0-" + std::to_string(pluginSlots.size() - 1) + ")."};
    }
    auto requested = tool_args::text(args, "plugin_name");
    if (!requested) return {std::nullopt, "Missing plugin_name or plugin_index parameter."};

    const std::string wanted = text::lowercased(*requested);
    std::vector<std::pair<std::size_t, std::string>> all;
    std::vector<std::pair<std::size_t, std::string>> matches;
    for (std::size_t i = 0; i < pluginSlots.size(); ++i) {
        all.emplace_back(i, pluginSlots[i].name);
        if (text::lowercased(pluginSlots[i].name) == wanted) matches.emplace_back(i, pluginSlots[i].name);
    }
    if (matches.size() == 1) return {pluginSlots[matches.front().first], std::nullopt};
    if (matches.empty())
        return {std::nullopt, "Plugin '" + *requested + "' not found on " + trackName + ". Available: " + listed(all)};
    return {std::nullopt, "Multiple plugins named '" + *requested + "' on " + trackName +
                              ". Use plugin_index to disambiguate: " + listed(matches)};
}

bool ChatToolExecutor::isCorvaneSlot(std::string_view name) {
    return plugin_names::isAnalysisPlugin(lowerTrimmed(name));
}

bool ChatToolExecutor::pluginNameMatches(std::string_view expected, std::string_view actual) {
    const std::string e = lowerTrimmed(expected);
    const std::string a = lowerTrimmed(actual);
    return e == a || startsWith(e, a) || startsWith(a, e) || contains(e, a) || contains(a, e) ||
           (isCorvaneSlot(expected) && isCorvaneSlot(actual));
}

std::optional<std::vector<ChatToolExecutor::InsertSlot>> ChatToolExecutor::waitForPluginAtEnd(
    const AXElement& window, const std::string& expectedName, double timeout) const {
    const std::string expected = text::lowercased(expectedName);
    auto& clock = platform::clock();
    const auto deadline = clock.now() + std::chrono::duration_cast<platform::Clock::TimePoint::duration>(
                                            std::chrono::duration<double>(timeout));
    bool seenOnce = false;
    platform::Rect lastFrame{};
    while (clock.now() < deadline) {
        auto slots = services_.logicInspector.findTrackPluginSlots(window);
        if (slots.empty()) {
            seenOnce = false;
        } else {
            const std::string last = text::lowercased(slots.back().name);
            if (contains(last, expected) || contains(expected, last)) {
                const platform::Rect frame = LogicInspector::frameForElement(slots.back().element);
                if (frame != lastFrame) {
                    lastFrame = frame;
                    seenOnce = true;
                } else if (frame == platform::Rect{}) {
                    seenOnce = true;
                } else if (seenOnce) {
                    return slots;
                } else {
                    seenOnce = true;
                }
            } else {
                seenOnce = false;
            }
        }
        platform::pause(kSettlePollSeconds);  // where a Stop ends the call
    }
    return std::nullopt;
}

ChatToolExecutor::SidechainSource ChatToolExecutor::resolveSidechainSource(const std::string& source) const {
    const std::string t(text::trimSpacesAndTabs(source));
    const std::string l = text::lowercased(t);
    if (l == "internal" || l == "off" || l == "none" || l == "no side chain" || startsWith(l, "bus ") ||
        startsWith(l, "aux ") || startsWith(l, "audio ") || startsWith(l, "inst "))
        return {t, std::nullopt, std::nullopt};
    if (readInteger(t)) return {"Bus " + t, std::nullopt, "interpreted '" + t + "' as 'Bus " + t + "'"};

    const LogicInspector& logic = services_.logicInspector;
    const LogicInspector::KeptPlaces places;  // the headers and the strip, for the source and the target after it
    auto resolved = logic.resolveTrack(t);
    if (!resolved.header) {
        std::string error =
            "Sidechain source '" + t + "' isn't a bus (e.g. 'Bus 14'), 'Internal' (to clear), or a known track name.";
        if (!resolved.availableNames.empty()) error += " Available tracks: " + joined(resolved.availableNames, 20);
        return {std::nullopt, error, std::nullopt};
    }
    // Logic Pro's menu names both alike: the first of them would be taken.
    if (resolved.matches.size() > 1)
        return {std::nullopt, "Sidechain source '" + t + "': " + LogicInspector::ambiguousTrackMessage(resolved),
                std::nullopt};
    const auto& header = *resolved.header;
    if (auto window = logic.selectAndVerifyTrack(t))
        if (auto bus = logic.readTrackInputBus(*window))
            return {*bus, std::nullopt, "resolved '" + header.name + "' aux \u2192 " + *bus + " (input bus)"};
    if (!header.isFolder) return {header.name, std::nullopt, std::nullopt};

    std::optional<std::string> output;
    if (auto window = logic.selectAndVerifyTrack(header.name)) output = logic.readTrackOutput(*window);
    if (!output)
        return {std::nullopt,
                "Could not read output routing for folder '" + header.name +
                    "' \u2014 scroll the arrange view to make it visible, or pass the bus name directly (e.g. 'Bus "
                    "14').",
                std::nullopt};
    if (*output == "Stereo Output")
        return {std::nullopt,
                "Cannot sidechain to folder '" + header.name +
                    "' \u2014 it's routed directly to Stereo Output, not "
                    "a bus. Route '" +
                    header.name + "' through a bus first, or pass the bus name directly.",
                std::nullopt};
    return {*output, std::nullopt, "resolved folder '" + header.name + "' \u2192 " + *output};
}

}  // namespace corvane
