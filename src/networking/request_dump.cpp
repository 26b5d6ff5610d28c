#include "networking/request_dump.h"

#include <sys/stat.h>

#include <array>
#include <mutex>
#include <set>
#include <string_view>

#include "platform/serial_queue.h"
#include "support/app_paths.h"
#include "support/files.h"
#include "support/iso8601.h"
#include "support/regex.h"

namespace fs = std::filesystem;

namespace corvane::networking {
namespace {

bool isCredentialKey(std::string_view key) {
    static constexpr std::array<std::string_view, 5> keys{"Authorization", "password", "access_token", "refresh_token",
                                                          "apikey"};
    for (auto candidate : keys) {
        if (key == candidate) return true;
    }
    return false;
}

const Regex& bearerPattern() {
    static const Regex bearer(R"(Bearer\s+[A-Za-z0-9_\-\.]+)");
    return bearer;
}

std::string redactBearerTokens(const std::string& text) { return bearerPattern().replaceAll(text, "Bearer <redacted>"); }

bool isPlainFileOrMissing(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return true;
    return S_ISREG(st.st_mode);
}

// Writers of every thread share the two files; rotation must not race an append.
std::mutex& dumpMutex() {
    static std::mutex mutex;
    return mutex;
}

// The request logs whose leftovers from a crash were removed in this run.
std::set<fs::path>& cleanedLogs() {
    static std::set<fs::path> cleaned;
    return cleaned;
}

}  // namespace

fs::path RequestDump::folder() {
    const fs::path dir = AppPaths::appSupportDirectory("diagnostics");
    narrowFolderToOwner(dir);
    return dir;
}

fs::path RequestDump::lastRequestPath() { return folder() / "cv-last-request.json"; }
fs::path RequestDump::requestLogPath() { return folder() / "cv-requests.jsonl"; }

namespace {
// stripImageData on a value the caller owns: a request of megabytes is not copied once more.
void stripInPlace(nlohmann::json& value) {
    if (value.is_array()) {
        for (auto& element : value) stripInPlace(element);
        return;
    }
    if (!value.is_object()) return;
    for (auto& [key, member] : value.items()) {
        if (key == "image_url" && member.is_string() &&
            member.get_ref<const std::string&>().rfind("data:image", 0) == 0) {
            member = "<base64-image redacted>";
        } else if (isCredentialKey(key) && member.is_string()) {
            member = "<redacted>";
        } else {
            stripInPlace(member);
        }
    }
}
}  // namespace

nlohmann::json RequestDump::stripImageData(const nlohmann::json& value) {
    nlohmann::json copy = value;
    stripInPlace(copy);
    return copy;
}

namespace {

platform::SerialQueue& dumpQueue() {
    // The queue runs what is left of its work as the program exits: what that work uses is made
    // before the queue, so that it is destroyed after it.
    bearerPattern();
    dumpMutex();
    cleanedLogs();
    static platform::SerialQueue queue("Corvane.RequestDump");
    return queue;
}

// One text of the request at a time: the copies of a long prompt stay few.
void writeTo(nlohmann::json body, const std::string& sentAt, const fs::path& lastPath, const fs::path& logPath) {
    try {
        stripInPlace(body);
        if (!body.is_object()) return;
        std::string pretty = redactBearerTokens(body.dump(2, ' ', false, nlohmann::json::error_handler_t::strict));

        std::lock_guard lock(dumpMutex());
        // The folder is gone (an application folder removed meanwhile): nothing to keep.
        std::error_code missing;
        if (!fs::is_directory(lastPath.parent_path(), missing)) return;
        // A copy of a request that a crash left mid-write goes before this run's first.
        if (cleanedLogs().insert(lastPath).second) removeLeftoverTemporaryFiles(lastPath);
        writePrivateFile(lastPath, pretty);
        std::string().swap(pretty);
        if (!isPlainFileOrMissing(logPath)) return;
        std::string line = sentAt + " ";
        line += redactBearerTokens(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict));
        line += "\n";
        body = nullptr;
        std::error_code error;
        const auto size = fs::file_size(logPath, error);
        if (!error && size + line.size() > RequestDump::kMaxLogBytes) {
            fs::path previous = logPath;
            previous += ".1";
            if (isPlainFileOrMissing(previous)) fs::rename(logPath, previous, error);
        }
        appendToPrivateFile(logPath, line);
    } catch (const std::exception&) {
        // Diagnostics never stand in the request's way.
    }
}

std::string timestampNow() { return ISO8601::plainString(ISO8601::now()); }

}  // namespace

void RequestDump::write(const nlohmann::json& body) {
    writeTo(body, timestampNow(), lastRequestPath(), requestLogPath());
}

void RequestDump::writeLater(nlohmann::json body) {
    // The time and paths as they are now: the application folder may be another by the time it runs.
    dumpQueue().async([body = std::move(body), sentAt = timestampNow(), last = lastRequestPath(),
                       log = requestLogPath()]() mutable { writeTo(std::move(body), sentAt, last, log); });
}

void RequestDump::drain() { dumpQueue().drain(); }

}  // namespace corvane::networking
