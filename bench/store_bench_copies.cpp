// Copies of the program's conversation store as processes of their own on one application folder,
// bounded in count and time, in a fresh folder under the temporary folder:
//
//   store_bench_copies copies <copies> <chats> <milliseconds> [mixed]
//       each copy 8 threads creating chats (mixed: every other operation a list) on a file of
//       <chats> short chats
//   store_bench_copies storm <milliseconds>
//       2 copies x 8 threads creating while the lock file is deleted every 2 ms
//   store_bench_copies stopped
//       a copy stopped while it holds the lock, the lock file deleted, a second copy creating,
//       then the first let go on
//   store_bench_copies queue
//       14 lists at once while a stopped copy holds the lock: when each is answered
//
// Prints the acknowledged, refused and lost creates (acknowledged, yet not in the file at the
// end), and the slowest answer.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "conversation/conversation_store.h"
#include "support/files.h"

namespace {

namespace fs = std::filesystem;
using namespace corvane;
using Clock = std::chrono::steady_clock;

std::string self;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// One copy: `threads` threads creating for `milliseconds`; one line per answer into `out`:
// "ok <id> <ms>" or "refused <ms> <error>".
int runCopy(int threads, int milliseconds, const std::string& out, bool mixed) {
    ConversationStore store;
    std::mutex mutex;
    std::FILE* file = std::fopen(out.c_str(), "w");
    if (!file) return 2;
    const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t)
        running.emplace_back([&, t] {
            for (int n = 0; Clock::now() < end; ++n) {
                const auto start = Clock::now();
                const bool list = mixed && (n + t) % 2 == 1;
                const auto answer = list ? store.conversationState() : store.createThread(std::nullopt);
                const double took = millisecondsSince(start);
                const std::lock_guard lock(mutex);
                if (answer.ok && !list)
                    std::fprintf(file, "ok %s %.1f\n", answer.currentThreadID.c_str(), took);
                else if (answer.ok)
                    std::fprintf(file, "read - %.1f\n", took);
                else
                    std::fprintf(file, "refused %.1f %s\n", took, answer.error.value_or("").c_str());
                std::fflush(file);
            }
        });
    for (auto& thread : running) thread.join();
    return std::fclose(file) == 0 ? 0 : 1;
}

pid_t start(const std::vector<std::string>& arguments) {
    const pid_t child = ::fork();
    if (child == 0) {
        std::vector<char*> argv;
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(self.c_str(), argv.data());
        ::_exit(127);
    }
    return child;
}

pid_t startCopy(const fs::path& folder, int threads, int milliseconds, const std::string& tag, bool mixed = false) {
    std::vector<std::string> arguments = {self, "copy", std::to_string(threads), std::to_string(milliseconds),
                                          (folder / ("answers-" + tag)).string()};
    if (mixed) arguments.push_back("mixed");
    return start(arguments);
}

void prepareChats(const fs::path& folder, int count) {
    StoredConversationState state;
    for (int n = 0; n < count; ++n) {
        auto& thread = state.threads.emplace_back();
        thread.threadID = "6B1F1C9E-0000-4000-8000-" + std::to_string(100000000000 + n);
        thread.title = "Chat " + std::to_string(n + 1);
        thread.createdAt = thread.updatedAt = "2026-12-06T15:24:00.000Z";
        thread.pendingCaptures = std::vector<CaptureMetadata>{};
        auto& entry = thread.entries.emplace_back();
        entry.timestamp = "2026-12-06T15:24:00.000Z";
        entry.role = ConversationRole::user;
        entry.content = std::string(700, 'x');
    }
    const std::string bytes = nlohmann::json(state).dump(2);
    writeFileAtomically(folder / "conversation.json", bytes, 0600);
    std::printf("conversation.json: %d chats, %.1f MB\n", count, static_cast<double>(bytes.size()) / (1024 * 1024));
}

// Counts every copy's answers against the file as it is at the end.
int report(const fs::path& folder) {
    std::set<std::string> stored;
    std::ifstream in(folder / "conversation.json");
    const auto document = nlohmann::json::parse(in, nullptr, false);
    if (document.is_discarded()) {
        std::printf("conversation.json does not decode\n");
        return 1;
    }
    for (const auto& thread : document.at("threads")) stored.insert(thread.at("threadID").get<std::string>());
    int acknowledged = 0, refused = 0, lost = 0, reads = 0;
    double slowest = 0;
    std::string firstRefusal;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (!entry.path().filename().string().starts_with("answers-")) continue;
        std::ifstream answers(entry.path());
        for (std::string kind, id; answers >> kind >> id;) {
            double took = 0;
            if (kind == "refused") {
                took = std::atof(id.c_str());
                std::string error;
                std::getline(answers, error);
                ++refused;
                if (firstRefusal.empty()) firstRefusal = error;
            } else {
                answers >> took;
                if (kind == "read") {
                    ++reads;
                } else {
                    ++acknowledged;
                    lost += stored.count(id) ? 0 : 1;
                }
            }
            slowest = std::max(slowest, took);
        }
    }
    std::printf("acknowledged %d, refused %d, lost %d, lists %d, slowest answer %.0f ms\n", acknowledged, refused,
                lost, reads, slowest);
    if (!firstRefusal.empty()) std::printf("first refusal:%s\n", firstRefusal.c_str());
    return 0;
}

int copies(const fs::path& folder, int count, int chats, int milliseconds, bool mixed) {
    prepareChats(folder, chats);
    std::vector<pid_t> running;
    for (int copy = 0; copy < count; ++copy)
        running.push_back(startCopy(folder, 8, milliseconds, std::to_string(copy), mixed));
    for (pid_t child : running) ::waitpid(child, nullptr, 0);
    return report(folder);
}

int storm(const fs::path& folder, int milliseconds) {
    prepareChats(folder, 10);
    const fs::path lock = folder / ".conversation.json.lock";
    std::atomic<bool> deleting{true};
    std::thread deleter([&] {
        while (deleting) {
            ::unlink(lock.c_str());
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    const pid_t a = startCopy(folder, 8, milliseconds, "a"), b = startCopy(folder, 8, milliseconds, "b");
    ::waitpid(a, nullptr, 0);
    ::waitpid(b, nullptr, 0);
    deleting = false;
    deleter.join();
    return report(folder);
}

// Stops `copy` while it holds the lock of conversation.json; false when it never did.
bool stopHolding(const fs::path& folder, pid_t copy) {
    const fs::path lock = folder / ".conversation.json.lock";
    for (int attempt = 0; attempt < 2000; ++attempt) {
        const int fd = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC);
        const bool busy = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        if (busy) {
            ::kill(copy, SIGSTOP);
            const bool stillBusy = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
            ::close(fd);
            if (stillBusy) return true;
            ::kill(copy, SIGCONT);
            continue;
        }
        if (fd >= 0) ::close(fd);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
}

int stopped(const fs::path& folder) {
    prepareChats(folder, 3000);  // a write long enough to be stopped in the middle of
    const pid_t a = startCopy(folder, 1, 3000, "a");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (!stopHolding(folder, a)) {
        std::printf("the copy was never seen holding the lock\n");
        return 1;
    }
    ::unlink((folder / ".conversation.json.lock").c_str());  // as a user told another copy holds it may
    const pid_t b = startCopy(folder, 1, 500, "b");
    ::waitpid(b, nullptr, 0);
    ::kill(a, SIGCONT);
    ::waitpid(a, nullptr, 0);
    return report(folder);
}

int queue(const fs::path& folder) {
    prepareChats(folder, 10);
    const fs::path lock = folder / ".conversation.json.lock";
    const int holder = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (holder < 0 || ::flock(holder, LOCK_EX) != 0) return 1;
    std::fflush(stdout);  // else the child prints it again
    const pid_t child = ::fork();
    if (child == 0) {  // the copy asking; the parent stands for the stopped one
        ConversationStore store;
        std::vector<double> answered(14);
        const auto begin = Clock::now();
        std::vector<std::thread> asking;
        for (size_t n = 0; n < answered.size(); ++n)
            asking.emplace_back([&, n] {
                (void)store.conversationState();
                answered[n] = millisecondsSince(begin);
            });
        for (auto& thread : asking) thread.join();
        std::sort(answered.begin(), answered.end());
        std::printf("14 lists while a stopped copy holds the lock, answered at (ms):");
        for (double at : answered) std::printf(" %.0f", at);
        std::printf("\n");
        std::fflush(stdout);
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    ::close(holder);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    self = fs::canonical("/proc/self/exe").string();
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 4 && args[0] == "copy")
        return runCopy(std::atoi(args[1].c_str()), std::atoi(args[2].c_str()), args[3],
                       args.size() > 4 && args[4] == "mixed");
    if (args.empty()) return 2;

    std::string pattern = (fs::temp_directory_path() / "corvane-store-copies-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return 1;
    const fs::path folder = pattern;
    ::setenv("CORVANE_HOME", folder.c_str(), 1);
    int status = 2;
    if (args[0] == "copies" && args.size() >= 4)
        status = copies(folder, std::clamp(std::atoi(args[1].c_str()), 1, 4), std::atoi(args[2].c_str()),
                        std::clamp(std::atoi(args[3].c_str()), 100, 60000), args.size() > 4 && args[4] == "mixed");
    if (args[0] == "storm" && args.size() >= 2) status = storm(folder, std::clamp(std::atoi(args[1].c_str()), 100, 60000));
    if (args[0] == "stopped") status = stopped(folder);
    if (args[0] == "queue") status = queue(folder);
    std::error_code ec;
    fs::remove_all(folder, ec);
    return status;
}
