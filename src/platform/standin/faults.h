#pragma once

// Fault knobs: every deviation from a healthy Logic Pro, settable in the scenario ("faults") and at run time.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/geometry.h"

namespace corvane::standin {

struct Activation {
    enum class Mode { immediate, delayed, appleScriptOnly, never };
    Mode mode = Mode::immediate;
    double delay = 0;  // seconds, for delayed
};

enum class ScreenRecording { granted, denied, undetermined };

struct StaleAfter {
    enum class Mode {
        onRebuild,   // handles go stale when their part of the tree is rebuilt
        afterReads,  // each handle answers -25202 after `reads` attribute reads
        always,      // every change to Logic's state rebuilds the whole tree
    };
    Mode mode = Mode::onRebuild;
    int reads = 0;
};

// One attribute read that fails with a code. `element` is "application", "systemWide", "window" (any
// window) or an AXDescription; `times` < 0 means every read while the knob is set. The first `after`
// such reads are answered (a handle that goes stale at a later moment). An `attribute` of "AXPress"
// refuses that action instead, doing nothing. With `afterPressOf` (an AXDescription), the knob
// counts nothing until an element of that description is pressed: Logic busy once a press lands.
struct AXErrorKnob {
    std::string element;
    std::string attribute;
    int code = -25200;
    int times = -1;
    int after = 0;
    std::string afterPressOf{};
};

// How Logic answers an AXValue write of text to a pop-up (parameter or side-chain source).
enum class PopupDirectSet {
    ignore,  // success code, value unchanged
    accept,  // a known option matched without regard to case; the pop-up shows its canonical name
    refuse,  // -25205
};

// How Logic answers an AXValue write to a send knob.
enum class SendWrites {
    step,      // one detent toward the written value
    absolute,  // straight to the detent nearest the written value
    ignore,    // success code, value unchanged
};

struct ExtraWindow {
    std::string title;
    platform::Rect frame{200, 150, 600, 400};
    bool front = false;  // listed (and stacked) before the main window
};

// How one analysis plug-in instance misbehaves ("analysis" knob, keyed by instance ID).
struct AnalysisInstanceKnobs {
    bool silent = false;                  // posts nothing at all, so its record ages out
    std::string malformed;                // "json" (broken text), "array" (a JSON array), "bars" (bars missing or 3.5)
    std::vector<std::string> dropFields;  // left out of the body, or of "audioAnalysis"
    std::optional<std::string> nameOverride;  // posted as the track name
};

struct Faults {
    Activation activation;
    bool accessibilityTrusted = true;
    bool grantOnPrompt = false;
    ScreenRecording screenRecording = ScreenRecording::granted;
    ScreenRecording promptAnswer = ScreenRecording::denied;
    StaleAfter staleAfter;
    double lateStripUpdate = 0;
    bool plainQuotes = false;
    bool toggleValueText = false;
    bool levelFormatPlain = false;
    bool titleSuffix = false;
    bool arrowKeysIgnored = false;
    bool backgroundKeysIgnore = false;
    std::vector<AXErrorKnob> axErrors;
    // The same for writes: Logic refuses the value with the code and keeps the one it has.
    std::vector<AXErrorKnob> axWriteErrors;
    std::vector<ExtraWindow> extraWindows;
    bool mixerWindow = false;
    bool mixerWindowFirst = false;
    bool secondPlayheadGroup = false;
    bool duplicateNameField = false;
    bool decoyContainers = false;
    bool windowDecoys = true;  // the main window's title-bar buttons and its "Project" group beside the track list
    // Logic's own windows, named by key ("main", "mixer", "extra:<n>", "plugin:<slot uid>") or by title:
    // moved or resized (anywhere, also partly or wholly off the displays), or minimised.
    std::map<std::string, platform::Rect> windowFrames;
    std::vector<std::string> minimisedWindows;
    // Menus, slots and plug-in windows.
    bool menuPlacementAppLevel = false;  // menus hang under the application instead of their invoker
    double lateWindow = 0;               // plug-in windows appear this many seconds after the request
    int dropMisses = 0;                  // the next n slot drags act as clicks on the source slot
    int newSlotZeroFrame = 0;            // a new or moved slot reports a zero frame for n position reads
    bool openToggles = false;            // "open" on a slot whose window is open closes it
    bool openIgnoresFirstPress = false;  // the first "open" press on each slot does nothing
    bool windowOnInsert = true;          // inserting a plug-in opens its window
    int slotNameWidth = 0;               // slot names cut to this many characters (0: whole names)
    bool slotNameEllipsis = false;       // a cut slot name ends in "…"
    bool filledSlotButton = true;        // filled slots carry an "audio plug-in" button too
    PopupDirectSet popupDirectSet = PopupDirectSet::ignore;
    bool pluginWindowTakesKeys = false;  // a key plug-in window swallows the arrows, S and M
    // Plug-in parameter sliders (editor and Controls view).
    int quantise = 0;                    // written raw values snap to multiples of n (0, 1: no snapping)
    int lagWrites = 0;                   // a written value takes only after n identical writes in a row
    bool ignoreWrites = false;           // writes answer success and change nothing
    bool blankValueDescription = false;  // editor sliders show only spaces as their value description
    // The main menu, renaming and sends.
    bool mainMenuAppOnly = false;     // the "Track" menu only under the application, not mirrored in the main window
    bool renameIgnoresInput = false;  // typing into the rename field is lost
    SendWrites sendWrites = SendWrites::step;
    // Capture failures.
    std::optional<std::string> contentError;
    bool noContent = false;
    std::optional<std::string> captureError;
    bool noImage = false;
    bool degenerateImage = false;
    // The analysis plug-in's posts.
    std::map<std::string, AnalysisInstanceKnobs> analysis;  // by instance ID ("AI-0007")
    bool postWhileStopped = true;                           // off: one silent post on stop, then nothing
    int analysisPort = 51234;                               // where the posts go (tests pick their server's port)
    // Knobs of behaviour the stand-in does not model yet, kept as given.
    nlohmann::json other = nlohmann::json::object();
};

// Throws std::invalid_argument on a malformed value.
Activation parseActivation(const nlohmann::json& value);
ScreenRecording parseScreenRecording(const nlohmann::json& value);
StaleAfter parseStaleAfter(const nlohmann::json& value);

// Applies one knob of the "faults" vocabulary. Returns false for names that live outside Faults
// (the caller handles "running", "frontmost", "inspectorVisible"). Throws std::invalid_argument on a bad value.
bool applyFault(Faults& faults, std::string_view name, const nlohmann::json& value);

}  // namespace corvane::standin
