#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "plugins/plugin_map.h"
#include "support/json_fields.h"
#include "test_support/json_helpers.h"

namespace corvane {
namespace {

using nlohmann::json;
using testing::decodes;

json threshold() {
    return {{"id", "threshold"}, {"label", "Threshold"}, {"type", "continuous"},
            {"unit", "dB"},      {"displayMin", -60},    {"displayMax", 0},
            {"rawMin", 0},       {"rawMax", 127},        {"editorAX", {{"role", "AXSlider"}, {"identifier", "thr"}}}};
}

json mapWith(json parameter) {
    return {{"name", "Compressor"}, {"preferredView", "editor"}, {"parameters", json::array({std::move(parameter)})}};
}

json probe() {
    return {{"x", 430}, {"y", 260}, {"litRGB", {0, 200, 255}}, {"darkRGB", {40, 40, 40}}, {"tolerance", 40}};
}

TEST(PluginMapDecoding, OneBadValueRejectsTheWholeMapAndNothingElseDoes) {
    struct Case {
        const char* what;
        json document;
        bool loads;
    };
    const Case cases[] = {
        {"complete", mapWith(threshold()), true},
        {"no preferredView", testing::without(mapWith(threshold()), "preferredView"), false},
        {"unknown preferredView", testing::with(mapWith(threshold()), "preferredView", "both"), false},
        {"no aliases", mapWith(threshold()), true},
        {"no parameters", testing::without(mapWith(threshold()), "parameters"), false},
        {"empty parameters", testing::with(mapWith(threshold()), "parameters", json::array()), true},
        {"curve outside the table", mapWith(testing::with(threshold(), "curve", "cubic")), false},
        {"curve null", mapWith(testing::with(threshold(), "curve", nullptr)), true},
        {"type outside the table", mapWith(testing::with(threshold(), "type", "knob")), false},
        {"label null", mapWith(testing::with(threshold(), "label", nullptr)), false},
        {"rawMin not whole", mapWith(testing::with(threshold(), "rawMin", 0.5)), false},
        {"rawMax as text", mapWith(testing::with(threshold(), "rawMax", "127")), false},
        {"hidden as text", mapWith(testing::with(threshold(), "hidden", "yes")), false},
        {"colour channel not whole",
         mapWith(testing::with(threshold(), "stateProbe", testing::with(probe(), "litRGB", {0, 1.5, 2}))), false},
        {"colour channel boolean",
         mapWith(testing::with(threshold(), "stateProbe", testing::with(probe(), "darkRGB", {true, 0, 0}))), false},
        {"two colour channels",
         mapWith(testing::with(threshold(), "stateProbe", testing::with(probe(), "litRGB", {0, 200}))), true},
        {"probe without tolerance",
         mapWith(testing::with(threshold(), "stateProbe", testing::without(probe(), "tolerance"))), false},
        {"option without label", mapWith(testing::with(threshold(), "options", json::array({{{"id", "a"}}}))), false},
        {"dependency value not text",
         mapWith(testing::with(threshold(), "dependsOn", json::array({{{"parameterId", "mode"}, {"values", {1}}}}))),
         false},
        {"dangling references and inverted range",
         mapWith(testing::with(testing::with(threshold(), "rawMin", 200), "writePrereq",
                               {{"parameterId", "nowhere"}, {"option", "none"}})),
         true},
        {"comments and version keys",
         testing::with(testing::with(mapWith(threshold()), "comment", "hand-made"), "version", 3), true},
        {"alias not text", testing::with(mapWith(threshold()), "aliases", {"Comp", 2}), false},
        {"a list instead of a map", json::array({mapWith(threshold())}), false},
    };
    for (const auto& c : cases) EXPECT_EQ(decodes<PluginMap>(c.document), c.loads) << c.what;
}

TEST(PluginMapDecoding, AbsentOptionalsStayAbsentWithoutDefaults) {
    PluginMap map = decodePluginMap(mapWith(testing::with(threshold(), "curve", nullptr)).dump());
    EXPECT_FALSE(map.aliases.has_value());
    ASSERT_EQ(map.parameters.size(), 1u);
    EXPECT_FALSE(map.parameters[0].curve.has_value());
    EXPECT_FALSE(map.parameters[0].hidden.has_value());
    EXPECT_EQ(map.parameters[0].editorAX->identifier, "thr");
    EXPECT_THROW(decodePluginMap("{\"name\": "), json_fields::DecodeError);
    std::string huge = mapWith(threshold()).dump();
    huge.replace(huge.find("-60"), 3, "-1e400");
    EXPECT_THROW(decodePluginMap(huge), json_fields::DecodeError);
}

TEST(PluginMapEncoding, WritesNoNullsAndSurvivesARoundTrip) {
    json full = testing::with(threshold(), "options",
                              json::array({{{"id", "fast"}, {"label", "Fast"}, {"stateProbe", probe()}}}));
    full["curve"] = "logarithmic";
    full["hidden"] = false;
    full["dependsOn"] = json::array({{{"parameterId", "mode"}, {"values", {"vca", "fet"}}}});
    full["writePrereq"] = {{"parameterId", "mode"}, {"option", "vca"}};
    full["controlsLabel"] = "Thresh";
    json document = testing::with(mapWith(full), "aliases", {"Comp"});
    PluginMap map = document.get<PluginMap>();
    EXPECT_EQ(json(map), document);
    EXPECT_EQ(json(map).get<PluginMap>(), map);

    // An entry built from a definition without unit carries no "unit" key, and no null anywhere.
    ParameterEntry entry;
    entry.def.id = "gain";
    entry.def.label = "Gain";
    entry.def.type = ParameterType::toggle;
    entry.currentDisplay = "on";
    entry.source = ParameterSource::runtime;
    json written = entry;
    EXPECT_EQ(written, json::parse(R"({"def":{"id":"gain","label":"Gain","type":"toggle"},
                                       "currentDisplay":"on","source":"runtime"})"));
    PluginReadResult result;
    result.pluginName = "Compressor";
    result.trackName = "Bass";
    result.viewUsed = PluginViewPreference::controls;
    result.parameters = {entry};
    EXPECT_EQ(json(result).get<PluginReadResult>(), result);
    EXPECT_EQ(json(result)["viewUsed"], "controls");
}

ParameterDef ranged(double dmin, double dmax, std::int64_t rmin, std::int64_t rmax,
                    std::optional<ParameterCurve> curve = std::nullopt) {
    ParameterDef def;
    def.id = "p";
    def.label = "P";
    def.displayMin = dmin;
    def.displayMax = dmax;
    def.rawMin = rmin;
    def.rawMax = rmax;
    def.curve = curve;
    return def;
}

TEST(PluginMapCurves, ShownValuesFollowTheCurveAndClampTheRawValue) {
    const auto log = ParameterCurve::logarithmic;
    struct Case {
        const char* what;
        ParameterDef def;
        std::int64_t raw;
        std::optional<double> shown;
    };
    const Case cases[] = {
        {"logarithmic midpoint", ranged(20, 20000, 0, 100, log), 50, 632.45553203367586},
        {"logarithmic with a zero bound falls back to linear", ranged(0, 20000, 0, 100, log), 50, 10000},
        {"exponential midpoint", ranged(0, 100, 0, 100, ParameterCurve::exponential), 50, 41.421356237309505},
        {"linear dB", ranged(-60, 0, 0, 127), 127, 0},
        {"below the raw range clamps", ranged(-60, 0, 0, 127), -40, -60},
        {"above the raw range clamps", ranged(-60, 0, 0, 127), 400, 0},
        {"empty raw range", ranged(-60, 0, 10, 10), 10, std::nullopt},
        {"extreme raw bounds do not overflow", ranged(0, 1, INT64_MIN, INT64_MAX), INT64_MAX, 1},
        {"a result beyond a double is no value", ranged(1e-300, 1e300, 0, 1, log), 1, std::nullopt},
    };
    for (const auto& c : cases) {
        auto shown = rawToDisplay(c.raw, c.def);
        ASSERT_EQ(shown.has_value(), c.shown.has_value()) << c.what;
        if (shown) {
            EXPECT_NEAR(*shown, *c.shown, 1e-6 * std::max(1.0, std::abs(*c.shown))) << c.what;
        }
    }
    ParameterDef partial = ranged(-60, 0, 0, 127);
    partial.displayMax.reset();
    EXPECT_FALSE(rawToDisplay(64, partial));
}

TEST(PluginMapCurves, DisplayValuesOutsideTheCurveAreNeverTurnedIntoARawGuess) {
    const auto log = ParameterCurve::logarithmic;
    struct Case {
        const char* what;
        ParameterDef def;
        double display;
        std::optional<std::int64_t> raw;
    };
    const Case cases[] = {
        {"linear -6 dB", ranged(-60, 0, 0, 127), -6, 114},
        {"beyond displayMax", ranged(-60, 0, 0, 127), 12, 127},
        {"below displayMin", ranged(-60, 0, 0, 127), -90, 0},
        {"logarithmic inverse", ranged(20, 20000, 0, 100, log), 632.4555, 50},
        {"logarithmic zero is the bottom", ranged(20, 20000, 0, 100, log), 0, 0},
        {"logarithmic negative", ranged(20, 20000, 0, 100, log), -5, std::nullopt},
        {"exponential inverse", ranged(0, 100, 0, 100, ParameterCurve::exponential), 41.4213562, 50},
        {"exponential far below its range", ranged(0, 100, 0, 100, ParameterCurve::exponential), -150, std::nullopt},
        {"no display span", ranged(5, 5, 0, 127), 5, std::nullopt},
        {"extreme raw bounds stay in range", ranged(0, 1, INT64_MIN, INT64_MAX), 1, INT64_MAX},
        {"extreme raw bounds bottom", ranged(0, 1, INT64_MIN, INT64_MAX), 0, INT64_MIN},
    };
    for (const auto& c : cases) EXPECT_EQ(rawFromDisplay(c.display, c.def), c.raw) << c.what;
}

TEST(PluginMapUnits, SecondsAndKilohertzAreNotScaledTwiceOnParametersShownInThem) {
    struct Case {
        double value;
        const char* suffix;
        std::optional<std::string> unit;
        double expected;
    };
    const Case cases[] = {
        {1.2, "s", "s", 1.2},
        {1.2, " sec", "seconds", 1.2},
        {2.5, "kHz", "kHz", 2.5},
        {1.2, "s", "ms", 1200},
        {2.5, "kHz", "Hz", 2500},
        {250, "ms", "s", 0.25},
        {500, "Hz", "kHz", 0.5},
        {250, "ms", "ms", 250},
        {2.5, "khz", std::nullopt, 2500},
        {1.5, "seconds", std::nullopt, 1500},
        {2.5, "kHz", "dB", 2500},
        {3, "dB", "dB", 3},
        {40, "", "kHz", 40},
        {50, "%", "%", 50},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(valueInParameterUnit(c.value, c.suffix, c.unit), c.expected)
            << c.value << " '" << c.suffix << "' on " << c.unit.value_or("(none)");

    // Through to the control: 1.2 s on a release shown 0.01…5 s lands mid-range, not at the top.
    ParameterDef release = ranged(0.01, 5, 0, 499);
    release.unit = "s";
    auto raw = rawFromDisplay(valueInParameterUnit(1.2, "s", release.unit), release);
    ASSERT_TRUE(raw);
    EXPECT_EQ(*raw, 119);
}

}  // namespace
}  // namespace corvane
