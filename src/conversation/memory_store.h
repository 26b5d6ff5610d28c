#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "platform/serial_queue.h"
#include "support/store_file.h"

namespace corvane {

// One note the agent remembers across chats. `scope` is "master", "song:<song>",
// "plugin:<plug-in>" or "track:<track>@<song>", kept exactly as the caller passed it.
struct Memory {
    std::string id;  // six lower-case hexadecimal characters
    std::string scope;
    std::string note;       // trimmed
    std::string createdAt;  // ISO8601::corvaneDefault

    bool operator==(const Memory&) const = default;
};

void to_json(nlohmann::json& j, const Memory& memory);
void from_json(const nlohmann::json& j, Memory& memory);  // throws json_fields::DecodeError

// What a change to the notes came to: the memory it added or removed, or why the file could not
// take it (the change is then dropped). Neither: there was nothing to remove.
struct MemoryChange {
    std::optional<Memory> memory;
    std::optional<std::string> failure;
    bool alreadyKept = false;  // an add found the same note under the same scope: `memory` is that one
};

// The remembered notes in "memories.json" of the application folder. The notes stay in memory
// and the file is read again only when it changed on disk; an operation that changes something
// writes the whole file again. One whose change did not reach the file says why, keeps the reason
// in lastFailure() and its change is dropped. Every operation may be called from any thread, but
// not from inside the store's own queue.
class MemoryStore {
public:
    // Touches no file. Once `ending` is requested a lock held by another copy is not waited for.
    explicit MemoryStore(std::stop_token ending = {});
    MemoryStore(const MemoryStore&) = delete;
    MemoryStore& operator=(const MemoryStore&) = delete;

    const std::filesystem::path& fileURL() const { return file_.file().path(); }

    // Why the last operation could not read or store the notes; absent when it could.
    std::optional<std::string> lastFailure();

    std::vector<Memory> all();  // in the order they were added
    // Adds the note unless the scope already holds it (scopes compared as the lookups below
    // compare them, notes trimmed and exact): then that memory is given and copies of it that an
    // earlier run stored are dropped, so a note is kept, and rides in requests, once.
    MemoryChange add(const std::string& scope, const std::string& note);
    // Removes the first memory with exactly this id; no memory when there is none.
    MemoryChange remove(const std::string& id);

    std::vector<Memory> masterMemories();
    std::vector<Memory> songMemories(const std::string& song);
    std::vector<Memory> pluginMemories(const std::string& plugin);
    std::vector<Memory> trackMemories(const std::string& track, const std::string& song);

private:
    std::vector<Memory> matching(const std::string& key);

    CachedStoreFile<std::vector<Memory>> file_;
    platform::SerialQueue queue_{"Corvane.MemoryStore"};
};

}  // namespace corvane
