#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/log.h"

namespace corvane::platform {
namespace {

TEST(Log, CaptureRecordsEachLineAndRestoresThePreviousSink) {
    LogCapture outer;
    {
        LogCapture inner;
        corvane::log("[Test] one");
        EXPECT_TRUE(inner.contains("[Test] one"));
    }
    corvane::log("[Test] two");
    EXPECT_EQ(outer.lines(), std::vector<std::string>{"[Test] two"});
}

}  // namespace
}  // namespace corvane::platform
