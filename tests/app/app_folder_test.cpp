// What the app keeps in its application folder is the user's alone: made so by the app itself,
// and narrowed at start where an earlier version left it readable by others.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "app/controller_fixture.h"
#include "networking/request_dump.h"
#include "support/app_paths.h"

namespace corvane::app::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

unsigned modeOf(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Every file and folder under the folder that others could read, with its mode.
std::vector<std::string> readableByOthers(const fs::path& folder) {
    std::vector<std::string> wide;
    if (modeOf(folder) & 077) wide.push_back(". " + std::to_string(modeOf(folder)));
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_symlink()) continue;
        if (const unsigned mode = modeOf(entry.path()); mode & 077)
            wide.push_back(fs::relative(entry.path(), folder).string() + " " + std::to_string(mode));
    }
    return wide;
}

class AppFolderTest : public SignedInControllerTest {
protected:
    void SetUp() override {}  // each test starts the controller once the folder is laid out
};

TEST_F(AppFolderTest, EverythingKeptIsTheUsersAloneAndWhatWasLeftWiderIsNarrowedAtStart) {
    // As an earlier version left it: notes and tool logs readable by every user of the machine.
    const fs::path folder = home_.appFolder();
    fs::create_directories(folder / "tool-logs");
    fs::create_directories(folder / "test-cases" / "old");
    corvane::testing::writeAll(folder / "memories.json", "[]");
    corvane::testing::writeAll(folder / "tool-logs" / "2026-12-01T09-00-00Z.json", "{}");
    corvane::testing::writeAll(folder / "test-cases" / "old" / "mute.json", "{}");
    ::chmod(folder.c_str(), 0755);
    for (const char* name : {"tool-logs", "test-cases", "test-cases/old"}) ::chmod((folder / name).c_str(), 0755);
    for (const char* name : {"memories.json", "tool-logs/2026-12-01T09-00-00Z.json", "test-cases/old/mute.json"})
        ::chmod((folder / name).c_str(), 0644);
    ::chmod((folder / "test-cases" / "old" / "mute.json").c_str(), 0664);
    const fs::path outside = home_.root() / "shared.txt";  // linked to, not the app's to change
    corvane::testing::writeAll(outside, "x");
    ::chmod(outside.c_str(), 0644);
    fs::create_symlink(outside, folder / "a-link");

    startSignedIn();
    EXPECT_EQ(readableByOthers(folder), std::vector<std::string>{});
    EXPECT_EQ(modeOf(folder / "test-cases" / "old" / "mute.json"), 0600u);  // only taken away from others
    EXPECT_EQ(modeOf(outside), 0644u);

    // A turn, a note and a capture make every kind of file the app keeps.
    const auto answer = post("/test/prompt", R"({"prompt":"Mute the guitar"})");
    ASSERT_TRUE(answer);
    ASSERT_EQ(json::parse(answer->body)["chatResponse"]["ok"], true) << answer->body;
    ASSERT_TRUE(controller().memoryStore().add("master", "Likes it loud").memory);
    controller().capture(true);
    networking::RequestDump::drain();
    for (const char* made : {"conversation.json", "memories.json", "Captures", "diagnostics/cv-last-request.json"})
        EXPECT_TRUE(fs::exists(folder / made)) << made;
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / "tool-logs"), fs::directory_iterator()), 2);
    EXPECT_EQ(readableByOthers(folder), std::vector<std::string>{});
}

}  // namespace
}  // namespace corvane::app::testing
