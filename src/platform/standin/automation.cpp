// A strip's automation controls: the "list" button opens the mode menu (AXPress or AXShowMenu) and
// AXCancel on it pops one level of a menu it opened. The power check box is handled with the other
// toggles.

#include "platform/standin/engine.h"

namespace corvane::standin::detail {

using platform::AXError;

AXError Engine::pressAutomationList(int nodeIndex, const std::string& action) {
    if (action == "AXPress" || action == "AXShowMenu") {
        openMenu(OpenMenu::Kind::automation, nodeIndex);
        return AXError::success;
    }
    if (action == "AXCancel") {
        if (!menu || menu->invokerKey != tree[nodeIndex].key) return AXError::success;
        if (menu->levels.size() > 1) {
            menu->levels.pop_back();
            menu->highlight.pop_back();
            changed();
        } else {
            closeMenus();
        }
        return AXError::success;
    }
    return AXError::actionUnsupported;
}

void Engine::setAutomationMode(int trackId, const std::string& mode) {
    Track* t = project.trackById(trackId);
    if (!t || t->strip.automation.mode == mode) return;
    t->strip.automation.mode = mode;
    changed();
}

}  // namespace corvane::standin::detail
