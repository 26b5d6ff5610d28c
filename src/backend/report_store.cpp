#include "backend/report_store.h"

#include <sodium.h>

#include <algorithm>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <vector>

#include "support/files.h"
#include "support/iso8601.h"
#include "support/unicode.h"

namespace fs = std::filesystem;

namespace corvane::backend {

namespace {

const fs::path kAccounts = "accounts";

// A name no e-mail can turn into a path elsewhere, nor share with another account's.
std::string folderName(const std::string& account) {
    const std::string key = text::lowercased(text::trimmingWhitespaceAndNewlines(account));
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(key.data()), key.size());
    char hex[2 * 16 + 1];
    sodium_bin2hex(hex, sizeof hex, digest, 16);
    return hex;
}

}  // namespace

ReportStore::ReportStore(fs::path dataFolder, ReportQuotas quotas, platform::Clock& clock)
    : dataFolder_(std::move(dataFolder)), quotas_(quotas), clock_(clock) {
    if (sodium_init() < 0) throw std::runtime_error("libsodium could not be initialised");
    // Reports half-written when the backend was killed: no quota counts them, so nothing else
    // would ever remove them.
    const auto isReport = [](std::string_view name) { return name.ends_with(".json"); };
    std::vector<fs::path> folders = {dataFolder_ / "reports", folder(std::nullopt)};
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(dataFolder_ / "reports" / kAccounts, ignored)) {
        if (entry.is_directory(ignored)) folders.push_back(entry.path());
    }
    for (const fs::path& each : folders) removeLeftoverTemporaryFiles(each, isReport);
}

fs::path ReportStore::folder(const std::optional<std::string>& account) const {
    return account ? dataFolder_ / "reports" / kAccounts / folderName(*account)
                   : dataFolder_ / "reports" / "signed-out";
}

std::optional<std::string> ReportStore::store(const std::string& id, const nlohmann::json& report,
                                              const std::optional<std::string>& account) {
    // Compact: indentation would multiply the size of a deeply nested report.
    const std::string bytes = report.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    const ReportQuota& limits = quota(account.has_value());
    if (bytes.size() > limits.maxTotalBytes) {
        return "it is larger than the " + std::to_string(limits.maxTotalBytes) + " bytes all reports may take";
    }
    const fs::path where = folder(account);
    std::error_code ignored;
    for (const fs::path& made : {dataFolder_ / "reports", where.parent_path(), where}) {
        fs::create_directories(made, ignored);
        narrowFolderToOwner(made);
    }
    std::string stamp = ISO8601::corvaneDefault(clock_.now());
    std::replace(stamp.begin(), stamp.end(), ':', '-');

    std::lock_guard lock(mutex_);
    struct Stored {
        fs::path path;
        std::uintmax_t size;
    };
    std::vector<Stored> stored;
    std::uintmax_t total = 0;
    for (const auto& entry : fs::directory_iterator(where, ignored)) {
        if (!entry.is_regular_file(ignored) || entry.path().extension() != ".json") continue;
        std::error_code unsized;
        const auto size = entry.file_size(unsized);
        stored.push_back({entry.path(), unsized ? 0 : size});
        total += stored.back().size;
    }
    // Names begin with a fixed-width time, so name order is age order.
    std::sort(stored.begin(), stored.end(), [](const Stored& a, const Stored& b) { return a.path < b.path; });
    for (auto oldest = stored.begin();
         oldest != stored.end() && (stored.end() - oldest >= static_cast<std::ptrdiff_t>(limits.maxReports) ||
                                    total + bytes.size() > limits.maxTotalBytes);
         ++oldest) {
        if (fs::remove(oldest->path, ignored)) total -= oldest->size;
    }
    if (writePrivateFile(where / (stamp + "-" + id + ".json"), bytes)) return std::nullopt;
    return std::generic_category().message(errno);
}

}  // namespace corvane::backend
