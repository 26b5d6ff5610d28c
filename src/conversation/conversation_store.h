#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "conversation/store_file.h"
#include "model/capture_models.h"
#include "model/chat_model.h"
#include "model/conversation_model.h"
#include "platform/serial_queue.h"

namespace corvane {

// Keeps every chat thread in "conversation.json" and is the only code that touches that file.
// Nothing is held in memory between calls: each operation loads the whole file, changes its
// copy, writes the whole file back and answers from that copy, alone on the store's queue.
//
// Thread IDs: an absent (or empty) ID means the most recently updated thread. A state read
// (`conversationState`) given an ID that names no thread answers for that most recent thread
// too; every other operation given an ID of a thread that is gone finds no thread at all, so
// it never changes, or reads from, another thread by mistake.
//
// The file is never written over when it could not be read (it stays as it is) or when it was
// undecodable and no backup of it could be made.
class ConversationStore {
public:
    ConversationStore();
    ConversationStore(const ConversationStore&) = delete;
    ConversationStore& operator=(const ConversationStore&) = delete;

    const std::filesystem::path& fileURL() const { return file_.path(); }

    ConversationStateResponse conversationState(const std::optional<std::string>& threadID = std::nullopt);
    ConversationStateResponse createThread(const std::optional<std::string>& projectName = std::nullopt);
    // Removes the thread with exactly this ID and answers for the most recently updated one left.
    ConversationStateResponse deleteThread(const std::string& threadID);
    // Renames the thread with exactly this ID; a title that is empty once trimmed is ignored.
    void updateTitle(const std::string& threadID, const std::string& title);
    // Empties entries and captures, renumbers the title by stored position; keeps brief and project.
    ConversationStateResponse clearThread(const std::optional<std::string>& threadID);
    // The last `limit` entries in stored order (none for a negative limit).
    std::vector<ConversationEntry> recentEntries(const std::optional<std::string>& threadID, int limit);
    // A first user message also titles the thread (its first 36 characters, then "...").
    void append(ConversationRole role, const std::string& content,
                const std::optional<std::string>& threadID = std::nullopt);
    void appendToolCall(const ToolCallInfo& call, std::int64_t userEntryIndex,
                        const std::optional<std::string>& threadID = std::nullopt);
    void updateLatestCapture(const std::optional<CaptureMetadata>& capture,
                             const std::optional<std::string>& threadID = std::nullopt);
    void appendPendingCapture(const CaptureMetadata& capture,
                              const std::optional<std::string>& threadID = std::nullopt);
    std::vector<CaptureMetadata> pendingCaptures(const std::optional<std::string>& threadID = std::nullopt);
    void clearPendingCaptures(const std::optional<std::string>& threadID = std::nullopt);
    // Stores the brief trimmed; an absent or blank brief removes it.
    ConversationStateResponse updateSongBrief(const std::optional<std::string>& songBrief,
                                              const std::optional<std::string>& threadID = std::nullopt);
    std::optional<std::string> songBrief(const std::optional<std::string>& threadID = std::nullopt);

private:
    struct Operation;

    // Every operation: alone on the queue, load the file, resolve the thread the caller means,
    // let `change` work on the loaded copy (and answer from it), write the file back.
    template <class Change>
    auto run(const std::optional<std::string>& threadID, Change change);

    StoreFile::Contents<StoredConversationState> load();

    StoreFile file_;
    platform::SerialQueue queue_;
};

}  // namespace corvane
