// The mapped reader's and writer's own arithmetic and readings: display formats, numbers typed with
// units, what each kind of control reads as, and the bounded convergence.

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "plugins/mapped_reader.h"
#include "plugins/mapped_writer.h"
#include "test_support/fake_ax.h"
#include "test_support/manual_clock.h"

namespace corvane {
namespace {

using testing::FakeElement;

TEST(MappedValuesTest, DisplayFormatsFollowTheUnit) {
    struct Case {
        double value;
        std::optional<std::string> unit;
        const char* expected;
    };
    for (const Case& c : {Case{-6.04, "dB", "-6.0 dB"}, Case{999.6, "ms", "1000 ms"}, Case{-1500, "ms", "-1.50 s"},
                          Case{1.5, "SEC", "1.50 s"}, Case{632.455, "Hz", "632 Hz"}, Case{20000, "hz", "20.00 kHz"},
                          Case{2.5, "kHz", "2.50 kHz"}, Case{4, ":1", "4.0:1"}, Case{49.6, "%", "50%"},
                          Case{0.125, std::nullopt, "0.12"}, Case{3, "st", "3.0 st"}, Case{2.5, "Oct", "2.5 Oct"}})
        EXPECT_EQ(MappedPluginReader::formatDisplay(c.value, c.unit), c.expected) << c.value << " " << c.unit.value_or("");
}

TEST(MappedValuesTest, TypedNumbersAreReadInTheParametersOwnUnit) {
    struct Case {
        const char* text;
        std::optional<std::string> unit;
        std::optional<double> expected;
    };
    for (const Case& c : {Case{"2.5 kHz", "Hz", 2500}, Case{"2.5 kHz", "kHz", 2.5}, Case{"400 Hz", "kHz", 0.4},
                          Case{"1.2 s", "ms", 1200}, Case{"1.2 s", "s", 1.2}, Case{"1.2 seconds", "s", 1.2},
                          Case{"250 ms", "ms", 250}, Case{"250 ms", "s", 0.25}, Case{"1.2 s", std::nullopt, 1200},
                          Case{"+3 dB", "dB", 3}, Case{" -6", "dB", -6}, Case{"40%", "%", 40},
                          Case{".5", "dB", std::nullopt}, Case{"loud", "dB", std::nullopt}})
        EXPECT_EQ(MappedPluginWriter::parseLeadingNumber(c.text, c.unit), c.expected) << c.text << " as " << c.unit.value_or("-");
}

ParameterDef def(ParameterType type) {
    ParameterDef d;
    d.id = "p";
    d.label = "P";
    d.type = type;
    d.editorAX = AXTarget{{}, "ctl", {}, {}};
    return d;
}

TEST(MappedValuesTest, ControlsReadAccordingToTheirType) {
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
             Case{"blank description: from the map", gain, platform::AXValue{std::int64_t{64}}, std::string("  \t "), {"64", "-29.8 dB"}},
             Case{"description wins", gain, platform::AXValue{64.0}, std::string(" -30 dB "), {"64", "-30 dB"}},
             Case{"a fraction is no raw value", gain, platform::AXValue{0.5}, std::nullopt, {}},
             Case{"toggle value other than 1", toggle, platform::AXValue{std::int64_t{2}}, std::nullopt, {"2", "off"}},
             Case{"option label in other case", selector, platform::AXValue{std::string("high pass")}, std::nullopt, {"hp", "High Pass"}},
             Case{"option id", selector, platform::AXValue{std::string("LP")}, std::nullopt, {"lp", "Low Pass"}},
             Case{"unknown option text", selector, platform::AXValue{std::string("Notch")}, std::nullopt, {"Notch", "Notch"}},
             Case{"empty value, no probes", selector, platform::AXValue{std::string("")}, std::nullopt, {}},
             Case{"momentary reads nothing", def(ParameterType::momentary), platform::AXValue{std::int64_t{1}}, std::nullopt, {}},
         }) {
        auto control = FakeElement::make("AXSlider")->set("AXIdentifier", std::string("ctl"));
        if (c.value) control->set("AXValue", *c.value);
        if (c.description) control->set("AXValueDescription", *c.description);
        auto window = FakeElement::make("AXWindow")->add(FakeElement::make("AXGroup")->add(control));
        EXPECT_EQ(MappedPluginReader::read(c.def, window->handle(), nullptr), c.expected) << c.what;
    }
}

TEST(MappedValuesTest, ConvergenceGivesUpOnAControlThatIgnoresWrites) {
    testing::ManualClock clock;
    platform::ScopedServices services({nullptr, nullptr, nullptr, nullptr, &clock, nullptr});
    auto control = FakeElement::make("AXSlider")->set("AXValue", std::int64_t{10});
    control->writeTransform = [](const platform::AXValue&) { return platform::AXValue{std::int64_t{10}}; };
    MappedPluginWriter::writeAndConverge(control->handle(), 90);
    // One write, then one per read until the fifth identical read in a row.
    EXPECT_EQ(control->writes.size(), 5u);

    auto willing = FakeElement::make("AXSlider")->set("AXValue", std::int64_t{10});
    MappedPluginWriter::writeAndConverge(willing->handle(), 90);
    EXPECT_EQ(willing->writes.size(), 1u);
    MappedPluginWriter::writeAndConverge(willing->handle(), 90);  // already there: nothing written
    EXPECT_EQ(willing->writes.size(), 1u);
}

}  // namespace
}  // namespace corvane
