#pragma once

// What a call must show on its targets: after a success, what it was asked; after a Stop, a
// value as found or as asked, or a step on the way the answer names.

#include <optional>
#include <string>
#include <vector>

#include "generated/project_state.h"
#include "generated/tool_calls.h"
#include "platform/standin/model.h"
#include "plugins/plugin_map_store.h"

namespace corvane::generated {

// What success must show on the target, read from the project after; a line per shortfall.
void checkShown(const GeneratedCall& c, const standin::Project& bp, const ProjectState& before,
                const ProjectState& after, const std::string& summary, std::vector<std::string>& out);
// Why the call must succeed on a Logic Pro without faults when it is not stopped: a level within
// its range, in a unit of its family, for a parameter the slot shows once, on a track the list shows
// once, and that a shipped map does not make hang on another's setting. Absent where it may fail.
std::optional<std::string> mustSucceed(const GeneratedCall& c, const standin::Project& bp, const PluginMapStore& maps);
// Where a stopped walk may stand: as found, or as asked.
void checkNoSplit(const GeneratedCall& c, const standin::Project& bp, const ProjectState& before,
                  const ProjectState& after, const std::string& said, std::vector<std::string>& out);

}  // namespace corvane::generated
