#pragma once

// "Check for Updates…" on Linux: reads the update feed (an appcast, RSS with the update
// framework's version fields) and says whether a newer version than the running one exists. It
// neither downloads nor installs anything.

#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "http/http_client.h"

namespace corvane::networking {

struct AppcastItem {
    std::string version;                      // "sparkle:version": the build number compared
    std::optional<std::string> shortVersion;  // "sparkle:shortVersionString": what the user is shown
    std::string displayVersion() const { return shortVersion.value_or(version); }
};

struct UpdateCheckResult {
    enum class Kind { upToDate, updateAvailable, failed };
    Kind kind = Kind::failed;
    std::string latestVersion;  // updateAvailable: the newest item's version as shown to the user
    std::string detail;         // failed: why, for the user
};

// What the user is told: a title and a sentence.
struct UpdateCheckMessage {
    std::string title;
    std::string text;
};

struct UpdateCheckConfiguration {
    static constexpr const char* kFeedPath = "/sparkle/appcast.xml";

    std::string feedURL;  // the site's address followed by kFeedPath
    std::string appName = "Corvane";
    std::string shortVersion;  // of the running application, e.g. "0.1.2"
    std::string version;       // its build number, e.g. "3"
};

class UpdateChecker {
public:
    UpdateChecker(UpdateCheckConfiguration configuration,
                  std::shared_ptr<http::HTTPTransport> transport = http::defaultTransport());

    // Blocks for the feed (15 s at most); never throws.
    UpdateCheckResult check(std::stop_token stop = {}) const;
    UpdateCheckMessage describe(const UpdateCheckResult& result) const;
    const UpdateCheckConfiguration& configuration() const { return configuration_; }

private:
    UpdateCheckConfiguration configuration_;
    std::shared_ptr<http::HTTPTransport> transport_;
};

// The items of an appcast in document order; throws std::invalid_argument when the text holds no
// RSS channel. Items without a version are left out.
std::vector<AppcastItem> parseAppcast(const std::string& xml);

// Compares dotted versions part by part, numbers as numbers ("1.10" > "1.9", "1.0" == "1");
// negative, zero or positive.
int compareVersions(const std::string& a, const std::string& b);

}  // namespace corvane::networking
