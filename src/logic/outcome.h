#pragma once

#include <string>

namespace corvane {

// What an operation that changes something in Logic Pro reports: whether the change took effect,
// and a message saying so (or why not) for the user or the model. Outcomes that carry more (a
// value read before or after the change) extend it with their own fields.
struct Outcome {
    bool success = false;
    std::string message;
    friend bool operator==(const Outcome&, const Outcome&) = default;
};

}  // namespace corvane
