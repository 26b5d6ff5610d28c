#include "networking/keychain_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "test_support/temp_home.h"

namespace corvane::networking {
namespace {

namespace fs = std::filesystem;
using testing::TempHome;

unsigned modeOf(const fs::path& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

TEST(KeychainStore, KeepsOtherMembersAndTheFileAndFolderPrivate) {
    TempHome home;
    EXPECT_EQ(KeychainStore::read("a"), std::nullopt);
    KeychainStore::save("a", "1");
    EXPECT_EQ(modeOf(KeychainStore::storeURL()), 0600u);
    KeychainStore::save("b", "2");
    KeychainStore::save("c", "3");
    KeychainStore::remove("a");
    KeychainStore::remove("b");
    EXPECT_EQ(testing::readAll(KeychainStore::storeURL()), R"({"c":"3"})");

    fs::permissions(home.appFolder(), fs::perms::all, fs::perm_options::replace);
    EXPECT_EQ(KeychainStore::read("c"), "3");
    EXPECT_EQ(modeOf(home.appFolder()), 0700u);
}

TEST(KeychainStore, ContentThatIsNotAnObjectOfTextsReadsAsEmptyAndIsReplacedByTheNextSave) {
    TempHome home;
    for (const char* content : {"[1,2]", R"({"a":"1","n":2})", "not json"}) {
        testing::writeAll(KeychainStore::storeURL(), content);
        EXPECT_EQ(KeychainStore::read("a"), std::nullopt) << content;
        KeychainStore::save("k", "v");
        EXPECT_EQ(testing::readAll(KeychainStore::storeURL()), R"({"k":"v"})");
    }
}

}  // namespace
}  // namespace corvane::networking
