#include "support/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>

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
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.error = errno;
        result.status = errno == ENOENT || errno == ENOTDIR ? FileRead::Status::missing : FileRead::Status::unreadable;
        return result;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        result.bytes.reserve(static_cast<size_t>(st.st_size));
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

bool writeFileAtomically(const fs::path& path, std::string_view bytes, unsigned mode, FileStamp* written) {
    fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    fs::path temp = folder / (temporaryNamePrefix(path) + randomSuffix());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) return false;
    bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    struct stat st {};
    if (ok && written) ok = ::fstat(fd, &st) == 0;  // a rename keeps the inode and the times
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        int error = errno;  // the caller reports why
        ::unlink(temp.c_str());
        errno = error;
        return false;
    }
    if (written) *written = stampOf(st);
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

void removeLeftoverTemporaryFiles(const fs::path& path) {
    const std::string name = path.filename().string();
    removeLeftoverTemporaryFiles(path.parent_path().empty() ? fs::path(".") : path.parent_path(),
                                 [&](std::string_view written) { return written == name; });
}

void removeLeftoverTemporaryFiles(const fs::path& folder, const std::function<bool(std::string_view)>& written) {
    constexpr size_t tail = kTempInfix.size() + kSuffixLength;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        // "." + the written file's name + ".tmp-" + the random suffix, as temporaryNamePrefix names it
        const std::string filename = it->path().filename().string();
        const std::string_view name(filename);
        if (name.size() < 2 + tail || name[0] != '.' ||
            name.substr(name.size() - tail, kTempInfix.size()) != kTempInfix)
            continue;
        const std::string_view suffix = name.substr(name.size() - kSuffixLength);
        const bool random = std::all_of(suffix.begin(), suffix.end(),
                                        [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
        if (!random || !written(name.substr(1, name.size() - 1 - tail))) continue;
        std::error_code ignored;
        if (it->is_regular_file(ignored) && !it->is_symlink(ignored)) ::unlink(it->path().c_str());
    }
}

bool appendToPrivateFile(const fs::path& path, std::string_view bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = writeAll(fd, bytes);
    return ::close(fd) == 0 && ok;
}

bool writePrivateFile(const fs::path& path, std::string_view bytes) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return false;
    return writeFileAtomically(path, bytes, 0600);
}

}  // namespace corvane
