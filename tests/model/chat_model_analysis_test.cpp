#include <gtest/gtest.h>

#include "test_support/json_helpers.h"

#include "model/chat_model_analysis.h"

namespace corvane {
namespace {

using nlohmann::json;

using testing::decodes;

TEST(ChatModelAnalysis, EveryMeasurementIsRequiredAndIntegersStayIntegers) {
    AudioAnalysisSummary summary;
    summary.source = "Vocals";
    summary.timeSigNumerator = 4;
    summary.shortTermLufs = -14.2;
    const json full = summary;
    ASSERT_EQ(full.size(), 38u);
    EXPECT_EQ(full.get<AudioAnalysisSummary>(), summary);
    for (const auto& [key, value] : full.items()) {
        json missing = full;
        missing.erase(key);
        EXPECT_FALSE(decodes<AudioAnalysisSummary>(missing)) << key;
    }
    json fractionalBar = full;
    fractionalBar["captureStartBar"] = 3.5;
    EXPECT_FALSE(decodes<AudioAnalysisSummary>(fractionalBar));
    json flagAsNumber = full;
    flagAsNumber["hasTimelineInfo"] = 1;
    EXPECT_FALSE(decodes<AudioAnalysisSummary>(flagAsNumber));

    const json bar = BarAnalysisEntry{.bar = 3,
                                      .peakDbfs = -1,
                                      .rmsDbfs = -12,
                                      .crestDb = 11,
                                      .lufs = -14,
                                      .subBandRatio = 0.1,
                                      .bassBandRatio = 0.2,
                                      .lowMidBandRatio = 0.3,
                                      .highMidBandRatio = 0.2,
                                      .airBandRatio = 0.1,
                                      .spectralTiltDb = -3,
                                      .stereoWidth = 0.4,
                                      .phaseCorrelation = 0.9};
    EXPECT_EQ(bar.size(), 13u);
    json halfBar = bar;
    halfBar["bar"] = 3.5;
    EXPECT_FALSE(decodes<BarAnalysisEntry>(halfBar));
    json wholeBar = bar;
    wholeBar["bar"] = 3.0;
    EXPECT_EQ(wholeBar.get<BarAnalysisEntry>().bar, 3);
}

}  // namespace
}  // namespace corvane
