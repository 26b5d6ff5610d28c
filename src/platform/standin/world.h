#pragma once

// The simulated Logic Pro ("stand-in"): one fake world behind every platform interface.
//
// A World loads a scenario (JSON), holds the whole model under one lock and implements Accessibility,
// Input, Workspace, ScreenCapture and a Clock, virtual or wall (see ClockMode). Program code sees only services();
// tests drive the world through those services as program code would and then assert on the test API below, which
// program code never uses.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/geometry.h"
#include "platform/key_monitor.h"
#include "platform/platform.h"
#include "platform/screen_changes.h"
#include "platform/standin/clock_mode.h"
#include "platform/standin/event_log.h"
#include "platform/standin/faults.h"
#include "platform/standin/model.h"
#include "platform/standin/palette.h"

namespace corvane::platform {
class ThreadMainQueue;
}

namespace corvane::standin {

namespace detail {
class Engine;
}

// A window of another application on the simulated screen, such as the program's chat window or its shield.
struct WindowSpec {
    enum class Level { normal, floating, overlay };
    int pid = 0;  // 0: the program itself
    std::string title;
    platform::Rect frame;
    Level level = Level::normal;
    bool ignoresMouse = false;
    bool visible = true;
    Rgb colour = palette::otherWindow;
    double alpha = 1.0;

    // The program's shield: black at 0.3 over everything, never taking the mouse.
    static WindowSpec shield(platform::Rect frame);
};

struct WorldOptions {
    // The queue on which workspace notifications are delivered; null: a ThreadMainQueue owned by the world.
    platform::MainQueue* mainQueue = nullptr;
    // On the wall clock the world keeps a thread of its own that runs its events as they fall due.
    ClockMode clock = ClockMode::virtualTime;
    // How many of the most recent events the log keeps; 0 keeps them all (tests read the whole log).
    std::size_t eventLogLimit = 0;
};

class World {
public:
    using Options = WorldOptions;

    // Throws std::invalid_argument when the scenario is malformed.
    explicit World(const nlohmann::json& scenario, Options options = Options());
    static std::unique_ptr<World> fromFile(const std::filesystem::path& path, Options options = Options());
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // ---- what program code gets -------------------------------------------------------------------
    platform::Services services();
    platform::Accessibility& accessibility();
    platform::Input& input();
    platform::Workspace& workspace();
    platform::ScreenCapture& screenCapture();
    platform::Clock& clock();
    platform::MainQueue& mainQueue();
    // What a window of the host sees: key-downs posted through input(), and every change of the
    // simulated screen (for a viewer that shows the captures live).
    platform::KeyMonitor& keyMonitor();
    platform::ScreenChanges& screenChanges();

    // ---- test API -----------------------------------------------------------------------------------
    Project project() const;
    UiState ui() const;
    std::vector<Event> eventLog() const;
    std::vector<Event> events(EventKind kind) const;
    void clearEventLog();

    Faults faults() const;
    void updateFaults(const std::function<void(Faults&)>& change);
    // Any knob name of the scenario's "faults", plus "running" and "frontmost" (booleans for Logic) and
    // "inspectorVisible". Throws std::invalid_argument on a bad value.
    void setKnob(std::string_view name, const nlohmann::json& value);
    // Changes the project directly (test set-up); the tree follows.
    void mutateProject(const std::function<void(Project&)>& change);
    // As the user Shift-clicks the header of the first track of that name: it joins the selection.
    void shiftClickHeader(std::string_view trackName);
    // The same hand actions on a track given by its id, for projects whose names repeat (hand.cpp).
    void clickHeader(int trackId);              // that track alone is selected
    void shiftClickHeader(int trackId);         // it joins the selection
    void clickFolderTriangle(int folderId);     // the folder opens or closes
    void renameByHand(int trackId, const std::string& name);
    void openPluginWindowByHand(int trackId, int slot);  // a double-click on the filled slot

    void launchLogic(bool makeFrontmost = true);
    void quitLogic();
    bool logicRunning() const;
    int logicPid() const;
    int selfPid() const;
    std::optional<int> frontmostPid() const;
    void setFrontmost(std::optional<int> pid);  // as if the user brought that application forward
    platform::Point cursor() const;
    int accessibilityPrompts() const;
    int screenRecordingPrompts() const;

    double virtualSeconds() const;  // the world's time since it started
    void advance(double seconds);   // the same as a sleep on the world's clock
    // Runs `action` once, when the world's time reaches `virtualSeconds`, on whichever thread's
    // sleep takes it there (as a user acting at that moment). It runs with the world locked, so it
    // must not call the world.
    void at(double virtualSeconds, std::function<void()> action);

    static double level(int raw);
    static int rawFor(double levelDb);
    std::string levelText(int raw) const;  // as the strip shows it under the current levelFormat

    // Layout queries: frames on the current screen, in global points. Absent when the element is not shown.
    std::optional<platform::Rect> windowFrame(std::string_view logicWindow = "main") const;
    std::optional<std::uint32_t> windowId(std::string_view logicWindow = "main") const;
    std::optional<platform::Rect> controlFrame(std::string_view description) const;  // first in the main window
    std::optional<platform::Rect> headerFrame(std::string_view trackName) const;
    // control: "mute", "solo", "track name" or "triangle".
    std::optional<platform::Rect> headerControlFrame(std::string_view trackName, std::string_view control) const;
    std::optional<platform::Rect> rowFrame(std::string_view trackName) const;
    std::optional<platform::Rect> regionFrame(std::string_view trackName, int region) const;
    std::optional<platform::Rect> stripFrame(int strip) const;
    std::optional<platform::Rect> stripControlFrame(int strip, std::string_view description) const;
    std::optional<platform::Rect> slotFrame(int strip, int slot) const;
    std::optional<platform::Rect> insertBarFrame(int strip, int gap) const;
    static platform::Point center(platform::Rect r) { return {r.x + r.width / 2, r.y + r.height / 2}; }

    // ---- the screen model, for the program's own windows (the UI layer registers them) -----------------
    std::uint32_t addWindow(const WindowSpec& window);
    void removeWindow(std::uint32_t id);
    void setWindowFrame(std::uint32_t id, platform::Rect frame);
    void setWindowVisible(std::uint32_t id, bool visible);

    // Waits until the notifications posted so far have been delivered (only with the world's own queue).
    void drainMainQueue();

private:
    struct Facades;
    std::optional<platform::Rect> frameByKey(const std::string& key) const;
    std::optional<platform::Rect> findInSubtree(const std::string& rootKey, std::string_view description) const;

    std::unique_ptr<platform::ThreadMainQueue> ownedQueue_;
    std::shared_ptr<detail::Engine> engine_;
    std::unique_ptr<Facades> facades_;
    std::jthread timer_;  // the wall clock's
};

}  // namespace corvane::standin
