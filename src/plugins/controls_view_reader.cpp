#include <algorithm>
#include <cmath>
#include <map>

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include "logic/ax_read.h"
#include "logic/logic_inspector.h"
#include "logic/search_depths.h"
#include "plugins/ax_locator.h"
#include "plugins/controls_view_fallback.h"
#include "support/unicode.h"

namespace corvane {

namespace ax = platform::ax;
using ax_read::textOf;
using ax_read::wholeNumber;

namespace {

// The window's header holds Logic Pro's buttons for it, no parameter: its subtree is left unread.
std::vector<platform::AXElement> all(const platform::AXElement& window, const std::string& role) {
    return AXLocator::collect(
        window, role, search_depth::kPluginWindow, [](const platform::AXElement&) { return true; },
        LogicInspector::pluginWindowHeader(window));
}

void replaceAll(std::string& s, const std::string& from, const std::string& to) {
    for (std::size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size())
        s.replace(pos, from.size(), to);
}

double centreY(const platform::Rect& r) { return r.y + r.height / 2; }

// Numbers repeated labels (compared ignoring case) in reading order: the first keeps its label,
// the n-th becomes "<label> [n]".
std::vector<std::string> numbered(const std::vector<std::string>& labels) {
    std::map<std::string, int> seen;
    std::vector<std::string> out;
    for (const auto& label : labels) {
        const int n = ++seen[text::lowercased(label)];
        out.push_back(n == 1 ? label : label + " [" + std::to_string(n) + "]");
    }
    return out;
}

}  // namespace

std::vector<ControlsViewFallback::SliderRecord> ControlsViewFallback::sliderRecords(const AXElement& window) {
    std::vector<SliderRecord> records;
    for (const auto& slider : all(window, "AXSlider"))
        records.push_back({slider, LogicInspector::frameForElement(slider), textOf(slider, ax::kHelp),
                           textOf(slider, ax::kValueDescription)});
    return records;
}

std::optional<platform::AXElement> ControlsViewFallback::readoutFor(const SliderRecord& slider,
                                                                    const std::vector<SliderRecord>& records) {
    for (const auto& other : records)
        if (!(other.element == slider.element) && std::fabs(other.frame.y - slider.frame.y) < 12.0 &&
            !other.valueDescription.empty())
            return other.element;
    return std::nullopt;
}

std::vector<ControlsViewFallback::LabelledControl> ControlsViewFallback::labelledControls(const AXElement& window) {
    const auto staticTexts = collectStaticTextLabels(window);
    std::vector<LabelledControl> controls;

    const auto records = sliderRecords(window);
    std::vector<std::string> helpLabels;
    std::map<std::string, int> helpCounts;
    for (const auto& r : records) {
        helpLabels.push_back(parameterLabelFromHelp(r.help));
        if (!helpLabels.back().empty()) ++helpCounts[helpLabels.back()];
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (helpLabels[i].empty()) continue;  // still a read-out candidate for the others
        std::string label = helpLabels[i];
        if (helpCounts[label] >= 2) {
            const std::string resolved = resolveLabel(records[i].element, staticTexts);
            if (!resolved.empty() && !text::equalsIgnoringCase(resolved, label)) label = resolved;
        }
        controls.push_back({label, ParameterType::continuous, records[i].element, readoutFor(records[i], records)});
    }
    for (const auto& checkbox : all(window, "AXCheckBox")) {
        const std::string label = resolveLabel(checkbox, staticTexts);
        if (label.empty() || isExcludedLabel(label)) continue;
        controls.push_back({label, ParameterType::toggle, checkbox, std::nullopt});
    }
    for (const char* role : {"AXPopUpButton", "AXMenuButton"})
        for (const auto& popup : all(window, role)) {
            const std::string label = resolveLabel(popup, staticTexts);
            if (label.empty() || isExcludedLabel(label)) continue;
            controls.push_back({label, ParameterType::selector, popup, std::nullopt});
        }

    std::vector<std::string> labels;
    for (const auto& c : controls) labels.push_back(c.label);
    labels = numbered(labels);
    for (std::size_t i = 0; i < controls.size(); ++i) controls[i].label = labels[i];
    return controls;
}

std::vector<ParameterEntry> ControlsViewFallback::read(const AXElement& window) {
    std::vector<ParameterEntry> entries;
    for (const auto& c : labelledControls(window)) {
        ParameterEntry entry;
        entry.def.id = identifierSlug(c.label);
        entry.def.label = c.label;
        entry.def.type = c.type;
        entry.source = ParameterSource::runtime;
        if (c.type == ParameterType::continuous) {
            if (auto raw = wholeNumber(c.element)) entry.currentRaw = std::to_string(*raw);
            if (c.readout)
                entry.currentDisplay = textOf(*c.readout, ax::kValueDescription);
            else
                entry.currentDisplay = entry.currentRaw;
        } else if (c.type == ParameterType::toggle) {
            if (auto v = wholeNumber(c.element)) {
                entry.currentRaw = std::to_string(*v);
                entry.currentDisplay = *v == 1 ? "on" : "off";
            }
        } else {
            entry.currentRaw = c.element.string(ax::kValue);
            entry.currentDisplay = entry.currentRaw;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<ControlsViewFallback::StaticTextLabel> ControlsViewFallback::collectStaticTextLabels(
    const AXElement& window) {
    std::vector<StaticTextLabel> labels;
    for (const auto& element : all(window, "AXStaticText")) {
        std::optional<std::string> shown;
        for (const char* attribute : {ax::kValue, ax::kDescription, ax::kTitle})
            if ((shown = element.string(attribute))) break;
        const std::string trimmed = text::trimmingWhitespaceAndNewlines(shown.value_or(""));
        if (!trimmed.empty()) labels.push_back({trimmed, LogicInspector::frameForElement(element)});
    }
    return labels;
}

std::string ControlsViewFallback::parameterLabelFromHelp(const std::string& help) {
    std::string s = help;
    replaceAll(s, "\u00A0", " ");
    if (auto stop = s.find('.'); stop != std::string::npos) s.resize(stop);
    s = std::string(text::trimSpacesAndTabs(s));
    if (!s.empty() && s.back() == ')') {
        if (auto open = s.rfind('('); open != std::string::npos) {
            const std::string inside = s.substr(open + 1, s.size() - open - 2);
            // A remark of several words goes; a short single word such as "(L)" is part of the name.
            if (inside.find(' ') != std::string::npos || text::graphemeCount(inside) >= 11)
                s = std::string(text::trimSpacesAndTabs(s.substr(0, open)));
        }
    }
    const std::string lower = text::lowercased(s);
    static const char* const suffixes[] = {" knob and field",
                                           " knob",
                                           " sliders and fields",
                                           " slider and field",
                                           " sliders",
                                           " slider",
                                           " controls and field",
                                           " controls",
                                           " control",
                                           " fields",
                                           " field",
                                           " button"};
    for (const char* suffix : suffixes)
        if (lower.ends_with(suffix)) {
            const std::size_t drop = std::string(suffix).size();
            return std::string(text::trimSpacesAndTabs(s.substr(0, s.size() >= drop ? s.size() - drop : 0)));
        }
    return s;
}

std::string ControlsViewFallback::resolveLabel(const AXElement& control,
                                               const std::vector<StaticTextLabel>& staticTexts) {
    for (const char* attribute : {ax::kDescription, ax::kTitle}) {
        const std::string own = text::trimmingWhitespaceAndNewlines(textOf(control, attribute));
        if (!own.empty()) return own;
    }
    const platform::Rect frame = LogicInspector::frameForElement(control);
    const StaticTextLabel* best = nullptr;
    double bestDistance = 0;
    for (const auto& candidate : staticTexts) {
        const double distance = std::fabs(centreY(candidate.frame) - centreY(frame));
        if (!(distance < 15.0) || !(candidate.frame.maxX() <= frame.x + 5.0)) continue;
        if (!best || distance < bestDistance) {
            best = &candidate;
            bestDistance = distance;
        }
    }
    if (!best) return "";
    std::string label = best->text;
    if (!label.empty() && label.back() == ':') label.pop_back();
    return label;
}

std::vector<ParameterEntry> ControlsViewFallback::disambiguateDuplicateLabels(std::vector<ParameterEntry> entries) {
    std::vector<std::string> labels;
    for (const auto& e : entries) labels.push_back(e.def.label);
    labels = numbered(labels);
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (labels[i] != entries[i].def.label) {
            entries[i].def.label = labels[i];
            entries[i].def.id = identifierSlug(labels[i]);
        }
    return entries;
}

std::string ControlsViewFallback::identifierSlug(const std::string& label) {
    const std::u16string lower = text::toUTF16(text::lowercased(label));
    std::vector<std::u16string> pieces(1);
    for (std::size_t i = 0; i < lower.size();) {
        UChar32 c;
        const std::size_t start = i;
        U16_NEXT(lower.data(), i, lower.size(), c);
        const bool alphanumeric = (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
        if (alphanumeric)
            pieces.back().append(lower, start, i - start);
        else if (!pieces.back().empty())
            pieces.emplace_back();
    }
    std::string slug;
    for (const auto& piece : pieces)
        if (!piece.empty()) slug += (slug.empty() ? "" : "_") + text::fromUTF16(piece);
    return slug.empty() ? label : slug;
}

bool ControlsViewFallback::isExcludedLabel(const std::string& label) {
    static const char* const excluded[] = {"bypass",   "compare", "link", "close", "toolbar", "view",
                                           "previous", "next",    "copy", "paste", "undo",    "redo"};
    const std::string lower = text::lowercased(label);
    return std::any_of(std::begin(excluded), std::end(excluded), [&](const char* word) { return lower == word; });
}

}  // namespace corvane
