#pragma once

namespace corvane {

class LogicInspector;
class PluginInspector;

// What a turn leaves in Logic Pro is put away once its last call has run, however the turn ended:
// a menu or name field first (the user's own keys come next), then the plug-in window the turn's
// calls opened, back in its editor view, and the plug-in state the turn kept.
void cleanUpLogicAfterTurn(const LogicInspector& logic, PluginInspector& plugins);

}  // namespace corvane
