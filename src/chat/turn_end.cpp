#include "chat/turn_end.h"

#include "logic/logic_inspector.h"
#include "platform/accessibility.h"
#include "plugins/plugin_inspector.h"

namespace corvane {

void cleanUpLogicAfterTurn(const LogicInspector& logic, PluginInspector& plugins) {
    {
        const platform::AXReadScope reads;
        logic.closeMenusAndNameField();
    }
    logic.closeOpenPluginAndRestoreEditorView();
    plugins.resetTurnState();
}

}  // namespace corvane
