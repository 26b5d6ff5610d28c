// Kept answers and batched reads on the simulated Logic Pro: a batch of one element's attributes
// answers as the single reads would and costs one round trip, a list of children with attributes
// costs what the host charges for it (the list, then one per child), and nothing kept outlives a
// change or its scope.

#include <gtest/gtest.h>

#include <thread>

#include "standin_fixture.h"
#include "test_support/counting_accessibility.h"

namespace corvane::standin::testing {
namespace {

using platform::AXError;
using platform::AXReadScope;
namespace ax = platform::ax;

class AXReadsTest : public StandinTest {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        counting_ = std::make_unique<corvane::testing::CountingAccessibility>(world().accessibility(), calls_);
        services_ = world().services();
        services_.accessibility = counting_.get();
        counted_ = std::make_unique<platform::ScopedServices>(services_);
    }
    void TearDown() override { counted_.reset(); }

    // The strip's volume fader, found through counting handles.
    platform::AXElement fader() {
        auto w = mainWindow();
        EXPECT_TRUE(w);
        auto f = find(*w, "volume fader", "AXSlider");
        EXPECT_TRUE(f);
        return *f;
    }
    long tripsFor(const std::function<void()>& reads) {
        const long before = calls_.load();
        reads();
        return calls_.load() - before;
    }

    std::atomic<long> calls_{0};
    std::unique_ptr<corvane::testing::CountingAccessibility> counting_;
    platform::Services services_;
    std::unique_ptr<platform::ScopedServices> counted_;
};

TEST_F(AXReadsTest, BatchesAnswerAsSingleReadsAndCostWhatTheHostCharges) {
    auto w = *mainWindow();
    const std::vector<std::string> names{ax::kRole, ax::kTitle, ax::kValue, ax::kChildren, "AXNoSuchThing"};
    std::vector<platform::AXRead> batch;
    EXPECT_EQ(tripsFor([&] { ASSERT_EQ(w.impl()->copyMultipleAttributeValues(names, batch), AXError::success); }), 1);
    ASSERT_EQ(batch.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        platform::AXValue single;
        EXPECT_EQ(batch[i].error, w.copyAttributeValue(names[i], single)) << names[i];
        if (batch[i].error == AXError::success) {
            EXPECT_EQ(batch[i].value.index(), single.index()) << names[i];
        }
    }
    EXPECT_EQ(std::get<std::string>(batch[1].value), "Demo Song - Tracks");

    std::vector<platform::AXChildRead> children;
    const long trips = tripsFor([&] {
        ASSERT_EQ(w.impl()->copyChildrenWithAttributeValues({ax::kDescription, ax::kRole}, children),
                  AXError::success);
    });
    const auto listed = w.children();
    ASSERT_GT(listed.size(), 1u);
    EXPECT_EQ(trips, 1 + static_cast<long>(listed.size()));
    ASSERT_EQ(children.size(), listed.size());
    for (std::size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(children[i].element, listed[i]);
        ASSERT_EQ(children[i].values.size(), 2u);
        EXPECT_EQ(std::get<std::string>(children[i].values[1].value), listed[i].string(ax::kRole));
    }
}

TEST_F(AXReadsTest, AnswersAreKeptWithinAScopeUntilAnythingChanges) {
    auto f = fader();
    auto readTwice = [&] {
        return tripsFor([&] {
            f.string(ax::kDescription);
            f.string(ax::kDescription);
        });
    };
    EXPECT_EQ(readTwice(), 2);  // no scope: every read goes to Logic Pro
    AXReadScope scope;
    EXPECT_EQ(readTwice(), 1);
    EXPECT_EQ(readTwice(), 0);

    const std::vector<std::pair<const char*, std::function<void()>>> changes{
        {"pause", [] { platform::pause(0.01); }},
        {"key",
         [&] {
             platform::input().postKeyToProcess(logicPid(), platform::KeyEvent{0x7D, true, 0, {}});
         }},
        {"click",
         [] {
             platform::input().postMouseAtHIDTap({platform::MouseEventType::moved, {1, 1}});
         }},
        {"warp",
         [] {
             platform::input().warpCursor({2, 2});
         }},
        {"activation", [&] { platform::workspace().activate(logicPid(), 1); }},
        {"action", [&] { f.performAction(ax::kIncrement); }},
        {"write", [&] { f.setAttributeValue(ax::kValue, std::int64_t{100}); }},
    };
    for (const auto& [name, change] : changes) {
        change();
        EXPECT_EQ(readTwice(), 1) << name;
    }
}

TEST_F(AXReadsTest, AKeptValueIsNeverOlderThanTheLastWrite) {
    auto f = fader();
    AXReadScope scope;
    ASSERT_EQ(f.setAttributeValue(ax::kValue, std::int64_t{120}), AXError::success);
    EXPECT_EQ(f.number(ax::kValue), 120);
    ASSERT_EQ(f.setAttributeValue(ax::kValue, std::int64_t{140}), AXError::success);
    EXPECT_EQ(f.number(ax::kValue), 140);
}

TEST_F(AXReadsTest, PrefetchedChildrenAnswerLaterReadsAndNothingOutlivesTheScope) {
    auto w = *mainWindow();
    const long listed = static_cast<long>(w.children().size());
    {
        AXReadScope scope;
        EXPECT_EQ(tripsFor([&] { w.prefetchChildren({ax::kDescription, ax::kRole}); }), 1 + listed);
        EXPECT_EQ(tripsFor([&] {
                      for (const auto& c : w.children()) {
                          c.string(ax::kDescription);
                          c.string(ax::kRole);
                      }
                  }),
                  0);
        EXPECT_EQ(tripsFor([&] { w.prefetchChildren({ax::kDescription}); }), 0);
    }
    EXPECT_EQ(tripsFor([&] { w.children(); }), 1);
}

TEST_F(AXReadsTest, ScopesAreOwnedByTheirThreadButAChangeAnywhereEndsThem) {
    auto f = fader();
    AXReadScope scope;
    f.string(ax::kDescription);
    long elsewhere = 0;
    std::thread([&] { elsewhere = tripsFor([&] { f.string(ax::kDescription); }); }).join();
    EXPECT_EQ(elsewhere, 1);
    EXPECT_EQ(tripsFor([&] { f.string(ax::kDescription); }), 0);
    std::thread([&] { platform::input().postKeyToProcess(logicPid(), platform::KeyEvent{0x7D, true, 0, {}}); }).join();
    EXPECT_EQ(tripsFor([&] { f.string(ax::kDescription); }), 1);
}

// A window found again only once its handle is told stale: a handle refused once is told so,
// though its element's kept answers still answer it, and another handle to it is not.
TEST_F(AXReadsTest, AHandleRefusedAsStaleIsToldSoWhileItsElementsKeptAnswersStillAnswer) {
    auto held = *mainWindow();
    AXReadScope scope;
    world().setKnob("staleAfter", "afterReads 2");
    platform::AXValue v;
    ASSERT_EQ(held.copyAttributeValue(ax::kRole, v), AXError::success);
    ASSERT_EQ(held.copyAttributeValue(ax::kTitle, v), AXError::success);
    EXPECT_FALSE(held.refusedAsStale());
    ASSERT_EQ(held.copyAttributeValue(ax::kChildren, v), AXError::invalidUIElement);
    EXPECT_TRUE(held.refusedAsStale());
    EXPECT_EQ(held.string(ax::kRole), "AXWindow");
    const auto fresh = mainWindow();
    ASSERT_TRUE(fresh);
    EXPECT_FALSE(fresh->refusedAsStale());
    EXPECT_FALSE(fresh->children().empty());
}

TEST_F(AXReadsTest, SwitchedOffNothingIsKeptOrBatched) {
    auto w = *mainWindow();
    AXReadScope::setEnabled(false);
    AXReadScope scope;
    EXPECT_EQ(tripsFor([&] {
                  w.prefetchChildren({ax::kDescription});
                  w.string(ax::kTitle);
                  w.string(ax::kTitle);
              }),
              2);
    AXReadScope::setEnabled(true);
}

}  // namespace
}  // namespace corvane::standin::testing
