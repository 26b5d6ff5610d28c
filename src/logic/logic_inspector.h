#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "logic/outcome.h"
#include "logic/plugin_view_preference.h"
#include "model/logic_snapshot_models.h"
#include "platform/accessibility.h"
#include "platform/geometry.h"
#include "platform/workspace.h"

namespace corvane {

namespace detail {
struct InspectorPlaces;
}

// The one service object that reads and drives Logic Pro. Between calls it keeps where in Logic
// Pro's windows things were found, and a few facts about those elements that change only with them
// (see KeptPlaces); every operation reads what it reports anew, and checks a kept thing with a read
// before it uses it.
class LogicInspector {
public:
    using AXElement = platform::AXElement;
    using Point = platform::Point;
    using Rect = platform::Rect;

    enum class ClickMode { pidTargeted, global };

    // One row of Logic Pro's track list.
    struct TrackHeader {
        AXElement element;
        std::int64_t trackNumber = 0;
        std::string name;
        bool isMuted = false;
        bool isFolder = false;
    };

    struct IndentedHeader {
        TrackHeader header;
        std::int64_t indentLevel = 0;
    };

    struct ResolvedTrack {
        std::optional<TrackHeader> header;  // the first of the matches
        std::vector<std::string> availableNames;
        std::vector<TrackHeader> matches;  // every header of that name: more than one leaves it unclear
        // The main window found anew after a look into the collapsed folders rebuilt the one held
        // before: a caller's earlier handle to it may no longer answer.
        std::optional<platform::AXElement> window;
        // Logic Pro runs, yet its window or track list could not be read, even when read again.
        bool unreadable = false;
    };

    struct SelectedTrack {
        TrackHeader header;
        AXElement mainWindow;
    };

    // While one is open on a thread, the searches remember where they found things, so that a later
    // search reads again just those elements instead of the whole window. Opened around each tool
    // call (for its inspector) and around loops that select one track after another. When an
    // outermost one for an inspector closes, what it remembered is handed to the next one opened for
    // it on any thread (unless kept places are off between calls): what is kept lasts the session,
    // until a newer search replaces it or its table outgrows its bound and is emptied.
    //
    // Logic Pro keeps a handle valid while its element lasts, through a rename too, and refuses one
    // whose element went away. So nothing kept is used before a read answers for it:
    //  - the application: its window list is read (a new handle is taken when that fails);
    //  - the main window: used while that list holds it;
    //  - a window's areas (control bar, tracks area, ruler marks, the playhead's position display,
    //    a plug-in window's view button): read again, used while they carry the same description
    //    (marks: and stand on screen);
    //  - the lists the track headers lie in, with the elements above them: each list read again
    //    with its rows in one round trip; a list gone is looked for from the nearest element above
    //    it that is still there;
    //  - headers by name, as last listed: a header is read again and used only while it shows that
    //    name; whether a name is listed at all is told by reading every row of the kept lists again,
    //    but those a listing read within the same outermost one had under other names;
    //  - a header's folder flag, and which of its children are its switches with their labels:
    //    reused while its children, read again, are the same elements (a role never changes); the
    //    switches' states are always read;
    //  - the Mixer area, a strip's name field, and where among a strip's children that lay: read
    //    again, used while role and description say what they are; the name itself is read anew;
    //  - a strip's insert lists, and which child of a filled slot is its bypass and its open button:
    //    reused while the strip's and the slot's children, read again, are the same elements and the
    //    button still carries its description; the bypass state is read anew;
    //  - the path down to a plug-in window's view button: followed one read per level, used when the
    //    element at its end is a "view" menu button;
    //  - the plug-in window a turn's calls opened: closed at its end only while a read still finds
    //    it a plug-in window;
    //  - the tracks a look into the collapsed folders found: used while the list read shows the same
    //    numbers and names as when it looked, and never in a later turn (see startTurn).
    class KeptPlaces {
    public:
        // Remembers only while open; when outermost, starts from nothing and hands nothing on.
        KeptPlaces();
        // When outermost, starts from what the last outermost one opened for this inspector handed
        // on, and hands on what it remembered; nested, as the other.
        explicit KeptPlaces(const LogicInspector& owner);
        ~KeptPlaces();
        KeptPlaces(const KeptPlaces&) = delete;
        KeptPlaces& operator=(const KeptPlaces&) = delete;

        // Off: nothing is handed on from one outermost KeptPlaces of the inspector to the next (for
        // comparisons).
        static void setKeptBetweenCalls(const LogicInspector& owner, bool kept);
        static bool keptBetweenCalls(const LogicInspector& owner);
        // A turn starts: what the looks into collapsed folders learned is forgotten, as the user may
        // have renamed or moved a track they hide since.
        static void startTurn(const LogicInspector& owner);
        // The folders a look into them opened within the open places and could not shut again.
        static std::vector<std::string> foldersLeftOpen();
        // The call is over, stopped: the strip is read as it shows, whatever track it follows.
        static void releaseStrip();
    };

    struct ParsedTrackDescription {
        std::int64_t number = 0;
        std::string name;
    };

    struct RoutingCandidate {
        std::string desc;
        double y = 0;
    };

    static constexpr const char* kLogicBundleIdentifier = "com.apple.logic10";

    explicit LogicInspector(std::vector<std::string> supportedBundleIdentifiers = {kLogicBundleIdentifier});
    ~LogicInspector();
    // A copy is an inspector of its own: it starts with no places kept and shares none.
    LogicInspector(const LogicInspector& other);
    LogicInspector& operator=(const LogicInspector& other);

    const std::vector<std::string>& supportedBundleIdentifiers() const { return supportedBundleIdentifiers_; }

    // --- Process, focus and synthetic input ---------------------------------------------
    std::optional<platform::RunningApplication> logicApplication() const;
    void activateLogic() const;
    void pressKey(std::uint16_t virtualKey) const;
    void pressKeyChord(std::uint16_t virtualKey, std::uint64_t modifiers) const;
    // Closes with Escape what a stopped call or a turn left open in Logic Pro, where the next
    // keys would land: every level of an open menu (nothing chosen), and the name field of a
    // rename (its typing dropped, the old name kept). Says what it closed.
    struct LeftOpen {
        bool menu = false;
        bool nameField = false;
    };
    LeftOpen closeMenusAndNameField() const;
    // Global clicks and drags go in at the HID tap: when Logic Pro could not be brought to
    // the front they post nothing and fail, since they would land in whatever is in front.
    Outcome mouseClickInLogic(Point at, ClickMode mode) const;
    // `atButton`, when given, runs right before the button goes down (0; false leaves the drag
    // unmade, as a failure), right before it is let go (1) and right after (2).
    Outcome mouseDragInLogic(Point from, Point to, int steps, const std::function<bool(int)>& atButton = {}) const;
    Outcome typeStringIntoLogic(const std::string& text, double perCharDelay) const;
    Outcome postUnicodeStringToLogic(const std::string& text) const;
    static std::string keyCodeName(std::uint16_t virtualKey);

    // --- Accessibility element search ----------------------------------------------------
    // The first of Logic Pro's own windows that shows the track list (holdsTracksArea).
    std::optional<AXElement> findMainWindow() const;
    bool holdsTracksArea(const AXElement& window) const;
    // The element with the description nearest below `in` (level by level, depths 1 to maxDepth-1)
    // that `accepts` takes, if given; menus, the control bar and a Mixer area's strips are not
    // searched.
    std::optional<AXElement> findNearestDescendant(const AXElement& in, const std::string& description, int maxDepth,
                                                   const std::function<bool(const AXElement&)>& accepts = {}) const;
    std::optional<AXElement> findDescendant(const AXElement& of, const std::string& description,
                                            const std::optional<std::string>& role, int maxDepth, int depth = 0) const;
    std::optional<Rect> findElementFrame(const AXElement& in, const std::string& description, int maxDepth,
                                         int depth = 0) const;
    std::optional<AXElement> findSlider(const AXElement& in, const std::string& description, int maxDepth,
                                        int depth = 0) const;
    // The writes a slider search may still make, shared by the searches of one write when its
    // slider is found anew, and whether the last search ended on a handle gone stale.
    struct SliderWrites {
        int left = 300;
        bool stale = false;
    };
    // Success when a matching slider shows the value's whole part (within 1); a slider that does not
    // take it leaves the search going on with the next one. A handle gone stale ends the search,
    // and `writes` (when given) says so.
    Outcome setSliderValue(const AXElement& in, const std::string& description, double value, int maxDepth,
                           int depth = 0, SliderWrites* writes = nullptr) const;
    Outcome findAndClickButton(const AXElement& in, const std::string& description, int depth, int maxDepth) const;
    void findMenuButtonRecurse(const AXElement& element, const std::string& needle, std::optional<AXElement>& result,
                               int depth, int maxDepth) const;
    std::optional<AXElement> findMenuItemByTitle(const AXElement& axApp, const std::string& title, int maxDepth) const;
    std::optional<AXElement> findButtonByLabelContains(const AXElement& element, const std::string& needle, int depth,
                                                       int maxDepth) const;
    std::optional<AXElement> findChildButton(const AXElement& in, const std::string& withDescription) const;
    // The Inspector's "Mixer" layout area, whose children are the shown channel strips.
    std::optional<AXElement> findMixerArea(const AXElement& in) const;
    // The first strip: the track it shows is the one selected last, and where this call selected
    // one, only that one's (none once it shows another for longer than a strip lags).
    std::optional<AXElement> firstMixerStrip(const AXElement& in) const;
    // The first strip, whatever track it shows.
    std::optional<AXElement> firstStripShown(const AXElement& in) const;
    // The one frame reader: screen rectangle in points from AXPosition and AXSize, windows and
    // controls alike; a part that cannot be read stays zero.
    static Rect frameForElement(const AXElement& element);
    std::optional<std::vector<std::string>> copyAllAttributeNames(const AXElement& element) const;
    std::vector<std::string> actionNames(const AXElement& element) const;

    // Logic Pro's own windows carry "- Tracks" or "- Mixer" in their titles; every other
    // titled window is a plug-in window.
    static bool isLogicMainWindowTitle(const std::string& title);

    // --- Track list, selection and folders -----------------------------------------------
    std::vector<TrackHeader> findTrackHeaders(const AXElement& mainWindow) const;
    void findTrackHeaderElements(const AXElement& element, std::vector<TrackHeader>& headers, int depth,
                                 int maxDepth) const;
    static std::optional<ParsedTrackDescription> parseTrackDescription(const std::string& description);
    std::vector<IndentedHeader> findTrackHeadersWithIndent(const AXElement& mainWindow) const;
    // The same without the folder flags (all false), for callers that look only at names and numbers.
    std::vector<TrackHeader> findTrackHeadersByName(const AXElement& mainWindow) const;
    // The header last listed under that name (any letter case), read anew, while it still shows
    // the name; absent otherwise, or when no list was read while places are kept.
    std::optional<TrackHeader> keptHeaderNamed(const AXElement& mainWindow, const std::string& name) const;
    // `lookIntoFolders`: whether a name one shown track bears is looked for among the tracks the
    // collapsed folders hide too (by opening and closing them), to refuse it when one shares it.
    ResolvedTrack resolveTrack(const std::string& named, bool lookIntoFolders = true) const;
    // Off: the look into collapsed folders opens and shuts them one at a time, each press with its
    // own pause, as it first did (for comparisons). On (the default): a level's folders together.
    void setFoldersOpenedTogether(bool together) const;
    bool foldersOpenedTogether() const;
    // Why a name that matches several tracks is not acted on, listing their numbers.
    static std::string ambiguousTrackMessage(const ResolvedTrack& resolved);
    // Why a track was not acted on when Logic Pro's track list could not be read.
    static std::string unreadableListMessage(const std::string& named);
    // Why selectTrack(named) gave nothing, for a tool's answer: not found (with the names listed),
    // several tracks of that name, or what the channel strip shows instead.
    std::string selectionFailure(const std::string& named) const;
    // Absent too when the name matches several tracks: the strip cannot show which one it is.
    std::optional<SelectedTrack> selectTrack(const std::string& named, bool stripReadNext = true) const;
    // True only once the target's header shows it selected and the channel strip shows it (waited
    // for within a bound); false when another track of the same name is shown. `stripReadNext`: the
    // caller reads the channel strip next, so the read the answer rests on is a whole one, kept.
    bool selectTrackViaKeyboard(const TrackHeader& target, const AXElement& mainWindow,
                                bool stripReadNext = true) const;
    bool ensureInspectorOpen(const AXElement& mainWindow) const;
    std::optional<bool> isFolderExpanded(const TrackHeader& header) const;
    Outcome setFolderExpanded(const TrackHeader& header, bool expanded) const;
    TrackContextSnapshot trackContext() const;
    std::vector<TrackSummary> findTracks(const AXElement& axApp) const;
    void findTrackElements(const AXElement& element, std::vector<TrackSummary>& tracks, int depth, int maxDepth) const;
    static std::optional<std::string> bestTrackName(const std::optional<std::string>& title,
                                                    const std::optional<std::string>& description);
    bool detectToggleState(const AXElement& element, const std::string& labelHint) const;
    // The shown headers Logic Pro shows selected, in list order (the list as last read, when a read
    // scope still holds it).
    std::vector<TrackHeader> selectedTrackHeaders(const AXElement& mainWindow) const;
    // The shown headers selected, and the one the channel strip follows among them (the track a
    // click selected before Shift-clicks added the others): told by the strip's name, read only
    // when several are selected; absent when the name does not single one out.
    struct TrackSelection {
        std::vector<TrackHeader> headers;
        std::optional<std::int64_t> leading;
    };
    TrackSelection trackSelection(const AXElement& mainWindow) const;
    // Which of the headers Logic Pro gives the focus (the track a click selected before
    // Shift-clicks added others to it), by its number; absent when none of them has it.
    std::optional<std::int64_t> focusedHeader(const std::vector<TrackHeader>& headers) const;
    // The main window as held while that handle still answers; else a new handle of it (a held one
    // goes stale when a change rebuilds the window, or on some hosts after a number of reads).
    AXElement mainWindowAnew(const AXElement& held) const;
    // Selects exactly those tracks again, as a click on the leading one and Shift-clicks on the
    // others do, each header found anew by its number; the windows in front of the main window are
    // put back in front. True once the list shows exactly them selected.
    bool reselectTracks(const TrackSelection& selection, const AXElement& mainWindow) const;
    // Whether Logic Pro may hold tracks the list does not show (hidden in a collapsed folder),
    // which its menus list and its M and S keys reach when they are selected.
    bool mayHideTracks(const AXElement& mainWindow) const;
    // The header's mute or solo switch, read anew; absent when the header no longer shows that track.
    std::optional<bool> headerSwitchState(const TrackHeader& header, const std::string& labelHint) const;

    // --- Channel strip reading and routing -----------------------------------------------
    // The Inspector's first strip as read: its values by key ("name", "volume", "volumeDisplay",
    // "pan", "mute", "solo", "channelMode", "input", "inputBus", "output", "sends", …), each only
    // when its control was found; or why no strip could be read. In JSON the values, or
    // {"error": message}.
    struct StripReading {
        std::optional<std::string> error;
        nlohmann::json values = nlohmann::json::object();
        // A text value; absent when not read, or not a text.
        std::optional<std::string> text(const char* key) const;
        friend void to_json(nlohmann::json& j, const StripReading& r);
    };
    StripReading readChannelStrip(const AXElement& mainWindow) const;
    void readStripData(const AXElement& element, nlohmann::json& strip, int depth, int maxDepth) const;
    std::optional<AXElement> selectAndVerifyTrack(const std::string& named) const;
    std::optional<std::string> readTrackOutput(const AXElement& mainWindow) const;
    std::optional<std::string> readTrackInputBus(const AXElement& mainWindow) const;
    void collectRoutingButtons(const AXElement& element, std::vector<RoutingCandidate>& candidates,
                               double& firstPluginY, int depth, int maxDepth) const;
    std::optional<std::string> readTrackOutputForName(const std::string& name) const;

    // --- Context snapshot -------------------------------------------------------------------
    LogicContextSnapshot snapshot(bool includeAccessibilityData) const;

    // --- Transport, playhead and arrangement ---------------------------------------------
    // Keys "tempo", "timeSignature" (text), "isPlaying", "isRecording", "cycleEnabled",
    // "globalSolo" (Boolean), each only when its control was found and read.
    nlohmann::json readTransport(const AXElement& from) const;
    void readTransportElements(const AXElement& from, nlohmann::json& transport, int depth, int maxDepth) const;
    Outcome clickTransportButton(const std::string& description, const AXElement& in) const;
    std::optional<std::int64_t> currentBar(const AXElement& in) const;
    // Writes bar, then beat, division and tick 1 to the lowest "Playhead Position" group;
    // success when the bar write was confirmed.
    Outcome movePlayhead(std::int64_t toBar, const AXElement& in) const;
    // The "Playhead Position" group a move writes to, among those found outside menus, the
    // Inspector and the tracks area (or kept from an earlier search, see KeptPlaces).
    struct PositionDisplay {
        AXElement group;
        std::size_t candidates = 0;           // how many were found; 0 when kept
        std::optional<platform::Rect> frame;  // read only when several were compared
    };
    static std::optional<PositionDisplay> positionDisplay(const AXElement& in);
    // Whether a move on one display reached the bar; none where its bar field went stale.
    std::optional<bool> movePlayheadOn(const PositionDisplay& display, std::int64_t toBar, SliderWrites& writes) const;
    // Where the arrangement's bars lie on screen, as the ruler shows them.
    struct BarScale {
        double startX = 0;  // where bar 1 begins
        double pointsPerBar = 0;
        std::optional<std::int64_t> lastBar;  // the song's last bar, as far as the playhead may go
    };
    // Measured from the playhead's place on the ruler; when its position does not give the scale
    // (within the first bar, or off a bar's downbeat), from a second place a few bars away, after
    // which the playhead is put back. Otherwise why it cannot be, or that the playhead stayed moved.
    std::variant<BarScale, std::string> measureBarScale(const AXElement& in) const;
    // Bars a track plays, from the first up to (not including) the end bar.
    struct BarSpan {
        std::int64_t startBar = 0;
        std::int64_t endBar = 0;
    };
    struct ArrangementRow {
        std::int64_t trackNumber = 0;
        std::string name;
        std::optional<std::vector<BarSpan>> spans;  // absent when the track has no region
    };
    // The rows, or why they cannot be read. In JSON a list of {"trackNumber", "name", "hasContent"
    // [, "spans": [{"startBar", "endBar"}]]}, or the one-entry list {"error": message}.
    struct ArrangementReading {
        std::optional<std::string> error;
        std::vector<ArrangementRow> rows;
        friend void to_json(nlohmann::json& j, const ArrangementReading& r);
    };
    // No span reaches past the song's end.
    ArrangementReading readArrangement(const AXElement& in, const std::optional<std::string>& trackName) const;

    // --- Insert slots and plug-in windows ------------------------------------------------
    // One occupied insert slot of a channel strip. Lists run top to bottom on screen and a
    // slot's place in its list is its slot index.
    struct InsertSlot {
        std::string name;
        AXElement element;
        bool isBypassed = false;
        // False when Logic Pro did not answer the bypass's state (isBypassed then says enabled): a
        // press told by it would look as though it took.
        bool bypassRead = true;
    };
    // A filled slot's "open" button: where it was when the slot was last told, while one read
    // still finds it so described; else looked for among the slot's children.
    std::optional<AXElement> slotOpenButton(const InsertSlot& slot) const;

    // The best side-chain source selector found so far: the highest one on screen.
    struct SidechainDropdown {
        AXElement element;
        double y = 0;
    };

    std::vector<InsertSlot> findTrackPluginSlots(const AXElement& in) const;
    void findPluginSlots(const AXElement& in, std::vector<InsertSlot>& slots, int depth, int maxDepth) const;
    std::optional<AXElement> findPluginWindow(const AXElement& axApp, const AXElement& excluding) const;
    // Logic Pro's application element: the handle KeptPlaces keep while they are open, else a new one.
    static AXElement applicationElement(const platform::RunningApplication& logic);
    // Logic Pro's windows, listed through that handle, else through one made anew: a held handle read
    // too often may no longer answer, and a new one stands for the same process.
    static std::optional<std::vector<AXElement>> applicationWindows(const platform::RunningApplication& logic);
    // The "view" menu button of a plug-in window, which switches it between editor and Controls.
    std::optional<AXElement> findViewMenuButton(const AXElement& pluginWindow) const;
    // The plug-in window's header (the element its view button was last found in, while places
    // are kept): Logic Pro's own buttons for the window, never one of the plug-in's parameters.
    // Answered from what was kept, without a round trip; absent when not known.
    static std::optional<AXElement> pluginWindowHeader(const AXElement& pluginWindow);
    // Presses the window's close button, if it has one, and waits for the window to go; false
    // when no close button was found (a handle gone stale finds none).
    bool closePluginWindow(const AXElement& pluginWindow) const;
    // Logic Pro's windows as a call found them: the plug-in windows open, and the frontmost of its own.
    // `mainWindow`, the main window as this call found it, is told by its handle without a read.
    struct WindowsFound {
        // One plug-in window as listed: its title and top-left corner as read then, for a handle
        // that may go stale before it is compared. Kept together, so that a window taken out of
        // the list takes what tells it apart with it.
        struct PluginWindow {
            AXElement window;
            std::string title;
            Point origin;
        };
        std::vector<PluginWindow> plugins;
        std::optional<AXElement> frontOwn;
        std::string frontOwnTitle;  // when it is not the main window, which is raised again by it
        // Where a window held since earlier is among them: by its handle or, only where that handle
        // went stale, as the window of its title and place on screen (the same plug-in twice on a
        // track gives two windows one title).
        std::optional<std::size_t> indexOf(const AXElement& held, const std::string& title, Point origin) const;
        // Whether a window just found is one of them: the same handle or, only where the handle
        // listed went stale, the window of the same title and place on screen.
        bool holds(const AXElement& window) const;
    };
    // Logic Pro's window of that title, for one whose held handle went stale; given `origin`, only
    // one there (another window of the same plug-in on the same track has the same title).
    std::optional<AXElement> windowTitled(const std::string& title,
                                          std::optional<Point> origin = std::nullopt) const;
    static WindowsFound windowsFound(const AXElement& axApp, const AXElement& mainWindow = {});
    // Closes a plug-in window the call opened; the window the user had in front of Logic Pro's own,
    // to which the close hands the focus of another, comes back to the front. False, with nothing
    // raised, when the window's close button was not found.
    bool closeOpenedPluginWindow(const AXElement& pluginWindow, const WindowsFound& before,
                                 const AXElement& mainWindow) const;
    // The window of Logic Pro's own the user had in front (when not the main window) back in front,
    // where a plug-in window that closed handed the front to the main window.
    void raiseFrontOwn(const WindowsFound& before, const AXElement& mainWindow) const;
    std::optional<PluginViewPreference> readCurrentPluginView(const AXElement& menuButton) const;
    Outcome switchPluginWindowView(const AXElement& in, PluginViewPreference to) const;
    Outcome switchCurrentlyOpenPluginView(PluginViewPreference to) const;
    // JPEG bytes of the open plug-in window, at most 800 pixels wide.
    std::optional<std::string> capturePluginWindowScreenshot(const AXElement& axApp, const AXElement& excluding) const;
    void walkForSidechainDropdown(const AXElement& element, std::optional<SidechainDropdown>& best, int depth,
                                  int maxDepth) const;
    void closeOpenPluginAndRestoreEditorView() const;
    // The one rule that tells a plug-in window from Logic Pro's own windows: any window with
    // a title that is not "- Tracks" or "- Mixer" (see isLogicMainWindowTitle).
    static bool isPluginWindowTitle(const std::string& title);

    // --- Plug-in chain edits and plug-in menu search -------------------------------------
    // An empty place on a strip where a plug-in can be inserted; index is its place in
    // discovery order.
    struct InsertBar {
        AXElement element;
        int index = 0;
    };

    // slotIndex: -1 (or absent) appends, 0 inserts first, k inserts below slot k - 1. On success,
    // chainAfter (when given) receives the chain as it was read back with the plug-in in its place.
    Outcome addPlugin(const AXElement& toTrackIn, const std::string& pluginName,
                      std::optional<int> slotIndex = std::nullopt,
                      std::vector<InsertSlot>* chainAfter = nullptr) const;
    void findInsertBars(const AXElement& in, std::vector<InsertBar>& results, int depth, int maxDepth) const;
    Outcome removePlugin(const AXElement& fromTrackIn, const InsertSlot& pluginSlot) const;
    Outcome reorderPlugin(const AXElement& inTrackWindow, int fromIndex, int toIndex) const;

private:
    struct MenuMatch {
        AXElement element;
        int depth = 0;
    };
    bool navigatePluginMenu(const AXElement& openedFrom, const std::string& pluginName) const;
    // Opens a plug-in window's view menu and picks the item, pressing it once found.
    Outcome chooseViewMenuItem(const AXElement& menuButton, const std::string& itemTitle) const;
    static const std::map<std::string, std::string>& pluginNameAliases();
    void findPluginMenuMatches(const AXElement& element, const std::string& needle, std::vector<MenuMatch>& matches,
                               int depth, int maxDepth) const;
    std::optional<AXElement> findPreferredFormatLeaf(const AXElement& under) const;
    // A filled insert slot: a described group with "open" and "bypass" children that is none of
    // Logic Pro's named containers.
    static std::optional<InsertSlot> readInsertSlot(const AXElement& element);
    // An empty place of a chain: a button described "insert bar" or "audio plug-in".
    static bool isInsertBar(const AXElement& element);
    // The elements of every list below `in` that holds insert bars or filled slots, list by list.
    // Without `bars`, the insert bars known from the lists' last read are left out, unread.
    static std::vector<AXElement> chainElements(const AXElement& in, int depth, int maxDepth, bool bars = true);
    // The chain read back after a drag of slot `fromIndex` of `before` to `toIndex`: a success when
    // it shows that move, none when the drag left it otherwise. `dropTook`: the dragged slot was
    // built anew as the button was let go, on a strip kept from the press to the drop.
    std::optional<Outcome> verifyAndMaybeSummarize(const AXElement& window, const std::vector<InsertSlot>& before,
                                                   int fromIndex, int toIndex, bool dropTook) const;

public:
    // --- Track rename, sends and buses --------------------------------------------------
    struct RenameResult : Outcome {
        std::optional<std::string> actualName;
        friend void to_json(nlohmann::json& j, const RenameResult& r);
    };
    // Levels in dB; minus infinity for a send at the bottom ("-∞"), absent when unreadable.
    struct SendLevelResult : Outcome {
        std::optional<double> before;
        std::optional<double> after;
        // JSON has no infinity: a level at "-∞" is written as null, an unreadable one left out.
        friend void to_json(nlohmann::json& j, const SendLevelResult& r);
    };
    // A send knob as read; on failure, the message says what was not found.
    struct SendKnobResult : Outcome {
        std::optional<double> value;
        std::string valueDescription;
        std::optional<double> minValue;
        std::optional<double> maxValue;
        std::vector<std::string> supportedActions;
        // The numbers that could not be read, or are not finite, are written as null.
        friend void to_json(nlohmann::json& j, const SendKnobResult& r);
    };
    // A bus's track put into the track list; `partial` says what was left half done.
    struct BusTrackResult : Outcome {
        std::optional<std::string> partial;
    };
    static constexpr std::int64_t kSendKnobDefaultMaxRaw = 2130706432;  // 0x7F000000

    RenameResult renameTrack(const std::string& currentName, const std::string& newName) const;
    Outcome clickSendByBusLabel(const std::string& trackName, const std::string& busLabel) const;
    SendKnobResult readSendKnobValue(const std::string& trackName, const std::string& busLabel) const;
    // The send walks one step per write toward the target and ends on the step nearest it. A Stop
    // ends the walk between steps, never between an overshoot and its step back; `leftWhenStopped`,
    // when given, then receives what the send shows against what it showed before.
    SendLevelResult setSendKnobToDb(const std::string& trackName, const std::string& busLabel, double targetDb,
                                    std::optional<std::string>* leftWhenStopped = nullptr) const;
    // The track that receives a bus `track` sends to, as the Inspector's right-hand strip shows it
    // once the send was clicked (a nudge and back). The bus's track is asked into the track list
    // each time: a listed track of that name is taken only when no other comes. When other tracks
    // bear the name too, the answer says so with their numbers. Absent when that strip takes another
    // input or no track of that name is listed. `track` was found in this call, and no other track
    // bears its name. `putInList`, when given, receives the name of the bus's track when it came into
    // the list now, also when a Stop ends the call after that.
    std::optional<std::string> findTrackForBusThroughSend(const TrackHeader& track, const std::string& busLabel,
                                                          std::optional<std::string>* putInList = nullptr) const;
    // The name on the Inspector's right-hand strip, while that strip takes the bus as its input.
    std::optional<std::string> trackOnSecondStrip(const AXElement& window, const std::string& busLabel) const;
    // `putInList`, when given, receives the name of the bus's track when a Stop ends the call once
    // the switch that puts it into the list was made.
    BusTrackResult ensureBusArrangeTrack(const std::string& trackName, const std::string& busLabel,
                                         std::optional<std::string>* putInList = nullptr) const;
    // The message says whether the output track was there already or was put there, under which
    // name and number. The menu item shows and hides the output track: one listed under a name the
    // user gave it is hidden by the press, shown again by a second (at the end of the list), and the
    // selection put back as far as a click on a header can. `listedAs`, when given, receives the
    // name the output track is listed under once a press showed it; `leftWhenStopped`, once a Stop
    // ends the call after a press, what the list shows of it and of the selection.
    Outcome ensureMasterArrangeTrack(std::optional<std::string>* listedAs = nullptr,
                                     std::vector<std::string>* leftWhenStopped = nullptr) const;
    void findSendGroup(const AXElement& in, const std::string& matching, std::optional<AXElement>& result, int depth,
                       int maxDepth) const;
    void findSendKnobAtY(const AXElement& in, double y, std::optional<AXElement>& result, int depth,
                         int maxDepth) const;
    static std::optional<double> readKnobDb(const AXElement& knob);
    static std::string compactBusForm(const std::string& label);
    // Whether two bus labels name the same bus: "B 3", "b  3" and "Bus 3" all do.
    static bool sameBus(const std::string& a, const std::string& b);
    std::optional<AXElement> findAutomationListButton(const AXElement& on, int stripIndex) const;
    void findAutomationListRecurse(const AXElement& element, std::optional<AXElement>& result, int depth,
                                   int maxDepth) const;
    void findAutomationPowerRecurse(const AXElement& element, std::optional<AXElement>& result, int depth,
                                    int maxDepth) const;

private:
    // The Inspector's first strip while it shows the track named: the strip follows the selection,
    // late at times, and one the user's click moved on may come back to the track with a change
    // still to come. Waited for within a bound; none when it shows another track all along, with
    // what it showed last in `shown`. Once the call is stopped it waits only `evenStopped`, for a
    // step that puts back what the call moved.
    std::optional<AXElement> stripShowing(const AXElement& window, const std::string& trackName,
                                          std::string& shown, bool evenStopped = false) const;
    // The first strip, while it shows the track this call selected last, if any; what it showed
    // last in `shown`. One whose name cannot be read is taken as it is. `evenStopped` as for
    // stripShowing.
    std::optional<AXElement> heldStrip(const AXElement& window, std::string& shown, bool evenStopped = false) const;
    // Touches the named track's send on the strip while it shows that track (see clickSendByBusLabel);
    // `evenStopped` waits for it once the call is stopped too (the touch that shows a bus again, for
    // its automation to be switched back).
    Outcome touchShownSend(const AXElement& window, const std::string& trackName, const std::string& busLabel,
                           bool evenStopped = false) const;
    // Switches the automation of the Inspector's right-hand strip, which shows the bus of the send
    // just touched, on and off again; `showBusAgain` touches the send again where the strip moved on
    // meanwhile. `switched`, when given, is set once both presses were made.
    BusTrackResult toggleSecondStripAutomation(const AXElement& window, const std::string& busLabel,
                                               const std::function<bool()>& showBusAgain,
                                               bool* switched = nullptr) const;

public:
    // --- Volume, pan, mute/solo and side-chain writes ------------------------------------
    // Side-chain source of an inserted plug-in. beforeValue: what the selector showed before
    // the change, untrimmed; absent when it could not be read.
    struct SidechainResult : Outcome {
        std::optional<std::string> beforeValue;
        std::optional<std::string> afterValue;  // what the selector shows once written, trimmed
    };
    SidechainResult setPluginSidechain(const AXElement& in, const InsertSlot& pluginSlot,
                                       const std::string& source) const;
    struct VolumeResult : Outcome {
        std::optional<double> actualDb;  // what Logic Pro shows after the write; -inf for "-∞"
    };
    // Success when the header shows the desired state.
    struct ToggleResult : Outcome {
        std::optional<bool> isOn;  // the state the header shows; absent when it could not be read
    };
    // Raw fader and pan values of the selected strip; success when the slider shows the value (within 1).
    Outcome setTrackVolume(const AXElement& in, double value) const;
    Outcome setTrackPan(const AXElement& in, double value) const;
    VolumeResult setTrackVolumeToDb(const AXElement& in, double targetDb) const;
    std::optional<double> readCurrentVolumeDb(const AXElement& in) const;
    static std::optional<double> readDbFromFader(const AXElement& readout);
    Outcome setVolumeFaderRaw(const AXElement& slider, std::int64_t value) const;
    // Presses Logic Pro's M or S shortcut, which acts on the selected track: select the
    // header's track first. Success only when the header reads back the desired state.
    ToggleResult clickTrackHeaderButton(const TrackHeader& header, const std::string& buttonHint, bool desiredState,
                                        const AXElement& window) const;

private:
    // setPluginSidechain from the press of the slot's "open" button on.
    SidechainResult setSidechainInOpenedWindow(const AXElement& in, const InsertSlot& pluginSlot,
                                               const std::string& source, const AXElement& axApp,
                                               const AXElement& open, const WindowsFound& before) const;
    std::vector<WindowSummary> loadAccessibilityWindows(const platform::RunningApplication& app) const;
    bool isFrontmost(int processIdentifier) const;

    std::vector<std::string> supportedBundleIdentifiers_;
    // What the last outermost KeptPlaces opened for this inspector handed on to the next, and how
    // it searches: this inspector's alone, so that another one (a twin run's) never touches them.
    std::unique_ptr<detail::InspectorPlaces> places_;
};

// The input trace log: every synthetic key press and playhead move, one timestamped line each.
// A line that would take it past kMaxBytes first moves it to "<name>.1" (replacing the one
// before), so a long session keeps the latest lines and the file cannot fill the disk.
struct PlayheadDebug {
    static constexpr std::uintmax_t kMaxBytes = 1024 * 1024;
    static std::filesystem::path url();
    static void log(const std::string& message);
};

// Reads the two permissions at the point of use; never caches.
class PermissionService {
public:
    PermissionSnapshot currentSnapshot() const;
};

}  // namespace corvane
