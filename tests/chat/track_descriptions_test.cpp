#include "chat/track_descriptions.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TrackAnalysisState live(const std::string& id, const std::string& track) {
    TrackAnalysisState state;
    state.id = id;
    state.trackName = track;
    return state;
}

TEST(TrackDescriptions, InstanceKeysAndTrackNameKeysTranslateBothWays) {
    const std::vector<TrackAnalysisState> states{live("A", "Kick"), live("B", "Bass"), live("C", "BASS"),
                                                 live("D", "Vox")};
    EXPECT_EQ(descriptionKeysForTrack("bass", states), (std::vector<std::string>{"B", "C"}));
    EXPECT_TRUE(descriptionKeysForTrack("Keys", states).empty());

    // An instance that is not live has no track name; the first described instance of a track wins.
    const std::map<std::string, std::string> byID{{"C", "second"}, {"B", "first"}, {"Z", "gone"}, {"D", "Airy"}};
    EXPECT_EQ(trackDescriptionsByTrackName(byID, states),
              (std::map<std::string, std::string>{{"bass", "first"}, {"vox", "Airy"}}));
}

}  // namespace
}  // namespace corvane
