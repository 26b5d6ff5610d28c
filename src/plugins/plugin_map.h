#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "logic/plugin_view_preference.h"

namespace corvane {

// A plug-in map describes, for one plug-in whose editor Accessibility labels poorly, how to find
// each parameter's control, how its raw value maps to what a user sees, and how to tell its state
// from pixel colours. Maps ship as JSON resources; nothing writes them.
//
// Decoding is strict: a missing or null required key, a value of the wrong JSON type, a number
// that is not whole for an integer field, or an enumeration text outside its list throws
// json_fields::DecodeError and rejects the whole document. Unknown keys are ignored; a missing or
// null optional key stays absent (no defaults are filled in). Nothing else is checked: duplicate
// ids, dangling references and odd ranges load, and their users cope.

enum class ParameterType { continuous, discrete, toggle, momentary, radio, selector, text };
enum class ParameterCurve { linear, logarithmic, exponential };
enum class ParameterSource { map, runtime };

std::string toString(ParameterType v);
std::string toString(ParameterCurve v);
std::string toString(ParameterSource v);
std::optional<ParameterType> parameterTypeFromString(std::string_view s);
std::optional<ParameterCurve> parameterCurveFromString(std::string_view s);
std::optional<ParameterSource> parameterSourceFromString(std::string_view s);

// How to find one control; every key is optional. Matching rules belong to the locator: the
// first non-empty of identifier, title, helpPrefix alone decides, after the role.
struct AXTarget {
    std::optional<std::string> role;
    std::optional<std::string> identifier;
    std::optional<std::string> title;
    std::optional<std::string> helpPrefix;
    friend bool operator==(const AXTarget&, const AXTarget&) = default;
};

// One pixel of the plug-in window (in points from its top-left corner) and the colours it shows
// when the control is on and off. Colours that do not hold exactly three channels decode but
// make the probe's answer unknown.
struct StateProbe {
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::vector<std::int64_t> litRGB;
    std::vector<std::int64_t> darkRGB;
    std::int64_t tolerance = 0;
    friend bool operator==(const StateProbe&, const StateProbe&) = default;
};

// This parameter is available only while parameter `parameterId` holds one of `values` (option ids).
struct Dependency {
    std::string parameterId;
    std::vector<std::string> values;
    friend bool operator==(const Dependency&, const Dependency&) = default;
};

// The option of another parameter to select before this one is written.
struct WritePrereq {
    std::string parameterId;
    std::string option;
    friend bool operator==(const WritePrereq&, const WritePrereq&) = default;
};

struct ParameterOption {
    std::string id;
    std::string label;
    std::optional<AXTarget> editorAX;
    std::optional<AXTarget> controlsAX;  // kept, never read: Controls-view controls are found by label
    std::optional<StateProbe> stateProbe;
    friend bool operator==(const ParameterOption&, const ParameterOption&) = default;
};

struct ParameterDef {
    std::string id;
    std::string label;
    ParameterType type = ParameterType::continuous;
    std::optional<std::string> unit;
    std::optional<double> displayMin;
    std::optional<double> displayMax;
    std::optional<std::int64_t> rawMin;
    std::optional<std::int64_t> rawMax;
    std::optional<ParameterCurve> curve;  // absent means linear
    std::optional<std::vector<ParameterOption>> options;
    std::optional<AXTarget> editorAX;
    std::optional<AXTarget> controlsAX;  // kept, never read
    std::optional<std::string> controlsLabel;
    std::optional<bool> hidden;
    std::optional<StateProbe> stateProbe;
    std::optional<std::vector<Dependency>> dependsOn;
    std::optional<WritePrereq> writePrereq;
    friend bool operator==(const ParameterDef&, const ParameterDef&) = default;

    bool isHidden() const { return hidden.value_or(false); }
};

struct PluginMap {
    std::string name;
    std::optional<std::vector<std::string>> aliases;
    PluginViewPreference preferredView = PluginViewPreference::editor;
    std::vector<ParameterDef> parameters;
    friend bool operator==(const PluginMap&, const PluginMap&) = default;
};

// One parameter as a read reports it. Entries read from the Controls view without a map carry a
// definition with only id, label and type, and the source runtime.
struct ParameterEntry {
    ParameterDef def;
    std::optional<std::string> currentRaw;
    std::optional<std::string> currentDisplay;
    ParameterSource source = ParameterSource::map;
    friend bool operator==(const ParameterEntry&, const ParameterEntry&) = default;
};

struct PluginReadResult {
    std::string pluginName;
    std::string trackName;
    PluginViewPreference viewUsed = PluginViewPreference::editor;
    bool mapApplied = false;
    std::vector<ParameterEntry> parameters;
    friend bool operator==(const PluginReadResult&, const PluginReadResult&) = default;
};

// Decodes one map document; throws json_fields::DecodeError, whose what() the store logs.
PluginMap decodePluginMap(std::string_view bytes);

// The shown value for a raw control value: needs displayMin, displayMax, rawMin and rawMax with
// rawMax > rawMin. The raw value is clamped into the raw range first. A logarithmic curve with a
// bound at or below zero falls back to linear. Absent when the result is not a finite number.
std::optional<double> rawToDisplay(std::int64_t raw, const ParameterDef& def);

// The inverse: the raw value (rounded half away from zero, within the raw range) that shows
// `display`. Absent without a usable range, or for a value outside the curve's domain (below zero
// on a logarithmic curve, too far below displayMin on an exponential one) rather than a guess.
std::optional<std::int64_t> rawFromDisplay(double display, const ParameterDef& def);

// A number typed with a unit suffix ("2.5 kHz", "1.2 s", "250 ms"), expressed in the unit the
// parameter is shown in. Time (ms, s) and frequency (Hz, kHz) convert within their family, so a
// value already in the parameter's unit is left alone: 1.2 s on a parameter shown in s stays 1.2,
// on one shown in ms becomes 1200. A parameter with no unit, or one of another family, gets the
// value in ms or Hz. Any other suffix (dB, %, none) leaves the number unchanged. The suffix is
// whatever follows the number, compared lower-cased: it is kHz when it begins with "khz", Hz when
// it begins with "hz", ms when it begins with "ms", seconds when it begins with "sec" or is "s".
double valueInParameterUnit(double value, std::string_view suffix, const std::optional<std::string>& unit);

void to_json(nlohmann::json& j, ParameterType v);
void from_json(const nlohmann::json& j, ParameterType& v);
void to_json(nlohmann::json& j, ParameterCurve v);
void from_json(const nlohmann::json& j, ParameterCurve& v);
void to_json(nlohmann::json& j, ParameterSource v);
void from_json(const nlohmann::json& j, ParameterSource& v);
void to_json(nlohmann::json& j, const AXTarget& v);
void from_json(const nlohmann::json& j, AXTarget& v);
void to_json(nlohmann::json& j, const StateProbe& v);
void from_json(const nlohmann::json& j, StateProbe& v);
void to_json(nlohmann::json& j, const Dependency& v);
void from_json(const nlohmann::json& j, Dependency& v);
void to_json(nlohmann::json& j, const WritePrereq& v);
void from_json(const nlohmann::json& j, WritePrereq& v);
void to_json(nlohmann::json& j, const ParameterOption& v);
void from_json(const nlohmann::json& j, ParameterOption& v);
void to_json(nlohmann::json& j, const ParameterDef& v);
void from_json(const nlohmann::json& j, ParameterDef& v);
void to_json(nlohmann::json& j, const PluginMap& v);
void from_json(const nlohmann::json& j, PluginMap& v);
void to_json(nlohmann::json& j, const ParameterEntry& v);
void from_json(const nlohmann::json& j, ParameterEntry& v);
void to_json(nlohmann::json& j, const PluginReadResult& v);
void from_json(const nlohmann::json& j, PluginReadResult& v);

}  // namespace corvane
