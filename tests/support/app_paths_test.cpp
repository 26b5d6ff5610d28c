#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/log.h"
#include "platform/platform.h"
#include "support/app_paths.h"
#include "support/iso8601.h"
#include "test_support/manual_clock.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::ManualClock;
using testing::TempHome;

ManualClock::TimePoint at(const char* iso) { return *ISO8601::parse(iso); }

TEST(AppPaths, CreatesTheFolderAndSubfoldersOnFirstUse) {
    TempHome home;
    EXPECT_FALSE(fs::exists(home.appFolder()));
    EXPECT_EQ(AppPaths::appSupportDirectory(), home.appFolder());
    EXPECT_TRUE(fs::is_directory(home.appFolder()));
    EXPECT_EQ(AppPaths::appSupportDirectory(std::string()), AppPaths::appSupportDirectory());
    auto captures = AppPaths::appSupportDirectory(std::string("Captures"));
    EXPECT_EQ(captures, home.appFolder() / "Captures");
    EXPECT_TRUE(fs::is_directory(captures));
}

TEST(AppPaths, WithoutOverrideUsesTheXdgDataFolder) {
    TempHome home;
    ::unsetenv("CORVANE_HOME");
    ::setenv("XDG_DATA_HOME", home.root().c_str(), 1);
    EXPECT_EQ(AppPaths::appSupportDirectory(), home.root() / "Corvane");
    ::unsetenv("XDG_DATA_HOME");
}

// Sets an environment variable for one scope, then puts back what was there.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) previous_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (previous_)
            ::setenv(name_, previous_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> previous_;
};

TEST(AppPaths, TemporaryAndHomeFoldersFollowTheEnvironmentWithFallbacks) {
    TempHome home;
    {
        ScopedVariable tmp("TMPDIR", home.root().string());
        EXPECT_EQ(AppPaths::temporaryDirectory(), home.root());
    }
    {
        ScopedVariable tmp("TMPDIR", (home.root() / "missing").string());
        EXPECT_EQ(AppPaths::temporaryDirectory(), fs::path("/tmp"));
    }
    {
        ScopedVariable user("HOME", home.root().string());
        EXPECT_EQ(AppPaths::homeDirectory(), home.root());
    }
    {
        ScopedVariable user("HOME", "");  // the account's home folder instead
        EXPECT_TRUE(AppPaths::homeDirectory().has_value());
    }
    {
        ScopedVariable resources("CORVANE_RESOURCES", home.root().string());
        EXPECT_EQ(AppPaths::resourcesDirectory(), home.root());
    }
    EXPECT_EQ(AppPaths::applicationFolderOverride(), home.appFolder());
}

TEST(AppPaths, CorruptFileIsCopiedBesideItselfAndNeverLost) {
    TempHome home;
    ManualClock clock(at("2026-12-06T15:24:00.700Z"));
    platform::ScopedServices services({.clock = &clock});
    platform::LogCapture logs;

    auto file = AppPaths::appSupportDirectory() / "conversation.json";
    testing::writeAll(file, "{not json");
    AppPaths::archiveCorruptFile(file, "ConversationStore");

    auto backup = home.appFolder() / "conversation.json.corrupt-2026-12-06T15-24-00Z.bak";
    EXPECT_EQ(testing::readAll(backup), "{not json");
    EXPECT_EQ(testing::readAll(file), "{not json");  // copied, not moved
    EXPECT_TRUE(logs.contains("[ConversationStore] Preserved corrupt file: " + backup.string()));

    // Further versions within the same second get numbered names; the first backup stays as it was.
    for (const char* other : {"{other", "{third"}) {
        testing::writeAll(file, other);
        AppPaths::archiveCorruptFile(file, "ConversationStore");
    }
    EXPECT_EQ(testing::readAll(backup), "{not json");
    auto numbered = [&](int n) {
        return home.appFolder() / ("conversation.json.corrupt-2026-12-06T15-24-00Z-" + std::to_string(n) + ".bak");
    };
    EXPECT_EQ(testing::readAll(numbered(2)), "{other");
    EXPECT_EQ(testing::readAll(numbered(3)), "{third");
    EXPECT_TRUE(logs.contains("[ConversationStore] Preserved corrupt file: " + numbered(3).string()));
    EXPECT_TRUE(AppPaths::hasPreservedCopy(file, "{other"));
    EXPECT_FALSE(AppPaths::hasPreservedCopy(file, "{fourth"));
}

// A file the store cannot read is renamed, never copied over or replaced, even within one second.
TEST(AppPaths, UnreadableFileIsMovedAsideUnderAFreeName) {
    TempHome home;
    ManualClock clock(at("2026-12-06T15:24:00.700Z"));
    platform::ScopedServices services({.clock = &clock});
    platform::LogCapture logs;

    auto file = AppPaths::appSupportDirectory() / "memories.json";
    auto first = home.appFolder() / "memories.json.corrupt-2026-12-06T15-24-00Z.bak";
    testing::writeAll(first, "earlier backup");
    fs::create_directory(file);
    EXPECT_TRUE(AppPaths::moveUnreadableFileAside(file, "MemoryStore"));
    auto second = home.appFolder() / "memories.json.corrupt-2026-12-06T15-24-00Z-2.bak";
    EXPECT_TRUE(fs::is_directory(second));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(testing::readAll(first), "earlier backup");
    EXPECT_TRUE(logs.contains("[MemoryStore] Moved unreadable file aside: " + second.string()));

    EXPECT_FALSE(AppPaths::moveUnreadableFileAside(file, "MemoryStore"));  // nothing there any more
    EXPECT_TRUE(logs.contains("[MemoryStore] Could not move unreadable file aside " + file.string() + ": "));
}

TEST(AppPaths, ArchivingAMissingFileWritesAndLogsNothing) {
    TempHome home;
    platform::LogCapture logs;
    AppPaths::archiveCorruptFile(AppPaths::appSupportDirectory() / "memories.json", "MemoryStore");
    EXPECT_TRUE(logs.lines().empty());
    EXPECT_TRUE(fs::is_empty(home.appFolder()));
}

}  // namespace
}  // namespace corvane
