#pragma once

// What a call must show on its targets: after a success, what it was asked; after a Stop, a
// value as found or as asked, or a step on the way the answer names.

#include <string>
#include <vector>

#include "generated/project_state.h"
#include "generated/tool_calls.h"
#include "platform/standin/model.h"

namespace corvane::generated {

// What success must show on the target, read from the project after; a line per shortfall.
void checkShown(const GeneratedCall& c, const standin::Project& bp, const ProjectState& before,
                const ProjectState& after, const std::string& summary, std::vector<std::string>& out);
// Where a stopped walk may stand: as found, or as asked.
void checkNoSplit(const GeneratedCall& c, const standin::Project& bp, const ProjectState& before,
                  const ProjectState& after, const std::string& said, std::vector<std::string>& out);

}  // namespace corvane::generated
