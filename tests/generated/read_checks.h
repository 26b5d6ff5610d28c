#pragma once

// What a reading tool reports, held against the simulated project it read: the tracks and their
// order, a strip's values and slots, a plug-in's parameters to the display's precision, the
// transport and the bars a track sounds in.

#include <string>
#include <vector>

#include "generated/project_state.h"
#include "generated/tool_calls.h"
#include "platform/standin/model.h"

namespace corvane::generated {

// A line per thing reported that the project does not show; nothing for an answer that reports
// nothing (an error). A Logic Pro whose reads fail may leave a switch reported off.
void checkReport(const GeneratedCall& c, const standin::Project& bp, const ProjectState& before,
                 const ProjectState& after, const Outcome& o, std::vector<std::string>& out);

}  // namespace corvane::generated
