#include "shield/shield_platform.h"

#include <algorithm>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace corvane::shield {

using platform::Rect;

double primaryScreenHeight(const std::vector<Rect>& screens, std::optional<Rect> mainScreen) {
    for (const auto& screen : screens)
        if (screen.x == 0 && screen.y == 0) return screen.height;
    if (mainScreen) return mainScreen->height;
    return screens.empty() ? 0 : screens.front().height;
}

Rect flipped(Rect frame, double primaryHeight) {
    return {frame.x, primaryHeight - frame.y - frame.height, frame.width, frame.height};
}

namespace {

// A read that fails leaves no frame; a value of another kind counts as zero.
template <class T>
std::optional<T> readGeometry(const platform::AXElement& window, const char* attribute) {
    platform::AXValue value;
    if (window.copyAttributeValue(attribute, value) != platform::AXError::success) return std::nullopt;
    if (const auto* typed = std::get_if<T>(&value)) return *typed;
    return T{};
}

}  // namespace

std::optional<Rect> logicMainWindowAXFrame(const FindMainWindow& findMainWindow) {
    const auto window = findMainWindow ? findMainWindow() : std::nullopt;
    if (!window) return std::nullopt;
    const auto position = readGeometry<platform::Point>(*window, platform::ax::kPosition);
    const auto size = readGeometry<platform::Size>(*window, platform::ax::kSize);
    if (!position || !size) return std::nullopt;
    return Rect{position->x, position->y, size->width, size->height};
}

bool logicIsFrontmost() {
    const auto front = platform::workspace().frontmostApplication();
    return front && front->bundleIdentifier == InputShield::logicBundleIdentifier;
}

LabelLayout layoutLabels(double width, double height) {
    const double labelWidth = std::min(width - 40, 700.0);
    return {{(width - labelWidth) / 2, height / 2 - 20, labelWidth, 40}, {(width - 20) / 2, height / 2 - 48, 20, 20}};
}

InputShield::Environment platformEnvironment(Screens screens, platform::MainTimers* timers,
                                             FindMainWindow findMainWindow, LogicToDesktop toDesktop) {
    auto height = [screens] {
        return primaryScreenHeight(screens.all ? screens.all() : std::vector<Rect>{},
                                   screens.main ? screens.main() : std::nullopt);
    };
    InputShield::Environment environment;
    environment.logicIsFrontmost = [] { return logicIsFrontmost(); };
    if (toDesktop)
        // Logic Pro's screen is a window beside Corvane's here, in view whichever window the user
        // activates: the notice stays over it for as long as the window shows it.
        environment.logicIsFrontmost = [findMainWindow, toDesktop] {
            const auto frame = logicMainWindowAXFrame(findMainWindow);
            return frame && toDesktop(*frame);
        };
    environment.logicMainWindowFrame = [height, findMainWindow, toDesktop]() -> std::optional<Rect> {
        auto frame = logicMainWindowAXFrame(findMainWindow);
        if (frame && toDesktop) frame = toDesktop(*frame);
        if (!frame) return std::nullopt;
        return flipped(*frame, height());
    };
    environment.mainScreenFrame = [screens, height]() -> std::optional<Rect> {
        auto main = screens.main ? screens.main() : std::nullopt;
        if (!main) return std::nullopt;
        return flipped(*main, height());
    };
    environment.observeActivation = [](std::function<void()> activated) -> std::shared_ptr<void> {
        auto& workspace = platform::workspace();
        const auto token = workspace.addObserver(platform::WorkspaceNotification::didActivateApplication,
                                                 [activated](const platform::RunningApplication&) { activated(); });
        return std::shared_ptr<void>(nullptr, [&workspace, token](void*) { workspace.removeObserver(token); });
    };
    environment.timers = timers;
    return environment;
}

}  // namespace corvane::shield
