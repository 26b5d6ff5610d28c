#pragma once

// Plug-in parameters as the catalogue defines them, and how the controls of a plug-in window (its editor
// layout and Logic's generic Controls view) show and change them. Internal to the stand-in.
//
// A plug-in control node is bound (Bind::pluginControl) to its slot by uid; its binding name says which
// control it is: "e:<path>" for a control of the definition's editor layout (indices into "controls" and
// nested "children", joined by "."), "k:<part>:<parameter id>" for a Controls-view control, where part is
// "label", "main", "readout", "check", "popup" or "button".

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/accessibility.h"
#include "platform/standin/engine.h"

namespace corvane::standin::detail {

// Option and source names typed into pop-ups match without regard to case or outer blanks.
bool equalsIgnoringAsciiCase(const std::string& a, const std::string& b);
std::string trimmedAscii(const std::string& s);

struct ParamSpec {
    std::string id;
    std::string label;
    std::string type = "continuous";  // continuous, discrete, toggle, momentary, radio, selector, text
    std::string unit;
    std::string curve = "linear";
    std::string controlsLabel;  // the Controls view's label when it differs
    double rawMin = 0;
    double rawMax = 127;
    std::optional<double> displayMin;
    std::optional<double> displayMax;
    std::vector<std::string> options;  // option labels; the raw value is the option's index
    double defaultRaw = 0;
    bool hidden = false;    // left out of the Controls view
    bool described = true;  // the Controls-view control carries its label as AXDescription

    bool sliderLike() const { return type == "continuous" || type == "discrete"; }
    bool hasOptions() const { return type == "radio" || type == "selector"; }
    const std::string& shownLabel() const { return controlsLabel.empty() ? label : controlsLabel; }
};

std::vector<ParamSpec> paramSpecs(const PluginDefinition& def);
std::optional<ParamSpec> paramSpec(const PluginDefinition& def, const std::string& id);

// The slot's raw value of a parameter (its default until set).
double paramRaw(const InsertSlot& slot, const ParamSpec& p);
// The value a user sees for a raw value, from the curve and the shown range; absent without a range.
std::optional<double> displayValue(const ParamSpec& p, double raw);
// "632 Hz", "1.50 s", "-12.0 dB", or the option label of a selector.
std::string displayText(const ParamSpec& p, double raw);

// A member of a definition's JSON of the expected kind, else the fallback (definitions are kept as
// given, so a wrong type must not throw while the tree is built).
double numberOr(const nlohmann::json& obj, const char* key, double fallback);
bool flagOr(const nlohmann::json& obj, const char* key, bool fallback);
std::string textOr(const nlohmann::json& obj, const char* key);  // "" when not a text

// The JSON of an editor control addressed by its path ("3", "3.0"), or null.
const nlohmann::json* editorControl(const PluginDefinition& def, const std::string& path);

platform::AXError pressPluginControl(Engine& e, int nodeIndex, const std::string& action);
platform::AXError writePluginControl(Engine& e, int nodeIndex, const platform::AXValue& value);

// The menu of a parameter pop-up: its option labels. Each item's action names the parameter and option.
std::vector<MenuItem> parameterMenuItems(Engine& e, const Node& invoker);
void chooseParameterOption(Engine& e, const OpenMenu& menu, const MenuItem& chosen);

// The probe region an editor control paints, lit or dark after its state.
struct ProbePaint {
    platform::Rect region;
    Rgb colour;
};
std::optional<ProbePaint> probePaint(Engine& e, const Node& node);

}  // namespace corvane::standin::detail
