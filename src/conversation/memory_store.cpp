#include "conversation/memory_store.h"

#include <algorithm>

#include "support/app_paths.h"
#include "support/iso8601.h"
#include "support/unicode.h"
#include "support/uuid.h"

namespace corvane {

using nlohmann::json;
using Memories = std::vector<Memory>;

namespace {

std::string newMemoryID() {
    std::string uuid = makeUUID();
    std::erase(uuid, '-');
    return text::lowercased(uuid.substr(0, 6));
}

// As the lookups find them: "master" exactly, every other scope without regard to letter case.
bool sameScope(const std::string& a, const std::string& b) {
    if (a == "master" || b == "master") return a == b;
    return text::equalsIgnoringCase(a, b);
}

std::string notStored(const CachedStoreFile<Memories>& file) {
    return file.lastFailure().value_or(file.file().path().string() + " could not be written");
}

}  // namespace

void to_json(json& j, const Memory& memory) {
    j = json{{"id", memory.id}, {"scope", memory.scope}, {"note", memory.note}, {"createdAt", memory.createdAt}};
}

void from_json(const json& j, Memory& memory) {
    memory.id = json_fields::text(j, "id");
    memory.scope = json_fields::text(j, "scope");
    memory.note = json_fields::text(j, "note");
    memory.createdAt = json_fields::text(j, "createdAt");
}

MemoryStore::MemoryStore(std::stop_token ending)
    : file_(
          StoreFile(AppPaths::appSupportDirectory() / "memories.json", "MemoryStore", {.ending = std::move(ending)})) {}

std::optional<std::string> MemoryStore::lastFailure() {
    return queue_.sync([&] { return file_.lastFailure(); });
}

std::vector<Memory> MemoryStore::all() {
    return queue_.sync([&] { return file_.current().value; });
}

MemoryChange MemoryStore::add(const std::string& scope, const std::string& note) {
    return queue_.sync([&]() -> MemoryChange {
        const FileLock held = file_.lock();  // from the read to the rename: another copy's change is kept
        Memories& memories = file_.current().value;
        Memory memory{newMemoryID(), scope, text::trimmingWhitespaceAndNewlines(note),
                      ISO8601::corvaneDefault(ISO8601::now())};
        const auto same = [&](const Memory& kept) { return kept.note == memory.note && sameScope(kept.scope, scope); };
        const auto first = std::find_if(memories.begin(), memories.end(), same);
        if (first != memories.end()) {
            const Memory kept = *first;
            const auto copies = std::remove_if(std::next(first), memories.end(), same);
            if (copies == memories.end()) return {kept, std::nullopt, true};
            memories.erase(copies, memories.end());
            if (!file_.save()) return {std::nullopt, notStored(file_)};
            return {kept, std::nullopt, true};
        }
        memories.push_back(memory);
        if (!file_.save()) return {std::nullopt, notStored(file_)};
        // As stored (invalid text replaced), found by its ID: another copy may have added its own
        // after it since.
        const Memories& stored = file_.current().value;
        const auto added = std::find_if(stored.begin(), stored.end(), [&](const Memory& m) { return m.id == memory.id; });
        return {added != stored.end() ? *added : memory, std::nullopt};
    });
}

MemoryChange MemoryStore::remove(const std::string& id) {
    return queue_.sync([&]() -> MemoryChange {
        const FileLock held = file_.lock();
        Memories& memories = file_.current().value;
        auto found = std::find_if(memories.begin(), memories.end(), [&](const Memory& m) { return m.id == id; });
        if (found == memories.end()) return {};
        Memory removed = *found;
        memories.erase(found);
        if (!file_.save()) return {std::nullopt, notStored(file_)};
        return {removed, std::nullopt};
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
