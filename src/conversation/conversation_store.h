#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "model/capture_models.h"
#include "model/chat_model.h"
#include "model/conversation_model.h"
#include "platform/serial_queue.h"
#include "support/files.h"
#include "support/store_file.h"

namespace corvane {

// Keeps every chat thread in "conversation.json" and is the only code in this process that
// touches that file; other copies of the program sharing the folder may write it too. The
// decoded threads stay in memory; each operation, alone on the store's queue and holding the
// file's lock against the other copies, reads the file again when it changed on disk since this
// store last read or wrote it, changes the threads, writes the whole file back and answers from
// them. A read (state, entries, captures, brief) writes only a file not in the current form
// (missing, undecodable once backed up, legacy), never one that decoded.
//
// Thread IDs: an absent (or empty) ID means the most recently updated thread. A state read
// (`conversationState`) given an ID that names no thread answers for that most recent thread
// too; every other operation given an ID of a thread that is gone finds no thread at all, so
// it never changes, or reads from, another thread by mistake.
//
// The file is never written over when it could not be read (it stays as it is, and no chat in
// it counts as gone) or when it was undecodable and no backup of it could be made. An operation
// whose change did not reach the file says so: `ok` false in a state answer, false from the
// others, and `lastFailure()` tells why; its change is then dropped. A change to a named thread
// that is gone is refused the same way (kGoneThreadFailure).
class ConversationStore {
public:
    // Once `ending` is requested a lock held by another copy is not waited for: the operation is refused.
    explicit ConversationStore(std::stop_token ending = {});
    ConversationStore(const ConversationStore&) = delete;
    ConversationStore& operator=(const ConversationStore&) = delete;

    static const char* const kGoneThreadFailure;

    const std::filesystem::path& fileURL() const { return file_.file().path(); }

    // Why the last operation could not read or store the threads; absent when it could.
    std::optional<std::string> lastFailure();
    // How many times a read built the list of chats: once for each version of the file it reads.
    std::uint64_t listsBuilt();

    ConversationStateResponse conversationState(const std::optional<std::string>& threadID = std::nullopt);
    ConversationStateResponse createThread(const std::optional<std::string>& projectName = std::nullopt);
    // Removes the thread with exactly this ID and answers for the most recently updated one left.
    ConversationStateResponse deleteThread(const std::string& threadID);
    // The operations returning bool say whether the change reached the file (an ignored change did).
    // Renames the thread with exactly this ID; a title that is empty once trimmed is ignored.
    bool updateTitle(const std::string& threadID, const std::string& title);
    // Empties entries and captures, renumbers the title by stored position; keeps brief and project.
    // A named thread that is gone is refused (kGoneThreadFailure), as by updateSongBrief.
    ConversationStateResponse clearThread(const std::optional<std::string>& threadID);
    // The last `limit` entries in stored order (none for a negative limit).
    std::vector<ConversationEntry> recentEntries(const std::optional<std::string>& threadID, int limit);
    // A first user message also titles the thread (its first 36 characters, then "...").
    bool append(ConversationRole role, const std::string& content,
                const std::optional<std::string>& threadID = std::nullopt);
    bool appendToolCall(const ToolCallInfo& call, std::int64_t userEntryIndex,
                        const std::optional<std::string>& threadID = std::nullopt);
    bool updateLatestCapture(const std::optional<CaptureMetadata>& capture,
                             const std::optional<std::string>& threadID = std::nullopt);
    bool appendPendingCapture(const CaptureMetadata& capture,
                              const std::optional<std::string>& threadID = std::nullopt);
    std::vector<CaptureMetadata> pendingCaptures(const std::optional<std::string>& threadID = std::nullopt);
    bool clearPendingCaptures(const std::optional<std::string>& threadID = std::nullopt);
    // Stores the brief trimmed; an absent or blank brief removes it.
    ConversationStateResponse updateSongBrief(const std::optional<std::string>& songBrief,
                                              const std::optional<std::string>& threadID = std::nullopt);
    std::optional<std::string> songBrief(const std::optional<std::string>& threadID = std::nullopt);
    // As updateSongBrief for the thread with exactly this ID, but only while its brief is still
    // `expected` (absent or blank: none); a brief changed since (by another copy, by the agent)
    // is not written over: nothing is written, `changedMeanwhile` is set and the answer shows the
    // brief as stored. A thread that is gone is refused (kGoneThreadFailure).
    ConversationStateResponse updateSongBriefIfUnchanged(const std::optional<std::string>& expected,
                                                         const std::optional<std::string>& songBrief,
                                                         const std::string& threadID, bool& changedMeanwhile);

    // For callers outside the app that address a thread by ID: as the three above, but a named
    // thread that does not exist answers none and changes nothing, not another thread's state.
    std::optional<ConversationStateResponse> existingThreadState(const std::optional<std::string>& threadID);
    std::optional<ConversationStateResponse> clearExistingThread(const std::optional<std::string>& threadID);
    std::optional<ConversationStateResponse> updateSongBriefOfExistingThread(
        const std::optional<std::string>& songBrief, const std::optional<std::string>& threadID);

    // ---- a turn's entries: only through a TurnWriter -------------------------------------------
    static const char* const kClearedThreadFailure;
    // Held while a turn runs in the chat, against every copy sharing the folder (and let go when
    // the holding process ends). Not held with refusal() kFolderHeldByAnotherCopy: another copy
    // runs a turn there; with any other refusal the lock file cannot be used, and the turn may
    // not run either, as a store refuses its write.
    // The lock file goes with a deleted chat: at the delete when no turn holds it, else when the
    // turn holding it lets it go (releaseChatTurn).
    FileLock lockChatTurn(const std::string& threadID);
    // Lets the turn's lock go, and removes its lock file when the chat was deleted meanwhile.
    void releaseChatTurn(FileLock turnLock, const std::string& threadID);

private:
    friend class TurnWriter;
    struct Operation;
    // Where a turn's question landed. Its later entries go after it only while it is still there:
    // a clear (in this copy or another sharing the folder) takes it away, and the rest of the
    // turn is then refused (kClearedThreadFailure), so the chat never holds a reply without its
    // question. Each write of a turn holding its chat's lock goes only while the lock file is
    // still the one locked, checked under the file's lock, and is otherwise refused with
    // LockedFile::lostReason(), as a store's write is.
    struct TurnAnchor {
        std::string threadID;
        std::size_t index = 0;
        std::string timestamp;
        std::optional<LockedFile> turnLock;
    };
    std::optional<TurnAnchor> appendTurnQuestion(const std::string& content, const std::string& threadID,
                                                 const std::optional<LockedFile>& turnLock);
    bool appendTurnEntry(const TurnAnchor& anchor, ConversationRole role, const std::string& content);
    bool appendTurnToolCall(const TurnAnchor& anchor, const ToolCallInfo& call);
    bool clearTurnCaptures(const TurnAnchor& anchor);
    // What the chat's turn lock is taken for (its lock file beside it, in "Turns").
    std::filesystem::path turnLockTarget(const std::string& threadID) const;
    // A change of the turn's chat (`change` given the thread) once the anchor's question was found in place.
    template <class Change>
    bool changeAnchored(const TurnAnchor& anchor, Change change);

    // Every operation: alone on the queue, take the threads as the file holds them, resolve the
    // thread the caller means, let `change` work on them (and answer from them), write them back.
    template <class Change>
    auto run(const std::optional<std::string>& threadID, Change change);

    // The summaries of the threads as file_'s version summariesVersion_ holds them; reads only.
    std::vector<ConversationSummary> summaries(const StoredConversationState& state);

    std::vector<ConversationSummary> summaries_;
    std::uint64_t summariesVersion_ = 0;
    std::uint64_t summariesBuilt_ = 0;
    bool unsavedMigration_ = false;  // the threads were migrated from a legacy file not yet rewritten
    CachedStoreFile<StoredConversationState> file_;
    platform::SerialQueue queue_;
};

// The one way a turn writes its chat: its question first, then each of its entries after it in
// order (the tool calls' cards, the tools' notes, the reply) and the clearing of the captures it
// sent. Once one of its writes is refused (the disk, a lost turn lock, the chat cleared or
// deleted), nothing more of the turn is stored, so the file always holds a whole prefix of the
// turn; every later write answers false, and failure() says why the first was refused. The turn
// and the tools it runs share it, on any thread. Before the question was asked to be stored
// nothing is: there is nothing an entry could follow.
class TurnWriter {
public:
    // `turnLock`: the chat's lock the turn holds (lockChatTurn), looked at before each write.
    TurnWriter(ConversationStore& store, std::string threadID, std::optional<LockedFile> turnLock = std::nullopt);
    TurnWriter(const TurnWriter&) = delete;
    TurnWriter& operator=(const TurnWriter&) = delete;

    const std::string& threadID() const { return threadID_; }
    // Each answers whether its change reached the file.
    bool question(const std::string& content);
    bool entry(ConversationRole role, const std::string& content);
    bool toolCall(const ToolCallInfo& call);
    bool clearPendingCaptures();
    // Where the question landed in the chat, once it is stored.
    std::optional<std::size_t> questionIndex() const;
    std::optional<std::string> failure() const;

private:
    template <class Write>
    bool write(Write write);

    ConversationStore& store_;
    const std::string threadID_;
    const std::optional<LockedFile> turnLock_;
    mutable std::mutex mutex_;  // one write at a time, in the order they come
    bool asked_ = false;
    std::optional<ConversationStore::TurnAnchor> anchor_;
    std::optional<std::string> failure_;
};

// What the tools of a turn may read of the chats: they write only through the turn's TurnWriter.
class ConversationReader {
public:
    ConversationReader(ConversationStore& store) : store_(store) {}  // NOLINT: implicit, a narrowed view
    // The entries of the chat with exactly this ID; none when it is gone.
    std::vector<ConversationEntry> entries(const std::string& threadID) const;

private:
    ConversationStore& store_;
};

}  // namespace corvane
