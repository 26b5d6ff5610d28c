#pragma once

#include <optional>
#include <string>

#include "logic/outcome.h"

namespace corvane {

// The outcome of every plug-in parameter write: the message is for the agent and passed up
// unchanged; beforeDisplay is the value shown before the write, absent when it could not be read.
struct ParameterWriteResult : Outcome {
    std::optional<std::string> beforeDisplay;
    friend bool operator==(const ParameterWriteResult&, const ParameterWriteResult&) = default;
};

}  // namespace corvane
