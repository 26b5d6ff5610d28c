#include "backend/accounts.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <algorithm>
#include <vector>

#include "platform/log.h"
#include "test_support/store_fixture.h"

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
// which accounts exist. Measured in real time: a few dozen checks of a cheap hash, well under a second.
TEST_F(AccountStoreTest, AnUnknownEmailTakesAsLongAsAWrongPassword) {
    AccountStore costly(home.appFolder(), {crypto_pwhash_OPSLIMIT_MIN, 8 * 1024 * 1024});
    ASSERT_TRUE(costly.addUser("known@example.com", "secret"));
    const auto median = [&](const char* email) {
        std::vector<double> took;
        for (int i = 0; i < 9; ++i) {
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(costly.verify(email, "wrong"), std::nullopt);
            took.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        std::nth_element(took.begin(), took.begin() + 4, took.end());
        return took[4];
    };
    median("nobody@example.com");  // the decoy hash is made on first use
    const double unknown = median("nobody@example.com");
    const double wrong = median("known@example.com");
    EXPECT_GT(unknown, wrong / 2) << "unknown " << unknown * 1000 << " ms, wrong password " << wrong * 1000 << " ms";
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
    EXPECT_EQ(fs::file_size(scene.file()), sizeAfterTwenty);
    scene.clock.sleep(std::chrono::seconds(61));

    EXPECT_FALSE(tokens.refresh(first.refreshToken)) << "long spent";
    EXPECT_TRUE(tokens.verifyAccessToken(current.accessToken)) << "an old token forgotten is no replay";
    EXPECT_FALSE(tokens.refresh(spent.back())) << "the token spent last";
    EXPECT_FALSE(tokens.verifyAccessToken(current.accessToken)) << "the replay ended the session";
    EXPECT_FALSE(tokens.refresh(current.refreshToken));
}

}  // namespace
}  // namespace corvane::backend
