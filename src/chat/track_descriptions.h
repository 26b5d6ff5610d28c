#pragma once

#include <map>
#include <string>
#include <vector>

#include "model/track_analysis_state.h"

namespace corvane {

// Track descriptions are kept per analysis plug-in instance (the ID survives a track rename and
// is what the window edits), while a chat request names tracks. These two functions are the one
// translation between the keys, in both directions.

// The instance IDs a description of `trackName` is kept under: every live instance whose track
// name equals it without regard to letter case, in the states' order.
std::vector<std::string> descriptionKeysForTrack(const std::string& trackName,
                                                 const std::vector<TrackAnalysisState>& liveStates);

// Descriptions by instance ID re-keyed by lower-cased track name, as the request builder looks
// them up; the provider that hands descriptions to the builder applies it. Instances that are not
// live have no track name and are left out; when several instances of one track are described,
// the one listed first among the live states wins.
std::map<std::string, std::string> trackDescriptionsByTrackName(const std::map<std::string, std::string>& byInstanceID,
                                                                const std::vector<TrackAnalysisState>& liveStates);

}  // namespace corvane
