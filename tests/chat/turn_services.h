#pragma once

// The stores and the Logic Pro services an agent turn runs on, over a temporary application
// folder: a base for the fixtures that run whole turns.

#include <memory>
#include <string>

#include "chat/chat_orchestrator.h"
#include "conversation/conversation_store.h"
#include "conversation/memory_store.h"
#include "chat/tool_logger.h"
#include "logic/logic_inspector.h"
#include "plugins/plugin_inspector.h"
#include "plugins/plugin_inventory.h"
#include "plugins/plugin_map_store.h"
#include "networking/backend_chat_service.h"
#include "test_support/scripted_chat_backend.h"
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

// The same, with the orchestrator running turns against a scripted chat backend.
struct ScriptedTurns : TurnServices {
    std::shared_ptr<ScriptedChatBackend> transport = std::make_shared<ScriptedChatBackend>();
    networking::BackendChatService backend{"http://127.0.0.1:9/api/ai/chat", "gpt-5", transport};
    std::unique_ptr<ChatOrchestrator> orchestrator = std::make_unique<ChatOrchestrator>(
        ChatOrchestrator::Services{inventory, backend, conversations, memories, logic, plugins, logger, {}},
        ChatOrchestrator::Providers{});
};

}  // namespace corvane::testing
