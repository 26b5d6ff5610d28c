#include "platform/lifetime.h"

#include <gtest/gtest.h>

#include <optional>

namespace corvane::platform {
namespace {

// A worker's lifetime moves into its thread: the moved-from one going out of scope first must
// not make the owner reap (join) a thread that still runs.
TEST(Lifetime, OnlyTheEndOfTheLifetimeItselfEndsItsGuards) {
    std::optional<Lifetime> created(std::in_place);
    const Lifetime::Guard guard = created->guard();
    std::optional<Lifetime> moved;
    moved.emplace(std::move(*created));
    created.reset();
    EXPECT_TRUE(guard.alive());
    moved.reset();
    EXPECT_FALSE(guard.alive());
}

}  // namespace
}  // namespace corvane::platform
