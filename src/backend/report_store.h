#pragma once

// The error reports the app sends, kept in the data folder's "reports" (made 0700): one compact
// private file (0600) per report, "<stamp>-<id>.json", written atomically. Each account's reports
// go to a folder of its own, "reports/accounts/<hash of the e-mail>", under a quota of its own,
// so that no account's reports push out another's; reports sent without a token go to
// "reports/signed-out" under a tighter quota, so that an anonymous flood can neither fill the
// disk nor push out the reports of signed-in users. Within each quota the oldest reports are
// removed first to make room.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/clock.h"

namespace corvane::backend {

struct ReportQuota {
    std::size_t maxBodyBytes;  // one report as received
    std::size_t maxReports;
    std::uintmax_t maxTotalBytes;  // all stored reports of the kind
};

struct ReportQuotas {
    ReportQuota signedIn{1024 * 1024, 500, 32 * 1024 * 1024};  // for each account
    ReportQuota signedOut{64 * 1024, 100, 2 * 1024 * 1024};
};

class ReportStore {
public:
    ReportStore(std::filesystem::path dataFolder, ReportQuotas quotas, platform::Clock& clock);

    const ReportQuota& quota(bool signedIn) const { return signedIn ? quotas_.signedIn : quotas_.signedOut; }
    // Stores the report under the id, among the account's (an e-mail as the tokens name it, none:
    // signed out), first removing the oldest ones its quota needs gone. Why it was not written;
    // none when it was.
    std::optional<std::string> store(const std::string& id, const nlohmann::json& report,
                                     const std::optional<std::string>& account);

private:
    std::filesystem::path folder(const std::optional<std::string>& account) const;

    std::filesystem::path dataFolder_;
    ReportQuotas quotas_;
    platform::Clock& clock_;
    std::mutex mutex_;
};

}  // namespace corvane::backend
