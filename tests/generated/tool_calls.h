#pragma once

// Calls of every tool that reaches Logic Pro, with arguments drawn against the project as it is:
// a present track, a shared name, a missing one, and the edge values of each parameter. And what
// must hold after any of them, read from the simulated project.

#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <rapidcheck.h>

#include "generated/project_state.h"
#include "plugins/plugin_map_store.h"
#include "platform/standin/model.h"

namespace corvane::generated {

struct GeneratedCall {
    std::string tool;
    nlohmann::json args;
    std::optional<double> stopAfter;  // the user's Stop, virtual seconds into the call
};

const std::vector<std::string>& toolsReachingLogic();
bool isReadingTool(const std::string& tool);

// Where a slot tool aims with a plug-in window of the user's open: the user's window half the
// time, that window, or another slot.
enum class Aim { drawn, usersWindow, elsewhere };

// `tools`: the tools to draw from (all of toolsReachingLogic() but those skipped); `openSlot`: the
// slot of a plug-in window the user has open, which the slot tools then name as `aim` says.
rc::Gen<GeneratedCall> genCall(const standin::Project& project, const std::vector<std::string>& tools,
                               std::optional<int> openSlot = std::nullopt, Aim aim = Aim::drawn);

// A send on another track, on a bus the track `clicked` sends to as well, mostly on the track the
// strip showed before the click: the strip, following the click late, moves on to the clicked
// track while the call works on the one it showed. None when no such send is.
std::optional<GeneratedCall> sendBeside(const standin::Project& project, int clicked, int shownBefore);

// A Stop moment within a call that takes `length` virtual seconds unstopped: its start, anywhere
// along it, its last moments, and the pause right after one of its `presses` (a press that another
// must follow, as an option chosen before the parameter that needs it), or while a menu one of
// `menuPresses` opened is still open.
rc::Gen<double> genStopMoment(double length, const std::vector<double>& presses = {},
                              const std::vector<double>& menuPresses = {});

// A mapped write of a parameter that needs an option of another chosen first (a delay's Wow, its
// Mode on Tape), on a track of the project that has such a plug-in; none when none has.
std::optional<GeneratedCall> prerequisiteWrite(const standin::Project& project, const PluginMapStore& maps);

// The tools the turn's first calls are drawn from around the user's plug-in window (`call` 0 before
// it, 1 through it, 2 after it): through it now and then a side chain or a bypass, which leave the
// window the turn opened before open behind it, mostly so where that window bears the same title
// as the user's (`sameTitle`).
std::vector<std::string> aroundTools(int call, bool sameTitle, const std::vector<std::string>& windowTools,
                                     const std::vector<std::string>& tools);

// A write of a slider that stands at an end of its range, of a plug-in without a map (written
// through its Controls view), on a track a name reaches alone; none when no such slider is.
std::optional<GeneratedCall> writeFromAnEnd(const standin::Project& project, const PluginMapStore& maps);

// A call on a present track no other shares a name with, to see that the project still works: a
// reading, or a mute when the mute is among `tools`.
std::optional<GeneratedCall> nextCall(const standin::Project& project, const std::vector<std::string>& tools);

// What the call did, as the check sees it.
struct Outcome {
    std::string summary;
    std::string output;  // what the model reads
    bool succeeded = false;
    double took = 0;  // virtual seconds
    bool readsMayFail = false;  // the simulated Logic Pro answers some reads with errors
    double stripLag = 0;        // how late the strip follows the selection (seconds; 0: at once)
    // The plug-in windows (by slot) that earlier calls of the same turn opened: a turn shows one
    // plug-in window at a time and closes those it opened, so a later call may close them unsaid.
    std::set<int> openedByTurn;
    // A fader or pan control written again after it refused a write within the call (empty: none).
    std::string rewrittenAfterRefusal;
    // When each press or write of the call reached Logic Pro, seconds into it, and each press alone
    // (a window opened, an option chosen: a mapped write chooses its prerequisite last of all).
    std::vector<double> presses;
    std::vector<double> actions;
    std::vector<double> menuPresses;  // presses that opened a menu (an insert bar's, a slot's list)
    std::vector<std::string> menuOpeners;  // the description of what each pressed
};

// Every property a call broke, one line each ("<property>: <what>"); empty when all hold.
std::vector<std::string> violations(const GeneratedCall& call, const standin::Project& beforeProject,
                                    const ProjectState& before, const ProjectState& after, const Outcome& outcome);

// What the turn's end broke: `turnStart` as the turn found the project, `before` and `after` either
// side of the end. It closes what the turn left open: the windows the turn opened go, and the
// project is as its calls left it.
std::vector<std::string> turnEndViolations(const ProjectState& turnStart, const ProjectState& before,
                                           const ProjectState& after);

void showValue(const GeneratedCall& call, std::ostream& os);

}  // namespace corvane::generated
