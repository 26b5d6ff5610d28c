#pragma once

// The stores and the Logic Pro services an agent turn runs on, over a temporary application
// folder: a base for the fixtures that run whole turns.

#include <string>

#include "conversation/conversation_store.h"
#include "conversation/memory_store.h"
#include "chat/tool_logger.h"
#include "logic/logic_inspector.h"
#include "plugins/plugin_inspector.h"
#include "plugins/plugin_inventory.h"
#include "plugins/plugin_map_store.h"
#include "test_support/temp_home.h"

namespace corvane::testing {

struct TurnServices {
    TempHome home;
    ConversationStore conversations;
    MemoryStore memories;
    ToolLogger logger;
    PluginInventoryService inventory{home.root() / "system", home.root() / "home"};
    LogicInspector logic;
    PluginMapStore maps{std::string(CORVANE_SOURCE_DIR) + "/resources"};
    PluginInspector plugins{logic, maps};
};

}  // namespace corvane::testing
