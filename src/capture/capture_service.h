#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "logic/logic_inspector.h"
#include "model/capture_models.h"
#include "platform/screen_capture.h"

namespace corvane {

// One screenshot: its description and the PNG bytes (also when nothing was stored).
struct CaptureArtifact {
    CaptureMetadata metadata;
    std::string pngData;
};

// The answer of the capture operation.
struct CaptureResponse {
    bool ok = false;
    std::string message;
    std::optional<CaptureMetadata> metadata;
};
void to_json(nlohmann::json& j, const CaptureResponse& v);
void from_json(const nlohmann::json& j, CaptureResponse& v);

class CaptureError : public std::runtime_error {
public:
    enum class Kind {
        screenshotFailed,
        logicNotRunning,
        screenRecordingDenied,
        noCapturableContent,
        pngEncodingFailed
    };
    explicit CaptureError(Kind kind, const std::string& detail = {})
        : std::runtime_error(describe(kind, detail)), kind_(kind) {}
    Kind kind() const { return kind_; }
    static std::string describe(Kind kind, const std::string& detail);

private:
    Kind kind_;
};

// Takes one screenshot of Logic Pro: its largest on-screen window alone, or the display it
// is on, as PNG, optionally stored in the "Captures" folder.
class CaptureService {
public:
    // Removes the screenshots that an earlier run's crash left half-written in the "Captures" folder.
    CaptureService(const LogicInspector& logicInspector, const PermissionService& permissionService);

    // Throws CaptureError, also when the file cannot be stored (then nothing is left on disk).
    CaptureArtifact captureLogic(bool saveToDisk, std::optional<CaptureMode> requestedMode = std::nullopt) const;

    static std::optional<platform::ShareableWindow> chooseBestWindow(
        const std::vector<platform::ShareableWindow>& windows);
    static std::optional<platform::Display> chooseBestDisplay(
        const std::vector<platform::Display>& displays, const LogicContextSnapshot& logicSnapshot,
        const std::vector<platform::ShareableWindow>& logicWindows);

private:
    const LogicInspector& logicInspector_;
    const PermissionService& permissionService_;
};

}  // namespace corvane
