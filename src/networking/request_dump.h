#pragma once

// The last chat request and a log of all of them, kept for diagnosis in a private folder of the
// user (0700; files 0600, never written through a link). The log is rotated at 10 MB so that it
// cannot fill the disk. Screenshots and credentials are redacted first.

#include <cstdint>
#include <filesystem>

#include <nlohmann/json.hpp>

namespace corvane::networking {

struct RequestDump {
    static constexpr std::uintmax_t kMaxLogBytes = 10 * 1024 * 1024;

    // The folder ("diagnostics" in the application folder), narrowed to the user on every call.
    static std::filesystem::path folder();
    static std::filesystem::path lastRequestPath();  // "cv-last-request.json"
    static std::filesystem::path requestLogPath();   // "cv-requests.jsonl"; the previous one ends in ".1"

    // Writes both files; every failure is ignored. The first write of a run to a folder removes
    // the temporary files an earlier run's crash left there.
    static void write(const nlohmann::json& body);
    // The same on the dumps' own queue, in submission order, so that a request never waits for
    // its diagnostic copy to reach the disk.
    static void writeLater(nlohmann::json body);
    // Waits until every dump handed to writeLater so far is written.
    static void drain();

    // A copy with every "image_url" data URL replaced by "<base64-image redacted>" and every
    // credential member ("Authorization", "password", "access_token", "refresh_token", "apikey")
    // by "<redacted>".
    static nlohmann::json stripImageData(const nlohmann::json& value);
};

}  // namespace corvane::networking
