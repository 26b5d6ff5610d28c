#include "networking/keychain_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/log.h"
#include "test_support/store_fixture.h"

namespace corvane::networking {
namespace {

namespace fs = std::filesystem;

unsigned modeOf(const fs::path& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

class KeychainStoreTest : public ::testing::Test, public testing::StoreFixture {
protected:
    KeychainStoreTest() : StoreFixture("auth.json") {}
};

TEST_F(KeychainStoreTest, KeepsOtherMembersAndTheFileAndFolderPrivate) {
    EXPECT_EQ(KeychainStore::read("a"), std::nullopt);
    KeychainStore::save("a", "1");
    EXPECT_EQ(KeychainStore::storeURL(), file());
    EXPECT_EQ(modeOf(file()), 0600u);
    KeychainStore::save("b", "2");
    KeychainStore::save("c", "3");
    KeychainStore::remove("a");
    KeychainStore::remove("b");
    EXPECT_EQ(testing::readAll(file()), R"({"c":"3"})");

    fs::permissions(home.appFolder(), fs::perms::all, fs::perm_options::replace);
    EXPECT_EQ(KeychainStore::read("c"), "3");
    EXPECT_EQ(modeOf(home.appFolder()), 0700u);
}

// Narrowing only takes permissions away: a folder the user made read-only is not made writable.
TEST_F(KeychainStoreTest, LookupNeverWidensTheApplicationFolder) {
    struct Case {
        unsigned before, after;
    };
    for (const Case c : {Case{0755, 0700}, Case{0500, 0500}, Case{0550, 0500}, Case{0777, 0700}}) {
        SCOPED_TRACE(c.before);
        fs::create_directories(home.appFolder());
        ::chmod(home.appFolder().c_str(), c.before);
        (void)KeychainStore::storeURL();
        EXPECT_EQ(modeOf(home.appFolder()), c.after);
    }
}

// Whatever a damaged file held is kept beside it before the next sign-in writes over it, and
// nothing of it reaches the log (it may hold the tokens).
TEST_F(KeychainStoreTest, ContentThatIsNotAnObjectOfTextsIsKeptBesideItThenReplacedByTheNextSave) {
    platform::LogCapture logs;
    for (const char* content : {"[1,2]", R"({"a":"1","n":2})", R"({"a":"secret-token)"}) {
        clock.sleep(std::chrono::seconds(1));  // a backup of its own
        prepare(content);
        EXPECT_EQ(KeychainStore::read("a"), std::nullopt) << content;
        KeychainStore::save("k", "v");
        EXPECT_EQ(testing::readAll(file()), R"({"k":"v"})");
        EXPECT_EQ(testing::readAll(backup()), content);
    }
    EXPECT_FALSE(logs.contains("secret-token"));
}

// The file holds nothing a sign-in does not give again: one that cannot be read reads as no
// session and the next sign-in replaces it, unlike the stores of what the user made.
TEST_F(KeychainStoreTest, AFileThatCannotBeReadIsMovedAsideAndReplacedByTheNextSave) {
    fs::create_directories(file() / "inner");  // a folder in its place
    EXPECT_EQ(KeychainStore::read("a"), std::nullopt);
    EXPECT_TRUE(KeychainStore::save("k", "v"));
    EXPECT_EQ(testing::readAll(file()), R"({"k":"v"})");
    EXPECT_TRUE(fs::is_directory(backup() / "inner"));
}

TEST_F(KeychainStoreTest, UndecodableFileThatCouldNotBeBackedUpIsNeverOverwritten) {
    platform::LogCapture logs;
    prepare(R"({"supabase_refresh_token":)");
    const fs::path blocked = backup();
    fs::create_symlink(blocked.filename(), blocked);  // a link looping where the backup goes

    KeychainStore::save("k", "v");
    EXPECT_EQ(testing::readAll(file()), R"({"supabase_refresh_token":)");
    EXPECT_TRUE(logs.contains("[KeychainStore] Not overwriting corrupt file without a backup: "));

    clock.sleep(std::chrono::seconds(1));  // a new second: the backup can be made now
    KeychainStore::save("k", "v");
    EXPECT_EQ(KeychainStore::read("k"), "v");
}

// Without the file's lock the change was still made on what was read, as if decided on the file:
// a sign-out took the tokens it found for erased. Nothing is decided under a refused lock.
TEST_F(KeychainStoreTest, NoChangeIsMadeOnWhatWasReadWithoutTheFilesLock) {
    KeychainStore::save("a", "1");
    const FileLock other = FileLock::acquire(file());  // another copy holds the file
    ASSERT_TRUE(other.held());
    const FileLock refused = KeychainStore::lock(std::chrono::milliseconds(0));
    ASSERT_TRUE(refused.refusal());
    bool changed = false;
    EXPECT_FALSE(KeychainStore::update(refused, [&](std::map<std::string, std::string>& values) {
        changed = true;
        values.erase("a");
        return true;
    }));
    EXPECT_FALSE(changed);
    EXPECT_EQ(KeychainStore::read("a"), "1");
}

}  // namespace
}  // namespace corvane::networking
