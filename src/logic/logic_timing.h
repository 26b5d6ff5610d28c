#pragma once

// The pauses that pace this program's input to Logic Pro, in seconds (through platform::pause, so
// that tests run them in virtual time). Each is named after what it waits for; the same length
// waiting for two different things has two names.

namespace corvane::pacing {

// --- Synthetic input ---------------------------------------------------------------------------
inline constexpr double kKeyHold = 0.02;          // key down to key up
inline constexpr double kActivationSettle = 0.1;  // Logic Pro asked to the front, before looking
inline constexpr double kActivationPoll = 0.05;   // between looks once AppleScript was asked too
inline constexpr double kFrontRetry = 0.1;        // a global click or drag: between tries to get Logic Pro in front
inline constexpr double kTargetedClickPointerSettle =
    0.08;                                            // a click posted to the process: pointer moved to button down
inline constexpr double kTargetedClickHold = 0.02;   // its button down to button up
inline constexpr double kClickPointerSettle = 0.25;  // a global click: cursor moved to button down
inline constexpr double kClickHold = 0.03;           // button down to button up
inline constexpr double kClickRelease = 0.05;        // button up to the cursor put back
inline constexpr double kDragFrontSettle = 0.1;      // a drag: Logic Pro in front to the cursor moved
inline constexpr double kDragPointerSettle = 0.15;   // cursor moved to button down
inline constexpr double kDragGrab = 0.18;            // button down to the first move
inline constexpr double kDragFirstStep = 0.02;       // after the first short move, which starts the drag
inline constexpr double kDragStep = 0.015;           // between the moves along the way
inline constexpr double kDragHoverBeforeDrop = 0.1;  // at the target, before button up
inline constexpr double kDragRelease = 0.08;         // button up to the cursor put back
inline constexpr double kTypedCharacter = 0.06;      // between the characters of typed text

// --- Tracks and the Inspector --------------------------------------------------------------------
inline constexpr double kBeforeArrowKeys = 0.1;          // Logic Pro in front, before the first arrow key
inline constexpr double kArrowKeyRepeat = 0.03;          // between arrow keys moving the selection
inline constexpr double kSelectionSettles = 0.5;         // after the last arrow key, before the strip is read
inline constexpr double kSelectionExtends = 0.15;        // Shift-clicks on headers, before the list is read
inline constexpr double kBeforeInspectorKey = 0.08;      // Logic Pro in front, before I
inline constexpr double kInspectorOpens = 0.25;          // after I
inline constexpr double kFolderToggles = 0.35;           // a folder opened or closed
inline constexpr double kStripFollowsSelection = 0.3;    // a track selected, before its strip is read
inline constexpr double kStripFollowsReselection = 0.8;  // the same, when the first selection missed
inline constexpr double kStripCatchUpLimit = 3.0;        // how long the strip may lag the selection
inline constexpr double kStripCatchUpPoll = 0.25;        // between looks at it meanwhile
inline constexpr double kHeaderToggleSettles = 0.05;     // M or S pressed, before the header is read
inline constexpr double kHeaderToggleRecheck = 0.05;     // between further reads of the header
inline constexpr double kOutputTrackAppears = 0.35;      // "Show Output Track" pressed

// --- Renaming a track ----------------------------------------------------------------------------
inline constexpr double kRenameSelectionSettles = 0.2;  // the track selected, before its menu command is looked up
inline constexpr double kBeforeMenuItemPress = 0.15;    // the command found, before pressing it
inline constexpr double kRenameFieldOpens = 0.45;       // "Rename Track" pressed, before typing
inline constexpr double kRenameTextSettles = 0.2;       // the name typed, before Return
inline constexpr double kRenameLands = 0.4;             // Return pressed, before the headers are read

// --- Menus ---------------------------------------------------------------------------------------
inline constexpr double kMenuOpens = 0.5;              // a menu opened by pressing its button or pop-up
inline constexpr double kMenuChoiceTakesEffect = 0.8;  // an item of Logic Pro's menus chosen
inline constexpr double kMenuCloses = 0.2;             // Escape pressed on an open menu
inline constexpr double kMenuKeyRepeat = 0.05;         // between keys in an open menu
inline constexpr double kBeforeMenuReturn = 0.1;       // the item reached by keys, before Return
inline constexpr double kBeforeMenuListing = 0.2;      // Logic Pro in front, before opening a menu to list it

// --- The plug-in chain ---------------------------------------------------------------------------
inline constexpr double kStripBuilds = 0.8;          // an empty strip may not be built yet
inline constexpr double kInsertMenuOpens = 0.2;      // an insert bar pressed, before its menu is searched
inline constexpr double kPluginInserts = 0.3;        // the plug-in's format chosen in the insert menu
inline constexpr double kInsertedWindowOpens = 0.4;  // the inserted plug-in's window appearing
inline constexpr double kChainReadBackRetry = 0.2;   // between reads of the chain after an edit
inline constexpr double kBypassTakes = 0.1;          // a slot's bypass pressed, before the chain is read again
inline constexpr double kPluginRemoved = 0.3;        // "remove" chosen in a slot's menu
inline constexpr double kDropSettles = 0.4;          // a slot dropped at its new place
inline constexpr double kStrayWindowCloses = 0.3;    // a window a missed drag opened, closed again

// --- Plug-in windows -----------------------------------------------------------------------------
inline constexpr double kWindowCloses = 0.15;         // a window's close button pressed
inline constexpr double kPluginWindowOpens = 0.4;     // a slot's "open" pressed, for reading and writing its parameters
inline constexpr double kSidechainWindowOpens = 0.3;  // the same, for its side-chain selector
inline constexpr double kAuthoringWindowOpens = 0.8;  // the same, for the authoring dump and its picture
inline constexpr double kViewSwitchSettles = 0.2;     // the window switched between editor and Controls view
inline constexpr double kEditorViewRestored = 0.15;   // switched back to the editor, before closing
inline constexpr double kPluginButtonTakesEffect = 0.4;  // a button in the plug-in window pressed

// --- Control values ------------------------------------------------------------------------------
inline constexpr double kSliderWriteRetry = 0.005;           // between writes until a strip slider shows the value
inline constexpr double kFaderWriteRetry = 0.003;            // the same for the volume fader
inline constexpr double kFaderReadoutSettles = 0.015;        // a fader written, before its level read-out is read
inline constexpr double kControlWriteRetry = 0.002;          // between writes until a plug-in control takes the value
inline constexpr double kNudgeSettles = 0.01;                // a probing or final write, before the read-out is read
inline constexpr double kNudgeStep = 0.005;                  // between the nudges toward a shown value
inline constexpr double kTogglePressSettles = 0.1;           // a plug-in toggle pressed, before it is read again
inline constexpr double kPrereqOptionTakesEffect = 0.15;     // the option a parameter needs, pressed first
inline constexpr double kEditorPopupDirectSetSettles = 0.1;  // a pop-up of the editor view given its value directly
inline constexpr double kControlsPopupDirectSetSettles = 0.15;  // the same in the Controls view
inline constexpr double kPopupChoiceTakesEffect = 0.3;          // an item of a plug-in pop-up's menu pressed
inline constexpr double kPopupChoicePoll = 0.1;                 // between looks for the pop-up to show the chosen value
inline constexpr double kSelectorDirectSetSettles = 0.25;       // the side-chain selector given its value directly
inline constexpr double kBeforeSelectorPress = 0.15;            // before opening the side-chain selector's menu
inline constexpr double kSelectorMenuOpens = 0.8;               // the side-chain selector's menu opening

// --- Sends and automation ------------------------------------------------------------------------
inline constexpr double kSendStripFollowsSelection = 0.2;  // the track selected, before its send is looked up
inline constexpr double kBeforeKnobRead = 0.1;             // the send knob found, before its level is read
inline constexpr double kSendKnobWriteRetry = 0.008;       // between writes moving a send knob
inline constexpr double kKnobWriteSettles = 0.1;           // a raw knob write, before it is read back
inline constexpr double kSendKnobFocus = 0.15;             // before a send is touched
inline constexpr double kSendKnobStep = 0.1;               // between its step up and step down
inline constexpr double kSendTouchSettles = 0.3;           // after the touch
inline constexpr double kBusStripAppears = 0.3;            // a send touched, before the bus's strip is searched
inline constexpr double kBeforeAutomationPress = 0.1;      // before pressing an automation control
inline constexpr double kAutomationToggles = 0.3;          // its power switched

// --- Insert menu probes --------------------------------------------------------------------------
inline constexpr double kBeforeProbeBarPress = 0.3;  // Logic Pro in front, before the probed insert bar is opened
inline constexpr double kProbeMenuOpens = 1.0;       // the insert menu opening, before it is listed
inline constexpr double kTypeToFilterMenuOpens = 0.6;
inline constexpr double kTypedFilterSettles = 0.25;  // the plug-in name typed, before Return
inline constexpr double kCrawlMenuOpens = 0.9;
inline constexpr double kScreenshotMenuOpens = 2.5;
inline constexpr double kInsertMenuOpensForListing = 0.8;  // the authoring dump of the insert menu

}  // namespace corvane::pacing
