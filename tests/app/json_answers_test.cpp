#include "app/json_answers.h"

#include <gtest/gtest.h>

#include <string>

namespace corvane::app {
namespace {

using Json = nlohmann::json;

LogicInspector::InsertSlot slot(std::string name, bool bypassed = false) {
    LogicInspector::InsertSlot s;
    s.name = std::move(name);
    s.isBypassed = bypassed;
    return s;
}

TEST(JsonAnswers, FixedBodiesAreExact) {
    EXPECT_EQ(analysisAcceptedAnswer().body, R"({"ok":true})");
    EXPECT_EQ(analysisAcceptedAnswer().body.size(), 11u);
    EXPECT_EQ(notFoundAnswer().body, R"({"error":"Not found"})");
    EXPECT_EQ(notFoundAnswer().body.size(), 21u);
    EXPECT_EQ(notFoundAnswer().statusCode, 404);
    EXPECT_EQ(Json::parse(badRequestAnswer("no").body), (Json{{"error", "no"}}));
    EXPECT_EQ(badRequestAnswer("no").statusCode, 400);
}

TEST(JsonAnswers, IntegerQueryValuesAreWholeDecimalTexts) {
    const struct {
        std::string text;
        std::optional<std::int64_t> value;
    } cases[] = {
        {"4", 4},
        {"+4", 4},
        {"-1", -1},
        {"007", 7},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", std::nullopt},
        {" 4", std::nullopt},
        {"4 ", std::nullopt},
        {"4.0", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"+-4", std::nullopt},
        {"--4", std::nullopt},
        {"0x10", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parseIntegerQuery(c.text), c.value) << '"' << c.text << '"';
}

TEST(JsonAnswers, SlotListsAndLookups) {
    const std::vector<LogicInspector::InsertSlot> slots{slot("Channel EQ"), slot("Compressor", true)};
    EXPECT_EQ(numberedSlotList(slots), "[0] Channel EQ, [1] Compressor");
    EXPECT_EQ(numberedSlotList({}), "");
    EXPECT_EQ(slotIndexByName(slots, "channel eq"), 0u);
    EXPECT_EQ(slotIndexByName(slots, "COMPRESSOR"), 1u);
    EXPECT_EQ(slotIndexByName(slots, "Channel"), std::nullopt);
    EXPECT_EQ(slotRow(slots[1]), (Json{{"name", "Compressor"}, {"bypassed", true}}));
    EXPECT_EQ(slotNameList(slots), (Json{"Channel EQ", "Compressor"}));

    ParameterEntry entry;
    entry.def.label = "Threshold";
    entry.def.type = ParameterType::selector;
    EXPECT_EQ(parameterRow(entry),
              (Json{{"label", "Threshold"}, {"type", "selector"}, {"rawValue", ""}, {"display", ""}}));
}

}  // namespace
}  // namespace corvane::app
