#pragma once

// Calls on tracks the user selected together, where Logic Pro's handles stop answering after a
// few reads.

#include <optional>
#include <string>
#include <vector>

#include "generated/generated_project.h"
#include "generated/tool_calls.h"
#include "platform/standin/model.h"

namespace corvane::generated {

// Whether a case's calls mostly press the switches of tracks the user selected together: half
// the time where elements go stale and the user Shift-clicked.
bool worksOnSelection(const ProjectShape& shape);

// Mostly a mute or solo of a selected track a name reaches alone, where several are selected (or
// one, with `press`); mostly the focused one; a press, or now and then a switch already as asked
// unless `press`. The M and S keys reach every selected track, so the call selects its track alone
// and puts the selection back, reading the focus and the switches through handles kept from
// earlier looks.
// None otherwise, or when `tools` has neither.
std::optional<GeneratedCall> switchOfSelected(const standin::Project& project, const std::vector<std::string>& tools,
                                              bool press = false);

// The call after a drawn one, to see that the project still works: `onSelection`, mostly a press
// on a selected track (of several, or the one a Stop left selected), which keeps the selection for
// the calls after it (a call on another track would select that one alone); else nextCall's.
std::optional<GeneratedCall> callAfter(const standin::Project& project, bool onSelection,
                                       const std::vector<std::string>& tools);

}  // namespace corvane::generated
