// Two copies of the program on one application folder, as two real processes (store_writer):
// what either acknowledged is on disk afterwards, whatever the other did meanwhile.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "conversation/conversation_store.h"
#include "conversation/memory_store.h"
#include "conversation/project_data_store.h"
#include "support/files.h"
#include "support/numbers.h"
#include "support/user_defaults.h"
#include "test_support/child_process.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

// What the copies acknowledged, from their files of acknowledged changes.
struct Acknowledged {
    std::map<std::string, std::vector<std::string>> entries;  // by thread, in the order stored
    std::set<std::string> deletedThreads;
    std::map<std::string, std::string> memories;  // id to note
    std::set<std::string> forgottenMemories;
    std::map<std::string, size_t> projects;  // name to section count
    std::map<std::string, std::string> defaults;
    size_t changes = 0;

    void read(const fs::path& file) {
        std::istringstream lines(testing::readAll(file));
        for (std::string line; std::getline(lines, line); ++changes) {
            std::istringstream words(line);
            std::string kind, a, b;
            words >> kind >> a >> b;
            if (kind == "thread") entries[a];
            if (kind == "entry") entries[a].push_back(b);
            if (kind == "deleted") deletedThreads.insert(a);
            if (kind == "memory") memories[a] = b;
            if (kind == "forgot") forgottenMemories.insert(a);
            if (kind == "project") projects[a] = static_cast<size_t>(readInteger(b).value_or(0));
            if (kind == "default") defaults[a] = b;
        }
    }
};

bool decodes(const fs::path& file) {
    const FileRead read = readFile(file);
    if (read.status == FileRead::Status::missing) return true;
    return read.ok() && !nlohmann::json::parse(read.bytes, nullptr, false).is_discarded();
}

TEST(SharedApplicationFolder, TwoCopiesWritingAtOnceLoseNoAcknowledgedChangeAndNeverTearAFile) {
    testing::TempHome home;
    fs::create_directories(home.appFolder());
    const fs::path ackA = home.root() / "acknowledged-a", ackB = home.root() / "acknowledged-b";
    const std::vector<fs::path> files = {home.appFolder() / "conversation.json", home.appFolder() / "memories.json",
                                         home.appFolder() / "project-data.json",
                                         home.appFolder() / "user-defaults.json"};

    // Every version either copy puts in place must read whole.
    std::atomic<bool> writing{true};
    std::atomic<int> tornReads{0};
    std::thread reader([&] {
        while (writing)
            for (const auto& file : files)
                if (!decodes(file)) ++tornReads;
    });
    int statusA, statusB;
    {
        testing::ChildProcess a({STORE_WRITER, "a", "2000", ackA.string()});
        testing::ChildProcess b({STORE_WRITER, "b", "2000", ackB.string()});
        statusA = a.exitStatus();
        statusB = b.exitStatus();
    }
    writing = false;
    reader.join();
    ASSERT_EQ(statusA, 0);
    ASSERT_EQ(statusB, 0);

    Acknowledged acknowledged;
    acknowledged.read(ackA);
    acknowledged.read(ackB);
    ASSERT_GT(acknowledged.changes, 40u) << "the copies hardly wrote: the test shows nothing";
    EXPECT_EQ(tornReads, 0);

    std::vector<std::string> lost;
    const auto stored = nlohmann::json::parse(testing::readAll(files[0])).get<StoredConversationState>();
    std::map<std::string, std::vector<std::string>> storedEntries;
    for (const auto& thread : stored.threads)
        for (const auto& entry : thread.entries) storedEntries[thread.threadID].push_back(entry.content);
    for (const auto& [thread, entries] : acknowledged.entries) {
        const bool deleted = acknowledged.deletedThreads.count(thread) != 0;
        const auto found = std::find_if(stored.threads.begin(), stored.threads.end(),
                                        [&](const StoredConversationThread& t) { return t.threadID == thread; });
        if (deleted != (found == stored.threads.end()))
            lost.push_back((deleted ? "deleted chat back " : "chat ") + thread);
        if (!deleted && storedEntries[thread] != entries) lost.push_back("entries of chat " + thread);
    }
    const auto memories = MemoryStore().all();
    for (const auto& [id, note] : acknowledged.memories) {
        const bool kept = std::any_of(memories.begin(), memories.end(),
                                      [&](const Memory& m) { return m.id == id && m.note == note; });
        if (kept == (acknowledged.forgottenMemories.count(id) != 0)) lost.push_back("memory " + id);
    }
    ProjectDataStore projects;
    for (const auto& [name, sections] : acknowledged.projects) {
        const auto data = projects.load(name);
        if (!data || data->sections.size() != sections) lost.push_back("project " + name);
    }
    JSONFileUserDefaults defaults;
    for (const auto& [key, value] : acknowledged.defaults)
        if (defaults.string(key) != value) lost.push_back("default " + key);

    EXPECT_TRUE(lost.empty()) << lost.size() << " of " << acknowledged.changes
                              << " acknowledged changes lost, the first: " << lost.front();
}

}  // namespace
}  // namespace corvane
