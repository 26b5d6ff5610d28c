// Which control a written name addresses (an index in brackets, a name several controls share),
// and what a failed slider write leaves.

#include <gtest/gtest.h>

#include "plugins/controls_view_fallback.h"
#include "platform/platform.h"
#include "test_support/fake_ax.h"
#include "test_support/manual_clock.h"

namespace corvane {
namespace {

using testing::FakeElement;

std::shared_ptr<FakeElement> placed(std::shared_ptr<FakeElement> e, double x, double y, double w, double h) {
    return e->set("AXPosition", platform::Point{x, y})->set("AXSize", platform::Size{w, h});
}

using CV = ControlsViewFallback;

TEST(ControlsViewWriter, AnIndexInBracketsPicksOneOfTheControlsOfALabel) {
    EXPECT_EQ(CV::parseLabelIndex("Gain [2]"), (std::pair<std::string, std::optional<std::int64_t>>{"Gain", 2}));
    EXPECT_EQ(CV::parseLabelIndex("Gain[12] "), (std::pair<std::string, std::optional<std::int64_t>>{"Gain", 12}));
    EXPECT_EQ(CV::parseLabelIndex("Gain [x]"),
              (std::pair<std::string, std::optional<std::int64_t>>{"Gain [x]", std::nullopt}));
}

TEST(ControlsViewWriter, AShortNameSharedByTwoControlsAsksWhichOne) {
    // The reader lists these as "Freq Low" and "Freq High"; "Freq" alone could be either.
    auto slider = [](double y) {
        return placed(
            FakeElement::make("AXSlider")->set("AXHelp", std::string("Freq slider"))->set("AXValue", std::int64_t{3}),
            120, y, 200, 20);
    };
    auto label = [](const char* text, double y) {
        return placed(FakeElement::make("AXStaticText")->set("AXValue", std::string(text)), 10, y, 100, 20);
    };
    auto window = FakeElement::make("AXWindow");
    window->add(label("Freq Low", 100))->add(slider(100))->add(label("Freq High", 130))->add(slider(130));
    std::vector<std::string> labels;
    for (const auto& e : CV::read(window->handle())) labels.push_back(e.def.label);
    EXPECT_EQ(labels, (std::vector<std::string>{"Freq Low", "Freq High"}));
    const auto r = CV::write("Freq", "3", window->handle(), window->handle());
    EXPECT_FALSE(r.success);
    EXPECT_EQ(
        r.message,
        "'Freq' is ambiguous \u2014 2 controls have that label. Specify which one with a suffix, e.g. 'Freq [2]'. "
        "Available: [1], [2].");
    EXPECT_TRUE(window->children[1]->writes.empty());
}

// A probe that moved the slider and then could not read it, on a slider that no longer takes
// writes or whose raw value was never read: the answer says where the parameter was left.
TEST(ControlsViewWriter, ASliderThatCannotBePutBackIsNamedWithItsValue) {
    testing::ManualClock clock;
    platform::ScopedServices services({nullptr, nullptr, nullptr, nullptr, &clock, nullptr});
    for (const bool rawRead : {true, false}) {
        auto main = placed(FakeElement::make("AXSlider")->set("AXHelp", std::string("Freq slider")), 120, 100, 200, 20);
        if (rawRead) main->set("AXValue", std::int64_t{3});
        auto readout = placed(FakeElement::make("AXSlider")->set("AXValueDescription", std::string("3.0 dB")), 330,
                              100, 40, 20);
        main->writeTransform = [&](const platform::AXValue& v) {
            main->rejectWrites = true;
            readout->attributes.erase("AXValueDescription");
            return v;
        };
        auto window = FakeElement::make("AXWindow");
        window->add(main)->add(readout);
        const auto r = CV::write("Freq", "6 dB", window->handle(), window->handle());
        const std::int64_t left = rawRead ? 8 : 5;
        EXPECT_EQ(main->attributes["AXValue"], platform::AXValue(left));
        EXPECT_FALSE(r.success);
        EXPECT_EQ(r.message, "Probe failed for Freq; Freq could not be put back and shows " + std::to_string(left) +
                                 " (was 3.0 dB)");
    }
}

}  // namespace
}  // namespace corvane
