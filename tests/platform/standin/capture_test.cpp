#include <gtest/gtest.h>

#include <cmath>

#include "platform/log.h"
#include "platform/standin/text_render.h"
#include "standin_fixture.h"

namespace corvane::standin::testing {
namespace {

using platform::Rect;
namespace ax = platform::ax;

// A point safely inside a frame, away from the children drawn over it.
platform::Point inside(Rect r, double dx = 3, double dy = 3) { return {r.x + dx, r.y + dy}; }

std::optional<Rgb> sample(const platform::Image& image, Rect area, platform::Point p) {
    return pixelAt(image, static_cast<int>(p.x - area.x), static_cast<int>(p.y - area.y));
}

TEST_F(StandinTest, WindowCaptureIsBGRAPremultipliedFirstLittleEndianWithFlatColours) {
    world().mutateProject([](Project& p) { p.transport.playing = true; });
    const Rect win = *world().windowFrame();
    auto image = platform::screenCapture().captureWindow(*world().windowId());
    ASSERT_TRUE(image.ok()) << image.error;
    EXPECT_EQ(image.value->width, 1440);
    EXPECT_EQ(image.value->height, 875);
    EXPECT_EQ(image.value->bytesPerRow, 1440 * 4);
    EXPECT_EQ(image.value->bitmapInfo, 2u | 0x2000u);
    // Byte order in memory: blue, green, red, alpha.
    const auto& bytes = image.value->bytes;
    EXPECT_EQ(bytes[0], palette::titleBar.b);
    EXPECT_EQ(bytes[2], palette::titleBar.r);
    EXPECT_EQ(bytes[3], 255);

    struct Case {
        const char* what;
        platform::Point at;
        Rgb colour;
    };
    const Case cases[] = {
        {"title bar", inside(win), palette::titleBar},
        {"control bar", inside(*world().controlFrame("Control Bar"), 300, 2), palette::controlBar},
        {"Play lit while playing", World::center(*world().controlFrame("Play")), palette::playLit},
        {"Stop", World::center(*world().controlFrame("Stop")), palette::transportButton},
        {"selected header", inside(*world().headerFrame("Kick"), 60, 3), palette::headerSelected},
        {"muted header", inside(*world().headerFrame("Keys"), 60, 3), palette::headerMuted},
        {"plain header", inside(*world().headerFrame("Bass"), 60, 3), palette::header},
        {"region", World::center(*world().regionFrame("Kick", 0)), palette::region},
        {"muted region", World::center(*world().regionFrame("Bass", 1)), palette::regionMuted},
        {"empty row", inside(*world().rowFrame("Guitar"), 20, 10), palette::trackRow},
        {"slot", World::center(*world().slotFrame(0, 0)), palette::slot},
        {"bypassed slot dimmed", World::center(*world().slotFrame(0, 1)), palette::slotBypassed},
        {"strip", inside(*world().stripFrame(0), 40, 500), palette::strip},
        {"volume fader", World::center(*world().stripControlFrame(0, "volume fader")), palette::control},
        {"strip mute off", World::center(*world().stripControlFrame(0, "mute")), palette::control},
    };
    for (const auto& c : cases) EXPECT_EQ(sample(*image.value, win, c.at), c.colour) << c.what;
}

TEST_F(StandinTest, CapturedColoursFollowTheModel) {
    const Rect win = *world().windowFrame();
    auto grab = [&] { return *platform::screenCapture().captureWindow(*world().windowId()).value; };
    EXPECT_EQ(sample(grab(), win, World::center(*world().controlFrame("Play"))), palette::transportButton);
    pressKey(46);   // mute Kick: its header is selected and muted
    pressKey(125);  // select Snare
    auto image = grab();
    EXPECT_EQ(sample(image, win, inside(*world().headerFrame("Kick"), 60, 3)), palette::headerMuted);
    EXPECT_EQ(sample(image, win, inside(*world().headerFrame("Snare"), 60, 3)), palette::headerSelected);
    pressKey(126);
    EXPECT_EQ(sample(grab(), win, inside(*world().headerFrame("Kick"), 60, 3)), palette::headerSelectedMuted);
    EXPECT_EQ(sample(grab(), win, World::center(*world().stripControlFrame(0, "mute"))), palette::muteOn);
}

TEST_F(StandinTest, DisplayCaptureCompositesWindowsAndTheShieldDarkens) {
    const Rect header = *world().headerFrame("Bass");
    auto shield = world().addWindow(WindowSpec::shield({0, 0, 1440, 900}));
    auto display = platform::screenCapture().captureDisplay(1);
    ASSERT_TRUE(display.ok());
    EXPECT_EQ(display.value->width, 1440);
    EXPECT_EQ(display.value->height, 900);
    const Rgb expected{static_cast<std::uint8_t>(std::lround(palette::header.r * 0.7)),
                       static_cast<std::uint8_t>(std::lround(palette::header.g * 0.7)),
                       static_cast<std::uint8_t>(std::lround(palette::header.b * 0.7))};
    EXPECT_EQ(pixelAt(*display.value, int(header.x + 60), int(header.y + 3)), expected);
    EXPECT_EQ(pixelAt(*display.value, 10, 10), (Rgb{14, 17, 22}));  // desktop under the shield
    world().removeWindow(shield);

    // A rectangle at nominal resolution, with another app's window on top of Logic.
    WindowSpec other{200, "Terminal", {header.x + 100, header.y - 20, 200, 100}};
    other.colour = Rgb{1, 2, 3};
    world().addWindow(other);
    auto rect = platform::screenCapture().captureRect({header.x, header.y, 150, 30});
    ASSERT_TRUE(rect.ok());
    EXPECT_EQ(rect.value->width, 150);
    EXPECT_EQ(pixelAt(*rect.value, 60, 3), palette::header);
    EXPECT_EQ(pixelAt(*rect.value, 120, 10), (Rgb{1, 2, 3}));
}

TEST_F(StandinTest, ShareableContentListsWindowsFrontToBackWithOwnersAndDisplays) {
    world().addWindow({0, "Corvane", {300, 200, 600, 500}});
    auto content = platform::screenCapture().shareableContent();
    ASSERT_TRUE(content.ok());
    ASSERT_EQ(content.value->windows.size(), 2u);
    const auto& chat = content.value->windows[0];
    EXPECT_EQ(chat.owningBundleIdentifier, "app.corvane");
    const auto& logic = content.value->windows[1];
    EXPECT_EQ(logic.owningBundleIdentifier, "com.apple.logic10");
    EXPECT_EQ(logic.owningProcessIdentifier, 4242);
    EXPECT_EQ(logic.title, "Demo Song - Tracks");
    EXPECT_EQ(logic.frame, (Rect{0, 25, 1440, 875}));
    EXPECT_TRUE(logic.isOnScreen);
    ASSERT_EQ(content.value->displays.size(), 1u);
    EXPECT_TRUE(content.value->displays[0].isMain);

    world().quitLogic();
    content = platform::screenCapture().shareableContent();
    ASSERT_TRUE(content.ok());
    EXPECT_EQ(content.value->windows.size(), 1u);
}

TEST_F(StandinTest, CaptureFailureKnobsAndMissingPermissionShowAsTheHostWould) {
    struct Case {
        const char* knob;
        nlohmann::json value;
        bool contentOk;
        std::string contentError;
        bool imageOk;
        std::string imageError;
        int width;  // of a successful image
    };
    const Case cases[] = {
        {"contentError", "SCStreamError -3801", false, "SCStreamError -3801", true, "", 1440},
        {"noContent", true, false, "", true, "", 1440},
        {"captureError", "capture went wrong", true, "", false, "capture went wrong", 0},
        {"noImage", true, true, "", false, "", 0},
        {"degenerateImage", true, true, "", true, "", 0},
    };
    for (const auto& c : cases) {
        load(demoSong());
        world().setKnob(c.knob, c.value);
        auto content = platform::screenCapture().shareableContent();
        EXPECT_EQ(content.ok(), c.contentOk) << c.knob;
        EXPECT_EQ(content.error, c.contentError) << c.knob;
        auto image = platform::screenCapture().captureWindow(*world().windowId());
        EXPECT_EQ(image.ok(), c.imageOk) << c.knob;
        EXPECT_EQ(image.error, c.imageError) << c.knob;
        if (image.ok()) {
            EXPECT_EQ(image.value->width, c.width) << c.knob;
        }
    }

    load(demoSongWith({{"permissions", {{"screenRecording", "denied"}}}}));
    auto rect = platform::screenCapture().captureRect({0, 0, 100, 100});
    EXPECT_FALSE(rect.ok());
    EXPECT_TRUE(rect.error.empty());
    auto display = platform::screenCapture().captureDisplay(1);
    EXPECT_FALSE(display.ok());
    EXPECT_TRUE(display.error.empty());
    EXPECT_EQ(world().events(EventKind::capture).size(), 2u);
}

TEST_F(StandinTest, MinimisedAndOffDisplayLogicWindowsCaptureAsOnTheHost) {
    const Rect home = *world().windowFrame();
    const std::uint32_t id = *world().windowId();
    world().setKnob("minimisedWindows", {"main"});
    auto content = platform::screenCapture().shareableContent();
    ASSERT_TRUE(content.ok());
    for (const auto& w : content.value->windows)
        if (w.windowID == id) {
            EXPECT_FALSE(w.isOnScreen);
            EXPECT_EQ(w.frame, home);
        }
    EXPECT_FALSE(platform::screenCapture().captureWindow(id).ok());
    auto display = platform::screenCapture().captureDisplay(1);
    ASSERT_TRUE(display.ok());
    EXPECT_EQ(sample(*display.value, {0, 0, 1440, 900}, inside(home, 200, 300)), palette::desktop);

    // Half off the left edge: the display shows only what is still on it; the window alone is whole.
    world().setKnob("minimisedWindows", nullptr);
    world().setKnob("windowFrames", {{"main", {-720, 25, 1440, 875}}});
    display = platform::screenCapture().captureDisplay(1);
    ASSERT_TRUE(display.ok());
    EXPECT_EQ(sample(*display.value, {0, 0, 1440, 900}, {5, 30}), palette::titleBar);
    EXPECT_EQ(sample(*display.value, {0, 0, 1440, 900}, {800, 30}), palette::desktop);
    auto window = platform::screenCapture().captureWindow(id);
    ASSERT_TRUE(window.ok());
    EXPECT_EQ(window.value->width, 1440);
    EXPECT_EQ(pixelAt(*window.value, 3, 3), palette::titleBar);
}

// The pixels of an area of a window capture, row after row.
std::vector<Rgb> pixelsIn(const platform::Image& image, Rect window, Rect area) {
    std::vector<Rgb> out;
    for (int y = int(area.y - window.y); y < int(area.maxY() - window.y); ++y)
        for (int x = int(area.x - window.x); x < int(area.maxX() - window.x); ++x) out.push_back(*pixelAt(image, x, y));
    return out;
}

TEST_F(StandinTest, TrackNameAreaShowsEachNameAndStaysPlainWithoutOne) {
    const Rect win = *world().windowFrame();
    const int bass = world().project().track("Bass")->id;
    auto nameArea = [&](const std::string& name) {
        world().mutateProject([&](Project& p) { p.trackById(bass)->name = name; });
        auto image = platform::screenCapture().captureWindow(*world().windowId());
        return pixelsIn(*image.value, win, *world().headerControlFrame(name, "track name"));
    };
    const auto original = nameArea("Bass");
    const auto tuba = nameArea("Tuba");
    EXPECT_NE(original, tuba);
    EXPECT_TRUE(std::any_of(original.begin(), original.end(), [](Rgb c) { return c != palette::header; }));
    const auto none = nameArea("");
    EXPECT_TRUE(std::all_of(none.begin(), none.end(), [](Rgb c) { return c == palette::header; }));
}

// A name far wider than its field is clipped to the field: around it, the element keeps its flat fill.
TEST_F(StandinTest, LongTextNeverSpillsOutOfItsElement) {
    const std::string name(80, 'W');
    world().mutateProject([&](Project& p) { p.track("Kick")->name = name; });
    const Rect win = *world().windowFrame();
    auto image = *platform::screenCapture().captureWindow(*world().windowId()).value;
    const Rect stripName = *world().stripControlFrame(0, "name");
    const Rect strip = *world().stripFrame(0);
    struct Case {
        const char* what;
        Rect around;
        std::vector<Rect> elements;  // where other pixels may be
        Rgb fill;
    };
    const Case cases[] = {
        {"header",
         *world().headerFrame(name),
         {*world().headerControlFrame(name, "track name"), *world().headerControlFrame(name, "mute"),
          *world().headerControlFrame(name, "solo")},
         palette::headerSelected},
        {"strip name", {strip.x, stripName.y - 2, strip.width, stripName.height + 4}, {stripName}, palette::strip},
    };
    for (const auto& c : cases) {
        int spilled = 0;
        for (int y = int(c.around.y); y < int(c.around.maxY()); ++y)
            for (int x = int(c.around.x); x < int(c.around.maxX()); ++x) {
                const bool inElement = std::any_of(c.elements.begin(), c.elements.end(), [&](Rect r) {
                    return x >= r.x && x < r.maxX() && y >= r.y && y < r.maxY();
                });
                if (!inElement && sample(image, win, {double(x), double(y)}) != c.fill) ++spilled;
            }
        EXPECT_EQ(spilled, 0) << c.what;
    }
}

TEST(TextRenderer, MissingFontDrawsNothingAndSaysSoOnce) {
    platform::LogCapture log;
    detail::TextRenderer renderer("/nonexistent/DejaVuSans.ttf");
    EXPECT_TRUE(renderer.render("Kick", 12).empty());
    EXPECT_TRUE(renderer.render("Snare", 12).empty());
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_TRUE(log.contains("/nonexistent/DejaVuSans.ttf"));
}

// A live viewer of the screen captures again on each notice; it may do so from inside the notice.
TEST_F(StandinTest, ScreenViewersHearOfEachChangeOnceAndMayCaptureFromTheNotice) {
    int notices = 0;
    bool captured = false;
    auto token = world().screenChanges().addObserver([&] {
        ++notices;
        captured = platform::screenCapture().captureWindow(*world().windowId()).ok();
    });
    (void)app().string(platform::ax::kTitle);  // a read changes nothing
    EXPECT_EQ(notices, 0);
    pressKey(46);  // mute Kick
    EXPECT_GE(notices, 1);
    EXPECT_TRUE(captured);
    const int afterMute = notices;
    world().screenChanges().removeObserver(token);
    pressKey(46);
    EXPECT_EQ(notices, afterMute);
}

}  // namespace
}  // namespace corvane::standin::testing
