#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/loopback_guard.h"

namespace corvane::http {
namespace {

TEST(LoopbackGuard, LoopbackHostAllowedForms) {
    for (std::string value :
         {"127.0.0.1", "127.0.0.1:51234", "localhost", "localhost:51234", "LOCALHOST", "LocalHost:80", "[::1]",
          "[::1]:51234", " \tlocalhost \t", "localhost:", "localhost:anything", "[::1]anything", "[localhost]x"}) {
        EXPECT_TRUE(isLoopbackHost(value)) << value;
    }
}

TEST(LoopbackGuard, LoopbackHostForbiddenForms) {
    for (std::string value : {"::1",  // unbracketed: the name is the empty text before the first ":"
                              "evil.com",
                              "evil.com:51234",
                              "localhost.evil.com",
                              "127.0.0.1.nip.io",
                              "127.0.0.2",
                              "127.1",
                              "0.0.0.0",
                              "0x7f000001",
                              "2130706433",
                              "[::2]",
                              "[::ffff:127.0.0.1]",
                              "[0:0:0:0:0:0:0:1]",
                              "[::1",
                              "::1]",
                              "local host",
                              "localhost\r",
                              "loc\xc3\xa1lhost",
                              "192.168.1.10",
                              "[]",
                              ":51234"}) {
        EXPECT_FALSE(isLoopbackHost(value)) << value;
    }
}

TEST(LoopbackGuard, LoopbackOriginAllowedForms) {
    for (std::string value : {"http://127.0.0.1", "http://127.0.0.1:51234", "http://localhost", "http://localhost:3000",
                              "HTTP://LOCALHOST:51234", "http://[::1]", "http://[::1]:51234", " http://localhost\t",
                              "http://localhost:0", "http://localhost:65535"}) {
        EXPECT_TRUE(isLoopbackOrigin(value)) << value;
    }
}

TEST(LoopbackGuard, LoopbackOriginForbiddenForms) {
    for (std::string value : {"",
                              "null",
                              "https://localhost",
                              "https://127.0.0.1:51234",
                              "file://",
                              "http://evil.com",
                              "http://evil.com:51234",
                              "http://localhost.evil.com",
                              "http://127.0.0.1.evil.com",
                              "http://evil.com/127.0.0.1",
                              "http://localhost/",
                              "http://localhost/path",
                              "http://user@localhost",
                              "http://localhost@evil.com",
                              "http://localhost:",
                              "http://localhost:abc",
                              "http://localhost:65536",
                              "http://localhost:123456",
                              "http://localhost:80:80",
                              "http://::1",
                              "http://[::1",
                              "http://[::2]",
                              "http://[::1]x",
                              "http://[::1]:",
                              "http://127.1",
                              "http://0x7f000001",
                              "http://",
                              "localhost",
                              "http:/localhost",
                              "http://localhost?x",
                              "http://localhost#x",
                              "chrome-extension://abc",
                              "http://127.0.0.2"}) {
        EXPECT_FALSE(isLoopbackOrigin(value)) << value;
    }
}

HTTPRequest request(std::optional<std::string> host, std::optional<std::string> origin = std::nullopt,
                    std::optional<std::string> site = std::nullopt) {
    HTTPRequest r{"GET", "/health", std::move(host), ""};
    r.origin = std::move(origin);
    r.secFetchSite = std::move(site);
    return r;
}

TEST(LoopbackGuard, ForbiddenRequestCombinesHostOriginAndFetchSite) {
    EXPECT_FALSE(isForbiddenRequest(request(std::nullopt)));
    EXPECT_FALSE(isForbiddenRequest(request("")));  // an empty Host is not checked
    EXPECT_FALSE(isForbiddenRequest(request("localhost:51234", "http://localhost:51234", "same-origin")));
    EXPECT_FALSE(isForbiddenRequest(request(std::nullopt, std::nullopt, "none")));
    EXPECT_FALSE(isForbiddenRequest(request(std::nullopt, std::nullopt, "same-site")));
    EXPECT_TRUE(isForbiddenRequest(request("evil.com")));
    EXPECT_TRUE(isForbiddenRequest(request("127.0.0.1:51234", "http://evil.com")));
    EXPECT_TRUE(isForbiddenRequest(request("127.0.0.1:51234", "")));  // present though blank
    EXPECT_TRUE(isForbiddenRequest(request("127.0.0.1:51234", std::nullopt, "cross-site")));
    EXPECT_TRUE(isForbiddenRequest(request(std::nullopt, std::nullopt, " Cross-Site ")));
    EXPECT_TRUE(isForbiddenRequest(request("127.0.0.1", "http://localhost", "cross-site")));
}

}  // namespace
}  // namespace corvane::http
