#include "capture/capture_service.h"

#include <cmath>
#include <filesystem>
#include <string_view>

#include "platform/platform.h"
#include "support/app_paths.h"
#include "support/files.h"
#include "support/image_encoding.h"
#include "support/iso8601.h"

namespace corvane {

namespace {
bool intersects(const platform::Rect& a, const platform::Rect& b) {
    if (a.isEmpty() || b.isEmpty()) return false;
    return a.x < b.maxX() && b.x < a.maxX() && a.y < b.maxY() && b.y < a.maxY();
}

int configurationSize(double points) {
    double whole = std::isfinite(points) ? std::trunc(points) : 1;
    if (whole < 1) return 1;
    if (whole > 100000) return 100000;
    return static_cast<int>(whole);
}

platform::Image takeImage(platform::CaptureResult<platform::Image> result) {
    if (!result.error.empty()) throw CaptureError(CaptureError::Kind::screenshotFailed, result.error);
    if (!result.value) throw CaptureError(CaptureError::Kind::noCapturableContent);
    return std::move(*result.value);
}
}  // namespace

std::string CaptureError::describe(Kind kind, const std::string& detail) {
    switch (kind) {
        case Kind::screenshotFailed: break;
        case Kind::logicNotRunning: return "Logic Pro is not currently running.";
        case Kind::screenRecordingDenied:
            return "Screen Recording permission is required before the companion can capture Logic.";
        case Kind::noCapturableContent: return "No capturable Logic window or display was found.";
        case Kind::pngEncodingFailed: return "The capture was taken, but it could not be encoded as PNG.";
    }
    return "Screen capture failed: " + detail;
}

void to_json(nlohmann::json& j, const CaptureResponse& v) {
    j = nlohmann::json{{"ok", v.ok}, {"message", v.message}};
    if (v.metadata) j["metadata"] = *v.metadata;
}

void from_json(const nlohmann::json& j, CaptureResponse& v) {
    v.ok = json_fields::boolean(j, "ok");
    v.message = json_fields::text(j, "message");
    v.metadata = json_fields::optionalValue<CaptureMetadata>(j, "metadata");
}

std::optional<platform::ShareableWindow> CaptureService::chooseBestWindow(
    const std::vector<platform::ShareableWindow>& windows) {
    std::optional<platform::ShareableWindow> best;
    for (const auto& w : windows)
        if (!best || w.frame.width * w.frame.height > best->frame.width * best->frame.height) best = w;
    return best;
}

std::optional<platform::Display> CaptureService::chooseBestDisplay(
    const std::vector<platform::Display>& displays, const LogicContextSnapshot& logicSnapshot,
    const std::vector<platform::ShareableWindow>& logicWindows) {
    auto onDisplay = [&](const platform::Rect& frame) -> std::optional<platform::Display> {
        for (const auto& d : displays)
            if (intersects(d.frame, frame)) return d;
        return std::nullopt;
    };
    for (const auto& w : logicSnapshot.windows)
        if (w.isFocused) return onDisplay({w.frame.x, w.frame.y, w.frame.width, w.frame.height});
    if (auto best = chooseBestWindow(logicWindows)) return onDisplay(best->frame);
    if (displays.empty()) return std::nullopt;
    return displays.front();
}

CaptureService::CaptureService(const LogicInspector& logicInspector, const PermissionService& permissionService)
    : logicInspector_(logicInspector), permissionService_(permissionService) {
    // Only its own files: the folder also holds the images dropped into the chat.
    removeLeftoverTemporaryFiles(AppPaths::appSupportDirectory() / "Captures", [](std::string_view name) {
        return name.starts_with("logic-capture-") && name.ends_with(".png");
    });
}

CaptureArtifact CaptureService::captureLogic(bool saveToDisk, std::optional<CaptureMode> requestedMode) const {
    (void)permissionService_;  // held for its owner; the checks are made where needed
    if (!logicInspector_.logicApplication()) throw CaptureError(CaptureError::Kind::logicNotRunning);
    auto& capture = platform::screenCapture();
    if (!capture.preflightScreenRecording() && !capture.requestScreenRecording())
        throw CaptureError(CaptureError::Kind::screenRecordingDenied);

    auto logicSnapshot = logicInspector_.snapshot(platform::accessibility().isProcessTrusted(false));

    auto content = capture.shareableContent();
    if (!content.error.empty()) throw CaptureError(CaptureError::Kind::screenshotFailed, content.error);
    if (!content.value) throw CaptureError(CaptureError::Kind::noCapturableContent);

    std::vector<platform::ShareableWindow> logicWindows;
    for (const auto& w : content.value->windows) {
        if (!w.isOnScreen) continue;
        bool belongs = logicSnapshot.bundleIdentifier ? w.owningBundleIdentifier == logicSnapshot.bundleIdentifier
                                                      : !w.owningBundleIdentifier.has_value();
        if (belongs) logicWindows.push_back(w);
    }

    std::string timestamp = ISO8601::corvaneDefault(ISO8601::now());
    CaptureMode mode = CaptureMode::display;
    std::optional<RGBAImage> pixels;

    std::optional<platform::ShareableWindow> window;
    if (!requestedMode || *requestedMode == CaptureMode::logicWindow) window = chooseBestWindow(logicWindows);
    if (window) {
        auto image = takeImage(capture.captureWindow(window->windowID));
        pixels = toRGBA(image);
        if (pixels)
            pixels = resized(*pixels, configurationSize(window->frame.width), configurationSize(window->frame.height));
        mode = CaptureMode::logicWindow;
    } else {
        auto display = chooseBestDisplay(content.value->displays, logicSnapshot, logicWindows);
        if (!display) throw CaptureError(CaptureError::Kind::noCapturableContent);
        auto image = takeImage(capture.captureDisplay(display->displayID));
        pixels = toRGBA(image);
        if (pixels)
            pixels =
                resized(*pixels, configurationSize(display->frame.width), configurationSize(display->frame.height));
        mode = CaptureMode::display;
    }

    std::optional<std::string> png;
    if (pixels) png = encodePNG(*pixels);
    if (!png) throw CaptureError(CaptureError::Kind::pngEncodingFailed);

    CaptureArtifact artifact;
    artifact.metadata.timestamp = timestamp;
    artifact.metadata.mode = mode;
    artifact.metadata.logicContext = logicSnapshot;
    if (saveToDisk) {
        std::string name = timestamp;
        for (auto& c : name)
            if (c == ':') c = '-';
        auto path = AppPaths::appSupportDirectory(std::string("Captures")) / ("logic-capture-" + name + ".png");
        // Screenshots can show anything on screen: private to the user, and never half-written.
        if (!writePrivateFile(path, *png))
            throw CaptureError(CaptureError::Kind::screenshotFailed, "could not store " + path.string());
        artifact.metadata.filePath = path.string();
    }
    artifact.pngData = std::move(*png);
    return artifact;
}

}  // namespace corvane
