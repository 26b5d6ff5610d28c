#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "platform/accessibility.h"
#include "platform/geometry.h"
#include "platform/main_timers.h"
#include "shield/input_shield.h"

namespace corvane::shield {

// The height the flip between the Accessibility layer's top-left frames and the notice's
// bottom-left ones turns on: the screen whose frame starts at (0, 0), else the main screen, else
// the first listed; 0 without screens.
double primaryScreenHeight(const std::vector<platform::Rect>& screens, std::optional<platform::Rect> mainScreen);

// Flips a frame between top-left and bottom-left origins about the primary screen's height; the
// same step goes either way.
platform::Rect flipped(platform::Rect frame, double primaryHeight);

// Logic Pro's main window, as the layer that drives Logic Pro chooses it: the notice must cover the
// window the agent works in, and Logic Pro's Mixer window, often in front, looks much the same.
using FindMainWindow = std::function<std::optional<platform::AXElement>()>;

// That window as the Accessibility layer places it (top-left origin); none when there is none or
// it cannot be read.
std::optional<platform::Rect> logicMainWindowAXFrame(const FindMainWindow& findMainWindow);

bool logicIsFrontmost();

// Where the label and the spinner sit in a notice of the given size (bottom-left origin).
struct LabelLayout {
    platform::Rect label;
    platform::Rect spinner;
};
LabelLayout layoutLabels(double width, double height);

// The shield's environment on the platform services: Logic Pro through the workspace and the
// Accessibility layer, the screens (top-left frames, primary at (0, 0)) from the window layer.
struct Screens {
    std::function<std::vector<platform::Rect>()> all;
    std::function<std::optional<platform::Rect>()> main;
};
// Where a frame of Logic Pro's screen lies on the desktop (top-left): the same frame where Logic
// Pro draws on the desktop itself, elsewhere when its screen is shown inside a window. Shown inside
// a window, Logic Pro counts as in front for the notice while that window shows its main window.
using LogicToDesktop = std::function<std::optional<platform::Rect>(platform::Rect)>;
InputShield::Environment platformEnvironment(Screens screens, platform::MainTimers* timers,
                                             FindMainWindow findMainWindow, LogicToDesktop toDesktop = {});

}  // namespace corvane::shield
