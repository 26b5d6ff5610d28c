#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace corvane {

struct FileRead {
    enum class Status { ok, missing, unreadable };
    Status status = Status::missing;
    std::string bytes;
    bool ok() const { return status == Status::ok; }
};

FileRead readFile(const std::filesystem::path& path);

// Replaces the file atomically: a temporary file in the same folder, fsync, rename, fsync of
// the folder. A reader sees the old or the new contents, never a mixture. New files get `mode`.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, unsigned mode = 0644);

// For files in shared folders such as /tmp: created 0600, never through a symbolic link.
// Appends with O_APPEND, so concurrent writers never replace each other's lines.
bool appendToPrivateFile(const std::filesystem::path& path, std::string_view bytes);
// Replaces a private file (0600, refusing a symbolic link at the path).
bool writePrivateFile(const std::filesystem::path& path, std::string_view bytes);

}  // namespace corvane
