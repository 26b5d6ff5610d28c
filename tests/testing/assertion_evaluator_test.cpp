#include "testing/assertion_evaluator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "test_support/work_cost.h"

namespace corvane {
namespace {

using Eval = AssertionEvaluator;
constexpr const char* kHint = " (list the track in snapshotTracks)";

TestAssertion track(const std::string& op, const std::string& field = "volume",
                    std::optional<std::string> value = std::nullopt) {
    return {"track", "Bass", field, op, std::nullopt, std::nullopt, std::move(value)};
}

SnapshotMap volumeOf(std::optional<std::string> volume) {
    TrackSnapshot s;
    s.trackName = "Bass";
    s.volume = std::move(volume);
    s.mute = "on";
    return {{"Bass", s}};
}

TEST(AssertionEvaluatorTest, ParseNumericReadsDecibelTextsOnly) {
    struct Case {
        std::optional<std::string> text;
        std::optional<double> number;
    };
    const std::vector<Case> cases{
        {"-6.0 dB", -6.0}, {"-6.0dB", -6.0}, {" -6.0 dB ", -6.0}, {"\t+3", 3.0},      {"1e2", 100.0},
        {"0x10", {}},      {"12 %", {}},     {"L20", {}},         {"-6 DB", {}},      {"", {}},
        {" dB", {}},       {"\n3", {}},      {"3\n", {}},         {std::nullopt, {}}, {"3 d B", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(Eval::parseNumeric(c.text), c.number) << c.text.value_or("(absent)");
    EXPECT_TRUE(std::isnan(*Eval::parseNumeric("nan")));
    EXPECT_TRUE(std::isinf(*Eval::parseNumeric("-inf")));
}

// A snapshot's text comes from Logic Pro and may be long; removing its units must not cost a
// pass over the rest of the text per unit. Four times the text may cost about four times the
// work, never the sixteen times a quadratic pass costs.
TEST(AssertionEvaluatorTest, ParseNumericOfAHugeTextOfUnitsTakesLinearTime) {
    const auto unitsOf = [](std::size_t size) {
        std::string units;
        while (units.size() < size) units += " dBdB";
        return units;
    };
    const auto parse = [](const std::string& units) {
        EXPECT_EQ(Eval::parseNumeric(units + "-6"), -6.0);
        EXPECT_EQ(Eval::parseNumeric("d" + units + "B"), std::nullopt);
    };
    const std::string small = unitsOf(250'000), large = unitsOf(1'000'000);
    const auto cost = testing::costRatio([&] { parse(small); }, [&] { parse(large); }, 3);
    EXPECT_LT(cost.ratio(), 8.0) << cost.small << " s, then " << cost.large << " s";
}

TEST(AssertionEvaluatorTest, TrackOperatorsAndTheirMessages) {
    struct Case {
        TestAssertion assertion;
        std::optional<std::string> before, after;
        bool passed;
        std::string message;
    };
    const std::vector<Case> cases{
        {track("changed"), "-6.0 dB", "-3.0 dB", true, "Bass volume: -6.0 dB -> -3.0 dB (changed)"},
        {track("changed"), "-6.0 dB", "-6.0 dB", false, "Bass volume: -6.0 dB -> -6.0 dB (unchanged)"},
        {track("unchanged"), std::nullopt, std::nullopt, true, "Bass volume: nil -> nil (unchanged)"},
        {track("changed"), std::nullopt, "-3.0 dB", true, "Bass volume: nil -> -3.0 dB (changed)"},
        {track("changed"), "-6.0 dB", "-6.0dB", true, "Bass volume: -6.0 dB -> -6.0dB (changed)"},
        {track("increased"), "-6.0 dB", "-3.0 dB", true, "Bass volume: -6.0 dB -> -3.0 dB (OK)"},
        {track("increased"), "-6.0 dB", "-6.0dB", false, "Bass volume: -6.0 dB -> -6.0dB (FAIL)"},
        {track("increased"), std::nullopt, "-3.0 dB", false, "Bass volume: can't parse numerics (nil -> -3.0 dB)"},
        {track("decreased"), "-3.0 dB", "-6.0 dB", true, "Bass volume: -3.0 dB -> -6.0 dB (OK)"},
        {track("equals", "volume", "-6.0 dB"), {}, "-6.0 dB", true, "Bass volume: -6.0 dB (expected -6.0 dB)"},
        {track("equals", "volume", "-6 dB"), {}, "-6.0 dB", false, "Bass volume: -6.0 dB (expected -6 dB)"},
        {track("equals"), {}, std::nullopt, true, "Bass volume: nil (expected nil)"},
        {track("gte", "volume", "0"), {}, "0.0 dB", true, "Bass volume: 0.0 dB gte 0 (OK)"},
        {track("gt", "volume", "-6 dB"), {}, "-6.0 dB", false, "Bass volume: -6.0 dB gt -6 dB (FAIL)"},
        {track("lt", "volume", "-3"), {}, "-6.0 dB", true, "Bass volume: -6.0 dB lt -3 (OK)"},
        {track("lte", "volume", "nan"), {}, "-6.0 dB", false, "Bass volume: -6.0 dB lte nan (FAIL)"},
        {track("gt"), {}, "-6.0 dB", false, "Bass volume: can't parse for gt check (-6.0 dB vs nil)"},
        {track("is_on"), {}, "ON", true, "Bass volume: ON (expected on)"},
        {track("is_on"), {}, "1", true, "Bass volume: 1 (expected on)"},
        {track("is_on"), {}, "true", false, "Bass volume: true (expected on)"},
        {track("is_on"), {}, std::nullopt, false, "Bass volume: nil (expected on)"},
        {track("is_off"), {}, "Off", true, "Bass volume: Off (expected off)"},
        {track("loudest"), {}, "0", false, "Bass volume: unknown op 'loudest'"},
    };
    for (const auto& c : cases) {
        const auto result = Eval::evaluateTrackAssertion(c.assertion, volumeOf(c.before), volumeOf(c.after));
        EXPECT_EQ(result, (AssertionResult{c.passed, c.message})) << c.assertion.op << " " << c.message;
    }
}

TEST(AssertionEvaluatorTest, TrackAssertionsWithoutEvidenceFailAndSaySo) {
    const auto snapshots = volumeOf("-6.0 dB");
    struct Case {
        TestAssertion assertion;
        SnapshotMap before, after;
        std::string message;
    };
    TestAssertion noField = track("changed");
    noField.field.reset();
    TestAssertion other = track("unchanged");
    other.track = "Keys";
    const std::vector<Case> cases{
        {noField, snapshots, snapshots, "Track assertion missing 'track' or 'field'"},
        {track("unchanged", "trackName"), snapshots, snapshots,
         "Bass trackName: no such snapshot field (one of volume, volumeDisplay, pan, solo, mute, output, "
         "channelMode)"},
        {other, snapshots, snapshots, std::string("Keys volume: no before snapshot") + kHint},
        {track("unchanged"), snapshots, {}, std::string("Bass volume: no after snapshot") + kHint},
        {track("is_on"), {}, {}, std::string("Bass volume: no after snapshot") + kHint},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Eval::evaluateTrackAssertion(c.assertion, c.before, c.after), (AssertionResult{false, c.message}));
    }
    // Only the after snapshot is needed by the after-only operators.
    EXPECT_TRUE(Eval::evaluateTrackAssertion(track("is_on", "mute"), {}, snapshots).passed);
}

TEST(AssertionEvaluatorTest, PluginMatchesTheFirstSlotContainingTheName) {
    TrackSnapshot bass;
    bass.trackName = "Bass";
    bass.plugins = {{0, "Channel EQ", false}, {1, "Compressor", true}, {2, "Compressor", false}};
    const SnapshotMap after{{"Bass", bass}};
    const auto plugin = [](const std::string& op, std::string name, std::string trackName = "Bass") {
        return TestAssertion{"plugin", trackName, std::nullopt, op, std::nullopt, std::move(name), std::nullopt};
    };
    struct Case {
        TestAssertion assertion;
        bool passed;
        std::string message;
    };
    const std::vector<Case> cases{
        {plugin("present", "comp"), true, "Bass plugin 'comp': found"},
        {plugin("active", "comp"), false, "Bass plugin 'comp': bypassed or missing"},
        {plugin("bypassed", "COMP"), true, "Bass plugin 'COMP': bypassed"},
        {plugin("bypassed", "eq"), false, "Bass plugin 'eq': not bypassed"},
        {plugin("active", "eq"), true, "Bass plugin 'eq': active"},
        {plugin("absent", "Reverb"), true, "Bass plugin 'Reverb': absent"},
        {plugin("absent", "EQ"), false, "Bass plugin 'EQ': still present"},
        {plugin("present", ""), false, "Bass plugin '': not found"},
        {plugin("absent", ""), true, "Bass plugin '': absent"},
        {plugin("missing", "EQ"), false, "Bass plugin 'EQ': unknown op 'missing'"},
        {plugin("absent", "EQ", "Keys"), false, std::string("Keys plugin 'EQ': no after snapshot") + kHint},
        {TestAssertion{"plugin", "Bass", {}, "present", {}, {}, {}}, false,
         "Plugin assertion missing 'track' or 'plugin'"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Eval::evaluatePluginAssertion(c.assertion, after), (AssertionResult{c.passed, c.message}));
}

TEST(AssertionEvaluatorTest, ToolAndAgentAssertionsReadTheTurn) {
    TurnLog log;
    log.totalRounds = 3;
    log.toolCalls = {{"t", "c1", "list_tracks", "{}", true, "", {}, 1, 0},
                     {"t", "c2", "set_track_mute", "{}", false, "", {}, 1, 1},
                     {"t", "c3", "set_track_mute", "{}", false, "", {}, 1, 2}};
    ChatResponse response;
    response.ok = true;
    response.assistantMessage = "Guitar is MUTED.";
    const auto make = [](const std::string& type, const std::string& op, std::optional<std::string> tool,
                         std::optional<std::string> value) {
        return TestAssertion{type, {}, {}, op, std::move(tool), {}, std::move(value)};
    };
    struct Case {
        TestAssertion assertion;
        bool withTurn;
        bool passed;
        std::string message;
    };
    const std::vector<Case> cases{
        {make("tool", "was_called", "list_tracks", {}), true, true, "tool list_tracks: called"},
        {make("tool", "was_called", "LIST_TRACKS", {}), true, false, "tool LIST_TRACKS: not called"},
        {make("tool", "was_not_called", "list_tracks", {}), true, false, "tool list_tracks: was called"},
        {make("tool", "was_not_called", "add_plugin", {}), true, true, "tool add_plugin: not called"},
        {make("tool", "all_succeeded", {}, {}), true, false, "2 tool call(s) failed: set_track_mute, set_track_mute"},
        {make("tool", "was_called", {}, {}), true, false, "tool assertion missing 'tool' field"},
        {make("tool", "called", {}, {}), true, false, "tool: unknown op 'called'"},
        {make("tool", "was_not_called", "add_plugin", {}), false, false, "tool add_plugin: no tool log for this turn"},
        {make("tool", "all_succeeded", {}, {}), false, false, "all_succeeded: no tool log for this turn"},
        {make("agent", "response_contains", {}, "muted"), true, true, "response contains 'muted'"},
        {make("agent", "response_contains", {}, "Keys"), true, false, "response missing 'Keys'"},
        {make("agent", "response_contains", {}, ""), true, false, "response missing ''"},
        {make("agent", "response_contains", {}, {}), true, false, "response_contains needs 'value'"},
        {make("agent", "response_contains", {}, "muted"), false, false,
         "response_contains: no agent response for this turn"},
        {make("agent", "max_rounds", {}, "3"), true, true, "rounds: 3 (limit 3)"},
        {make("agent", "max_rounds", {}, "+2"), true, false, "rounds: 3 (limit 2)"},
        {make("agent", "max_rounds", {}, " 3"), true, false, "max_rounds needs integer 'value'"},
        {make("agent", "max_rounds", {}, "3.0"), true, false, "max_rounds needs integer 'value'"},
        {make("agent", "max_rounds", {}, "99999999999999999999"), true, false, "max_rounds needs integer 'value'"},
        {make("agent", "max_rounds", {}, "3"), false, false, "max_rounds: no tool log for this turn"},
        {make("agent", "rounds", {}, "3"), true, false, "agent: unknown op 'rounds'"},
        {make("Track", "changed", {}, {}), true, false, "Unknown assertion type: Track"},
    };
    for (const auto& c : cases) {
        const auto result = Eval::evaluate(c.assertion, {}, {}, c.withTurn ? std::optional(response) : std::nullopt,
                                           c.withTurn ? std::optional(log) : std::nullopt);
        EXPECT_EQ(result, (AssertionResult{c.passed, c.message})) << c.message;
    }
    log.toolCalls.clear();
    EXPECT_EQ(Eval::evaluateToolAssertion({"tool", {}, {}, "all_succeeded", {}, {}, {}}, log),
              (AssertionResult{true, "all 0 tool calls succeeded"}));
}

}  // namespace
}  // namespace corvane
