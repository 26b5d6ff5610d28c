// The element locator and the pixel probes: matching rules, depth limits, pixel layouts and the
// colour decision, on hand-built trees and bitmaps.

#include <gtest/gtest.h>

#include <limits>

#include "plugins/ax_locator.h"
#include "plugins/pixel_probe.h"
#include "test_support/fake_ax.h"

namespace corvane {
namespace {

using testing::FakeElement;

TEST(AXLocatorTest, TargetsMatchByTheirFirstNamedKeyAlone) {
    auto knob = FakeElement::make("AXSlider", "Tempo\u2028Sync")
                    ->set("AXTitle", std::string("Sync"))
                    ->set("AXIdentifier", std::string("k1"))
                    ->set("AXHelp", std::string("CUTOFF KNOB: sets the frequency"));
    struct Case {
        const char* what;
        AXTarget target;
        bool matches;
    };
    for (const Case& c : {
             Case{"role only", {"AXSlider", {}, {}, {}}, false},
             Case{"nothing", {{}, {}, {}, {}}, false},
             Case{"identifier", {"AXSlider", "k1", {}, {}}, true},
             Case{"identifier decides over a matching title", {{}, "k2", "Sync", {}}, false},
             Case{"wrong role", {"AXButton", "k1", {}, {}}, false},
             Case{"empty role is a role", {"", "k1", {}, {}}, false},
             Case{"title", {{}, {}, "Sync", {}}, true},
             Case{"description with a line separator", {{}, {}, "Tempo Sync", {}}, true},
             Case{"title is case-sensitive", {{}, {}, "sync", {}}, false},
             Case{"empty identifier falls through", {{}, "", "Sync", {}}, true},
             Case{"help prefix ignores case", {{}, {}, {}, "Cutoff knob"}, true},
             Case{"help prefix is a prefix", {{}, {}, {}, "knob"}, false},
         })
        EXPECT_EQ(AXLocator::matches(knob->handle(), c.target), c.matches) << c.what;
}

TEST(AXLocatorTest, SearchesVisitDepthsBelowTheLimitOnly) {
    // A chain of groups; the slider at the end sits at the given depth below the root.
    auto chain = [](int depth) {
        auto root = FakeElement::make("AXWindow");
        auto at = root;
        for (int d = 1; d < depth; ++d) {
            auto group = FakeElement::make("AXGroup");
            at->add(group);
            at = group;
        }
        at->add(FakeElement::make("AXSlider")->set("AXIdentifier", std::string("deep")));
        return root;
    };
    const AXTarget deep{{}, "deep", {}, {}};
    EXPECT_TRUE(AXLocator::find(deep, chain(14)->handle(), 15));
    EXPECT_FALSE(AXLocator::find(deep, chain(15)->handle(), 15));
    // The root itself can be the match.
    auto root = FakeElement::make("AXWindow")->set("AXIdentifier", std::string("w"));
    EXPECT_TRUE(AXLocator::find({{}, "w", {}, {}}, root->handle(), 15));

    // Collecting by role still walks below elements of other roles, and never stops early.
    auto window = FakeElement::make("AXWindow");
    window->add(FakeElement::make("AXGroup")->add(FakeElement::make("AXSlider", "a"))->add(FakeElement::make("AXSlider", "b")))
        ->add(FakeElement::make("AXSlider", "c")->add(FakeElement::make("AXSlider", "d")));
    std::vector<std::string> seen;
    for (const auto& e : AXLocator::collect(window->handle(), std::string("AXSlider"), 15, [&](const platform::AXElement& e) {
             seen.push_back(e.string("AXDescription").value_or(""));
             return e.string("AXDescription") != std::optional<std::string>("b");
         }))
        seen.push_back("+" + e.string("AXDescription").value_or(""));
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "c", "d", "+a", "+c", "+d"}));
}

platform::Image image(int width, int height, int bitsPerPixel, std::uint32_t bitmapInfo, std::vector<std::uint8_t> pixel) {
    platform::Image img;
    img.width = width;
    img.height = height;
    img.bitsPerPixel = bitsPerPixel;
    img.bytesPerRow = width * bitsPerPixel / 8;
    img.bitmapInfo = bitmapInfo;
    for (int i = 0; i < width * height; ++i) img.bytes.insert(img.bytes.end(), pixel.begin(), pixel.end());
    return img;
}

TEST(PixelProbeTest, SamplesReadEveryFourByteLayoutAndRejectTheRest) {
    // The colour (10, 20, 30) stored in each layout.
    struct Case {
        const char* layout;
        int bits;
        std::uint32_t info;
        std::vector<std::uint8_t> bytes;
        std::optional<PixelRGB> expected;
    };
    const PixelRGB c{10, 20, 30};
    for (const Case& k : {Case{"premultiplied first, little-endian (BGRA)", 32, 2 | 0x2000, {30, 20, 10, 255}, c},
                          Case{"skip first, big-endian (xRGB)", 32, 6, {255, 10, 20, 30}, c},
                          Case{"premultiplied last, big-endian (RGBA)", 32, 1, {10, 20, 30, 255}, c},
                          Case{"skip last, little-endian (ABGR)", 32, 5 | 0x2000, {255, 30, 20, 10}, c},
                          Case{"no alpha", 32, 0, {10, 20, 30, 0}, std::nullopt},
                          Case{"alpha info out of range", 32, 7, {10, 20, 30, 0}, std::nullopt},
                          Case{"24-bit", 24, 0, {10, 20, 30}, std::nullopt}}) {
        PluginWindowImage picture{image(4, 4, k.bits, k.info, k.bytes), 4, 4};
        EXPECT_EQ(PixelProbe::sample(picture, 1, 1), k.expected) << k.layout;
    }
}

TEST(PixelProbeTest, PointsAreScaledToPixelsAndStayInsideTheImage) {
    // A 400-pixel-wide picture of a 200-point window: point 100 is pixel column 200.
    auto img = image(400, 2, 32, 2 | 0x2000, {0, 0, 0, 255});
    img.bytes[200 * 4 + 2] = 99;  // red of pixel (200, 0)
    PluginWindowImage picture{img, 200, 1};
    EXPECT_EQ(PixelProbe::sample(picture, 100, 0), (PixelRGB{99, 0, 0}));
    EXPECT_EQ(PixelProbe::sample(picture, 200, 0), std::nullopt);  // one column past the last
    EXPECT_EQ(PixelProbe::sample(picture, -1, 0), std::nullopt);
    // A buffer shorter than its stated size is never read past its end.
    picture.image.bytes.resize(100);
    EXPECT_EQ(PixelProbe::sample(picture, 100, 0), std::nullopt);
}

TEST(PixelProbeTest, TiesGoToLitAndColoursFarFromBothAreUnknown) {
    const StateProbe probe{0, 0, {200, 0, 0}, {0, 0, 200}, 150};
    struct Case {
        PixelRGB sample;
        StateProbeResult expected;
    };
    for (const Case& c : {Case{{190, 5, 0}, StateProbeResult::lit}, Case{{0, 0, 180}, StateProbeResult::dark},
                          Case{{100, 0, 100}, StateProbeResult::lit},  // equally far, within the tolerance
                          Case{{0, 255, 0}, StateProbeResult::unknown}})
        EXPECT_EQ(PixelProbe::evaluate(c.sample, probe), c.expected) << c.sample.red << "," << c.sample.green << "," << c.sample.blue;
    EXPECT_EQ(PixelProbe::evaluate({200, 0, 0}, StateProbe{0, 0, {200, 0}, {0, 0, 200}, 50}), StateProbeResult::unknown);
    // Reference colours beyond 0..255 in a map do not overflow the distance.
    const std::int64_t huge = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(PixelProbe::evaluate({0, 0, 0}, StateProbe{0, 0, {huge, huge, huge}, {0, 0, 1}, 5}), StateProbeResult::dark);
    EXPECT_EQ((PixelRGB{0, 0, 0}).distance({3, 4, 0}), 5);
    EXPECT_EQ((PixelRGB{0, 0, 0}).distance({1, 1, 1}), 1);  // 1.73 truncated
}

}  // namespace
}  // namespace corvane
