#include "conversation/memory_store.h"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

#include "platform/log.h"
#include "support/app_paths.h"
#include "support/files.h"
#include "support/iso8601.h"
#include "support/unicode.h"
#include "support/uuid.h"

namespace corvane {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::string requiredString(const json& j, const char* key) {
    const json& value = j.at(key);
    if (!value.is_string()) throw std::runtime_error(fmt::format("\"{}\" is not a string", key));
    return value.get<std::string>();
}

std::vector<Memory> decodeMemories(const std::string& bytes) {
    json document = json::parse(bytes);
    if (!document.is_array()) throw std::runtime_error("expected an array of memories");
    return document.get<std::vector<Memory>>();
}

std::string newMemoryID() {
    std::string uuid = makeUUID();
    std::erase(uuid, '-');
    return text::lowercased(uuid.substr(0, 6));
}

}  // namespace

void to_json(json& j, const Memory& memory) {
    j = json{{"id", memory.id}, {"scope", memory.scope}, {"note", memory.note}, {"createdAt", memory.createdAt}};
}

void from_json(const json& j, Memory& memory) {
    if (!j.is_object()) throw std::runtime_error("a memory is not an object");
    memory.id = requiredString(j, "id");
    memory.scope = requiredString(j, "scope");
    memory.note = requiredString(j, "note");
    memory.createdAt = requiredString(j, "createdAt");
}

// What one read of the file found. An unreadable file, or an undecodable one of which no
// backup could be made, is never written over: it may still hold the user's notes.
struct MemoryStore::Loaded {
    enum class Source { missing, decoded, corrupt, unreadable };
    Source source = Source::missing;
    std::vector<Memory> memories;
    std::string corruptBytes;
};

MemoryStore::MemoryStore() : fileURL_(AppPaths::appSupportDirectory() / "memories.json") {}

MemoryStore::Loaded MemoryStore::load() {
    Loaded loaded;
    FileRead read = readFile(fileURL_);
    if (read.status == FileRead::Status::missing) return loaded;
    if (read.status == FileRead::Status::unreadable) {
        loaded.source = Loaded::Source::unreadable;
        return loaded;
    }
    try {
        loaded.memories = decodeMemories(read.bytes);
        loaded.source = Loaded::Source::decoded;
    } catch (const std::exception& error) {
        log(fmt::format("[MemoryStore] decode failed: {}", error.what()));
        AppPaths::archiveCorruptFile(fileURL_, "MemoryStore");
        loaded.source = Loaded::Source::corrupt;
        loaded.memories.clear();
        loaded.corruptBytes = std::move(read.bytes);
    }
    return loaded;
}

void MemoryStore::store(const Loaded& loaded, const std::vector<Memory>& memories) {
    if (loaded.source == Loaded::Source::unreadable) {
        log(fmt::format("[MemoryStore] Not overwriting unreadable file: {}", fileURL_.string()));
        return;
    }
    if (loaded.source == Loaded::Source::corrupt && !AppPaths::hasPreservedCopy(fileURL_, loaded.corruptBytes)) {
        log(fmt::format("[MemoryStore] Not overwriting corrupt file without a backup: {}", fileURL_.string()));
        return;
    }
    // Invalid UTF-8 is replaced rather than losing the whole write to one bad byte.
    std::string bytes = json(memories).dump(2, ' ', false, json::error_handler_t::replace);
    writeFileAtomically(fileURL_, bytes);  // failures are not reported, as for every store
}

std::vector<Memory> MemoryStore::all() {
    return queue_.sync([&] { return load().memories; });
}

Memory MemoryStore::add(const std::string& scope, const std::string& note) {
    return queue_.sync([&] {
        Loaded loaded = load();
        Memory memory{newMemoryID(), scope, text::trimmingWhitespaceAndNewlines(note),
                      ISO8601::corvaneDefault(ISO8601::now())};
        std::vector<Memory> memories = loaded.memories;
        memories.push_back(memory);
        store(loaded, memories);
        return memory;
    });
}

std::optional<Memory> MemoryStore::remove(const std::string& id) {
    return queue_.sync([&]() -> std::optional<Memory> {
        Loaded loaded = load();
        std::vector<Memory> memories = loaded.memories;
        auto found = std::find_if(memories.begin(), memories.end(), [&](const Memory& m) { return m.id == id; });
        if (found == memories.end()) return std::nullopt;
        Memory removed = *found;
        memories.erase(found);
        store(loaded, memories);
        return removed;
    });
}

std::vector<Memory> MemoryStore::masterMemories() {
    std::vector<Memory> memories = all();
    std::erase_if(memories, [](const Memory& m) { return m.scope != "master"; });
    return memories;
}

std::vector<Memory> MemoryStore::matching(const std::string& key) {
    std::vector<Memory> memories = all();
    std::erase_if(memories, [&](const Memory& m) { return !text::equalsIgnoringCase(m.scope, key); });
    return memories;
}

std::vector<Memory> MemoryStore::songMemories(const std::string& song) { return matching("song:" + song); }

std::vector<Memory> MemoryStore::pluginMemories(const std::string& plugin) { return matching("plugin:" + plugin); }

std::vector<Memory> MemoryStore::trackMemories(const std::string& track, const std::string& song) {
    return matching("track:" + track + "@" + song);
}

}  // namespace corvane
