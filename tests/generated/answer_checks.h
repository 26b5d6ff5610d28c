#pragma once

// What the answer states, compared with what the simulated Logic Pro shows: values said as
// reached, a stopped chain edit's chain, and what a call did to the windows and the playhead.

#include <optional>
#include <string>
#include <vector>

#include "generated/project_state.h"
#include "generated/tool_calls.h"
#include "platform/standin/model.h"
#include "platform/standin/plugin_parameters.h"

namespace corvane::generated {

// The slot a call names on a track of the project before it ran, when it names exactly one.
std::optional<int> slotUidAsked(const GeneratedCall& c, const standin::Track& t);

// A value in `unit` as seconds or hertz; none outside those families.
std::optional<double> inBaseUnit(double value, const std::string& unit);
// A parameter's value as said against the one its control shows at `raw`: switches and options by
// name, levels to the precision of the coarser of the two texts, in either unit of a family (ms and
// s, Hz and kHz); none where the two cannot be compared.
// The value a slider-like control shows at `raw`, read from its text, in the parameter's unit.
std::optional<double> shownValue(const standin::detail::ParamSpec& p, double raw);
std::optional<bool> sameShownValue(const std::string& said, const standin::detail::ParamSpec& p, double raw);

// Every value the answer states as reached (after "to", after "→") is the one the control shows.
void checkStatedValues(const GeneratedCall& c, const standin::Project& bp, const ProjectState& after,
                       const std::string& said, std::vector<std::string>& out);
// A stopped chain edit's "now: …" and "(were: …)" are the chain after and before.
void checkChainStated(const ProjectState& before, const ProjectState& after, const std::string& said,
                      std::vector<std::string>& out);
// A plug-in window closed at `start` and after `after` opens again in the view it did at `start`
// (`before`: just before the call or the turn's end that `by` names).
void checkReopenViews(const ProjectState& start, const ProjectState& before, const ProjectState& after,
                      const std::string& by, std::vector<std::string>& out);
// How Logic Pro's own windows open both before and after changed their order, if they did.
std::optional<std::string> windowOrderChange(const ProjectState& before, const ProjectState& after);
// Every call leaves Logic Pro's own windows in the order it found them.
void checkWindowOrder(const GeneratedCall& c, const ProjectState& before, const ProjectState& after,
                      std::vector<std::string>& out);
// A listen names the bar it leaves the playhead on, its start bar once it played to the end; a
// transport call moves the playhead only as it says.
void checkPlayhead(const GeneratedCall& c, const ProjectState& before, const ProjectState& after, double took,
                   bool stopped, bool succeeded, const std::string& said, std::vector<std::string>& out);

}  // namespace corvane::generated
