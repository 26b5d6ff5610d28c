#pragma once

// The stand-in's internals: the whole simulated world under one lock. Only the stand-in's own sources
// include this; everyone else goes through World and the platform interfaces.
//
// Adding behaviour (menus, renaming, plug-in windows...) follows one path: keep the new state here, give
// its elements a Bind kind and build them in ax_build.cpp (a rebuild signature decides when handles go
// stale), react to actions and writes in actions.cpp, route keys in input.cpp (an open menu, then the
// rename field, then the key window), paint it in capture.cpp, and name any new knob in faults.h.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/accessibility.h"
#include "platform/clock.h"
#include "platform/input.h"
#include "platform/key_monitor.h"
#include "platform/main_queue.h"
#include "platform/screen_capture.h"
#include "platform/screen_changes.h"
#include "platform/standin/ax_tree.h"
#include "platform/standin/event_log.h"
#include "platform/standin/faults.h"
#include "platform/standin/model.h"
#include "platform/standin/palette.h"
#include "platform/workspace.h"

namespace corvane::standin::detail {

struct AppRecord {
    std::optional<std::string> bundleId;
    std::optional<std::string> name;
    int pid = 0;
    platform::ActivationPolicy policy = platform::ActivationPolicy::regular;
    bool hidden = false;
    bool isSelf = false;
    bool isLogic = false;
};

struct ScreenWindow {
    std::uint32_t id = 0;
    int pid = 0;
    std::string title;
    platform::Rect frame;
    int level = 0;  // 0 normal, 1 floating, 2 overlay: higher levels stack above lower ones
    bool ignoresMouse = false;
    bool visible = true;
    bool minimised = false;  // Logic's windows: in the Dock, off screen, frame kept
    Rgb colour = palette::otherWindow;
    double alpha = 1;
    std::string logicKey;      // "main", "mixer", "extra:<n>" for Logic's windows
    platform::Rect homeFrame;  // Logic's windows: where Logic puts it unless the windowFrames knob moves it
};

struct Scheduled {
    std::int64_t due = 0;  // virtual nanoseconds
    std::uint64_t seq = 0;
    std::string what;
    std::function<void()> run;
};

// One analysis post waiting to go out, built at the virtual moment it became due.
struct AnalysisPost {
    std::string instanceID;
    std::string body;
    int port = 0;
};

// The bars one analysis instance passed during the current playback, oldest first.
struct AnalysisHistory {
    std::vector<nlohmann::json> bars;
};

struct ClickState {
    bool down = false;
    bool dragging = false;
    platform::Point at;
    std::uint64_t nodeId = 0;
    std::uint64_t nodeGen = 0;
    std::string nodeSig;         // the node's rebuild signature at button down
    std::uint64_t nodeEpoch = 0;  // the stale epoch at button down
    std::uint64_t flags = 0;      // the modifiers held at button down
    std::string windowKey;        // the Logic window the press went to
};

// One entry of an open menu; entries with children open a submenu.
struct MenuItem {
    std::string title;
    std::vector<MenuItem> children;
    std::string action;  // what a leaf does, read by the menu's kind
};

struct OpenMenu {
    enum class Kind { insert, slot, view, sidechain, automation, parameter };
    Kind kind = Kind::insert;
    std::uint64_t seq = 0;
    std::string invokerKey;
    platform::Rect invokerFrame;
    int track = -1;      // insert: the strip's track
    int gap = -1;        // insert: where the plug-in goes, counted in slots from the top
    int slotUid = 0;     // slot, view, side chain: the slot concerned
    int replaceUid = 0;  // insert menu of a filled slot's "audio plug-in" button: the plug-in it replaces
    std::vector<MenuItem> items;
    // The open levels, outermost first: the item path whose submenu each is ({} for the top menu),
    // and the highlighted entry of each (-1: none).
    std::vector<std::vector<int>> levels;
    std::vector<int> highlight;
    std::string typed;  // type-select text, reset after a second without typing
    std::int64_t typedAtNs = 0;
};

struct PluginWindow {
    int trackId = -1;
    int slotUid = 0;
};

// A track name being edited after "Rename Track": the header's name field holds `text`.
struct Renaming {
    int trackId = -1;
    std::string text;
    bool allSelected = true;  // the first typing replaces the whole name
};

std::string menuKindName(OpenMenu::Kind kind);
std::string pathText(const std::vector<int>& path);
std::vector<int> parsePath(const std::string& text);

// What an AX handle points at.
struct Handle {
    enum class Kind { node, systemWide, foreign };
    Kind kind = Kind::node;
    std::uint64_t id = 0;
    std::uint64_t gen = 0;
    int pid = 0;             // foreign: the process
    bool noProcess = false;  // foreign: no such process
};

class Engine : public std::enable_shared_from_this<Engine> {
public:
    using Note = std::pair<platform::WorkspaceNotification, platform::RunningApplication>;

    Engine() = default;
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Runs f under the lock, then delivers the workspace notifications it raised. A call that
    // raised none (every read) takes the lock once.
    template <class F>
    auto run(F&& f) -> decltype(f()) {
        if constexpr (std::is_void_v<decltype(f())>) {
            bool news = false;
            {
                std::lock_guard lock(mutex);
                followWallClock();
                f();
                syncAnalysis();
                wakeTimer();
                news = hasNews();
            }
            if (news) flushNotifications();
        } else {
            std::unique_lock lock(mutex);
            followWallClock();
            auto result = f();
            syncAnalysis();
            wakeTimer();
            const bool news = hasNews();
            lock.unlock();
            if (news) flushNotifications();
            return result;
        }
    }

    // ---- state, guarded by mutex -----------------------------------------------------------------
    mutable std::mutex mutex;
    Project project;
    Faults faults;
    bool inspectorVisible = true;
    std::optional<UiState::TouchedSend> lastTouchedSend;
    double rowHeight = 40;
    double pointsPerBar = 20;

    // Workspace.
    std::vector<AppRecord> apps;  // the running applications in order, Logic's entry only while it runs
    std::size_t logicSlot = 1;    // where Logic's entry goes in `apps` when it runs
    AppRecord logicApp;
    bool logicRunning = true;
    std::optional<int> frontmost;
    std::vector<int> recent;  // pids, most recently frontmost first
    int selfPid = 100;
    std::vector<ScreenWindow> windows;  // every window, front to back
    std::uint32_t nextWindowId = 2001;
    std::vector<platform::Display> displays;
    platform::Point cursor{720, 450};
    bool mainWindowClosed = false;  // its title-bar close button was pressed; a launch brings it back
    bool mixerAreaShown = false;    // the control bar's "Mixer" check box
    int accessibilityPrompts = 0;
    int screenRecordingPrompts = 0;

    // Virtual clock.
    platform::Clock::TimePoint epoch{std::chrono::seconds{1796225040}};  // 2026-12-02T15:24:00Z
    std::int64_t nowNs = 0;
    std::vector<Scheduled> scheduled;
    std::uint64_t nextSeq = 0;
    // On the wall clock, nowNs is the steady time since wallStart, caught up at every entry so that
    // whatever fell due has happened before anything is read or done. While the transport plays it
    // moves in frames, so that a playhead moving under every read neither rebuilds the tree nor
    // repaints the screen's viewers on each call.
    static constexpr std::int64_t kWallFrameNs = 50'000'000;
    bool wallClock = false;
    std::chrono::steady_clock::time_point wallStart;
    std::condition_variable_any timerWake;  // the wall clock's timer thread waits here for new events
    // What the timer thread's wait depends on, as of its last wake-up: a call that changes none of
    // it (every read, every health check) wakes nobody.
    struct TimerView {
        std::uint64_t seq = 0;
        bool postsWaiting = false;
        bool playing = false;
        bool operator==(const TimerView&) const = default;
    };
    TimerView timerView() const;
    TimerView lastTimerView;

    EventLog log;

    // The analysis plug-in (analysis_plugin.cpp).
    std::uint64_t analysisEpoch = 0;  // bumped to cancel the running chain of post ticks
    bool analysisTicking = false;     // a chain of post ticks is scheduled
    bool analysisWasPlaying = false;  // the transport as syncAnalysis last saw it
    double playbackStartSeconds = 0;
    std::map<int, AnalysisHistory> analysisHistory;  // by slot uid
    std::vector<AnalysisPost> outbox;                // due posts, sent by the next sleeper

    // Accessibility.
    Tree tree;
    KeyRegistry registry;
    bool treeDirty = true;
    std::uint64_t staleEpoch = 0;  // bumped on every change under staleAfter always
    int launchCount = 1;
    std::vector<int> axErrorUses;
    std::vector<bool> axErrorArmed;  // per axError knob with afterPressOf: its element pressed
    std::vector<int> axWriteErrorUses;
    ClickState processClick;
    ClickState hidClick;

    // Menus and plug-in windows.
    std::optional<OpenMenu> menu;
    std::uint64_t nextMenuSeq = 1;
    std::vector<PluginWindow> pluginWindows;  // open ones; their stacking lives in `windows`
    std::vector<int> pendingWindows;          // slot uids whose window is still to appear (lateWindow)
    std::vector<int> ignoredFirstPress;       // slot uids whose first "open" press was swallowed
    std::map<int, int> zeroFrameReads;        // slot uid -> position reads still answered with a zero frame
    std::map<std::string, std::pair<double, int>> lagWrites;  // plug-in slider key -> pending value, writes in a row
    std::optional<Renaming> renaming;

    // Notifications.
    std::vector<Note> pendingNotes;
    platform::MainQueue* mainQueue = nullptr;

    // ---- not guarded by mutex ----------------------------------------------------------------------
    std::mutex deliveryMutex;  // held while due posts are taken and sent, so that they leave in order
    std::mutex observerMutex;
    std::map<std::uint64_t, std::pair<platform::WorkspaceNotification, platform::Workspace::Observer>> observers;
    std::uint64_t nextObserverToken = 1;
    void flushNotifications();  // call without holding mutex; also tells the screen's viewers
    // Notifications or a screen change wait for flushNotifications (under mutex).
    bool hasNews() const { return !pendingNotes.empty() || announcedScreenRevision != screenRevision; }

    // The screen's viewers (under observerMutex) and the revision they last heard of (under mutex).
    std::map<std::uint64_t, platform::ScreenChanges::Observer> screenObservers;
    std::uint64_t screenRevision = 0;  // bumped by changed()
    std::uint64_t announcedScreenRevision = 0;
    // Key-downs posted through the input, as a global key monitor sees them.
    platform::KeyEventHub keyHub;
    void deliver(const Note& note);

    // ---- helpers; the caller holds mutex ---------------------------------------------------------------
    double seconds() const { return double(nowNs) / 1e9; }
    void record(Event e);
    void changed();  // the model changed: rebuild the tree before the next read
    const Tree& ensureTree();
    void schedule(double delaySeconds, std::string what, std::function<void()> fn);
    void advanceBy(double seconds);
    // The target moment of a sleep of that many seconds, in virtual nanoseconds.
    std::int64_t targetAfter(double seconds) const;
    // Runs every event due by the target; with stopAtPost it returns early (false) once a due
    // analysis post waits in the outbox. True when the target was reached.
    bool advanceTo(std::int64_t target, bool stopAtPost);
    void advancePlayback(double seconds);
    std::int64_t wallNs() const;  // the wall clock's moment, in nanoseconds since wallStart
    void followWallClock();       // on the wall clock: runs every event due by now
    void wakeTimer();             // on the wall clock: the timer thread looks again at what is due
    void notify(platform::WorkspaceNotification notification, int pid);

    // The analysis plug-in (analysis_plugin.cpp): follows the transport after every change.
    void syncAnalysis();
    void analysisTick(std::uint64_t chain);
    void queueAnalysisPosts(bool finalPost);

    // Workspace (workspace.cpp).
    const AppRecord* app(int pid) const;
    AppRecord* app(int pid);
    platform::RunningApplication runningApplication(const AppRecord& a) const;
    bool logicFrontmost() const { return logicRunning && frontmost == logicApp.pid; }
    void setFrontmost(std::optional<int> pid);
    void raiseAppWindows(int pid);
    bool requestActivation(int pid, bool viaAppleScript, std::optional<unsigned> options = std::nullopt);
    void makeLogicFrontmostIfRunning();
    void launchLogic(bool makeFrontmost);
    void quitLogic();
    void hideSelf();
    void activateSelf();
    platform::AppleScriptResult appleScript(const std::string& source);
    void syncLogicWindows();  // Logic's windows follow the project, the knobs and whether it runs
    void applyWindowKnobs();  // Logic's windows take the frames and minimised states of the knobs
    void setMinimised(const std::string& windowKey, bool minimised);
    std::vector<const ScreenWindow*> logicWindows() const;  // front to back
    const ScreenWindow* keyLogicWindow() const;             // the frontmost one not minimised
    const ScreenWindow* logicWindow(std::string_view key) const;
    std::string mainWindowTitle() const;
    void raiseLogicWindow(std::string_view key);
    std::vector<const ScreenWindow*> visibleStack() const;  // front to back, by level then order

    // Model reactions (actions.cpp).
    void selectTrack(int id);  // that track alone
    void addToSelection(int id);
    void setStripTrack(int id);
    void setExpanded(int folderId, bool expanded);
    void toggleMute(int id);
    void toggleSolo(int id);
    void toggleInspector();
    void startPlayback();
    void stopPlayback();
    int strip1Track() const;
    platform::AXError press(int nodeIndex, const std::string& action);
    platform::AXError writeValue(int nodeIndex, const platform::AXValue& value);

    // Menus (menus.cpp).
    void openMenu(OpenMenu::Kind kind, int invokerNode);
    void closeMenus();
    const MenuItem* menuItemAt(const std::vector<int>& path) const;
    platform::AXError pressMenuItem(int nodeIndex);
    void activateMenuItem(const std::vector<int>& path);
    const char* menuKey(const platform::KeyEvent& event);   // an open menu takes the key; the outcome
    int menuItemNodeAt(platform::Point p);                  // an item of an open level, or -1
    bool menuLevelOpen(const std::string& itemPath) const;  // the top menu is ""

    // Slots and plug-in windows (plugin_windows.cpp).
    InsertSlot* slotByUid(int uid, Track** owner = nullptr);
    std::string slotShownName(const InsertSlot& slot) const;
    std::string pluginWindowTitle(int uid) const;
    void requestPluginWindow(int trackId, int uid);
    void openPluginWindowNow(int trackId, int uid);
    void closePluginWindow(int uid);
    void syncPluginWindows();  // windows of slots that are gone close; titles follow renames
    void insertPlugin(int trackId, int gap, const std::string& plugin, const std::string& format);
    void replacePlugin(int uid, const std::string& plugin, const std::string& format);  // same place, new instance
    void removeSlot(int uid);
    void dropSlot(int sourceNode, platform::Point at);
    platform::AXError pressPluginNode(int nodeIndex, const std::string& action);
    platform::AXError writePopupText(int nodeIndex, const std::string& text);
    std::vector<std::string> sidechainSources() const;  // what the side-chain menu offers, as the pop-up shows it

    // The main menu, renaming, send knobs and automation (main_menu.cpp, renaming.cpp, sends.cpp, automation.cpp).
    platform::AXError pressMainMenuItem(int nodeIndex);
    void toggleOutputTrack();
    void showInTrackList(int trackId);  // takes the next free number, goes to the end of the list
    void startRenaming();
    void finishRenaming(bool commit);
    const char* renameKey(const platform::KeyEvent& event);
    platform::AXError writeRenameText(int nodeIndex, const std::string& text);
    platform::AXError writeSendKnob(int nodeIndex, double raw);
    platform::AXError pressAutomationList(int nodeIndex, const std::string& action);
    void setAutomationMode(int trackId, const std::string& mode);

    // Accessibility (ax_element.cpp).
    platform::AXElement element(const Handle& h);
    platform::AXElement elementFor(int nodeIndex);
    platform::AXError axCheck(const Handle& h, int& nodeIndex);
    platform::AXError axRead(const Handle& h, const std::string& attribute, platform::AXValue& out);
    platform::AXError axWrite(const Handle& h, const std::string& attribute, const platform::AXValue& v);
    // The code an axError or axWriteError knob gives this access to node `i`, when one does.
    std::optional<platform::AXError> knobError(const std::vector<AXErrorKnob>& knobs, std::vector<int>& uses,
                                               const Handle& h, int i, const std::string& attribute,
                                               std::vector<bool>* armed = nullptr);
    platform::AXError axSettable(const Handle& h, const std::string& attribute, bool& out);
    platform::AXError axAttributeNames(const Handle& h, std::vector<std::string>& out);
    platform::AXError axActionNames(const Handle& h, std::vector<std::string>& out);
    platform::AXError axPerform(const Handle& h, const std::string& action);
    platform::AXError axPid(const Handle& h, int& out);
    std::string describeNode(int nodeIndex) const;
    std::string placeOf(int nodeIndex) const;  // see Event::place
    int focusedNode() const;                   // the selected header, or -1

    // Input (input.cpp).
    bool postKey(bool hid, int pid, const platform::KeyEvent& event);
    bool postMouse(bool hid, int pid, const platform::MouseEvent& event);
    int hitTest(std::string_view windowKey, platform::Point p);
    void holdNode(ClickState& click, int node) const;  // what a button down hit
    int heldNode(const ClickState& click) const;       // the same node at the release, or -1
    const ScreenWindow* topmostAt(platform::Point p, bool forMouse) const;

    // Capture (capture.cpp).
    platform::CaptureResult<platform::ShareableContent> shareableContent();
    platform::CaptureResult<platform::Image> captureWindow(std::uint32_t id);
    platform::CaptureResult<platform::Image> captureDisplay(std::uint32_t id);
    platform::CaptureResult<platform::Image> captureRect(platform::Rect rect);
};

// Builds the Accessibility tree of Logic's application from the model (ax_build.cpp).
void buildTree(Engine& e);
// Plug-in windows and the open menu are built in ax_build_plugins.cpp.
void buildPluginWindow(Engine& e, int windowNode, const ScreenWindow& w, const std::string& sig);
void buildOpenMenu(Engine& e, int appNode, const std::string& sig);
// The "Track" menu of the menu bar, under the application's AXMenuBar or a mirror in a window (main_menu.cpp).
void buildMainMenu(Engine& e, int menuBarNode, const std::string& sig);

// Reads a scenario into a fresh engine (scenario.cpp). Throws std::invalid_argument.
void loadScenario(Engine& e, const nlohmann::json& scenario);

std::string utf8(const std::u16string& s);

}  // namespace corvane::standin::detail
