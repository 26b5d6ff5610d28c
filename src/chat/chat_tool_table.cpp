#include "chat/chat_tool_executor.h"

namespace corvane {

// The one list of tool groups. A group that arrives later adds its registration here, or the
// composition root adds it with ChatToolExecutor::registerTool; the dispatcher stays as it is.
ToolTable ChatToolExecutor::defaultToolTable() {
    ToolTable table;
    registerInlineTools(table);
    registerMemoryTools(table);
    registerReadingTools(table);
    registerTrackDetailsTool(table);
    registerListeningTool(table);
    registerRespondTool(table);
    registerBulkTools(table);
    registerFolderTools(table);
    registerTrackTools(table);
    registerParameterTools(table);
    registerChainTools(table);
    return table;
}

}  // namespace corvane
