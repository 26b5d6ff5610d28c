#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "conversation/conversation_store.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "support/files.h"
#include "support/iso8601.h"
#include "test_support/manual_clock.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class ConversationFileTest : public ::testing::Test {
protected:
    testing::TempHome home;
    testing::ManualClock clock{*ISO8601::parse("2026-12-06T15:24:00.000Z")};
    platform::ScopedServices services{{.clock = &clock}};

    fs::path file() const { return home.appFolder() / "conversation.json"; }
    fs::path backup(const char* stamp) const {
        return home.appFolder() / (std::string("conversation.json.corrupt-") + stamp + ".bak");
    }
    void prepare(const std::string& bytes) {
        fs::create_directories(home.appFolder());
        testing::writeAll(file(), bytes);
    }
};

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

TEST_F(ConversationFileTest, LegacyConversationBecomesOneThreadTitledChat1) {
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

TEST_F(ConversationFileTest, UndecodableFileIsArchivedAndTheStoreStartsEmpty) {
    const std::string documents[] = {
        "{not json",
        "{}",
        R"({"threads":[{"threadID":"A","title":"Chat 1","createdAt":"x","updatedAt":"x",)"
        R"("entries":[{"timestamp":"x","role":"User","content":"hi"}]}]})",
        "{\"threads\":[\"\xff\"]}",
    };
    for (const auto& bytes : documents) {
        clock.sleep(std::chrono::seconds(1));  // one backup per second
        const std::string stamp = [&] {
            std::string s = ISO8601::plainString(clock.now());
            std::replace(s.begin(), s.end(), ':', '-');
            return s;
        }();
        prepare(bytes);
        platform::LogCapture logs;
        ConversationStore store;
        auto state = store.createThread(std::nullopt);

        EXPECT_EQ(testing::readAll(backup(stamp.c_str())), bytes);
        EXPECT_TRUE(logs.contains("[ConversationStore] new-format decode failed: "));
        EXPECT_TRUE(logs.contains("[ConversationStore] legacy-format decode also failed; archiving corrupt file"));
        EXPECT_TRUE(logs.contains("[ConversationStore] Preserved corrupt file: " + backup(stamp.c_str()).string()));
        ASSERT_EQ(state.threads.size(), 1u) << bytes;
        EXPECT_EQ(state.currentThreadTitle, "Chat 1");
        EXPECT_EQ(storedEntryCount(file()), 0u) << "the file holds the operation's result";
    }
}

// The backup name has one-second resolution: a second corrupt file within that second finds
// the name taken. Writing over it then would lose it without a copy.
TEST_F(ConversationFileTest, CorruptFileIsNeverOverwrittenWhileNoBackupOfItExists) {
    prepare("{broken twice");
    testing::writeAll(backup("2026-12-06T15-24-00Z"), "{broken once");
    platform::LogCapture logs;
    ConversationStore store;

    auto state = store.createThread(std::nullopt);
    EXPECT_EQ(state.threads.size(), 1u);  // answered from the working copy
    EXPECT_EQ(testing::readAll(file()), "{broken twice");
    EXPECT_EQ(testing::readAll(backup("2026-12-06T15-24-00Z")), "{broken once");
    EXPECT_TRUE(logs.contains("[ConversationStore] Could not preserve corrupt file " + file().string()));

    clock.sleep(std::chrono::seconds(1));
    store.createThread(std::nullopt);
    EXPECT_EQ(testing::readAll(backup("2026-12-06T15-24-01Z")), "{broken twice");
    EXPECT_EQ(storedEntryCount(file()), 0u);
}

TEST_F(ConversationFileTest, UnreadableFileIsNeverOverwritten) {
    const std::string original = R"({"threads":[{"threadID":"A","title":"Mine","createdAt":"x","updatedAt":"x",)"
                                 R"("entries":[]}]})";
    prepare(original);
    ::chmod(file().c_str(), 0);
    // An unprivileged writer that may replace files in the folder but cannot read this one.
    ::chmod(home.root().c_str(), 0777);
    ::chmod(home.appFolder().c_str(), 0777);

    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && ::setuid(65534) != 0) ::_exit(10);
        if (::access(file().c_str(), R_OK) == 0) ::_exit(11);
        platform::LogCapture logs;
        {
            ConversationStore store;
            store.createThread(std::nullopt);
            store.append(ConversationRole::user, "lost?");
            store.conversationState();
        }
        bool reported = logs.contains("[ConversationStore] conversation.json could not be read; leaving it untouched");
        ::_exit(reported ? 0 : 12);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 10 || WEXITSTATUS(status) == 11) GTEST_SKIP() << "cannot make a file unreadable here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the unreadable file was not reported";
    ::chmod(file().c_str(), 0600);
    EXPECT_EQ(testing::readAll(file()), original);
}

TEST(ConversationFileCrash, KillDuringAWriteLeavesTheOldOrTheNewFileNeverATornOne) {
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
        ConversationEntry entry{.timestamp = "2026-12-06T15:24:00.000Z", .role = ConversationRole::assistant,
                                .content = std::string(300, 'a'), .toolCallID = {}, .toolName = {}, .arguments = {},
                                .roundIndex = {}, .succeeded = {}, .summary = {}, .resultJSON = {},
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
