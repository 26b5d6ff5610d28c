// One copy of the program's stores, run as a process of its own beside another on the same
// application folder (CORVANE_HOME). It changes every shared store in turn for as long as it is
// told, and at least 64 times, and writes each change a store acknowledged into its own file, one
// per line, for the test to look for on disk afterwards:
//   thread <id>            a chat created
//   entry <id> <text>      an entry appended to that chat
//   deleted <id>           a chat of its own deleted (its entries are no longer looked for)
//   memory <id> <note>     a memory added
//   forgot <id>            a memory of its own removed
//   project <name> <n>     the project's data saved with <n> sections
//   default <key> <value>  a user default set
// Usage: store_writer <tag> <milliseconds> <file of acknowledged changes> [unprivileged]
// (unprivileged: run as nobody, as a user who cannot open root's files would)

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <string>

#include "conversation/conversation_store.h"
#include "conversation/memory_store.h"
#include "conversation/project_data_store.h"
#include "support/numbers.h"
#include "support/user_defaults.h"

using namespace corvane;

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) return 2;
    if (argc == 5 && ::geteuid() == 0 && ::setuid(65534) != 0) return 3;
    const std::string tag = argv[1];
    const auto milliseconds = readInteger(argv[2]);
    if (!milliseconds) return 2;
    // The processes run in wall time: the bound is real. However busy the machine, each copy makes
    // changes enough for the test to look for (the turns of eight rounds).
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(*milliseconds);
    constexpr int kLeastSteps = 64;

    ConversationStore conversations;
    MemoryStore memories;
    ProjectDataStore projects;
    JSONFileUserDefaults defaults;
    std::deque<std::string> threads;
    std::deque<std::string> notes;
    std::FILE* acknowledged = std::fopen(argv[3], "w");
    if (!acknowledged) return 2;
    auto say = [&](const std::string& line) {
        std::fputs((line + "\n").c_str(), acknowledged);
        std::fflush(acknowledged);
    };

    for (int step = 0; step < kLeastSteps || std::chrono::steady_clock::now() < end; ++step) {
        const std::string n = tag + std::to_string(step);
        switch (step % 8) {
            case 0: {
                const auto created = conversations.createThread(std::nullopt);
                if (created.ok) {
                    threads.push_back(created.currentThreadID);
                    say("thread " + created.currentThreadID);
                }
                break;
            }
            case 1:
            case 2:
            case 3:  // a turn: the question, a tool call, the reply
                if (threads.empty()) break;
                if (step % 8 == 2) {
                    ToolCallInfo call;
                    call.id = "call-" + n;
                    call.toolName = "get_track_details";
                    call.summary = "call-" + n;
                    if (conversations.appendToolCall(call, 0, threads.back()))
                        say("entry " + threads.back() + " call-" + n);
                } else if (conversations.append(ConversationRole::user, "text-" + n, threads.back())) {
                    say("entry " + threads.back() + " text-" + n);
                }
                break;
            case 4:
                if (const auto added = memories.add("master", "note-" + n); added.memory && !added.alreadyKept) {
                    notes.push_back(added.memory->id);
                    say("memory " + added.memory->id + " note-" + n);
                }
                break;
            case 5: {
                StoredProjectData data;
                data.sections.resize(static_cast<size_t>(step % 5 + 1));
                if (projects.save("song-" + n, data))
                    say("project song-" + n + " " + std::to_string(data.sections.size()));
                break;
            }
            case 6:
                defaults.setString("key-" + n, "value-" + n);
                if (defaults.string("key-" + n) == "value-" + n) say("default key-" + n + " value-" + n);
                // Every third round one of its own chats and memories goes again.
                if (step % 24 == 6 && threads.size() > 1) {
                    const auto left = conversations.deleteThread(threads.front());
                    if (left.ok) say("deleted " + threads.front());
                    threads.pop_front();
                }
                if (step % 24 == 14 && notes.size() > 1) {
                    if (memories.remove(notes.front()).memory) say("forgot " + notes.front());
                    notes.pop_front();
                }
                break;
            default:  // a copy that only reads in between
                (void)conversations.conversationState();
                (void)memories.all();
                (void)projects.load("song-" + n);
                break;
        }
    }
    return std::fclose(acknowledged) == 0 ? 0 : 1;
}
