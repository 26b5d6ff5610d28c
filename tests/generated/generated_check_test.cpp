// Every tool that reaches Logic Pro, on projects and at Stop moments drawn from a seed, checked on
// the simulated project before and after each call. RC_PARAMS sets the seed and the number of
// cases; CORVANE_GENERATED_TOOLS (tool names, comma-separated) draws only those tools, and
// CORVANE_GENERATED_SKIP leaves tools out of the draw; CORVANE_GENERATED_SHIFT_CLICKS=below keeps
// every Shift-click below the selected track; CORVANE_GENERATED_FAULTS=none leaves the simulated
// Logic Pro's faults out of the draw; CORVANE_GENERATED_TABLE=1 prints, per tool, how many drawn
// calls succeeded and how many were stopped.

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <stop_token>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "chat/tool_executor_fixture.h"
#include "chat/turn_end.h"
#include "generated/generated_project.h"
#include "generated/hand_draw.h"
#include "generated/project_state.h"
#include "generated/selection_draw.h"
#include "generated/answer_checks.h"
#include "generated/call_text.h"
#include "generated/tool_calls.h"
#include "support/unicode.h"
#include "test_support/free_port.h"

namespace corvane::generated {
namespace {

std::vector<std::string> listIn(const char* variable) {
    std::vector<std::string> names;
    if (const char* env = std::getenv(variable)) {
        std::stringstream s(env);
        for (std::string name; std::getline(s, name, ',');)
            if (!name.empty()) names.push_back(name);
    }
    return names;
}

std::vector<std::string> toolsToDraw() {
    const auto only = listIn("CORVANE_GENERATED_TOOLS");
    const auto skipped = listIn("CORVANE_GENERATED_SKIP");
    std::vector<std::string> tools;
    for (const auto& t : toolsReachingLogic())
        if ((only.empty() || std::find(only.begin(), only.end(), t) != only.end()) &&
            std::find(skipped.begin(), skipped.end(), t) == skipped.end())
            tools.push_back(t);
    return tools;
}

// Per tool, what became of the drawn calls: a tool that never succeeds in the draw leaves every
// property of a success untried.
struct Tally {
    int calls = 0, succeeded = 0, stopped = 0;
    int healthy = 0, healthySucceeded = 0;  // unstopped, on a Logic Pro without faults
};

std::map<std::string, Tally>& tallies() {
    static std::map<std::string, Tally> all;
    return all;
}

// How often the draw reached a situation it aims at on purpose, by name.
std::map<std::string, int>& situations() {
    static std::map<std::string, int> all;
    return all;
}

class TallyPrinter : public ::testing::Environment {
public:
    void TearDown() override {
        if (!std::getenv("CORVANE_GENERATED_TABLE")) return;
        for (const auto& [tool, t] : tallies())
            std::printf("tally %s %d %d %d %d %d\n", tool.c_str(), t.calls, t.succeeded, t.stopped, t.healthy,
                        t.healthySucceeded);
        for (const auto& [name, n] : situations()) std::printf("situation %d %s\n", n, name.c_str());
    }
};
[[maybe_unused]] const auto* const kTallyPrinter = ::testing::AddGlobalTestEnvironment(new TallyPrinter);

// One generated project on a fresh simulated Logic Pro, with the executor and its stores.
class Bench {
public:
    explicit Bench(const nlohmann::json& scenario)
        : readsMayFail_(readsMayFail(scenario)),
          stripLag_(scenario.value("faults", nlohmann::json::object()).value("lateStripUpdate", 0.0)) {
        world_ = std::make_unique<standin::World>(scenario);
        world_->updateFaults([this](standin::Faults& f) { f.analysisPort = analysisPort_.port(); });
        scoped_ = std::make_unique<platform::ScopedServices>(world_->services());
        threadID_ = conversations_.createThread(std::string("Generated")).currentThreadID;
        logger_.beginTurn("Mix it", threadID_);
        // The logger's work reads the clock installed when it runs: it runs now, while this world's
        // is, not once a twin bench installed its own and may have taken it away again.
        logger_.drain();
        // The shipped plug-in maps, loaded as the app loads them at its start.
        maps_.reload();
    }
    ~Bench() {
        executor_.reset();
        // What the logger still has to do runs on this world's clock, before the one around it
        // (which may be a bench's already gone) is put back.
        logger_.drain();
        scoped_.reset();
    }

    // Whether Logic Pro may fail a read, write or drag the call needs; a handle that went stale is
    // made anew, so it is no such failure.
    static bool readsMayFail(const nlohmann::json& scenario) {
        const nlohmann::json faults = scenario.value("faults", nlohmann::json::object());
        if (faults.contains("axWriteError") || faults.value("dropMisses", 0) > 0) return true;
        for (const auto& knob : faults.value("axError", nlohmann::json::array()))
            if (knob.value("code", 0) != platform::code(platform::AXError::invalidUIElement)) return true;
        return false;
    }

    standin::World& world() { return *world_; }
    // Logic Pro's reads fail as `knobs` say from now on; `busy` while they go beyond the project's own.
    void failReads(const nlohmann::json& knobs, bool busy) {
        world_->setKnob("axError", knobs);
        busy_ = busy;
    }
    // The turn's last call has run: what the agent loop does at a turn's end, and the next call
    // starts a turn, as a new message would.
    void endTurn() {
        cleanUpLogicAfterTurn(logic_, plugins_);
        world_->drainMainQueue();
        round_ = 0;
        openedByCalls_.clear();
    }
    const PluginMapStore& maps() const { return maps_; }
    ToolLogger& logger() { return logger_; }
    // The plug-in windows (by slot) the calls so far opened.
    std::set<int>& openedByCalls() { return openedByCalls_; }

    Outcome call(const GeneratedCall& c) {
        auto stop = std::make_shared<std::stop_source>();
        const double start = world_->virtualSeconds();
        if (c.stopAfter) world_->at(start + *c.stopAfter, [stop] { stop->request_stop(); });
        const std::size_t writesBefore = world_->events(standin::EventKind::axWrite).size();
        const std::size_t eventsBefore = world_->eventLog().size();
        std::vector<ToolExecution> used;
        std::optional<std::string> signature;  // each call afresh: the check repeats calls on purpose
        const auto outputs =
            executor_->executeToolCalls({{"call_" + std::to_string(calls_++), c.tool, c.args.dump()}}, request_,
                                        threadID_, round_, std::string("Generated"), installed_, used, signature,
                                        stop->get_token());
        // What the call left to the main thread (a listen gives the window the focus back) runs
        // before the next call, as the UI thread would run it within moments; not at a random
        // point of the next call's virtual time.
        world_->drainMainQueue();
        ++round_;
        Outcome o;
        o.readsMayFail = readsMayFail_ || busy_;
        o.stripLag = stripLag_;
        o.took = world_->virtualSeconds() - start;
        if (!outputs.empty()) o.output = outputs.back().outputJSON;
        if (!used.empty()) {
            o.summary = used.back().summary;
            o.succeeded = used.back().succeeded;
        }
        const auto events = world_->eventLog();
        for (std::size_t i = eventsBefore; i < events.size(); ++i)
            if (events[i].kind == standin::EventKind::axAction || events[i].kind == standin::EventKind::axWrite) {
                o.presses.push_back(events[i].time - start);
                if (events[i].kind == standin::EventKind::axAction) o.actions.push_back(events[i].time - start);
                if (events[i].kind == standin::EventKind::axAction && events[i].code == 0 &&
                    opensMenu(events[i].element)) {
                    o.menuPresses.push_back(events[i].time - start);
                    const auto& e = events[i].element;
                    o.menuOpeners.push_back(e.substr(e.find('"') + 1, e.rfind('"') - e.find('"') - 1));
                }
            }
        // A strip control that refused a write (its handle answering) and was written again.
        const auto writes = world_->events(standin::EventKind::axWrite);
        std::set<std::string> refused;
        for (std::size_t i = writesBefore; i < writes.size() && o.rewrittenAfterRefusal.empty(); ++i) {
            const auto& e = writes[i];
            if (refused.count(e.element)) o.rewrittenAfterRefusal = e.element;
            const bool strip = e.element.find("\"volume fader\"") != std::string::npos ||
                               e.element.find("\"pan\"") != std::string::npos;
            if (strip && e.code != 0 && e.code != platform::code(platform::AXError::invalidUIElement))
                refused.insert(e.element);
        }
        return o;
    }

private:
    // An insert bar, a filled slot's button or a slot's list button: each opens a menu.
    static bool opensMenu(const std::string& element) {
        return element.rfind("AXButton ", 0) == 0 &&
               (element.find("\"insert bar\"") != std::string::npos ||
                element.find("\"audio plug-in\"") != std::string::npos || element.find("\"list\"") != std::string::npos);
    }
    bool readsMayFail_ = false;
    bool busy_ = false;
    double stripLag_ = 0;
    corvane::testing::ClosedPort analysisPort_;
    std::unique_ptr<standin::World> world_;
    std::unique_ptr<platform::ScopedServices> scoped_;
    corvane::testing::TempHome home_;
    ConversationStore conversations_;
    MemoryStore memories_;
    ToolLogger logger_;
    PluginInventoryService inventory_{home_.root() / "system", home_.root() / "home"};
    LogicInspector logic_;
    PluginMapStore maps_;
    PluginInspector plugins_{logic_, maps_};
    std::shared_ptr<corvane::testing::FakeToolHost> host_ = std::make_shared<corvane::testing::FakeToolHost>();
    std::unique_ptr<ChatToolExecutor> executor_ = std::make_unique<ChatToolExecutor>(
        ChatToolExecutor::Services{inventory_, conversations_, memories_, logic_, plugins_, logger_, host_});
    ChatRequest request_{"Mix it", {}, {}, {}, ModelTier::standard};
    std::string threadID_;
    int round_ = 0;
    int calls_ = 0;
    std::optional<InstalledPluginInventory> installed_;
    std::set<int> openedByCalls_;
};

// What happened to a project since it was loaded, to build its twin: the same project brought to
// the same moment, on which a call runs unstopped to learn how long it takes.
struct Step {
    std::optional<HandAction> hand;
    GeneratedCall call;
    bool endsTurn = false;
    std::optional<nlohmann::json> axError;  // the reads Logic Pro fails from then on

    static Step turnEnd() { return {std::nullopt, {}, true, std::nullopt}; }
    static Step byHand(const HandAction& hand) { return {hand, {}, false, std::nullopt}; }
    static Step of(const GeneratedCall& call) { return {std::nullopt, call, false, std::nullopt}; }
    static Step staleAfter(int listings) { return {std::nullopt, {}, false, staleListingKnob(listings)}; }
    static Step failing(const nlohmann::json& knobs) { return {std::nullopt, {}, false, knobs}; }
};

std::unique_ptr<Bench> loaded(const ProjectShape& shape, const std::vector<Step>& history) {
    auto bench = std::make_unique<Bench>(scenarioOf(shape));
    handActions(shape, bench->world());
    for (const auto& step : history) {
        if (step.endsTurn)
            bench->endTurn();
        else if (step.hand)
            apply(*step.hand, bench->world());
        else if (step.axError)
            bench->world().setKnob("axError", *step.axError);
        else
            bench->call(step.call);
    }
    return bench;
}

// The turn's end, checked against the project as the turn found it; false when it broke a property.
bool turnEnded(Bench& bench, const ProjectState& turnStart) {
    const ProjectState before = ProjectState::read(bench.world());
    bench.endTurn();
    const ProjectState after = ProjectState::read(bench.world());
    RC_LOG() << "the turn ends\n";
    const auto broken = turnEndViolations(turnStart, before, after);
    for (const auto& b : broken) RC_LOG() << "  broken: the turn's end: " << b << "\n";
    return broken.empty();
}

// The plug-in windows the turn's calls opened before this one, which it may close unsaid; and those
// it opened, for the calls after it.
void noteWindowsOpened(Bench& bench, const ProjectState& before, const ProjectState& after, Outcome& outcome) {
    outcome.openedByTurn = bench.openedByCalls();
    for (const auto& w : after.ui["pluginWindows"]) {
        const bool opened = std::none_of(before.ui["pluginWindows"].begin(), before.ui["pluginWindows"].end(),
                                         [&](const nlohmann::json& x) { return x["slot"] == w["slot"]; });
        if (opened) bench.openedByCalls().insert(w["slot"].get<int>());
    }
}

// A call and what it did, checked; false when it broke a property (each logged).
bool checked(Bench& bench, const GeneratedCall& call, const std::string& label, bool mustSucceed = false,
             std::optional<bool> healthy = std::nullopt) {
    const standin::Project beforeProject = bench.world().project();
    const ProjectState before = ProjectState::read(bench.world());
    Outcome outcome = bench.call(call);
    const ProjectState after = ProjectState::read(bench.world());
    noteWindowsOpened(bench, before, after, outcome);
    if (healthy) {  // a drawn call
        const bool stopped = call.stopAfter && outcome.took > *call.stopAfter;
        // A parameter call on a plug-in with a shipped map goes through the mapped reader and
        // writer: counted apart as well.
        std::vector<std::string> rows{call.tool};
        if (call.tool == "get_plugin_parameters" || call.tool == "set_plugin_parameter") {
            const auto ids = listedIdsNamed(beforeProject, call.args.value("track_name", std::string()));
            const standin::Track* t = ids.size() == 1 ? beforeProject.trackById(ids.front()) : nullptr;
            const auto uid = t ? slotUidAsked(call, *t) : std::nullopt;
            for (const auto& s : t ? t->strip.inserts : std::vector<standin::InsertSlot>{})
                if (uid && s.uid == *uid && bench.maps().mapForPlugin(s.plugin)) rows.push_back(call.tool + ":mapped");
        }
        for (const auto& row : rows) {
            Tally& t = tallies()[row];
            ++t.calls;
            t.succeeded += outcome.succeeded ? 1 : 0;
            t.stopped += stopped ? 1 : 0;
            if (*healthy && !call.stopAfter) {
                ++t.healthy;
                t.healthySucceeded += outcome.succeeded ? 1 : 0;
            }
        }
    }
    if (healthy && call.tool == "set_plugin_bypass" && outcome.summary.find("could not be read back") != std::string::npos)
        ++situations()["bypass: its slot could not be read back"];
    RC_LOG() << label << ": " << rc::toString(call) << "\n  answered in " << outcome.took << " s, "
             << (outcome.succeeded ? "ok" : "failed") << ": " << outcome.summary << "\n";
    const auto broken = violations(call, beforeProject, before, after, outcome);
    for (const auto& b : broken) RC_LOG() << "  broken: " << call.tool << ": " << b << "\n";
    if (mustSucceed && !outcome.succeeded) RC_LOG() << "  broken: " << call.tool << ": the next call failed\n";
    return broken.empty() && (outcome.succeeded || !mustSucceed);
}

// Another slot of the plug-in in slot `uid`, on the same track of a name the list shows once: its
// track's name and the slot's index.
std::optional<std::pair<std::string, int>> sameTitleAs(const standin::Project& project, int uid) {
    for (const auto& t : project.tracks)
        for (const auto& s : t.strip.inserts)
            if (s.uid == uid && project.isVisible(t.id) && listedIdsNamed(project, t.name).size() == 1)
                for (std::size_t k = 0; k < t.strip.inserts.size(); ++k)
                    if (t.strip.inserts[k].uid != uid && t.strip.inserts[k].plugin == s.plugin)
                        return std::pair{t.name, static_cast<int>(k)};
    return std::nullopt;
}

// A call of one of `tools` on track `id`, drawn a few times over until one names it; none where
// none does.
std::optional<GeneratedCall> callOnTrack(const standin::Project& project, const std::vector<std::string>& tools,
                                         int id) {
    const standin::Track* track = project.trackById(id);
    if (!track || tools.empty()) return std::nullopt;
    for (int attempt = 0; attempt < 12; ++attempt) {
        GeneratedCall call = *genCall(project, tools);
        const auto& args = call.args;
        nlohmann::json named;
        if (args.contains("track_name")) named = args["track_name"];
        if (args.contains("track_names") && args["track_names"].is_array() && !args["track_names"].empty())
            named = args["track_names"][0];
        if (named.is_string() && text::equalsIgnoringCase(named.get<std::string>(), track->name)) return call;
    }
    return std::nullopt;
}

// For a bypass on a Logic Pro with faults, now and then the knobs that make it busy from the
// bypass's press on: the press refused half the time, and the bypass's value and the slots'
// children or names unreadable for a few reads or throughout. None otherwise.
std::optional<nlohmann::json> busyAfterBypass(const ProjectShape& shape, const GeneratedCall& call,
                                              const standin::Project& project) {
    const auto kinds = faultKinds();
    if (call.tool != "set_plugin_bypass" || shape.faults.empty() || staleAtListing(shape.faults) ||
        std::find(kinds.begin(), kinds.end(), "axError") == kinds.end() ||
        *rc::gen::weightedOneOf<bool>({{2, rc::gen::just(false)}, {1, rc::gen::just(true)}}))
        return std::nullopt;
    nlohmann::json knobs = shape.faults.value("axError", nlohmann::json::array());
    const auto busy = [&](const std::string& element, const std::string& attribute) {
        knobs.push_back({{"element", element},
                         {"attribute", attribute},
                         {"code", *rc::gen::elementOf(std::vector<int>{-25204, -25204, -25200})},
                         {"times", *rc::gen::elementOf(std::vector<int>{1, 2, 3, -1, -1})},
                         {"afterPressOf", "bypass"}});
    };
    // A Stop before the read-back leaves the press told as made, whatever Logic Pro answered it (the
    // bypass does not heed the press's answer yet): the press is refused only where the call runs
    // to its end.
    if (!call.stopAfter && *rc::gen::arbitrary<bool>())
        knobs.push_back({{"element", "bypass"}, {"attribute", "AXPress"}, {"code", -25204}, {"times", 1}});
    busy("bypass", "AXValue");
    std::set<std::string> plugins;
    for (int id : listedIdsNamed(project, call.args.value("track_name", std::string())))
        if (const standin::Track* t = project.trackById(id))
            for (const auto& s : t->strip.inserts) plugins.insert(s.plugin);
    const std::string attribute = *rc::gen::elementOf(std::vector<std::string>{"AXChildren", "AXDescription"});
    for (const auto& plugin : plugins) busy(plugin, attribute);
    return knobs;
}

RC_GTEST_PROP(GeneratedCheck, EveryToolHoldsOnGeneratedProjects, ()) {
    const auto tools = toolsToDraw();
    const ProjectShape shape = *genProject();
    auto bench = loaded(shape, {});
    std::vector<Step> history;
    ProjectState turnStart = ProjectState::read(bench->world());

    // Where elements go stale with a plug-in window of the user's open, turns run longer: what one
    // call did through the user's window must hold for the calls after it.
    const bool throughWindow =
        !shape.windowsOpened.empty() && (shape.faults.contains("staleAfter") || staleAtListing(shape.faults));
    // One whose strip follows the selection late is mostly asked for a send, often right after the
    // user clicked another track that sends on the same bus: the strip may move on to that track
    // while the call works.
    const bool lateStrip = shape.faults.contains("lateStripUpdate") &&
                           std::find(tools.begin(), tools.end(), "set_send_level") != tools.end();
    // Where elements go stale around a selection of several tracks, half the cases mostly press their
    // switches, many times: the handles kept from one look go stale by a later one.
    const bool onSelection = worksOnSelection(shape);
    const auto selection = onSelection ? bench->world().project().selectedTrackIds() : std::vector<int>{};
    const int calls = throughWindow ? *rc::gen::inRange(3, 6)
                      : lateStrip   ? *rc::gen::inRange(2, 5)
                      : onSelection ? *rc::gen::inRange(3, 7)
                                    : *rc::gen::inRange(1, 4);
    // Two in three of those begin their turn through a window of the turn's own, then the user's,
    // then another of the turn's own: the user's window, worked through between two windows a call
    // opened and closed, is still the user's. Only the last of the three may be stopped.
    std::vector<std::string> windowTools;
    for (const char* tool : {"set_plugin_parameter", "get_plugin_parameters"})
        if (std::find(tools.begin(), tools.end(), tool) != tools.end()) windowTools.push_back(tool);
    const bool aroundUsersWindow = throughWindow && !windowTools.empty() &&
                                   *rc::gen::weightedOneOf<bool>({{2, rc::gen::just(true)}, {1, rc::gen::just(false)}});
    // Three in four of those end their turn right after the call through the user's window, the
    // turn's own window open behind it with a handle that may no longer answer.
    const int aroundCalls =
        !aroundUsersWindow ? 0 : *rc::gen::weightedOneOf<int>({{3, rc::gen::just(2)}, {1, rc::gen::just(3)}});
    bool sameTitle = false;                      // the turn's first window bears the title of the user's
    std::optional<std::pair<int, int>> clicked;  // the track the user clicked (last), the one a send is for
    for (int i = 0; i < calls; ++i) {
        const bool around = i < aroundCalls;
        clicked.reset();
        std::optional<int> shownAfterTwoClicks;  // the track the strip shows, about to move on and back
        double clicksApart = 0;                  // seconds between those two clicks
        if (i > 0 && !around) {
            // The user's hand comes between two turns; a new message may come without it.
            const HandAction hand = drawHand(bench->world(), lateStrip, selection);
            if (hand.kind == 2) clicked = {hand.id, bench->world().project().stripTrackId};
            // A send mostly on the track clicked first, whose strip update lands first.
            if (hand.kind == 4) {
                clicked = {hand.then, hand.id};
                shownAfterTwoClicks = hand.then;
                clicksApart = hand.wait;
            }
            const std::size_t sameTurn = throughWindow ? 7 : 3;
            if (hand.kind != 0 || (aroundCalls == 2 && i == 2) ||
                *rc::gen::weightedOneOf<bool>({{sameTurn, rc::gen::just(false)}, {1, rc::gen::just(true)}})) {
                RC_ASSERT(turnEnded(*bench, turnStart));
                history.push_back(Step::turnEnd());
            }
            if (hand.kind != 0) {
                RC_LOG() << describe(hand) << "\n";
                apply(hand, bench->world());
                history.push_back(Step::byHand(hand));
            }
            if (history.back().endsTurn || history.back().hand) turnStart = ProjectState::read(bench->world());
        }
        // A Logic Pro that refuses strip writes is mostly asked to write the control that refuses.
        std::vector<std::string> strip;
        for (const auto& knob : shape.faults.value("axWriteError", nlohmann::json::array())) {
            const std::string tool = knob.value("element", "") == "pan" ? "set_track_pan" : "set_track_volume";
            if (std::find(tools.begin(), tools.end(), tool) != tools.end()) strip.push_back(tool);
        }
        const bool toStrip = !around && !strip.empty() &&
                             *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(true)}, {1, rc::gen::just(false)}});
        const bool toSend = !around && !toStrip && lateStrip &&
                            *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(true)}, {1, rc::gen::just(false)}});
        // One whose application handle goes stale at a window listing is mostly asked for a call
        // that lists Logic Pro's windows (a plug-in window opened, a menu searched).
        std::vector<std::string> listing;
        if (staleAtListing(shape.faults))
            for (const char* tool : {"get_plugin_parameters", "set_plugin_parameter", "set_plugin_sidechain",
                                     "add_plugin", "remove_plugin", "rename_track"})
                if (std::find(tools.begin(), tools.end(), tool) != tools.end()) listing.push_back(tool);
        const bool toListing = !around && !listing.empty() &&
                               *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(true)}, {1, rc::gen::just(false)}});
        // A plug-in window the user has open is mostly worked through, and where elements go stale,
        // mostly by the slot tools: a window is the user's by what it is, however its handles fare.
        std::optional<int> usersWindow;
        for (const auto& w : bench->world().ui().pluginWindows)
            if (!bench->openedByCalls().count(w.slotUid) && !usersWindow) usersWindow = w.slotUid;
        std::vector<std::string> slotTools;
        if (usersWindow && (shape.faults.contains("staleAfter") || staleAtListing(shape.faults)))
            for (const char* tool : {"get_plugin_parameters", "set_plugin_parameter", "set_plugin_bypass",
                                     "set_plugin_sidechain", "remove_plugin", "reorder_plugin"})
                if (std::find(tools.begin(), tools.end(), tool) != tools.end()) slotTools.push_back(tool);
        const bool toSlots = !toStrip && !toListing && !slotTools.empty() &&
                             *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(true)}, {1, rc::gen::just(false)}});
        // Where elements go stale, a bypass or a move is often asked: each presses or drags through a
        // handle that may have gone stale, and reads the chain back through another.
        std::vector<std::string> pressTools;
        if (shape.faults.contains("staleAfter"))
            for (const char* tool : {"set_plugin_bypass", "reorder_plugin"})
                if (std::find(tools.begin(), tools.end(), tool) != tools.end()) pressTools.push_back(tool);
        const bool toPress = !around && !toStrip && !toListing && !toSlots && !pressTools.empty() &&
                             *rc::gen::weightedOneOf<bool>({{1, rc::gen::just(true)}, {1, rc::gen::just(false)}});
        GeneratedCall call = *genCall(bench->world().project(),
                                      around      ? aroundTools(i, sameTitle, windowTools, tools)
                                      : toStrip   ? strip
                                      : toSend    ? std::vector<std::string>{"set_send_level"}
                                      : toListing ? listing
                                      : toSlots   ? slotTools
                                      : toPress   ? pressTools
                                                  : tools,
                                      usersWindow,
                                      !around  ? Aim::drawn
                                      : i == 1 ? Aim::usersWindow
                                               : Aim::elsewhere);
        // Now and then a write that chooses another parameter's option first, stopped right after a
        // choice: the option chosen must be named.
        const bool mapped = std::find(tools.begin(), tools.end(), "set_plugin_parameter") != tools.end();
        std::optional<GeneratedCall> prerequisite =
            mapped && !toStrip && !around &&
                    *rc::gen::weightedOneOf<bool>({{6, rc::gen::just(false)}, {1, rc::gen::just(true)}})
                ? prerequisiteWrite(bench->world().project(), bench->maps())
                : std::nullopt;
        if (prerequisite) call = *prerequisite;
        // The turn's first window there mostly that of a plug-in the user's window shares its track
        // and name with: the two windows bear one title.
        if (around && i == 0 && usersWindow &&
            *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(true)}, {1, rc::gen::just(false)}}))
            if (const auto twin = sameTitleAs(bench->world().project(), *usersWindow)) {
                call = {"get_plugin_parameters", {{"track_name", twin->first}, {"plugin_index", twin->second}},
                        std::nullopt};
                sameTitle = true;
            }
        // Where handles answer only a few reads, mostly a slider of a plug-in without a map nudged
        // from an end of its range: the search of its window may use up the window's handle.
        if (!prerequisite && !around && shape.faults.value("staleAfter", "").rfind("afterReads", 0) == 0 &&
            *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(true)}, {1, rc::gen::just(false)}}))
            if (const auto fromEnd = writeFromAnEnd(bench->world().project(), bench->maps())) call = *fromEnd;
        if (toSend && clicked)
            if (const auto beside = sendBeside(bench->world().project(), clicked->first, clicked->second))
                call = *beside;
        // Mostly after two clicks, a call on the strip's track of those that work through the strip
        // (the track details, which press the strips' switches, and the bus's track, which presses the
        // right-hand strip's, twice as often): every read and press of it must still be that track's
        // (or its bus's) as the strip moves on, and half of them are stopped.
        if (shownAfterTwoClicks && !toStrip && !prerequisite &&
            *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(true)}, {1, rc::gen::just(false)}})) {
            std::vector<std::string> throughStrip;
            for (const char* tool : {"add_plugin", "remove_plugin", "set_plugin_bypass", "reorder_plugin",
                                     "get_track_details", "get_track_details", "ensure_bus_track", "ensure_bus_track",
                                     "set_track_volume", "set_track_pan", "set_send_level"})
                if (std::find(tools.begin(), tools.end(), tool) != tools.end()) throughStrip.push_back(tool);
            if (const auto onShown = callOnTrack(bench->world().project(), throughStrip, *shownAfterTwoClicks))
                call = *onShown;
        }
        // Half of those write the fader a raw value, not a level, on a track the write reaches.
        if (toStrip && call.tool == "set_track_volume" && *rc::gen::arbitrary<bool>())
            if (const auto reachable = nextCall(bench->world().project(), {"get_track_details"}))
                call.args = {{"track_name", reachable->args["track_name"]},
                             {"value", *rc::gen::elementOf(std::vector<int>{0, 100, 128, 200, 225, 255})}};
        if (onSelection && !around && !prerequisite)
            if (const auto pressed = switchOfSelected(bench->world().project(), tools)) call = *pressed;
        // The handle goes stale at one of this call's listings, mostly its second: the first finds
        // the main window.
        if (staleAtListing(shape.faults)) {
            const int after = *rc::gen::weightedOneOf<int>({{3, rc::gen::just(1)}, {1, rc::gen::inRange(0, 4)}});
            RC_LOG() << "the application's handle goes stale after " << after << " listings\n";
            bench->world().setKnob("axError", staleListingKnob(after));
            history.push_back(Step::staleAfter(after));
        }
        std::optional<nlohmann::json> busyFocus;  // knobs that keep the focus unreadable once a menu opens
        const std::size_t unstopped = shownAfterTwoClicks ? 1 : 3;
        if (prerequisite || ((!around || i == 2) && *rc::gen::weightedOneOf<bool>({{unstopped, rc::gen::just(false)},
                                                                                   {1, rc::gen::just(true)}}))) {
            // The Stop lands within the call's own length, learnt from its twin run unstopped; a
            // prerequisite write's mostly right after its last press, the choice of the option. After
            // the user's two clicks, mostly while the strip shows the track clicked first: from the
            // strip's lag less the clicks' wait after the call's start, to that lag.
            const double lag = shape.faults.value("lateStripUpdate", 0.0);
            if (shownAfterTwoClicks && !prerequisite && lag > 0 &&
                *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(true)}, {1, rc::gen::just(false)}})) {
                const double from = std::max(0.0, lag - clicksApart);
                call.stopAfter = from + *rc::gen::inRange(0, 1001) * (lag - from) / 1000;
                RC_LOG() << "stopped while the strip shows the track clicked first\n";
            } else {
                const Outcome twin = loaded(shape, history)->call(call);
                call.stopAfter =
                    prerequisite && !twin.actions.empty()
                        ? std::floor(*rc::gen::weightedOneOf<double>({{3, rc::gen::just(twin.actions.back())},
                                                                      {1, rc::gen::elementOf(twin.actions)}}) *
                                     1000) / 1000 + 0.001
                        : *genStopMoment(twin.took, twin.presses, twin.menuPresses);
                RC_LOG() << "unstopped, the call takes " << twin.took << " s\n";
                for (std::size_t m = 0; m < twin.menuPresses.size(); ++m)
                    if (*call.stopAfter > twin.menuPresses[m] && *call.stopAfter < twin.menuPresses[m] + 0.01) {
                        ++situations()["stopped with a menu just opened: " + call.tool];
                        RC_LOG() << "stopped with the menu pressed open at " << twin.menuPresses[m] << " s\n";
                        // Two in three of those while Logic Pro, busy from that press on, answers no
                        // read of what has the focus: what closes the menu must not need to find it.
                        if (!staleAtListing(shape.faults) &&
                            *rc::gen::weightedOneOf<bool>({{2, rc::gen::just(true)}, {1, rc::gen::just(false)}})) {
                            nlohmann::json knobs = shape.faults.value("axError", nlohmann::json::array());
                            knobs.push_back({{"element", "application"},
                                             {"attribute", "AXFocusedUIElement"},
                                             {"code", -25204},
                                             {"times", -1},
                                             {"afterPressOf", twin.menuOpeners[m]}});
                            busyFocus = knobs;
                        }
                        break;
                    }
            }
        }
        // Where Logic Pro may fail reads, a bypass is now and then asked while Logic Pro is busy from
        // the press on: the press itself may be refused, and the slot's reads fail a few times or
        // throughout, so that its read-back may find nothing.
        const auto aimed = busyFocus ? busyFocus : busyAfterBypass(shape, call, bench->world().project());
        if (aimed) {
            RC_LOG() << "Logic Pro busy from a press on: " << aimed->dump() << "\n";
            bench->failReads(*aimed, true);
            history.push_back(Step::failing(*aimed));
        }
        RC_ASSERT(checked(*bench, call, "call " + std::to_string(i), false, shape.faults.empty() && !aimed));
        history.push_back(Step::of(call));
        if (aimed) {
            const auto base = shape.faults.value("axError", nlohmann::json::array());
            bench->failReads(base, false);
            history.push_back(Step::failing(base));
        }
        // The user's Stop ends the turn.
        if (call.stopAfter) {
            RC_ASSERT(turnEnded(*bench, turnStart));
            history.push_back(Step::turnEnd());
            turnStart = ProjectState::read(bench->world());
        }

        // Where the turn ends after the call through the user's window, the user half the time
        // brings that window in front of the turn's own, which the turn's end still closes.
        if (around && aroundCalls == 2 && i == 1 && usersWindow && *rc::gen::arbitrary<bool>())
            for (const auto& t : bench->world().project().tracks)
                for (std::size_t k = 0; k < t.strip.inserts.size(); ++k)
                    if (t.strip.inserts[k].uid == *usersWindow) {
                        const HandAction raise{6, t.id, {}, static_cast<int>(k), 0};
                        RC_LOG() << describe(raise) << "\n";
                        apply(raise, bench->world());
                        history.push_back(Step::byHand(raise));
                    }

        // The next call works after whatever came before.
        if (auto next = callAfter(bench->world().project(), onSelection, tools)) {
            RC_ASSERT(checked(*bench, *next, "  then", true));
            history.push_back(Step::of(*next));
        }
    }

    RC_ASSERT(turnEnded(*bench, turnStart));

    // The project is still usable: a reading succeeds and changes nothing.
    const GeneratedCall list{"list_tracks", nlohmann::json::object(), std::nullopt};
    RC_ASSERT(checked(*bench, list, "after", true));
}

// A project of audio tracks, each with its chain (plug-ins by name), and the output track; the
// Mixer in front of the Tracks window when asked.
nlohmann::json scenarioOfTracks(const std::vector<std::pair<std::string, std::vector<std::string>>>& tracks,
                                bool mixerInFront = false) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& [name, plugins] : tracks) {
        nlohmann::json inserts = nlohmann::json::array();
        for (const auto& plugin : plugins) inserts.push_back({{"plugin", plugin}});
        list.push_back({{"inserts", inserts}, {"kind", "audio"}, {"name", name}});
    }
    list.push_back({{"inArrange", false}, {"kind", "output"}, {"name", "Stereo Out"}});
    nlohmann::json scenario = scenarioOf(ProjectShape{});
    scenario["project"] = {
        {"buses", nlohmann::json::array()}, {"lengthBars", 64}, {"name", "Generated"}, {"tracks", list}};
    scenario["ui"]["mixerWindow"] = mixerInFront;
    scenario["ui"]["mixerWindowFirst"] = mixerInFront;
    return scenario;
}

// A call on the bench as it stands, and what the check's property finds it broke.
struct CheckedCall {
    Outcome outcome;
    std::vector<std::string> broken;
    ProjectState after;
};
CheckedCall checkedCall(Bench& bench, const GeneratedCall& call) {
    const standin::Project project = bench.world().project();
    const ProjectState before = ProjectState::read(bench.world());
    Outcome o = bench.call(call);
    ProjectState after = ProjectState::read(bench.world());
    noteWindowsOpened(bench, before, after, o);
    auto broken = violations(call, project, before, after, o);
    return {std::move(o), std::move(broken), std::move(after)};
}

// Cases the long run once found, replayed on every run: each keeps its project and calls as found.
TEST(GeneratedCheckCases, AMuteThatPutsASelectionBackClicksOnlyTheTracksWindow) {
    // Elements stale after 5 reads, the Mixer in front, a plug-in window the user opened; then a
    // listen, a mute, a Shift-click on a folder's header, a refused call and a mute again: the
    // clicks that put the selection back land on the Tracks window, never on a Mixer slot.
    nlohmann::json scenario = scenarioOf(ProjectShape{});
    scenario["project"] = nlohmann::json::parse(
        R"({"buses":[{"aux":"Delay","number":1},{"aux":"Kick","number":2}],"cycle":{"end":17,"on":true,"start":)"
        R"(9},"lengthBars":64,"name":"Generated","playhead":{"bar":1},"playing":false,"tempo":120,"timeSignatur)"
        R"(e":[4,4],"tracks":[{"children":[{"children":[{"inserts":[{"bypassed":false,"plugin":"Tube Saturator")"
        R"(},{"bypassed":false,"plugin":"Tube Saturator"},{"bypassed":false,"plugin":"Corvane"}],"kind":"audio")"
        R"(,"muted":false,"name":"Kick","pan":-64,"regions":[{"bars":16,"start":1}],"sends":[{"bus":1,"detent":)"
        R"(57},{"bus":2,"detent":0}],"soloed":false,"volume":254}],"expanded":true,"kind":"folder","name":"Drum)"
        R"(s"}],"expanded":true,"kind":"folder","name":"Vox"},{"inserts":[],"kind":"instrument","muted":true,"n)"
        R"(ame":"Kick","pan":-64,"regions":[{"bars":16,"start":1}],"sends":[{"bus":1,"detent":1}],"soloed":fals)"
        R"(e,"volume":200},{"inserts":[],"kind":"audio","muted":false,"name":"Kick 2","pan":-64,"regions":[{"ba)"
        R"(rs":16,"start":1}],"sends":[{"bus":1,"detent":57},{"bus":2,"detent":0}],"soloed":true,"volume":0},{")"
        R"(inserts":[{"bypassed":true,"plugin":"Compressor"},{"bypassed":false,"plugin":"Tube Saturator"}],"kin)"
        R"(d":"instrument","muted":false,"name":"lead vox","pan":63,"regions":[{"bars":16,"start":1}],"sends":[)"
        R"({"bus":1,"detent":56},{"bus":2,"detent":57}],"soloed":false,"volume":254},{"children":[{"inserts":[{)"
        R"("bypassed":false,"plugin":"Corvane"}],"kind":"audio","muted":false,"name":"Kick","pan":-64,"regions")"
        R"(:[{"bars":16,"start":1}],"sends":[{"bus":1,"detent":0}],"soloed":false,"volume":1},{"inserts":[],"ki)"
        R"(nd":"instrument","muted":false,"name":"Guitar","pan":-64,"regions":[{"bars":16,"start":1}],"sends":[)"
        R"({"bus":1,"detent":56}],"soloed":false,"volume":1}],"expanded":false,"kind":"folder","name":"Drums"},)"
        R"({"inserts":[],"kind":"audio","muted":false,"name":"Kick 2","pan":0,"regions":[{"bars":16,"start":1}])"
        R"(,"sends":[{"bus":1,"detent":0}],"soloed":false,"volume":255},{"inArrange":false,"inserts":[{"bypasse)"
        R"(d":true,"plugin":"Compressor","sideChain":"Vox"},{"bypassed":false,"plugin":"Compressor"},{"bypassed)"
        R"(":false,"plugin":"Corvane"}],"kind":"audio","muted":false,"name":"lead vox","number":11,"pan":-64,"r)"
        R"(egions":[{"bars":16,"start":1}],"sends":[],"soloed":false,"volume":255},{"inArrange":true,"input":"B)"
        R"(us 1","inserts":[{"plugin":"Limiter"}],"kind":"aux","name":"Delay"},{"inArrange":false,"input":"Bus )"
        R"(2","inserts":[{"plugin":"Limiter"}],"kind":"aux","name":"Kick"},{"inArrange":false,"kind":"output",")"
        R"(name":"Stereo Out"}]})");
    scenario["ui"]["mixerWindow"] = true;
    scenario["ui"]["mixerWindowFirst"] = true;
    scenario["faults"]["staleAfter"] = "afterReads 5";
    Bench bench(scenario);
    bench.world().clickHeader(0);
    bench.world().openPluginWindowByHand(7, 0);
    const std::vector<GeneratedCall> calls{
        {"listen_to_playback", {{"duration_seconds", 2.0}, {"start_bar", 9}}, std::nullopt},
        {"set_track_mute", {{"enabled", true}, {"track_name", "lead vox"}}, std::nullopt},
        {"expand_folder", {{"expanded", false}, {"track_name", "Drums"}}, std::nullopt},
        {"set_track_mute", {{"enabled", false}, {"track_name", "lead vox"}}, std::nullopt}};
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (i == 2) bench.world().shiftClickHeader(1);
        const Outcome o = bench.call(calls[i]);
        EXPECT_EQ(bench.world().ui().openMenu, "") << calls[i].tool << ": " << o.summary;
    }
}

TEST(GeneratedCheckCases, APlugInWindowAnEarlierCallOpenedIsClosedWhereTheApplicationHandleWentStale) {
    // Elements stale after 3 reads; two mapped writes on two tracks in one turn: the second call
    // lists Logic Pro's windows through a handle made anew, so it closes the first call's window
    // rather than forgetting it, and the turn's end leaves none of the turn's windows open.
    nlohmann::json scenario = scenarioOf(ProjectShape{});
    scenario["project"] = nlohmann::json::parse(
        R"({"buses":[{"aux":"Reverb","number":1}],"cycle":{"end":17,"on":true,"start":9},"lengthBars":64,"name")"
        R"(:"Generated","playhead":{"bar":1},"playing":true,"tempo":120,"timeSignature":[4,4],"tracks":[{"inser)"
        R"(ts":[{"bypassed":false,"plugin":"Compressor"},{"bypassed":false,"plugin":"Corvane"}],"kind":"audio",)"
        R"("muted":false,"name":"Bus 2","pan":0,"regions":[{"bars":16,"start":1}],"sends":[{"bus":1,"detent":57)"
        R"(}],"soloed":false,"volume":0},{"inserts":[{"bypassed":false,"plugin":"Tube Saturator"},{"bypassed":t)"
        R"(rue,"plugin":"Compressor"},{"bypassed":false,"plugin":"Corvane"}],"kind":"instrument","muted":false,)"
        R"("name":"Bus 1","pan":-64,"regions":[{"bars":16,"start":1}],"sends":[],"soloed":false,"volume":0},{"i)"
        R"(nserts":[{"bypassed":true,"plugin":"Channel EQ"}],"kind":"instrument","muted":false,"name":"lead vox)"
        R"(","pan":0,"regions":[{"bars":16,"start":1}],"sends":[{"bus":1,"detent":45}],"soloed":true,"volume":1)"
        R"(},{"inserts":[],"kind":"audio","muted":false,"name":"Kick 2","pan":-64,"regions":[{"bars":16,"start")"
        R"(:1}],"sends":[{"bus":1,"detent":56}],"soloed":false,"volume":225},{"inserts":[],"kind":"audio","mute)"
        R"(d":false,"name":"Kick","pan":63,"regions":[{"bars":16,"start":1}],"sends":[{"bus":1,"detent":0}],"so)"
        R"(loed":false,"volume":0},{"children":[{"inserts":[{"bypassed":false,"plugin":"Compressor","sideChain")"
        R"(:"Bus 2"},{"bypassed":false,"plugin":"Corvane"}],"kind":"audio","muted":true,"name":"Bass","pan":63,)"
        R"("regions":[{"bars":16,"start":1}],"sends":[{"bus":1,"detent":57}],"soloed":false,"volume":1}],"expan)"
        R"(ded":false,"kind":"folder","name":"Vox"},{"inserts":[{"bypassed":false,"plugin":"Compressor"}],"kind)"
        R"(":"audio","muted":false,"name":"Kick Sub","pan":-64,"regions":[{"bars":16,"start":1}],"sends":[{"bus)"
        R"(":1,"detent":9}],"soloed":false,"volume":1},{"inserts":[],"kind":"instrument","muted":false,"name":")"
        R"(Guitar","pan":-64,"regions":[{"bars":16,"start":1}],"sends":[{"bus":1,"detent":9}],"soloed":true,"vo)"
        R"(lume":254},{"inserts":[{"bypassed":false,"plugin":"Compressor"}],"kind":"instrument","muted":true,"n)"
        R"(ame":"lead vox","pan":-64,"regions":[{"bars":16,"start":1}],"sends":[{"bus":1,"detent":9}],"soloed":)"
        R"(false,"volume":0},{"inserts":[],"kind":"audio","muted":false,"name":"Lead  Vox","pan":-64,"regions":)"
        R"([{"bars":16,"start":1}],"sends":[{"bus":1,"detent":9}],"soloed":false,"volume":255},{"inserts":[{"by)"
        R"(passed":false,"plugin":"Compressor"}],"kind":"audio","muted":false,"name":"Keys","pan":0,"regions":[)"
        R"({"bars":16,"start":1}],"sends":[{"bus":1,"detent":0}],"soloed":false,"volume":1},{"inArrange":false,)"
        R"("inserts":[{"bypassed":false,"plugin":"Compressor","sideChain":"Bus 2"},{"bypassed":true,"plugin":"C)"
        R"(hannel EQ"}],"kind":"instrument","muted":false,"name":"Kick Sub","number":13,"pan":63,"regions":[{"b)"
        R"(ars":16,"start":1}],"sends":[{"bus":1,"detent":0}],"soloed":false,"volume":0},{"inserts":[{"bypassed)"
        R"(":false,"plugin":"Limiter"},{"bypassed":false,"plugin":"Corvane"}],"kind":"audio","muted":true,"name)"
        R"(":"Snare","pan":-64,"regions":[{"bars":16,"start":1}],"sends":[{"bus":1,"detent":57}],"soloed":false)"
        R"(,"volume":0},{"inArrange":false,"inserts":[{"bypassed":false,"plugin":"Compressor","sideChain":"Bus )"
        R"(2"}],"kind":"audio","muted":true,"name":"Kick Sub","number":15,"pan":-64,"regions":[{"bars":16,"star)"
        R"(t":1}],"sends":[{"bus":1,"detent":9}],"soloed":false,"volume":255},{"inserts":[{"bypassed":false,"pl)"
        R"(ugin":"Compressor","sideChain":"Bus 2"},{"bypassed":false,"plugin":"Limiter"},{"bypassed":false,"plu)"
        R"(gin":"Corvane"}],"kind":"audio","muted":false,"name":"Kick 2","pan":-64,"regions":[{"bars":16,"start)"
        R"(":1}],"sends":[{"bus":1,"detent":56}],"soloed":false,"volume":0},{"children":[{"children":[{"inArran)"
        R"(ge":false,"inserts":[],"kind":"audio","muted":false,"name":"Lead Vox","number":19,"pan":-64,"regions)"
        R"(":[{"bars":16,"start":1}],"sends":[{"bus":1,"detent":1}],"soloed":false,"volume":254}],"expanded":tr)"
        R"(ue,"kind":"folder","name":"Vox"},{"inserts":[],"kind":"audio","muted":true,"name":"Kick","pan":63,"r)"
        R"(egions":[{"bars":16,"start":1}],"sends":[{"bus":1,"detent":0}],"soloed":false,"volume":0}],"expanded)"
        R"(":true,"kind":"folder","name":"Drums"},{"inserts":[{"bypassed":false,"plugin":"Compressor"},{"bypass)"
        R"(ed":false,"plugin":"Compressor"},{"bypassed":false,"plugin":"Corvane"}],"kind":"audio","muted":false)"
        R"(,"name":"Bus 1","pan":0,"regions":[{"bars":16,"start":1}],"sends":[],"soloed":false,"volume":0},{"in)"
        R"(Arrange":false,"input":"Bus 1","inserts":[{"plugin":"Limiter"}],"kind":"aux","name":"Reverb"},{"inAr)"
        R"(range":false,"kind":"output","name":"Master"}]})");
    scenario["faults"]["staleAfter"] = "afterReads 3";
    Bench bench(scenario);
    const ProjectState turnStart = ProjectState::read(bench.world());
    const std::vector<GeneratedCall> calls{
        {"set_plugin_parameter",
         {{"parameter_name", "Threshold"}, {"plugin_index", 0}, {"plugin_name", "Compressor"}, {"track_name", "Kick Sub"},
          {"value", "-90 dB"}},
         std::nullopt},
        {"set_track_mute", {{"enabled", true}, {"track_name", "Guitar"}}, std::nullopt},
        {"set_plugin_parameter",
         {{"parameter_name", "Threshold"}, {"plugin_index", 0}, {"track_name", "Keys"}, {"value", "-60 dB"}},
         std::nullopt},
        {"set_track_mute", {{"enabled", true}, {"track_name", "Lead  Vox"}}, std::nullopt}};
    for (const auto& call : calls) bench.call(call);
    const ProjectState before = ProjectState::read(bench.world());
    bench.endTurn();
    EXPECT_EQ(turnEndViolations(turnStart, before, ProjectState::read(bench.world())), std::vector<std::string>{});
}

// The same plug-in twice on one track, the user's window open on the first; a call on the second
// opens a window of the same title, which is the turn's own and closed by its end, whatever the
// handles do meanwhile.
TEST(GeneratedCheckCases, APlugInWindowOfTheSameTitleAsTheUsersIsTheTurnsOwn) {
    const std::vector<std::vector<GeneratedCall>> turns{
        {{"get_plugin_parameters", {{"plugin_index", 1}, {"track_name", "Kick"}}, std::nullopt},
         {"get_plugin_parameters", {{"plugin_index", 0}, {"track_name", "Bass"}}, std::nullopt}},
        {{"set_plugin_parameter",
          {{"parameter_name", "Threshold"}, {"plugin_index", 1}, {"track_name", "Kick"}, {"value", "-20 dB"}},
          std::nullopt},
         {"set_track_mute", {{"enabled", true}, {"track_name", "Bass"}}, std::nullopt}},
        {{"set_plugin_sidechain", {{"plugin_index", 1}, {"source", "Bass"}, {"track_name", "Kick"}}, std::nullopt},
         {"get_plugin_parameters", {{"plugin_index", 0}, {"track_name", "Bass"}}, std::nullopt}}};
    for (const char* stale : {"", "always", "afterReads 3"}) {
        for (const auto& calls : turns) {
            auto scenario = scenarioOfTracks({{"Kick", {"Compressor", "Compressor"}}, {"Bass", {"Channel EQ"}}});
            if (*stale) scenario["faults"]["staleAfter"] = stale;
            Bench bench(scenario);
            bench.world().openPluginWindowByHand(0, 0);
            bench.world().drainMainQueue();
            const ProjectState turnStart = ProjectState::read(bench.world());
            for (const auto& call : calls) bench.call(call);
            const ProjectState before = ProjectState::read(bench.world());
            bench.endTurn();
            EXPECT_EQ(turnEndViolations(turnStart, before, ProjectState::read(bench.world())),
                      std::vector<std::string>{})
                << "stale: '" << stale << "', first call " << calls.front().tool;
        }
    }
}

// The clock of the bench around a twin (as the check's run that learns a call's length makes one):
// it counts the reads made of it away from the test's thread.
class OuterClock final : public platform::Clock {
public:
    TimePoint now() override {
        if (std::this_thread::get_id() != owner_) ++away_;
        return TimePoint{std::chrono::seconds{1796225040}};
    }
    void sleep(std::chrono::duration<double>) override {}
    int away() const { return away_; }

private:
    const std::thread::id owner_ = std::this_thread::get_id();
    std::atomic<int> away_{0};
};

// A bench goes while its logger still has turns to open: they are opened on its own world's clock,
// never on the one installed around it, which may belong to a bench already gone (a hang or a use
// after free once its world is).
TEST(GeneratedCheckCases, ABenchGoesOnlyOnceItsLoggerIsDoneWithItsClock) {
    const auto scenario = scenarioOfTracks({{"Kick", {}}});
    OuterClock outer;
    const platform::ScopedServices around({.clock = &outer});
    for (int i = 0; i < 5; ++i) {
        Bench bench(scenario);
        for (int k = 0; k < 2000; ++k) bench.logger().beginTurn("Mix it");
    }
    EXPECT_EQ(outer.away(), 0) << "reads of the clock around the benches, from their queues";
}

// A twin run on its own inspector between two calls (as the check's run that learns a call's
// length) leaves the checked run's inspector as it was: the turn's end still closes the window the
// turn opened, never the user's that came to the front meanwhile.
TEST(GeneratedCheckCases, ATwinRunOnAnotherInspectorLeavesTheCheckedRunAsItWas) {
    const auto scenario = scenarioOfTracks({{"Kick", {"Compressor"}}, {"Bass", {"Channel EQ"}}});
    const GeneratedCall read{"get_plugin_parameters", {{"plugin_index", 0}, {"track_name", "Bass"}}, std::nullopt};
    for (const bool twin : {false, true}) {
        Bench bench(scenario);
        bench.world().openPluginWindowByHand(0, 0);
        bench.call(read);
        if (twin) Bench(scenario).call(read);
        bench.world().openPluginWindowByHand(0, 0);  // the user's window comes to the front
        bench.endTurn();
        std::vector<std::string> open;
        for (const auto& w : bench.world().ui().pluginWindows) open.push_back(w.title);
        EXPECT_EQ(open, std::vector<std::string>{"Kick: Compressor"}) << (twin ? "with" : "without") << " a twin";
    }
}

// The Mixer the user had in front, a plug-in window of theirs open: a write that opens and closes
// a plug-in window of its own, or removes the plug-in whose window is open, gives the front back to
// the Mixer, as does the turn's end.
TEST(GeneratedCheckCases, AWriteThroughAPlugInWindowLeavesTheMixerInFront) {
    const auto scenario = scenarioOfTracks({{"Kick", {"Compressor"}}, {"Bass", {"Compressor"}}}, true);
    const std::vector<GeneratedCall> calls{
        {"add_plugin", {{"plugin_name", "Drift Delay"}, {"track_name", "Bass"}}, std::nullopt},
        {"remove_plugin", {{"plugin_name", "Compressor"}, {"track_name", "Kick"}}, std::nullopt},
        {"set_plugin_sidechain", {{"plugin_name", "Compressor"}, {"source", "Kick"}, {"track_name", "Bass"}},
         std::nullopt},
        {"set_plugin_parameter",
         {{"parameter_name", "Threshold"}, {"plugin_index", 0}, {"track_name", "Bass"}, {"value", "-20 dB"}},
         std::nullopt}};
    for (const auto& call : calls) {
        Bench bench(scenario);
        bench.world().openPluginWindowByHand(0, 0);
        const ProjectState turnStart = ProjectState::read(bench.world());
        const Outcome o = bench.call(call);
        const ProjectState before = ProjectState::read(bench.world());
        bench.endTurn();
        std::vector<std::string> broken = turnEndViolations(turnStart, before, ProjectState::read(bench.world()));
        checkWindowOrder(call, turnStart, before, broken);
        EXPECT_EQ(broken, std::vector<std::string>{}) << call.tool << ": " << o.summary;
    }
}

// The application's held handle goes stale just as Logic Pro's windows are listed through it, at
// each of a call's first listings in turn: a handle made anew lists them, and the call does its work.
TEST(GeneratedCheckCases, AWindowListingThroughAStaleApplicationHandleFindsTheWindows) {
    auto scenario = scenarioOfTracks({{"Kick", {"Compressor"}}});
    const std::vector<GeneratedCall> calls{
        {"rename_track", {{"current_name", "Kick"}, {"new_name", "Kik"}}, std::nullopt},
        {"ensure_master_track", nlohmann::json::object(), std::nullopt}};
    for (const auto& call : calls)
        for (int after = 0; after < 4; ++after) {
            scenario["faults"]["axError"] = staleListingKnob(after);
            Bench bench(scenario);
            const Outcome o = bench.call(call);
            EXPECT_TRUE(o.succeeded) << call.tool << ", stale after " << after << " listings: " << o.summary;
        }
}

// A plug-in read through its Controls view, then another plug-in's window opened by the next call:
// the first window, closed, opens in its editor view again for the user.
TEST(GeneratedCheckCases, APlugInWindowTheTurnClosesOpensInItsEditorViewAgain) {
    const auto scenario = scenarioOfTracks({{"Kick", {"Compressor", "Corvane"}}, {"Bass", {"Compressor"}}});
    for (const char* second : {"Kick", "Bass"}) {
        Bench bench(scenario);
        const ProjectState turnStart = ProjectState::read(bench.world());
        bench.call({"get_plugin_parameters", {{"plugin_name", "Corvane"}, {"track_name", "Kick"}}, std::nullopt});
        bench.call({"set_plugin_parameter",
                    {{"parameter_name", "Threshold"}, {"plugin_name", "Compressor"}, {"track_name", second},
                     {"value", "-30 dB"}},
                    std::nullopt});
        const ProjectState before = ProjectState::read(bench.world());
        bench.endTurn();
        EXPECT_EQ(turnEndViolations(turnStart, before, ProjectState::read(bench.world())), std::vector<std::string>{})
            << "then a write on " << second;
    }
}

// A plug-in insert, or the removal of a plug-in whose window the user has open, stopped at any
// moment, the Mixer in front: the window the call opened or took away leaves the Mixer in front.
TEST(GeneratedCheckCases, AStoppedInsertOrRemovalLeavesTheMixerInFront) {
    const auto scenario = scenarioOfTracks({{"Kick", {"Compressor", "Corvane"}}}, true);
    struct Row {
        GeneratedCall call;
        bool usersWindow;  // open on the slot removed
        double every;      // seconds between two Stop moments
    };
    const std::vector<Row> rows{
        {{"add_plugin", {{"plugin_name", "Limiter"}, {"track_name", "Kick"}}, std::nullopt}, false, 0.05},
        {{"remove_plugin", {{"plugin_name", "Corvane"}, {"track_name", "Kick"}}, std::nullopt}, true, 0.1}};
    for (const auto& [call, usersWindow, every] : rows) {
        const auto loaded = [&, usersWindow = usersWindow] {
            auto bench = std::make_unique<Bench>(scenario);
            if (usersWindow) bench->world().openPluginWindowByHand(0, 1);
            return bench;
        };
        const double length = loaded()->call(call).took;
        std::vector<double> moments{length - 0.002};
        for (double at = every; at < length; at += every) moments.push_back(at);
        for (const double at : moments) {
            auto bench = loaded();
            GeneratedCall stopped = call;
            stopped.stopAfter = at;
            const ProjectState turnStart = ProjectState::read(bench->world());
            const Outcome o = bench->call(stopped);
            const ProjectState before = ProjectState::read(bench->world());
            bench->endTurn();
            std::vector<std::string> broken = turnEndViolations(turnStart, before, ProjectState::read(bench->world()));
            checkWindowOrder(stopped, turnStart, before, broken);
            EXPECT_EQ(broken, std::vector<std::string>{}) << call.tool << " stopped at " << at << " s: " << o.summary;
        }
    }
}

// Elements stale after 5 reads; a stopped chain edit, a mute, then a write that chooses the delay's
// Mode before its Wow stopped right after the choice: the answer names the Mode it chose, read
// through the window found anew.
TEST(GeneratedCheckCases, AStoppedPrerequisiteWriteNamesTheOptionItChose) {
    nlohmann::json scenario = scenarioOf(ProjectShape{});
    scenario["project"] = nlohmann::json::parse(
        R"({"buses":[],"cycle":{"end":17,"on":true,"start":9},"lengthBars":64,"name":"Generated","playhead":{"b)"
        R"(ar":1},"playing":true,"tempo":120,"timeSignature":[4,4],"tracks":[{"inserts":[{"bypassed":false,"plu)"
        R"(gin":"Tube Saturator"}],"kind":"audio","muted":false,"name":"Bass","pan":63,"regions":[{"bars":16,"s)"
        R"(tart":1}],"sends":[],"soloed":false,"volume":200},{"inserts":[{"bypassed":false,"plugin":"Corvane"}])"
        R"(,"kind":"audio","muted":true,"name":"kick","pan":-64,"regions":[{"bars":16,"start":1}],"sends":[],"s)"
        R"(oloed":true,"volume":0},{"inserts":[{"bypassed":false,"plugin":"Compressor"},{"bypassed":false,"plug)"
        R"(in":"Limiter"},{"bypassed":true,"plugin":"Tube Saturator"}],"kind":"audio","muted":false,"name":"kic)"
        R"(k","pan":-64,"regions":[{"bars":16,"start":1}],"sends":[],"soloed":false,"volume":225},{"inserts":[{)"
        R"("bypassed":false,"plugin":"Compressor"},{"bypassed":false,"plugin":"Drift Delay"},{"bypassed":false,)"
        R"("plugin":"Corvane"}],"kind":"audio","muted":false,"name":"Lead  Vox","pan":-64,"regions":[{"bars":16)"
        R"(,"start":1}],"sends":[],"soloed":false,"volume":225},{"inArrange":false,"kind":"output","name":"Mast)"
        R"(er"}]})");
    scenario["ui"]["mixerWindow"] = true;
    scenario["faults"]["staleAfter"] = "afterReads 5";
    Bench bench(scenario);
    bench.world().clickHeader(0);
    bench.call({"reorder_plugin", {{"from_index", 0}, {"to_index", 0}, {"track_name", "Lead  Vox"}}, 1.1});
    bench.endTurn();
    bench.call({"set_track_mute", {{"enabled", true}, {"track_name", "Bass"}}, std::nullopt});
    bench.endTurn();
    const GeneratedCall write{
        "set_plugin_parameter",
        {{"parameter_name", "Wow"}, {"plugin_index", 1}, {"track_name", "Lead  Vox"}, {"value", "1 %"}},
        1.292};
    const auto [o, broken, after] = checkedCall(bench, write);
    EXPECT_EQ(broken, std::vector<std::string>{}) << o.summary;
}

// Kick with `kickChain` (a Compressor) and Bass with a Channel EQ, both sending on Bus 1 to Reverb
// (Bass at detent `bassDetent`), on a Logic Pro whose strip follows the selection `late` seconds
// after it.
nlohmann::json kickAndBassSendingToReverb(double late, int bassDetent,
                                          const std::vector<std::string>& kickChain = {"Compressor"}) {
    auto scenario = scenarioOfTracks({{"Kick", kickChain}, {"Bass", {"Channel EQ"}}});
    auto& tracks = scenario["project"]["tracks"];
    tracks[0]["sends"] = {{{"bus", 1}, {"detent", 27}}};
    tracks[1]["sends"] = {{{"bus", 1}, {"detent", bassDetent}}};
    tracks.push_back({{"name", "Reverb"}, {"kind", "aux"}, {"input", "Bus 1"}, {"inArrange", false}});
    scenario["project"]["buses"] = {{{"number", 1}, {"aux", "Reverb"}}};
    scenario["faults"]["lateStripUpdate"] = late;
    return scenario;
}

// The user had Kick selected and Bass Shift-clicked, a turn muted Bass and ended, then the user
// clicked Bass's header, on a strip that follows the selection late: a send written for "kick" is
// Kick's, whichever track the strip shows meanwhile.
TEST(GeneratedCheckCases, ASendIsWrittenOnTheTrackAskedWhereTheStripFollowsLate) {
    const std::vector<nlohmann::json> asks{{{"delta_db", 20}}, {{"target_db", -6}}, {{"delta_db", -7}}};
    for (const double late : {0.2, 0.5, 0.9})
        for (const auto& ask : asks) {
            Bench bench(kickAndBassSendingToReverb(late, 0));
            bench.world().clickHeader(0);
            bench.world().shiftClickHeader(1);
            bench.call({"set_track_mute", {{"enabled", true}, {"track_name", "Bass"}}, std::nullopt});
            bench.endTurn();
            bench.world().clickHeader(1);
            GeneratedCall send{"set_send_level", {{"track_name", "kick"}, {"bus_label", "Bus 1"}}, std::nullopt};
            send.args.update(ask);
            const auto [o, broken, after] = checkedCall(bench, send);
            EXPECT_EQ(broken, std::vector<std::string>{})
                << "late " << late << ", " << send.args.dump() << ": " << o.summary;
        }
}

// The user clicks Bass, and a moment later Kick, the track the strip shows, before a call on Kick:
// the strip, late, moves on to Bass and back while the call works, stopped or not. Each read and
// press of a strip must be Kick's (or the bus's its send shows), a Stop ends the call at once, and
// a move between Kick's two Compressors is told done only where it took.
TEST(GeneratedCheckCases, ACallOnTheShownTrackHoldsToItWhileTheUsersClicksMoveTheStripOnAndBack) {
    const std::vector<GeneratedCall> calls{
        {"get_track_details", {{"track_name", "Kick"}}, std::nullopt},
        {"set_send_level", {{"track_name", "Kick"}, {"bus_label", "Bus 1"}, {"target_db", 10}}, std::nullopt},
        {"remove_plugin", {{"track_name", "Kick"}, {"plugin_index", 0}}, std::nullopt},
        {"add_plugin", {{"track_name", "Kick"}, {"plugin_name", "Limiter"}}, std::nullopt},
        {"reorder_plugin", {{"track_name", "Kick"}, {"from_index", 0}, {"to_index", 1}}, std::nullopt}};
    for (const double late : {0.3, 0.5, 0.8, 1.1, 1.4})
        for (const double wait : {0.3, 0.6})
            for (const auto& asked : calls)
                for (const std::optional<double> stopAt : std::vector<std::optional<double>>{std::nullopt, 0.3, 0.6, 0.9}) {
                    Bench bench(kickAndBassSendingToReverb(late, 40, {"Compressor", "Compressor", "Channel EQ"}));
                    bench.world().clickHeader(0);
                    bench.world().advance(2 * late);
                    bench.world().clickHeader(1);
                    bench.world().advance(wait);
                    bench.world().clickHeader(0);
                    GeneratedCall call = asked;
                    call.stopAfter = stopAt;
                    const auto [o, broken, after] = checkedCall(bench, call);
                    EXPECT_EQ(broken, std::vector<std::string>{})
                        << "late " << late << ", clicks " << wait << " s apart, " << call.tool << " stopped at "
                        << stopAt.value_or(-1) << ": " << o.summary;
                }
}

// The same clicks, with a Stop that lands while the strip shows Bass, between two steps that must
// not be split: the bus's automation switched on and off, a send walk's write and the read of where
// it left the send, a fader's level search. Each waits for the strip to show Kick again, and a
// reading leaves nothing changed; Kick's send also at its bottom, where the touch steps up first.
TEST(GeneratedCheckCases, AStopWhileTheStripShowsAnotherTrackLeavesNoStepSplit) {
    const std::vector<GeneratedCall> calls{
        {"get_track_details", {{"track_name", "Kick"}}, std::nullopt},
        {"set_send_level", {{"track_name", "Kick"}, {"bus_label", "Bus 1"}, {"target_db", -32}}, std::nullopt},
        {"set_track_volume", {{"track_name", "Kick"}, {"value", "-27.8 dB"}}, std::nullopt}};
    struct Moment {
        double late, wait, stopAt;
    };
    for (const int kickDetent : {0, 27})
        for (const Moment m : {Moment{0.5, 0.3, 0.2}, Moment{0.9, 0.4, 0.6}, Moment{1.4, 0.1, 1.3}})
            for (const auto& asked : calls) {
                auto scenario = kickAndBassSendingToReverb(m.late, 40);
                scenario["project"]["tracks"][0]["sends"][0]["detent"] = kickDetent;
                Bench bench(scenario);
                bench.world().clickHeader(0);
                bench.world().advance(2 * m.late);
                bench.world().clickHeader(1);
                bench.world().advance(m.wait);
                bench.world().clickHeader(0);
                GeneratedCall call = asked;
                call.stopAfter = m.stopAt;
                const auto [o, broken, after] = checkedCall(bench, call);
                EXPECT_EQ(broken, std::vector<std::string>{})
                    << "send at detent " << kickDetent << ", late " << m.late << ", clicks " << m.wait
                    << " s apart, " << call.tool << " stopped at " << m.stopAt << ": " << o.summary;
            }
}

// A turn muted Kick, whose send is at its bottom, and ended; the user clicked Bass and, a moment
// later, Kick: the strip still shows Kick when the details are read, and moves on to Bass between
// the touch's step up and its step back. Stopped there, the send is stepped back on Kick's strip.
TEST(GeneratedCheckCases, ASendTouchedAsTheStripMovesOnIsSteppedBackOnItsTrack) {
    auto scenario = kickAndBassSendingToReverb(0.5, 40);
    scenario["project"]["tracks"][0]["sends"][0]["detent"] = 0;
    Bench bench(scenario);
    bench.world().clickHeader(0);
    bench.call({"set_track_mute", {{"enabled", true}, {"track_name", "Kick"}}, std::nullopt});
    bench.endTurn();
    bench.world().clickHeader(1);
    bench.world().advance(0.3);
    bench.world().clickHeader(0);
    const auto [o, broken, after] = checkedCall(bench, {"get_track_details", {{"track_name", "Kick"}}, 0.2});
    EXPECT_EQ(broken, std::vector<std::string>{}) << o.summary;
}

// Elements stale at every read, the user's own window of Keys' first slot open, two writes in one
// turn (the second through that window), then a write on Keys' Compressor, stopped at once or
// later or not at all: the write leaves the user's window open.
TEST(GeneratedCheckCases, AStoppedWriteLeavesTheUsersPlugInWindowOpen) {
    for (const char* stale : {"always", "afterReads 3"})
        for (const std::optional<double> stopAt : std::vector<std::optional<double>>{0.0, 0.001, 0.2, 0.5, std::nullopt}) {
            auto scenario =
                scenarioOfTracks({{"Keys", {"Drift Delay", "Compressor"}}, {"Bass", {"Compressor", "Channel EQ"}}});
            scenario["faults"]["staleAfter"] = stale;
            Bench bench(scenario);
            bench.world().openPluginWindowByHand(0, 0);
            bench.world().drainMainQueue();
            const ProjectState turnStart = ProjectState::read(bench.world());
            bench.call({"set_plugin_parameter",
                        {{"parameter_name", "Threshold"}, {"plugin_index", 0}, {"track_name", "Bass"}, {"value", "-20 dB"}},
                        std::nullopt});
            bench.call({"set_plugin_parameter",
                        {{"parameter_name", "Time"}, {"plugin_index", 0}, {"track_name", "Keys"}, {"value", "300 ms"}},
                        std::nullopt});
            const GeneratedCall stopped{
                "set_plugin_parameter",
                {{"parameter_name", "Threshold"}, {"plugin_name", "Compressor"}, {"track_name", "Keys"}, {"value", "-40 dB"}},
                stopAt};
            auto [o, broken, after] = checkedCall(bench, stopped);
            bench.endTurn();
            const auto ended = turnEndViolations(turnStart, after, ProjectState::read(bench.world()));
            broken.insert(broken.end(), ended.begin(), ended.end());
            EXPECT_EQ(broken, std::vector<std::string>{}) << stale << ", stopped at " << stopAt.value_or(-1) << ": " << o.summary;
        }
}

// Elements stale after three reads, the user's own window of Kick's first slot open: a write that
// opens Guitar's Drift Delay and is refused, a read through the user's window, then a write stopped
// at once. The turn's end closes the window the turn opened and leaves the user's.
TEST(GeneratedCheckCases, TheTurnsEndClosesTheWindowItOpenedBeforeTheUsersWasRead) {
    auto scenario = scenarioOfTracks({{"Kick", {"Channel EQ"}}, {"Guitar", {"Drift Delay"}}});
    scenario["faults"]["staleAfter"] = "afterReads 3";
    Bench bench(scenario);
    bench.world().openPluginWindowByHand(0, 0);
    bench.world().drainMainQueue();
    const ProjectState turnStart = ProjectState::read(bench.world());
    bench.call({"set_plugin_parameter",
                {{"parameter_name", "Wobble"}, {"plugin_index", 0}, {"track_name", "Guitar"}, {"value", "1"}},
                std::nullopt});
    bench.call({"get_plugin_parameters", {{"plugin_index", 0}, {"track_name", "Kick"}}, std::nullopt});
    bench.call({"set_plugin_parameter",
                {{"parameter_name", "Time"}, {"plugin_index", 0}, {"track_name", "Guitar"}, {"value", "300 ms"}},
                0.0});
    const ProjectState after = ProjectState::read(bench.world());
    bench.endTurn();
    EXPECT_EQ(turnEndViolations(turnStart, after, ProjectState::read(bench.world())), std::vector<std::string>{});
}

// A plug-in moved among slots of the same name, every drag missing (a click on the source slot): the
// chain that stayed is never told moved; the bypass of a slot whose handles go stale is pressed
// where it takes, or the answer says it did not.
TEST(GeneratedCheckCases, AMoveOrBypassIsToldDoneOnlyWhereTheChainShowsIt) {
    struct Row {
        std::vector<std::string> chain;
        GeneratedCall call;
        nlohmann::json faults;
    };
    const std::vector<Row> rows{
        {{"Compressor", "Channel EQ", "Compressor"},
         {"reorder_plugin", {{"from_index", 0}, {"to_index", 2}, {"track_name", "Kick"}}, std::nullopt},
         {{"dropMisses", 2}}},
        {{"Compressor", "Compressor", "Limiter"},
         {"reorder_plugin", {{"from_index", 0}, {"to_index", 1}, {"track_name", "Kick"}}, std::nullopt},
         {{"dropMisses", 2}}},
        {{"Compressor", "Compressor", "Limiter"},
         {"reorder_plugin", {{"from_index", 1}, {"to_index", 0}, {"track_name", "Kick"}}, std::nullopt},
         {{"dropMisses", 1}}},
        {{"Channel EQ", "Compressor"},
         {"set_plugin_bypass", {{"plugin_index", 1}, {"track_name", "Kick"}}, std::nullopt},
         {{"staleAfter", "always"}}},
        {{"Channel EQ", "Compressor"},
         {"set_plugin_bypass", {{"bypassed", true}, {"plugin_name", "Channel EQ"}, {"track_name", "Kick"}}, std::nullopt},
         {{"staleAfter", "afterReads 3"}}},
        {{"Channel EQ", "Compressor"},
         {"set_plugin_bypass", {{"plugin_index", 0}, {"track_name", "Kick"}}, std::nullopt},
         {{"staleAfter", "afterReads 2"}}}};
    for (const auto& [chain, call, faults] : rows) {
        auto scenario = scenarioOfTracks({{"Kick", chain}, {"Bass", {"Limiter"}}});
        scenario["faults"].update(faults);
        Bench bench(scenario);
        bench.world().clickHeader(1);
        const auto [o, broken, after] = checkedCall(bench, call);
        EXPECT_EQ(broken, std::vector<std::string>{})
            << call.tool << " " << call.args.dump() << " " << faults.dump() << ": " << o.summary;
        if (call.tool == "set_plugin_bypass") {
            EXPECT_TRUE(o.succeeded) << o.summary;
        }
    }
}

TEST(GeneratedCheckCases, ASliderNudgedWhereHandlesGoStaleEndsOnTheNearestStep) {
    // A plug-in without a map, written through its Controls view while every handle goes stale
    // after a few reads: each write, one after another in a turn, ends on the nearest step.
    const std::vector<std::pair<const char*, std::vector<const char*>>> rows{
        {"Drive", {"22.9 dB"}}, {"Drive", {"-7.3 dB", "5.2 dB"}}, {"Tone", {"8.000 kHz", "200 Hz", "2.5 kHz"}}};
    for (const char* stale : {"afterReads 2", "afterReads 3", "afterReads 4", "afterReads 5", "afterReads 6"})
        for (const auto& [param, values] : rows) {
            auto scenario = scenarioOfTracks({{"Kick 2", {"Tube Saturator", "Compressor"}}});
            scenario["faults"]["staleAfter"] = stale;
            Bench bench(scenario);
            for (const char* value : values) {
                const GeneratedCall call{"set_plugin_parameter",
                                         {{"parameter_name", param},
                                          {"plugin_name", "Tube Saturator"},
                                          {"track_name", "Kick 2"},
                                          {"value", value}},
                                         std::nullopt};
                const auto [o, broken, after] = checkedCall(bench, call);
                EXPECT_EQ(broken, std::vector<std::string>{})
                    << stale << ", " << param << " " << value << ": " << o.summary;
            }
        }
}

TEST(GeneratedCheckCases, AMuteOfOneOfSeveralSelectedTracksKeepsTheFocusWhereTheirNamesRepeat) {
    // Tracks of one name selected by Shift-clicks around the focused one, handles stale after a
    // few reads, a call that found nothing, the turn's end: the focus is told by Logic Pro's
    // focused element, not by the strip's name, which two of them bear.
    for (const char* stale : {"afterReads 3", "afterReads 5"})
        for (const int focused : {1, 2}) {
            auto scenario = scenarioOfTracks({{"Kick", {}}, {"Aux 1", {}}, {"Aux 1", {}}});
            scenario["faults"]["staleAfter"] = stale;
            Bench bench(scenario);
            bench.world().clickHeader(focused);
            bench.world().shiftClickHeader(3 - focused);
            bench.world().shiftClickHeader(0);
            bench.call({"set_track_solo", {{"enabled", false}, {"track_name", "Reverb"}}, std::nullopt});
            bench.endTurn();
            const GeneratedCall mute{"set_track_mute", {{"enabled", true}, {"track_name", "Kick"}}, std::nullopt};
            const auto [o, broken, after] = checkedCall(bench, mute);
            EXPECT_EQ(broken, std::vector<std::string>{}) << stale << ", focused " << focused << ": " << o.summary;
        }
}

TEST(GeneratedCheckCases, TheTurnsEndClosesItsOwnWindowWhereALaterCallWorkedInTheUsers) {
    // A write opens a window of the turn's own; a side chain is then set in the user's window of
    // the same track, which comes to the front: where handles go stale, the turn's end finds its
    // own window again rather than closing the one in front.
    for (const char* stale : {"afterReads 3", "always", "onRebuild"}) {
        auto scenario = scenarioOfTracks({{"Kick 2", {"Tube Saturator", "Compressor"}}, {"Lead Vox", {"Limiter"}}});
        scenario["faults"]["staleAfter"] = stale;
        Bench bench(scenario);
        bench.world().openPluginWindowByHand(0, 1);
        bench.world().drainMainQueue();
        const ProjectState turnStart = ProjectState::read(bench.world());
        bench.call({"set_plugin_parameter",
                    {{"parameter_name", "Tone"},
                     {"plugin_name", "Tube Saturator"},
                     {"track_name", "Kick 2"},
                     {"value", "0.200 kHz"}},
                    std::nullopt});
        bench.call({"set_plugin_sidechain",
                    {{"plugin_name", "Compressor"}, {"source", "Lead Vox"}, {"track_name", "Kick 2"}},
                    std::nullopt});
        const ProjectState before = ProjectState::read(bench.world());
        bench.endTurn();
        EXPECT_EQ(turnEndViolations(turnStart, before, ProjectState::read(bench.world())), std::vector<std::string>{})
            << stale;
    }
}

TEST(GeneratedCheckCases, AMuteSwitchedOnOneOfASelectionLeavesTheOthersWhereHandlesGoStale) {
    // Reverb selected and Kick Sub Shift-clicked, handles stale after a few reads: each mute of
    // Reverb reads its switch through the header's switches as listed now, never a kept handle that
    // no longer answers, which would read as off and let the press reach Kick Sub too.
    for (const char* stale : {"afterReads 3", "afterReads 5"})
        for (const std::optional<double> stopAt : std::vector<std::optional<double>>{std::nullopt, 0.0}) {
            auto scenario = scenarioOfTracks({{"Kick Sub", {"Channel EQ"}}, {"Reverb", {}}, {"Kick Sub", {}}});
            scenario["faults"]["staleAfter"] = stale;
            Bench bench(scenario);
            bench.world().clickHeader(1);
            bench.world().shiftClickHeader(0);
            for (const bool enabled : {true, false, true, false}) {
                bench.call({"get_plugin_parameters", {{"plugin_index", 0}, {"track_name", "Reverb"}}, std::nullopt});
                const auto [o, broken, after] = checkedCall(bench, {"set_track_mute",
                                                                    {{"enabled", enabled}, {"track_name", "Reverb"}},
                                                                    enabled ? std::nullopt : stopAt});
                EXPECT_EQ(broken, std::vector<std::string>{}) << stale << ", enabled " << enabled << ": " << o.summary;
            }
        }
}

}  // namespace
}  // namespace corvane::generated
