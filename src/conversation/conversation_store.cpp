#include "conversation/conversation_store.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <type_traits>

#include <unistd.h>

#include "platform/log.h"
#include "support/app_paths.h"
#include "support/iso8601.h"
#include "support/json_writer.h"
#include "support/unicode.h"
#include "support/uuid.h"

namespace corvane {

namespace {

using Thread = StoredConversationThread;
using Threads = std::vector<Thread>;

constexpr size_t kPreviewLength = 120;
constexpr size_t kAutoTitleLength = 36;

std::string now() { return ISO8601::corvaneDefault(ISO8601::now()); }

std::string replacingLineFeeds(std::string s) {
    std::replace(s.begin(), s.end(), '\n', ' ');
    return s;
}

template <class List>  // Threads or const Threads
auto findThread(List& threads, const std::string& id) -> decltype(&threads.front()) {
    for (auto& thread : threads)
        if (thread.threadID == id) return &thread;
    return nullptr;
}

// The greatest updatedAt (compared as text); the first in stored order among equals.
std::optional<std::string> mostRecentlyUpdatedThreadID(const Threads& threads) {
    const Thread* best = nullptr;
    for (const auto& thread : threads)
        if (!best || thread.updatedAt > best->updatedAt) best = &thread;
    if (!best) return std::nullopt;
    return best->threadID;
}

// The named thread when it exists, else the most recently updated one, else "" (no thread).
std::string resolveThreadID(const Threads& threads, const std::optional<std::string>& preferredThreadID) {
    if (preferredThreadID && findThread(threads, *preferredThreadID)) return *preferredThreadID;
    return mostRecentlyUpdatedThreadID(threads).value_or("");
}

// The thread an operation other than a state read works on. Falling back to the most recent
// thread is right when the caller named none; when it named a thread that is gone (deleted
// during a turn, say), that other thread must not receive its entries, captures or brief.
Thread* targetThread(Threads& threads, const std::optional<std::string>& preferredThreadID,
                     const std::string& resolvedID) {
    if (preferredThreadID && !preferredThreadID->empty() && *preferredThreadID != resolvedID) return nullptr;
    return findThread(threads, resolvedID);
}

ConversationSummary summarize(const Thread& thread) {
    ConversationSummary summary;
    summary.threadID = thread.threadID;
    summary.title = thread.title;
    summary.updatedAt = thread.updatedAt;
    summary.messageCount = static_cast<std::int64_t>(thread.entries.size());
    summary.projectName = thread.projectName;
    for (auto entry = thread.entries.rbegin(); entry != thread.entries.rend(); ++entry) {
        if (entry->role != ConversationRole::user && entry->role != ConversationRole::assistant) continue;
        summary.lastMessagePreview = replacingLineFeeds(text::graphemePrefix(entry->content, kPreviewLength));
        break;
    }
    return summary;
}

// Newest first.
std::vector<ConversationSummary> sortedSummaries(const StoredConversationState& state) {
    std::vector<const Thread*> sorted;  // not copies: the threads may hold megabytes
    for (const auto& thread : state.threads) sorted.push_back(&thread);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Thread* a, const Thread* b) { return a->updatedAt > b->updatedAt; });
    std::vector<ConversationSummary> summaries;
    summaries.reserve(sorted.size());
    for (const Thread* thread : sorted) summaries.push_back(summarize(*thread));
    return summaries;
}

ConversationStateResponse makeStateResponse(const StoredConversationState& state, const std::string& currentThreadID,
                                            std::vector<ConversationSummary> summaries) {
    ConversationStateResponse response;
    response.ok = true;
    response.threads = std::move(summaries);
    if (const Thread* current = findThread(state.threads, currentThreadID)) {
        response.currentThreadID = current->threadID;
        response.currentThreadTitle = current->title;
        response.entries = current->entries;
        response.pendingCaptureCount =
            current->pendingCaptures ? static_cast<std::int64_t>(current->pendingCaptures->size()) : 0;
        response.songBrief = current->songBrief;
    }
    return response;
}

// The current form, else the legacy single-conversation form migrated into one thread (`migrated`
// then set).
StoredConversationState decodeEitherForm(const std::string& bytes, bool& migrated) {
    migrated = false;
    nlohmann::json document;
    bool parsed = false;
    try {
        document = json_fields::parse(bytes);
        parsed = true;
        return json_fields::as<StoredConversationState>(document);
    } catch (const std::exception& e) {
        log(std::string("[ConversationStore] new-format decode failed: ") + e.what());
        if (!parsed) throw;
    }
    auto legacy = json_fields::as<StoredConversation>(document);
    log("[ConversationStore] migrating legacy conversation.json format");
    migrated = true;
    std::string stamp = now();
    Thread thread;
    thread.threadID = makeUUID();
    thread.title = "Chat 1";
    thread.createdAt = stamp;
    thread.updatedAt = legacy.entries.empty() ? stamp : legacy.entries.back().timestamp;
    thread.entries = std::move(legacy.entries);
    thread.latestCapture = std::move(legacy.latestCapture);
    thread.pendingCaptures = legacy.pendingCaptures.value_or(std::vector<CaptureMetadata>{});
    thread.songBrief = std::move(legacy.songBrief);
    return StoredConversationState{{std::move(thread)}};
}

// The capture as the file holds it, so that a later run reads back what this one answers with:
// JSON has no NaN or infinity, and such a frame number is written as 0.
CaptureMetadata asStored(CaptureMetadata capture) {
    for (auto& window : capture.logicContext.windows)
        for (double* number : {&window.frame.x, &window.frame.y, &window.frame.width, &window.frame.height})
            if (!std::isfinite(*number)) *number = 0;
    return capture;
}

std::optional<std::string> automaticTitle(const std::string& firstUserMessage) {
    std::string flattened = replacingLineFeeds(text::trimmingWhitespaceAndNewlines(firstUserMessage));
    if (flattened.empty()) return std::nullopt;
    if (text::graphemeCount(flattened) <= kAutoTitleLength) return flattened;
    return text::graphemePrefix(flattened, kAutoTitleLength) + "...";
}

}  // namespace

ConversationStore::ConversationStore(std::stop_token ending)
    : file_(
          StoreFile(AppPaths::appSupportDirectory() / "conversation.json", "ConversationStore",
                    {.mode = 0600, .reportRefusedWrites = false, .ending = std::move(ending)}),
          [this](const std::string& bytes) { return decodeEitherForm(bytes, unsavedMigration_); },
          [](const std::string&) {
              log("[ConversationStore] legacy-format decode also failed; archiving corrupt file");
          },
          [](const StoredConversationState& state, std::string& out) {
              PrettyJSONWriter writer(out);
              writeJSON(writer, state);
              return writer.valid();
          }),
      queue_("Corvane.ConversationStore") {}

std::optional<std::string> ConversationStore::lastFailure() {
    return queue_.sync([&] { return file_.lastFailure(); });
}

std::uint64_t ConversationStore::listsBuilt() {
    return queue_.sync([&] { return summariesBuilt_; });
}

// What one operation works on: the threads and the thread the caller means.
struct ConversationStore::Operation {
    ConversationStore& store;
    StoredConversationState& state;
    Threads& threads;         // state.threads
    std::string resolvedID;   // the named thread when it exists, else the most recent one, else ""
    Thread* thread;           // the thread to change or read; none when the named thread is gone
    bool namedThreadMissing;  // the caller named a thread and there is none with that ID
    bool write = true;        // false: the file stays exactly as it is
    // false: a read. It writes the file only to bring it into the current form (a fresh
    // installation, an undecodable file once backed up, a legacy file whose migrated thread's
    // new ID the answer already names), never over a file that decoded.
    bool changes = true;
    bool refused = false;  // a change to a thread that is gone: not ok, and nothing written

    ConversationStateResponse response(const std::string& currentThreadID) const {
        return makeStateResponse(state, currentThreadID, changes ? sortedSummaries(state) : store.summaries(state));
    }
    // The change named a thread that is gone: it is refused, never made to another thread.
    bool refuseIfGone() {
        if (!namedThreadMissing) return false;
        write = false;
        refused = true;
        return true;
    }
};

// Building every thread's summary costs most of a list of many threads; one version of the
// file always gives the same list.
std::vector<ConversationSummary> ConversationStore::summaries(const StoredConversationState& state) {
    if (summariesVersion_ != file_.version()) {
        summaries_ = sortedSummaries(state);
        summariesVersion_ = file_.version();
        ++summariesBuilt_;
    }
    return summaries_;
}

const char* const ConversationStore::kGoneThreadFailure = "the chat no longer exists";

template <class Change>
auto ConversationStore::run(const std::optional<std::string>& threadID, Change change) {
    return queue_.sync([&] {
        // Held from the read to the rename: another copy sharing the folder changes the file
        // only before the read (and is then read) or after the write.
        const FileLock held = file_.lock();
        auto& loaded = file_.current();
        const bool readable = loaded.found != StoreFile::Found::unreadable;
        if (!readable) log("[ConversationStore] conversation.json could not be read; leaving it untouched");
        Threads& threads = loaded.value.threads;
        std::string resolved = resolveThreadID(threads, threadID);
        Thread* target = targetThread(threads, threadID, resolved);
        const bool missing = threadID && !threadID->empty() && !target;
        Operation operation{*this, loaded.value, threads, std::move(resolved), target, missing};
        // Only a file not yet in the current form (none, undecodable and backed up, legacy) is
        // written by a read: under the lock, that puts back nothing another copy wrote.
        const bool currentForm = loaded.found == StoreFile::Found::decoded && !unsavedMigration_;
        using Answer = std::invoke_result_t<Change&, Operation&>;
        auto store = [&] {
            const bool stored = file_.save();
            if (stored) unsavedMigration_ = false;
            return stored;
        };
        if constexpr (std::is_void_v<Answer>) {
            change(operation);
            if (operation.refused) {
                // A chat is gone only from a file that was read: else the read's failure is the reason.
                if (readable) file_.keepFailure(kGoneThreadFailure);
                return false;
            }
            return operation.write ? store() : readable;  // every void operation changes something
        } else {
            auto answer = change(operation);
            const bool rewrite = operation.write && (operation.changes || !currentForm);
            if (operation.refused && readable) file_.keepFailure(kGoneThreadFailure);
            // Without the lock a read may answer from a file another copy is about to replace.
            const std::optional<std::string>& unlocked = held.refusal();
            if (unlocked && !rewrite) file_.keepFailure(*unlocked);
            const bool stored = rewrite ? store() : readable && !operation.refused && !unlocked;
            // A change the file did not take is dropped: the answer shows what is kept, and why.
            const std::optional<std::string> failure = stored ? std::nullopt : file_.lastFailure();
            auto settle = [&](ConversationStateResponse& state) {
                if (!stored && rewrite) {
                    const auto& kept = file_.keptAfterFailedSave().value;
                    state = makeStateResponse(kept, resolveThreadID(kept.threads, state.currentThreadID),
                                              sortedSummaries(kept));
                }
                state.ok = stored;
                state.error = failure;
            };
            if constexpr (std::is_same_v<Answer, ConversationStateResponse>) settle(answer);
            if constexpr (std::is_same_v<Answer, std::optional<ConversationStateResponse>>)
                if (answer) settle(*answer);
            return answer;
        }
    });
}

ConversationStateResponse ConversationStore::conversationState(const std::optional<std::string>& threadID) {
    return run(threadID, [](Operation& op) {
        op.changes = false;
        return op.response(op.resolvedID);
    });
}

ConversationStateResponse ConversationStore::createThread(const std::optional<std::string>& projectName) {
    return run(std::nullopt, [&](Operation& op) {
        auto sameProject = std::count_if(op.threads.begin(), op.threads.end(),
                                         [&](const Thread& t) { return t.projectName == projectName; });
        std::string stamp = now();
        Thread thread;
        thread.threadID = makeUUID();
        thread.title = "Chat " + std::to_string(sameProject + 1);
        thread.createdAt = stamp;
        thread.updatedAt = stamp;
        thread.pendingCaptures = std::vector<CaptureMetadata>{};
        thread.projectName = projectName;
        std::string id = thread.threadID;
        op.threads.insert(op.threads.begin(), std::move(thread));
        return op.response(id);
    });
}

ConversationStateResponse ConversationStore::deleteThread(const std::string& threadID) {
    auto answer = run(std::nullopt, [&](Operation& op) {
        std::erase_if(op.threads, [&](const Thread& t) { return t.threadID == threadID; });
        return op.response(mostRecentlyUpdatedThreadID(op.threads).value_or(""));
    });
    // The chat's turn lock goes with it, unless a turn (in any copy) still holds it.
    if (answer.ok) FileLock::removeUnheld(turnLockTarget(threadID));
    return answer;
}

bool ConversationStore::updateTitle(const std::string& threadID, const std::string& title) {
    return run(std::nullopt, [&](Operation& op) {
        Thread* thread = findThread(op.threads, threadID);  // exactly this ID, never a fallback
        if (!thread && !threadID.empty()) {
            op.namedThreadMissing = true;
            op.refuseIfGone();
            return;
        }
        std::string trimmed = thread ? text::trimmingWhitespaceAndNewlines(title) : std::string();
        if (trimmed.empty()) {
            op.write = false;
            return;
        }
        thread->title = trimmed;
        thread->updatedAt = now();
    });
}

namespace {

void clear(Threads& threads, Thread& thread) {
    auto position = &thread - threads.data() + 1;
    thread.entries.clear();
    thread.latestCapture.reset();
    thread.pendingCaptures = std::vector<CaptureMetadata>{};
    thread.title = "Chat " + std::to_string(position);
    thread.updatedAt = now();
}

void setBrief(Thread& thread, const std::optional<std::string>& songBrief) {
    std::optional<std::string> brief;
    if (songBrief) {
        std::string trimmed = text::trimmingWhitespaceAndNewlines(*songBrief);
        if (!trimmed.empty()) brief = std::move(trimmed);
    }
    thread.songBrief = std::move(brief);
    thread.updatedAt = now();
}

}  // namespace

ConversationStateResponse ConversationStore::clearThread(const std::optional<std::string>& threadID) {
    return run(threadID, [](Operation& op) {
        if (!op.refuseIfGone() && op.thread) clear(op.threads, *op.thread);
        return op.response(op.resolvedID);
    });
}

std::optional<ConversationStateResponse> ConversationStore::clearExistingThread(
    const std::optional<std::string>& threadID) {
    return run(threadID, [](Operation& op) -> std::optional<ConversationStateResponse> {
        if (op.namedThreadMissing) {
            op.write = false;
            return std::nullopt;
        }
        if (op.thread) clear(op.threads, *op.thread);
        return op.response(op.resolvedID);
    });
}

std::vector<ConversationEntry> ConversationStore::recentEntries(const std::optional<std::string>& threadID, int limit) {
    return run(threadID, [&](Operation& op) {
        op.changes = false;
        std::vector<ConversationEntry> entries;
        if (!op.thread || limit <= 0) return entries;
        const auto& all = op.thread->entries;
        size_t keep = std::min(all.size(), static_cast<size_t>(limit));
        entries.assign(all.end() - static_cast<std::ptrdiff_t>(keep), all.end());
        return entries;
    });
}

bool ConversationStore::append(ConversationRole role, const std::string& content,
                               const std::optional<std::string>& threadID) {
    return run(threadID, [&](Operation& op) {
        Thread* thread = op.thread;
        if (op.refuseIfGone() || !thread) return;
        std::string stamp = now();
        ConversationEntry entry;
        entry.timestamp = stamp;
        entry.role = role;
        entry.content = content;
        thread->entries.push_back(std::move(entry));
        thread->updatedAt = stamp;
        if (role == ConversationRole::user && thread->entries.size() == 1)
            if (auto title = automaticTitle(content)) thread->title = *title;
    });
}

namespace {

ConversationEntry toolCallEntry(const ToolCallInfo& call, std::int64_t userEntryIndex, const std::string& stamp) {
    ConversationEntry entry;
    entry.timestamp = stamp;
    entry.role = ConversationRole::toolCall;
    entry.content = call.summary.value_or("");
    entry.toolCallID = call.id;
    entry.toolName = call.toolName;
    entry.arguments = call.arguments;
    entry.roundIndex = call.roundIndex;
    entry.succeeded = call.succeeded;
    entry.summary = call.summary;
    entry.resultJSON = call.resultJSON;
    entry.userEntryIndex = userEntryIndex;
    return entry;
}

}  // namespace

bool ConversationStore::appendToolCall(const ToolCallInfo& call, std::int64_t userEntryIndex,
                                       const std::optional<std::string>& threadID) {
    return run(threadID, [&](Operation& op) {
        Thread* thread = op.thread;
        if (op.refuseIfGone() || !thread) return;
        std::string stamp = now();
        thread->entries.push_back(toolCallEntry(call, userEntryIndex, stamp));
        thread->updatedAt = stamp;
    });
}

bool ConversationStore::updateLatestCapture(const std::optional<CaptureMetadata>& capture,
                                            const std::optional<std::string>& threadID) {
    return run(threadID, [&](Operation& op) {
        if (op.refuseIfGone() || !op.thread) return;
        op.thread->latestCapture = capture ? std::optional(asStored(*capture)) : std::nullopt;
        op.thread->updatedAt = now();
    });
}

bool ConversationStore::appendPendingCapture(const CaptureMetadata& capture,
                                             const std::optional<std::string>& threadID) {
    return run(threadID, [&](Operation& op) {
        if (op.refuseIfGone() || !op.thread) return;
        if (!op.thread->pendingCaptures) op.thread->pendingCaptures.emplace();
        op.thread->pendingCaptures->push_back(asStored(capture));
        op.thread->updatedAt = now();
    });
}

std::vector<CaptureMetadata> ConversationStore::pendingCaptures(const std::optional<std::string>& threadID) {
    return run(threadID, [](Operation& op) {
        op.changes = false;
        if (!op.thread || !op.thread->pendingCaptures) return std::vector<CaptureMetadata>{};
        return *op.thread->pendingCaptures;
    });
}

bool ConversationStore::clearPendingCaptures(const std::optional<std::string>& threadID) {
    return run(threadID, [](Operation& op) {
        if (op.refuseIfGone() || !op.thread) return;
        op.thread->pendingCaptures = std::vector<CaptureMetadata>{};
        op.thread->updatedAt = now();
    });
}

ConversationStateResponse ConversationStore::updateSongBrief(const std::optional<std::string>& songBrief,
                                                             const std::optional<std::string>& threadID) {
    return run(threadID, [&](Operation& op) {
        if (!op.refuseIfGone() && op.thread) setBrief(*op.thread, songBrief);
        return op.response(op.resolvedID);
    });
}

std::optional<ConversationStateResponse> ConversationStore::updateSongBriefOfExistingThread(
    const std::optional<std::string>& songBrief, const std::optional<std::string>& threadID) {
    return run(threadID, [&](Operation& op) -> std::optional<ConversationStateResponse> {
        if (op.namedThreadMissing) {
            op.write = false;
            return std::nullopt;
        }
        if (op.thread) setBrief(*op.thread, songBrief);
        return op.response(op.resolvedID);
    });
}

ConversationStateResponse ConversationStore::updateSongBriefIfUnchanged(const std::optional<std::string>& expected,
                                                                        const std::optional<std::string>& songBrief,
                                                                        const std::string& threadID,
                                                                        bool& changedMeanwhile) {
    changedMeanwhile = false;
    auto answer = run(threadID, [&](Operation& op) {
        if (op.refuseIfGone() || !op.thread) return op.response(op.resolvedID);
        const std::string stored = op.thread->songBrief.value_or("");
        if (stored != text::trimmingWhitespaceAndNewlines(expected.value_or(""))) {
            changedMeanwhile = true;
            op.write = false;
        } else {
            setBrief(*op.thread, songBrief);
        }
        return op.response(op.resolvedID);
    });
    return answer;
}

std::optional<ConversationStateResponse> ConversationStore::existingThreadState(
    const std::optional<std::string>& threadID) {
    return run(threadID, [](Operation& op) -> std::optional<ConversationStateResponse> {
        op.changes = false;
        if (op.namedThreadMissing) {
            op.write = false;
            return std::nullopt;
        }
        return op.response(op.resolvedID);
    });
}

std::optional<std::string> ConversationStore::songBrief(const std::optional<std::string>& threadID) {
    return run(threadID, [](Operation& op) {
        op.changes = false;
        return op.thread ? op.thread->songBrief : std::nullopt;
    });
}

// ---- a turn's entries --------------------------------------------------------------------------

const char* const ConversationStore::kClearedThreadFailure = "the chat was cleared while this turn ran";


namespace {
// Checked under the file's lock, so that no turn of another copy writes between the check and the write.
std::optional<std::string> lostTurnLock(const std::optional<LockedFile>& turnLock) {
    if (turnLock && !turnLock->stillNamed()) return turnLock->lostReason();
    return std::nullopt;
}
}  // namespace

std::optional<ConversationStore::TurnAnchor> ConversationStore::appendTurnQuestion(
    const std::string& content, const std::string& threadID, const std::optional<LockedFile>& turnLock) {
    std::optional<TurnAnchor> anchor;
    std::optional<std::string> lost;
    const bool stored = run(threadID, [&](Operation& op) {
        Thread* thread = op.thread;
        if (op.refuseIfGone() || !thread) return;
        if ((lost = lostTurnLock(turnLock))) {
            op.write = false;
            return;
        }
        ConversationEntry entry;
        entry.timestamp = now();
        entry.role = ConversationRole::user;
        entry.content = content;
        anchor = TurnAnchor{thread->threadID, thread->entries.size(), entry.timestamp, turnLock};
        thread->entries.push_back(std::move(entry));
        thread->updatedAt = anchor->timestamp;
        if (thread->entries.size() == 1)
            if (auto title = automaticTitle(content)) thread->title = *title;
    });
    if (lost) queue_.sync([&] { file_.keepFailure(*lost); });
    if (!stored || lost) return std::nullopt;
    return anchor;
}

template <class Change>
bool ConversationStore::changeAnchored(const TurnAnchor& anchor, Change change) {
    bool cleared = false;
    std::optional<std::string> lost;
    const bool stored = run(anchor.threadID, [&](Operation& op) {
        Thread* thread = op.thread;
        if (op.refuseIfGone() || !thread) return;
        if ((lost = lostTurnLock(anchor.turnLock))) {
            op.write = false;
            return;
        }
        const auto& entries = thread->entries;
        if (anchor.index >= entries.size() || entries[anchor.index].role != ConversationRole::user ||
            entries[anchor.index].timestamp != anchor.timestamp) {
            cleared = true;
            op.write = false;
            return;
        }
        change(*thread);
    });
    if (!cleared && !lost) return stored;
    queue_.sync([&] { file_.keepFailure(lost.value_or(kClearedThreadFailure)); });
    return false;
}

bool ConversationStore::appendTurnEntry(const TurnAnchor& anchor, ConversationRole role, const std::string& content) {
    return changeAnchored(anchor, [&](Thread& thread) {
        ConversationEntry entry;
        entry.timestamp = now();
        entry.role = role;
        entry.content = content;
        thread.updatedAt = entry.timestamp;
        thread.entries.push_back(std::move(entry));
    });
}

bool ConversationStore::appendTurnToolCall(const TurnAnchor& anchor, const ToolCallInfo& call) {
    return changeAnchored(anchor, [&](Thread& thread) {
        auto entry = toolCallEntry(call, static_cast<std::int64_t>(anchor.index), now());
        thread.updatedAt = entry.timestamp;
        thread.entries.push_back(std::move(entry));
    });
}

bool ConversationStore::clearTurnCaptures(const TurnAnchor& anchor) {
    return changeAnchored(anchor, [](Thread& thread) {
        thread.pendingCaptures = std::vector<CaptureMetadata>{};
        thread.updatedAt = now();
    });
}

std::filesystem::path ConversationStore::turnLockTarget(const std::string& threadID) const {
    // A name of the ID's hash: an ID read from the file may hold any text.
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : threadID) hash = (hash ^ c) * 1099511628211ull;
    char name[32];
    std::snprintf(name, sizeof name, "chat-%016llx", static_cast<unsigned long long>(hash));
    return fileURL().parent_path() / "Turns" / name;
}

FileLock ConversationStore::lockChatTurn(const std::string& threadID) {
    const auto target = turnLockTarget(threadID);
    createPrivateFolders(target.parent_path());
    return FileLock::acquire(target, std::chrono::milliseconds(0));
}

void ConversationStore::releaseChatTurn(FileLock turnLock, const std::string& threadID) {
    const auto locked = turnLock.lockedFile();
    if (!locked || threadID.empty()) return;
    // A delete while the lock was held left its file for the holder to remove: removed while
    // still held, so that no copy takes a lock on a file about to go.
    if (!existingThreadState(threadID) && locked->stillNamed()) ::unlink(locked->lockPath.c_str());
}

// ---- TurnWriter --------------------------------------------------------------------------------

TurnWriter::TurnWriter(ConversationStore& store, std::string threadID, std::optional<LockedFile> turnLock)
    : store_(store), threadID_(std::move(threadID)), turnLock_(std::move(turnLock)) {}

template <class Write>
bool TurnWriter::write(Write write) {
    std::lock_guard lock(mutex_);
    if (failure_) return false;
    if (!anchor_) return !asked_;  // before its question nothing is stored, nor refused
    if (write(*anchor_)) return true;
    failure_ = store_.lastFailure().value_or(store_.fileURL().string() + " could not be written");
    return false;
}

bool TurnWriter::question(const std::string& content) {
    std::lock_guard lock(mutex_);
    if (asked_) return false;
    asked_ = true;
    anchor_ = store_.appendTurnQuestion(content, threadID_, turnLock_);
    if (anchor_) return true;
    failure_ = store_.lastFailure().value_or(store_.fileURL().string() + " could not be written");
    return false;
}

bool TurnWriter::entry(ConversationRole role, const std::string& content) {
    return write([&](const ConversationStore::TurnAnchor& anchor) { return store_.appendTurnEntry(anchor, role, content); });
}

bool TurnWriter::toolCall(const ToolCallInfo& call) {
    return write([&](const ConversationStore::TurnAnchor& anchor) { return store_.appendTurnToolCall(anchor, call); });
}

bool TurnWriter::clearPendingCaptures() {
    return write([&](const ConversationStore::TurnAnchor& anchor) { return store_.clearTurnCaptures(anchor); });
}

std::optional<std::size_t> TurnWriter::questionIndex() const {
    std::lock_guard lock(mutex_);
    if (!anchor_) return std::nullopt;
    return anchor_->index;
}

std::optional<std::string> TurnWriter::failure() const {
    std::lock_guard lock(mutex_);
    return failure_;
}

std::vector<ConversationEntry> ConversationReader::entries(const std::string& threadID) const {
    const auto state = store_.existingThreadState(threadID);
    return state ? state->entries : std::vector<ConversationEntry>{};
}

}  // namespace corvane
