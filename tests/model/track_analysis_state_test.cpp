#include <gtest/gtest.h>

#include "model/track_analysis_state.h"

namespace corvane {
namespace {

TEST(TrackAnalysisState, MasterNamesAreFoundAsSubstringsInAnyCase) {
    struct Case {
        const char* name;
        bool master;
    };
    const Case cases[] = {
        {"Stereo Out", true},    {"MASTER BUS", true}, {"Main Out 1-2", true}, {"Output 3-4", true},
        {"Mastering Vox", true}, {"Lead Vox", false},  {"Out Of Time", false}, {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(TrackAnalysisState::isMasterName(c.name), c.master) << c.name;
}

}  // namespace
}  // namespace corvane
