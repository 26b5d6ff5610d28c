#include "app/route_answers.h"

#include <gtest/gtest.h>

#include <cmath>
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

TEST(RouteAnswers, FixedBodiesAreExact) {
    EXPECT_EQ(analysisAcceptedAnswer().body, R"({"ok":true})");
    EXPECT_EQ(analysisAcceptedAnswer().body.size(), 11u);
    EXPECT_EQ(notFoundAnswer().body, R"({"error":"Not found"})");
    EXPECT_EQ(notFoundAnswer().body.size(), 21u);
    EXPECT_EQ(notFoundAnswer().statusCode, 404);
    EXPECT_EQ(Json::parse(badRequestAnswer("no").body), (Json{{"error", "no"}}));
    EXPECT_EQ(badRequestAnswer("no").statusCode, 400);
}

// The written "/health" and "/context" bodies against what the generic answer writes for the same
// values: texts with every kind of escape (also "/" inside and across the writer's 8-byte runs),
// absent optional fields, odd numbers, and bytes that make the value unwritable.
TEST(RouteAnswers, HealthAndContextBodiesAreTheGenericAnswersByteForByte) {
    std::string controls;
    for (char c = 1; c < 0x20; ++c) controls += c;
    const std::string titles[] = {
        "Demo Song - Tracks",
        "",
        "a/b",
        "//////////////////",
        "Mix 1/2 \\ \"quoted\" /path/to/Project.logicx/Alternatives/000",
        controls + "\x7F tail/",
        "caf\xC3\xA9 \xE2\x82\xAC/\xF0\x9F\x91\x8D \xF4\x8F\xBF\xBF",
        std::string(37, 'a') + "/" + std::string(9, 'b') + "\"",
    };
    LogicContextSnapshot running;
    running.logicIsRunning = true;
    running.logicIsFrontmost = true;
    running.bundleIdentifier = "com.apple.logic10";
    running.processIdentifier = -4242;
    running.appName = "Logic Pro";
    for (const auto& title : titles) {
        WindowSummary window;
        window.title = title;
        window.frame = RectDTO{-0.0, 25.5, 1e308, 0.1};
        window.isFocused = !title.empty();
        running.windows.push_back(window);
    }
    running.focusedWindowTitle = titles[4];
    LogicContextSnapshot unwritable = running;
    unwritable.windows[1].title = "12345678\xC3\x28";
    LogicContextSnapshot odd;
    odd.windows.push_back(WindowSummary{"n", RectDTO{NAN, INFINITY, -INFINITY, 3}, false});
    odd.windows.push_back(WindowSummary{"w", RectDTO{999999999999999.0, -1e14, 1e15, -0.5}, true});
    odd.windows.push_back(WindowSummary{"v", RectDTO{-0.0, 4503599627370497.0, 1e300, -875}, true});

    for (const auto& logic : {LogicContextSnapshot{}, running, unwritable, odd}) {
        EXPECT_EQ(contextAnswer(logic).body, jsonAnswer(logic).body);
        for (const bool withCapture : {false, true}) {
            HealthResponse health;
            health.appName = "Corvane";
            health.appVersion = "0.1.2";
            health.serverPort = 65535;
            health.permissions = {true, false};
            health.logic = logic;
            if (withCapture)
                health.lastCapture = CaptureMetadata{"2026-12-07T23:01:02Z", CaptureMode::logicWindow,
                                                     "/Users/me/Library/Application Support/Corvane/a b/1.png", logic};
            const auto written = healthAnswer(health);
            EXPECT_EQ(written.body, jsonAnswer(health).body) << written.body;
            EXPECT_EQ(written.statusCode, 200);
            EXPECT_EQ(written.contentType, "application/json");
        }
    }
    EXPECT_EQ(contextAnswer(unwritable).body, "{}");
}

TEST(RouteAnswers, IntegerQueryValuesAreWholeDecimalTexts) {
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

TEST(RouteAnswers, SlotListsAndLookups) {
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
