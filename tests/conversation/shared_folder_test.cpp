// Two copies of the program on one application folder, as two real processes (store_writer):
// what either acknowledged is on disk afterwards, whatever the other did meanwhile.

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include <algorithm>
#include <chrono>
#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "conversation/conversation_store.h"
#include "conversation/memory_store.h"
#include "conversation/project_data_store.h"
#include "support/files.h"
#include "support/numbers.h"
#include "support/user_defaults.h"
#include "test_support/child_process.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

// What the copies acknowledged, from their files of acknowledged changes.
struct Acknowledged {
    std::map<std::string, std::vector<std::string>> entries;  // by thread, in the order stored
    std::set<std::string> deletedThreads;
    std::map<std::string, std::string> memories;  // id to note
    std::set<std::string> forgottenMemories;
    std::map<std::string, size_t> projects;  // name to section count
    std::map<std::string, std::string> defaults;
    size_t changes = 0;

    void read(const fs::path& file) {
        std::istringstream lines(testing::readAll(file));
        for (std::string line; std::getline(lines, line); ++changes) {
            std::istringstream words(line);
            std::string kind, a, b;
            words >> kind >> a >> b;
            if (kind == "thread") entries[a];
            if (kind == "entry") entries[a].push_back(b);
            if (kind == "deleted") deletedThreads.insert(a);
            if (kind == "memory") memories[a] = b;
            if (kind == "forgot") forgottenMemories.insert(a);
            if (kind == "project") projects[a] = static_cast<size_t>(readInteger(b).value_or(0));
            if (kind == "default") defaults[a] = b;
        }
    }
};

bool decodes(const fs::path& file) {
    const FileRead read = readFile(file);
    if (read.status == FileRead::Status::missing) return true;
    return read.ok() && !nlohmann::json::parse(read.bytes, nullptr, false).is_discarded();
}

// The lock files as another program, or a copy run as root, may leave them, or a user told that
// another copy holds the folder may delete them (every 2 ms here).
enum class LockFiles { made, symlink, folder, readOnly, otherOwner, deletedMeanwhile };

struct Round {
    size_t acknowledged = 0;
    std::vector<std::string> lost;
    int torn = 0;
    bool exitedCleanly = true;
};

// `copies` store_writer processes on one folder for `milliseconds`: what they acknowledged and
// what of it is not on disk afterwards.
Round writeAtOnce(const testing::TempHome& home, int copies, LockFiles lockFiles, int milliseconds) {
    fs::create_directories(home.appFolder());
    const std::vector<fs::path> files = {home.appFolder() / "conversation.json", home.appFolder() / "memories.json",
                                         home.appFolder() / "project-data.json",
                                         home.appFolder() / "user-defaults.json"};
    const bool unprivileged = lockFiles == LockFiles::readOnly || lockFiles == LockFiles::otherOwner;
    if (unprivileged) {
        ::chmod(home.root().c_str(), 0777);
        ::chmod(home.appFolder().c_str(), 0777);
    }
    for (const auto& file : files) {
        const fs::path lock = home.appFolder() / ("." + file.filename().string() + ".lock");
        switch (lockFiles) {
            case LockFiles::made:
            case LockFiles::deletedMeanwhile: break;
            case LockFiles::symlink: fs::create_symlink(home.root() / "elsewhere", lock); break;
            case LockFiles::folder: fs::create_directory(lock); break;
            case LockFiles::readOnly:
            case LockFiles::otherOwner:
                testing::writeAll(lock, "");
                if (lockFiles == LockFiles::readOnly && ::chown(lock.c_str(), 65534, 65534) != 0) return {};
                ::chmod(lock.c_str(), lockFiles == LockFiles::readOnly ? 0400 : 0600);
                break;
        }
    }

    // Every version a copy puts in place must read whole.
    Round round;
    std::atomic<bool> writing{true};
    std::atomic<int> tornReads{0};
    std::thread reader([&] {
        while (writing)
            for (const auto& file : files)
                if (!decodes(file)) ++tornReads;
    });
    std::thread deleter([&] {
        while (writing && lockFiles == LockFiles::deletedMeanwhile) {
            for (const auto& file : files) fs::remove(home.appFolder() / ("." + file.filename().string() + ".lock"));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the pace of a storm, not a bound
        }
    });
    std::vector<fs::path> acknowledgedFiles;
    {
        std::vector<std::unique_ptr<testing::ChildProcess>> running;
        for (int copy = 0; copy < copies; ++copy) {
            const std::string tag(1, static_cast<char>('a' + copy));
            acknowledgedFiles.push_back(home.root() / ("acknowledged-" + tag));
            std::vector<std::string> argv = {STORE_WRITER, tag, std::to_string(milliseconds),
                                             acknowledgedFiles.back().string()};
            if (unprivileged) argv.push_back("unprivileged");
            running.push_back(std::make_unique<testing::ChildProcess>(argv));
        }
        for (auto& copy : running) round.exitedCleanly = copy->exitStatus() == 0 && round.exitedCleanly;
    }
    writing = false;
    reader.join();
    deleter.join();
    round.torn = tornReads;

    Acknowledged acknowledged;
    for (const auto& file : acknowledgedFiles) acknowledged.read(file);
    round.acknowledged = acknowledged.changes;
    std::vector<std::string>& lost = round.lost;
    const FileRead conversations = readFile(files[0]);
    const auto stored = conversations.ok() ? nlohmann::json::parse(conversations.bytes).get<StoredConversationState>()
                                           : StoredConversationState{};
    std::map<std::string, std::vector<std::string>> storedEntries;
    for (const auto& thread : stored.threads)
        for (const auto& entry : thread.entries) storedEntries[thread.threadID].push_back(entry.content);
    for (const auto& [thread, entries] : acknowledged.entries) {
        const bool deleted = acknowledged.deletedThreads.count(thread) != 0;
        const auto found = std::find_if(stored.threads.begin(), stored.threads.end(),
                                        [&](const StoredConversationThread& t) { return t.threadID == thread; });
        if (deleted != (found == stored.threads.end()))
            lost.push_back((deleted ? "deleted chat back " : "chat ") + thread);
        if (!deleted && storedEntries[thread] != entries) lost.push_back("entries of chat " + thread);
    }
    const auto memories = MemoryStore().all();
    for (const auto& [id, note] : acknowledged.memories) {
        const bool kept = std::any_of(memories.begin(), memories.end(),
                                      [&](const Memory& m) { return m.id == id && m.note == note; });
        if (kept == (acknowledged.forgottenMemories.count(id) != 0)) lost.push_back("memory " + id);
    }
    ProjectDataStore projects;
    for (const auto& [name, sections] : acknowledged.projects) {
        const auto data = projects.load(name);
        if (!data || data->sections.size() != sections) lost.push_back("project " + name);
    }
    JSONFileUserDefaults defaults;
    for (const auto& [key, value] : acknowledged.defaults)
        if (defaults.string(key) != value) lost.push_back("default " + key);
    return round;
}

TEST(SharedApplicationFolder, TwoCopiesWritingAtOnceLoseNoAcknowledgedChangeAndNeverTearAFile) {
    testing::TempHome home;
    const Round round = writeAtOnce(home, 2, LockFiles::made, 2000);
    ASSERT_TRUE(round.exitedCleanly);
    ASSERT_GT(round.acknowledged, 40u) << "the copies hardly wrote: the test shows nothing";
    EXPECT_EQ(round.torn, 0);
    EXPECT_TRUE(round.lost.empty()) << round.lost.size() << " of " << round.acknowledged
                                    << " acknowledged changes lost, the first: " << round.lost.front();
}

// A lock file that cannot be opened for writing: one that can be read still locks; otherwise
// every write is refused, never made unlocked and acknowledged. One deleted while held is no
// lock: the write it guarded is refused, or made under the lock taken again.
TEST(SharedApplicationFolder, CopiesWithALockFileTheyCannotWriteLoseNoAcknowledgedChange) {
    const char* names[] = {"made", "symlink", "folder", "read-only", "another user's", "deleted meanwhile"};
    for (const LockFiles lockFiles : {LockFiles::symlink, LockFiles::folder, LockFiles::readOnly,
                                      LockFiles::otherOwner, LockFiles::deletedMeanwhile})
        for (const int copies : {2, 3}) {
            const std::string row = std::to_string(copies) + " copies, lock files " + names[int(lockFiles)];
            SCOPED_TRACE(row);
            testing::TempHome home;
            const Round round = writeAtOnce(home, copies, lockFiles, 1000);
            std::printf("%s: %zu acknowledged, %zu lost, %d torn reads\n", row.c_str(), round.acknowledged,
                        round.lost.size(), round.torn);
            ASSERT_TRUE(round.exitedCleanly) << "no unprivileged user here?";
            EXPECT_EQ(round.torn, 0);
            EXPECT_TRUE(round.lost.empty()) << round.lost.size() << " of " << round.acknowledged
                                            << " acknowledged changes lost, the first: " << round.lost.front();
        }
}

// Two copies that read the same version of a store, each under a lock file of its own (the
// first copy's was deleted, and put back as it checked it): the first writes, then the second,
// from the version the first replaced, must not write over it. Staged from inside each copy's
// lock on its temporary file, as the second copy has read the file and the first is about to
// check its lock.
struct Staged {
    fs::path file;      // the store file the copies write
    fs::path lockFile;  // its lock file
    std::function<void()> firstWriting;
    std::mutex mutex;
    std::condition_variable moved;
    bool secondRead = false;
    bool firstDone = false;
};
Staged* staged = nullptr;

int stagedFlock(int fd, int operation) {
    std::error_code error;
    const std::string locked = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), error).filename().string();
    if (staged && (operation & LOCK_EX) && locked.starts_with("." + staged->file.filename().string() + ".tmp-")) {
        // Each copy writes on its store's own thread: the first temporary file is the first copy's.
        if (auto writing = std::exchange(staged->firstWriting, nullptr)) {
            writing();
        } else {
            std::unique_lock lock(staged->mutex);
            staged->secondRead = true;
            staged->moved.notify_all();
            staged->moved.wait(lock, [] { return staged->firstDone; });
        }
    }
    return ::flock(fd, operation);
}

TEST(SharedApplicationFolder, OfTwoCopiesHoldingLockFilesOfTheirOwnOnlyOneReplacesTheVersionBothRead) {
    // A change each copy makes, and whether it is on disk afterwards.
    struct Copies {
        fs::path file;
        std::function<bool(int copy)> change;
        std::function<bool(int copy)> kept;
    };
    testing::TempHome home;
    auto memories = std::make_shared<std::array<MemoryStore, 2>>();
    auto chats = std::make_shared<std::array<ConversationStore, 2>>();
    auto defaults = std::make_shared<std::array<JSONFileUserDefaults, 2>>();
    ASSERT_TRUE((*memories)[0].add("master", "kept before").memory);
    const std::string chat = (*chats)[0].createThread().currentThreadID;
    const std::vector<std::pair<const char*, Copies>> rows = {
        {"a memory",
         {home.appFolder() / "memories.json",
          [=](int copy) { return (*memories)[copy].add("master", "note " + std::to_string(copy)).memory.has_value(); },
          [](int copy) {
              const auto all = MemoryStore().all();
              return std::any_of(all.begin(), all.end(),
                                 [&](const Memory& m) { return m.note == "note " + std::to_string(copy); });
          }}},
        {"a chat's entry",
         {home.appFolder() / "conversation.json",
          [=](int copy) {
              return (*chats)[copy].append(ConversationRole::user, "entry " + std::to_string(copy), chat);
          },
          [=](int copy) {
              const auto entries = ConversationStore().conversationState(chat).entries;
              return std::any_of(entries.begin(), entries.end(), [&](const ConversationEntry& e) {
                  return e.content == "entry " + std::to_string(copy);
              });
          }}},
        // Both copies found no file: only one of them creates it.
        {"a default, no file yet",
         {home.appFolder() / "user-defaults.json",
          [=](int copy) {
              (*defaults)[copy].setString("key " + std::to_string(copy), "set");
              return (*defaults)[copy].string("key " + std::to_string(copy)) == "set";
          },
          [](int copy) { return JSONFileUserDefaults().string("key " + std::to_string(copy)) == "set"; }}},
    };
    for (const auto& [name, copies] : rows) {
        SCOPED_TRACE(name);
        Staged stage;
        stage.file = copies.file;
        stage.lockFile = copies.file.parent_path() / ("." + copies.file.filename().string() + ".lock");
        const fs::path firstsLock = home.root() / "first's lock", secondsLock = home.root() / "second's lock";
        std::thread second;
        bool secondAcknowledged = false;
        stage.firstWriting = [&] {
            fs::create_hard_link(stage.lockFile, firstsLock);
            fs::remove(stage.lockFile);
            second = std::thread([&] { secondAcknowledged = copies.change(1); });
            std::unique_lock lock(stage.mutex);
            stage.moved.wait(lock, [&] { return stage.secondRead; });
            fs::create_hard_link(stage.lockFile, secondsLock);
            fs::rename(firstsLock, stage.lockFile);
        };
        staged = &stage;
        setFlockFunctionForTesting(&stagedFlock);
        const bool firstAcknowledged = copies.change(0);
        fs::rename(secondsLock, stage.lockFile);
        {
            const std::lock_guard lock(stage.mutex);
            stage.firstDone = true;
        }
        stage.moved.notify_all();
        if (second.joinable()) second.join();
        setFlockFunctionForTesting(nullptr);
        staged = nullptr;
        ASSERT_TRUE(stage.secondRead) << "the interleaving was not staged";
        EXPECT_TRUE(firstAcknowledged);
        EXPECT_EQ(copies.kept(0), firstAcknowledged) << "the first copy's acknowledged change was lost";
        EXPECT_EQ(copies.kept(1), secondAcknowledged);
    }
}

// Two copies on one chat: a turn's entries never follow a clear by the other copy (the chat would
// hold a reply without its question), a later turn stores again, and only one turn at a time runs
// in a chat.
TEST(SharedApplicationFolder, ATurnStoresNothingAfterAnotherCopyClearedItsChatAndOneTurnRunsPerChat) {
    testing::TempHome home;
    ConversationStore one, other;
    const std::string chat = one.createThread().currentThreadID;
    ToolCallInfo call;
    call.id = "c1";
    call.toolName = "mute_track";

    TurnWriter turn(one, chat);
    ASSERT_TRUE(turn.question("Check the mix balance"));
    ASSERT_TRUE(turn.toolCall(call));
    ASSERT_TRUE(other.clearThread(chat).ok);
    EXPECT_FALSE(turn.toolCall(call));
    EXPECT_EQ(turn.failure(), ConversationStore::kClearedThreadFailure);
    EXPECT_FALSE(turn.entry(ConversationRole::assistant, "I muted Guitar."));
    EXPECT_TRUE(other.conversationState(chat).entries.empty());

    // A question that only looks like the cleared one, at its place, is another turn's.
    TurnWriter next(other, chat);
    ASSERT_TRUE(next.question("Check the mix balance"));
    EXPECT_TRUE(next.entry(ConversationRole::assistant, "Balanced."));
    EXPECT_FALSE(turn.entry(ConversationRole::assistant, "I muted Guitar."));
    std::vector<std::string> stored;
    for (const auto& entry : one.conversationState(chat).entries) stored.push_back(entry.content);
    EXPECT_EQ(stored, (std::vector<std::string>{"Check the mix balance", "Balanced."}));

    {
        const FileLock running = one.lockChatTurn(chat);
        ASSERT_TRUE(running.held());
        const FileLock second = other.lockChatTurn(chat);
        EXPECT_FALSE(second.held());
        EXPECT_EQ(second.refusal(), std::optional<std::string>(std::string(kFolderHeldByAnotherCopy)));
        EXPECT_TRUE(other.lockChatTurn(other.createThread().currentThreadID).held()) << "another chat is free";
    }
    EXPECT_TRUE(other.lockChatTurn(chat).held()) << "free once the turn ended";

    // A deleted chat's lock file goes with it, unless a turn in another copy still holds it.
    std::filesystem::path lockFile;
    {
        const FileLock running = one.lockChatTurn(chat);
        lockFile = running.lockedFile()->lockPath;
        ASSERT_TRUE(other.deleteThread(chat).ok);
        EXPECT_TRUE(std::filesystem::exists(lockFile)) << "removed under a running turn";
    }
    const std::string deleted = one.createThread().currentThreadID;
    const auto deletedLock = one.lockChatTurn(deleted).lockedFile()->lockPath;
    ASSERT_TRUE(other.deleteThread(deleted).ok);
    EXPECT_FALSE(std::filesystem::exists(deletedLock));
}

// Lock files a copy run as root left, met by a user who may not open them (unreadable, another
// user's): a chat's turn lock is refused with the reason a store's lock is refused with.
TEST(SharedApplicationFolder, AChatsTurnLockIsRefusedWhereAStoresLockIsAndForTheSameReason) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to leave root's lock files";
    testing::TempHome home;
    ConversationStore store;
    const std::string chat = store.createThread().currentThreadID;
    fs::path turnLock;
    {
        const FileLock taken = store.lockChatTurn(chat);
        ASSERT_TRUE(taken.lockedFile());
        turnLock = taken.lockedFile()->lockPath;
    }
    const fs::path storeLock = home.appFolder() / ".conversation.json.lock";
    for (const auto& folder : {home.root(), home.appFolder(), turnLock.parent_path()}) ::chmod(folder.c_str(), 0777);
    const auto cause = [](const std::optional<std::string>& refusal) {
        return refusal ? refusal->substr(refusal->rfind(": ") + 2) : std::string("taken");
    };
    for (const unsigned mode : {0000u, 0600u}) {  // unreadable, another user's
        SCOPED_TRACE(mode);
        for (const auto& lock : {storeLock, turnLock}) {
            fs::remove(lock);
            testing::writeAll(lock, "");
            ::chmod(lock.c_str(), mode);
        }
        int answers[2] = {-1, -1};
        ASSERT_EQ(::pipe(answers), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setuid(65534) != 0) ::_exit(10);
            const auto storeAnswer = cause(FileLock::acquire(home.appFolder() / "conversation.json").refusal());
            const auto turnAnswer = cause(store.lockChatTurn(chat).refusal());
            const std::string said = storeAnswer + "\n" + turnAnswer;
            (void)!::write(answers[1], said.data(), said.size());
            ::_exit(0);
        }
        ::close(answers[1]);
        std::string said;
        char buffer[256];
        for (ssize_t n; (n = ::read(answers[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<size_t>(n));
        ::close(answers[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        if (WEXITSTATUS(status) == 10) GTEST_SKIP() << "no unprivileged user here";
        const auto line = said.find('\n');
        ASSERT_NE(line, std::string::npos) << said;
        EXPECT_EQ(said.substr(line + 1), said.substr(0, line));
        EXPECT_EQ(said.substr(0, line), std::generic_category().message(EACCES));
    }
}

}  // namespace
}  // namespace corvane
