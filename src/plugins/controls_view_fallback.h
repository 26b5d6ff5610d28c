#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/accessibility.h"
#include "platform/geometry.h"
#include "plugins/parameter_write_result.h"
#include "plugins/plugin_map.h"

namespace corvane {

// Reads and writes a plug-in through Logic Pro's generic Controls view (sliders with numeric
// read-outs, check boxes, pop-ups), for plug-ins without a map and to complete what a map did not
// read. The reader and the writer label controls by the same rules, so every name the reader
// reports writes the control it was read from. Stateless; works on one open plug-in window.
class ControlsViewFallback final {
public:
    using AXElement = platform::AXElement;
    using Result = ParameterWriteResult;

    struct StaticTextLabel {
        std::string text;
        platform::Rect frame;
    };
    struct SliderRecord {
        AXElement element;
        platform::Rect frame;
        std::string help;
        std::string valueDescription;
    };
    struct SliderPair {
        AXElement main;
        std::optional<AXElement> readout;
    };
    // One control as the reader reports it, with the elements a write needs.
    struct LabelledControl {
        std::string label;  // numbered when repeated ("Gain [2]")
        ParameterType type = ParameterType::continuous;
        AXElement element;
        std::optional<AXElement> readout;
    };
    struct PickResult {
        enum class Kind { one, ambiguous, outOfRange };
        Kind kind = Kind::one;
        std::size_t index = 0;  // of the one match
        std::size_t count = 0;
    };
    struct ParsedValue {
        double value = 0;
        std::string unit;  // as written; empty when none
    };

    ControlsViewFallback() = delete;

    // --- Reading ---------------------------------------------------------------------------
    // Sliders, then check boxes, then pop-up buttons, then menu buttons; entries of source runtime
    // whose definitions carry only id, label and type.
    static std::vector<ParameterEntry> read(const AXElement& window);
    static std::vector<LabelledControl> labelledControls(const AXElement& window);
    static std::vector<StaticTextLabel> collectStaticTextLabels(const AXElement& window);
    static std::string parameterLabelFromHelp(const std::string& help);
    static std::string resolveLabel(const AXElement& control, const std::vector<StaticTextLabel>& staticTexts);
    static std::vector<ParameterEntry> disambiguateDuplicateLabels(std::vector<ParameterEntry> entries);
    // Lower-cased, split at every character that is not a letter or digit, joined with "_"; the
    // label itself when nothing is left.
    static std::string identifierSlug(const std::string& label);
    static bool isExcludedLabel(const std::string& label);

    // --- Writing ---------------------------------------------------------------------------
    // The plug-in window found again: where Logic Pro builds it anew on a write, handles held from
    // before no longer answer.
    using WindowAgain = std::function<std::optional<AXElement>()>;
    // A slider and its read-out as a write goes on: both are found again when a read or write
    // through one of them fails on a handle gone stale, never otherwise, so a write costs no
    // extra reads. Without `again` they are never found again.
    struct HeldSlider {
        AXElement main;
        std::optional<AXElement> readout;
        std::function<std::optional<SliderPair>()> again;

        bool findAgain();
        std::optional<std::int64_t> raw();
        std::optional<std::string> described();  // the read-out's value description
        platform::AXError write(std::int64_t raw);
        // Puts the main slider back to a raw value it held; false when it does not read back so.
        bool restore(std::int64_t raw);
    };

    // `changedWhenStopped`, when given, receives what a slider shows against what it showed before
    // when a Stop ends its write after it moved.
    static Result write(const std::string& parameterName, const std::string& value, const AXElement& window,
                        const AXElement& logicApp, std::optional<std::string>* changedWhenStopped = nullptr,
                        const WindowAgain& again = {});
    // The slider (with its read-out) a name addresses, as write finds it; none for another control.
    static std::optional<SliderPair> sliderNamed(const std::string& parameterName, const AXElement& window);
    // The pop-up (or menu button) a name addresses, as write finds it; none for another control.
    static std::optional<AXElement> popupNamed(const std::string& parameterName, const AXElement& window);
    static std::pair<std::string, std::optional<std::int64_t>> parseLabelIndex(const std::string& name);
    static std::vector<SliderPair> findAllSliderPairs(const std::string& baseName, const AXElement& window);
    static std::vector<AXElement> findAllByResolvedLabel(const std::string& baseName, const AXElement& window,
                                                         const std::vector<std::string>& roles,
                                                         const std::vector<StaticTextLabel>& staticTexts);
    static PickResult pickByIndex(std::size_t matches, std::optional<std::int64_t> requestedIndex);
    static std::string ambiguousMessage(const std::string& parameterName, std::size_t count);
    static std::string missingIndexMessage(const std::string& name, std::size_t available);

    static Result writeSlider(HeldSlider& slider, const std::string& label, const std::string& value,
                              std::optional<std::string>* changedWhenStopped = nullptr);
    static Result writeSliderTo(HeldSlider& slider, const std::string& label, const std::string& value,
                                const std::optional<std::string>& before);
    // Moves the slider by raw steps while watching the read-out; a nudge that fails puts the slider
    // back where it was, or says where it was left.
    static Result nudgeToTarget(HeldSlider& slider, const std::string& label, double targetNum,
                                const std::string& unit, const std::optional<std::string>& beforeDisplay);
    static Result writeSliderRaw(HeldSlider& slider, const std::string& label, std::int64_t target,
                                 const std::optional<std::string>& beforeDisplay);
    static Result writeCheckbox(const AXElement& checkbox, const std::string& label, const std::string& value);
    // Looks for the value only in the menu the pop-up opened, and closes that menu again when the
    // value is not in it.
    // A control found again by the name it was written under, in the window found again.
    using ControlAgain = std::function<std::optional<AXElement>()>;
    // `changedWhenStopped` and `again` as for a slider.
    static Result writePopup(const AXElement& popup, const std::string& label, const std::string& value,
                             const AXElement& logicApp, std::optional<std::string>* changedWhenStopped = nullptr,
                             const ControlAgain& again = {});
    static Result writeButton(const AXElement& button, const std::string& label);

    static std::optional<ParsedValue> parseValueAndUnit(const std::string& text);
    static double toCanonical(double value, const std::string& unit);
    static std::string canonicalUnit(const std::string& unit);
    static double canonicalTolerance(const std::string& canonicalUnit);
    static std::string formatCanonical(double value, const std::string& canonicalUnit);
    static std::optional<bool> parseBoolean(const std::string& text);

    static std::vector<SliderRecord> sliderRecords(const AXElement& window);
    // The first other slider whose top edge lies less than 12 points from the record's and that
    // shows a value description.
    static std::optional<AXElement> readoutFor(const SliderRecord& slider, const std::vector<SliderRecord>& all);
};

}  // namespace corvane
