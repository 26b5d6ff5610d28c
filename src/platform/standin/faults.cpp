#include "platform/standin/faults.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace corvane::standin {

namespace {

[[noreturn]] void bad(std::string_view knob, const nlohmann::json& value) {
    throw std::invalid_argument("bad value for knob '" + std::string(knob) + "': " + value.dump());
}

bool boolean(std::string_view knob, const nlohmann::json& v) {
    if (!v.is_boolean()) bad(knob, v);
    return v.get<bool>();
}

double number(std::string_view knob, const nlohmann::json& v) {
    if (!v.is_number()) bad(knob, v);
    return v.get<double>();
}

// A count of 0 or more; false counts as 0.
int count(std::string_view knob, const nlohmann::json& v) {
    if (v.is_boolean() && !v.get<bool>()) return 0;
    if (!v.is_number_integer() || v.get<long long>() < 0 || v.get<long long>() > 1000000) bad(knob, v);
    return v.get<int>();
}

std::optional<std::string> optionalText(std::string_view knob, const nlohmann::json& v) {
    if (v.is_null() || (v.is_boolean() && !v.get<bool>())) return std::nullopt;
    if (!v.is_string()) bad(knob, v);
    return v.get<std::string>();
}

AnalysisInstanceKnobs analysisInstance(std::string_view knob, const nlohmann::json& v) {
    if (!v.is_object()) bad(knob, v);
    AnalysisInstanceKnobs k;
    for (const auto& [key, value] : v.items()) {
        if (key == "silent")
            k.silent = boolean(knob, value);
        else if (key == "malformed") {
            if (value != "json" && value != "array" && value != "bars" && value != "") bad(knob, v);
            k.malformed = value.get<std::string>();
        } else if (key == "dropFields") {
            if (!value.is_array()) bad(knob, v);
            for (const auto& field : value) {
                if (!field.is_string()) bad(knob, v);
                k.dropFields.push_back(field.get<std::string>());
            }
        } else if (key == "nameOverride")
            k.nameOverride = optionalText(knob, value);
        else
            bad(knob, v);
    }
    return k;
}

platform::Rect rect(std::string_view knob, const nlohmann::json& v) {
    if (!v.is_array() || v.size() != 4) bad(knob, v);
    for (const auto& n : v)
        if (!n.is_number()) bad(knob, v);
    return {v[0].get<double>(), v[1].get<double>(), v[2].get<double>(), v[3].get<double>()};
}

AXErrorKnob axError(const nlohmann::json& v) {
    if (!v.is_object() || !v.contains("attribute") || !v["attribute"].is_string()) bad("axError", v);
    AXErrorKnob k;
    k.element = v.value("element", std::string("application"));
    k.attribute = v["attribute"].get<std::string>();
    k.code = v.value("code", -25200);
    k.times = v.value("times", -1);
    k.after = std::max(0, v.value("after", 0));
    k.afterPressOf = v.value("afterPressOf", std::string());
    return k;
}

ExtraWindow extraWindow(const nlohmann::json& v) {
    ExtraWindow w;
    if (v.is_string()) {
        w.title = v.get<std::string>();
        return w;
    }
    if (!v.is_object()) bad("extraWindows", v);
    w.title = v.value("title", std::string());
    if (v.contains("frame")) w.frame = rect("extraWindows", v["frame"]);
    w.front = v.value("front", false);
    return w;
}

// The number after a knob's word ("delayed 0.5", "afterReads 2"), blanks before it and spaces
// after. Read with from_chars: the process locale must not decide what a scenario means.
template <class Number>
std::optional<Number> trailingNumber(std::string_view text) {
    text.remove_prefix(std::min(text.find_first_not_of(" \t"), text.size()));
    if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || text.substr(end - text.data()).find_first_not_of(' ') != std::string_view::npos)
        return std::nullopt;
    return value;
}

}  // namespace

Activation parseActivation(const nlohmann::json& v) {
    Activation a;
    if (v.is_object() && v.contains("delayed")) {
        a.mode = Activation::Mode::delayed;
        a.delay = number("activation", v["delayed"]);
        return a;
    }
    if (!v.is_string()) bad("activation", v);
    std::string s = v.get<std::string>();
    if (s == "immediate") return a;
    if (s == "appleScriptOnly") {
        a.mode = Activation::Mode::appleScriptOnly;
        return a;
    }
    if (s == "never") {
        a.mode = Activation::Mode::never;
        return a;
    }
    if (s.rfind("delayed", 0) == 0) {
        a.mode = Activation::Mode::delayed;
        auto delay = trailingNumber<double>(std::string_view(s).substr(7));
        if (!delay) bad("activation", v);
        a.delay = *delay;
        return a;
    }
    bad("activation", v);
}

ScreenRecording parseScreenRecording(const nlohmann::json& v) {
    if (v.is_boolean()) return v.get<bool>() ? ScreenRecording::granted : ScreenRecording::denied;
    if (!v.is_string()) bad("screenRecording", v);
    std::string s = v.get<std::string>();
    if (s == "granted") return ScreenRecording::granted;
    if (s == "denied") return ScreenRecording::denied;
    if (s == "undetermined") return ScreenRecording::undetermined;
    bad("screenRecording", v);
}

StaleAfter parseStaleAfter(const nlohmann::json& v) {
    StaleAfter s;
    if (v.is_object() && v.contains("afterReads")) {
        s.mode = StaleAfter::Mode::afterReads;
        s.reads = static_cast<int>(number("staleAfter", v["afterReads"]));
        return s;
    }
    if (!v.is_string()) bad("staleAfter", v);
    std::string t = v.get<std::string>();
    if (t == "onRebuild") return s;
    if (t == "always") {
        s.mode = StaleAfter::Mode::always;
        return s;
    }
    if (t.rfind("afterReads", 0) == 0) {
        s.mode = StaleAfter::Mode::afterReads;
        auto reads = trailingNumber<int>(std::string_view(t).substr(10));
        if (!reads) bad("staleAfter", v);
        s.reads = *reads;
        return s;
    }
    bad("staleAfter", v);
}

bool applyFault(Faults& f, std::string_view name, const nlohmann::json& v) {
    if (name == "activation")
        f.activation = parseActivation(v);
    else if (name == "accessibilityTrusted")
        f.accessibilityTrusted = boolean(name, v);
    else if (name == "grantOnPrompt")
        f.grantOnPrompt = boolean(name, v);
    else if (name == "screenRecording")
        f.screenRecording = parseScreenRecording(v);
    else if (name == "promptAnswer")
        f.promptAnswer = parseScreenRecording(v);
    else if (name == "staleAfter")
        f.staleAfter = parseStaleAfter(v);
    else if (name == "lateStripUpdate")
        f.lateStripUpdate = number(name, v);
    else if (name == "plainQuotes")
        f.plainQuotes = boolean(name, v);
    else if (name == "toggleValueText")
        f.toggleValueText = boolean(name, v);
    else if (name == "levelFormat") {
        if (!v.is_string() || (v != "plain" && v != "dB" && v != "db")) bad(name, v);
        f.levelFormatPlain = v == "plain";
    } else if (name == "titleSuffix")
        f.titleSuffix = boolean(name, v);
    else if (name == "arrowKeysIgnored")
        f.arrowKeysIgnored = boolean(name, v);
    else if (name == "backgroundKeys") {
        if (!v.is_string() || (v != "ignore" && v != "deliver")) bad(name, v);
        f.backgroundKeysIgnore = v == "ignore";
    } else if (name == "axError" || name == "axWriteError") {
        auto& knobs = name == "axError" ? f.axErrors : f.axWriteErrors;
        knobs.clear();
        if (v.is_array())
            for (const auto& e : v) knobs.push_back(axError(e));
        else if (!v.is_null())
            knobs.push_back(axError(v));
    } else if (name == "extraWindows") {
        f.extraWindows.clear();
        if (!v.is_array() && !v.is_null()) bad(name, v);
        if (v.is_array())
            for (const auto& e : v) f.extraWindows.push_back(extraWindow(e));
    } else if (name == "windowFrames") {
        if (!v.is_object() && !v.is_null()) bad(name, v);
        f.windowFrames.clear();
        if (v.is_object())
            for (const auto& [window, frame] : v.items()) f.windowFrames[window] = rect(name, frame);
    } else if (name == "minimisedWindows") {
        if (!v.is_array() && !v.is_null()) bad(name, v);
        f.minimisedWindows.clear();
        if (v.is_array())
            for (const auto& window : v) {
                if (!window.is_string()) bad(name, v);
                f.minimisedWindows.push_back(window.get<std::string>());
            }
    } else if (name == "mixerWindow")
        f.mixerWindow = boolean(name, v);
    else if (name == "mixerWindowFirst") {
        f.mixerWindowFirst = boolean(name, v);
        if (f.mixerWindowFirst) f.mixerWindow = true;
    } else if (name == "secondPlayheadGroup")
        f.secondPlayheadGroup = boolean(name, v);
    else if (name == "duplicateNameField")
        f.duplicateNameField = boolean(name, v);
    else if (name == "decoyContainers")
        f.decoyContainers = boolean(name, v);
    else if (name == "windowDecoys")
        f.windowDecoys = boolean(name, v);
    else if (name == "menuPlacement") {
        if (!v.is_string() || (v != "child" && v != "appLevel")) bad(name, v);
        f.menuPlacementAppLevel = v == "appLevel";
    } else if (name == "lateWindow")
        f.lateWindow = std::max(0.0, number(name, v));
    else if (name == "dropMisses")
        f.dropMisses = count(name, v);
    else if (name == "newSlotZeroFrame")
        f.newSlotZeroFrame = count(name, v);
    else if (name == "openToggles")
        f.openToggles = boolean(name, v);
    else if (name == "openIgnoresFirstPress")
        f.openIgnoresFirstPress = boolean(name, v);
    else if (name == "windowOnInsert")
        f.windowOnInsert = boolean(name, v);
    else if (name == "slotNameWidth")
        f.slotNameWidth = count(name, v);
    else if (name == "slotNameEllipsis")
        f.slotNameEllipsis = boolean(name, v);
    else if (name == "filledSlotButton")
        f.filledSlotButton = boolean(name, v);
    else if (name == "popupDirectSet") {
        if (v == "ignore")
            f.popupDirectSet = PopupDirectSet::ignore;
        else if (v == "accept")
            f.popupDirectSet = PopupDirectSet::accept;
        else if (v == "refuse")
            f.popupDirectSet = PopupDirectSet::refuse;
        else
            bad(name, v);
    } else if (name == "pluginWindowTakesKeys")
        f.pluginWindowTakesKeys = boolean(name, v);
    else if (name == "quantise")
        f.quantise = count(name, v);
    else if (name == "lagWrites")
        f.lagWrites = count(name, v);
    else if (name == "ignoreWrites")
        f.ignoreWrites = boolean(name, v);
    else if (name == "blankValueDescription")
        f.blankValueDescription = boolean(name, v);
    else if (name == "mainMenuExposure") {
        if (v != "window" && v != "appOnly") bad(name, v);
        f.mainMenuAppOnly = v == "appOnly";
    } else if (name == "renameIgnoresInput")
        f.renameIgnoresInput = boolean(name, v);
    else if (name == "sendWrites") {
        if (v == "step")
            f.sendWrites = SendWrites::step;
        else if (v == "absolute")
            f.sendWrites = SendWrites::absolute;
        else if (v == "ignore")
            f.sendWrites = SendWrites::ignore;
        else
            bad(name, v);
    } else if (name == "contentError")
        f.contentError = optionalText(name, v);
    else if (name == "noContent")
        f.noContent = boolean(name, v);
    else if (name == "captureError")
        f.captureError = optionalText(name, v);
    else if (name == "noImage")
        f.noImage = boolean(name, v);
    else if (name == "degenerateImage")
        f.degenerateImage = boolean(name, v);
    else if (name == "analysis") {
        if (!v.is_object()) bad(name, v);
        f.analysis.clear();
        for (const auto& [id, knobs] : v.items()) f.analysis[id] = analysisInstance(name, knobs);
    } else if (name == "postWhileStopped")
        f.postWhileStopped = boolean(name, v);
    else if (name == "analysisPort") {
        if (!v.is_number_integer() || v.get<long long>() < 1 || v.get<long long>() > 65535) bad(name, v);
        f.analysisPort = v.get<int>();
    } else if (name == "running" || name == "logic.running" || name == "frontmost" || name == "inspectorVisible")
        return false;
    else
        f.other[std::string(name)] = v;
    return true;
}

}  // namespace corvane::standin
