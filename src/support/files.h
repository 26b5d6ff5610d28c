#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>

namespace corvane {

struct FileRead {
    enum class Status { ok, missing, unreadable };
    Status status = Status::missing;
    std::string bytes;
    int error = 0;  // errno of a failed read
    bool ok() const { return status == Status::ok; }
};

// A file that is not a regular one (a FIFO, a device) is unreadable: it is never waited on.
FileRead readFile(const std::filesystem::path& path);

// One version of a file on disk. Every replacement of the file changes the inode; a rewrite in
// place changes the size or the modification time.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNanoseconds = 0;
    bool operator==(const FileStamp&) const = default;
};

// The stamp of what is at the path now (following links); absent when nothing can be stat'ed there.
std::optional<FileStamp> fileStamp(const std::filesystem::path& path);

// One version of a file held open, so that its stamp names no other: while a descriptor of it
// stays open, the file system cannot give its inode to a file that replaces it, and a
// replacement written within the same clock tick and of the same size still shows.
class HeldVersion {
public:
    HeldVersion() = default;
    HeldVersion(HeldVersion&& other) noexcept
        : fd_(std::exchange(other.fd_, -1)), stamp_(std::exchange(other.stamp_, std::nullopt)) {}
    HeldVersion& operator=(HeldVersion&& other) noexcept;
    HeldVersion(const HeldVersion&) = delete;
    HeldVersion& operator=(const HeldVersion&) = delete;
    ~HeldVersion();

    // What is at the path now; no stamp when nothing can be opened there.
    static HeldVersion open(const std::filesystem::path& path);
    const std::optional<FileStamp>& stamp() const { return stamp_; }

private:
    int fd_ = -1;
    std::optional<FileStamp> stamp_;
};

// The version of a file a write may replace: the one its writer read. Of writers that read the
// same version only one replaces it, whatever became of the lock files meant to keep them apart:
// the version is held locked from the check that the path still names it to the rename, and a
// file that was missing is only created where nothing is yet.
struct ReplacedVersion {
    std::optional<FileStamp> stamp;  // as read; none: nothing was at the path
    enum class Refusal { none, replacedMeanwhile, heldByAnother };
    // Why the write was refused for it: another writer replaced the version first (or created the
    // file), or kept it locked for kLockWait.
    Refusal refusal = Refusal::none;
};

// Replaces the file atomically: a temporary file in the same folder, locked while it is written,
// fsync, rename, fsync of the folder. A reader sees the old or the new contents, never a mixture.
// The file gets `mode` (less the umask), narrowed to what the file it replaces allowed: a
// permission the user took away stays away; only the user may read what the program keeps.
// `written`, when given, receives the stamp of the file written. `mayReplace`, when given, is
// asked last before the rename; false leaves the file as it was (errno ENOLCK). `replacing`,
// when given, is the only version the write may replace.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, unsigned mode = 0600,
                         FileStamp* written = nullptr, const std::function<bool()>& mayReplace = {},
                         ReplacedVersion* replacing = nullptr);

// As writeFileAtomically, but only where nothing is at the path yet: the name is taken
// exclusively, so that two writers choosing the same free name never replace each other's file.
// False with errno EEXIST when the name was taken. Where no hard link can be made (FAT, exFAT)
// the name is claimed with an exclusive create and the whole file renamed onto the claim.
bool writeNewFileAtomically(const std::filesystem::path& path, std::string_view bytes, unsigned mode = 0600);

// Removes the temporary files that an interrupted writeFileAtomically of `path` left beside it
// (a crash between create and rename): only regular files named exactly as it names them, and
// only those no writer holds: another copy of the program writing into the same folder keeps
// its temporary file. Where the file system has no locks, only those older than
// kLeftoverTemporaryAge go: no write takes that long.
void removeLeftoverTemporaryFiles(const std::filesystem::path& path);
// The same for a writer of many files in one folder: the leftovers of every file whose name
// `written` accepts, and such files left empty that nobody holds (the claim of a
// writeNewFileAtomically killed before it filled it, where hard links fail).
void removeLeftoverTemporaryFiles(const std::filesystem::path& folder,
                                  const std::function<bool(std::string_view fileName)>& written);

inline constexpr std::chrono::seconds kLeftoverTemporaryAge{3600};

// The exclusive lock that every read-modify-write of a store file holds, from its read to its
// rename, against the other copies of the program sharing the folder (and other stores of the
// file in this process). It is taken on ".<name>.lock" beside the file, which is never removed:
// a lock on a file that may be replaced is no lock. flock needs no write access, so a lock file
// that can only be read still locks. Where the file system has no locks nothing is held and the
// writes go as they would alone; where no lock can be had for any other reason (the lock file
// is a symbolic link or cannot be opened, another copy holds it and makes no progress for
// kLockWait) the lock says why, and the write it guards is refused.
// The file a lock was taken on. A lock file deleted or replaced while held lets another copy
// take a new lock beside this one: the name must still name the file locked.
struct LockedFile {
    std::filesystem::path lockPath;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool stillNamed() const;
    // Why a write guarded by a lock that is no longer named is refused.
    std::string lostReason() const;
};

class FileLock {
public:
    FileLock() = default;
    FileLock(FileLock&& other) noexcept
        : fd_(std::exchange(other.fd_, -1)),
          refusal_(std::exchange(other.refusal_, std::nullopt)),
          lockPath_(std::move(other.lockPath_)) {}
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

    bool held() const { return fd_ >= 0; }
    // Why no lock could be had where the file system has locks; absent when held or without locks.
    const std::optional<std::string>& refusal() const { return refusal_; }
    // What is held, to ask before a write whether it is still the lock; absent when nothing is.
    std::optional<LockedFile> lockedFile() const;

    // Waits for whoever holds the lock of `path` while the holders make progress (the lock
    // changes hands or the file changes); refused once nothing has moved for `wait` on the
    // platform clock, and in any case after kLockWaitRounds times `wait`: copies that keep
    // handing the lock on do not hold a waiter for good. After such a refusal the requests
    // behind it are answered at once while the same holder keeps it, so that none waits longer
    // than the bound. A file system without locks is logged once. Once `ending` is requested the
    // wait goes on for kLockWaitAtEnding at the most (then kLockWaitEnded), so that the program
    // ends without waiting on another copy; a lock nobody holds is still taken.
    static FileLock acquire(const std::filesystem::path& path);
    static FileLock acquire(const std::filesystem::path& path, std::chrono::milliseconds wait,
                            std::stop_token ending = {});
    // Removes the lock file of `path` where nobody holds it (taken and removed while held, so that
    // a copy waiting on it takes the next one); left where it is held or the file system has no locks.
    static void removeUnheld(const std::filesystem::path& path);

private:
    FileLock(int fd, std::filesystem::path lockPath) : fd_(fd), lockPath_(std::move(lockPath)) {}
    explicit FileLock(std::string refusal) : refusal_(std::move(refusal)) {}
    int fd_ = -1;
    std::optional<std::string> refusal_;
    std::filesystem::path lockPath_;
};

// Long enough for another copy's slowest write of a large store; short enough that a window
// asking on its UI thread answers while the copy holding the lock is stopped.
inline constexpr std::chrono::milliseconds kLockWait{3000};
inline constexpr int kLockWaitRounds = 4;
inline constexpr std::string_view kFolderHeldByAnotherCopy = "another copy of Corvane holds the folder";
// Another copy's write holds its lock for milliseconds: the last writes of an ending (a stopped
// turn's last entry) still get past one, while a copy that keeps the lock does not hold the end.
inline constexpr std::chrono::milliseconds kLockWaitAtEnding{250};
inline constexpr std::string_view kLockWaitEnded =
    "Corvane is ending and does not wait for another copy of Corvane, which holds the folder";

// The flock(2) every lock here goes through; tests put in one that answers as a file system
// without locks would. Null puts the system's back.
using FlockFunction = int (*)(int fd, int operation);
void setFlockFunctionForTesting(FlockFunction flock);
// The same for link(2), for a file system without hard links.
using LinkFunction = int (*)(const char* existing, const char* created);
void setLinkFunctionForTesting(LinkFunction link);

// Called once at the start of each program: a write past the file-size limit (ulimit -f) then
// fails with EFBIG and is refused with its reason, as on a full disk, rather than ending the
// program (SIGXFSZ) with the request unanswered.
void refuseWritesPastFileSizeLimit();

// Creates the folder and whichever of its parents are missing, each new one 0700 (less the umask).
// Whether the folder exists afterwards.
bool createPrivateFolders(const std::filesystem::path& folder);

// Takes the group's and others' permissions off the folder and everything in it, at most
// `maxDepth` folders down; symbolic links are neither changed nor followed.
void narrowToOwner(const std::filesystem::path& folder, int maxDepth = 8);
// The same for one folder alone. Only takes permissions away: a folder the user made read-only
// stays so.
void narrowFolderToOwner(const std::filesystem::path& folder);

// For files in shared folders such as /tmp: created 0600, never through a symbolic link.
// Appends with O_APPEND, so concurrent writers never replace each other's lines.
bool appendToPrivateFile(const std::filesystem::path& path, std::string_view bytes);
// Replaces a private file (0600, refusing a symbolic link at the path).
bool writePrivateFile(const std::filesystem::path& path, std::string_view bytes);

}  // namespace corvane
