#include <gtest/gtest.h>

#include "test_support/json_helpers.h"

#include <limits>

#include "model/chat_model_tool_results.h"

namespace corvane {
namespace {

using nlohmann::json;

using testing::decodes;

TEST(ChatModelToolResults, AbsentOrUnrepresentableMeasurementsAreLeftOut) {
    AudioAnalysisToolResult::TrackAnalysisInfo info;
    info.trackName = "Bass";
    info.peakDbfs = -3.5;
    info.shortTermLufs = -std::numeric_limits<double>::infinity();  // silence
    info.stereoWidth = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(json(info).dump(), R"({"isMaster":false,"peakDbfs":-3.5,"trackName":"Bass"})");
}

TEST(ChatModelToolResults, ListeningResultNeedsDurationAndSummaryButNotTheSoloedTrack) {
    json listen = json::parse(R"({"status":"ok","durationSeconds":8,"tracks":[{"trackName":"Bass","isMaster":false}],)"
                              R"("summary":"ok"})");
    EXPECT_TRUE(decodes<ListenResult>(listen));
    EXPECT_TRUE(decodes<AudioAnalysisToolResult>(listen));
    listen.erase("durationSeconds");
    EXPECT_FALSE(decodes<ListenResult>(listen));
    EXPECT_TRUE(decodes<AudioAnalysisToolResult>(listen));
    listen["tracks"][0].erase("isMaster");
    EXPECT_FALSE(decodes<AudioAnalysisToolResult>(listen));
}

}  // namespace
}  // namespace corvane
