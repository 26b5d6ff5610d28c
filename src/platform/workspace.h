#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace corvane::platform {

enum class ActivationPolicy { regular, accessory, prohibited };

struct RunningApplication {
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> localizedName;
    int processIdentifier = 0;
    ActivationPolicy activationPolicy = ActivationPolicy::regular;
    bool isHidden = false;
};

namespace activation {
inline constexpr unsigned kAllWindows = 1;
inline constexpr unsigned kIgnoringOtherApps = 2;
}  // namespace activation

enum class WorkspaceNotification { didLaunchApplication, didTerminateApplication, didActivateApplication };

struct AppleScriptResult {
    bool ok = false;
    std::string output;  // the script's result, or the error text when !ok
};

class Workspace {
public:
    using Observer = std::function<void(const RunningApplication&)>;
    using ObserverToken = std::uint64_t;

    virtual ~Workspace() = default;
    virtual std::vector<RunningApplication> runningApplications() = 0;
    virtual std::optional<RunningApplication> frontmostApplication() = 0;
    virtual bool activate(int processIdentifier, unsigned options) = 0;
    virtual RunningApplication currentApplication() = 0;
    virtual void activateCurrentApplication(bool ignoringOtherApps) = 0;
    virtual void hideCurrentApplication() = 0;
    virtual AppleScriptResult runAppleScript(const std::string& source) = 0;
    virtual bool openURL(const std::string& url) = 0;
    // Observers are called on the main queue.
    virtual ObserverToken addObserver(WorkspaceNotification notification, Observer observer) = 0;
    virtual void removeObserver(ObserverToken token) = 0;
};

}  // namespace corvane::platform
