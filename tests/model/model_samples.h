#pragma once

#include <nlohmann/json.hpp>

namespace corvane::testing {

// A window of Logic Pro as a snapshot lists it.
inline nlohmann::json windowJSON() {
    nlohmann::json frame = {{"x", 0}, {"y", 25.5}, {"width", 1440}, {"height", 875}};
    return {{"title", "Song - Tracks"}, {"frame", frame}, {"isFocused", true}};
}

// A stored capture with every key, in the given mode.
inline nlohmann::json captureJSON(const char* mode = "display") {
    return {{"timestamp", "2026-12-06T15:24:00.123Z"},
            {"mode", mode},
            {"filePath", "/captures/a.png"},
            {"logicContext",
             {{"logicIsRunning", true},
              {"logicIsFrontmost", false},
              {"processIdentifier", 412},
              {"windows", nlohmann::json::array({windowJSON()})}}}};
}

}  // namespace corvane::testing
