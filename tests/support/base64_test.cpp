#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/base64.h"

namespace corvane {
namespace {

TEST(Base64, RoundTripsAndRejectsGarbage) {
    for (const std::string& s : std::vector<std::string>{"", "f", "fo", "foo", "foob", std::string("\0\xff\x10", 3)})
        EXPECT_EQ(base64Decode(base64Encode(s)), s);
    EXPECT_EQ(base64Encode("foobar"), "Zm9vYmFy");
    EXPECT_FALSE(base64Decode("Zm9v=mFy"));
    EXPECT_FALSE(base64Decode("abc"));
    EXPECT_FALSE(base64Decode("ab!d"));
}

}  // namespace
}  // namespace corvane
