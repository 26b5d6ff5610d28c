#include "plugins/plugin_map.h"

#include <array>
#include <cmath>
#include <utility>

#include "support/json_fields.h"
#include "support/unicode.h"

namespace corvane {

using json_fields::boolean;
using json_fields::enumeration;
using json_fields::integer;
using json_fields::integerList;
using json_fields::optionalBoolean;
using json_fields::optionalInteger;
using json_fields::optionalNumber;
using json_fields::optionalText;
using json_fields::optionalValue;
using json_fields::put;
using json_fields::value;

namespace {

constexpr std::array<std::pair<ParameterType, const char*>, 7> kTypes{{
    {ParameterType::continuous, "continuous"},
    {ParameterType::discrete, "discrete"},
    {ParameterType::toggle, "toggle"},
    {ParameterType::momentary, "momentary"},
    {ParameterType::radio, "radio"},
    {ParameterType::selector, "selector"},
    {ParameterType::text, "text"},
}};
constexpr std::array<std::pair<ParameterCurve, const char*>, 3> kCurves{{
    {ParameterCurve::linear, "linear"},
    {ParameterCurve::logarithmic, "logarithmic"},
    {ParameterCurve::exponential, "exponential"},
}};
constexpr std::array<std::pair<ParameterSource, const char*>, 2> kSources{{
    {ParameterSource::map, "map"},
    {ParameterSource::runtime, "runtime"},
}};

template <class E, size_t N>
std::string nameOf(const std::array<std::pair<E, const char*>, N>& table, E v) {
    for (const auto& [value, name] : table)
        if (value == v) return name;
    return {};
}

template <class E, size_t N>
std::optional<E> valueOf(const std::array<std::pair<E, const char*>, N>& table, std::string_view s) {
    for (const auto& [value, name] : table)
        if (s == name) return value;
    return std::nullopt;
}

std::optional<double> finiteOrNone(double v) {
    if (!std::isfinite(v)) return std::nullopt;
    return v;
}

struct UnitScale {
    enum class Family { none, time, frequency } family = Family::none;
    double factor = 1;  // to ms or Hz
};

UnitScale writtenScale(std::string_view suffix) {
    std::string s = text::lowercased(text::trimmingWhitespace(suffix));
    auto startsWith = [&](std::string_view p) { return s.rfind(p, 0) == 0; };
    if (startsWith("khz")) return {UnitScale::Family::frequency, 1000};
    if (startsWith("hz")) return {UnitScale::Family::frequency, 1};
    if (startsWith("ms")) return {UnitScale::Family::time, 1};
    if (startsWith("sec") || s == "s") return {UnitScale::Family::time, 1000};
    return {};
}

UnitScale parameterScale(const std::optional<std::string>& unit) {
    if (!unit) return {};
    std::string u = text::lowercased(*unit);
    if (u == "khz") return {UnitScale::Family::frequency, 1000};
    if (u == "hz") return {UnitScale::Family::frequency, 1};
    if (u == "ms") return {UnitScale::Family::time, 1};
    if (u == "s" || u == "sec" || u == "secs" || u == "seconds") return {UnitScale::Family::time, 1000};
    return {};
}

}  // namespace

std::string toString(ParameterType v) { return nameOf(kTypes, v); }
std::string toString(ParameterCurve v) { return nameOf(kCurves, v); }
std::string toString(ParameterSource v) { return nameOf(kSources, v); }
std::optional<ParameterType> parameterTypeFromString(std::string_view s) { return valueOf(kTypes, s); }
std::optional<ParameterCurve> parameterCurveFromString(std::string_view s) { return valueOf(kCurves, s); }
std::optional<ParameterSource> parameterSourceFromString(std::string_view s) { return valueOf(kSources, s); }

void to_json(nlohmann::json& j, ParameterType v) { j = toString(v); }
void from_json(const nlohmann::json& j, ParameterType& v) {
    v = enumeration(j, "parameter type", parameterTypeFromString);
}
void to_json(nlohmann::json& j, ParameterCurve v) { j = toString(v); }
void from_json(const nlohmann::json& j, ParameterCurve& v) { v = enumeration(j, "curve", parameterCurveFromString); }
void to_json(nlohmann::json& j, ParameterSource v) { j = toString(v); }
void from_json(const nlohmann::json& j, ParameterSource& v) { v = enumeration(j, "source", parameterSourceFromString); }

void to_json(nlohmann::json& j, const AXTarget& v) {
    j = nlohmann::json::object();
    put(j, "role", v.role);
    put(j, "identifier", v.identifier);
    put(j, "title", v.title);
    put(j, "helpPrefix", v.helpPrefix);
}

void from_json(const nlohmann::json& j, AXTarget& v) {
    v.role = optionalText(j, "role");
    v.identifier = optionalText(j, "identifier");
    v.title = optionalText(j, "title");
    v.helpPrefix = optionalText(j, "helpPrefix");
}

void to_json(nlohmann::json& j, const StateProbe& v) {
    j = {{"x", v.x}, {"y", v.y}, {"litRGB", v.litRGB}, {"darkRGB", v.darkRGB}, {"tolerance", v.tolerance}};
}

void from_json(const nlohmann::json& j, StateProbe& v) {
    v.x = integer(j, "x");
    v.y = integer(j, "y");
    v.litRGB = integerList(j, "litRGB");
    v.darkRGB = integerList(j, "darkRGB");
    v.tolerance = integer(j, "tolerance");
}

void to_json(nlohmann::json& j, const Dependency& v) { j = {{"parameterId", v.parameterId}, {"values", v.values}}; }

void from_json(const nlohmann::json& j, Dependency& v) {
    v.parameterId = json_fields::text(j, "parameterId");
    v.values = value<std::vector<std::string>>(j, "values");
}

void to_json(nlohmann::json& j, const WritePrereq& v) { j = {{"parameterId", v.parameterId}, {"option", v.option}}; }

void from_json(const nlohmann::json& j, WritePrereq& v) {
    v.parameterId = json_fields::text(j, "parameterId");
    v.option = json_fields::text(j, "option");
}

void to_json(nlohmann::json& j, const ParameterOption& v) {
    j = {{"id", v.id}, {"label", v.label}};
    put(j, "editorAX", v.editorAX);
    put(j, "controlsAX", v.controlsAX);
    put(j, "stateProbe", v.stateProbe);
}

void from_json(const nlohmann::json& j, ParameterOption& v) {
    v.id = json_fields::text(j, "id");
    v.label = json_fields::text(j, "label");
    v.editorAX = optionalValue<AXTarget>(j, "editorAX");
    v.controlsAX = optionalValue<AXTarget>(j, "controlsAX");
    v.stateProbe = optionalValue<StateProbe>(j, "stateProbe");
}

void to_json(nlohmann::json& j, const ParameterDef& v) {
    j = {{"id", v.id}, {"label", v.label}, {"type", v.type}};
    put(j, "unit", v.unit);
    put(j, "displayMin", v.displayMin);
    put(j, "displayMax", v.displayMax);
    put(j, "rawMin", v.rawMin);
    put(j, "rawMax", v.rawMax);
    put(j, "curve", v.curve);
    put(j, "options", v.options);
    put(j, "editorAX", v.editorAX);
    put(j, "controlsAX", v.controlsAX);
    put(j, "controlsLabel", v.controlsLabel);
    put(j, "hidden", v.hidden);
    put(j, "stateProbe", v.stateProbe);
    put(j, "dependsOn", v.dependsOn);
    put(j, "writePrereq", v.writePrereq);
}

void from_json(const nlohmann::json& j, ParameterDef& v) {
    v.id = json_fields::text(j, "id");
    v.label = json_fields::text(j, "label");
    v.type = value<ParameterType>(j, "type");
    v.unit = optionalText(j, "unit");
    v.displayMin = optionalNumber(j, "displayMin");
    v.displayMax = optionalNumber(j, "displayMax");
    v.rawMin = optionalInteger(j, "rawMin");
    v.rawMax = optionalInteger(j, "rawMax");
    v.curve = optionalValue<ParameterCurve>(j, "curve");
    v.options = optionalValue<std::vector<ParameterOption>>(j, "options");
    v.editorAX = optionalValue<AXTarget>(j, "editorAX");
    v.controlsAX = optionalValue<AXTarget>(j, "controlsAX");
    v.controlsLabel = optionalText(j, "controlsLabel");
    v.hidden = optionalBoolean(j, "hidden");
    v.stateProbe = optionalValue<StateProbe>(j, "stateProbe");
    v.dependsOn = optionalValue<std::vector<Dependency>>(j, "dependsOn");
    v.writePrereq = optionalValue<WritePrereq>(j, "writePrereq");
}

void to_json(nlohmann::json& j, const PluginMap& v) {
    j = {{"name", v.name}};
    put(j, "aliases", v.aliases);
    j["preferredView"] = v.preferredView;
    j["parameters"] = v.parameters;
}

void from_json(const nlohmann::json& j, PluginMap& v) {
    v.name = json_fields::text(j, "name");
    v.aliases = optionalValue<std::vector<std::string>>(j, "aliases");
    v.preferredView = value<PluginViewPreference>(j, "preferredView");
    v.parameters = value<std::vector<ParameterDef>>(j, "parameters");
}

void to_json(nlohmann::json& j, const ParameterEntry& v) {
    j = {{"def", v.def}};
    put(j, "currentRaw", v.currentRaw);
    put(j, "currentDisplay", v.currentDisplay);
    j["source"] = v.source;
}

void from_json(const nlohmann::json& j, ParameterEntry& v) {
    v.def = value<ParameterDef>(j, "def");
    v.currentRaw = optionalText(j, "currentRaw");
    v.currentDisplay = optionalText(j, "currentDisplay");
    v.source = value<ParameterSource>(j, "source");
}

void to_json(nlohmann::json& j, const PluginReadResult& v) {
    j = {{"pluginName", v.pluginName},
         {"trackName", v.trackName},
         {"viewUsed", v.viewUsed},
         {"mapApplied", v.mapApplied},
         {"parameters", v.parameters}};
}

void from_json(const nlohmann::json& j, PluginReadResult& v) {
    v.pluginName = json_fields::text(j, "pluginName");
    v.trackName = json_fields::text(j, "trackName");
    v.viewUsed = value<PluginViewPreference>(j, "viewUsed");
    v.mapApplied = boolean(j, "mapApplied");
    v.parameters = value<std::vector<ParameterEntry>>(j, "parameters");
}

PluginMap decodePluginMap(std::string_view bytes) { return json_fields::decode<PluginMap>(bytes); }

std::optional<double> rawToDisplay(std::int64_t raw, const ParameterDef& def) {
    if (!def.displayMin || !def.displayMax || !def.rawMin || !def.rawMax) return std::nullopt;
    const std::int64_t lo = *def.rawMin, hi = *def.rawMax;
    if (hi <= lo) return std::nullopt;
    const std::int64_t clamped = raw < lo ? lo : (raw > hi ? hi : raw);
    // In doubles: the difference of two extreme 64-bit bounds overflows as an integer.
    const double t =
        (static_cast<double>(clamped) - static_cast<double>(lo)) / (static_cast<double>(hi) - static_cast<double>(lo));
    const double dmin = *def.displayMin, dmax = *def.displayMax;
    const auto curve = def.curve.value_or(ParameterCurve::linear);
    if (curve == ParameterCurve::logarithmic && dmin > 0 && dmax > 0)
        return finiteOrNone(dmin * std::pow(dmax / dmin, t));
    if (curve == ParameterCurve::exponential) return finiteOrNone(dmin + (dmax - dmin) * (std::exp2(t) - 1));
    return finiteOrNone(dmin + (dmax - dmin) * t);
}

std::optional<std::int64_t> rawFromDisplay(double display, const ParameterDef& def) {
    if (!def.displayMin || !def.displayMax || !def.rawMin || !def.rawMax) return std::nullopt;
    const std::int64_t lo = *def.rawMin, hi = *def.rawMax;
    const double dmin = *def.displayMin, dmax = *def.displayMax;
    if (lo >= hi || dmax == dmin) return std::nullopt;
    const auto curve = def.curve.value_or(ParameterCurve::linear);
    double t = 0;
    if (curve == ParameterCurve::logarithmic && dmin > 0 && dmax > 0)
        t = std::log(display / dmin) / std::log(dmax / dmin);
    else if (curve == ParameterCurve::exponential)
        t = std::log2((display - dmin) / (dmax - dmin) + 1);
    else
        t = (display - dmin) / (dmax - dmin);
    // Outside the curve's domain there is no position to write.
    if (std::isnan(t)) return std::nullopt;
    if (t <= 0) t = 0;
    if (t > 1) t = 1;
    const double raw = std::round(static_cast<double>(lo) + t * (static_cast<double>(hi) - static_cast<double>(lo)));
    if (!(raw > static_cast<double>(lo))) return lo;
    if (!(raw < static_cast<double>(hi))) return hi;
    return static_cast<std::int64_t>(raw);
}

double valueInParameterUnit(double value, std::string_view suffix, const std::optional<std::string>& unit) {
    const UnitScale written = writtenScale(suffix);
    if (written.family == UnitScale::Family::none) return value;
    const UnitScale target = parameterScale(unit);
    if (target.family != written.family) return value * written.factor;
    return value * written.factor / target.factor;
}

}  // namespace corvane
