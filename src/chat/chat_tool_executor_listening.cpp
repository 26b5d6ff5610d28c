// "listen_to_playback": plays the project for a while and reports what the analysis plug-ins
// measured, inserting the plug-in on asked-for tracks that lack it.

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "chat/chat_tool_executor.h"
#include "logic/logic_messages.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/main_queue.h"
#include "platform/platform.h"
#include "platform/workspace.h"
#include "support/json_fields.h"
#include "support/numbers.h"
#include "support/unicode.h"

namespace corvane {

namespace {

constexpr const char* kMissingDuration = "Missing duration_seconds parameter.";
constexpr const char* kMissingStartBar =
    "Missing start_bar parameter. Call get_arrangement first to find where content exists, then pass that bar number.";
constexpr const char* kPluginName = "Corvane";
constexpr std::uint16_t kCycleKey = 8;
constexpr double kPoll = 0.05;
constexpr double kWaitForStrip = 1.0;
constexpr double kSilentLufs = -90.0;

std::vector<std::string> requestedNames(const nlohmann::json& args) {
    auto list = tool_args::text(args, "tracks");
    if (!list) list = tool_args::text(args, "track_name");
    std::vector<std::string> names;
    if (!list) return names;
    std::size_t start = 0;
    while (start <= list->size()) {
        const std::size_t comma = std::min(list->find(',', start), list->size());
        std::string name(text::trimSpacesAndTabs(std::string_view(*list).substr(start, comma - start)));
        if (!name.empty()) names.push_back(std::move(name));
        start = comma + 1;
    }
    return names;
}

// Polls `done` every 50 ms for up to `timeout`, then asks once more.
template <class Check>
bool pollFor(double timeout, Check done) {
    auto& clock = platform::clock();
    const auto deadline = clock.now() + std::chrono::duration_cast<platform::Clock::TimePoint::duration>(
                                            std::chrono::duration<double>(timeout));
    while (clock.now() < deadline) {
        if (done()) return true;
        platform::pause(kPoll);
    }
    return done();
}

// "Kick", "Kick and Bass", "Kick, Bass and Keys".
std::string spokenList(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    return text;
}

// Where the listen left the playhead against where it found it ("playhead moved from bar 1 to
// bar 9"); empty when it cannot be read.
std::string playheadNote(std::optional<std::int64_t> before, std::optional<std::int64_t> after) {
    if (!after) return "";
    const std::string now = "bar " + std::to_string(*after);
    if (!before) return "playhead is at " + now;
    if (*before == *after) return "playhead is at " + now + ", where it was";
    return "playhead moved from bar " + std::to_string(*before) + " to " + now;
}

bool hasCorvane(const std::vector<ChatToolExecutor::InsertSlot>& slots) {
    return std::any_of(slots.begin(), slots.end(),
                       [](const auto& slot) { return ChatToolExecutor::isCorvaneSlot(slot.name); });
}

// Makes sure the analysis plug-in sits on the track; a track that cannot be prepared is left
// out of the listen without an error. A track it inserts the plug-in on is noted in `inserted`
// and in the call's progress, which a stopped call's answer tells.
void ensureAnalysisPlugin(ToolCall& toolCall, const std::string& name, std::vector<std::string>& inserted) {
    ChatToolExecutor& executor = toolCall.executor;
    if (executor.corvanePresence(name) == true) {
        log("[listen_to_playback] '" + name + "' cached: has CV \u2014 skipping scan");
        return;
    }
    const LogicInspector& logic = executor.logicInspector();
    auto window = logic.findMainWindow();
    if (!window) return;
    auto resolved = logic.resolveTrack(name);
    if (!resolved.header) return;
    if (resolved.window) window = resolved.window;
    logic.activateLogic();
    if (!logic.selectTrackViaKeyboard(*resolved.header, *window)) {
        log(logic_messages::selectTrackFailed(resolved.header->name));
        return;
    }
    // The strip follows the selection a moment later; reading it early would show the old track.
    pollFor(kWaitForStrip, [&] {
        const auto strip = logic.readChannelStrip(*window);
        return text::equalsIgnoringCase(strip.text("name").value_or(""), name);
    });
    const auto slots = logic.findTrackPluginSlots(*window);
    std::string shown;
    for (const auto& slot : slots) shown += (shown.empty() ? "" : ", ") + slot.name;
    log("[listen_to_playback] '" + name + "' current slots: " + shown);
    if (hasCorvane(slots)) {
        log("[listen_to_playback] '" + name + "' already has Corvane \u2014 skipping add");
        executor.markCorvanePresent(name);
        return;
    }
    const auto noteInserted = [&] {
        inserted.push_back(resolved.header->name);
        toolCall.noteDone("the analysis plug-in was inserted on " + resolved.header->name + ", where it stays");
    };
    try {
        if (!logic.addPlugin(*window, kPluginName, -1).success) return;
    } catch (const platform::PauseStopped&) {
        // Stopped within the insert: whether it landed is read, so that the answer can say so.
        const platform::HeldPauses reading;
        // Found anew: the insert may have left the window's handle stale.
        const auto now = logic.findMainWindow();
        if (hasCorvane(logic.findTrackPluginSlots(now ? *now : *window))) {
            noteInserted();
            executor.markCorvanePresent(name);
        }
        throw;
    }
    noteInserted();
    log("[listen_to_playback] Auto-added Corvane to '" + name + "'");
    pollFor(kWaitForStrip, [&] { return hasCorvane(logic.findTrackPluginSlots(*window)); });
    executor.markCorvanePresent(name);
}

// Plays for the duration; a stopped turn cuts the wait short and the listen ends as usual.
// Answers how long it played.
double playFor(double seconds, const std::stop_token& stop) {
    auto& clock = platform::clock();
    const auto start = clock.now();
    const auto deadline = start + std::chrono::duration_cast<platform::Clock::TimePoint::duration>(
                                      std::chrono::duration<double>(seconds));
    while (!stop.stop_requested()) {
        const std::chrono::duration<double> left = deadline - clock.now();
        if (left.count() <= 0) break;
        clock.sleep(std::min(left, std::chrono::duration<double>(0.1)));
    }
    const std::chrono::duration<double> played = clock.now() - start;
    return std::clamp(played.count(), 0.0, seconds);
}

ChatToolExecutor::TrackAnalysisInfo infoFrom(const TrackAnalysisState& state) {
    const AudioAnalysisSummary& a = *state.analysis;
    ChatToolExecutor::TrackAnalysisInfo info;
    info.trackName = state.trackName;
    info.isMaster = state.isMaster;
    info.shortTermLufs = a.shortTermLufs;
    info.momentaryLufs = a.momentaryLufs;
    info.peakDbfs = a.peakDbfs;
    info.rmsDbfs = a.rmsDbfs;
    info.headroomDb = a.headroomDb;
    info.crestDb = a.crestDb;
    info.spectralTiltDb = a.spectralTiltDb;
    info.subBandRatio = a.subBandRatio;
    info.bassBandRatio = a.bassBandRatio;
    info.lowMidBandRatio = a.lowMidBandRatio;
    info.highMidBandRatio = a.highMidBandRatio;
    info.airBandRatio = a.airBandRatio;
    info.stereoWidth = a.stereoWidth;
    info.phaseCorrelation = a.phaseCorrelation;
    return info;
}

AgentToolOutputPayload listenToPlayback(ToolCall& toolCall) {
    const auto args = json_fields::parseObject(toolCall.args());
    const auto requestedDuration = args ? tool_args::number(*args, "duration_seconds") : std::nullopt;
    if (!requestedDuration || !std::isfinite(*requestedDuration)) return toolCall.fail(kMissingDuration);
    const double duration = std::clamp(*requestedDuration, 1.0, 30.0);
    // A bar beyond 64 bits is as unusable as a missing one.
    auto startBar = tool_args::integer(*args, "start_bar");
    if (!startBar) {
        const auto fractional = tool_args::number(*args, "start_bar");
        if (fractional) startBar = checkedInteger(*fractional, INT64_MIN, INT64_MAX);
    }
    if (!startBar) return toolCall.fail(kMissingStartBar);
    const std::vector<std::string> names = requestedNames(*args);

    ChatToolExecutor& executor = toolCall.executor;
    const LogicInspector& logic = executor.logicInspector();
    if (!logic.findMainWindow()) return toolCall.fail(logic_messages::kLogicProNotRunning);
    // A Stop while the plug-ins are made sure of ends the call at its next pause, as any call.
    std::vector<std::string> inserted;
    for (const auto& name : names) ensureAnalysisPlugin(toolCall, name, inserted);
    auto window = logic.findMainWindow();
    if (!window) return toolCall.fail(logic_messages::kLogicProNotRunning);

    // From here the listen puts the transport back itself: its pauses run their length, and a
    // Stop skips the steps not yet taken and plays no further.
    const platform::HeldPauses transportSteps;
    const auto stopped = [&] { return toolCall.stopToken.stop_requested(); };
    // The transport is read and pressed in the control bar, as get_transport reads it: the track
    // list is never walked for it.
    const nlohmann::json transport = logic.readTransport(*window);
    auto flag = [&](const char* key) {
        const auto found = transport.find(key);
        return found != transport.end() && found->is_boolean() && found->get<bool>();
    };
    const bool wasPlaying = flag("isPlaying");
    if (wasPlaying) {
        logic.clickTransportButton("Stop", *window);
        platform::pause(0.15);
    }
    const bool cycle = flag("cycleEnabled");
    bool cycleSwitchedOff = false;
    bool started = false;
    double played = 0.0;
    std::vector<TrackAnalysisState> states;
    std::optional<std::int64_t> barBefore;
    std::optional<std::int64_t> barAfter;
    bool playheadMoved = false;
    bool playheadPressed = false;
    bool putBack = false;
    // A handle read often may have gone stale: the window is found again for the reads that tell.
    const auto readBar = [&] {
        const auto now = logic.findMainWindow();
        return logic.currentBar(now ? *now : *window);
    };
    if (!stopped()) {
        barBefore = logic.currentBar(*window);
        if (!barBefore) barBefore = readBar();
        playheadPressed = true;
        playheadMoved = logic.movePlayhead(*startBar, *window).success;
        platform::pause(0.2);
        if (cycle && !stopped()) {
            logic.pressKey(kCycleKey);
            platform::pause(0.1);
            cycleSwitchedOff = true;
        }
    }
    if (!stopped()) {
        logic.clickTransportButton("Play", *window);
        started = true;
        // A Stop cuts the listen short: the result says how long it really played.
        played = playFor(duration, toolCall.stopToken);
        // Read before stopping: these are the values at the end of the played stretch.
        states = executor.trackAnalysis();
        logic.clickTransportButton("Stop", *window);
        putBack = logic.movePlayhead(*startBar, *window).success;
        // Read, not assumed: a bar past the song's end is not where the playhead lands.
        barAfter = logic.currentBar(*window);
        if (!barAfter) barAfter = readBar();
    }
    if (cycleSwitchedOff) {
        logic.pressKey(kCycleKey);
        platform::pause(0.1);
    }
    // The window comes back to the front once Logic Pro has been read for the last time: its
    // activation runs on the main thread, whenever that comes to it.
    const auto backToTheWindow = [] {
        platform::mainQueue().async([] { platform::workspace().activateCurrentApplication(true); });
    };
    if (!started) {
        // Nothing was played, but the listen's preparation may have changed what the user sees.
        std::vector<std::string> changes;
        if (wasPlaying) changes.push_back("Logic Pro, which was playing, is stopped");
        // Read, not assumed: a move whose read-back failed may still have landed.
        const auto barNow = playheadPressed ? readBar() : std::nullopt;
        backToTheWindow();
        const auto landed = barNow ? barNow : playheadMoved ? startBar : std::nullopt;
        if (landed && barBefore != landed) {
            const std::string from = barBefore ? "from bar " + std::to_string(*barBefore) + " " : "";
            changes.push_back("the playhead moved " + from + "to bar " + std::to_string(*landed));
        }
        if (cycleSwitchedOff) changes.push_back("Cycle is on again");
        if (!inserted.empty())
            changes.push_back("the analysis plug-in was inserted on " + spokenList(inserted) + ", where it stays");
        return toolCall.fail(toolCall.executor.stoppedBecause("before the listen began playing; nothing was played") +
                             (changes.empty() ? "" : "; " + spokenList(changes)) + ".");
    }

    backToTheWindow();
    ListenResult result{"ok", played, std::nullopt, {}, {}};
    for (const auto& state : states)
        if (state.analysis && state.analysis->shortTermLufs > kSilentLufs) result.tracks.push_back(infoFrom(state));
    // A cached plug-in that reported nothing may have been removed since: scan it next time.
    for (const auto& name : names) {
        if (executor.corvanePresence(name) != true) continue;
        const std::string lower = text::lowercased(name);
        if (std::none_of(result.tracks.begin(), result.tracks.end(),
                         [&](const auto& t) { return text::lowercased(t.trackName) == lower; })) {
            log("[listen_to_playback] '" + name +
                "' cached has-CV but missing from analysis \u2014 invalidating cache");
            executor.forgetCorvanePresence(name);
        }
    }

    const std::string seconds = formatFixed(played, 0);
    const std::string count = std::to_string(result.tracks.size());
    result.summary = "Listened for " + seconds + "s across " + count + " monitored tracks.\n";
    for (std::size_t i = 0; i < result.tracks.size(); ++i)
        result.summary += (i ? "\n" : "") + ChatToolExecutor::trackSummaryLine(result.tracks[i]);

    std::string asked;
    for (std::size_t i = 0; i < names.size(); ++i) asked += (i ? ", " : "") + names[i];
    if (names.empty()) asked = "full mix";
    // The plug-ins it inserted stay in the project: the card says so.
    const std::string insertedNote =
        inserted.empty() ? "" : " The analysis plug-in was inserted on " + spokenList(inserted) + ", where it stays.";
    // The listen itself moves the playhead to its start bar: the card says from where.
    const std::string playhead = playheadNote(barBefore, barAfter);
    // A listen the user stopped is no success, whatever it measured before the Stop.
    if (stopped()) {
        toolCall.record(toolCall.executor.stoppedBecause("after listening to " + asked + " for " + seconds) +
                            "s; Logic Pro is stopped" + (playhead.empty() ? "" : " and the " + playhead) + "." +
                            insertedNote,
                        false);
        return ChatToolExecutor::makeToolOutput(toolCall.callID(), result);
    }
    const bool moved = barBefore && barAfter && *barBefore != *barAfter;
    std::string movedNote = moved ? " The " + playhead + "." : "";
    // Where it stands unread, a put-back that failed is said.
    if (!putBack && !barAfter)
        movedNote = " The playhead could not be put back on bar " + std::to_string(*startBar) + ".";
    return toolCall.succeed("Listened to " + asked + " for " + seconds + "s. " + count +
                                (result.tracks.size() == 1 ? " track monitored." : " tracks monitored.") + movedNote +
                                insertedNote,
                            result);
}

}  // namespace

AgentToolOutputPayload tool_handlers::listenToPlayback(ToolCall& toolCall) {
    return corvane::listenToPlayback(toolCall);
}

}  // namespace corvane
