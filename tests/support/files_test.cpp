#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "support/files.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

TEST(Files, ReadTellsMissingFromUnreadable) {
    testing::TempHome home;
    EXPECT_EQ(readFile(home.root() / "none").status, FileRead::Status::missing);
    auto f = home.root() / "f";
    testing::writeAll(f, "x");
    if (::geteuid() != 0) {  // root reads everything
        ::chmod(f.c_str(), 0);
        EXPECT_EQ(readFile(f).status, FileRead::Status::unreadable);
    }
    EXPECT_EQ(readFile(home.root()).status, FileRead::Status::unreadable);  // a folder
}

TEST(Files, AtomicWriteLeavesOldOrNewContentEvenWhenTheWriterIsKilled) {
    testing::TempHome home;
    auto f = home.root() / "store.json";
    const std::string oldText(200000, 'a'), newText(200000, 'b');
    ASSERT_TRUE(writeFileAtomically(f, oldText));
    for (int round = 0; round < 20; ++round) {
        pid_t child = ::fork();
        if (child == 0) {
            for (;;) writeFileAtomically(f, (round % 2) ? oldText : newText);
        }
        ::usleep(static_cast<useconds_t>(1000 + round * 300));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        auto text = readFile(f).bytes;
        EXPECT_TRUE(text == oldText || text == newText) << "torn file, size " << text.size();
    }
}

TEST(Files, PrivateFilesAre0600RefuseLinksAndAppendWithoutLosingLines) {
    testing::TempHome home;
    auto f = home.root() / "trace.log";
    std::vector<std::jthread> writers;
    for (int t = 0; t < 8; ++t)
        writers.emplace_back([&] {
            for (int i = 0; i < 100; ++i) appendToPrivateFile(f, "line\n");
        });
    writers.clear();
    struct stat st {};
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(testing::readAll(f).size(), 800u * 5);

    auto target = home.root() / "target";
    testing::writeAll(target, "keep");
    auto link = home.root() / "link";
    fs::create_symlink(target, link);
    EXPECT_FALSE(appendToPrivateFile(link, "evil"));
    EXPECT_FALSE(writePrivateFile(link, "evil"));
    EXPECT_EQ(testing::readAll(target), "keep");

    auto p = home.root() / "probe.json";
    ASSERT_TRUE(writePrivateFile(p, "{}"));
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace corvane
