#include "widgets/logic_pro_window.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <map>
#include <mutex>
#include <thread>

#include "platform/thread_main_queue.h"
#include "widget_pixels.h"

namespace corvane {
namespace {

namespace bm = platform::bitmap;

// One pixel of (r, g, b, a) laid out the way `info` says.
platform::Image pixel(std::uint32_t info, std::array<std::uint8_t, 4> bytes) {
    platform::Image image;
    image.width = 1;
    image.height = 1;
    image.bytesPerRow = 4;
    image.bitmapInfo = info;
    image.bytes.assign(bytes.begin(), bytes.end());
    return image;
}

TEST(LogicProWindow, CapturesBecomeImagesWhateverTheirByteOrder) {
    struct Case {
        const char* name;
        std::uint32_t info;
        std::array<std::uint8_t, 4> bytes;
        QColor expected;
    };
    const Case cases[] = {
        {"BGRA (premultiplied first, little)",
         bm::kAlphaPremultipliedFirst | bm::kByteOrder32Little,
         {30, 20, 10, 255},
         QColor(10, 20, 30, 255)},
        {"RGBA (last, default order)", bm::kAlphaLast, {10, 20, 30, 255}, QColor(10, 20, 30, 255)},
        {"ARGB (first, big)", bm::kAlphaFirst | bm::kByteOrder32Big, {255, 10, 20, 30}, QColor(10, 20, 30, 255)},
        {"RGBX (skip last)", bm::kAlphaNoneSkipLast, {10, 20, 30, 0}, QColor(10, 20, 30, 255)},
    };
    for (const auto& c : cases) {
        const QImage image = toQImage(pixel(c.info, c.bytes));
        ASSERT_FALSE(image.isNull()) << c.name;
        EXPECT_EQ(image.pixelColor(0, 0), c.expected) << c.name;
    }
    auto shortRows = pixel(bm::kAlphaLast, {1, 2, 3, 4});
    shortRows.bytesPerRow = 2;
    EXPECT_TRUE(toQImage(shortRows).isNull());
    auto missingBytes = pixel(bm::kAlphaLast, {1, 2, 3, 4});
    missingBytes.height = 2;
    EXPECT_TRUE(toQImage(missingBytes).isNull());
}

class FakeScreen final : public platform::ScreenCapture, public platform::ScreenChanges {
public:
    std::atomic<int> captures{0};
    std::uint8_t shade = 0;
    platform::CaptureResult<platform::ShareableContent> shareableContent() override { return {}; }
    platform::CaptureResult<platform::Image> captureWindow(std::uint32_t) override { return {}; }
    platform::CaptureResult<platform::Image> captureDisplay(std::uint32_t) override {
        ++captures;
        platform::Image image;
        image.width = 4;
        image.height = 2;
        image.bytesPerRow = 16;
        image.bitmapInfo = bm::kAlphaPremultipliedFirst | bm::kByteOrder32Little;
        image.bytes.assign(32, 255);
        image.bytes[0] = shade;
        return {image, ""};
    }
    platform::CaptureResult<platform::Image> captureRect(platform::Rect) override { return {}; }
    std::optional<platform::Display> mainDisplay() override { return platform::Display{1, {0, 0, 4, 2}, 1, true}; }
    bool preflightScreenRecording() override { return true; }
    bool requestScreenRecording() override { return true; }

    Token addObserver(Observer observer) override {
        std::lock_guard lock(mutex);
        observers.emplace(++next, std::move(observer));
        return next;
    }
    void removeObserver(Token token) override {
        std::lock_guard lock(mutex);
        observers.erase(token);
    }
    void change() {
        std::map<Token, Observer> copy;
        {
            std::lock_guard lock(mutex);
            copy = observers;
        }
        for (auto& [token, observer] : copy) observer();
    }
    std::mutex mutex;
    std::map<Token, Observer> observers;
    Token next = 0;
};

// A queue whose posted work runs only when the test says so.
class HeldQueue final : public platform::MainQueue {
public:
    void async(std::function<void()> work) override { held.push_back(std::move(work)); }
    void sync(const std::function<void()>& work) override { work(); }
    bool isMainThread() const override { return true; }
    void run() {
        auto work = std::move(held);
        held.clear();
        for (auto& w : work) w();
    }
    std::vector<std::function<void()>> held;
};

TEST(LogicProWindow, ChangesOfTheScreenAreRedrawnOnceEachBurstAndNotAfterTheWindowIsGone) {
    testing::ensureApplication();
    FakeScreen screen;
    HeldQueue queue;
    auto window = std::make_unique<LogicProWindow>(screen, screen, queue);
    EXPECT_EQ(screen.captures, 1);
    EXPECT_EQ(window->image().size(), QSize(4, 2));
    screen.shade = 200;
    std::thread agent([&] {
        for (int i = 0; i < 5; ++i) screen.change();
    });
    agent.join();
    EXPECT_EQ(queue.held.size(), 1u);  // coalesced
    queue.run();
    EXPECT_EQ(screen.captures, 2);
    EXPECT_EQ(window->image().pixelColor(0, 0).blue(), 200);
    screen.change();
    window.reset();
    queue.run();  // posted before the window went: nothing happens
    EXPECT_EQ(screen.captures, 2);
    EXPECT_TRUE(screen.observers.empty());
}

}  // namespace
}  // namespace corvane
