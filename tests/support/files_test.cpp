#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support/files.h"
#include "test_support/manual_clock.h"
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

// Two copies of the program on one application folder: the one starting cleans the leftovers of
// a crash, never the temporary file the other is writing at that moment.
TEST(Files, CleaningLeftoversSparesAWriteUnderWayInAnotherProcess) {
    testing::TempHome home;
    const auto folder = home.root();
    const auto image = folder / "drop-1.png";
    const std::string bytes(1 << 20, 'p');
    testing::writeAll(folder / ".drop-0.png.tmp-0123456789ab", "left by a crash");
    const auto isDrop = [](std::string_view name) { return name.starts_with("drop-"); };

    pid_t writer = ::fork();
    if (writer == 0) {
        bool all = true;
        for (int i = 0; i < 30; ++i) all = writeFileAtomically(image, bytes) && all;
        ::_exit(all ? 0 : 1);
    }
    int status = 0;
    for (;;) {
        removeLeftoverTemporaryFiles(folder, isDrop);
        if (::waitpid(writer, &status, WNOHANG) == writer) break;
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a write lost its temporary file to the cleaner";
    EXPECT_EQ(testing::readAll(image), bytes);
    EXPECT_FALSE(fs::exists(folder / ".drop-0.png.tmp-0123456789ab"));
}

// The same within one process: a file its writer still holds is not a leftover.
TEST(Files, ATemporaryFileItsWriterHoldsIsKeptAndAnUnheldOneRemoved) {
    testing::TempHome home;
    const auto held = home.root() / ".store.json.tmp-0123456789ab";
    const auto left = home.root() / ".store.json.tmp-ba9876543210";
    testing::writeAll(held, "being written");
    testing::writeAll(left, "left by a crash");
    const int fd = ::open(held.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);

    removeLeftoverTemporaryFiles(home.root() / "store.json");
    EXPECT_TRUE(fs::exists(held));
    EXPECT_FALSE(fs::exists(left));
    ::close(fd);
    removeLeftoverTemporaryFiles(home.root() / "store.json");
    EXPECT_FALSE(fs::exists(held));
}

// A network mount without locks: flock answers ENOLCK. Writes still go; the cleaner cannot tell
// a crashed writer's file from one being written, and goes by age.
TEST(Files, WithoutLocksOnlyLeftoversOlderThanAnyWriteAreRemoved) {
    struct NoLocks {
        NoLocks() {
            setFlockFunctionForTesting([](int, int) {
                errno = ENOLCK;
                return -1;
            });
        }
        ~NoLocks() { setFlockFunctionForTesting(nullptr); }
    } noLocks;
    testing::TempHome home;
    const auto store = home.root() / "store.json";
    const auto crashed = home.root() / ".store.json.tmp-0123456789ab";
    const auto recent = home.root() / ".store.json.tmp-ba9876543210";
    testing::writeAll(crashed, "left by a crash");
    testing::writeAll(recent, "perhaps being written");
    const auto age = kLeftoverTemporaryAge + std::chrono::seconds(60);
    const timespec times[2] = {{.tv_sec = ::time(nullptr) - age.count(), .tv_nsec = 0},
                               {.tv_sec = ::time(nullptr) - age.count(), .tv_nsec = 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, crashed.c_str(), times, 0), 0);

    removeLeftoverTemporaryFiles(store);
    EXPECT_FALSE(fs::exists(crashed));
    EXPECT_TRUE(fs::exists(recent));

    EXPECT_FALSE(FileLock::acquire(store).held());
    EXPECT_FALSE(FileLock::acquire(store).refusal()) << "only a file system without locks runs unlocked";
    ASSERT_TRUE(writeFileAtomically(store, "{}"));
    EXPECT_EQ(testing::readAll(store), "{}");
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

// A file that already exists is replaced in the program's mode, but never with a permission the
// user took away from it.
TEST(Files, AReplacedFileKeepsANarrowerModeItsUserChose) {
    testing::TempHome home;
    const auto f = home.root() / "store.json";
    struct Case {
        unsigned before, after;
    };
    for (const Case c : {Case{0400, 0400}, Case{0600, 0600}, Case{0644, 0600}, Case{0200, 0600}}) {
        SCOPED_TRACE(c.before);
        testing::writeAll(f, "old");
        ASSERT_EQ(::chmod(f.c_str(), c.before), 0);
        ASSERT_TRUE(writeFileAtomically(f, "new"));
        struct stat st {};
        ASSERT_EQ(::stat(f.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, c.after);
        EXPECT_EQ(testing::readAll(f), "new");
    }
}

// FAT and exFAT make no hard links: the name is still taken exclusively, and whole.
TEST(Files, ANewFileWhereHardLinksFailIsStillWrittenAndItsNameTakenOnce) {
    struct NoLinks {
        NoLinks() {
            setLinkFunctionForTesting([](const char*, const char*) {
                errno = EPERM;
                return -1;
            });
        }
        ~NoLinks() { setLinkFunctionForTesting(nullptr); }
    } noLinks;
    testing::TempHome home;
    const auto f = home.root() / "turn.json";
    ASSERT_TRUE(writeNewFileAtomically(f, "first")) << std::generic_category().message(errno);
    EXPECT_FALSE(writeNewFileAtomically(f, "second"));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(testing::readAll(f), "first");
    EXPECT_EQ(std::distance(fs::directory_iterator(home.root()), fs::directory_iterator()), 1) << "a leftover";

    // The empty claim of a writer killed before its rename goes at the next start; one a writer
    // still holds, and an empty file of another name, stay.
    const auto killed = home.root() / "killed.json", held = home.root() / "held.json", other = home.root() / "notes";
    for (const auto& file : {killed, held, other}) testing::writeAll(file, "");
    const int holder = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
    ::flock(holder, LOCK_EX);
    removeLeftoverTemporaryFiles(home.root(), [](std::string_view name) { return name.ends_with(".json"); });
    ::close(holder);
    EXPECT_FALSE(fs::exists(killed)) << "an empty log left by a killed writer stays";
    EXPECT_TRUE(fs::exists(held));
    EXPECT_TRUE(fs::exists(other));
    EXPECT_EQ(testing::readAll(f), "first");
}

// Another copy's first write sweeps the folder of empty claims at the moment a writer has made
// its claim and not yet locked it, and a third writer then takes the free name: the first writer
// must not rename onto the third's file, and says the name was taken.
struct SweepBeforeClaimLock {
    static inline fs::path claim;
    static inline bool fired = false;
    static inline bool thirdWritten = false;
    static int flock(int fd, int operation) {
        char target[4096] = {};
        const std::string link = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (!fired && operation == LOCK_EX && n > 0 && fs::path(std::string(target, n)) == claim) {
            fired = true;
            removeLeftoverTemporaryFiles(claim.parent_path(), [](std::string_view name) { return name.ends_with(".json"); });
            thirdWritten = writeNewFileAtomically(claim, "third");
        }
        return ::flock(fd, operation);
    }
};

TEST(Files, AClaimSweptBeforeItsWriterLockedItIsNotRenamedOntoAndTheWriteIsRefused) {
    testing::TempHome home;
    SweepBeforeClaimLock::claim = fs::canonical(home.root()) / "turn.json";
    SweepBeforeClaimLock::fired = SweepBeforeClaimLock::thirdWritten = false;
    setLinkFunctionForTesting([](const char*, const char*) {
        errno = EPERM;
        return -1;
    });
    setFlockFunctionForTesting(&SweepBeforeClaimLock::flock);
    const bool firstWritten = writeNewFileAtomically(SweepBeforeClaimLock::claim, "first");
    const int error = errno;
    setFlockFunctionForTesting(nullptr);
    setLinkFunctionForTesting(nullptr);
    ASSERT_TRUE(SweepBeforeClaimLock::fired);
    ASSERT_TRUE(SweepBeforeClaimLock::thirdWritten);
    EXPECT_EQ(testing::readAll(SweepBeforeClaimLock::claim), "third") << "one writer's file replaced another's";
    EXPECT_FALSE(firstWritten) << "a write that did not land was told written";
    EXPECT_EQ(error, EEXIST);
    EXPECT_EQ(std::distance(fs::directory_iterator(home.root()), fs::directory_iterator()), 1) << "a leftover";
}

// What the flock seam does for the lock tests: another copy's doings at the moment a lock is tried.
struct Rival {
    static inline fs::path lockPath;
    static inline std::atomic<int> calls{0};
    static inline int holder = -1;         // the other copy's descriptor of the lock file
    static inline int replaceOnCall = -1;  // the lock file deleted and made anew, held by the other copy
    static inline int progressEvery = 0;   // the other copy takes the lock again every so many tries
    static inline int letGoOnCall = -1;    // the other copy lets go
    static inline int endOnCall = -1;      // the program is told to end, as this try is made
    static inline std::stop_source* ending = nullptr;
    static void hold() {
        if (holder >= 0) ::close(holder);
        holder = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ::flock(holder, LOCK_EX);
        (void)!::pwrite(holder, "other-holder", 12, 0);
    }
    static int flock(int fd, int operation) {
        const int call = calls++;
        if (call == replaceOnCall) {
            ::unlink(lockPath.c_str());
            hold();
        }
        if (progressEvery > 0 && call % progressEvery == 0) {
            const std::string token = "holder-" + std::to_string(call);
            (void)!::pwrite(holder, token.data(), token.size(), 0);
        }
        if (call == letGoOnCall) ::close(std::exchange(holder, -1));
        if (call == endOnCall && ending) ending->request_stop();
        return ::flock(fd, operation);
    }
    explicit Rival(const fs::path& path) {
        lockPath = path;
        calls = 0;
        replaceOnCall = letGoOnCall = endOnCall = -1;
        progressEvery = 0;
        ending = nullptr;
        setFlockFunctionForTesting(&Rival::flock);
    }
    ~Rival() {
        setFlockFunctionForTesting(nullptr);
        if (holder >= 0) ::close(std::exchange(holder, -1));
    }
};

// A store in a folder of its own whose lock another copy, played by the flock seam, may hold.
struct FileLockBesideAnotherCopy : ::testing::Test {
    testing::TempHome home;
    testing::ManualClock clock;
    platform::ScopedServices services{{.clock = &clock}};
    const fs::path store = home.root() / "store.json";
    Rival rival{home.root() / ".store.json.lock"};
};

// A lock taken on a lock file that another copy deleted and made anew meanwhile is no lock: it is
// taken on what the name holds now, which the other copy holds.
TEST_F(FileLockBesideAnotherCopy, ALockFileReplacedAsItIsLockedIsTakenAgainOnWhatTheNameHolds) {
    Rival::replaceOnCall = 0;
    const FileLock lock = FileLock::acquire(store, std::chrono::milliseconds(100));
    EXPECT_FALSE(lock.held()) << "two copies hold the lock at once";
    EXPECT_EQ(lock.refusal().value_or(""), kFolderHeldByAnotherCopy);

    ::close(std::exchange(Rival::holder, -1));
    const FileLock again = FileLock::acquire(store, std::chrono::milliseconds(100));
    ASSERT_TRUE(again.held());
    ASSERT_TRUE(again.lockedFile());
    EXPECT_TRUE(again.lockedFile()->stillNamed());
    ::unlink((home.root() / ".store.json.lock").c_str());
    EXPECT_FALSE(again.lockedFile()->stillNamed());
}

// The bound is for a copy that holds the lock and lets nothing move: a folder busy with copies
// that take turns is waited on, and the requests queued behind a refusal are not each made to
// wait the whole bound again.
TEST_F(FileLockBesideAnotherCopy, OnlyAHolderThatMakesNoProgressForTheWholeBoundIsGivenUpOn) {
    Rival::hold();

    // Turns taken every 100 tries (half a second) for ten seconds, then the lock let go.
    Rival::progressEvery = 100;
    Rival::letGoOnCall = 2000;
    auto start = clock.now();
    EXPECT_TRUE(FileLock::acquire(store).held()) << "refused while the other copies made progress";
    EXPECT_GE(clock.now() - start, std::chrono::seconds(9));

    // Copies that keep handing the lock on for good: the wait has an overall bound all the same.
    Rival::calls = 0;
    Rival::letGoOnCall = 20000;  // 100 s
    Rival::hold();
    start = clock.now();
    EXPECT_EQ(FileLock::acquire(store).refusal().value_or(""), kFolderHeldByAnotherCopy);
    EXPECT_LE(clock.now() - start, kLockWait * kLockWaitRounds + std::chrono::milliseconds(100));
    ::close(std::exchange(Rival::holder, -1));

    Rival::calls = 0;
    Rival::progressEvery = 0;
    Rival::letGoOnCall = -1;
    Rival::hold();
    start = clock.now();
    EXPECT_EQ(FileLock::acquire(store).refusal().value_or(""), kFolderHeldByAnotherCopy);
    EXPECT_GE(clock.now() - start, kLockWait);
    EXPECT_LT(clock.now() - start, kLockWait + std::chrono::milliseconds(100));
    start = clock.now();
    for (int queued = 0; queued < 13; ++queued) EXPECT_FALSE(FileLock::acquire(store).held());
    EXPECT_LT(clock.now() - start, std::chrono::milliseconds(100)) << "each request behind the refusal waited again";

    (void)!::pwrite(Rival::holder, "a new holder", 12, 0);  // the lock changed hands: waited on again
    start = clock.now();
    EXPECT_FALSE(FileLock::acquire(store).held());
    EXPECT_GE(clock.now() - start, kLockWait);
    ::close(std::exchange(Rival::holder, -1));
    EXPECT_TRUE(FileLock::acquire(store).held());
}

// The program ending while another copy holds the lock and keeps making progress: the wait ends
// its moment after the try during which the ending came, in whichever round of the bound that
// falls, and says why. A lock nobody holds is still taken once the program is ending: its write goes through.
TEST_F(FileLockBesideAnotherCopy, TheProgramEndingEndsTheWaitWhereItComes) {
    Rival::hold();
    Rival::progressEvery = 50;
    // Tries are 5 ms apart: the first one, within the first round, the third round, the last.
    for (const int endOnCall : {0, 1, 299, 1300, 2349}) {
        SCOPED_TRACE("ending on try " + std::to_string(endOnCall));
        std::stop_source ending;
        Rival::ending = &ending;
        Rival::endOnCall = endOnCall;
        Rival::calls = 0;
        const FileLock lock = FileLock::acquire(store, kLockWait, ending.get_token());
        EXPECT_EQ(lock.refusal().value_or(""), kLockWaitEnded);
        EXPECT_EQ(Rival::calls, endOnCall + 1 + kLockWaitAtEnding / std::chrono::milliseconds(5))
            << "the wait went on past its moment";
    }
    Rival::ending = nullptr;

    std::stop_source ended;
    ended.request_stop();
    auto start = clock.now();
    EXPECT_EQ(FileLock::acquire(store, kLockWait, ended.get_token()).refusal().value_or(""), kLockWaitEnded);
    EXPECT_EQ(clock.now() - start, kLockWaitAtEnding) << "waited past its moment although the program was ending";
    ::close(std::exchange(Rival::holder, -1));
    EXPECT_TRUE(FileLock::acquire(store, kLockWait, ended.get_token()).held());
}

// In an empty folder the user may not write, the refusal names the permission, not what the
// read-only retry found (no lock file).
TEST(FileLock, ARefusalInAFolderThatCannotBeWrittenNamesThePermission) {
    testing::TempHome home;
    const auto folder = home.root() / "read-only";
    fs::create_directories(folder);
    ::chmod(home.root().c_str(), 0755);
    const bool root = ::geteuid() == 0;
    if (root && ::chown(folder.c_str(), 65534, 65534) != 0) GTEST_SKIP() << "no unprivileged user here";
    ::chmod(folder.c_str(), 0500);
    const pid_t child = ::fork();
    if (child == 0) {
        if (root && ::setuid(65534) != 0) ::_exit(10);
        const std::string refusal = FileLock::acquire(folder / "store.json").refusal().value_or("");
        ::_exit(refusal.find(std::generic_category().message(EACCES)) != std::string::npos ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 10) GTEST_SKIP() << "no unprivileged user here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the refusal does not name the permission";
}

}  // namespace
}  // namespace corvane
