#include <fcntl.h>
#include <sys/file.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <functional>
#include <future>
#include <limits>
#include <thread>

#include "conversation/conversation_store.h"
#include "conversation/memory_store.h"
#include "conversation/project_data_store.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "support/files.h"
#include "support/iso8601.h"
#include "support/user_defaults.h"
#include "test_support/hang_guard.h"
#include "test_support/store_fixture.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class ConversationStoreFileTest : public ::testing::Test, public testing::StoreFixture {
protected:
    ConversationStoreFileTest() : StoreFixture("conversation.json") {}
};

class ConversationStoreTest : public ConversationStoreFileTest {
protected:
    ConversationStore store;

    json onDisk() const { return json::parse(testing::readAll(file())); }
    std::string stamp() { return ISO8601::corvaneDefault(clock.now()); }
    void tick() { clock.sleep(std::chrono::milliseconds(1)); }

    std::string newThread(const std::optional<std::string>& project = std::nullopt) {
        tick();
        return store.createThread(project).currentThreadID;
    }

    static CaptureMetadata capture(const std::string& path) {
        CaptureMetadata c;
        c.timestamp = "2026-12-06T15:00:00.000Z";
        c.mode = CaptureMode::logicWindow;
        c.filePath = path;
        c.logicContext.logicIsRunning = true;
        return c;
    }

    static ToolCallInfo listenCall(std::optional<std::string> summary, std::optional<bool> succeeded) {
        ToolCallInfo call;
        call.id = "call_1";
        call.toolName = "listen_to_playback";
        call.displayName = "Listen to Playback";
        call.arguments = R"({"track_name":"Vocals"})";
        call.roundIndex = 2;
        call.status = ToolCallStatus::completed;
        call.summary = std::move(summary);
        call.succeeded = succeeded;
        call.resultJSON = R"({"status":"ok","tracks":[]})";
        return call;
    }
};

TEST_F(ConversationStoreTest, FreshInstallationAnswersAnEmptyStateAndWritesAnEmptyThreadList) {
    auto state = store.conversationState();
    EXPECT_EQ(json(state), json(ConversationStateResponse{}));
    EXPECT_EQ(onDisk(), json::parse(R"({"threads":[]})"));
}

TEST_F(ConversationStoreTest, ChatHistoryIsReadableByItsOwnerOnly) {
    store.createThread(std::nullopt);
    struct stat st {};
    ASSERT_EQ(::stat(file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ConversationStoreTest, NewThreadsAreNumberedPerProjectAndListedNewestFirst) {
    auto first = store.createThread(std::string("Song A"));
    tick();
    auto second = store.createThread(std::string("Song A"));
    tick();
    auto other = store.createThread(std::nullopt);

    EXPECT_EQ(first.currentThreadTitle, "Chat 1");
    EXPECT_EQ(second.currentThreadTitle, "Chat 2");
    EXPECT_EQ(other.currentThreadTitle, "Chat 1");
    EXPECT_EQ(other.currentThreadID.size(), 36u);
    ASSERT_EQ(other.threads.size(), 3u);
    EXPECT_EQ(other.threads[0].threadID, other.currentThreadID);
    EXPECT_EQ(other.threads[2].threadID, first.currentThreadID);

    json threads = onDisk()["threads"];
    EXPECT_EQ(threads[0]["threadID"], other.currentThreadID);
    EXPECT_FALSE(threads[0].contains("projectName"));
    EXPECT_EQ(threads[2]["projectName"], "Song A");
    EXPECT_EQ(threads[0]["pendingCaptures"], json::array());
}

TEST_F(ConversationStoreTest, NumberCountsThreadsPresentSoItMayRepeatAfterADeletion) {
    std::string one = newThread("Song");
    newThread("Song");
    newThread("Song");
    store.deleteThread(one);
    tick();
    EXPECT_EQ(store.createThread(std::string("Song")).currentThreadTitle, "Chat 3");
}

TEST_F(ConversationStoreTest, ThreadsSurviveARestartOfTheStore) {
    std::string id = newThread("Song");
    store.append(ConversationRole::user, "Make the vocals brighter", id);
    store.appendToolCall(listenCall("Listened 8 s", true), 0, id);
    store.append(ConversationRole::assistant, "Done.", id);
    store.updateSongBrief(std::string("Indie rock"), id);
    store.appendPendingCapture(capture("/c/1.png"), id);

    ConversationStore restarted;
    auto state = restarted.conversationState(id);
    EXPECT_EQ(state.currentThreadTitle, "Make the vocals brighter");
    ASSERT_EQ(state.entries.size(), 3u);
    EXPECT_EQ(state.entries[1].toolName, "listen_to_playback");
    EXPECT_EQ(state.entries[2].content, "Done.");
    EXPECT_EQ(state.songBrief, "Indie rock");
    EXPECT_EQ(state.pendingCaptureCount, 1);
    EXPECT_EQ(restarted.pendingCaptures(id), std::vector<CaptureMetadata>{capture("/c/1.png")});
}

TEST_F(ConversationStoreTest, FirstUserMessageTitlesTheThread) {
    const std::string thirtySix(36, 'a');
    const std::string thumbs = "\U0001F44D\U0001F3FD";  // one character, two code points
    std::string thirtySevenThumbs;
    for (int i = 0; i < 37; ++i) thirtySevenThumbs += thumbs;
    std::string thirtySixThumbs = thirtySevenThumbs.substr(0, 36 * thumbs.size());
    struct Case {
        std::string message;
        std::string title;
    };
    const Case cases[] = {
        {"  brighter\nvocals  ", "brighter vocals"},  {thirtySix, thirtySix}, {thirtySix + "b", thirtySix + "..."},
        {thirtySevenThumbs, thirtySixThumbs + "..."}, {" \n\t ", "Chat 1"},
    };
    for (const auto& c : cases) {
        std::string id = newThread("Project " + c.message);
        store.append(ConversationRole::user, c.message, id);
        auto state = store.conversationState(id);
        EXPECT_EQ(state.currentThreadTitle, c.title) << c.message;
        EXPECT_EQ(state.entries.at(0).content, c.message);
    }
}

TEST_F(ConversationStoreTest, OnlyAFirstEntryFromTheUserTitlesTheThread) {
    std::string id = newThread();
    store.append(ConversationRole::user, "first", id);
    store.append(ConversationRole::user, "second", id);
    EXPECT_EQ(store.conversationState(id).currentThreadTitle, "first");

    std::string other = newThread("P");
    store.append(ConversationRole::assistant, "hello", other);
    store.append(ConversationRole::user, "question", other);
    EXPECT_EQ(store.conversationState(other).currentThreadTitle, "Chat 1");
}

// A thread deleted while a turn or a window still holds its ID: what arrives for it later
// must not land in (or clear, or read from) whichever thread was updated last.
TEST_F(ConversationStoreTest, UnknownThreadIdNeverChangesAnotherThread) {
    newThread();
    std::string recent = newThread();
    store.append(ConversationRole::user, "keep me", recent);
    store.updateSongBrief(std::string("keep brief"), recent);
    store.appendPendingCapture(capture("/c/keep.png"), recent);
    store.updateLatestCapture(capture("/c/latest.png"), recent);
    std::string gone = newThread();
    store.deleteThread(gone);
    const json before = onDisk();

    tick();
    // Refused, and said so: a turn's entries or a dropped image are not taken for kept.
    EXPECT_FALSE(store.append(ConversationRole::user, "late", gone));
    EXPECT_EQ(store.lastFailure(), "the chat no longer exists");
    EXPECT_FALSE(store.appendToolCall(listenCall("late", true), 0, gone));
    EXPECT_FALSE(store.appendPendingCapture(capture("/c/late.png"), gone));
    EXPECT_FALSE(store.updateLatestCapture(std::nullopt, gone));
    EXPECT_FALSE(store.clearPendingCaptures(gone));
    EXPECT_FALSE(store.updateTitle(gone, "late title"));
    auto cleared = store.clearThread(gone);
    auto briefed = store.updateSongBrief(std::string("late brief"), gone);
    EXPECT_EQ(onDisk(), before);
    for (const auto& refused : {cleared, briefed}) {  // never "Cleared." for a chat another copy deleted
        EXPECT_FALSE(refused.ok);
        EXPECT_EQ(refused.error, "the chat no longer exists");
    }

    // Reads of the gone thread find nothing rather than another thread's contents.
    EXPECT_TRUE(store.recentEntries(gone, 40).empty());
    EXPECT_TRUE(store.pendingCaptures(gone).empty());
    EXPECT_FALSE(store.songBrief(gone));
    // State answers show the thread the window lands on instead, unchanged.
    EXPECT_EQ(cleared.currentThreadID, recent);
    EXPECT_EQ(cleared.entries.size(), 1u);
    EXPECT_EQ(briefed.songBrief, "keep brief");
    EXPECT_EQ(store.conversationState(gone).currentThreadID, recent);
}

TEST_F(ConversationStoreTest, AbsentThreadIdLandsOnTheMostRecentlyUpdatedThread) {
    std::string a = newThread();
    std::string b = newThread();
    tick();
    store.append(ConversationRole::user, "to a", a);  // a is now the most recent
    store.append(ConversationRole::assistant, "reply");
    EXPECT_EQ(store.recentEntries(a, 10).size(), 2u);
    EXPECT_TRUE(store.recentEntries(b, 10).empty());
    EXPECT_EQ(store.conversationState().currentThreadID, a);
}

TEST_F(ConversationStoreTest, EqualUpdateTimesResolveToTheThreadEarlierInTheFile) {
    auto first = store.createThread(std::nullopt);
    auto second = store.createThread(std::nullopt);  // same millisecond, stored in front
    auto state = store.conversationState();
    EXPECT_EQ(state.currentThreadID, second.currentThreadID);
    EXPECT_EQ(state.threads.at(0).threadID, second.currentThreadID);
    EXPECT_EQ(state.threads.at(1).threadID, first.currentThreadID);
}

TEST_F(ConversationStoreTest, WithoutThreadsEntriesAreDroppedAndTheFileStaysEmpty) {
    store.append(ConversationRole::user, "nowhere");
    store.appendPendingCapture(capture("/c/x.png"));
    EXPECT_EQ(onDisk(), json::parse(R"({"threads":[]})"));
    EXPECT_EQ(store.clearThread(std::nullopt).currentThreadID, "");
}

TEST_F(ConversationStoreTest, ClearingRenumbersByStoredPositionAndKeepsBriefAndProject) {
    std::string third = newThread("Song");
    newThread("Song");
    newThread("Song");
    store.append(ConversationRole::user, "hello", third);
    store.updateLatestCapture(capture("/c/l.png"), third);
    store.appendPendingCapture(capture("/c/p.png"), third);
    store.updateSongBrief(std::string("ballad"), third);
    tick();

    auto state = store.clearThread(third);
    EXPECT_EQ(state.currentThreadTitle, "Chat 3");
    EXPECT_TRUE(state.entries.empty());
    EXPECT_EQ(state.pendingCaptureCount, 0);
    EXPECT_EQ(state.songBrief, "ballad");
    EXPECT_EQ(state.threads.at(0).threadID, third);  // updated now, so listed first
    json stored = onDisk()["threads"][2];
    EXPECT_EQ(stored["threadID"], third);
    EXPECT_FALSE(stored.contains("latestCapture"));
    EXPECT_EQ(stored["pendingCaptures"], json::array());
    EXPECT_EQ(stored["projectName"], "Song");
    EXPECT_EQ(stored["updatedAt"], stamp());
}

TEST_F(ConversationStoreTest, PreviewIsTheLastUserOrAssistantTextOnOneLineCutTo120Characters) {
    std::string id = newThread();
    std::string text = std::string(50, 'x') + "\n" + std::string(79, 'y');  // 130 characters
    store.append(ConversationRole::user, text, id);
    store.appendToolCall(listenCall("listened", true), 0, id);
    store.append(ConversationRole::update, "working", id);
    std::string toolsOnly = newThread("P");
    store.append(ConversationRole::tool, "note", toolsOnly);

    auto state = store.conversationState(id);
    ASSERT_EQ(state.threads.size(), 2u);
    EXPECT_EQ(state.threads[1].lastMessagePreview, std::string(50, 'x') + " " + std::string(69, 'y'));
    EXPECT_EQ(state.threads[1].messageCount, 3);
    EXPECT_FALSE(json(state.threads[0]).contains("lastMessagePreview"));
}

TEST_F(ConversationStoreTest, IgnoredRenameLeavesTheFileBytesAsTheyWere) {
    std::string id = newThread();
    const std::string before = testing::readAll(file());
    tick();
    store.updateTitle(id, " \n ");
    store.updateTitle("E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "Other");
    EXPECT_EQ(testing::readAll(file()), before);

    store.updateTitle(id, "  Drum bus  ");
    json thread = onDisk()["threads"][0];
    EXPECT_EQ(thread["title"], "Drum bus");
    EXPECT_EQ(thread["updatedAt"], stamp());
}

TEST_F(ConversationStoreTest, SongBriefIsStoredTrimmedAndABlankOneRemovesIt) {
    std::string id = newThread();
    EXPECT_EQ(store.updateSongBrief(std::string("  dream pop, 92 bpm \n"), id).songBrief, "dream pop, 92 bpm");
    EXPECT_EQ(store.songBrief(id), "dream pop, 92 bpm");
    for (const auto& blank : {std::optional<std::string>("   "), std::optional<std::string>()}) {
        store.updateSongBrief(std::string("x"), id);
        auto state = store.updateSongBrief(blank, id);
        EXPECT_FALSE(json(state).contains("songBrief"));
        EXPECT_FALSE(onDisk()["threads"][0].contains("songBrief"));
    }
}

TEST_F(ConversationStoreTest, RecentEntriesKeepsTheLastOnesInStoredOrder) {
    std::string id = newThread();
    for (int i = 1; i <= 50; ++i) store.append(ConversationRole::assistant, std::to_string(i), id);
    struct Case {
        int limit;
        size_t count;
        const char* first;
    };
    for (const auto& c : {Case{40, 40, "11"}, Case{50, 50, "1"}, Case{80, 50, "1"}, Case{0, 0, ""}, Case{-1, 0, ""}}) {
        auto entries = store.recentEntries(id, c.limit);
        ASSERT_EQ(entries.size(), c.count) << c.limit;
        if (c.count) {
            EXPECT_EQ(entries.front().content, c.first) << c.limit;
            EXPECT_EQ(entries.back().content, "50") << c.limit;
        }
    }
}

TEST_F(ConversationStoreTest, ToolCallEntryKeepsTheCallAndLeavesOutWhatItLacks) {
    std::string id = newThread();
    store.appendToolCall(listenCall(std::nullopt, std::nullopt), 4, id);
    store.appendToolCall(listenCall("Listened", false), 4, id);
    json entries = onDisk()["threads"][0]["entries"];
    json expected = json::parse(R"({"arguments":"{\"track_name\":\"Vocals\"}","content":"",)"
                                R"("resultJSON":"{\"status\":\"ok\",\"tracks\":[]}","role":"toolCall","roundIndex":2,)"
                                R"("toolCallID":"call_1","toolName":"listen_to_playback","userEntryIndex":4})");
    expected["timestamp"] = stamp();
    EXPECT_EQ(entries[0], expected);
    EXPECT_EQ(entries[1]["content"], "Listened");
    EXPECT_EQ(entries[1]["summary"], "Listened");
    EXPECT_EQ(entries[1]["succeeded"], false);
}

TEST_F(ConversationStoreTest, QueuedCapturesAreKeptInOrderUntilCleared) {
    std::string id = newThread();
    store.appendPendingCapture(capture("/c/1.png"), id);
    store.appendPendingCapture(capture("/c/2.png"), id);
    EXPECT_EQ(store.pendingCaptures(id), (std::vector<CaptureMetadata>{capture("/c/1.png"), capture("/c/2.png")}));
    store.clearPendingCaptures(id);
    EXPECT_TRUE(store.pendingCaptures(id).empty());
    store.updateLatestCapture(capture("/c/3.png"), id);
    EXPECT_EQ(onDisk()["threads"][0]["latestCapture"], json(capture("/c/3.png")));
}

TEST_F(ConversationStoreTest, ConcurrentCallersNeverLoseAnotherCallersEntry) {
    std::string id = newThread();
    {
        std::vector<std::jthread> callers;
        for (int t = 0; t < 4; ++t)
            callers.emplace_back([&, t] {
                for (int i = 0; i < 20; ++i)
                    store.append(ConversationRole::user, std::to_string(t) + "-" + std::to_string(i), id);
            });
    }
    EXPECT_EQ(store.recentEntries(id, 1000).size(), 80u);
}

TEST_F(ConversationStoreTest, DeletingTheLastThreadLeavesNoCurrentThread) {
    std::string id = newThread();
    auto state = store.deleteThread(id);
    EXPECT_EQ(state.currentThreadID, "");
    EXPECT_TRUE(state.threads.empty());
    EXPECT_EQ(store.deleteThread("no-such-thread").currentThreadID, "");
    EXPECT_EQ(onDisk(), json::parse(R"({"threads":[]})"));
}

// Whatever the store writes, a later run reads back: no value it accepts may make the file
// undecodable (and so cost every thread), and the running store answers as that later run will.
TEST_F(ConversationStoreTest, HostileValuesReadBackInALaterRun) {
    const std::string bad = "bad \xFF\xC3";
    CaptureMetadata hostile = capture("/c/" + bad);
    hostile.logicContext.processIdentifier = INT32_MIN;
    hostile.logicContext.appName = bad;
    hostile.logicContext.windows = {{bad, {NAN, INFINITY, -INFINITY, 1e308}, true}};
    ToolCallInfo call = listenCall(bad, false);
    call.arguments = bad;
    call.roundIndex = INT64_MAX;
    std::string id = newThread(bad);
    store.updateTitle(id, bad);
    store.append(ConversationRole::user, bad, id);
    store.appendToolCall(call, INT64_MIN, id);
    store.updateLatestCapture(hostile, id);
    store.appendPendingCapture(hostile, id);
    store.updateSongBrief(bad, id);

    platform::LogCapture logs;
    ConversationStore later;
    auto state = later.conversationState(id);
    EXPECT_TRUE(logs.lines().empty()) << logs.lines().front();
    ASSERT_EQ(state.threads.size(), 1u);
    EXPECT_EQ(state, store.conversationState(id));
    EXPECT_EQ(state.songBrief, "bad \uFFFD\uFFFD");
    ASSERT_EQ(state.entries.size(), 2u);
    EXPECT_EQ(state.entries[1].roundIndex, INT64_MAX);
    EXPECT_EQ(state.entries[1].userEntryIndex, INT64_MIN);
    auto pending = later.pendingCaptures(id);
    EXPECT_EQ(pending, store.pendingCaptures(id));
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].logicContext.windows.at(0).frame, (RectDTO{0, 0, 0, 1e308}));
    EXPECT_EQ(pending[0].logicContext.processIdentifier, INT32_MIN);
    EXPECT_EQ(onDisk()["threads"][0]["latestCapture"], onDisk()["threads"][0]["pendingCaptures"][0]);
}

// The store keeps the threads in memory; another writer's change must still be seen, and a read
// never writes (it would put its own version back over a newer one another copy may write next).
TEST_F(ConversationStoreTest, ChangesMadeOnDiskByAnotherWriterAreSeen) {
    std::string id = newThread();
    store.append(ConversationRole::user, "mine", id);
    {
        ConversationStore other;
        other.append(ConversationRole::assistant, "theirs", id);
    }
    const auto written = fileStamp(file());
    auto entries = store.recentEntries(id, 12);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].content, "theirs");
    EXPECT_EQ(store.conversationState(id).entries.size(), 2u);
    EXPECT_EQ(fileStamp(file()), written) << "a read wrote the file";

    // A replacement of the same size, written within the same clock tick, is seen too.
    const json before = onDisk();
    std::string text = testing::readAll(file());
    text.replace(text.find("theirs"), 6, "THEIRS");
    const struct stat old = [&] {
        struct stat st {};
        ::stat(file().c_str(), &st);
        return st;
    }();
    // Until the file system gives the replacement the inode of the version the store read, as
    // it often does with an inode just freed.
    for (int round = 0; round < 50; ++round) {
        const auto next = file().string() + ".next";
        testing::writeAll(next, text);
        const timespec times[2] = {old.st_atim, old.st_mtim};
        ::utimensat(AT_FDCWD, next.c_str(), times, 0);
        fs::rename(next, file());
        if (fileStamp(file())->inode == old.st_ino) break;
    }
    ASSERT_NE(before, onDisk());
    EXPECT_EQ(store.recentEntries(id, 12).at(1).content, "THEIRS");

    fs::remove(file());
    EXPECT_TRUE(store.conversationState().threads.empty());
}

std::optional<size_t> storedEntryCount(const fs::path& file) {
    FileRead read = readFile(file);
    if (!read.ok()) return std::nullopt;
    try {
        auto state = json::parse(read.bytes).get<StoredConversationState>();
        return state.threads.empty() ? 0 : state.threads[0].entries.size();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

TEST_F(ConversationStoreFileTest, StoresRemoveOnlyTheirOwnLeftoverTemporaryFilesAtStart) {
    const fs::path folder = home.appFolder();
    fs::create_directories(folder);
    const std::vector<std::string> leftovers = {
        ".conversation.json.tmp-0123456789ab", ".memories.json.tmp-ffffffffffff", ".project-data.json.tmp-a1b2c3d4e5f6",
        ".user-defaults.json.tmp-0a0b0c0d0e0f"};
    const std::vector<std::string> others = {
        ".conversation.json.tmp-notes",       ".conversation.json.tmp-0123456789abc",
        "conversation.json.tmp-0123456789ab", ".conversation.json.tmp-0123456789AB",
        ".other.json.tmp-0123456789ab",       "conversation.json"};
    for (const auto& name : leftovers) testing::writeAll(folder / name, "{\"partial");
    for (const auto& name : others) testing::writeAll(folder / name, "{}");
    fs::create_directory(folder / ".conversation.json.tmp-aaaaaaaaaaaa");
    fs::create_symlink(folder / "conversation.json", folder / ".conversation.json.tmp-bbbbbbbbbbbb");

    ConversationStore conversations;
    MemoryStore memories;
    ProjectDataStore projects;
    JSONFileUserDefaults defaults;

    for (const auto& name : leftovers) EXPECT_FALSE(fs::exists(folder / name)) << name;
    for (const auto& name : others) EXPECT_TRUE(fs::exists(folder / name)) << name;
    EXPECT_TRUE(fs::is_directory(folder / ".conversation.json.tmp-aaaaaaaaaaaa"));
    EXPECT_TRUE(fs::is_symlink(folder / ".conversation.json.tmp-bbbbbbbbbbbb"));
}

TEST_F(ConversationStoreFileTest, LegacyConversationBecomesOneThreadTitledChat1) {
    prepare(R"({"entries":[{"timestamp":"2025-01-01T10:00:00.000Z","role":"user","content":"hi"},)"
            R"({"timestamp":"2025-01-01T10:00:05.500Z","role":"assistant","content":"hello"}],)"
            R"("songBrief":"lo-fi","somethingOld":true})");
    platform::LogCapture logs;
    ConversationStore store;
    auto state = store.conversationState();

    auto lines = logs.lines();
    ASSERT_EQ(lines.size(), 2u);
    const std::string decodeFailed = "[ConversationStore] new-format decode failed: ";
    EXPECT_EQ(lines[0].rfind(decodeFailed, 0), 0u);
    EXPECT_GT(lines[0].size(), decodeFailed.size());
    EXPECT_EQ(lines[1], "[ConversationStore] migrating legacy conversation.json format");

    EXPECT_EQ(state.currentThreadTitle, "Chat 1");
    EXPECT_EQ(state.entries.size(), 2u);
    EXPECT_EQ(state.songBrief, "lo-fi");
    ASSERT_EQ(state.threads.size(), 1u);
    EXPECT_EQ(state.threads[0].updatedAt, "2025-01-01T10:00:05.500Z");

    json stored = json::parse(testing::readAll(file()));
    EXPECT_FALSE(stored.contains("entries"));
    json thread = stored["threads"][0];
    EXPECT_EQ(thread["threadID"], state.currentThreadID);
    EXPECT_EQ(thread["createdAt"], "2026-12-06T15:24:00.000Z");
    EXPECT_EQ(thread["pendingCaptures"], json::array());
    EXPECT_FALSE(thread.contains("projectName"));

    // Rewritten in the current form: the next load neither migrates again nor changes the ID.
    EXPECT_EQ(store.conversationState().currentThreadID, state.currentThreadID);
    EXPECT_EQ(logs.lines().size(), 2u);
}

TEST_F(ConversationStoreFileTest, UndecodableFileIsArchivedAndTheStoreStartsEmpty) {
    const std::string documents[] = {
        "{not json",
        "{}",
        R"({"threads":[{"threadID":"A","title":"Chat 1","createdAt":"x","updatedAt":"x",)"
        R"("entries":[{"timestamp":"x","role":"User","content":"hi"}]}]})",
        "{\"threads\":[\"\xff\"]}",
    };
    for (const auto& bytes : documents) {
        clock.sleep(std::chrono::seconds(1));  // one backup per second
        const std::string stamp = backupStamp();
        prepare(bytes);
        platform::LogCapture logs;
        ConversationStore store;
        auto state = store.createThread(std::nullopt);

        EXPECT_EQ(testing::readAll(backup(stamp)), bytes);
        EXPECT_TRUE(logs.contains("[ConversationStore] new-format decode failed: "));
        EXPECT_TRUE(logs.contains("[ConversationStore] legacy-format decode also failed; archiving corrupt file"));
        EXPECT_TRUE(logs.contains("[ConversationStore] Preserved corrupt file: " + backup(stamp).string()));
        ASSERT_EQ(state.threads.size(), 1u) << bytes;
        EXPECT_EQ(state.currentThreadTitle, "Chat 1");
        EXPECT_EQ(storedEntryCount(file()), 0u) << "the file holds the operation's result";
    }
}

// Two corrupt versions within one second each get a backup of their own, so neither is lost.
TEST_F(ConversationStoreFileTest, EachCorruptVersionGetsItsOwnBackupEvenWithinOneSecond) {
    prepare("{broken twice");
    testing::writeAll(backup("2026-12-06T15-24-00Z"), "{broken once");
    platform::LogCapture logs;
    ConversationStore store;

    auto state = store.createThread(std::nullopt);
    EXPECT_TRUE(state.ok);
    EXPECT_EQ(testing::readAll(backup("2026-12-06T15-24-00Z")), "{broken once");
    EXPECT_EQ(testing::readAll(backup("2026-12-06T15-24-00Z-2")), "{broken twice");
    EXPECT_TRUE(
        logs.contains("[ConversationStore] Preserved corrupt file: " + backup("2026-12-06T15-24-00Z-2").string()));
    EXPECT_EQ(storedEntryCount(file()), 0u);
    EXPECT_EQ(store.conversationState().threads.size(), 1u);
}

// A file that could not be read was not found damaged: it stays where it is, unwritten, no chat
// in it counts as gone, and every operation says why, until it can be read again.
TEST_F(ConversationStoreFileTest, UnreadableFileStaysWhereItIsAndEveryOperationSaysWhy) {
    const std::string original = R"({"threads":[{"threadID":"A","title":"Mine","createdAt":"x","updatedAt":"x",)"
                                 R"("entries":[]}]})";
    // A folder in its place.
    {
        prepare(original);
        const fs::path aside = home.root() / "kept.json";
        fs::rename(file(), aside);
        fs::create_directory(file());
        platform::LogCapture logs;
        ConversationStore store;
        const std::string reason = file().string() + " could not be read: Is a directory";
        const auto state = store.conversationState();
        EXPECT_FALSE(state.ok);
        EXPECT_EQ(state.error, file().string() + " could not be read and is not written over: Is a directory");
        EXPECT_FALSE(store.existingThreadState(std::string("A")));
        EXPECT_EQ(store.lastFailure(), reason) << "told as a chat that is gone";
        EXPECT_FALSE(store.createThread(std::nullopt).ok);
        EXPECT_FALSE(store.append(ConversationRole::user, "lost?", std::string("A")));
        EXPECT_EQ(store.lastFailure(), reason);
        EXPECT_FALSE(store.clearExistingThread(std::string("A")));
        EXPECT_EQ(store.lastFailure(), reason);
        EXPECT_EQ(store.clearThread(std::string("A")).error, reason);
        EXPECT_TRUE(fs::is_directory(file())) << "moved aside";
        EXPECT_EQ(std::distance(fs::directory_iterator(file()), fs::directory_iterator()), 0);
        for (const auto& entry : fs::directory_iterator(home.appFolder()))
            EXPECT_EQ(entry.path().filename().string().find(".corrupt-"), std::string::npos) << entry.path();
        fs::remove(file());
        fs::rename(aside, file());
        EXPECT_TRUE(store.conversationState().ok);
        ASSERT_TRUE(store.existingThreadState(std::string("A")));
        EXPECT_TRUE(store.append(ConversationRole::user, "kept", std::string("A")));
    }
    // A file the user may not read, in a folder that can be written or not.
    for (bool folderWritable : {true, false}) {
        SCOPED_TRACE(folderWritable ? "folder writable" : "folder read-only");
        fs::remove_all(home.appFolder());
        prepare(original);
        ::chmod(file().c_str(), 0);
        ::chmod(home.root().c_str(), 0777);
        ::chmod(home.appFolder().c_str(), folderWritable ? 0777 : 0755);

        // An unprivileged user, who cannot read the file.
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::geteuid() == 0 && ::setuid(65534) != 0) ::_exit(10);
            if (::access(file().c_str(), R_OK) == 0) ::_exit(11);
            platform::LogCapture logs;
            ConversationStore store;
            auto created = store.createThread(std::nullopt);
            bool appended = store.append(ConversationRole::user, "lost?");
            auto state = store.conversationState();
            bool reported =
                logs.contains("[ConversationStore] conversation.json could not be read; leaving it untouched");
            bool told = state.error.value_or("").ends_with(": Permission denied");
            ::_exit(!created.ok && !appended && !state.ok && reported && told && store.lastFailure() ? 0 : 12);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        if (WEXITSTATUS(status) == 10 || WEXITSTATUS(status) == 11)
            GTEST_SKIP() << "cannot make a file unreadable here";
        EXPECT_EQ(WEXITSTATUS(status), 0);
        ::chmod(file().c_str(), 0600);
        EXPECT_EQ(testing::readAll(file()), original);
    }
}

// A folder that cannot hold the file: nothing is stored, and every operation says so.
TEST_F(ConversationStoreFileTest, StoreThatCannotWriteSaysSoInEveryAnswer) {
    fs::create_directories(home.root());
    testing::writeAll(home.appFolder(), "a file where the folder should be");
    platform::LogCapture logs;
    ConversationStore store;

    auto created = store.createThread(std::nullopt);
    EXPECT_FALSE(created.ok);
    EXPECT_FALSE(store.append(ConversationRole::user, "hello", created.currentThreadID));
    EXPECT_FALSE(store.updateSongBrief(std::string("brief")).ok);
    EXPECT_FALSE(store.conversationState().ok);
    ASSERT_TRUE(store.lastFailure());
    EXPECT_NE(store.lastFailure()->find("could not be written"), std::string::npos);
    EXPECT_TRUE(logs.contains("[ConversationStore] Could not write " + file().string()));
    EXPECT_TRUE(store.conversationState().threads.empty()) << "an unstored thread is not kept";
}

// The lock file beside conversation.json as another program, or a copy run as root, left it.
enum class LockFile { regular, symlink, folder, fifo, readOnly, otherOwner };

// Runs `check` as an unprivileged user when asked (root opens every file): its answer, or
// absent when no such user can be had here.
std::optional<bool> runAs(bool unprivileged, const std::filesystem::path& root, const std::function<bool()>& check) {
    if (!unprivileged) return check();
    ::chmod(root.c_str(), 0777);
    pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && ::setuid(65534) != 0) ::_exit(10);
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 10) return std::nullopt;
    return WEXITSTATUS(status) == 0;
}

TEST_F(ConversationStoreFileTest, LockFileThatCannotBeOpenedForWritingNeverLetsAWriteGoUnlocked) {
    struct Case {
        LockFile kind;
        bool unprivileged;
        bool locks;  // else every write is refused with the reason
    };
    for (const Case c : {Case{LockFile::symlink, false, false}, Case{LockFile::fifo, false, false},
                         Case{LockFile::otherOwner, true, false}, Case{LockFile::folder, false, true},
                         Case{LockFile::readOnly, true, true}}) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        fs::remove_all(home.root());
        fs::create_directories(home.appFolder());
        ::chmod(home.appFolder().c_str(), 0777);
        const fs::path lock = home.appFolder() / ".conversation.json.lock";
        const fs::path elsewhere = home.root() / "elsewhere";
        testing::writeAll(elsewhere, "not a lock");
        switch (c.kind) {
            case LockFile::symlink: fs::create_symlink(elsewhere, lock); break;
            case LockFile::fifo: ::mkfifo(lock.c_str(), 0600); break;
            case LockFile::folder: fs::create_directory(lock); break;
            case LockFile::otherOwner:  // root's, as a copy run as root leaves it
            case LockFile::readOnly:
            case LockFile::regular:
                testing::writeAll(lock, "");
                ::chmod(lock.c_str(), c.kind == LockFile::otherOwner ? 0600 : 0400);
                if (c.kind == LockFile::readOnly && ::chown(lock.c_str(), 65534, 65534) != 0) GTEST_SKIP();
                break;
        }
        const auto answered = runAs(c.unprivileged, home.root(), [&] {
            // Another copy holds the lock: a lock file that can be read is a lock for both.
            const int other = c.locks ? ::open(lock.c_str(), O_RDONLY | O_CLOEXEC) : -1;
            if (c.locks && ::flock(other, LOCK_EX) != 0) return false;
            ConversationStore store;
            const auto created = store.createThread(std::nullopt);
            const std::string error = created.error.value_or("");
            if (other >= 0) ::close(other);
            const bool told = error.find(c.locks ? std::string(kFolderHeldByAnotherCopy) : ".conversation.json.lock") !=
                              std::string::npos;
            return !created.ok && told && !fs::exists(file());
        });
        if (!answered) GTEST_SKIP() << "no unprivileged user here";
        EXPECT_TRUE(*answered) << "the create went ahead without the lock, or did not say why it was refused";
        EXPECT_EQ(testing::readAll(elsewhere), "not a lock");
    }
}

// A copy stopped while it holds the lock, or a FIFO in the file's place: the window asks on its
// UI thread, so the answer must come.
TEST_F(ConversationStoreFileTest, NeitherAStoppedCopyNorAFifoMakesAReadWaitWithoutEnd) {
    for (const bool fifo : {false, true}) {
        SCOPED_TRACE(fifo ? "fifo" : "lock held");
        fs::remove_all(home.root());
        fs::create_directories(home.appFolder());
        const fs::path lock = home.appFolder() / ".conversation.json.lock";
        int holder = -1;
        if (fifo) {
            ::mkfifo(file().c_str(), 0600);
        } else {
            holder = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            ASSERT_EQ(::flock(holder, LOCK_EX), 0);
        }
        const auto before = clock.now();
        ConversationStore store;
        auto asked = std::async(std::launch::async, [&] { return store.conversationState(); });
        const bool answered = asked.wait_for(testing::kHangGuard) == std::future_status::ready;
        if (holder >= 0 && !answered) ::close(holder), holder = -1;  // lets a wait without end end
        while (fifo && !answered && asked.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
            ::close(::open(file().c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        const auto state = asked.get();
        if (holder >= 0) ::close(holder);
        EXPECT_TRUE(answered) << "the read waited without end";
        if (!answered) continue;
        EXPECT_FALSE(state.ok);
        if (!fifo) {
            EXPECT_NE(state.error.value_or("").find(kFolderHeldByAnotherCopy), std::string::npos) << *state.error;
            EXPECT_GE(clock.now() - before, kLockWait) << "gave up before the bound";
            EXPECT_TRUE(store.createThread(std::nullopt).ok) << "the lock let go: the writes go again";
        } else {
            EXPECT_FALSE(store.createThread(std::nullopt).ok);
            struct stat st {};
            EXPECT_TRUE(::lstat(file().c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) << "the FIFO was written over";
        }
    }
}

// The window lists on its UI thread: a list of a long-used installation's chats costs about what
// a list of a few does until the file changes, and then shows the change.
TEST_F(ConversationStoreFileTest, ListOfAThousandChatsIsNotRebuiltFromAnUnchangedFile) {
    StoredConversationState state;
    for (int n = 0; n < 1000; ++n) {
        auto& thread = state.threads.emplace_back();
        thread.threadID = "T" + std::to_string(n);
        thread.title = "Chat";
        thread.createdAt = thread.updatedAt = "2026-12-06T15:24:00.000Z";
        for (int i = 0; i < 4; ++i) {
            auto& entry = thread.entries.emplace_back();
            entry.timestamp = "x";
            entry.content = std::string(400, 'a');
        }
    }
    prepare(json(state).dump());
    ConversationStore store;
    const auto before = store.conversationState();
    const auto built = store.listsBuilt();
    for (int round = 0; round < 4; ++round) (void)store.conversationState();
    EXPECT_EQ(store.listsBuilt(), built) << "every list builds every chat's summary again";

    clock.sleep(std::chrono::milliseconds(1));
    ConversationStore other;  // another copy's store of the file
    ASSERT_TRUE(other.append(ConversationRole::user, "changed elsewhere", "T500"));
    const auto after = store.conversationState();
    ASSERT_EQ(after.threads.size(), before.threads.size());
    EXPECT_EQ(after.threads.front().threadID, "T500");
    EXPECT_EQ(after.threads.front().lastMessagePreview, "changed elsewhere");
    EXPECT_EQ(store.listsBuilt(), built + 1);
}

TEST(ConversationStore, KillDuringAWriteLeavesTheOldOrTheNewFileNeverATornOne) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer cannot start threads in a child forked from a threaded process";
#endif
    testing::TempHome home;
    const fs::path file = home.appFolder() / "conversation.json";
    {
        // A large file, so that every rewrite takes long enough for the kill to land inside one.
        ConversationStore store;
        store.createThread(std::nullopt);
        auto state = json::parse(testing::readAll(file)).get<StoredConversationState>();
        ConversationEntry entry{.timestamp = "2026-12-06T15:24:00.000Z",
                                .role = ConversationRole::assistant,
                                .content = std::string(300, 'a'),
                                .toolCallID = {},
                                .toolName = {},
                                .arguments = {},
                                .roundIndex = {},
                                .succeeded = {},
                                .summary = {},
                                .resultJSON = {},
                                .userEntryIndex = {}};
        state.threads[0].entries.assign(3000, entry);
        testing::writeAll(file, json(state).dump(2));
    }

    pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        try {
            ConversationStore store;
            for (;;) store.append(ConversationRole::assistant, std::string(300, 'b'));
        } catch (...) {
        }
        ::_exit(1);
    }

    // Watch the writer: every read must see a whole file, and the kill goes in as soon as a
    // rewrite is seen under way (its temporary file exists beside the store file).
    auto writeUnderWay = [&] {
        for (const auto& item : fs::directory_iterator(home.appFolder()))
            if (item.path().filename().string().rfind(".conversation.json.tmp", 0) == 0) return true;
        return false;
    };
    const size_t initial = storedEntryCount(file).value_or(0);
    bool killedMidWrite = false;
    bool torn = false;
    bool writerDied = false;
    for (int polls = 0; polls < 20000 && !killedMidWrite && !torn && !writerDied; ++polls) {
        writerDied = ::waitpid(writer, nullptr, WNOHANG) == writer;
        killedMidWrite = writeUnderWay() && ::kill(writer, SIGKILL) == 0;
        FileRead read = readFile(file);
        torn = !read.ok() || read.bytes.empty() || read.bytes.back() != '}';
    }
    if (!writerDied) {
        ::kill(writer, SIGKILL);
        ::waitpid(writer, nullptr, 0);
    }

    EXPECT_FALSE(writerDied) << "the writer stopped by itself";
    EXPECT_FALSE(torn) << "a reader saw a partial file";
    EXPECT_TRUE(killedMidWrite) << "no rewrite was seen under way";
    auto final = storedEntryCount(file);
    ASSERT_TRUE(final) << "the file no longer decodes after the kill";
    EXPECT_GE(*final, initial);
}

}  // namespace
}  // namespace corvane
