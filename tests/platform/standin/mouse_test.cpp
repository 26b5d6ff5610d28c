#include <gtest/gtest.h>

#include "standin_fixture.h"

namespace corvane::standin::testing {
namespace {

using platform::MouseEventType;
namespace ax = platform::ax;

TEST_F(StandinTest, HIDClickWhileLogicIsInTheBackgroundIsStrayAndChangesNothing) {
    const auto header = world().headerFrame("Bass");
    ASSERT_TRUE(header);
    clickAtHID(World::center(*header));
    EXPECT_EQ(selectedName(), "Kick");
    auto mouse = world().events(EventKind::mouse);
    ASSERT_EQ(mouse.size(), 2u);
    EXPECT_EQ(mouse[0].route, "stray");
    EXPECT_EQ(mouse[1].route, "stray");

    world().setFrontmost(logicPid());
    clickAtHID(World::center(*header));
    EXPECT_EQ(selectedName(), "Bass");
    EXPECT_EQ(world().events(EventKind::mouse).back().outcome, "click");
    EXPECT_EQ(world().events(EventKind::mouse).back().route, "hid");

    world().quitLogic();
    clickAtHID(World::center(*header));
    EXPECT_EQ(world().events(EventKind::mouse).back().route, "stray");
}

TEST_F(StandinTest, HIDClickOnAProgramWindowAboveLogicIsStrayButTheShieldLetsItThrough) {
    world().setFrontmost(logicPid());
    const auto header = *world().headerFrame("Guitar");
    const auto shield = world().addWindow(WindowSpec::shield(*world().windowFrame()));
    clickAtHID(World::center(header));
    EXPECT_EQ(selectedName(), "Guitar");
    world().removeWindow(shield);

    pressKey(126);
    WindowSpec chat{0, "Corvane", {header.x - 10, header.y - 10, 400, 300}};
    chat.level = WindowSpec::Level::floating;
    world().addWindow(chat);
    clickAtHID(World::center(header));
    EXPECT_EQ(selectedName(), "Keys");
    EXPECT_EQ(world().events(EventKind::mouse).back().route, "stray");
    EXPECT_EQ(world().events(EventKind::mouse).back().pid, world().selfPid());
}

TEST_F(StandinTest, ProcessClicksReachLogicWhateverIsFrontmost) {
    clickInProcess(World::center(*world().headerControlFrame("Bass", "mute")));
    EXPECT_TRUE(world().project().track("Bass")->muted);
    EXPECT_EQ(selectedName(), "Kick");  // the toggle, not the header, took the click
    clickInProcess(World::center(*world().headerControlFrame("Bass", "track name")));
    EXPECT_EQ(selectedName(), "Bass");  // an inert field passes the click to its header
    EXPECT_EQ(world().cursor(), (platform::Point{720, 450}));
}

// Only a click on a header itself extends the selection; Shift on a header's switch is a plain click.
TEST_F(StandinTest, AShiftClickOnAHeaderAddsItsTrackToTheSelection) {
    auto shiftClick = [&](platform::Point p) {
        for (auto type : {MouseEventType::moved, MouseEventType::leftDown, MouseEventType::leftUp})
            platform::input().postMouseToProcess(logicPid(), {type, p, platform::modifier::kShift});
    };
    auto selected = [&] {
        std::vector<std::string> names;
        for (int id : world().project().selectedTrackIds()) names.push_back(world().project().trackById(id)->name);
        return names;
    };
    shiftClick(World::center(*world().headerFrame("Bass")));
    shiftClick(World::center(*world().headerControlFrame("Guitar", "track name")));
    EXPECT_EQ(selected(), (std::vector<std::string>{"Kick", "Bass", "Guitar"}));
    EXPECT_EQ(world().project().stripTrackId, world().project().track("Kick")->id);  // the strip stays

    shiftClick(World::center(*world().headerControlFrame("Lead Vox", "mute")));
    EXPECT_TRUE(world().project().track("Lead Vox")->muted);
    EXPECT_EQ(selected(), (std::vector<std::string>{"Kick", "Bass", "Guitar"}));

    clickInProcess(World::center(*world().headerFrame("Bass")));
    EXPECT_EQ(selected(), (std::vector<std::string>{"Bass"}));
}

TEST_F(StandinTest, SlotClickAreasSplitIntoBypassOpenAndList) {
    const auto slot = *world().slotFrame(0, 0);  // Kick: Channel EQ
    EXPECT_EQ(slot.width, 78);
    EXPECT_EQ(slot.height, 20);
    clickInProcess({slot.x + 5, slot.y + 10});
    EXPECT_TRUE(world().project().track("Kick")->strip.inserts[0].bypassed);
    clickInProcess({slot.x + 5, slot.y + 10});
    EXPECT_FALSE(world().project().track("Kick")->strip.inserts[0].bypassed);

    clickInProcess({slot.x + 40, slot.y + 10});
    auto last = world().events(EventKind::mouse).back();
    EXPECT_EQ(last.element, "AXButton \"open\"");
    EXPECT_EQ(world().ui().pluginWindows.size(), 1u);  // "open" opened the window
    clickInProcess({slot.x + 72, slot.y + 10});
    EXPECT_EQ(world().events(EventKind::mouse).back().element, "AXButton \"list\"");
    EXPECT_EQ(world().ui().openMenu, "slot");
    // With the slot menu open, a click outside it only closes the menu.
    clickInProcess({slot.x + 5, slot.y + 10});
    EXPECT_EQ(world().ui().openMenu, "");
    EXPECT_FALSE(world().project().track("Kick")->strip.inserts[0].bypassed);

    // The 2 pt bar above slot 1 is hit only within its own 2 pt.
    const auto bar = *world().insertBarFrame(0, 1);
    EXPECT_EQ(bar.height, 2);
    clickInProcess({bar.x + 40, bar.y + 1});
    EXPECT_EQ(world().events(EventKind::mouse).back().element, "AXButton \"insert bar\"");
    EXPECT_EQ(world().ui().openMenu, "insert");
    pressKey(53);
    clickInProcess({bar.x + 40, bar.y + 4});
    EXPECT_EQ(world().events(EventKind::mouse).back().element, "AXButton \"open\"");
    clickInProcess({bar.x + 40, bar.y - 2});
    EXPECT_EQ(world().events(EventKind::mouse).back().element, "AXButton \"open\"");
}

TEST_F(StandinTest, DownAndUpMoreThanThreePointsApartIsNoClick) {
    const auto mute = *world().stripControlFrame(0, "mute");
    auto& input = platform::input();
    const platform::Point p = World::center(mute);
    input.postMouseToProcess(logicPid(), {MouseEventType::leftDown, p});
    input.postMouseToProcess(logicPid(), {MouseEventType::leftDragged, {p.x + 2, p.y + 2}});
    input.postMouseToProcess(logicPid(), {MouseEventType::leftUp, {p.x + 2, p.y + 2}});
    EXPECT_TRUE(world().project().track("Kick")->muted);
    input.postMouseToProcess(logicPid(), {MouseEventType::leftDown, p});
    input.postMouseToProcess(logicPid(), {MouseEventType::leftDragged, {p.x + 8, p.y}});
    input.postMouseToProcess(logicPid(), {MouseEventType::leftUp, p});
    EXPECT_TRUE(world().project().track("Kick")->muted);
}

TEST_F(StandinTest, TransportClickUsesTheLayoutTableAndTheHIDRoute) {
    world().setFrontmost(logicPid());
    clickAtHID(World::center(*world().controlFrame("Play")));
    EXPECT_TRUE(world().project().transport.playing);
    EXPECT_EQ(findInMain("Play")->number(ax::kValue), 1);
}

}  // namespace
}  // namespace corvane::standin::testing
