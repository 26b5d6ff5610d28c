#include <gtest/gtest.h>

#include "transcript/theme.h"
#include "transcript/tool_cards.h"

namespace corvane {
namespace {

using S = ToolCallStatus;

ToolCallInfo call(const char* tool, S status, std::optional<std::string> summary = {},
                  std::optional<std::string> result = {}) {
    ToolCallInfo info;
    info.id = std::string(tool) + "-" + std::to_string(int(status));
    info.toolName = tool;
    info.status = status;
    info.summary = std::move(summary);
    info.resultJSON = std::move(result);
    return info;
}

TEST(ToolCallCards, AFailureIsRecoveredOnlyByALaterCompletedCallOfTheSameTool) {
    struct Case {
        std::vector<ToolCallInfo> calls;
        std::vector<bool> recovered;
    };
    const Case cases[] = {
        {{call("a", S::failed), call("a", S::completed)}, {true, false}},
        {{call("a", S::failed), call("a", S::failed)}, {false, false}},
        {{call("a", S::failed), call("a", S::failed), call("b", S::completed), call("a", S::completed)},
         {true, true, false, false}},
        {{call("a", S::completed), call("a", S::failed)}, {false, false}},
        {{call("a", S::failed), call("A", S::completed), call("a", S::running)}, {false, false, false}},
        {{}, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(ToolCallCards::recoveredFlags({"g", 0, c.calls}), c.recovered);
}

TEST(ToolCallCards, VisualChevronAndLook) {
    const std::string json = R"({"status":"ok"})";
    struct Case {
        ToolCallInfo info;
        bool hasVisual;
        bool canCollapse;
    };
    const Case cases[] = {
        {call("list_tracks", S::completed, {}, json), true, true},
        {call("show_visual", S::completed, "", json), true, true},
        {call("listen_to_playback", S::completed, {}, json), false, false},
        {call("listen_to_playback", S::completed, "Heard 3 tracks", json), false, true},
        {call("get_audio_analysis", S::failed, {}, json), false, false},
        {call("get_audio_analysis", S::completed, "", ""), false, false},
        {call("get_track_details", S::running, "", json), false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToolCallCards::hasVisual(c.info), c.hasVisual) << c.info.toolName;
        EXPECT_EQ(ToolCallCards::canCollapse(c.info), c.canCollapse) << c.info.toolName;
        EXPECT_FALSE(ToolCallCards::showsVisual(c.info, false));
    }
    EXPECT_TRUE(ToolCallCards::showsSummary(cases[3].info, true));
    EXPECT_FALSE(ToolCallCards::showsSummary(cases[3].info, false));

    auto recovered = ToolCardLook::forCall(call("a", S::failed), true, false);
    EXPECT_EQ(recovered.statusSymbolName, "arrow.triangle.2.circlepath");
    EXPECT_EQ(recovered.iconColor, diagram::white(0.3));
    EXPECT_EQ(recovered.summaryColor, diagram::white(0.35));
    EXPECT_EQ(recovered.chevronRotationDegrees, -90);
    auto failed = ToolCardLook::forCall(call("a", S::failed), false, true);
    EXPECT_EQ(failed.statusSymbolName, "xmark");
    EXPECT_EQ(failed.summaryColor, system_color::red.withOpacity(0.7));
    EXPECT_EQ(failed.chevronRotationDegrees, 0);
    EXPECT_EQ(ToolCardLook::forCall(call("a", S::running), false, true).status, ToolCardLook::Symbol::spinner);
    EXPECT_EQ(ToolCardLook::forCall(call("a", S::completed), false, true).summaryColor, CorvaneTheme::textSecondary);

    EXPECT_EQ(ToolCallCards::columnWidth(600), 576);
    EXPECT_EQ(ToolCallCards::columnWidth(1000), 720);
    EXPECT_EQ(ToolCallCards::columnWidth(10), 0);
}

}  // namespace
}  // namespace corvane
