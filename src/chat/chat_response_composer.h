#pragma once

// The two fixed texts of a turn's ending: the one-line activity summary, and the reply that
// stands in for the model's answer when a turn fails.

#include <string>
#include <vector>

#include "model/chat_model.h"

namespace corvane {

struct ChatResponseComposer {
    static std::string makeActivitySummary(const std::vector<ToolExecution>& toolsUsed);
    // Chosen by the error's description alone; the tool list does not change it.
    static std::string makeFallbackAssistantReply(const std::vector<ToolExecution>& toolsUsed,
                                                  const std::string& errorDescription);
};

}  // namespace corvane
