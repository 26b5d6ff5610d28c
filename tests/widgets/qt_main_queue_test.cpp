#include "widgets/qt_main_queue.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "widget_events.h"
#include "widget_pixels.h"

namespace corvane {
namespace {

using corvane::testing::pumpUntil;

TEST(QtMainQueue, WorkFromOtherThreadsRunsOnTheUIThreadInOrder) {
    testing::ensureApplication();
    QtMainQueue queue;
    EXPECT_TRUE(queue.isMainThread());
    std::vector<int> order;
    std::atomic<bool> allOnMain{true};
    std::thread poster([&] {
        EXPECT_FALSE(queue.isMainThread());
        for (int i = 0; i < 50; ++i)
            queue.async([&, i] {
                allOnMain = allOnMain && queue.isMainThread();
                order.push_back(i);
            });
    });
    poster.join();
    ASSERT_TRUE(pumpUntil([&] { return order.size() == 50; }));
    EXPECT_TRUE(allOnMain);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
}

TEST(QtMainQueue, SyncWaitsForTheUIThreadAndRunsAtOnceOnIt) {
    testing::ensureApplication();
    QtMainQueue queue;
    int ranHere = 0;
    queue.sync([&] { ++ranHere; });
    EXPECT_EQ(ranHere, 1);
    std::atomic<bool> done{false};
    bool onMain = false;
    std::thread caller([&] {
        queue.sync([&] { onMain = queue.isMainThread(); });
        done = true;
    });
    ASSERT_TRUE(pumpUntil([&] { return done.load(); }));
    caller.join();
    EXPECT_TRUE(onMain);
}

// The caller of sync must not stay blocked for good when the queue goes away before the UI
// thread got to its work.
TEST(QtMainQueue, SyncReturnsWhenTheQueueGoesAwayWithItsWorkUnrun) {
    testing::ensureApplication();
    QCoreApplication::sendPostedEvents();
    // Swallows the queue's event, so that the work stays posted. The event itself is not read:
    // it was made on the posting thread.
    struct HoldQueuedCalls : QObject {
        bool held = false;
        bool eventFilter(QObject* receiver, QEvent*) override {
            if (receiver->objectName() != "Corvane.MainQueue") return false;
            held = true;
            return true;
        }
    } hold;
    QCoreApplication::instance()->installEventFilter(&hold);
    auto queue = std::make_unique<QtMainQueue>();
    std::atomic<bool> ran{false};
    std::atomic<bool> returned{false};
    std::thread caller([&ran, &returned, raw = queue.get()] {
        raw->sync([&] { ran = true; });
        returned = true;
    });
    ASSERT_TRUE(pumpUntil([&] { return hold.held; }));
    QCoreApplication::instance()->removeEventFilter(&hold);
    queue.reset();
    EXPECT_TRUE(pumpUntil([&] { return returned.load(); }));
    caller.join();
    EXPECT_FALSE(ran);
}

TEST(QtMainQueue, DroppingATimersHandleCancelsIt) {
    testing::ensureApplication();
    QtMainQueue queue;
    int kept = 0;
    int dropped = 0;
    auto keep = queue.schedule(std::chrono::duration<double>(0), true, [&] { ++kept; });
    auto drop = queue.schedule(std::chrono::duration<double>(0), false, [&] { ++dropped; });
    drop.reset();
    ASSERT_TRUE(pumpUntil([&] { return kept >= 3; }));  // repeats
    EXPECT_EQ(dropped, 0);
    keep.reset();
    const int after = kept;
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    EXPECT_EQ(kept, after);
}

}  // namespace
}  // namespace corvane
