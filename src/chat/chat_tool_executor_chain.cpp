// "add_plugin", "remove_plugin", "reorder_plugin" and "set_plugin_sidechain": edits of one track's
// insert chain. The analysis plug-in, once on a track, stays the last insert of its chain.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <string>

#include "chat/chat_tool_executor.h"
#include "logic/sidechain_source_search.h"
#include "model/tool_result_payloads.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "support/json_fields.h"
#include "support/unicode.h"

namespace corvane {

namespace {

using nlohmann::json;
using InsertSlot = LogicInspector::InsertSlot;

constexpr double kTrackSelectSettles = 0.3;  // a track selected, before its slots are read
constexpr double kChainEditSettles = 0.3;    // a plug-in inserted or removed, before the chain is read
constexpr double kSettleTimeout = 2.0;       // for a new plug-in to hold still at the end of the chain
constexpr const char* kAnalysisPlugin = "Corvane";

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& n : names) text += (text.empty() ? "" : ", ") + n;
    return text;
}

std::vector<std::string> namesOf(const std::vector<InsertSlot>& slots) {
    std::vector<std::string> names;
    for (const auto& s : slots) names.push_back(s.name);
    return names;
}

json chainJSON(const std::vector<InsertSlot>& slots) {
    json list = json::array();
    for (std::size_t i = 0; i < slots.size(); ++i)
        list.push_back({{"index", i}, {"name", slots[i].name}, {"bypassed", slots[i].isBypassed}});
    return list;
}

std::optional<std::size_t> analysisSlot(const std::vector<InsertSlot>& slots) {
    for (std::size_t i = 0; i < slots.size(); ++i)
        if (ChatToolExecutor::isCorvaneSlot(slots[i].name)) return i;
    return std::nullopt;
}

struct Track {
    std::string name;
    platform::AXElement window;
};

std::optional<Track> selectTrack(const LogicInspector& logic, const std::string& name, std::string& error) {
    auto selected = logic.selectTrack(name);
    if (!selected) {
        error = logic.selectionFailure(name);
        return std::nullopt;
    }
    return Track{selected->header.name, selected->mainWindow};
}

// A Stop ends a chain edit at its next pause, whatever it had already done to the chain: the chain
// then shown is read back, and a change from the one found is named in the stopped call's answer.
class ChainLeftOnStop {
public:
    ChainLeftOnStop(ToolCall& toolCall, const LogicInspector& logic, const Track& track,
                    const std::vector<InsertSlot>& found)
        : toolCall_(toolCall), logic_(logic), track_(track), found_(namesOf(found)) {}
    ChainLeftOnStop(const ChainLeftOnStop&) = delete;
    ChainLeftOnStop& operator=(const ChainLeftOnStop&) = delete;
    ~ChainLeftOnStop() {
        if (std::uncaught_exceptions() <= unwinding_) return;
        try {
            // A strip the user's click moved on to another track shows none of this one's chain,
            // and a stopped call waits for it no more.
            if (!logic_.firstMixerStrip(track_.window)) {
                toolCall_.noteDone(track_.name + "'s plug-ins could not be read back, as the mixer strip shows "
                                                 "another track: check them (were: " +
                                   (found_.empty() ? "none" : joined(found_)) + ")");
                return;
            }
            // A plug-in inserted opens its window: the insert closes it when stopped.
            const auto now = namesOf(logic_.findTrackPluginSlots(track_.window));
            if (now != found_)
                toolCall_.noteDone(track_.name + "'s plug-ins are now: " + (now.empty() ? "none" : joined(now)) +
                                   " (were: " + (found_.empty() ? "none" : joined(found_)) + ")");
            else
                // Selecting the track acted on Logic Pro; the chain, which the user asked about, did not change.
                toolCall_.progress.untouched.push_back("No plug-in was moved, added or removed: " + track_.name +
                                                       "'s plug-ins are still " + (now.empty() ? "none" : joined(now)));
        } catch (...) {
        }
    }

private:
    ToolCall& toolCall_;
    const LogicInspector& logic_;
    const Track& track_;
    std::vector<std::string> found_;
    int unwinding_ = std::uncaught_exceptions();
};

AgentToolOutputPayload okJSON(ToolCall& toolCall, const std::string& message, json output) {
    toolCall.record(message, true);
    output["message"] = message;
    output["status"] = "ok";
    return ChatToolExecutor::makeJSONOutput(toolCall.callID(), output, R"({"status":"ok"})");
}

// An index as the model sent it: whole, or cut toward zero. A value past 64 bits keeps its sign at
// the nearest end, and errors quote the number as given rather than a value it was squeezed into.
struct Index {
    std::int64_t value = 0;
    std::string given;
    bool fitsInt() const { return value >= INT32_MIN && value <= INT32_MAX; }
};

std::optional<Index> truncatedIndex(const json& args, const char* key) {
    tool_args::noteRead(key, "number");
    auto found = args.find(key);
    if (found == args.end() || !found->is_number()) return std::nullopt;
    Index index{0, found->dump()};
    if (auto whole = tool_args::integer(args, key)) {
        index.value = *whole;
    } else if (found->is_number_unsigned()) {
        index.value = INT64_MAX;
    } else {
        const double t = std::trunc(found->get<double>());
        if (!std::isfinite(t)) return std::nullopt;
        index.value = t >= 9223372036854775807.0    ? INT64_MAX
                      : t <= -9223372036854775808.0 ? INT64_MIN
                                                    : static_cast<std::int64_t>(t);
    }
    return index;
}

AgentToolOutputPayload addPlugin(ToolCall& toolCall) {
    auto args = json_fields::parseObject(toolCall.args());
    auto trackName = args ? tool_args::text(*args, "track_name") : std::nullopt;
    auto plugin = args ? tool_args::text(*args, "plugin_name") : std::nullopt;
    if (!trackName || !plugin) return toolCall.fail("Missing track_name or plugin_name parameter.");
    auto wanted = tool_args::integer(*args, "slot_index");
    if (wanted && *wanted < 0) wanted.reset();

    ChatToolExecutor& executor = toolCall.executor;
    const LogicInspector& logic = executor.logicInspector();
    const LogicInspector::KeptPlaces places;  // the strip is read again after every pause
    std::string error;
    auto track = selectTrack(logic, *trackName, error);
    if (!track) return toolCall.fail(error);
    platform::pause(kTrackSelectSettles);
    auto slots = logic.findTrackPluginSlots(track->window);
    log("[add_plugin] '" + track->name + "' existing slots: " + joined(namesOf(slots)));
    const ChainLeftOnStop stopNote(toolCall, logic, *track, slots);

    const bool addingAnalysis = ChatToolExecutor::isCorvaneSlot(*plugin);
    const auto analysisBefore = analysisSlot(slots);
    if (addingAnalysis && analysisBefore) {
        executor.updateCorvaneCache(track->name, slots);
        const auto& existing = slots[*analysisBefore];
        return okJSON(toolCall,
                      existing.name + " is already on " + track->name + " at slot " + std::to_string(*analysisBefore) +
                          " \u2014 skipped add to avoid duplicate.",
                      {{"alreadyPresent", true},
                       {"existingSlot", *analysisBefore},
                       {"existingName", existing.name},
                       {"updatedPlugins", chainJSON(slots)}});
    }

    // Straight above the analysis plug-in when it is there, so it never has to leave its place.
    const bool aboveAnalysis = !addingAnalysis && analysisBefore.has_value();
    const int insertAt = aboveAnalysis ? static_cast<int>(*analysisBefore) : -1;
    // The insert succeeds only once the chain reads back with the plug-in in its place: that chain
    // is the settled one.
    const Outcome inserted = logic.addPlugin(track->window, *plugin, insertAt, &slots);
    if (!inserted.success) return toolCall.fail(inserted.message);
    std::optional<std::size_t> at;
    if (aboveAnalysis) at = *analysisBefore;

    std::string note;
    const auto addNote = [&note](const std::string& more) { note += (note.empty() ? "" : "; ") + more; };
    if (!addingAnalysis && !slots.empty())
        if (auto analysis = analysisSlot(slots); analysis && *analysis + 1 < slots.size()) {
            log("[add_plugin] Corvane at slot " + std::to_string(*analysis) + " is no longer last (chain size " +
                std::to_string(slots.size()) + "); repositioning to end");
            const Outcome removed = logic.removePlugin(track->window, slots[*analysis]);
            if (removed.success) {
                platform::pause(kChainEditSettles);
                (void)logic.addPlugin(track->window, kAnalysisPlugin, -1);
            } else {
                // Adding another instance would leave two on the track.
                addNote("Corvane could not be moved back to the end: " + removed.message);
            }
            platform::pause(kChainEditSettles);
            slots = logic.findTrackPluginSlots(track->window);
            // Only slots below the new plug-in moved, so it keeps its place when it still shows there.
            if (at && (*at >= slots.size() || !ChatToolExecutor::pluginNameMatches(*plugin, slots[*at].name)))
                at.reset();
        }

    if (wanted) {
        if (aboveAnalysis && !at) {
            addNote("its place in the chain could not be read back \u2014 not moved to slot " +
                    std::to_string(*wanted));
        } else if (aboveAnalysis) {
            // Slots at or below the analysis plug-in are not the model's to take.
            const auto analysis = analysisSlot(slots);
            const auto highest =
                static_cast<std::int64_t>(analysis && *analysis > 0 ? *analysis - 1 : slots.size() - 1);
            const auto target = std::min<std::int64_t>(*wanted, highest);
            if (*wanted > target) addNote("kept above Corvane, which stays last");
            if (target != static_cast<std::int64_t>(*at)) {
                const Outcome moved =
                    logic.reorderPlugin(track->window, static_cast<int>(*at), static_cast<int>(target));
                addNote(moved.message);
                slots = logic.findTrackPluginSlots(track->window);
                if (moved.success) at = static_cast<std::size_t>(target);
            }
        } else if (auto settled = executor.waitForPluginAtEnd(track->window, *plugin, kSettleTimeout); !settled) {
            note = "Plugin added but AX tree didn't settle in time \u2014 left at end of chain.";
        } else {
            at = settled->size() - 1;
            if (*wanted > INT32_MAX) {
                // No chain is that long; the move takes ints and would get a different number.
                note = "slot_index " + std::to_string(*wanted) + " out of range (0.." + std::to_string(*at) +
                       ") \u2014 left at end of chain";
            } else if (static_cast<std::int64_t>(*at) != *wanted) {
                const Outcome moved =
                    logic.reorderPlugin(track->window, static_cast<int>(*at), static_cast<int>(*wanted));
                note = moved.message;
                slots = logic.findTrackPluginSlots(track->window);
                if (moved.success) at = static_cast<std::size_t>(*wanted);
            }
        }
    }

    // Where the plug-in really is: the tracked slot when it still shows it, else the first match.
    if (!at || *at >= slots.size() || !ChatToolExecutor::pluginNameMatches(*plugin, slots[*at].name)) {
        at.reset();
        for (std::size_t i = 0; i < slots.size() && !at; ++i)
            if (ChatToolExecutor::pluginNameMatches(*plugin, slots[i].name)) at = i;
    }
    if (!at) {
        const auto names = namesOf(slots);
        return toolCall.fail("Logic accepted the menu press but '" + *plugin + "' didn't end up in " + track->name +
                             "'s chain. Current chain: " + (names.empty() ? "(empty)" : joined(names)) +
                             ". The user may have clicked during the menu walk \u2014 retry, or ask the user to add it "
                             "manually.");
    }
    executor.updateCorvaneCache(track->name, slots);
    std::string message =
        "Added " + *plugin + " to " + track->name +
        (!wanted && *at + 1 == slots.size() ? " at end of chain" : " at slot " + std::to_string(*at)) + ".";
    if (!note.empty()) message += " (" + note + ")";
    return okJSON(toolCall, message, {{"updatedPlugins", chainJSON(slots)}});
}

AgentToolOutputPayload removePlugin(ToolCall& toolCall) {
    auto args = json_fields::parseObject(toolCall.args());
    auto trackName = args ? tool_args::text(*args, "track_name") : std::nullopt;
    if (!trackName) return toolCall.fail(tool_messages::kMissingTrackName);
    ChatToolExecutor& executor = toolCall.executor;
    const LogicInspector& logic = executor.logicInspector();
    const LogicInspector::KeptPlaces places;  // the strip is read again after every pause
    std::string error;
    auto track = selectTrack(logic, *trackName, error);
    if (!track) return toolCall.fail(error);
    platform::pause(kTrackSelectSettles);
    const auto found = logic.findTrackPluginSlots(track->window);
    const ChainLeftOnStop stopNote(toolCall, logic, *track, found);
    auto resolved = ChatToolExecutor::resolvePluginSlot(*args, found, track->name);
    if (!resolved.slot) return toolCall.fail(*resolved.error);
    // The removal reads the chain back: keys sent are no proof the plug-in is gone.
    const Outcome removed = logic.removePlugin(track->window, *resolved.slot);
    executor.updateCorvaneCache(track->name, logic.findTrackPluginSlots(track->window));
    if (!removed.success) return toolCall.fail(removed.message);
    const std::string message = "Removed " + resolved.slot->name + " from " + track->name + ".";
    return toolCall.succeed(message, ActionResult{"ok", message});
}

AgentToolOutputPayload reorderPlugin(ToolCall& toolCall) {
    auto args = json_fields::parseObject(toolCall.args());
    auto trackName = args ? tool_args::text(*args, "track_name") : std::nullopt;
    auto from = args ? truncatedIndex(*args, "from_index") : std::nullopt;
    auto to = args ? truncatedIndex(*args, "to_index") : std::nullopt;
    if (!trackName || !from || !to) return toolCall.fail("Missing track_name, from_index, or to_index.");
    const LogicInspector& logic = toolCall.executor.logicInspector();
    const LogicInspector::KeptPlaces places;  // the strip is read again after every pause
    std::string error;
    auto track = selectTrack(logic, *trackName, error);
    if (!track) return toolCall.fail(error);
    platform::pause(kTrackSelectSettles);
    const auto slots = logic.findTrackPluginSlots(track->window);
    const ChainLeftOnStop stopNote(toolCall, logic, *track, slots);
    if (auto c = analysisSlot(slots)) {
        const auto analysis = static_cast<std::int64_t>(*c);
        if (from->value == analysis) return toolCall.fail("Corvane must stay last \u2014 don't move it.");
        if (to->value >= analysis)
            return toolCall.fail("Target slot " + to->given + " is at or past Corvane (slot " +
                                 std::to_string(analysis) +
                                 ") \u2014 CV must stay last. Use toIndex <= " + std::to_string(analysis - 1) + ".");
    }
    // The move takes ints; what does not fit is out of any chain's range, said with the value sent.
    if (!from->fitsInt())
        return toolCall.fail("fromIndex " + from->given + " out of range (chain size " + std::to_string(slots.size()) +
                             ")");
    if (!to->fitsInt())
        return toolCall.fail("toIndex " + to->given + " out of range (0.." + std::to_string(slots.size()) + ")");
    const Outcome moved =
        logic.reorderPlugin(track->window, static_cast<int>(from->value), static_cast<int>(to->value));
    const auto after = logic.findTrackPluginSlots(track->window);
    if (!moved.success) return toolCall.fail(moved.message);
    return okJSON(toolCall,
                  "Moved plugin on " + track->name + " from slot " + std::to_string(from->value) + " to slot " +
                      std::to_string(to->value) + ".",
                  {{"updatedPlugins", chainJSON(after)}});
}

// The source as a name the track list does not show while a collapsed folder may hide a track
// of it; absent for anything else.
std::optional<std::string> hiddenTrackName(const LogicInspector& logic, const std::string& source) {
    const std::string name(text::trimSpacesAndTabs(source));
    if (name.empty() || !sidechain_source::mayNameTrack(text::lowercased(name))) return std::nullopt;
    if (logic.resolveTrack(name).header) return std::nullopt;
    const auto window = logic.findMainWindow();
    if (!window || !logic.mayHideTracks(*window)) return std::nullopt;
    return name;
}

AgentToolOutputPayload setPluginSidechain(ToolCall& toolCall) {
    auto args = json_fields::parseObject(toolCall.args());
    auto trackName = args ? tool_args::text(*args, "track_name") : std::nullopt;
    auto source = args ? tool_args::text(*args, "source") : std::nullopt;
    if (!trackName || !source)
        return toolCall.fail("Missing parameters. Need: track_name, plugin_name or plugin_index, source.");
    const LogicInspector& logic = toolCall.executor.logicInspector();
    const LogicInspector::KeptPlaces places;  // the strip is read again after every pause
    auto resolved = toolCall.executor.resolveSidechainSource(*source);
    if (!resolved.source) {
        // Logic Pro's menu lists the tracks a collapsed folder hides: a name no shown track bears
        // is left to the menu, which takes exactly that name or refuses one several items share.
        // The folder stays as it is.
        auto hidden = hiddenTrackName(logic, *source);
        if (!hidden)
            return toolCall.fail(resolved.error.value_or("Could not resolve sidechain source '" + *source + "'."));
        resolved = {hidden, std::nullopt, std::nullopt};
    }
    std::string error;
    auto track = selectTrack(logic, *trackName, error);
    if (!track) return toolCall.fail(error);
    auto slot = ChatToolExecutor::resolvePluginSlot(*args, logic.findTrackPluginSlots(track->window), track->name);
    if (!slot.slot) return toolCall.fail(slot.error.value_or("Could not resolve plugin slot."));
    // Its window and menu leave no trace in the chain: a Stop after the choice may have been made
    // names the side chain as possibly changed.
    const auto result = [&] {
        try {
            return logic.setPluginSidechain(track->window, *slot.slot, *resolved.source);
        } catch (const platform::PauseStopped&) {
            toolCall.noteDone("the side chain of " + slot.slot->name + " on " + track->name + " may now be " +
                              *resolved.source + "; check it in the plug-in's window");
            throw;
        }
    }();
    if (!result.success) return toolCall.fail(result.message);

    // Said as Logic Pro shows it afterwards, which is what the menu item pressed made of the source.
    const std::string before(result.beforeValue ? text::trimSpacesAndTabs(*result.beforeValue) : "");
    const std::string after = result.afterValue && !result.afterValue->empty() ? *result.afterValue : *resolved.source;
    const std::string change = !before.empty() && !text::equalsIgnoringCase(before, text::trimSpacesAndTabs(after))
                                   ? "Side Chain: " + before + " \u2192 " + after
                                   : "Side Chain \u2192 " + after;
    std::string message = slot.slot->name + " on " + track->name + ": " + change;
    if (resolved.note) message += " (" + *resolved.note + ")";
    return toolCall.succeed(message, ActionResult{"ok", message});
}

}  // namespace

AgentToolOutputPayload tool_handlers::addPlugin(ToolCall& toolCall) { return corvane::addPlugin(toolCall); }
AgentToolOutputPayload tool_handlers::removePlugin(ToolCall& toolCall) { return corvane::removePlugin(toolCall); }
AgentToolOutputPayload tool_handlers::reorderPlugin(ToolCall& toolCall) { return corvane::reorderPlugin(toolCall); }
AgentToolOutputPayload tool_handlers::setPluginSidechain(ToolCall& toolCall) {
    return corvane::setPluginSidechain(toolCall);
}

}  // namespace corvane
