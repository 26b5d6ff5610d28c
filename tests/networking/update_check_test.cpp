#include "networking/update_check.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace corvane::networking {
namespace {

class FakeFeed final : public http::HTTPTransport {
public:
    std::function<http::HTTPClientResponse(const http::HTTPClientRequest&)> answer;
    int calls = 0;
    http::HTTPClientResponse send(const http::HTTPClientRequest& request, std::stop_token) override {
        ++calls;
        return answer(request);
    }
};

constexpr const char* kFeed = R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
  <channel>
    <title>Corvane</title>
    <item>
      <title>0.1.2</title>
      <enclosure url="https://corvane.app/d/Corvane-0.1.2.zip" sparkle:version="3" sparkle:shortVersionString="0.1.2" length="1"/>
    </item>
    <item>
      <title>0.2.0</title>
      <sparkle:version> 10 </sparkle:version>
      <sparkle:shortVersionString>0.2.0</sparkle:shortVersionString>
    </item>
    <item><title>no version</title></item>
  </channel>
</rss>)";

UpdateCheckConfiguration configuration(std::string build = "3") {
    return {"https://corvane.app/sparkle/appcast.xml", "Corvane", "0.1.2", std::move(build)};
}

TEST(UpdateCheck, VersionsCompareNumericallyPartByPart) {
    struct Case {
        const char* a;
        const char* b;
        int order;
    };
    const Case cases[] = {{"10", "9", 1},       {"1.10", "1.9", 1}, {"1.0", "1", 0},
                          {"1.0.1", "1", 1},    {"007", "7", 0},    {"3", "3", 0},
                          {"0.1.2", "0.2", -1}, {"2b", "2a", 1},    {"123456789012345678901", "9", 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(compareVersions(c.a, c.b), c.order) << c.a << " vs " << c.b;
        EXPECT_EQ(compareVersions(c.b, c.a), -c.order) << c.b << " vs " << c.a;
    }
}

TEST(UpdateCheck, AppcastItemsComeFromElementsOrTheEnclosureAndItemsWithoutVersionAreSkipped) {
    const auto items = parseAppcast(kFeed);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].version, "3");
    EXPECT_EQ(items[0].displayVersion(), "0.1.2");
    EXPECT_EQ(items[1].version, "10");
    EXPECT_EQ(items[1].displayVersion(), "0.2.0");
    EXPECT_THROW(parseAppcast("<html><body>Not found</body></html>"), std::invalid_argument);
}

TEST(UpdateCheck, TellsWhetherTheFeedHoldsANewerBuild) {
    auto feed = std::make_shared<FakeFeed>();
    feed->answer = [](const http::HTTPClientRequest& request) {
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.url, "https://corvane.app/sparkle/appcast.xml");
        return http::HTTPClientResponse{200, kFeed};
    };
    const UpdateChecker older(configuration("3"), feed);
    const auto newer = older.check();
    EXPECT_EQ(newer.kind, UpdateCheckResult::Kind::updateAvailable);
    EXPECT_EQ(newer.latestVersion, "0.2.0");
    EXPECT_EQ(older.describe(newer).title, "A new version of Corvane is available!");
    EXPECT_EQ(older.describe(newer).text, "Corvane 0.2.0 is now available\u2014you have 0.1.2.");

    const UpdateChecker current(configuration("10"), feed);
    const auto same = current.check();
    EXPECT_EQ(same.kind, UpdateCheckResult::Kind::upToDate);
    EXPECT_EQ(current.describe(same).text, "Corvane 0.1.2 is currently the newest version available.");
}

// An unreachable or broken feed is reported as a failure, never as "up to date".
TEST(UpdateCheck, FeedFailuresAreSaidPlainly) {
    struct Case {
        const char* name;
        std::string url;
        std::function<http::HTTPClientResponse(const http::HTTPClientRequest&)> answer;
        std::string detail;
        int calls;
    };
    const Case cases[] = {
        {"no connection", configuration().feedURL,
         [](const http::HTTPClientRequest&) -> http::HTTPClientResponse {
             throw http::TransportError("Could not resolve host");
         },
         "the update feed could not be reached (Network error: Could not resolve host)", 1},
        {"not found", configuration().feedURL,
         [](const http::HTTPClientRequest&) {
             return http::HTTPClientResponse{404, ""};
         },
         "the update feed could not be reached (HTTP 404)", 1},
        {"not a feed", configuration().feedURL,
         [](const http::HTTPClientRequest&) {
             return http::HTTPClientResponse{200, "<html></html>"};
         },
         "the update feed could not be read", 1},
        {"plain http", "http://corvane.app/sparkle/appcast.xml",
         [](const http::HTTPClientRequest&) {
             return http::HTTPClientResponse{200, kFeed};
         },
         "the update feed's address is not an HTTPS address", 0},
    };
    for (const auto& c : cases) {
        auto feed = std::make_shared<FakeFeed>();
        feed->answer = c.answer;
        auto config = configuration();
        config.feedURL = c.url;
        const UpdateChecker checker(config, feed);
        const auto result = checker.check();
        EXPECT_EQ(result.kind, UpdateCheckResult::Kind::failed) << c.name;
        EXPECT_EQ(result.detail, c.detail) << c.name;
        EXPECT_EQ(feed->calls, c.calls) << c.name;
        EXPECT_EQ(checker.describe(result).title, "Update Error!") << c.name;
        EXPECT_EQ(checker.describe(result).text, "Corvane could not check for updates: " + c.detail + ".") << c.name;
    }
}

}  // namespace
}  // namespace corvane::networking
