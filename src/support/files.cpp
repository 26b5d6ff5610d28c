#include "support/files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <random>
#include <system_error>

#include "platform/clock.h"
#include "platform/log.h"
#include "platform/platform.h"

namespace corvane {

namespace fs = std::filesystem;

namespace {
bool writeAll(int fd, std::string_view bytes) {
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

std::atomic<FlockFunction> flockFunction{nullptr};
std::atomic<LinkFunction> linkFunction{nullptr};

int lockFile(int fd, int operation) {
    const FlockFunction replaced = flockFunction.load();
    return replaced ? replaced(fd, operation) : ::flock(fd, operation);
}

int linkFile(const char* existing, const char* created) {
    const LinkFunction replaced = linkFunction.load();
    return replaced ? replaced(existing, created) : ::link(existing, created);
}

constexpr size_t kSuffixLength = 12;
constexpr std::string_view kTempInfix = ".tmp-";

std::string temporaryNamePrefix(const fs::path& path) {
    return "." + path.filename().string() + std::string(kTempInfix);
}

std::string randomSuffix() {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    static const char* hex = "0123456789abcdef";
    std::string s;
    auto v = rng();
    for (size_t i = 0; i < kSuffixLength; ++i) s += hex[(v >> (i * 4)) & 15];
    return s;
}
}  // namespace

FileRead readFile(const fs::path& path) {
    FileRead result;
    // O_NONBLOCK: a FIFO in the file's place opens at once, and is then refused rather than read.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        result.error = errno;
        result.status = errno == ENOENT || errno == ENOTDIR ? FileRead::Status::missing : FileRead::Status::unreadable;
        return result;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        result.error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        result.status = FileRead::Status::unreadable;
        return result;
    }
    if (st.st_size > 0) result.bytes.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            result.error = errno;
            ::close(fd);
            result.status = FileRead::Status::unreadable;
            result.bytes.clear();
            return result;
        }
        if (n == 0) break;
        result.bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    result.status = FileRead::Status::ok;
    return result;
}

namespace {
FileStamp stampOf(const struct stat& st) {
    return FileStamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                     static_cast<std::int64_t>(st.st_size),
                     static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}
}  // namespace

std::optional<FileStamp> fileStamp(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return stampOf(st);
}

HeldVersion& HeldVersion::operator=(HeldVersion&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        stamp_ = std::exchange(other.stamp_, std::nullopt);
    }
    return *this;
}

HeldVersion::~HeldVersion() {
    if (fd_ >= 0) ::close(fd_);
}

HeldVersion HeldVersion::open(const fs::path& path) {
    HeldVersion version;
    // O_PATH: the inode is held without reading it (a FIFO in the file's place opens at once).
    version.fd_ = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    struct stat st {};
    if (version.fd_ >= 0 && ::fstat(version.fd_, &st) == 0) version.stamp_ = stampOf(st);
    return version;
}

namespace {
// A temporary file of our own, locked for as long as it is written: another copy of the program
// cleaning the folder at its start skips a file it cannot lock. The lock is taken after the
// create, so a cleaner may still have taken the file in between; it is then made anew.
int createLockedTemporary(const fs::path& folder, const fs::path& path, unsigned mode, fs::path& temp) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        temp = folder / (temporaryNamePrefix(path) + randomSuffix());
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0) return -1;
        // A file system without locks leaves the write unlocked, as it was before.
        while (lockFile(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        struct stat st {};
        if (::fstat(fd, &st) == 0 && st.st_nlink > 0) return fd;
        ::close(fd);
    }
    errno = EAGAIN;
    return -1;
}
}  // namespace

namespace {
bool namesFile(const fs::path& path, int fd) {
    struct stat opened {}, named{};
    return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

// The name taken empty and locked, for a rename onto it where no hard link can be made. A cleaner
// may take the claim for a leftover between its create and its lock: a claim no longer named when
// locked is not ours, and the name is claimed again, refused (EEXIST) once another writer took it.
int claimName(const fs::path& path, unsigned mode) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int claim = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (claim < 0) return -1;
        while (lockFile(claim, LOCK_EX) != 0 && errno == EINTR) {
        }
        if (namesFile(path, claim)) return claim;
        ::close(claim);
    }
    errno = EAGAIN;
    return -1;
}
}  // namespace

namespace {
// The owner may always read what the program keeps; any other permission the replaced file
// lacked, the new one lacks too.
unsigned keptMode(const fs::path& path, unsigned mode) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return mode;
    return mode & ((st.st_mode & 0777) | 0400);
}
}  // namespace

namespace {
// The version at the path, opened and locked, while it is still `version`; -1 when another writer
// replaced it first or kept it locked for kLockWait (said in `version`), or it could not be opened.
int claimVersion(const fs::path& path, ReplacedVersion& version) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    auto refuse = [&](ReplacedVersion::Refusal refusal) {
        const int error = errno;
        if (fd >= 0) ::close(fd);
        version.refusal = refusal;
        errno = error;
        return -1;
    };
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? refuse(ReplacedVersion::Refusal::replacedMeanwhile) : -1;
    auto& clock = platform::clock();
    const auto deadline = clock.now() + kLockWait;
    for (;;) {
        struct stat opened {};
        if (::fstat(fd, &opened) != 0 || stampOf(opened) != version.stamp)
            return refuse(ReplacedVersion::Refusal::replacedMeanwhile);
        // Without locks the checks below are all there is.
        if (lockFile(fd, LOCK_EX | LOCK_NB) == 0 || errno == ENOLCK) break;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return refuse(ReplacedVersion::Refusal::none);
        // Another writer of the same version at its rename, or the writer of this one about to let go.
        if (clock.now() >= deadline) return refuse(ReplacedVersion::Refusal::heldByAnother);
        clock.sleep(std::chrono::milliseconds(1));
    }
    if (fileStamp(path) != version.stamp) return refuse(ReplacedVersion::Refusal::replacedMeanwhile);
    return fd;
}

// Renames the temporary file onto the path only while the path holds the version read.
bool replaceVersion(const fs::path& temp, const fs::path& path, ReplacedVersion& version) {
    if (version.stamp) {
        const int claimed = claimVersion(path, version);
        if (claimed < 0) return false;
        const bool renamed = ::rename(temp.c_str(), path.c_str()) == 0;
        const int error = errno;
        ::close(claimed);  // let go only once it is replaced
        errno = error;
        return renamed;
    }
    auto taken = [&] {
        version.refusal = ReplacedVersion::Refusal::replacedMeanwhile;
        errno = EEXIST;
        return false;
    };
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST) return taken();
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system that cannot rename without replacing: a hard link takes only a free name.
    if (linkFile(temp.c_str(), path.c_str()) == 0) {
        ::unlink(temp.c_str());
        return true;
    }
    if (errno == EEXIST) return taken();
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) return taken();
    return ::rename(temp.c_str(), path.c_str()) == 0;  // neither (FAT): what is left is a plain rename
}
}  // namespace

bool writeFileAtomically(const fs::path& path, std::string_view bytes, unsigned mode, FileStamp* written,
                         const std::function<bool()>& mayReplace, ReplacedVersion* replacing) {
    fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    fs::path temp;
    int fd = createLockedTemporary(folder, path, keptMode(path, mode), temp);
    if (fd < 0) return false;
    bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    struct stat st {};
    if (ok && written) ok = ::fstat(fd, &st) == 0;  // a rename keeps the inode and the times
    if (ok && mayReplace && !mayReplace()) {
        ok = false;
        errno = ENOLCK;
    }
    // Renamed while still locked: until then a cleaner could take the file for a leftover.
    if (!ok || !(replacing ? replaceVersion(temp, path, *replacing) : ::rename(temp.c_str(), path.c_str()) == 0)) {
        int error = errno;  // the caller reports why
        ::unlink(temp.c_str());
        ::close(fd);
        errno = error;
        return false;
    }
    ::close(fd);  // the bytes were synced before the rename
    if (written) *written = stampOf(st);
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

bool writeNewFileAtomically(const fs::path& path, std::string_view bytes, unsigned mode) {
    fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    fs::path temp;
    int fd = createLockedTemporary(folder, path, mode, temp);
    if (fd < 0) return false;
    bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    // A hard link fails where the name is taken, as a rename that may not replace does.
    bool linked = ok && linkFile(temp.c_str(), path.c_str()) == 0;
    bool renamed = false;
    if (ok && !linked && errno != EEXIST) {
        // No hard links here: the name is claimed empty, then the whole file renamed onto it. The
        // claim is held locked until then: one nobody holds was left by a writer that was killed.
        const int claim = claimName(path, mode);
        ok = claim >= 0;
        if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
            const int error = errno;
            ::unlink(path.c_str());  // our own empty claim
            errno = error;
            ok = false;
        }
        if (claim >= 0) ::close(claim);
        renamed = ok;
    } else {
        ok = linked;
    }
    const int error = errno;
    if (!renamed) ::unlink(temp.c_str());
    ::close(fd);
    if (!ok) {
        errno = error;
        return false;
    }
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

namespace {
// Without locks a writer cannot say it is at work: its file is taken for a leftover only once
// it is older than any write lasts. File times are the system's, so is the time they are read at.
bool olderThanAnyWrite(const struct stat& st) {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec - st.st_mtim.tv_sec > kLeftoverTemporaryAge.count();
}

// A writer, in this process or another, holds the lock on its temporary file until it is renamed;
// only a file nobody holds is a leftover. `emptyOnly`: only an empty one.
void removeIfUnlocked(const fs::path& file, bool emptyOnly = false) {
    int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat opened {
    }, named{};
    const bool locked = lockFile(fd, LOCK_EX | LOCK_NB) == 0;
    const bool noLocks = !locked && errno == ENOLCK;
    if ((locked || noLocks) && ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
        (!emptyOnly || opened.st_size == 0) && (locked || olderThanAnyWrite(opened)) &&
        ::lstat(file.c_str(), &named) == 0 && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino)
        ::unlink(file.c_str());
    ::close(fd);
}
}  // namespace

namespace {
void removeLeftovers(const fs::path& folder, const std::function<bool(std::string_view)>& written, bool claims);
}  // namespace

void removeLeftoverTemporaryFiles(const fs::path& path) {
    const std::string name = path.filename().string();
    // A store's own file is never taken for a claim, empty or not.
    removeLeftovers(path.parent_path().empty() ? fs::path(".") : path.parent_path(),
                    [&](std::string_view written) { return written == name; }, false);
}

void removeLeftoverTemporaryFiles(const fs::path& folder, const std::function<bool(std::string_view)>& written) {
    removeLeftovers(folder, written, true);
}

namespace {
void removeLeftovers(const fs::path& folder, const std::function<bool(std::string_view)>& written, bool claims) {
    constexpr size_t tail = kTempInfix.size() + kSuffixLength;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        // "." + the written file's name + ".tmp-" + the random suffix, as temporaryNamePrefix names it
        const std::string filename = it->path().filename().string();
        const std::string_view name(filename);
        std::error_code ignored;
        if (name.size() < 2 + tail || name[0] != '.' ||
            name.substr(name.size() - tail, kTempInfix.size()) != kTempInfix) {
            // An empty claim of writeNewFileAtomically that its writer, killed, never filled.
            if (claims && written(name) && it->is_regular_file(ignored) && !it->is_symlink(ignored) &&
                it->file_size(ignored) == 0)
                removeIfUnlocked(it->path(), true);
            continue;
        }
        const std::string_view suffix = name.substr(name.size() - kSuffixLength);
        const bool random = std::all_of(suffix.begin(), suffix.end(),
                                        [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
        if (!random || !written(name.substr(1, name.size() - 1 - tail))) continue;
        if (it->is_regular_file(ignored) && !it->is_symlink(ignored)) removeIfUnlocked(it->path());
    }
}
}  // namespace

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        refusal_ = std::exchange(other.refusal_, std::nullopt);
        lockPath_ = std::move(other.lockPath_);
    }
    return *this;
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing the last descriptor lets the lock go
}

namespace {
// Every holder writes a token of its own into the lock file as it takes it: a waiter sees the
// lock change hands even while the file it guards does not change (a read). A lock file that
// can only be read keeps its token; the guarded file's changes then tell alone.
std::string holderToken(int fd) {
    char token[kSuffixLength];
    const ssize_t n = ::pread(fd, token, sizeof token, 0);
    return n > 0 ? std::string(token, static_cast<size_t>(n)) : std::string();
}

void writeHolderToken(int fd) {
    const std::string token = randomSuffix();
    (void)!::pwrite(fd, token.data(), token.size(), 0);
}

// The last refusal of each lock while its holder kept it: the requests that waited behind it
// are answered at once rather than each waiting the whole bound again.
struct Progress {
    std::string token;
    std::optional<FileStamp> guarded;
    bool operator==(const Progress&) const = default;
};
struct Refusal {
    Progress seen;
    platform::Clock::TimePoint at;
};
std::mutex refusalsMutex;
std::map<std::string, Refusal> refusals;

bool refusedJustNow(const fs::path& lockPath, const Progress& now, platform::Clock::TimePoint time,
                    std::chrono::milliseconds wait) {
    const std::lock_guard lock(refusalsMutex);
    const auto found = refusals.find(lockPath.string());
    return found != refusals.end() && found->second.seen == now && time - found->second.at < wait;
}

void rememberRefusal(const fs::path& lockPath, const Progress& seen, platform::Clock::TimePoint time) {
    const std::lock_guard lock(refusalsMutex);
    refusals[lockPath.string()] = Refusal{seen, time};
}

void forgetRefusal(const fs::path& lockPath) {
    const std::lock_guard lock(refusalsMutex);
    refusals.erase(lockPath.string());
}
}  // namespace

std::string LockedFile::lostReason() const {
    return "its lock file " + lockPath.filename().string() + " was removed or replaced while this copy held it";
}

bool LockedFile::stillNamed() const {
    struct stat named {};
    return ::lstat(lockPath.c_str(), &named) == 0 && static_cast<std::uint64_t>(named.st_dev) == device &&
           static_cast<std::uint64_t>(named.st_ino) == inode;
}

std::optional<LockedFile> FileLock::lockedFile() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return std::nullopt;
    return LockedFile{lockPath_, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

FileLock FileLock::acquire(const fs::path& path) { return acquire(path, kLockWait); }

FileLock FileLock::acquire(const fs::path& path, std::chrono::milliseconds wait, std::stop_token ending) {
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    const std::string name = "." + path.filename().string() + ".lock";
    const fs::path lockPath = folder / name;
    auto refused = [&](const std::string& why) {
        return FileLock(name + " could not be used to lock " + path.filename().string() + ": " + why);
    };
    auto& clock = platform::clock();
    const auto start = clock.now();
    const auto latest = start + wait * kLockWaitRounds;
    auto deadline = start + wait;
    bool firstTry = true;
    std::optional<platform::Clock::TimePoint> endingSince;  // the first try that found the program ending
    // Once for each lock file found at the name: one deleted or replaced meanwhile is no lock.
    for (;;) {
        // Never through a symbolic link: it may point at any file. O_NONBLOCK: a FIFO put in its
        // place must not stall the open.
        constexpr int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
        int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | flags, 0600);
        if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EISDIR || errno == EROFS)) {
            const int first = errno;  // the cause; a read-only retry in an empty folder finds no file
            fd = ::open(lockPath.c_str(), O_RDONLY | flags);
            if (fd < 0) errno = first;
        }
        if (fd < 0) return refused(std::generic_category().message(errno));
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) {
            ::close(fd);
            return refused("it is neither a file nor a folder");
        }
        Progress seen{holderToken(fd), fileStamp(path)};
        for (;;) {
            if (lockFile(fd, LOCK_EX | LOCK_NB) == 0) {
                if (!namesFile(lockPath, fd)) break;  // locked a file no longer at the name
                writeHolderToken(fd);
                forgetRefusal(lockPath);
                return FileLock(fd, lockPath);
            }
            const int error = errno;
            if (error == EINTR) continue;
            if (error != EWOULDBLOCK) {
                ::close(fd);
                if (error == ENOLCK) {  // a file system without locks: the writes go uncoordinated
                    static std::once_flag said;
                    std::call_once(said, [&] {
                        log("[FileLock] The file system of " + folder.string() +
                            " has no locks: copies of Corvane sharing it are not kept apart");
                    });
                    return {};
                }
                return refused(std::generic_category().message(error));
            }
            const auto now = clock.now();
            if (firstTry && refusedJustNow(lockPath, seen, now, wait)) {
                ::close(fd);
                return FileLock(std::string(kFolderHeldByAnotherCopy));
            }
            firstTry = false;
            // Only a holder that lets nothing move for the whole bound is refused.
            if (Progress moved{holderToken(fd), fileStamp(path)}; moved != seen) {
                seen = std::move(moved);
                deadline = std::min(now + wait, latest);
            }
            if (now >= deadline) {
                ::close(fd);
                rememberRefusal(lockPath, seen, now);
                return FileLock(std::string(kFolderHeldByAnotherCopy));
            }
            if (!namesFile(lockPath, fd)) break;  // wait on what the name holds now
            if (ending.stop_requested()) {
                if (!endingSince) endingSince = now;
                if (now - *endingSince >= kLockWaitAtEnding) {
                    ::close(fd);
                    return FileLock(std::string(kLockWaitEnded));
                }
                clock.sleep(std::chrono::milliseconds(5));
            }
            else
                clock.sleepUnlessStopped(std::chrono::milliseconds(5), ending);
        }
        ::close(fd);
        if (clock.now() >= deadline) return FileLock(std::string(kFolderHeldByAnotherCopy));
    }
}

void FileLock::removeUnheld(const fs::path& path) {
    const FileLock held = acquire(path, std::chrono::milliseconds(0));
    if (held.held() && namesFile(held.lockPath_, held.fd_)) ::unlink(held.lockPath_.c_str());
}

void setFlockFunctionForTesting(FlockFunction flock) { flockFunction.store(flock); }

void setLinkFunctionForTesting(LinkFunction link) { linkFunction.store(link); }

void refuseWritesPastFileSizeLimit() { ::signal(SIGXFSZ, SIG_IGN); }

bool createPrivateFolders(const fs::path& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const fs::path parent = folder.parent_path();
    if (!parent.empty() && parent != folder && !createPrivateFolders(parent)) return false;
    if (::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) return ::stat(folder.c_str(), &st) == 0;
    return false;
}

namespace {
void narrow(const fs::path& path, const struct stat& st) {
    if ((st.st_mode & 077) != 0) ::chmod(path.c_str(), st.st_mode & 07700);
}

void narrowEntries(const fs::path& folder, int depthLeft) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0) continue;
        if (S_ISREG(st.st_mode)) narrow(it->path(), st);
        if (!S_ISDIR(st.st_mode)) continue;
        narrow(it->path(), st);
        if (depthLeft > 0) narrowEntries(it->path(), depthLeft - 1);
    }
}
}  // namespace

void narrowFolderToOwner(const fs::path& folder) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) narrow(folder, st);
}

void narrowToOwner(const fs::path& folder, int maxDepth) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
    narrow(folder, st);
    narrowEntries(folder, maxDepth);
}

bool appendToPrivateFile(const fs::path& path, std::string_view bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = writeAll(fd, bytes);
    return ::close(fd) == 0 && ok;
}

bool writePrivateFile(const fs::path& path, std::string_view bytes) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        errno = ELOOP;
        return false;
    }
    return writeFileAtomically(path, bytes, 0600);
}

}  // namespace corvane
