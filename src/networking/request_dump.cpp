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

std::string redactBearerTokens(const std::string& text) {
    static const Regex bearer(R"(Bearer\s+[A-Za-z0-9_\-\.]+)");
    return bearer.replaceAll(text, "Bearer <redacted>");
}

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

}  // namespace

fs::path RequestDump::folder() {
    const fs::path dir = AppPaths::appSupportDirectory("diagnostics");
    std::error_code ignored;
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace, ignored);
    return dir;
}

fs::path RequestDump::lastRequestPath() { return folder() / "cv-last-request.json"; }
fs::path RequestDump::requestLogPath() { return folder() / "cv-requests.jsonl"; }

nlohmann::json RequestDump::stripImageData(const nlohmann::json& value) {
    if (value.is_array()) {
        nlohmann::json out = nlohmann::json::array();
        for (const auto& element : value) out.push_back(stripImageData(element));
        return out;
    }
    if (!value.is_object()) return value;
    nlohmann::json out = nlohmann::json::object();
    for (const auto& [key, member] : value.items()) {
        if (key == "image_url" && member.is_string() && member.get<std::string>().rfind("data:image", 0) == 0) {
            out[key] = "<base64-image redacted>";
        } else if (isCredentialKey(key) && member.is_string()) {
            out[key] = "<redacted>";
        } else {
            out[key] = stripImageData(member);
        }
    }
    return out;
}

namespace {

platform::SerialQueue& dumpQueue() {
    static platform::SerialQueue queue("Corvane.RequestDump");
    return queue;
}

void writeTo(const nlohmann::json& body, const std::string& sentAt, const fs::path& lastPath,
             const fs::path& logPath) {
    try {
        const nlohmann::json copy = RequestDump::stripImageData(body);
        if (!copy.is_object()) return;
        const std::string pretty =
            redactBearerTokens(copy.dump(2, ' ', false, nlohmann::json::error_handler_t::strict));
        const std::string compact =
            redactBearerTokens(copy.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict));
        const std::string line = sentAt + " " + compact + "\n";

        std::lock_guard lock(dumpMutex());
        // The folder is gone (an application folder removed meanwhile): nothing to keep.
        std::error_code missing;
        if (!fs::is_directory(lastPath.parent_path(), missing)) return;
        // A copy of a request that a crash left mid-write goes before this run's first.
        static std::set<fs::path> cleaned;
        if (cleaned.insert(lastPath).second) removeLeftoverTemporaryFiles(lastPath);
        writePrivateFile(lastPath, pretty);
        if (!isPlainFileOrMissing(logPath)) return;
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
                       log = requestLogPath()] { writeTo(body, sentAt, last, log); });
}

void RequestDump::drain() { dumpQueue().drain(); }

}  // namespace corvane::networking
