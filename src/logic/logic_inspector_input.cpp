#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cstdlib>
#include <mutex>

#include <atomic>
#include "logic/key_codes.h"

#include "logic/logic_inspector.h"
#include "logic/logic_inspector_internal.h"
#include "logic/logic_messages.h"
#include "logic/logic_timing.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "support/app_paths.h"
#include "support/files.h"
#include "support/iso8601.h"
#include "support/unicode.h"

namespace corvane {

namespace {
platform::KeyEvent keyEvent(std::uint16_t vk, bool down, std::uint64_t flags = 0, std::u16string text = {}) {
    return platform::KeyEvent{vk, down, flags, std::move(text)};
}
platform::MouseEvent mouse(platform::MouseEventType type, platform::Point p) { return {type, p}; }
}  // namespace

LogicInspector::LogicInspector(std::vector<std::string> supportedBundleIdentifiers)
    : supportedBundleIdentifiers_(std::move(supportedBundleIdentifiers)),
      places_(std::make_unique<detail::InspectorPlaces>()) {}

LogicInspector::~LogicInspector() = default;

LogicInspector::LogicInspector(const LogicInspector& other) : LogicInspector(other.supportedBundleIdentifiers_) {}

LogicInspector& LogicInspector::operator=(const LogicInspector& other) {
    if (this != &other) {
        supportedBundleIdentifiers_ = other.supportedBundleIdentifiers_;
        places_ = std::make_unique<detail::InspectorPlaces>();
    }
    return *this;
}

std::optional<platform::RunningApplication> LogicInspector::logicApplication() const {
    for (const auto& app : platform::workspace().runningApplications()) {
        if (!app.bundleIdentifier) continue;
        for (const auto& id : supportedBundleIdentifiers_)
            if (*app.bundleIdentifier == id) return app;
        if (app.localizedName && *app.localizedName == "Logic Pro") return app;
    }
    return std::nullopt;
}

bool LogicInspector::isFrontmost(int processIdentifier) const {
    auto front = platform::workspace().frontmostApplication();
    return front && front->processIdentifier == processIdentifier;
}

void LogicInspector::activateLogic() const {
    auto logic = logicApplication();
    if (!logic) return;
    if (isFrontmost(logic->processIdentifier)) return;
    platform::workspace().activate(logic->processIdentifier, platform::activation::kAllWindows);
    platform::pause(pacing::kActivationSettle);
    if (isFrontmost(logic->processIdentifier)) return;
    platform::workspace().runAppleScript("tell application \"Logic Pro\" to activate");
    for (int i = 0; i < 30; ++i) {
        platform::pause(pacing::kActivationPoll);
        if (isFrontmost(logic->processIdentifier)) return;
    }
    log("[activateLogic] WARNING: Logic did not become frontmost after 1.5s");
}

std::string LogicInspector::keyCodeName(std::uint16_t vk) {
    switch (vk) {
        case key_code::kA: return "A";
        case key_code::kS: return "S";
        case key_code::kG: return "G";
        case key_code::kI: return "I";
        case key_code::kReturn: return "Return";
        case key_code::kM: return "M";
        case key_code::kTab: return "Tab";
        case key_code::kSpace: return "Space";
        case key_code::kDelete: return "Delete";
        case key_code::kEscape: return "Escape";
        case key_code::kLeft: return "Left";
        case key_code::kRight: return "Right";
        case key_code::kDown: return "Down";
        case key_code::kUp: return "Up";
        default: return "vk" + std::to_string(vk);
    }
}

void LogicInspector::pressKey(std::uint16_t vk) const {
    auto logic = logicApplication();
    if (!logic) {
        PlayheadDebug::log(fmt::format("pressKey DROP vk={} (Logic not running)", vk));
        return;
    }
    PlayheadDebug::log(fmt::format("pressKey vk={} ({})", vk, keyCodeName(vk)));
    auto& input = platform::input();
    input.postKeyToProcess(logic->processIdentifier, keyEvent(vk, true));
    platform::pause(pacing::kKeyHold);
    input.postKeyToProcess(logic->processIdentifier, keyEvent(vk, false));
}

void LogicInspector::pressKeyChord(std::uint16_t vk, std::uint64_t modifiers) const {
    auto logic = logicApplication();
    if (!logic) {
        PlayheadDebug::log(fmt::format("pressKeyChord DROP vk={} mods={} (Logic not running)", vk, modifiers));
        return;
    }
    PlayheadDebug::log(fmt::format("pressKeyChord {} mods=0x{:x}", keyCodeName(vk), modifiers));
    auto& input = platform::input();
    input.postKeyToProcess(logic->processIdentifier, keyEvent(vk, true, modifiers));
    platform::pause(pacing::kKeyHold);
    input.postKeyToProcess(logic->processIdentifier, keyEvent(vk, false, modifiers));
}

LogicInspector::LeftOpen LogicInspector::closeMenusAndNameField() const {
    LeftOpen closed;
    auto logic = logicApplication();
    if (!logic) return closed;
    // While a menu is open the application's focused element is its outermost level, and Escape
    // closes the innermost; while a track is being renamed it is the name field.
    const auto app = platform::accessibility().applicationElement(logic->processIdentifier);
    constexpr int kDeepestMenu = 8;
    for (int level = 0; level <= kDeepestMenu; ++level) {
        auto focused = app.element(ax::kFocusedUIElement);
        const std::string role = focused ? textOf(*focused, ax::kRole) : std::string();
        if (role == "AXMenu") {
            closed.menu = true;
        } else if (role == "AXTextField" && !closed.nameField) {
            closed.nameField = true;
        } else {
            break;
        }
        pressKey(key_code::kEscape);
        platform::pause(pacing::kMenuKeyRepeat);
    }
    if (closed.menu || closed.nameField)
        log(fmt::format("[LogicInspector] closed what was left open:{}{}", closed.menu ? " a menu" : "",
                        closed.nameField ? " the name field" : ""));
    return closed;
}

Outcome LogicInspector::mouseClickInLogic(Point at, ClickMode mode) const {
    auto& input = platform::input();
    if (mode == ClickMode::pidTargeted) {
        auto logic = logicApplication();
        if (!logic) return {false, logic_messages::kLogicProNotRunning};
        input.postMouseToProcess(logic->processIdentifier, mouse(platform::MouseEventType::moved, at));
        platform::pause(pacing::kTargetedClickPointerSettle);
        input.postMouseToProcess(logic->processIdentifier, mouse(platform::MouseEventType::leftDown, at));
        platform::pause(pacing::kTargetedClickHold);
        input.postMouseToProcess(logic->processIdentifier, mouse(platform::MouseEventType::leftUp, at));
        return {true, "Clicked."};
    }

    if (auto window = findMainWindow()) window->performAction(platform::ax::kRaise);
    activateLogic();
    platform::pause(pacing::kActivationSettle);
    auto logic = logicApplication();
    int pid = logic ? logic->processIdentifier : 0;
    auto logicInFront = [&] {
        auto front = platform::workspace().frontmostApplication();
        return logic ? (front && front->processIdentifier == pid) : !front.has_value();
    };
    bool inFront = false;
    for (int i = 0; i < 8; ++i) {
        if ((inFront = logicInFront())) break;
        platform::pause(pacing::kFrontRetry);
        activateLogic();
    }
    auto front = platform::workspace().frontmostApplication();
    log(fmt::format("[mouseClickInLogic] frontmost before click: {} (target={})",
                    front && front->localizedName ? *front->localizedName : "nil",
                    logic && logic->localizedName ? *logic->localizedName : "nil"));
    if (!logic || !inFront) {
        return {false, logic ? "Logic Pro did not come to the front; the click was not sent."
                             : "Logic Pro is not running; the click was not sent."};
    }
    Point home = input.cursorLocation().value_or(at);
    input.warpCursor(at);
    platform::pause(pacing::kClickPointerSettle);
    input.postMouseAtHIDTap(mouse(platform::MouseEventType::leftDown, at));
    platform::pause(pacing::kClickHold);
    input.postMouseAtHIDTap(mouse(platform::MouseEventType::leftUp, at));
    platform::pause(pacing::kClickRelease);
    input.warpCursor(home);
    return {true, "Clicked."};
}

Outcome LogicInspector::mouseDragInLogic(Point from, Point to, int steps,
                                         const std::function<bool(int)>& atButton) const {
    if (steps < 1) return {false, "A drag needs at least one step."};
    auto& input = platform::input();
    platform::workspace().hideCurrentApplication();
    activateLogic();
    auto logic = logicApplication();
    int pid = logic ? logic->processIdentifier : 0;
    bool inFront = false;
    for (int i = 0; i < 10; ++i) {
        auto front = platform::workspace().frontmostApplication();
        if ((inFront = logic ? (front && front->processIdentifier == pid) : !front.has_value())) break;
        platform::pause(pacing::kFrontRetry);
        activateLogic();
    }
    if (!logic || !inFront) {
        return {false, logic ? "Logic Pro did not come to the front; the drag was not sent."
                             : "Logic Pro is not running; the drag was not sent."};
    }
    platform::pause(pacing::kDragFrontSettle);
    Point home = input.cursorLocation().value_or(from);
    input.warpCursor(from);
    platform::pause(pacing::kDragPointerSettle);
    if (atButton && !atButton(0)) {
        input.warpCursor(home);
        return {false, "what lay under the pointer changed; the drag was not made."};
    }
    input.postMouseAtHIDTap(mouse(platform::MouseEventType::leftDown, from));
    platform::pause(pacing::kDragGrab);
    Point first{from.x, from.y <= to.y ? from.y + 12 : from.y - 12};
    input.postMouseAtHIDTap(mouse(platform::MouseEventType::leftDragged, first));
    platform::pause(pacing::kDragFirstStep);
    for (int i = 1; i <= steps; ++i) {
        double t = static_cast<double>(i) / steps;
        Point p = i == steps ? to : Point{from.x + (to.x - from.x) * t, from.y + (to.y - from.y) * t};
        input.postMouseAtHIDTap(mouse(platform::MouseEventType::leftDragged, p));
        platform::pause(pacing::kDragStep);
    }
    platform::pause(pacing::kDragHoverBeforeDrop);
    if (atButton) atButton(1);
    input.postMouseAtHIDTap(mouse(platform::MouseEventType::leftUp, to));
    if (atButton) atButton(2);
    // A Stop still puts the cursor back, at once when it came before.
    if (!platform::stopRequested()) {
        const platform::HeldPauses cursorBack;
        platform::pause(pacing::kDragRelease);
    }
    input.warpCursor(home);
    return {true, "Dragged."};
}

Outcome LogicInspector::typeStringIntoLogic(const std::string& text, double perCharDelay) const {
    auto logic = logicApplication();
    if (!logic) return {false, logic_messages::kNothingTyped};
    auto& input = platform::input();
    for (const auto& character : text::graphemes(text)) {
        auto units = text::toUTF16(character);
        bool down = input.postKeyToProcess(logic->processIdentifier, keyEvent(key_code::kTextCarrier, true, 0, units));
        bool up = input.postKeyToProcess(logic->processIdentifier, keyEvent(key_code::kTextCarrier, false, 0, units));
        if (down && up) platform::pause(perCharDelay);
    }
    return {true, "Typed."};
}

Outcome LogicInspector::postUnicodeStringToLogic(const std::string& text) const {
    auto logic = logicApplication();
    if (!logic) return {false, logic_messages::kNothingTyped};
    auto units = text::toUTF16(text);
    auto& input = platform::input();
    bool down = input.postKeyToProcess(logic->processIdentifier, keyEvent(key_code::kTextCarrier, true, 0, units));
    bool up = input.postKeyToProcess(logic->processIdentifier, keyEvent(key_code::kTextCarrier, false, 0, units));
    if (!down || !up) return {false, "The text could not be posted to Logic Pro."};
    return {true, "Typed."};
}

// --- Trace log ---------------------------------------------------------------------------

std::filesystem::path PlayheadDebug::url() {
    // Fixed on first use; a test that swaps the application folder gets a fresh location.
    static std::mutex mutex;
    static std::string resolvedFor;
    static std::filesystem::path path;
    std::lock_guard lock(mutex);
    const auto home = AppPaths::applicationFolderOverride();
    std::string key = home ? home->string() : "";
    if (path.empty() || key != resolvedFor) {
        resolvedFor = key;
        if (home) {
            path = AppPaths::appSupportDirectory() / "playhead-trace.log";
        } else if (AppPaths::userDataDirectory()) {
            path = AppPaths::appSupportDirectory() / "playhead-trace.log";
        } else {
            path = "/tmp/corvane-playhead-trace.log";
        }
    }
    return path;
}

void PlayheadDebug::log(const std::string& message) {
    std::string line = "[" + ISO8601::plainString(ISO8601::now()) + "] " + message + "\n";
    const auto path = url();
    // Every thread traces; one rotation must not move away another thread's fresh file.
    static std::mutex rotation;
    std::lock_guard lock(rotation);
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<std::uintmax_t>(st.st_size) + line.size() > kMaxBytes) {
        auto previous = path;
        previous += ".1";
        // A rename replaces a link rather than follow it; where it cannot (a folder in the way) the
        // log starts again, so that the bound holds whatever lies there.
        if (::rename(path.c_str(), previous.c_str()) != 0) ::truncate(path.c_str(), 0);
    }
    appendToPrivateFile(path, line);  // failures are never the caller's problem
}

}  // namespace corvane
