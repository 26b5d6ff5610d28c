// Measures the conversation store on a large conversation.json against a raw atomic rewrite of
// the same bytes (temporary file, fsync, rename: the least any store write costs), in one run:
//
//   store_bench [file size in MB (default 10)] [rounds (default 20)]
//   store_bench chats [number of chats (default 1000)] [rounds (default 20)] [entries per chat (default 12)]
//
// Prints the median time of each and the ratios append / raw and recentEntries(12) / raw. With
// "chats": a list of that many short chats (about 0.5 KB an entry) on a copy alone and after each
// write of a second copy (another store of the file, as another process has one), and a create
// of a chat, each as the median ratio to the raw rewrite with its spread (10th to 90th
// percentile). Ten thousand chats of one entry each (about 10 MB), as a long-used installation
// holds them: store_bench chats 10000 10 1
// Works in a fresh folder under the temporary folder, which it removes afterwards.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "conversation/conversation_store.h"
#include "support/files.h"

namespace {

namespace fs = std::filesystem;
using namespace corvane;
using Clock = std::chrono::steady_clock;

double medianMilliseconds(int rounds, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// A thread of ordinary chat traffic: user and assistant text with tool calls in between.
StoredConversationState largeState(size_t bytes) {
    StoredConversationState state;
    StoredConversationThread& thread = state.threads.emplace_back();
    thread.threadID = "6B1F1C9E-0000-4000-8000-000000000001";
    thread.title = "Chat 1";
    thread.createdAt = thread.updatedAt = "2026-12-06T15:24:00.000Z";
    thread.pendingCaptures = std::vector<CaptureMetadata>{};
    const std::string text(280, 'x');
    size_t approximate = 0;
    for (std::int64_t i = 0; approximate < bytes; ++i) {
        ConversationEntry entry;
        entry.timestamp = "2026-12-06T15:24:00.000Z";
        entry.role =
            i % 3 == 2 ? ConversationRole::toolCall : (i % 3 ? ConversationRole::assistant : ConversationRole::user);
        entry.content = text;
        if (entry.role == ConversationRole::toolCall) {
            entry.toolCallID = "call_" + std::to_string(i);
            entry.toolName = "listen_to_playback";
            entry.arguments = R"({"track_name":"Vocals","seconds":8})";
            entry.roundIndex = i;
            entry.succeeded = true;
            entry.summary = "Listened 8 s";
            entry.resultJSON = R"({"status":"ok","tracks":[{"name":"Vocals","peak":-3.2}]})";
            entry.userEntryIndex = i - 2;
        }
        approximate += 530;  // about what one entry takes in the file
        thread.entries.push_back(std::move(entry));
    }
    return state;
}

// Many short chats, as a long-used installation holds them.
StoredConversationState manyChats(int count, int entries) {
    StoredConversationState state;
    const std::string text(415, 'x');
    for (int n = 0; n < count; ++n) {
        StoredConversationThread& thread = state.threads.emplace_back();
        thread.threadID = "6B1F1C9E-0000-4000-8000-" + std::to_string(100000000000 + n);
        thread.title = "Chat " + std::to_string(n + 1);
        thread.createdAt = thread.updatedAt = "2026-12-06T15:24:00.000Z";
        thread.pendingCaptures = std::vector<CaptureMetadata>{};
        for (int i = 0; i < entries; ++i) {
            ConversationEntry& entry = thread.entries.emplace_back();
            entry.timestamp = "2026-12-06T15:24:00.000Z";
            entry.role = i % 2 ? ConversationRole::assistant : ConversationRole::user;
            entry.content = text;
        }
    }
    return state;
}

struct Spread {
    double median, low, high;  // low and high: the 10th and 90th percentiles
};

Spread spreadOf(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    auto at = [&](double q) { return times[static_cast<size_t>(q * static_cast<double>(times.size() - 1))]; };
    return {at(0.5), at(0.1), at(0.9)};
}

std::vector<double> timesOf(int rounds, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return times;
}

int benchChats(const fs::path& folder, int count, int rounds, int entries) {
    const fs::path file = folder / "conversation.json";
    const std::string bytes = nlohmann::json(manyChats(count, entries)).dump(2);
    if (!writeFileAtomically(file, bytes, 0600)) return 1;
    std::printf("conversation.json: %d chats, %.1f MB, %d rounds\n", count,
                static_cast<double>(bytes.size()) / (1024 * 1024), rounds);
    const fs::path other = folder / "raw.json";
    const Spread raw = spreadOf(timesOf(rounds, [&] { writeFileAtomically(other, bytes, 0600); }));

    ConversationStore store;
    (void)store.conversationState();  // the first read of the file
    auto line = [&](const char* what, const std::vector<double>& times) {
        std::vector<double> ratios;
        for (double t : times) ratios.push_back(t / raw.median);
        const Spread time = spreadOf(times), ratio = spreadOf(ratios);
        std::printf("%-34s %8.2f ms  ratio %.3f (%.3f-%.3f)\n", what, time.median, ratio.median, ratio.low,
                    ratio.high);
    };
    std::printf("raw atomic rewrite                 %8.2f ms  (%.2f-%.2f)\n", raw.median, raw.low, raw.high);
    line("list, alone", timesOf(rounds, [&] { (void)store.conversationState(); }));

    // A list after each change of a second copy: every one reads the file that copy wrote.
    ConversationStore second;
    const std::string thread = second.conversationState().currentThreadID;
    std::vector<double> afterWrites;
    for (int i = 0; i < rounds; ++i) {
        second.append(ConversationRole::assistant, "Done.", thread);
        afterWrites.push_back(timesOf(1, [&] { (void)store.conversationState(); }).front());
    }
    line("list after a second copy's write", afterWrites);
    line("create", timesOf(rounds, [&] { (void)store.createThread(std::nullopt); }));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "chats") {
        const int count = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1000;
        const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 20;
        const int entries = argc > 4 ? std::max(0, std::atoi(argv[4])) : 12;
        std::string pattern = (fs::temp_directory_path() / "corvane-store-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) return 1;
        ::setenv("CORVANE_HOME", pattern.c_str(), 1);
        const int status = benchChats(pattern, count, rounds, entries);
        std::error_code ec;
        fs::remove_all(pattern, ec);
        return status;
    }
    const double megabytes = argc > 1 ? std::atof(argv[1]) : 10;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;

    std::string pattern = (fs::temp_directory_path() / "corvane-store-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return 1;
    const fs::path folder = pattern;
    ::setenv("CORVANE_HOME", folder.c_str(), 1);
    const fs::path file = folder / "conversation.json";

    const std::string bytes = nlohmann::json(largeState(static_cast<size_t>(megabytes * 1024 * 1024))).dump(2);
    if (!writeFileAtomically(file, bytes, 0600)) return 1;
    std::printf("conversation.json: %.1f MB, %d rounds\n", static_cast<double>(bytes.size()) / (1024 * 1024), rounds);

    const fs::path other = folder / "raw.json";
    double raw = medianMilliseconds(rounds, [&] { writeFileAtomically(other, bytes, 0600); });

    ConversationStore store;
    auto start = Clock::now();
    const std::string thread = store.conversationState().currentThreadID;  // the first read of the file
    double first = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    double append = medianMilliseconds(rounds, [&] { store.append(ConversationRole::assistant, "Done.", thread); });
    double recent = medianMilliseconds(rounds, [&] { store.recentEntries(thread, 12); });
    double rawAgain = medianMilliseconds(rounds, [&] { writeFileAtomically(other, bytes, 0600); });
    raw = std::min(raw, rawAgain);

    std::printf("raw atomic rewrite      %8.2f ms\n", raw);
    std::printf("first operation (parse) %8.2f ms  (%.2fx raw)\n", first, first / raw);
    std::printf("append                  %8.2f ms  ratio %.2f\n", append, append / raw);
    std::printf("recentEntries(12)       %8.3f ms  ratio %.3f\n", recent, recent / raw);

    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
