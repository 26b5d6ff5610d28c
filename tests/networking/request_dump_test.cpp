#include "networking/request_dump.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test_support/temp_home.h"

namespace corvane::networking {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::TempHome;

unsigned modeOf(const fs::path& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

const json kBody = {
    {"input",
     json::array({{{"role", "user"},
                   {"content", json::array({{{"type", "input_text"}, {"text", "my key is Bearer abc.DEF-1"}},
                                            {{"type", "input_image"}, {"image_url", "data:image/png;base64,iVBORw0"}},
                                            {{"type", "input_image"}, {"image_url", "https://x.io/a.png"}}})}}})},
    {"password", "hunter2"}};

TEST(RequestDump, WritesRedactedCopiesIntoAPrivateFolder) {
    TempHome home;
    RequestDump::write(kBody);
    const std::string last = testing::readAll(RequestDump::lastRequestPath());
    const json dumped = json::parse(last);
    EXPECT_EQ(dumped["input"][0]["content"][1]["image_url"], "<base64-image redacted>");
    EXPECT_EQ(dumped["input"][0]["content"][2]["image_url"], "https://x.io/a.png");
    EXPECT_EQ(dumped["password"], "<redacted>");
    EXPECT_EQ(dumped["input"][0]["content"][0]["text"], "my key is Bearer <redacted>");
    EXPECT_EQ(last, dumped.dump(2));

    const std::string log = testing::readAll(RequestDump::requestLogPath());
    EXPECT_EQ(log.find("hunter2"), std::string::npos);
    EXPECT_EQ(log.find("abc.DEF"), std::string::npos);
    EXPECT_EQ(log.back(), '\n');
    EXPECT_EQ(log.substr(log.find(' ') + 1), dumped.dump() + "\n");
    EXPECT_EQ(modeOf(RequestDump::folder()), 0700u);
    EXPECT_EQ(modeOf(RequestDump::lastRequestPath()), 0600u);
    EXPECT_EQ(modeOf(RequestDump::requestLogPath()), 0600u);
    EXPECT_EQ(RequestDump::folder().parent_path(), home.appFolder());
}

TEST(RequestDump, NeverWritesThroughALink) {
    TempHome home;
    const fs::path target = home.root() / "target";
    testing::writeAll(target, "untouched");
    fs::create_directories(RequestDump::folder());
    fs::create_symlink(target, RequestDump::lastRequestPath());
    fs::create_symlink(target, RequestDump::requestLogPath());
    RequestDump::write(kBody);
    EXPECT_EQ(testing::readAll(target), "untouched");
}

TEST(RequestDump, ACopyOfARequestThatACrashLeftMidWriteGoesWithTheFirstDump) {
    TempHome home;
    const fs::path folder = RequestDump::folder();
    const fs::path leftover = folder / ".cv-last-request.json.tmp-0123456789ab";
    const fs::path other = folder / ".cv-other.json.tmp-0123456789ab";
    testing::writeAll(leftover, R"({"password": "hunter2")");
    testing::writeAll(other, "keep");
    RequestDump::write(kBody);
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_EQ(testing::readAll(other), "keep");
    EXPECT_EQ(json::parse(testing::readAll(RequestDump::lastRequestPath()))["password"], "<redacted>");
}

TEST(RequestDump, TheRequestLogIsRotatedAtTenMegabytes) {
    TempHome home;
    fs::create_directories(RequestDump::folder());
    testing::writeAll(RequestDump::requestLogPath(), std::string(RequestDump::kMaxLogBytes - 10, 'x'));
    RequestDump::write(kBody);
    fs::path previous = RequestDump::requestLogPath();
    previous += ".1";
    EXPECT_EQ(fs::file_size(previous), RequestDump::kMaxLogBytes - 10);
    EXPECT_LT(fs::file_size(RequestDump::requestLogPath()), 1000u);
    RequestDump::write(kBody);
    EXPECT_EQ(fs::file_size(previous), RequestDump::kMaxLogBytes - 10) << "only a full log is rotated";
}

// Requests still queued when the program exits are written as it exits, with everything their
// writing uses still there.
TEST(RequestDumpDeathTest, RequestsQueuedAtExitAreWrittenWithoutACrash) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempHome home;
    EXPECT_EXIT(
        {
            RequestDump::writeLater(kBody);
            RequestDump::drain();
            for (int i = 0; i < 50; ++i) RequestDump::writeLater(kBody);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace corvane::networking
