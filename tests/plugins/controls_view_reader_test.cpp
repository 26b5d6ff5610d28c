// How the Controls view is labelled: help texts, labels from the texts beside a control,
// identifiers and numbered repeats.

#include <gtest/gtest.h>

#include "plugins/controls_view_fallback.h"
#include "test_support/fake_ax.h"

namespace corvane {
namespace {

using testing::FakeElement;

std::shared_ptr<FakeElement> placed(std::shared_ptr<FakeElement> e, double x, double y, double w, double h) {
    return e->set("AXPosition", platform::Point{x, y})->set("AXSize", platform::Size{w, h});
}

using CV = ControlsViewFallback;

TEST(ControlsViewReader, HelpTextsGiveTheParameterName) {
    struct Case {
        const char* help;
        const char* name;
    };
    for (const Case& c : {Case{"Attack knob and field. Sets how fast the compressor reacts.", "Attack"},
                          Case{"Threshold (applies to the detector) slider", "Threshold (applies to the detector)"},
                          Case{"Threshold (applies to the detector)", "Threshold"},
                          Case{"Ratio (a very long remark)", "Ratio"}, Case{"Gain (L) slider", "Gain (L)"},
                          Case{"Gain (Sidechains)", "Gain (Sidechains)"},  // 10 characters: part of the name
                          Case{"Gain (Sidechained)", "Gain"},              // 11: a remark
                          Case{"Low\u00A0Cut KNOB", "Low Cut"}, Case{"  Mix sliders and fields ", "Mix"},
                          Case{"Reset button", "Reset"}, Case{"", ""}})
        EXPECT_EQ(CV::parameterLabelFromHelp(c.help), c.name) << c.help;
}

TEST(ControlsViewReader, ControlsWithoutTheirOwnLabelTakeTheNearestTextToTheLeft) {
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

TEST(ControlsViewReader, IdentifiersAndRepeatedLabels) {
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

}  // namespace
}  // namespace corvane
