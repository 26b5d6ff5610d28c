#include "widgets/updater.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <condition_variable>
#include <mutex>

#include "widget_events.h"
#include "widget_pixels.h"
#include "widgets/qt_main_queue.h"

namespace corvane {
namespace {

using corvane::testing::pumpUntil;

// A feed that answers only when released.
class GatedFeed final : public http::HTTPTransport {
public:
    http::HTTPClientResponse send(const http::HTTPClientRequest&, std::stop_token) override {
        std::unique_lock lock(mutex_);
        ++calls;
        released_.wait(lock, [&] { return open_; });
        if (!reachable) throw http::TransportError("Could not resolve host: corvane.app");
        return {200, R"(<rss><channel><item><sparkle:version>4</sparkle:version>
                      <sparkle:shortVersionString>0.1.3</sparkle:shortVersionString></item></channel></rss>)"};
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        released_.notify_all();
    }
    bool reachable = true;
    int calls = 0;

private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool open_ = false;
};

struct Shown {
    std::string title;
    std::string text;
    bool isError;
};

networking::UpdateCheckConfiguration configuration() {
    return {"https://corvane.app/sparkle/appcast.xml", "Corvane", "0.1.2", "3"};
}

TEST(FeedUpdater, RequestsDuringACheckAreAnsweredOnceOnTheUIThread) {
    testing::ensureApplication();
    QtMainQueue queue;
    auto feed = std::make_shared<GatedFeed>();
    std::vector<Shown> shown;
    FeedUpdater updater(networking::UpdateChecker(configuration(), feed), queue,
                        [&](const networking::UpdateCheckMessage& message, bool isError) {
                            EXPECT_TRUE(queue.isMainThread());
                            shown.push_back({message.title, message.text, isError});
                        });
    updater.checkForUpdates();
    updater.checkForUpdates();
    EXPECT_TRUE(updater.isChecking());
    feed->release();
    ASSERT_TRUE(pumpUntil([&] { return !shown.empty(); }));
    EXPECT_EQ(feed->calls, 1);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, "A new version of Corvane is available!");
    EXPECT_FALSE(shown[0].isError);
    EXPECT_FALSE(updater.isChecking());
}

TEST(FeedUpdater, AnUnreachableFeedIsReportedAsAnError) {
    testing::ensureApplication();
    QtMainQueue queue;
    auto feed = std::make_shared<GatedFeed>();
    feed->reachable = false;
    feed->release();
    std::vector<Shown> shown;
    FeedUpdater updater(networking::UpdateChecker(configuration(), feed), queue,
                        [&](const networking::UpdateCheckMessage& message, bool isError) {
                            shown.push_back({message.title, message.text, isError});
                        });
    updater.checkForUpdates();
    ASSERT_TRUE(pumpUntil([&] { return !shown.empty(); }));
    EXPECT_TRUE(shown[0].isError);
    EXPECT_EQ(shown[0].title, "Update Error!");
    EXPECT_NE(shown[0].text.find("could not be reached"), std::string::npos);
}

}  // namespace
}  // namespace corvane
