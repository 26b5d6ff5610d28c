// The mapped writer's own arithmetic: numbers typed with units, and the bounded convergence.

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "plugins/mapped_writer.h"
#include "test_support/fake_ax.h"
#include "test_support/manual_clock.h"

namespace corvane {
namespace {

using testing::FakeElement;

TEST(MappedWriter, TypedNumbersAreReadInTheParametersOwnUnit) {
    struct Case {
        const char* text;
        std::optional<std::string> unit;
        std::optional<double> expected;
    };
    for (const Case& c :
         {Case{"2.5 kHz", "Hz", 2500}, Case{"2.5 kHz", "kHz", 2.5}, Case{"400 Hz", "kHz", 0.4},
          Case{"1.2 s", "ms", 1200}, Case{"1.2 s", "s", 1.2}, Case{"1.2 seconds", "s", 1.2}, Case{"250 ms", "ms", 250},
          Case{"250 ms", "s", 0.25}, Case{"1.2 s", std::nullopt, 1200}, Case{"+3 dB", "dB", 3}, Case{" -6", "dB", -6},
          Case{"40%", "%", 40}, Case{".5", "dB", std::nullopt}, Case{"loud", "dB", std::nullopt}})
        EXPECT_EQ(MappedPluginWriter::parseLeadingNumber(c.text, c.unit), c.expected)
            << c.text << " as " << c.unit.value_or("-");
}

TEST(MappedWriter, ConvergenceGivesUpOnAControlThatIgnoresWrites) {
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
