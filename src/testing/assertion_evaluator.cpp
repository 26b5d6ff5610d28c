#include "testing/assertion_evaluator.h"

#include <string_view>

#include "support/numbers.h"
#include "support/unicode.h"

namespace corvane {

namespace {

constexpr const char* kNil = "nil";
constexpr const char* kSnapshotHint = " (list the track in snapshotTracks)";
constexpr const char* kNoToolLog = ": no tool log for this turn";

std::string shown(const std::optional<std::string>& value) { return value ? *value : kNil; }

AssertionResult pass(std::string message) { return {true, std::move(message)}; }
AssertionResult fail(std::string message) { return {false, std::move(message)}; }

// One pass, left to right: a piece formed by joining what surrounds a removed one stays, as with
// repeated find-and-erase, without moving the rest of the text for every match.
std::string withoutAll(const std::string& text, std::string_view piece) {
    std::string kept;
    kept.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        if (text.compare(at, piece.size(), piece) == 0) {
            at += piece.size();
        } else {
            kept.push_back(text[at++]);
        }
    }
    return kept;
}

const TrackSnapshot* lookup(const SnapshotMap& map, const std::string& track) {
    const auto found = map.find(track);
    return found == map.end() ? nullptr : &found->second;
}

bool isOn(const std::optional<std::string>& value) {
    return value && (*value == "1" || text::lowercased(*value) == "on");
}
bool isOff(const std::optional<std::string>& value) {
    return value && (*value == "0" || text::lowercased(*value) == "off");
}

AssertionResult numericComparison(const std::string& label, const std::optional<std::string>& beforeVal,
                                  const std::optional<std::string>& afterVal,
                                  const std::function<bool(double, double)>& compare) {
    const auto before = AssertionEvaluator::parseNumeric(beforeVal);
    const auto after = AssertionEvaluator::parseNumeric(afterVal);
    if (!before || !after)
        return fail(label + ": can't parse numerics (" + shown(beforeVal) + " -> " + shown(afterVal) + ")");
    const bool ok = compare(*before, *after);
    return {ok, label + ": " + shown(beforeVal) + " -> " + shown(afterVal) + " (" + (ok ? "OK" : "FAIL") + ")"};
}

AssertionResult thresholdComparison(const std::string& label, const std::optional<std::string>& afterVal,
                                    const std::string& op, const std::optional<std::string>& value) {
    const auto after = AssertionEvaluator::parseNumeric(afterVal);
    const auto limit = AssertionEvaluator::parseNumeric(value);
    if (!after || !limit)
        return fail(label + ": can't parse for " + op + " check (" + shown(afterVal) + " vs " + shown(value) + ")");
    bool ok = false;
    if (op == "gt") ok = *after > *limit;
    if (op == "lt") ok = *after < *limit;
    if (op == "gte") ok = *after >= *limit;
    if (op == "lte") ok = *after <= *limit;
    return {ok, label + ": " + shown(afterVal) + " " + op + " " + shown(value) + " (" + (ok ? "OK" : "FAIL") + ")"};
}

}  // namespace

bool AssertionEvaluator::isSnapshotField(const std::string& field) {
    return field == "volume" || field == "volumeDisplay" || field == "pan" || field == "solo" || field == "mute" ||
           field == "output" || field == "channelMode";
}

std::optional<std::string> AssertionEvaluator::fieldValue(const std::string& field, const TrackSnapshot* snapshot) {
    if (!snapshot) return std::nullopt;
    if (field == "volume") return snapshot->volume;
    if (field == "volumeDisplay") return snapshot->volumeDisplay;
    if (field == "pan") return snapshot->pan;
    if (field == "solo") return snapshot->solo;
    if (field == "mute") return snapshot->mute;
    if (field == "output") return snapshot->output;
    if (field == "channelMode") return snapshot->channelMode;
    return std::nullopt;
}

std::optional<double> AssertionEvaluator::parseNumeric(const std::optional<std::string>& input) {
    if (!input) return std::nullopt;
    const std::string text = withoutAll(withoutAll(*input, " dB"), "dB");
    return readNumber(text::trimSpacesAndTabs(text));
}

AssertionResult AssertionEvaluator::evaluateTrackAssertion(const TestAssertion& a, const SnapshotMap& before,
                                                           const SnapshotMap& after) {
    if (!a.track || !a.field) return fail("Track assertion missing 'track' or 'field'");
    const std::string label = *a.track + " " + *a.field;
    const std::string& op = a.op;
    const bool comparesBefore = op == "changed" || op == "unchanged" || op == "increased" || op == "decreased";
    const bool readsAfterOnly =
        op == "equals" || op == "gt" || op == "lt" || op == "gte" || op == "lte" || op == "is_on" || op == "is_off";
    if (!comparesBefore && !readsAfterOnly) return fail(label + ": unknown op '" + op + "'");
    if (!isSnapshotField(*a.field))
        return fail(label + ": no such snapshot field (one of volume, volumeDisplay, pan, solo, mute, output, " +
                    "channelMode)");

    const TrackSnapshot* beforeSnapshot = lookup(before, *a.track);
    const TrackSnapshot* afterSnapshot = lookup(after, *a.track);
    if (comparesBefore && !beforeSnapshot) return fail(label + ": no before snapshot" + kSnapshotHint);
    if (!afterSnapshot) return fail(label + ": no after snapshot" + kSnapshotHint);
    const auto beforeVal = fieldValue(*a.field, beforeSnapshot);
    const auto afterVal = fieldValue(*a.field, afterSnapshot);

    if (op == "changed" || op == "unchanged") {
        const bool differ = beforeVal != afterVal;
        const std::string message = label + ": " + shown(beforeVal) + " -> " + shown(afterVal) + " (" +
                                    (differ ? "changed" : "unchanged") + ")";
        return {op == "changed" ? differ : !differ, message};
    }
    if (op == "increased")
        return numericComparison(label, beforeVal, afterVal, [](double b, double v) { return b < v; });
    if (op == "decreased")
        return numericComparison(label, beforeVal, afterVal, [](double b, double v) { return v < b; });
    if (op == "equals")
        return {afterVal == a.value, label + ": " + shown(afterVal) + " (expected " + shown(a.value) + ")"};
    if (op == "is_on") return {isOn(afterVal), label + ": " + shown(afterVal) + " (expected on)"};
    if (op == "is_off") return {isOff(afterVal), label + ": " + shown(afterVal) + " (expected off)"};
    return thresholdComparison(label, afterVal, op, a.value);
}

AssertionResult AssertionEvaluator::evaluatePluginAssertion(const TestAssertion& a, const SnapshotMap& after) {
    if (!a.track || !a.plugin) return fail("Plugin assertion missing 'track' or 'plugin'");
    const std::string label = *a.track + " plugin '" + *a.plugin + "'";
    const std::string& op = a.op;
    if (op != "present" && op != "absent" && op != "bypassed" && op != "active")
        return fail(label + ": unknown op '" + op + "'");
    const TrackSnapshot* snapshot = lookup(after, *a.track);
    if (!snapshot) return fail(label + ": no after snapshot" + kSnapshotHint);

    const TrackSnapshot::PluginEntry* match = nullptr;
    if (!a.plugin->empty()) {
        for (const auto& entry : snapshot->plugins) {
            if (text::containsIgnoringCase(entry.name, *a.plugin)) {
                match = &entry;
                break;
            }
        }
    }
    if (op == "present") return match ? pass(label + ": found") : fail(label + ": not found");
    if (op == "absent") return match ? fail(label + ": still present") : pass(label + ": absent");
    if (op == "bypassed")
        return match && match->isBypassed ? pass(label + ": bypassed") : fail(label + ": not bypassed");
    return match && !match->isBypassed ? pass(label + ": active") : fail(label + ": bypassed or missing");
}

AssertionResult AssertionEvaluator::evaluateToolAssertion(const TestAssertion& a,
                                                          const std::optional<TurnLog>& turnLog) {
    const std::string& op = a.op;
    if (op == "was_called" || op == "was_not_called") {
        if (!a.tool) return fail("tool assertion missing 'tool' field");
        const std::string label = "tool " + *a.tool;
        if (!turnLog) return fail(label + kNoToolLog);
        bool called = false;
        for (const auto& call : turnLog->toolCalls) called = called || call.tool == *a.tool;
        if (op == "was_called") return called ? pass(label + ": called") : fail(label + ": not called");
        return called ? fail(label + ": was called") : pass(label + ": not called");
    }
    if (op == "all_succeeded") {
        if (!turnLog) return fail(std::string("all_succeeded") + kNoToolLog);
        std::string names;
        int failed = 0;
        for (const auto& call : turnLog->toolCalls) {
            if (call.succeeded) continue;
            names += (failed++ ? ", " : "") + call.tool;
        }
        if (failed) return fail(std::to_string(failed) + " tool call(s) failed: " + names);
        return pass("all " + std::to_string(turnLog->toolCalls.size()) + " tool calls succeeded");
    }
    return fail("tool: unknown op '" + op + "'");
}

AssertionResult AssertionEvaluator::evaluateAgentAssertion(const TestAssertion& a,
                                                           const std::optional<ChatResponse>& response,
                                                           const std::optional<TurnLog>& turnLog) {
    const std::string& op = a.op;
    if (op == "response_contains") {
        if (!a.value) return fail("response_contains needs 'value'");
        if (!response) return fail("response_contains: no agent response for this turn");
        const bool found =
            !a.value->empty() &&
            text::lowercased(response->assistantMessage).find(text::lowercased(*a.value)) != std::string::npos;
        return {found, std::string("response ") + (found ? "contains" : "missing") + " '" + *a.value + "'"};
    }
    if (op == "max_rounds") {
        const auto limit = a.value ? readInteger(*a.value) : std::nullopt;
        if (!limit) return fail("max_rounds needs integer 'value'");
        if (!turnLog) return fail(std::string("max_rounds") + kNoToolLog);
        const std::int64_t rounds = turnLog->totalRounds;
        return {rounds <= *limit, "rounds: " + std::to_string(rounds) + " (limit " + std::to_string(*limit) + ")"};
    }
    return fail("agent: unknown op '" + op + "'");
}

AssertionResult AssertionEvaluator::evaluate(const TestAssertion& assertion, const SnapshotMap& before,
                                             const SnapshotMap& after, const std::optional<ChatResponse>& response,
                                             const std::optional<TurnLog>& turnLog) {
    if (assertion.type == "track") return evaluateTrackAssertion(assertion, before, after);
    if (assertion.type == "plugin") return evaluatePluginAssertion(assertion, after);
    if (assertion.type == "tool") return evaluateToolAssertion(assertion, turnLog);
    if (assertion.type == "agent") return evaluateAgentAssertion(assertion, response, turnLog);
    return fail("Unknown assertion type: " + assertion.type);
}

}  // namespace corvane
