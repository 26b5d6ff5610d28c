// How the Controls view is labelled and how typed values are understood: help texts, labels from
// the texts beside a control, identifiers, numbered repeats, value units, and the choice among
// several controls of one label.

#include <gtest/gtest.h>

#include "plugins/controls_view_fallback.h"
#include "test_support/fake_ax.h"

namespace corvane {
namespace {

using testing::FakeElement;
using CV = ControlsViewFallback;

std::shared_ptr<FakeElement> placed(std::shared_ptr<FakeElement> e, double x, double y, double w, double h) {
    return e->set("AXPosition", platform::Point{x, y})->set("AXSize", platform::Size{w, h});
}

TEST(ControlsViewLabelsTest, HelpTextsGiveTheParameterName) {
    struct Case {
        const char* help;
        const char* name;
    };
    for (const Case& c : {Case{"Attack knob and field. Sets how fast the compressor reacts.", "Attack"},
                          Case{"Threshold (applies to the detector) slider", "Threshold (applies to the detector)"},
                          Case{"Threshold (applies to the detector)", "Threshold"},
                          Case{"Ratio (a very long remark)", "Ratio"},
                          Case{"Gain (L) slider", "Gain (L)"},
                          Case{"Gain (Sidechains)", "Gain (Sidechains)"},  // 10 characters: part of the name
                          Case{"Gain (Sidechained)", "Gain"},              // 11: a remark
                          Case{"Low\u00A0Cut KNOB", "Low Cut"},
                          Case{"  Mix sliders and fields ", "Mix"},
                          Case{"Reset button", "Reset"},
                          Case{"", ""}})
        EXPECT_EQ(CV::parameterLabelFromHelp(c.help), c.name) << c.help;
}

TEST(ControlsViewLabelsTest, ControlsWithoutTheirOwnLabelTakeTheNearestTextToTheLeft) {
    const std::vector<CV::StaticTextLabel> texts = {
        {"Far:", {0, 104, 50, 20}},       // centre 9 points away
        {"Near:", {0, 97, 50, 20}},       // centre 2 points away
        {"Right", {200, 100, 50, 20}},    // right of the control
        {"Also near", {60, 93, 40, 20}},  // right edge 100, 2 points away as well: the earlier wins
    };
    auto control = placed(FakeElement::make("AXCheckBox"), 100, 95, 20, 20);
    EXPECT_EQ(CV::resolveLabel(control->handle(), texts), "Near");
    control->set("AXTitle", std::string("  Titled \n"));
    EXPECT_EQ(CV::resolveLabel(control->handle(), texts), "Titled");
    control->set("AXDescription", std::string("Described"));
    EXPECT_EQ(CV::resolveLabel(control->handle(), texts), "Described");
    EXPECT_EQ(CV::resolveLabel(placed(FakeElement::make("AXCheckBox"), 100, 300, 20, 20)->handle(), texts), "");
}

TEST(ControlsViewLabelsTest, IdentifiersAndRepeatedLabels) {
    EXPECT_EQ(CV::identifierSlug("Attack Time (ms)"), "attack_time_ms");
    EXPECT_EQ(CV::identifierSlug("\u00DCber-Gain"), "\u00FCber_gain");
    EXPECT_EQ(CV::identifierSlug("--!"), "--!");
    std::vector<ParameterEntry> entries;
    for (const char* label : {"Gain", "gain", "Mix", "GAIN"}) {
        entries.emplace_back();
        entries.back().def.label = label;
        entries.back().def.id = CV::identifierSlug(label);
    }
    std::vector<std::string> out;
    for (const auto& e : CV::disambiguateDuplicateLabels(entries)) out.push_back(e.def.id + "=" + e.def.label);
    EXPECT_EQ(out, (std::vector<std::string>{"gain=Gain", "gain_2=gain [2]", "mix=Mix", "gain_3=GAIN [3]"}));
    EXPECT_TRUE(CV::isExcludedLabel("ByPass"));
    EXPECT_FALSE(CV::isExcludedLabel("Bypass Mix"));
}

TEST(ControlsViewLabelsTest, ValuesAndUnitsAreComparedInCanonicalUnits) {
    struct Case {
        const char* text;
        double value;
        const char* unit;
        double canonical;
        const char* canonicalUnit;
    };
    for (const Case& c : {Case{"1,000 Hz", 1000, "Hz", 1000, "Hz"}, Case{"-6 dB", -6, "dB", -6, "dB"},
                          Case{"1.5 s", 1.5, "s", 1500, "ms"}, Case{"set it to 2.5kHz", 2.5, "kHz", 2500, "Hz"},
                          Case{"4:1", 4, ":1", 4, ":1"}, Case{"12.7", 12.7, "", 12.7, ""}, Case{"3 st", 3, "st", 3, "st"}}) {
        const auto parsed = CV::parseValueAndUnit(c.text);
        ASSERT_TRUE(parsed) << c.text;
        EXPECT_EQ(parsed->value, c.value) << c.text;
        EXPECT_EQ(parsed->unit, c.unit) << c.text;
        EXPECT_EQ(CV::toCanonical(parsed->value, parsed->unit), c.canonical) << c.text;
        EXPECT_EQ(CV::canonicalUnit(parsed->unit), c.canonicalUnit) << c.text;
    }
    EXPECT_FALSE(CV::parseValueAndUnit("loud"));
    EXPECT_EQ(CV::formatCanonical(1500, "ms"), "1.50 s");
    EXPECT_EQ(CV::formatCanonical(999, "Hz"), "999 Hz");
    EXPECT_EQ(CV::formatCanonical(3, "st"), "3.0 st");
    EXPECT_EQ(CV::canonicalTolerance("Hz"), 5.0);
    EXPECT_EQ(CV::parseLabelIndex("Gain [2]"), (std::pair<std::string, std::optional<std::int64_t>>{"Gain", 2}));
    EXPECT_EQ(CV::parseLabelIndex("Gain[12] "), (std::pair<std::string, std::optional<std::int64_t>>{"Gain", 12}));
    EXPECT_EQ(CV::parseLabelIndex("Gain [x]"), (std::pair<std::string, std::optional<std::int64_t>>{"Gain [x]", std::nullopt}));
}

TEST(ControlsViewLabelsTest, AShortNameSharedByTwoControlsAsksWhichOne) {
    // The reader lists these as "Freq Low" and "Freq High"; "Freq" alone could be either.
    auto slider = [](double y) {
        return placed(FakeElement::make("AXSlider")->set("AXHelp", std::string("Freq slider"))->set("AXValue", std::int64_t{3}), 120, y, 200, 20);
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
    EXPECT_EQ(r.message,
              "'Freq' is ambiguous \u2014 2 controls have that label. Specify which one with a suffix, e.g. 'Freq [2]'. "
              "Available: [1], [2].");
    EXPECT_TRUE(window->children[1]->writes.empty());
}

}  // namespace
}  // namespace corvane
