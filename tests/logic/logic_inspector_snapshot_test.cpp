#include <gtest/gtest.h>

#include "logic/logic_inspector.h"
#include "platform/standin/standin_fixture.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

class LogicInspectorSnapshot : public standin::testing::StandinTest {
protected:
    testing::TempHome home;
    LogicInspector inspector;
};

TEST_F(LogicInspectorSnapshot, ContextSnapshotReadsWindowsOnlyWhenAsked) {
    world().setFrontmost(logicPid());
    auto full = inspector.snapshot(true);
    EXPECT_TRUE(full.logicIsRunning);
    EXPECT_TRUE(full.logicIsFrontmost);
    EXPECT_EQ(full.focusedWindowTitle, "Demo Song - Tracks");
    ASSERT_EQ(full.windows.size(), 1u);
    EXPECT_TRUE(full.windows[0].isFocused);
    EXPECT_EQ(full.windows[0].frame.width, 1440);

    auto bare = inspector.snapshot(false);
    EXPECT_TRUE(bare.windows.empty());
    EXPECT_FALSE(bare.focusedWindowTitle);
    EXPECT_EQ(bare.processIdentifier, 4242);

    world().quitLogic();
    EXPECT_EQ(
        nlohmann::json(inspector.snapshot(true)),
        (nlohmann::json{{"logicIsRunning", false}, {"logicIsFrontmost", false}, {"windows", nlohmann::json::array()}}));
    world().launchLogic(false);
    world().setKnob("accessibilityTrusted", false);
    EXPECT_TRUE(inspector.snapshot(true).windows.empty());
    EXPECT_FALSE(PermissionService().currentSnapshot().accessibilityTrusted);
}

}  // namespace
}  // namespace corvane
