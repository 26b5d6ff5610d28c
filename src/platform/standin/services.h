#pragma once

// The stand-in's implementations of the platform interfaces (internal: program code gets them from World).

#include <memory>
#include <stop_token>

#include "platform/accessibility.h"
#include "platform/clock.h"
#include "platform/input.h"
#include "platform/screen_capture.h"
#include "platform/workspace.h"

namespace corvane::standin::detail {

class Engine;
struct AnalysisPost;

// Sends one analysis post over a real loopback connection and logs it; a refused or failed
// connection is logged and the post dropped. Call without holding the engine's lock.
void sendAnalysisPost(Engine& e, const AnalysisPost& post);

class StandinAccessibility final : public platform::Accessibility {
public:
    explicit StandinAccessibility(std::shared_ptr<Engine> e) : e_(std::move(e)) {}
    platform::AXElement applicationElement(int processIdentifier) override;
    platform::AXElement systemWideElement() override;
    bool isProcessTrusted(bool prompt) override;

private:
    std::shared_ptr<Engine> e_;
};

class StandinInput final : public platform::Input {
public:
    explicit StandinInput(std::shared_ptr<Engine> e) : e_(std::move(e)) {}
    bool postKeyToProcess(int processIdentifier, const platform::KeyEvent& event) override;
    bool postMouseToProcess(int processIdentifier, const platform::MouseEvent& event) override;
    bool postKeyAtHIDTap(const platform::KeyEvent& event) override;
    bool postMouseAtHIDTap(const platform::MouseEvent& event) override;
    std::optional<platform::Point> cursorLocation() override;
    void warpCursor(platform::Point to) override;

private:
    std::shared_ptr<Engine> e_;
};

class StandinWorkspace final : public platform::Workspace {
public:
    explicit StandinWorkspace(std::shared_ptr<Engine> e) : e_(std::move(e)) {}
    std::vector<platform::RunningApplication> runningApplications() override;
    std::optional<platform::RunningApplication> frontmostApplication() override;
    bool activate(int processIdentifier, unsigned options) override;
    platform::RunningApplication currentApplication() override;
    void activateCurrentApplication(bool ignoringOtherApps) override;
    void hideCurrentApplication() override;
    platform::AppleScriptResult runAppleScript(const std::string& source) override;
    bool openURL(const std::string& url) override;
    ObserverToken addObserver(platform::WorkspaceNotification notification, Observer observer) override;
    void removeObserver(ObserverToken token) override;

private:
    std::shared_ptr<Engine> e_;
};

class StandinScreenCapture final : public platform::ScreenCapture {
public:
    explicit StandinScreenCapture(std::shared_ptr<Engine> e) : e_(std::move(e)) {}
    platform::CaptureResult<platform::ShareableContent> shareableContent() override;
    platform::CaptureResult<platform::Image> captureWindow(std::uint32_t windowID) override;
    platform::CaptureResult<platform::Image> captureDisplay(std::uint32_t displayID) override;
    platform::CaptureResult<platform::Image> captureRect(platform::Rect rect) override;
    std::optional<platform::Display> mainDisplay() override;
    bool preflightScreenRecording() override;
    bool requestScreenRecording() override;

private:
    std::shared_ptr<Engine> e_;
};

// Virtual time: a sleep advances it at once, first running every stand-in event due by then.
class VirtualClock final : public platform::Clock {
public:
    explicit VirtualClock(std::shared_ptr<Engine> e) : e_(std::move(e)) {}
    TimePoint now() override;
    void sleep(std::chrono::duration<double> duration) override;

private:
    std::shared_ptr<Engine> e_;
};

// Wall time: a sleep waits in real time; the events fall due as it passes (see runWallClockTimer),
// and "now" is the real date and time from the moment the world started.
class WallClock final : public platform::Clock {
public:
    explicit WallClock(std::shared_ptr<Engine> e) : e_(std::move(e)) {}
    TimePoint now() override;
    void sleep(std::chrono::duration<double> duration) override;
    bool sleepUnlessStopped(std::chrono::duration<double> duration, std::stop_token stop) override;

private:
    std::shared_ptr<Engine> e_;
};

// The wall clock's own thread: runs every event when its moment comes and sends the posts, also
// while nobody sleeps, until stopped.
void runWallClockTimer(Engine& e, std::stop_token stop);

}  // namespace corvane::standin::detail
