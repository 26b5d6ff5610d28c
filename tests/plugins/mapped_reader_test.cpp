// The mapped reader's display formats and what each kind of control reads as.

#include <gtest/gtest.h>

#include "plugins/mapped_reader.h"
#include "test_support/fake_ax.h"

namespace corvane {
namespace {

using testing::FakeElement;

TEST(MappedReader, DisplayFormatsFollowTheUnit) {
    struct Case {
        double value;
        std::optional<std::string> unit;
        const char* expected;
    };
    for (const Case& c : {Case{-6.04, "dB", "-6.0 dB"}, Case{999.6, "ms", "1000 ms"}, Case{-1500, "ms", "-1.50 s"},
                          Case{1.5, "SEC", "1.50 s"}, Case{632.455, "Hz", "632 Hz"}, Case{20000, "hz", "20.00 kHz"},
                          Case{2.5, "kHz", "2.50 kHz"}, Case{4, ":1", "4.0:1"}, Case{49.6, "%", "50%"},
                          Case{0.125, std::nullopt, "0.12"}, Case{3, "st", "3.0 st"}, Case{2.5, "Oct", "2.5 Oct"}})
        EXPECT_EQ(MappedPluginReader::formatDisplay(c.value, c.unit), c.expected)
            << c.value << " " << c.unit.value_or("");
}

ParameterDef def(ParameterType type) {
    ParameterDef d;
    d.id = "p";
    d.label = "P";
    d.type = type;
    d.editorAX = AXTarget{{}, "ctl", {}, {}};
    return d;
}

TEST(MappedReader, ControlsReadAccordingToTheirType) {
    ParameterDef gain = def(ParameterType::continuous);
    gain.unit = "dB";
    gain.displayMin = -60;
    gain.displayMax = 0;
    gain.rawMin = 0;
    gain.rawMax = 127;
    ParameterDef toggle = def(ParameterType::toggle);
    ParameterDef selector = def(ParameterType::selector);
    selector.options = std::vector<ParameterOption>{{"lp", "Low Pass", {}, {}, {}}, {"hp", "High Pass", {}, {}, {}}};
    struct Case {
        const char* what;
        ParameterDef def;
        std::optional<platform::AXValue> value;
        std::optional<std::string> description;
        ParameterReading expected;
    };
    for (const Case& c : {
             Case{"blank description: from the map",
                  gain,
                  platform::AXValue{std::int64_t{64}},
                  std::string("  \t "),
                  {"64", "-29.8 dB"}},
             Case{"description wins", gain, platform::AXValue{64.0}, std::string(" -30 dB "), {"64", "-30 dB"}},
             Case{"a fraction is no raw value", gain, platform::AXValue{0.5}, std::nullopt, {}},
             Case{"toggle value other than 1", toggle, platform::AXValue{std::int64_t{2}}, std::nullopt, {"2", "off"}},
             Case{"option label in other case",
                  selector,
                  platform::AXValue{std::string("high pass")},
                  std::nullopt,
                  {"hp", "High Pass"}},
             Case{"option id", selector, platform::AXValue{std::string("LP")}, std::nullopt, {"lp", "Low Pass"}},
             Case{"unknown option text",
                  selector,
                  platform::AXValue{std::string("Notch")},
                  std::nullopt,
                  {"Notch", "Notch"}},
             Case{"empty value, no probes", selector, platform::AXValue{std::string("")}, std::nullopt, {}},
             Case{"momentary reads nothing",
                  def(ParameterType::momentary),
                  platform::AXValue{std::int64_t{1}},
                  std::nullopt,
                  {}},
         }) {
        auto control = FakeElement::make("AXSlider")->set("AXIdentifier", std::string("ctl"));
        if (c.value) control->set("AXValue", *c.value);
        if (c.description) control->set("AXValueDescription", *c.description);
        auto window = FakeElement::make("AXWindow")->add(FakeElement::make("AXGroup")->add(control));
        EXPECT_EQ(MappedPluginReader::read(c.def, window->handle(), nullptr), c.expected) << c.what;
    }
}

}  // namespace
}  // namespace corvane
