#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace corvane {

// The stored timestamps. The default form is fixed-width (24 characters, milliseconds, "Z"),
// so the greatest text is the latest time.
struct ISO8601 {
    using TimePoint = std::chrono::system_clock::time_point;

    static TimePoint now();  // the platform clock's now (virtual under the stand-in)

    // "2026-12-06T15:24:00.123Z": the shared formatter of every stored timestamp.
    static std::string corvaneDefault(TimePoint t);
    // "2026-12-06T15:24:00Z": whole seconds, for backup names, trace lines and tool logs.
    static std::string plainString(TimePoint t);
    // Parses either form (a trailing "Z" or "+00:00"-style offset); absent when invalid.
    static std::optional<TimePoint> parse(const std::string& text);
};

}  // namespace corvane
