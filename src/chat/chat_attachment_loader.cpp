#include "chat/chat_attachment_loader.h"

#include <filesystem>

#include "conversation/conversation_store.h"
#include "support/base64.h"
#include "support/files.h"
#include "support/unicode.h"

namespace corvane {

std::string ChatAttachmentLoader::mimeType(const std::string& extension) {
    const std::string lowered = text::lowercased(extension);
    if (lowered == "jpg" || lowered == "jpeg") return "image/jpeg";
    if (lowered == "gif") return "image/gif";
    if (lowered == "webp") return "image/webp";
    return "image/png";
}

std::optional<networking::BackendChatService::AttachedCaptureInput> ChatAttachmentLoader::loadAttachedCaptureInput(
    const std::string& threadID, bool includePendingCaptures) const {
    if (!includePendingCaptures) return std::nullopt;
    networking::BackendChatService::AttachedCaptureInput loaded;
    for (const auto& capture : conversationStore_.pendingCaptures(threadID)) {
        if (!capture.filePath) continue;
        const FileRead file = readFile(*capture.filePath);
        if (!file.ok()) continue;
        const std::string name = std::filesystem::path(*capture.filePath).filename().string();
        const auto dot = name.rfind('.');
        const std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
        loaded.push_back({capture, "data:" + mimeType(extension) + ";base64," + base64Encode(file.bytes),
                          "user-queued Logic screenshot"});
    }
    if (loaded.empty()) return std::nullopt;
    return loaded;
}

}  // namespace corvane
