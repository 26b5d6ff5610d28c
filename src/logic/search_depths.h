#pragma once

// How deep each search of Logic Pro's Accessibility tree looks, counted from where it starts (see
// ax_tree::walk): deep enough for what Logic Pro shows, shallow enough to stay quick.

namespace corvane::search_depth {

// Logic Pro's main window.
inline constexpr int kMixerArea = 10;       // the Inspector's "Mixer" area
inline constexpr int kTrackHeaders = 15;    // the track list's headers
inline constexpr int kControlBar = 8;       // transport buttons and the playhead position groups
inline constexpr int kArrangeArea = 10;     // the tracks' contents, the start marker and the playhead thumb
inline constexpr int kLooseTrackRows = 12;  // rows that look like tracks, in a window that is not Logic Pro's own

// One channel strip of the Inspector.
inline constexpr int kStripControls = 10;       // fader, pan, read-outs, names, slots and insert bars
inline constexpr int kRoutingButtons = 12;      // input and output buttons
inline constexpr int kSendsAndAutomation = 15;  // send groups and knobs, automation controls
inline constexpr int kStripDump = 15;           // the diagnostic listing of every element

// Within a playhead position group: its bar, beat, division and tick fields.
inline constexpr int kPlayheadFields = 4;

// Menus.
inline constexpr int kMainMenuItems = 8;     // items of Logic Pro's own menus ("Rename Track")
inline constexpr int kOpenedMenuItems = 15;  // an item of the menu a button just opened
inline constexpr int kListedMenuItems = 20;  // the items of an opened selector or automation menu
inline constexpr int kInsertMenu = 25;       // the insert menu with its category submenus
inline constexpr int kPopupMenuItems = 5;    // below each child of a plug-in's pop-up

// Plug-in windows.
inline constexpr int kPluginWindow = 15;  // every control of the window
inline constexpr int kPluginHeader = 10;  // the side-chain source selector

// Diagnostics.
inline constexpr int kWindowOverview = 3;  // each window in the overview of the Accessibility dump
inline constexpr int kFocusedCrawl = 20;   // the focused element after an insert bar was opened
inline constexpr int kMenuOwners = 10;     // any application's menus

}  // namespace corvane::search_depth
