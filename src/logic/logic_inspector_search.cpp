#include <fmt/format.h>

#include "logic/ax_read.h"
#include "logic/logic_inspector.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "support/numbers.h"
#include "support/unicode.h"

namespace corvane {

namespace ax = platform::ax;
using platform::AXElement;

using ax_read::blanksForLineSeparators;
using ax_read::textOf;
using ax_read::trimmed;
using ax_read::wholeNumber;

bool LogicInspector::isLogicMainWindowTitle(const std::string& title) {
    return title.find("- Tracks") != std::string::npos || title.find("- Mixer") != std::string::npos;
}

std::optional<AXElement> LogicInspector::findMainWindow() const {
    auto logic = logicApplication();
    if (!logic) return std::nullopt;
    auto app = platform::accessibility().applicationElement(logic->processIdentifier);
    auto windows = app.elements(ax::kWindows);
    if (!windows) return std::nullopt;
    // Only Logic Pro's own window titles: a plug-in window of a track named "Drum Tracks"
    // must never be taken for the main window.
    for (const auto& w : *windows)
        if (isLogicMainWindowTitle(textOf(w, ax::kTitle))) return w;
    return std::nullopt;
}

std::optional<AXElement> LogicInspector::findDescendant(const AXElement& of, const std::string& description,
                                                        const std::optional<std::string>& role, int maxDepth,
                                                        int depth) const {
    if (depth >= maxDepth) return std::nullopt;
    if (trimmed(of, ax::kDescription) == description) {
        if (!role) return of;
        auto r = of.string(ax::kRole);
        if (r && *r == *role) return of;
    }
    for (const auto& child : of.children())
        if (auto found = findDescendant(child, description, role, maxDepth, depth + 1)) return found;
    return std::nullopt;
}

std::optional<platform::Rect> LogicInspector::findElementFrame(const AXElement& in, const std::string& description,
                                                               int maxDepth, int depth) const {
    if (depth >= maxDepth) return std::nullopt;
    if (trimmed(in, ax::kDescription) == description) {
        auto frame = frameForElement(in);
        if (frame == Rect{}) return std::nullopt;
        return frame;
    }
    for (const auto& child : in.children())
        if (auto found = findElementFrame(child, description, maxDepth, depth + 1)) return found;
    return std::nullopt;
}

std::optional<AXElement> LogicInspector::findSlider(const AXElement& in, const std::string& description,
                                                    int maxDepth, int depth) const {
    return findDescendant(in, description, std::string("AXSlider"), maxDepth, depth);
}

bool LogicInspector::setSliderValue(const AXElement& in, const std::string& description, double value, int maxDepth,
                                    int depth) const {
    if (depth >= maxDepth) return false;
    if (in.string(ax::kRole) == std::optional<std::string>("AXSlider") &&
        trimmed(in, ax::kDescription) == description) {
        // A caller's value that is not finite or not representable is refused, never converted.
        auto target = checkedInteger(value, INT64_MIN / 2, INT64_MAX / 2);
        if (!target) return false;
        bool wrote = true;
        for (int i = 0; i < 300; ++i) {
            auto current = wholeNumber(in);
            if (!current) break;
            if (*current == *target) return true;
            if (in.setAttributeValue(ax::kValue, static_cast<double>(*target)) != platform::AXError::success) {
                wrote = false;
                break;
            }
            platform::pause(0.005);
        }
        if (wrote) {
            auto last = wholeNumber(in);
            if (last && std::llabs(*last - *target) <= 1) return true;
        }
        return false;  // not confirmed: the parent goes on with the next matching slider
    }
    for (const auto& child : in.children())
        if (setSliderValue(child, description, value, maxDepth, depth + 1)) return true;
    return false;
}

bool LogicInspector::findAndClickButton(const AXElement& in, const std::string& description, int depth,
                                        int maxDepth) const {
    if (depth >= maxDepth) return false;
    auto role = textOf(in, ax::kRole);
    if ((role == "AXButton" || role == "AXCheckBox") &&
        (trimmed(in, ax::kDescription) == description || trimmed(in, ax::kTitle) == description)) {
        in.performAction(ax::kPress);
        return true;
    }
    for (const auto& child : in.children())
        if (findAndClickButton(child, description, depth + 1, maxDepth)) return true;
    return false;
}

bool LogicInspector::pressMenuItemInOpenedMenu(const AXElement& menuButton, const std::string& itemTitle,
                                               const AXElement& axApp) const {
    menuButton.performAction(ax::kPress);
    platform::pause(0.5);
    if (auto item = findMenuItemByTitle(axApp, itemTitle, 15)) {
        item->performAction(ax::kPress);
        platform::pause(0.8);
        return true;
    }
    log(fmt::format("[pressMenuItemInOpenedMenu] Could not find menu item '{}'", itemTitle));
    pressKey(53);
    return false;
}

void LogicInspector::findMenuButtonRecurse(const AXElement& element, const std::string& needle,
                                           std::optional<AXElement>& result, int depth, int maxDepth) const {
    if (result || depth >= maxDepth) return;
    if (textOf(element, ax::kRole) == "AXMenuButton" && text::lowercased(textOf(element, ax::kDescription)) == needle) {
        result = element;
        return;
    }
    for (const auto& child : element.children()) {
        findMenuButtonRecurse(child, needle, result, depth + 1, maxDepth);
        if (result) return;
    }
}

namespace {
void findMenuItemRecurse(const AXElement& element, const std::string& needle, std::optional<AXElement>& result,
                         int depth, int maxDepth) {
    if (result || depth >= maxDepth) return;
    if (textOf(element, ax::kRole) == "AXMenuItem" && text::lowercased(textOf(element, ax::kTitle)) == needle) {
        result = element;
        return;
    }
    for (const auto& child : element.children()) {
        findMenuItemRecurse(child, needle, result, depth + 1, maxDepth);
        if (result) return;
    }
}
}  // namespace

std::optional<AXElement> LogicInspector::findMenuItemByTitle(const AXElement& axApp, const std::string& title,
                                                             int maxDepth) const {
    auto needle = text::lowercased(title);
    std::optional<AXElement> result;
    if (auto windows = axApp.elements(ax::kWindows)) {
        for (const auto& w : *windows) {
            findMenuItemRecurse(w, needle, result, 0, maxDepth);
            if (result) return result;
        }
    }
    if (auto focused = axApp.element(ax::kFocusedUIElement)) findMenuItemRecurse(*focused, needle, result, 0, maxDepth);
    return result;
}

std::optional<AXElement> LogicInspector::findButtonByLabelContains(const AXElement& element, const std::string& needle,
                                                                   int depth, int maxDepth) const {
    if (depth >= maxDepth) return std::nullopt;
    if (textOf(element, ax::kRole) == "AXButton") {
        auto description = blanksForLineSeparators(textOf(element, ax::kDescription));
        auto title = blanksForLineSeparators(textOf(element, ax::kTitle));
        auto label = text::lowercased(description.empty() ? title : description);
        if (label.find(needle) != std::string::npos) return element;
    }
    for (const auto& child : element.children())
        if (auto found = findButtonByLabelContains(child, needle, depth + 1, maxDepth)) return found;
    return std::nullopt;
}

std::optional<AXElement> LogicInspector::findChildButton(const AXElement& in, const std::string& withDescription) const {
    auto wanted = text::lowercased(withDescription);
    for (const auto& child : in.children())
        if (text::lowercased(textOf(child, ax::kDescription)) == wanted) return child;
    return std::nullopt;
}

std::optional<AXElement> LogicInspector::firstMixerStrip(const AXElement& in) const {
    auto mixer = findDescendant(in, "Mixer", std::string("AXLayoutArea"), 10);
    if (!mixer) return std::nullopt;
    auto strips = mixer->children();
    if (strips.empty()) return std::nullopt;
    return strips.front();
}

platform::Rect LogicInspector::frameForElement(const AXElement& element) {
    auto position = element.point(ax::kPosition).value_or(platform::Point{});
    auto size = element.size(ax::kSize).value_or(platform::Size{});
    return {position.x, position.y, size.width, size.height};
}

std::optional<std::vector<std::string>> LogicInspector::copyAllAttributeNames(const AXElement& element) const {
    std::vector<std::string> names;
    if (element.copyAttributeNames(names) != platform::AXError::success) return std::nullopt;
    return names;
}

std::vector<std::string> LogicInspector::actionNames(const AXElement& element) const {
    std::vector<std::string> names;
    if (element.copyActionNames(names) != platform::AXError::success) return {};
    return names;
}

}  // namespace corvane
