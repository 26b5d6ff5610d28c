#include <gtest/gtest.h>

#include "model/model_samples.h"
#include "test_support/json_helpers.h"

#include "model/capture_models.h"

namespace corvane {
namespace {

using nlohmann::json;

using testing::captureJSON;
using testing::decodes;

TEST(CaptureModels, CaptureRoundTripsWhole) {
    auto capture = captureJSON().get<CaptureMetadata>();
    EXPECT_EQ(capture.mode, CaptureMode::display);
    EXPECT_EQ(capture.logicContext.processIdentifier, 412);
    EXPECT_EQ(capture.logicContext.windows.at(0).frame, (RectDTO{0, 25.5, 1440, 875}));
    EXPECT_EQ(json(capture), captureJSON());
}

TEST(CaptureModels, MissingOrMistypedValuesFailDecoding) {
    struct Case {
        const char* name;
        json document;
        bool expected;
    };
    using testing::without;
    const Case cases[] = {
        {"capture mode unavailable", captureJSON("unavailable"), true},
        {"capture mode in other case", captureJSON("Display"), false},
        {"capture without logicContext", without(captureJSON(), "logicContext"), false},
        {"capture without filePath", without(captureJSON(), "filePath"), true},
    };
    for (const auto& c : cases) EXPECT_EQ(decodes<CaptureMetadata>(c.document), c.expected) << c.name;
}

}  // namespace
}  // namespace corvane
