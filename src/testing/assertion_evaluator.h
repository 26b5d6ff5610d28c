#pragma once

// Checks one test assertion against what a test run observed: the snapshots taken before and
// after the turn, the turn's tool log and its final response. Pure: never throws, never waits,
// never touches Logic Pro; every fault of an assertion becomes a failed result with its message.
//
// An assertion with nothing to look at (a track that was never snapshotted, a field no snapshot
// has, a turn without a log or a response) fails and says what was missing: passing it would
// report a check that never happened.

#include <functional>
#include <optional>
#include <string>

#include "chat/tool_logger.h"
#include "model/chat_model.h"
#include "testing/test_records.h"

namespace corvane {

struct AssertionEvaluator {
    static AssertionResult evaluateTrackAssertion(const TestAssertion& assertion, const SnapshotMap& before,
                                                  const SnapshotMap& after);
    static AssertionResult evaluatePluginAssertion(const TestAssertion& assertion, const SnapshotMap& after);
    static AssertionResult evaluateToolAssertion(const TestAssertion& assertion, const std::optional<TurnLog>& turnLog);
    static AssertionResult evaluateAgentAssertion(const TestAssertion& assertion,
                                                  const std::optional<ChatResponse>& response,
                                                  const std::optional<TurnLog>& turnLog);
    // Chooses the evaluator by the assertion's type (exact); an unknown type fails.
    static AssertionResult evaluate(const TestAssertion& assertion, const SnapshotMap& before, const SnapshotMap& after,
                                    const std::optional<ChatResponse>& response, const std::optional<TurnLog>& turnLog);

    // The snapshot field of that name; absent for another name or no snapshot.
    static std::optional<std::string> fieldValue(const std::string& field, const TrackSnapshot* snapshot);
    static bool isSnapshotField(const std::string& field);
    // A number once every " dB", then "dB", is removed and spaces and tabs are trimmed.
    static std::optional<double> parseNumeric(const std::optional<std::string>& text);
};

}  // namespace corvane
