#include "backend/accounts.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sodium.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <memory>
#include <optional>
#include <functional>
#include <limits>
#include <future>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/log.h"
#include "support/files.h"
#include "test_support/hang_guard.h"
#include "test_support/store_fixture.h"
#include "test_support/work_cost.h"

namespace corvane::backend {
namespace {

namespace fs = std::filesystem;

class AccountStoreTest : public ::testing::Test, public testing::StoreFixture {
protected:
    AccountStoreTest() : StoreFixture("accounts.json") { fs::create_directories(home.appFolder()); }
    AccountStore accounts{home.appFolder(), PasswordCost::minimum()};
};

// A damaged accounts file is kept beside itself before the next account replaces it, so the
// accounts it held can be restored by hand.
TEST_F(AccountStoreTest, UndecodableFileIsArchivedBeforeTheNextAccountReplacesIt) {
    for (const char* content : {"{damaged", "[]"}) {
        clock.sleep(std::chrono::seconds(1));  // a backup of its own
        prepare(content);
        EXPECT_EQ(accounts.verify("old@example.com", "secret"), std::nullopt);
        ASSERT_TRUE(accounts.addUser("new@example.com", "secret"));
        EXPECT_EQ(testing::readAll(backup()), content);
        EXPECT_EQ(accounts.verify("new@example.com", "secret"), "new@example.com");
    }
}

TEST_F(AccountStoreTest, UndecodableFileThatCouldNotBeBackedUpIsNeverOverwritten) {
    platform::LogCapture logs;
    prepare("{damaged");
    const fs::path blocked = backup();
    fs::create_symlink(blocked.filename(), blocked);  // a link looping where the backup goes

    EXPECT_FALSE(accounts.addUser("new@example.com", "secret"));
    EXPECT_EQ(testing::readAll(file()), "{damaged");
    EXPECT_TRUE(logs.contains("[AccountStore] Not overwriting corrupt file without a backup: "));
}

// An unknown e-mail must cost the hashing a wrong password costs, or the time of the answer tells
// which accounts exist; from the first one after a start too, which used to make the decoy hash
// first and so took twice as long. Measured as processor time: a few dozen checks of a cheap hash,
// half a second. The hash's work is in its passes over the least memory: taking fresh memory costs
// several times the passes over it, or none where the allocator gives back what it kept, so with
// more of it two alike checks could differ fourfold.
TEST_F(AccountStoreTest, AnUnknownEmailTakesAsLongAsAWrongPasswordFromTheFirst) {
    const PasswordCost cost{4000, crypto_pwhash_MEMLIMIT_MIN};
    AccountStore costly(home.appFolder(), cost);
    ASSERT_TRUE(costly.addUser("known@example.com", "secret"));
    const auto check = [](const AccountStore& store, const char* email) {
        return [&store, email] { EXPECT_EQ(store.verify(email, "wrong"), std::nullopt); };
    };
    // Even processor time grows now and then by several times on a shared machine (a virtual
    // processor held back by its host counts as running) but never shrinks: each kind's cheapest
    // check is the work itself.
    const auto unknownToWrong =
        testing::costRatio(check(costly, "known@example.com"), check(costly, "nobody@example.com"), 15);
    double first = std::numeric_limits<double>::max(), second = first;
    for (int i = 0; i < 15; ++i) {
        // A fresh store, its file read by a check of a known e-mail first: its first unknown
        // e-mail is then set against its second.
        const AccountStore fresh(home.appFolder(), cost);
        check(fresh, "known@example.com")();
        first = std::min(first, testing::cpuSecondsOf(check(fresh, "nobody@example.com")));
        second = std::min(second, testing::cpuSecondsOf(check(fresh, "nobody@example.com")));
    }
    EXPECT_GT(unknownToWrong.ratio(), 0.5) << "an unknown e-mail is checked against a hash too";
    EXPECT_LT(first / second, 1.5) << "the first unknown e-mail costs no hash more than the next";
}

// The sessions file holds every signed-in device's refresh token: a damaged one is kept too,
// and a sign-in that cannot store its token fails rather than dropping the others.
TEST(TokenService, UndecodableSessionsFileIsArchivedAndNeverOverwrittenWithoutABackup) {
    testing::StoreFixture scene("refresh-tokens.json");
    fs::create_directories(scene.home.appFolder());
    AccountStore accounts(scene.home.appFolder(), PasswordCost::minimum());
    ASSERT_TRUE(accounts.addUser("mix@example.com", "secret"));
    TokenService tokens(scene.home.appFolder(), accounts, {}, scene.clock);
    scene.prepare("{damaged");
    const fs::path blocked = scene.backup();
    fs::create_symlink(blocked.filename(), blocked);
    EXPECT_THROW(tokens.issue("mix@example.com"), std::runtime_error);
    EXPECT_EQ(testing::readAll(scene.file()), "{damaged");

    scene.clock.sleep(std::chrono::seconds(1));
    const Session session = tokens.issue("mix@example.com");
    EXPECT_EQ(testing::readAll(scene.backup()), "{damaged");
    EXPECT_TRUE(tokens.refresh(session.refreshToken));
}

// Every spent refresh token used to stay in the file for its 30 days, and the file is written on
// each refresh: one client refreshing in a loop grew it without bound. What tells a replay is
// bounded per session now, and a replay of the last spent token still ends the session.
TEST(TokenService, RefreshingInALoopKeepsTheSessionsFileSmallAndStillTellsAReplay) {
    testing::StoreFixture scene("refresh-tokens.json");
    fs::create_directories(scene.home.appFolder());
    AccountStore accounts(scene.home.appFolder(), PasswordCost::minimum());
    ASSERT_TRUE(accounts.addUser("mix@example.com", "secret"));
    TokenService tokens(scene.home.appFolder(), accounts, {}, scene.clock);
    const Session first = tokens.issue("mix@example.com");
    Session current = first;
    std::vector<std::string> spent;
    std::uintmax_t sizeAfterTwenty = 0;
    for (int i = 1; i <= 300; ++i) {
        scene.clock.sleep(std::chrono::seconds(61));  // past the grace, as a client an hour apart would be
        spent.push_back(current.refreshToken);
        const auto next = tokens.refresh(current.refreshToken);
        ASSERT_TRUE(next) << i;
        current = *next;
        if (i == 20) sizeAfterTwenty = fs::file_size(scene.file());
    }
    // (Each kept token's order of spending has gained a digit since.)
    EXPECT_LE(fs::file_size(scene.file()), sizeAfterTwenty + TokenService::kSpentTokensPerSession);
    scene.clock.sleep(std::chrono::seconds(61));

    EXPECT_FALSE(tokens.refresh(first.refreshToken)) << "long spent";
    EXPECT_TRUE(tokens.verifyAccessToken(current.accessToken)) << "an old token forgotten is no replay";
    EXPECT_FALSE(tokens.refresh(spent.back())) << "the token spent last";
    EXPECT_FALSE(tokens.verifyAccessToken(current.accessToken)) << "the replay ended the session";
    EXPECT_FALSE(tokens.refresh(current.refreshToken));
}

std::string sha256Hex(const std::string& text) {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    char hex[crypto_hash_sha256_BYTES * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return hex;
}

// The hashes the sessions file holds for the session of this (live) refresh token.
std::set<std::string> storedTokensOfSession(const fs::path& file, const std::string& liveToken) {
    const auto tokens = nlohmann::json::parse(readFile(file).bytes).at("tokens");
    const auto session = tokens.at(sha256Hex(liveToken)).at("session");
    std::set<std::string> hashes;
    for (const auto& [hash, token] : tokens.items()) {
        if (token.at("session") == session) hashes.insert(hash);
    }
    return hashes;
}

// Spent tokens were ordered by their expiry, in whole seconds, ties broken by their random hash:
// ten refreshes within one second forgot newer tokens and kept older ones, so a replay of a recent
// one went unnoticed. The eight spent last are kept, by the order of spending, across a restart.
TEST(TokenService, TheEightTokensSpentLastAreKeptInTheOrderTheyWereSpent) {
    testing::StoreFixture scene("refresh-tokens.json");
    fs::create_directories(scene.home.appFolder());
    AccountStore accounts(scene.home.appFolder(), PasswordCost::minimum());
    ASSERT_TRUE(accounts.addUser("mix@example.com", "secret"));
    const auto kept = [](const std::vector<std::string>& issued, std::size_t from) {
        std::set<std::string> hashes;
        for (std::size_t i = from; i < issued.size(); ++i) hashes.insert(sha256Hex(issued[i]));
        return hashes;
    };
    for (int trial = 0; trial < 3; ++trial) {
        auto tokens = std::make_unique<TokenService>(scene.home.appFolder(), accounts, TokenLifetimes{}, scene.clock);
        Session current = tokens->issue("mix@example.com");
        std::vector<std::string> issued = {current.refreshToken};
        const auto refreshTimes = [&](int count) {
            for (int i = 0; i < count; ++i) {
                const auto next = tokens->refresh(current.refreshToken);
                ASSERT_TRUE(next);
                current = *next;
                issued.push_back(current.refreshToken);
            }
        };
        refreshTimes(10);  // all within the same second
        EXPECT_EQ(storedTokensOfSession(scene.file(), current.refreshToken), kept(issued, 2)) << trial;

        tokens = std::make_unique<TokenService>(scene.home.appFolder(), accounts, TokenLifetimes{}, scene.clock);
        refreshTimes(2);
        EXPECT_EQ(storedTokensOfSession(scene.file(), current.refreshToken), kept(issued, 4)) << trial;

        EXPECT_FALSE(tokens->refresh(issued[3])) << "forgotten";
        EXPECT_TRUE(tokens->verifyAccessToken(current.accessToken)) << "a forgotten token is no replay";
        EXPECT_FALSE(tokens->refresh(issued[4]));
        EXPECT_FALSE(tokens->verifyAccessToken(current.accessToken)) << "the replay of a kept one ended the session";
    }

    // A file from before the order was stored still loads, and its tokens still work.
    TokenService tokens(scene.home.appFolder(), accounts, {}, scene.clock);
    const Session session = tokens.issue("mix@example.com");
    const auto spent = tokens.refresh(session.refreshToken);
    ASSERT_TRUE(spent);
    auto document = nlohmann::json::parse(readFile(scene.file()).bytes);
    for (auto& [hash, token] : document["tokens"].items()) token.erase("spent_order");
    scene.prepare(document.dump());
    TokenService reloaded(scene.home.appFolder(), accounts, {}, scene.clock);
    EXPECT_TRUE(reloaded.verifyAccessToken(spent->accessToken));
    EXPECT_TRUE(reloaded.refresh(spent->refreshToken));
}

// The grace in which a spent refresh token gets its pair again was kept in memory alone: a client
// killed before storing the pair, coming back after the backend restarted, was signed out. It
// is stored with the sessions now; where the same pair cannot be given again, one that keeps
// the session is, and the pair it replaces is refused.
TEST(TokenService, ASpentTokenGetsItsPairAgainWithinTheGraceAcrossARestart) {
    testing::StoreFixture scene("refresh-tokens.json");
    fs::create_directories(scene.home.appFolder());
    AccountStore accounts(scene.home.appFolder(), PasswordCost::minimum());
    ASSERT_TRUE(accounts.addUser("mix@example.com", "secret"));
    const auto restarted = [&] {
        return std::make_unique<TokenService>(scene.home.appFolder(), accounts, TokenLifetimes{}, scene.clock);
    };
    // Whether the file's record of each spent token's pair is kept as stored, dropped (as a file
    // of an earlier version has none), or damaged.
    enum class Record { kept, dropped, damaged };
    for (const Record record : {Record::kept, Record::dropped, Record::damaged}) {
        SCOPED_TRACE(static_cast<int>(record));
        auto tokens = restarted();
        const Session first = tokens->issue("mix@example.com");
        const auto second = tokens->refresh(first.refreshToken);
        ASSERT_TRUE(second);
        const std::string stored = readFile(scene.file()).bytes;
        EXPECT_EQ(stored.find(second->refreshToken), std::string::npos) << "stored in clear";
        EXPECT_EQ(stored, encodeJSONDocument(nlohmann::json::parse(stored))) << "not the stores' layout";
        if (record != Record::kept) {
            auto document = nlohmann::json::parse(readFile(scene.file()).bytes);
            auto& spent = document["tokens"][sha256Hex(first.refreshToken)];
            if (record == Record::dropped) spent.erase("next_pair");
            if (record == Record::damaged) {
                std::string sealed = spent["next_pair"];
                sealed[100] = sealed[100] == '0' ? '1' : '0';
                spent["next_pair"] = sealed;
            }
            scene.prepare(document.dump());
        }
        tokens = restarted();
        scene.clock.sleep(std::chrono::seconds(59));
        const auto again = tokens->refresh(first.refreshToken);
        ASSERT_TRUE(again) << "a client that lost the pair was signed out";
        EXPECT_TRUE(tokens->verifyAccessToken(again->accessToken));
        tokens = restarted();
        EXPECT_EQ(tokens->refresh(first.refreshToken).value_or(Session{}).refreshToken, again->refreshToken)
            << "asked once more";
        if (record == Record::kept) {
            EXPECT_EQ(again->refreshToken, second->refreshToken);
            EXPECT_EQ(again->accessToken, second->accessToken);
        } else {
            EXPECT_NE(again->refreshToken, second->refreshToken);
            EXPECT_FALSE(tokens->refresh(second->refreshToken)) << "the pair replaced";
            EXPECT_TRUE(tokens->verifyAccessToken(again->accessToken)) << "refused as unknown, not as a replay";
        }
        const auto third = tokens->refresh(again->refreshToken);
        ASSERT_TRUE(third);
        tokens = restarted();
        EXPECT_FALSE(tokens->refresh(first.refreshToken)) << "within the grace, but after its pair was used";
        EXPECT_FALSE(tokens->verifyAccessToken(third->accessToken)) << "the replay ended the session";

        const Session bystander = tokens->issue("mix@example.com");
        const auto bystanderNext = tokens->refresh(bystander.refreshToken);
        const Session lasting = tokens->issue("mix@example.com");
        ASSERT_TRUE(bystanderNext && tokens->refresh(lasting.refreshToken));
        scene.clock.sleep(std::chrono::seconds(60));
        tokens = restarted();
        EXPECT_FALSE(tokens->refresh(lasting.refreshToken)) << "past the grace";
        const auto spentTokens = nlohmann::json::parse(readFile(scene.file()).bytes)["tokens"];
        EXPECT_FALSE(spentTokens[sha256Hex(bystander.refreshToken)].contains("next_pair")) << "kept past the grace";
        EXPECT_TRUE(tokens->refresh(bystanderNext->refreshToken));
    }
}

// A token check took the lock a refresh holds while it writes the sessions file (the whole file
// and two fsyncs): the server checks the token of every large upload's head on its I/O thread,
// so each head, and every connection of that thread after it, waited behind the refreshes. The
// check reads the sessions as last stored: one made from another thread while a refresh is in the
// middle of its write (held there at its first lock of a file) is answered before the write goes on.
struct CheckDuringWrite {
    static inline std::thread::id writer;
    static inline std::function<bool()> check;
    static inline std::optional<bool> outcome;  // none: no check was made during the write
    static int flock(int fd, int operation) {
        if (std::this_thread::get_id() == writer && !outcome) {
            // Its own thread, left behind when it hangs: it ends once the write lets it go.
            auto answer = std::make_shared<std::promise<bool>>();
            auto answered = answer->get_future();
            std::thread([answer] { answer->set_value(check()); }).detach();
            outcome = answered.wait_for(testing::kHangGuard) == std::future_status::ready && answered.get();
        }
        return ::flock(fd, operation);
    }
};

TEST(TokenService, ATokenCheckNeverWaitsForTheSessionsFileToBeWritten) {
    testing::StoreFixture scene("refresh-tokens.json");
    fs::create_directories(scene.home.appFolder());
    AccountStore accounts(scene.home.appFolder(), PasswordCost::minimum());
    ASSERT_TRUE(accounts.addUser("mix@example.com", "secret"));
    TokenService tokens(scene.home.appFolder(), accounts, {}, scene.clock);
    const Session checked = tokens.issue("mix@example.com");
    const Session refreshed = tokens.issue("mix@example.com");

    CheckDuringWrite::writer = std::this_thread::get_id();
    CheckDuringWrite::check = [&] { return tokens.verifyAccessToken(checked.accessToken).has_value(); };
    CheckDuringWrite::outcome.reset();
    setFlockFunctionForTesting(&CheckDuringWrite::flock);
    const auto next = tokens.refresh(refreshed.refreshToken);
    setFlockFunctionForTesting(nullptr);
    ASSERT_TRUE(next);
    ASSERT_TRUE(CheckDuringWrite::outcome) << "the refresh wrote no file";
    EXPECT_TRUE(*CheckDuringWrite::outcome) << "a check waited for the write";
    EXPECT_TRUE(tokens.verifyAccessToken(next->accessToken));
}

}  // namespace
}  // namespace corvane::backend
