#include "plugins/mapped_reader.h"

#include <cmath>

#include <fmt/format.h>

#include "logic/ax_read.h"
#include "logic/search_depths.h"
#include "plugins/ax_locator.h"
#include "support/unicode.h"

namespace corvane {

namespace ax = platform::ax;
using ax_read::textOf;
using ax_read::wholeNumber;

namespace {

bool needsPicture(const ParameterDef& def) {
    if (def.stateProbe) return true;
    if (def.options)
        for (const auto& o : *def.options)
            if (o.stateProbe) return true;
    return false;
}

ParameterReading readSlider(const ParameterDef& def, const platform::AXElement& control) {
    const auto number = wholeNumber(control);
    if (!number) return {};
    ParameterReading r;
    r.raw = std::to_string(*number);
    const std::string described(text::trimSpacesAndTabs(textOf(control, ax::kValueDescription)));
    if (!described.empty())
        r.display = described;
    else if (auto shown = MappedPluginReader::rawToDisplay(*number, def))
        r.display = MappedPluginReader::formatDisplay(*shown, def.unit);
    return r;
}

ParameterReading readToggle(const ParameterDef& def, const platform::AXElement& control,
                            const PluginWindowImage* snapshot, const platform::AXElement& window) {
    if (auto v = wholeNumber(control)) return {std::to_string(*v), std::string(*v == 1 ? "on" : "off")};
    if (!def.stateProbe) return {};
    std::optional<PluginWindowImage> own;
    if (!snapshot) {
        own = PixelProbe::captureWindowImage(window);
        if (!own) return {};
        snapshot = &*own;
    }
    const auto pixel = PixelProbe::sample(*snapshot, double(def.stateProbe->x), double(def.stateProbe->y));
    if (!pixel) return {};
    switch (PixelProbe::evaluate(*pixel, *def.stateProbe)) {
        case StateProbeResult::lit: return {std::string("1"), std::string("on")};
        case StateProbeResult::dark: return {std::string("0"), std::string("off")};
        case StateProbeResult::unknown: return {};
    }
    return {};
}

ParameterReading readOption(const ParameterDef& def, const platform::AXElement& control,
                            const PluginWindowImage* snapshot, const platform::AXElement& window) {
    if (auto value = control.string(ax::kValue); value && !value->empty()) {
        if (!def.options) return {*value, *value};
        for (const auto& o : *def.options)
            if (text::equalsIgnoringCase(o.label, *value) || text::equalsIgnoringCase(o.id, *value))
                return {o.id, o.label};
        return {*value, *value};
    }
    if (!def.options) return {};
    for (const auto& o : *def.options) {
        if (!o.stateProbe) continue;
        const StateProbe& probe = *o.stateProbe;
        bool selected = false;
        if (snapshot) {
            const auto pixel = PixelProbe::sample(*snapshot, double(probe.x), double(probe.y));
            if (!pixel || probe.litRGB.size() != 3 || probe.darkRGB.size() != 3) continue;
            const std::int64_t dLit = pixel->distance({probe.litRGB[0], probe.litRGB[1], probe.litRGB[2]});
            const std::int64_t dDark = pixel->distance({probe.darkRGB[0], probe.darkRGB[1], probe.darkRGB[2]});
            selected = dLit <= probe.tolerance && dLit <= dDark;
        } else {
            const auto own = PixelProbe::captureWindowImage(window);
            const auto pixel = own ? PixelProbe::sample(*own, double(probe.x), double(probe.y)) : std::nullopt;
            if (!pixel) continue;
            selected = PixelProbe::evaluate(*pixel, probe) == StateProbeResult::lit;
        }
        if (selected) return {o.id, o.label};
    }
    return {};
}

}  // namespace

std::vector<ParameterEntry> MappedPluginReader::readAll(const PluginMap& map, const platform::AXElement& window) {
    std::vector<ParameterEntry> entries;
    if (map.parameters.empty()) return entries;
    std::optional<PluginWindowImage> picture;
    for (const auto& def : map.parameters)
        if (needsPicture(def)) {
            picture = PixelProbe::captureWindowImage(window);
            break;
        }
    for (const auto& def : map.parameters) {
        const ParameterReading r = read(def, window, picture ? &*picture : nullptr);
        entries.push_back({def, r.raw, r.display, ParameterSource::map});
    }
    return entries;
}

ParameterReading MappedPluginReader::read(const ParameterDef& def, const platform::AXElement& window,
                                          const PluginWindowImage* snapshot) {
    if (!def.editorAX) return {};
    const auto control = AXLocator::find(*def.editorAX, window, search_depth::kPluginWindow);
    if (!control) return {};
    switch (def.type) {
        case ParameterType::continuous:
        case ParameterType::discrete: return readSlider(def, *control);
        case ParameterType::toggle: return readToggle(def, *control, snapshot, window);
        case ParameterType::radio:
        case ParameterType::selector: return readOption(def, *control, snapshot, window);
        case ParameterType::momentary:
        case ParameterType::text: return {};
    }
    return {};
}

std::optional<double> MappedPluginReader::rawToDisplay(std::int64_t raw, const ParameterDef& def) {
    return corvane::rawToDisplay(raw, def);
}

std::string MappedPluginReader::formatDisplay(double value, const std::optional<std::string>& unit) {
    const std::string u = text::lowercased(unit.value_or(""));
    if (u == "db") return fmt::format("{:.1f} dB", value);
    if (u == "ms")
        return std::fabs(value) >= 1000 ? fmt::format("{:.2f} s", value / 1000) : fmt::format("{:.0f} ms", value);
    if (u == "s" || u == "sec" || u == "seconds") return fmt::format("{:.2f} s", value);
    if (u == "hz")
        return std::fabs(value) >= 1000 ? fmt::format("{:.2f} kHz", value / 1000) : fmt::format("{:.0f} Hz", value);
    if (u == "khz") return fmt::format("{:.2f} kHz", value);
    if (u == ":1") return fmt::format("{:.1f}:1", value);
    if (u == "%") return fmt::format("{:.0f}%", value);
    if (u.empty()) return fmt::format("{:.2f}", value);
    return ax_read::printed(value) + " " + *unit;
}

}  // namespace corvane
