#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "logic/outcome.h"

namespace corvane {

// The outcome of every plug-in parameter write: the message is for the agent and passed up
// unchanged; beforeDisplay is the value shown before the write, absent when it could not be read.
struct ParameterWriteResult : Outcome {
    std::optional<std::string> beforeDisplay;
    friend bool operator==(const ParameterWriteResult&, const ParameterWriteResult&) = default;
};

// The message of a write whose press the control refused, for the writers to extend.
inline std::string pressFailedMessage(std::string_view control) { return "AXPress failed for " + std::string(control); }

}  // namespace corvane
