#include <gtest/gtest.h>

#include "support/uuid.h"

namespace corvane {
namespace {

TEST(UUID, VersionFourTextAndFreshEachTime) {
    auto id = makeUUID();
    EXPECT_TRUE(isUUID(id));
    EXPECT_EQ(id[14], '4');
    EXPECT_NE(id, makeUUID());
}

}  // namespace
}  // namespace corvane
