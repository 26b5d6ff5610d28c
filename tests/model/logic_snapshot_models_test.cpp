#include <gtest/gtest.h>

#include <limits>

#include "model/model_samples.h"
#include "test_support/json_helpers.h"

#include "model/logic_snapshot_models.h"

namespace corvane {
namespace {

using nlohmann::json;

using testing::captureJSON;
using testing::decodes;

TEST(LogicSnapshotModels, ClosedLogicIsWrittenWithoutAnyOptionalKey) {
    EXPECT_EQ(json(LogicContextSnapshot{}).dump(), R"({"logicIsFrontmost":false,"logicIsRunning":false,"windows":[]})");
    EXPECT_EQ(json(LogicContextSnapshot{}).get<LogicContextSnapshot>(), LogicContextSnapshot{});
}

// Strict decoding: what the file or a request holds must never be half-read with guesses.
TEST(LogicSnapshotModels, MissingOrMistypedValuesFailDecoding) {
    struct Case {
        const char* name;
        json document;
        bool (*decode)(const json&);
        bool expected;
    };
    using testing::with;
    using testing::without;
    json window = captureJSON()["logicContext"]["windows"][0];
    json context = captureJSON()["logicContext"];
    const Case cases[] = {
        {"window without isFocused", without(window, "isFocused"), decodes<WindowSummary>, false},
        {"frame coordinate as text", with(window, "frame", {{"x", "0"}, {"y", 0}, {"width", 1}, {"height", 1}}),
         decodes<WindowSummary>, false},
        {"boolean given as number", with(window, "isFocused", 1), decodes<WindowSummary>, false},
        {"number given as boolean", with(window, "frame", {{"x", true}, {"y", 0}, {"width", 1}, {"height", 1}}),
         decodes<WindowSummary>, false},
        {"pid with a fraction", with(context, "processIdentifier", 3.5), decodes<LogicContextSnapshot>, false},
        {"pid beyond 32 bits", with(context, "processIdentifier", 4294967296LL), decodes<LogicContextSnapshot>, false},
        {"pid null reads as absent", with(context, "processIdentifier", nullptr), decodes<LogicContextSnapshot>, true},
        {"unknown keys are ignored", with(context, "extra", "x"), decodes<LogicContextSnapshot>, true},
        {"frame without a coordinate", with(window, "frame", {{"y", 0}, {"width", 1}, {"height", 1}}),
         decodes<WindowSummary>, false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.decode(c.document), c.expected) << c.name;
}

// A frame Logic Pro reported as NaN or infinite must still read back from the store file: it is
// written as 0, and a null that older versions wrote there reads as 0.
TEST(LogicSnapshotModels, NonFiniteFrameNumbersAreWrittenAndReadAsZero) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const RectDTO hostile{std::numeric_limits<double>::quiet_NaN(), inf, -inf, 2.5};
    EXPECT_EQ(json(hostile).dump(), R"({"height":2.5,"width":0.0,"x":0.0,"y":0.0})");
    EXPECT_EQ(json::parse(json(hostile).dump()).get<RectDTO>(), (RectDTO{0, 0, 0, 2.5}));
    EXPECT_EQ(json::parse(R"({"x":null,"y":null,"width":null,"height":7})").get<RectDTO>(), (RectDTO{0, 0, 0, 7}));
}

}  // namespace
}  // namespace corvane
