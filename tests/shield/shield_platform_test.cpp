#include <gtest/gtest.h>

#include "platform/manual_main_queue.h"
#include "platform/platform.h"
#include "platform/standin/standin_fixture.h"
#include "platform/standin/world.h"
#include "shield/shield_platform.h"
#include "test_support/free_port.h"
#include "test_support/manual_clock.h"

namespace corvane {
namespace {

using platform::Rect;

TEST(ShieldGeometry, AccessibilityFramesFlipAboutThePrimaryScreen) {
    EXPECT_EQ(shield::flipped({100, 50, 800, 600}, 1080), (Rect{100, 430, 800, 600}));
    EXPECT_EQ(shield::flipped(shield::flipped({7, 9, 30, 40}, 900), 900), (Rect{7, 9, 30, 40}));

    const Rect primary{0, 0, 1920, 1080}, side{1920, 0.5, 1280, 800}, other{-1280, 100, 1280, 1024};
    const struct {
        std::vector<Rect> screens;
        std::optional<Rect> main;
        double height;
    } cases[] = {
        {{side, primary}, side, 1080},  // the screen at (0, 0), wherever it is listed
        {{side, other}, other, 1024},   // none at (0, 0): the main screen
        {{side, other}, std::nullopt, 800},
        {{}, std::nullopt, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(shield::primaryScreenHeight(c.screens, c.main), c.height);
}

TEST(ShieldGeometry, TheLabelIsAtMost700WideWithTheSpinnerBelow) {
    const struct { double width, labelWidth; } cases[] = {{1000, 700}, {740, 700}, {600, 560}, {100, 60}};
    for (const auto& c : cases) {
        const auto layout = shield::layoutLabels(c.width, 400);
        EXPECT_EQ(layout.label, (Rect{(c.width - c.labelWidth) / 2, 180, c.labelWidth, 40})) << c.width;
        EXPECT_EQ(layout.spinner, (Rect{(c.width - 20) / 2, 152, 20, 20}));
        EXPECT_EQ(layout.label.y - layout.spinner.maxY(), 8);
    }
}

class ShieldOnTheStandin : public ::testing::Test {
protected:
    testing::ManualClock clock;
    platform::ManualMainQueue main{&clock};
    standin::World world{standin::testing::demoSong(), standin::WorldOptions{&main}};
    platform::ScopedServices services{world.services()};
    testing::ClosedPort analysisPort;
    void SetUp() override {
        world.updateFaults([this](standin::Faults& faults) { faults.analysisPort = analysisPort.port(); });
    }
};

TEST_F(ShieldOnTheStandin, PlacesTheWindowItIsGivenAndFollowsWhatIsInFront) {
    const auto ax = world.windowFrame("main");
    ASSERT_TRUE(ax);
    // Which window is the main one is the caller's rule; here Logic Pro's only window.
    const shield::FindMainWindow firstWindow = [this]() -> std::optional<platform::AXElement> {
        const auto windows =
            platform::accessibility().applicationElement(world.logicPid()).elements(platform::ax::kWindows);
        if (!windows || windows->empty()) return std::nullopt;
        return windows->front();
    };
    EXPECT_EQ(shield::logicMainWindowAXFrame(firstWindow), *ax);
    EXPECT_EQ(shield::logicMainWindowAXFrame([] { return std::optional<platform::AXElement>(); }), std::nullopt);

    const shield::Screens screens{[] {
                                      return std::vector<Rect>{{0, 0, 1440, 900}};
                                  },
                                  [] {
                                      return std::optional<Rect>(Rect{0, 0, 1440, 900});
                                  }};
    auto environment = shield::platformEnvironment(screens, &main, firstWindow);
    EXPECT_EQ(environment.mainScreenFrame(), (Rect{0, 0, 1440, 900}));
    EXPECT_EQ(environment.logicMainWindowFrame(), shield::flipped(*ax, 900));
    // Logic Pro's screen shown at half size, 40 points in, on a desktop 1080 high.
    const shield::Screens desktop{[] {
                                      return std::vector<Rect>{{0, 0, 1920, 1080}};
                                  },
                                  [] {
                                      return std::optional<Rect>(Rect{0, 0, 1920, 1080});
                                  }};
    auto shown = shield::platformEnvironment(desktop, &main, firstWindow, [](Rect r) {
        return std::optional<Rect>(Rect{40 + r.x / 2, 40 + r.y / 2, r.width / 2, r.height / 2});
    });
    EXPECT_EQ(shown.logicMainWindowFrame(),
              shield::flipped({40 + ax->x / 2, 40 + ax->y / 2, ax->width / 2, ax->height / 2}, 1080));

    int activations = 0;
    auto observer = environment.observeActivation([&] { ++activations; });

    world.setFrontmost(world.selfPid());
    main.drain();
    EXPECT_FALSE(environment.logicIsFrontmost());
    // Shown in a window beside Corvane's, Logic Pro stays in view whichever window is active; not
    // while that window is hidden.
    EXPECT_TRUE(shown.logicIsFrontmost());
    EXPECT_FALSE(shield::platformEnvironment(desktop, &main, firstWindow, [](Rect) {
                     return std::optional<Rect>();
                 }).logicIsFrontmost());
    world.setFrontmost(world.logicPid());
    main.drain();
    EXPECT_TRUE(environment.logicIsFrontmost());
    EXPECT_EQ(activations, 1);
    observer.reset();
    world.setFrontmost(world.selfPid());
    world.setFrontmost(world.logicPid());
    main.drain();
    EXPECT_EQ(activations, 1);

    world.quitLogic();
    EXPECT_EQ(environment.logicMainWindowFrame(), std::nullopt);
    EXPECT_EQ(shown.logicMainWindowFrame(), std::nullopt);
    EXPECT_FALSE(shown.logicIsFrontmost());
}

}  // namespace
}  // namespace corvane
