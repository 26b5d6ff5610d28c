#pragma once

// How the names Logic Pro shows in insert slots relate to plug-in names: a narrow slot shows a
// name cut short, with or without an ellipsis, so a slot name is seldom the whole menu name.

#include <string>
#include <string_view>

namespace corvane::plugin_names {

// Lower-cased and trimmed at both ends of white space other than line breaks.
std::string normalised(std::string_view name);

// The companion analysis plug-in under any name Logic Pro shows for it, narrow slots included.
bool isAnalysisPlugin(std::string_view name);

// Whether an insert slot showing `shown` holds the plug-in `name` (as typed or as its menu names
// it): the slot's text, without a trailing ellipsis and ignoring spaces, begins the name or
// contains it; for the analysis plug-in, any of its shown forms.
bool slotShows(std::string_view shown, std::string_view name);

}  // namespace corvane::plugin_names
