#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "standin_fixture.h"
#include "test_support/free_port.h"

namespace corvane::standin::testing {
namespace {

namespace ax = platform::ax;

TEST_F(StandinTest, LongPacingSleepsCostNoWallTimeButAdvanceVirtualTime) {
    world().setKnob("postWhileStopped", false);  // the plug-ins' real loopback posts take wall time
    const auto wallStart = std::chrono::steady_clock::now();
    const auto virtualStart = platform::clock().now();
    for (int i = 0; i < 40; ++i) platform::pause(30.0);  // twenty minutes of "listening"
    platform::clock().sleep(std::chrono::duration<double>(0.005));
    const auto wall = std::chrono::steady_clock::now() - wallStart;
    // Slept for real, the pauses would take their twenty minutes; a tenth of that is far above
    // what the busiest machine takes without sleeping.
    EXPECT_LT(wall, std::chrono::minutes(2));
    EXPECT_EQ(platform::clock().now() - virtualStart,
              std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::milliseconds(1200005)));
    EXPECT_NEAR(world().virtualSeconds(), 1200.005, 1e-9);
    platform::pause(-5);  // negative sleeps do not move time backwards
    EXPECT_NEAR(world().virtualSeconds(), 1200.005, 1e-9);
}

TEST_F(StandinTest, ClockStartsAtTheScenarioEpoch) {
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(platform::clock().now().time_since_epoch()).count(),
              1796225040);
    load(demoSongWith({{"clock", {{"epoch", 1700000000}}}}));
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(platform::clock().now().time_since_epoch()).count(),
              1700000000);
}

TEST_F(StandinTest, PlaybackAdvancesThePlayheadAtTheTempo) {
    world().mutateProject([](Project& p) { p.transport.cycleOn = false; });
    auto play = findInMain("Play");
    ASSERT_EQ(play->performAction(ax::kPress), platform::AXError::success);
    EXPECT_TRUE(world().project().transport.playing);
    platform::pause(2.0);  // one bar of 4/4 at 120
    EXPECT_EQ(world().project().transport.playhead(), (PlayheadPosition{2, 1, 1, 1}));
    platform::pause(0.75);  // a beat and a half
    EXPECT_EQ(world().project().transport.playhead(), (PlayheadPosition{2, 2, 3, 1}));
    auto bar = find(*findInMain("Playhead Position", "AXGroup", 8), "bar", "AXSlider");
    EXPECT_EQ(bar->number(ax::kValue), 2);
    const double thumbX = world().controlFrame("Playhead thumb")->x;
    EXPECT_DOUBLE_EQ(thumbX, world().controlFrame("Start Marker")->x + (1 + 1.5 / 4.0) * 20);

    findInMain("Stop")->performAction(ax::kPress);
    platform::pause(10);
    EXPECT_EQ(world().project().transport.playhead().bar, 2);
    findInMain("Go to Beginning")->performAction(ax::kPress);
    EXPECT_EQ(world().project().transport.playhead(), (PlayheadPosition{1, 1, 1, 1}));
}

TEST_F(StandinTest, PlaybackLoopsInTheCycleAndStopsAtTheProjectEnd) {
    world().mutateProject([](Project& p) {
        p.transport.setPlayhead({16, 4, 4, 1});  // just before the cycle end at bar 17
        p.transport.playing = true;
    });
    platform::pause(0.25);  // crosses bar 17 by an eighth note
    EXPECT_EQ(world().project().transport.playhead(), (PlayheadPosition{9, 1, 2, 1}));

    world().mutateProject([](Project& p) {
        p.transport.cycleOn = false;
        p.transport.setPlayhead({63, 1, 1, 1});
        p.transport.playing = true;
    });
    platform::pause(60);
    EXPECT_FALSE(world().project().transport.playing);
    EXPECT_EQ(world().project().transport.positionTicks, world().project().transport.endTicks());
}

TEST_F(StandinTest, RecordStartsPlaybackAndStopEndsBoth) {
    findInMain("Record")->performAction(ax::kPress);
    auto t = world().project().transport;
    EXPECT_TRUE(t.recording);
    EXPECT_TRUE(t.playing);
    findInMain("Play")->performAction(ax::kPress);  // already playing: nothing changes
    EXPECT_TRUE(world().project().transport.playing);
    findInMain("Stop")->performAction(ax::kPress);
    t = world().project().transport;
    EXPECT_FALSE(t.recording);
    EXPECT_FALSE(t.playing);
}

TEST_F(StandinTest, ConcurrentSleepersReadersAndWritersStayConsistent) {
    std::atomic<bool> failed{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                if (t == 0) platform::pause(0.01);
                if (t == 1) {
                    auto fader = find(*strip(), "volume fader", "AXSlider", 10);
                    if (fader) fader->setAttributeValue(ax::kValue, std::int64_t{i % 256});
                }
                if (t == 2) pressKey(i % 2 ? 125 : 126);
                if (t == 3) {
                    auto a = platform::accessibility().applicationElement(logicPid());
                    if (!a.string(ax::kRole)) failed = true;
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_FALSE(failed);
    EXPECT_GE(world().virtualSeconds(), 2.0);
}

// The running programs' world: a sleep lasts as long as it says, and the transport and the events
// that fall due move on in real time even while nobody sleeps on the clock.
TEST_F(StandinTest, OnTheWallClockSleepsTakeRealTimeAndTheWorldMovesWithoutASleeper) {
    using namespace std::chrono_literals;
    using Steady = std::chrono::steady_clock;
    World::Options options;
    options.clock = ClockMode::wall;
    load(demoSong(), options);

    auto started = Steady::now();
    platform::pause(0.3);
    EXPECT_GE(Steady::now() - started, 300ms);
    EXPECT_GE(world().virtualSeconds(), 0.3);

    world().setKnob("frontmost", false);
    world().setKnob("activation", "delayed 0.2");
    platform::workspace().activate(logicPid(), platform::activation::kAllWindows);
    EXPECT_NE(world().frontmostPid(), logicPid());
    world().mutateProject([](Project& p) {
        p.transport.cycleOn = false;
        p.transport.setPlayhead({9, 1, 1, 1});
        p.transport.playing = true;
    });
    // The real time is taken first, so that a pause between the two readings cannot make the
    // song seem to play faster than time passed. A reading through a change catches the world up
    // to the wall clock but for the frame it moves in, so the song may seem ahead by one frame.
    started = Steady::now();
    double from = 0;
    world().mutateProject([&](Project& p) { from = p.transport.positionTicks; });
    std::this_thread::sleep_for(600ms);
    const auto t = world().project().transport;
    const double played = (t.positionTicks - from) / t.ticksPerSecond();
    constexpr double kFrame = 0.05;
    EXPECT_GE(played, 0.45);
    EXPECT_LE(played, std::chrono::duration<double>(Steady::now() - started).count() + kFrame);
    EXPECT_EQ(world().frontmostPid(), logicPid());
}

// A server that takes the plug-ins' port and never answers holds each post for its time-out (10 s);
// the program's pauses must not wait for it. The pauses take 1.5 s in all, so no post has ended
// after any of them unless that pause waited for one.
TEST_F(StandinTest, OnTheWallClockAPauseNeverWaitsForAPostTheServerLeavesUnanswered) {
    using namespace std::chrono_literals;
    const corvane::testing::TakenPort holder;
    World::Options options;
    options.clock = ClockMode::wall;
    load(demoSong(), options);
    world().updateFaults([&](Faults& faults) { faults.analysisPort = holder.port(); });

    for (int i = 0; i < 15; ++i) {  // three rounds of posts fall due
        platform::pause(0.1);
        ASSERT_EQ(world().events(EventKind::analysisPost).size(), 0u) << "pause " << i << " waited for a post";
    }
}

}  // namespace
}  // namespace corvane::standin::testing
