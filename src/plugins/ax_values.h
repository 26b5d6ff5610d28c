#pragma once

// Small readings of Accessibility values shared by the plug-in readers and writers. Unreadable
// attributes and values of another type count as absent (or as the empty text).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/accessibility.h"

namespace corvane::plugin_values {

// The attribute as text; the empty text when it cannot be read as text.
std::string textOf(const platform::AXElement& element, const char* attribute);

// AXValue (or another attribute) as a whole number: an integer, or a real with no fraction.
std::optional<std::int64_t> wholeNumber(const platform::AXElement& element, const char* attribute = platform::ax::kValue);

// Spaces and tabs removed from both ends (line breaks kept).
std::string trimmedBlanks(std::string_view s);

// A double in its shortest form that reads back the same, whole numbers with ".0" ("-6.0", "2.5").
std::string printed(double value);

// A decimal number as written, whatever the process locale; the whole text must be the number.
std::optional<double> parseDecimal(std::string_view text);

// "on", "1", "true", "yes", "enable", "enabled" and their opposites, any letter case, blanks around.
std::optional<bool> parseBoolean(std::string_view value);

// Puts a control back to a raw value it held, writing until it reads back (a bounded number of times).
void restoreValue(const platform::AXElement& control, std::int64_t raw);

// Escape (key down and up) to Logic Pro's process, as a user dismissing an open menu; nothing when
// Logic Pro is not running.
void pressEscapeToLogic();

}  // namespace corvane::plugin_values
