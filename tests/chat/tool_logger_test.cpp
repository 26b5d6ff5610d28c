#include "chat/tool_logger.h"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <sys/file.h>

#include <functional>
#include <memory>
#include <set>

#include "test_support/json_helpers.h"

#include <nlohmann/json.hpp>

#include "platform/platform.h"
#include "support/files.h"
#include "support/iso8601.h"
#include "support/unicode.h"
#include "test_support/manual_clock.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::ManualClock;
using testing::TempHome;

ManualClock::TimePoint at(const char* iso) { return *ISO8601::parse(iso); }

ToolCallLog call(const std::string& tool, int round) {
    ToolCallLog c;
    c.timestamp = "2026-12-06T15:23:52Z";
    c.tool = tool;
    c.arguments = "{}";
    c.succeeded = true;
    c.summary = tool + " done";
    c.durationMs = 12;
    c.roundIndex = round;
    return c;
}

json onlyLog(const ToolLogger& logger) {
    auto recent = logger.recentLogPaths(2);
    EXPECT_EQ(recent.size(), 1u);
    return recent.empty() ? json() : json::parse(testing::readAll(recent[0].url));
}

struct ToolLoggerTest : ::testing::Test {
    TempHome home;
    ManualClock clock{at("2026-12-06T15:23:51.700Z")};
    platform::ScopedServices services{{.clock = &clock}};
};

TEST_F(ToolLoggerTest, TurnIsWrittenUnderItsStampWithItsCallsInOrder) {
    ToolLogger logger;
    EXPECT_EQ(logger.logsDir(), home.appFolder() / "tool-logs");
    ToolCallLog listed = call("list_tracks", 0);
    listed.callID = "call_1";
    listed.resultJSON = R"({"status":"ok"})";
    logger.beginTurn("Make the vocals brighter", std::string("THREAD-1"));
    logger.logToolCall(listed);
    logger.logToolCall(call("get_transport", 1));
    logger.endTurn(2, std::string("Done."));
    logger.drain();

    auto recent = logger.recentLogPaths(1);
    ASSERT_EQ(recent.size(), 1u);
    EXPECT_EQ(recent[0].filename, "2026-12-06T15-23-51Z.json");
    EXPECT_EQ(recent[0].url, home.appFolder() / "tool-logs" / "2026-12-06T15-23-51Z.json");
    json expected = {{"turnTimestamp", "2026-12-06T15:23:51Z"},
                     {"threadID", "THREAD-1"},
                     {"userMessage", "Make the vocals brighter"},
                     {"totalRounds", 2},
                     {"agentResponse", "Done."},
                     {"toolCalls",
                      {{{"timestamp", "2026-12-06T15:23:52Z"},
                        {"callID", "call_1"},
                        {"tool", "list_tracks"},
                        {"arguments", "{}"},
                        {"succeeded", true},
                        {"summary", "list_tracks done"},
                        {"resultJSON", R"({"status":"ok"})"},
                        {"durationMs", 12},
                        {"roundIndex", 0}},
                       {{"timestamp", "2026-12-06T15:23:52Z"},
                        {"tool", "get_transport"},
                        {"arguments", "{}"},
                        {"succeeded", true},
                        {"summary", "get_transport done"},
                        {"durationMs", 12},
                        {"roundIndex", 1}}}}};
    json written = json::parse(testing::readAll(recent[0].url));
    EXPECT_EQ(written, expected);
    EXPECT_EQ(written.get<TurnLog>().toolCalls, (std::vector<ToolCallLog>{listed, call("get_transport", 1)}));
}

TEST_F(ToolLoggerTest, AbsentThreadReplyAndCallsLeaveTheirKeysOutInsteadOfNull) {
    ToolLogger logger;
    logger.beginTurn("Hello");
    logger.endTurn(1);
    logger.drain();
    EXPECT_EQ(onlyLog(logger), (json{{"turnTimestamp", "2026-12-06T15:23:51Z"},
                                     {"userMessage", "Hello"},
                                     {"toolCalls", json::array()},
                                     {"totalRounds", 1}}));
}

TEST_F(ToolLoggerTest, ReplyIsCutToItsFirstThousandCharactersNotBytes) {
    ToolLogger logger;
    std::string reply;
    for (int i = 0; i < 1500; ++i) reply += "e\xCC\x81";  // e + combining acute: one character, three bytes
    logger.beginTurn("Hi");
    logger.endTurn(1, reply);
    logger.drain();
    std::string stored = onlyLog(logger).at("agentResponse");
    EXPECT_EQ(text::graphemeCount(stored), 1000u);
    EXPECT_EQ(stored, reply.substr(0, 3000));
}

TEST_F(ToolLoggerTest, TurnsOfTheSameSecondNeverOverwriteEachOtherAndTheNewestListsFirst) {
    ToolLogger logger;
    for (const char* message : {"first", "second", "third"}) {
        logger.beginTurn(message);
        logger.endTurn(1);
        logger.drain();  // the stamp is taken when the queued work runs
        clock.sleep(std::chrono::milliseconds(50));
    }
    clock.sleep(std::chrono::seconds(1));
    logger.beginTurn("next second");
    logger.endTurn(1);
    logger.drain();

    auto recent = logger.recentLogPaths(10);
    ASSERT_EQ(recent.size(), 4u);
    std::vector<std::string> names, messages;
    for (const auto& file : recent) {
        names.push_back(file.filename);
        messages.push_back(json::parse(testing::readAll(file.url)).at("userMessage"));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"2026-12-06T15-23-52Z.json", "2026-12-06T15-23-51Z_002.json",
                                               "2026-12-06T15-23-51Z_001.json", "2026-12-06T15-23-51Z.json"}));
    EXPECT_EQ(messages, (std::vector<std::string>{"next second", "third", "second", "first"}));
}

// Copies of the program share the folder: each takes a log's name for itself, so turns ending
// in the same second never replace one another's log.
// Where no hard link can be made (FAT, exFAT) the name is taken another way.
TEST_F(ToolLoggerTest, CopiesEndingTurnsInTheSameSecondKeepEveryLog) {
    for (const bool hardLinks : {true, false}) {
        SCOPED_TRACE(hardLinks ? "hard links" : "no hard links");
        fs::remove_all(home.appFolder() / "tool-logs");
        setLinkFunctionForTesting(hardLinks ? nullptr : +[](const char*, const char*) {
            errno = EPERM;
            return -1;
        });
        std::vector<std::unique_ptr<ToolLogger>> copies;
        for (int copy = 0; copy < 3; ++copy) copies.push_back(std::make_unique<ToolLogger>());
        std::vector<std::future<std::optional<std::string>>> written;
        for (int turn = 0; turn < 30; ++turn)
            for (size_t copy = 0; copy < copies.size(); ++copy) {
                copies[copy]->beginTurn("turn " + std::to_string(turn) + " of copy " + std::to_string(copy));
                written.push_back(copies[copy]->endTurn(1));
            }
        for (auto& copy : copies) copy->drain();
        setLinkFunctionForTesting(nullptr);

        std::set<std::string> messages;
        for (const auto& file : copies[0]->recentLogPaths(ToolLogger::keptLogs))
            messages.insert(json::parse(testing::readAll(file.url)).at("userMessage").get<std::string>());
        EXPECT_EQ(messages.size(), 90u) << "a turn's log replaced another's or was lost";
        for (auto& failure : written) EXPECT_EQ(failure.get(), std::nullopt);
    }
}

// Where no hard link can be made, another copy's first write swept a log's name, claimed but not
// yet locked, as a leftover and wrote its own log under it: the first copy's log then replaced
// it, and both turns said their logs were written. The first copy takes the next name now.
struct SweptClaim {
    static inline fs::path claim;
    static inline std::function<void()> meanwhile;
    static int flock(int fd, int operation) {
        char target[4096] = {};
        const std::string link = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (meanwhile && operation == LOCK_EX && n > 0 && fs::path(std::string(target, n)) == claim)
            std::exchange(meanwhile, nullptr)();
        return ::flock(fd, operation);
    }
};

TEST_F(ToolLoggerTest, ALogWhoseNameAnotherCopySweptAndTookBeforeItWasLockedIsKeptUnderTheNextName) {
    ToolLogger first;
    first.beginTurn("first copy's turn");
    SweptClaim::claim = fs::canonical(first.logsDir()) / "2026-12-06T15-23-51Z.json";
    std::optional<std::string> secondFailure = "not run";
    SweptClaim::meanwhile = [&] {
        ToolLogger second;
        second.beginTurn("second copy's turn");
        secondFailure = second.endTurn(1).get();
    };
    setLinkFunctionForTesting([](const char*, const char*) {
        errno = EPERM;
        return -1;
    });
    setFlockFunctionForTesting(&SweptClaim::flock);
    const auto firstFailure = first.endTurn(1).get();
    setFlockFunctionForTesting(nullptr);
    setLinkFunctionForTesting(nullptr);
    ASSERT_FALSE(SweptClaim::meanwhile) << "the race was not run";
    EXPECT_EQ(firstFailure, std::nullopt);
    EXPECT_EQ(secondFailure, std::nullopt);
    std::set<std::string> messages;
    for (const auto& file : first.recentLogPaths(10))
        messages.insert(json::parse(testing::readAll(file.url)).at("userMessage").get<std::string>());
    EXPECT_EQ(messages, (std::set<std::string>{"first copy's turn", "second copy's turn"}))
        << "a log replaced another's while both turns said theirs was written";
}

TEST_F(ToolLoggerTest, EndWithoutAnOpenTurnWritesNothingAndTheNextTurnHoldsOnlyItsOwnCalls) {
    ToolLogger logger;
    logger.logToolCall(call("stray", 0));
    logger.endTurn(1, std::string("reply"));
    logger.drain();
    EXPECT_TRUE(logger.recentLogPaths(5).empty());

    logger.beginTurn("Real turn");
    logger.logToolCall(call("list_tracks", 0));
    logger.endTurn(1);
    logger.endTurn(1);  // the turn is closed: no second file
    logger.drain();
    json written = onlyLog(logger);
    ASSERT_EQ(written.at("toolCalls").size(), 1u);
    EXPECT_EQ(written.at("toolCalls")[0].at("tool"), "list_tracks");
}

TEST_F(ToolLoggerTest, OnlyTheNewestHundredLogsAreKeptAndOtherFilesAreLeftAlone) {
    ToolLogger logger;
    const fs::path dir = logger.logsDir();
    for (int i = 0; i < 100; ++i)
        testing::writeAll(dir / fmt::format("2025-01-01T00-{:02}-{:02}Z.json", i / 60, i % 60), "{}");
    testing::writeAll(dir / "notes.txt", "keep");
    testing::writeAll(dir / "0000-SHOUTING.JSON", "keep");
    EXPECT_EQ(logger.recentLogPaths(1000).size(), 100u);

    logger.beginTurn("Hi");
    logger.endTurn(1);
    logger.drain();

    auto recent = logger.recentLogPaths(1000);
    ASSERT_EQ(recent.size(), 100u);
    EXPECT_EQ(recent.front().filename, "2026-12-06T15-23-51Z.json");
    EXPECT_EQ(recent.back().filename, "2025-01-01T00-00-01Z.json");
    EXPECT_FALSE(fs::exists(dir / "2025-01-01T00-00-00Z.json"));
    EXPECT_TRUE(fs::exists(dir / "notes.txt"));
    EXPECT_TRUE(fs::exists(dir / "0000-SHOUTING.JSON"));
    EXPECT_TRUE(logger.recentLogPaths(0).empty());
}

TEST_F(ToolLoggerTest, TemporaryLogsACrashLeftGoWithTheFirstWriteAndNothingElseDoes) {
    ToolLogger logger;
    const fs::path dir = logger.logsDir();
    const std::vector<std::string> leftovers = {".2026-12-05T09-00-00Z.json.tmp-0123456789ab",
                                                ".2026-12-05T09-00-00Z_001.json.tmp-ffffffffffff"};
    const std::vector<std::string> kept = {"2026-12-05T09-00-00Z.json", ".notes.txt.tmp-0123456789ab",
                                           ".2026-12-05T09-00-00Z.json.tmp-notes",
                                           "2026-12-05T09-00-00Z.json.tmp-0123456789ab"};
    for (const auto& name : leftovers) testing::writeAll(dir / name, "{\"userMessage\": \"half");
    for (const auto& name : kept) testing::writeAll(dir / name, "keep");

    logger.beginTurn("Hi");
    logger.endTurn(1);
    logger.drain();

    for (const auto& name : leftovers) EXPECT_FALSE(fs::exists(dir / name)) << name;
    for (const auto& name : kept) EXPECT_EQ(testing::readAll(dir / name), "keep") << name;
    EXPECT_EQ(logger.recentLogPaths(1).at(0).filename, "2026-12-06T15-23-51Z.json");
}

TEST_F(ToolLoggerTest, InvalidUTF8InAMessageDoesNotLoseTheTurn) {
    ToolLogger logger;
    logger.beginTurn("bad \xFF byte");
    logger.endTurn(1);
    logger.drain();
    EXPECT_EQ(onlyLog(logger).at("userMessage"), "bad \xEF\xBF\xBD byte");
}

TEST(ToolLogger, RequiredKeysAndTypesAreEnforcedAndUnknownKeysIgnored) {
    const json call = {{"timestamp", "t"}, {"tool", "x"},     {"arguments", "{}"}, {"succeeded", false},
                       {"summary", "s"},   {"durationMs", 3}, {"roundIndex", 0},   {"extra", 1}};
    const json turn = {{"turnTimestamp", "t"}, {"userMessage", "m"},  {"toolCalls", json::array({call})},
                       {"totalRounds", 1},     {"threadID", nullptr}, {"future", "x"}};
    TurnLog decoded = turn.get<TurnLog>();
    EXPECT_EQ(decoded.threadID, std::nullopt);
    EXPECT_EQ(decoded.toolCalls.at(0).durationMs, 3);

    struct Case {
        const char* what;
        json document;
    };
    using testing::with;
    using testing::without;
    const Case bad[] = {
        {"no userMessage", without(turn, "userMessage")},
        {"no toolCalls", without(turn, "toolCalls")},
        {"rounds as text", with(turn, "totalRounds", "1")},
        {"call without summary", with(turn, "toolCalls", json::array({without(call, "summary")}))},
        {"succeeded as number", with(turn, "toolCalls", json::array({with(call, "succeeded", 1)}))},
        {"fractional duration", with(turn, "toolCalls", json::array({with(call, "durationMs", 2.5)}))},
        {"callID as number", with(turn, "toolCalls", json::array({with(call, "callID", 7)}))},
    };
    for (const auto& c : bad) EXPECT_ANY_THROW(c.document.get<TurnLog>()) << c.what;
}

}  // namespace
}  // namespace corvane
