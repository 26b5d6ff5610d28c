#pragma once

// Turns a thread's pending screenshots into inline images for the first request of a turn.

#include <optional>
#include <string>

#include "networking/backend_chat_service.h"

namespace corvane {

class ConversationStore;

class ChatAttachmentLoader {
public:
    explicit ChatAttachmentLoader(ConversationStore& conversationStore) : conversationStore_(conversationStore) {}

    // None when the flag is false or nothing could be loaded; files that cannot be read are
    // skipped. Leaves the pending captures as they are.
    std::optional<networking::BackendChatService::AttachedCaptureInput> loadAttachedCaptureInput(
        const std::string& threadID, bool includePendingCaptures) const;

    static std::string mimeType(const std::string& extension);

private:
    ConversationStore& conversationStore_;
};

}  // namespace corvane
