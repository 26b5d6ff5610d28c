#pragma once

// The one layout table of the simulated Logic Pro (global points, top-left origin, y down), for the default
// 1440x900 display. Tests ask the World for frames instead of using these numbers.

#include "platform/geometry.h"

namespace corvane::standin::layout {

using platform::Rect;

inline constexpr double kTitleBarHeight = 22;
inline constexpr Rect kMainWindow{0, 25, 1440, 875};
inline constexpr Rect kMixerWindow{60, 40, 1320, 850};

// Control bar and its controls.
inline constexpr Rect kControlBar{0, 47, 1440, 40};
inline constexpr Rect kGoToBeginning{10, 55, 24, 24};
inline constexpr Rect kStop{38, 55, 24, 24};
inline constexpr Rect kPlay{66, 55, 24, 24};
inline constexpr Rect kRecord{94, 55, 24, 24};
inline constexpr Rect kCycle{130, 55, 24, 24};
inline constexpr Rect kSolo{158, 55, 24, 24};
inline constexpr Rect kPlayheadGroup{220, 51, 172, 32};
inline constexpr double kPlayheadSliderX[4] = {224, 268, 308, 348};
inline constexpr double kPlayheadSliderW[4] = {40, 36, 36, 40};
inline constexpr Rect kTempo{400, 55, 60, 24};
inline constexpr Rect kTimeSignature{470, 55, 40, 24};
inline constexpr Rect kMixerButton{530, 55, 24, 24};
inline constexpr Rect kUpperPlayheadGroup{220, 40, 172, 6};  // secondPlayheadGroup

// Inspector: strips 80 pt wide at x 5 and 95; strip-relative offsets below are from the strip's top.
inline constexpr Rect kInspector{0, 87, 180, 813};
inline constexpr double kStripX[2] = {5, 95};
inline constexpr double kStripWidth = 80;
inline constexpr double kStripHeight = 800;
inline constexpr double kChannelModeY = 8;
inline constexpr double kInputY = 33;
inline constexpr double kInsertsY = 58;
inline constexpr double kInsertPitch = 22;  // a 2 pt bar, then a 20 pt slot
inline constexpr double kInsertBarHeight = 2;
inline constexpr double kSlotHeight = 20;
inline constexpr double kSlotWidth = 78;
inline constexpr double kSlotBypassWidth = 12;  // then "open" to +66, then "list" (12 pt)
inline constexpr double kSlotOpenEnd = 66;
inline constexpr double kBottomBarHeight = 20;
inline constexpr int kMaxSlots = 15;
inline constexpr double kSendsY = 413;
inline constexpr double kSendPitch = 20;
inline constexpr double kOutputY = 513;
inline constexpr double kAutomationY = 538;
inline constexpr double kPanY = 563;
inline constexpr double kLevelY = 592;
inline constexpr double kMuteSoloY = 612;
inline constexpr double kFaderY = 635;
inline constexpr double kFaderHeight = 130;
inline constexpr double kNameY = 770;
inline constexpr double kExtraNameY = 792;
inline constexpr double kMixerStripPitch = 90;

// The "Project" group beside the track list: the strip above the track headers, left of the ruler.
inline constexpr Rect kProjectArea{180, 87, 260, 20};

// Tracks area.
inline constexpr Rect kTracks{180, 87, 1260, 813};
inline constexpr Rect kHeaderColumn{180, 107, 260, 793};
inline constexpr double kHeaderX = 185;
inline constexpr double kIndent = 12;
inline constexpr double kHeaderRight = 435;
inline constexpr double kFirstRowY = 110;
inline constexpr Rect kRuler{440, 87, 1000, 20};
inline constexpr double kStartX = 440;
inline constexpr Rect kContents{440, 107, 1000, 793};

// Plug-in windows: the first at (400, 200), each further one 24 pt down and right; sizes come from the
// plug-in's editor definition. Offsets below are from the window's origin.
inline constexpr double kPluginWindowX = 400;
inline constexpr double kPluginWindowY = 200;
inline constexpr double kPluginWindowCascade = 24;
inline constexpr double kPluginWindowWidth = 420;  // when the definition gives no size
inline constexpr double kPluginWindowHeight = 260;
inline constexpr double kPluginHeaderY = 22;
inline constexpr double kPluginHeaderHeight = 30;
inline constexpr double kPluginBodyY = 52;
inline constexpr double kControlsRowPitch = 30;

// Menus: items 18 pt high and 200 pt wide, below their invoker; submenus to the right of their item.
inline constexpr double kMenuItemHeight = 18;
inline constexpr double kMenuWidth = 200;

}  // namespace corvane::standin::layout
