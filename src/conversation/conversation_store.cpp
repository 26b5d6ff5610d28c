#include "conversation/conversation_store.h"

#include <algorithm>

#include "platform/log.h"
#include "support/app_paths.h"
#include "support/files.h"
#include "support/iso8601.h"
#include "support/unicode.h"
#include "support/uuid.h"

namespace corvane {

namespace {

using Thread = StoredConversationThread;
using Threads = std::vector<Thread>;

constexpr const char* kStoreName = "ConversationStore";
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

ConversationStateResponse makeStateResponse(const StoredConversationState& state, const std::string& currentThreadID) {
    ConversationStateResponse response;
    response.ok = true;
    Threads sorted = state.threads;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Thread& a, const Thread& b) { return a.updatedAt > b.updatedAt; });
    for (const auto& thread : sorted) response.threads.push_back(summarize(thread));
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

std::optional<std::string> automaticTitle(const std::string& firstUserMessage) {
    std::string flattened = replacingLineFeeds(text::trimmingWhitespaceAndNewlines(firstUserMessage));
    if (flattened.empty()) return std::nullopt;
    if (text::graphemeCount(flattened) <= kAutoTitleLength) return flattened;
    return text::graphemePrefix(flattened, kAutoTitleLength) + "...";
}

}  // namespace

ConversationStore::ConversationStore()
    : fileURL_(AppPaths::appSupportDirectory() / "conversation.json"), queue_("Corvane.ConversationStore") {}

// Only a file whose bytes are safely kept beside it may be written over.
bool ConversationStore::keepCorruptCopy(const std::string& bytes) {
    AppPaths::archiveCorruptFile(fileURL_, kStoreName);
    return AppPaths::hasPreservedCopy(fileURL_, bytes);
}

ConversationStore::Loaded ConversationStore::loadConversationState() {
    FileRead read = readFile(fileURL_);
    if (read.status == FileRead::Status::missing) return {};
    if (read.status == FileRead::Status::unreadable) {
        log("[ConversationStore] conversation.json could not be read; leaving it untouched");
        return {{}, false};
    }

    nlohmann::json document;
    bool parsed = false;
    std::string error;
    try {
        document = nlohmann::json::parse(read.bytes);
        parsed = true;
        return {document.get<StoredConversationState>(), true};
    } catch (const std::exception& e) {
        error = e.what();
    }
    log("[ConversationStore] new-format decode failed: " + error);

    if (parsed) {
        try {
            auto legacy = document.get<StoredConversation>();
            log("[ConversationStore] migrating legacy conversation.json format");
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
            return {StoredConversationState{{std::move(thread)}}, true};
        } catch (const std::exception&) {
        }
    }

    log("[ConversationStore] legacy-format decode also failed; archiving corrupt file");
    bool kept = keepCorruptCopy(read.bytes);
    return {{}, kept};
}

void ConversationStore::save(const Loaded& loaded) {
    if (!loaded.mayWrite) return;
    std::string bytes;
    try {
        // Replace rather than fail on a stray invalid UTF-8 byte: one bad text must not cost the file.
        bytes = nlohmann::json(loaded.state).dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    } catch (const std::exception&) {
        return;
    }
    writeFileAtomically(fileURL_, bytes, 0600);
}

ConversationStateResponse ConversationStore::conversationState(const std::optional<std::string>& threadID) {
    return queue_.sync([&] {
        Loaded loaded = loadConversationState();
        std::string resolved = resolveThreadID(loaded.state.threads, threadID);
        save(loaded);
        return makeStateResponse(loaded.state, resolved);
    });
}

ConversationStateResponse ConversationStore::createThread(const std::optional<std::string>& projectName) {
    return queue_.sync([&] {
        Loaded loaded = loadConversationState();
        auto& threads = loaded.state.threads;
        auto sameProject = std::count_if(threads.begin(), threads.end(),
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
        threads.insert(threads.begin(), std::move(thread));
        save(loaded);
        return makeStateResponse(loaded.state, id);
    });
}

ConversationStateResponse ConversationStore::deleteThread(const std::string& threadID) {
    return queue_.sync([&] {
        Loaded loaded = loadConversationState();
        auto& threads = loaded.state.threads;
        std::erase_if(threads, [&](const Thread& t) { return t.threadID == threadID; });
        std::string current = mostRecentlyUpdatedThreadID(threads).value_or("");
        save(loaded);
        return makeStateResponse(loaded.state, current);
    });
}

void ConversationStore::updateTitle(const std::string& threadID, const std::string& title) {
    queue_.sync([&] {
        Loaded loaded = loadConversationState();
        Thread* thread = findThread(loaded.state.threads, threadID);
        if (!thread) return;
        std::string trimmed = text::trimmingWhitespaceAndNewlines(title);
        if (trimmed.empty()) return;
        thread->title = trimmed;
        thread->updatedAt = now();
        save(loaded);
    });
}

ConversationStateResponse ConversationStore::clearThread(const std::optional<std::string>& threadID) {
    return queue_.sync([&] {
        Loaded loaded = loadConversationState();
        auto& threads = loaded.state.threads;
        std::string resolved = resolveThreadID(threads, threadID);
        if (Thread* thread = targetThread(threads, threadID, resolved)) {
            auto position = thread - threads.data() + 1;
            thread->entries.clear();
            thread->latestCapture.reset();
            thread->pendingCaptures = std::vector<CaptureMetadata>{};
            thread->title = "Chat " + std::to_string(position);
            thread->updatedAt = now();
        }
        save(loaded);
        return makeStateResponse(loaded.state, resolved);
    });
}

std::vector<ConversationEntry> ConversationStore::recentEntries(const std::optional<std::string>& threadID,
                                                                int limit) {
    return queue_.sync([&] {
        Loaded loaded = loadConversationState();
        auto& threads = loaded.state.threads;
        Thread* thread = targetThread(threads, threadID, resolveThreadID(threads, threadID));
        save(loaded);
        std::vector<ConversationEntry> entries;
        if (!thread || limit <= 0) return entries;
        size_t keep = std::min(thread->entries.size(), static_cast<size_t>(limit));
        entries.assign(thread->entries.end() - static_cast<std::ptrdiff_t>(keep), thread->entries.end());
        return entries;
    });
}

void ConversationStore::append(ConversationRole role, const std::string& content,
                               const std::optional<std::string>& threadID) {
    queue_.sync([&] {
        Loaded loaded = loadConversationState();
        auto& threads = loaded.state.threads;
        Thread* thread = targetThread(threads, threadID, resolveThreadID(threads, threadID));
        std::string stamp = now();
        if (thread) {
            ConversationEntry entry;
            entry.timestamp = stamp;
            entry.role = role;
            entry.content = content;
            thread->entries.push_back(std::move(entry));
            thread->updatedAt = stamp;
            if (role == ConversationRole::user && thread->entries.size() == 1)
                if (auto title = automaticTitle(content)) thread->title = *title;
        }
        save(loaded);
    });
}

void ConversationStore::appendToolCall(const ToolCallInfo& call, std::int64_t userEntryIndex,
                                       const std::optional<std::string>& threadID) {
    queue_.sync([&] {
        Loaded loaded = loadConversationState();
        auto& threads = loaded.state.threads;
        Thread* thread = targetThread(threads, threadID, resolveThreadID(threads, threadID));
        std::string stamp = now();
        if (thread) {
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
            thread->entries.push_back(std::move(entry));
            thread->updatedAt = stamp;
        }
        save(loaded);
    });
}

void ConversationStore::updateLatestCapture(const std::optional<CaptureMetadata>& capture,
                                            const std::optional<std::string>& threadID) {
    queue_.sync([&] {
        Loaded loaded = loadConversationState();
        auto& threads = loaded.state.threads;
        if (Thread* thread = targetThread(threads, threadID, resolveThreadID(threads, threadID))) {
            thread->latestCapture = capture;
            thread->updatedAt = now();
        }
        save(loaded);
    });
}

void ConversationStore::appendPendingCapture(const CaptureMetadata& capture,
                                             const std::optional<std::string>& threadID) {
    queue_.sync([&] {
        Loaded loaded = loadConversationState();
        auto& threads = loaded.state.threads;
        if (Thread* thread = targetThread(threads, threadID, resolveThreadID(threads, threadID))) {
            if (!thread->pendingCaptures) thread->pendingCaptures.emplace();
            thread->pendingCaptures->push_back(capture);
            thread->updatedAt = now();
        }
        save(loaded);
    });
}

std::vector<CaptureMetadata> ConversationStore::pendingCaptures(const std::optional<std::string>& threadID) {
    return queue_.sync([&] {
        Loaded loaded = loadConversationState();
        auto& threads = loaded.state.threads;
        Thread* thread = targetThread(threads, threadID, resolveThreadID(threads, threadID));
        save(loaded);
        if (!thread || !thread->pendingCaptures) return std::vector<CaptureMetadata>{};
        return *thread->pendingCaptures;
    });
}

void ConversationStore::clearPendingCaptures(const std::optional<std::string>& threadID) {
    queue_.sync([&] {
        Loaded loaded = loadConversationState();
        auto& threads = loaded.state.threads;
        if (Thread* thread = targetThread(threads, threadID, resolveThreadID(threads, threadID))) {
            thread->pendingCaptures = std::vector<CaptureMetadata>{};
            thread->updatedAt = now();
        }
        save(loaded);
    });
}

ConversationStateResponse ConversationStore::updateSongBrief(const std::optional<std::string>& songBrief,
                                                             const std::optional<std::string>& threadID) {
    return queue_.sync([&] {
        Loaded loaded = loadConversationState();
        auto& threads = loaded.state.threads;
        std::string resolved = resolveThreadID(threads, threadID);
        if (Thread* thread = targetThread(threads, threadID, resolved)) {
            std::optional<std::string> brief;
            if (songBrief) {
                std::string trimmed = text::trimmingWhitespaceAndNewlines(*songBrief);
                if (!trimmed.empty()) brief = std::move(trimmed);
            }
            thread->songBrief = std::move(brief);
            thread->updatedAt = now();
        }
        save(loaded);
        return makeStateResponse(loaded.state, resolved);
    });
}

std::optional<std::string> ConversationStore::songBrief(const std::optional<std::string>& threadID) {
    return queue_.sync([&] {
        Loaded loaded = loadConversationState();
        auto& threads = loaded.state.threads;
        Thread* thread = targetThread(threads, threadID, resolveThreadID(threads, threadID));
        save(loaded);
        return thread ? thread->songBrief : std::nullopt;
    });
}

}  // namespace corvane
