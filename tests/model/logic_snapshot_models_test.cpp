#include <gtest/gtest.h>

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
    };
    for (const auto& c : cases) EXPECT_EQ(c.decode(c.document), c.expected) << c.name;
}

}  // namespace
}  // namespace corvane
