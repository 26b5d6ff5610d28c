#pragma once

// How Logic Pro's Accessibility attributes, and the texts its controls show, are read everywhere
// above the platform: an attribute that cannot be read, or holds another type, counts as absent
// (or as the empty text). Frames are read by LogicInspector::frameForElement, trees are walked by
// ax_tree::walk.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/accessibility.h"

namespace corvane::ax_read {

// --- Attributes ------------------------------------------------------------------------------

// The attribute's value as it is, of whatever type; absent when it cannot be read.
std::optional<platform::AXValue> valueOf(const platform::AXElement& element,
                                         const char* attribute = platform::ax::kValue);

// The attribute as text; the empty text when it cannot be read as text.
std::string textOf(const platform::AXElement& element, const char* attribute);

// The attribute as text, trimmed of white space and line breaks.
std::string trimmed(const platform::AXElement& element, const char* attribute);
std::optional<std::string> trimmedOrAbsent(const platform::AXElement& element, const char* attribute);

// AXValue in its plain textual form: text as it is, whole numbers without a point, check boxes
// as "1"/"0"; absent when unreadable or of another kind.
std::optional<std::string> valueText(const platform::AXElement& element);

// AXValue (or another attribute) as a whole number: an integer, or a real with no fraction. Reals
// beyond a quarter of the 64-bit range are absent, so that a neighbour (value + 1) cannot overflow.
std::optional<std::int64_t> wholeNumber(const platform::AXElement& element,
                                        const char* attribute = platform::ax::kValue);

// Whether the handle no longer answers (Logic Pro rebuilt the element): refused as stale for any
// attribute within the read scope, or now for this one. Within a scope it costs no round trip after
// a failed read, which the scope keeps; a kept answer of its element never makes it seem alive.
bool gone(const platform::AXElement& element, const std::string& attribute = platform::ax::kValue);

// --- Texts as Logic Pro shows them -----------------------------------------------------------

// Logic Pro breaks long labels with U+2028; each becomes a blank.
std::string blanksForLineSeparators(std::string s);

// A double in its shortest form that reads back the same, whole numbers with ".0" ("-6.0", "2.5").
std::string printed(double value);

// "on", "1", "true", "yes", "enable", "enabled" and their opposites, any letter case, blanks around.
std::optional<bool> parseBoolean(std::string_view value);

// A toggle's AXValue, the one reading for every header and strip button: 1, true, "1" or "on"
// in any letter case is on, any other value off; absent when unreadable.
std::optional<bool> toggleState(const platform::AXElement& toggle);

// A level as Logic Pro shows it ("-6.0 dB", "+2.5", "-∞"): the first number in the text, or
// minus infinity for an infinite level; absent when there is no number.
std::optional<double> decibelsFromText(const std::string& shown);

}  // namespace corvane::ax_read
