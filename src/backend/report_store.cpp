#include "backend/report_store.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "support/files.h"
#include "support/iso8601.h"

namespace fs = std::filesystem;

namespace corvane::backend {

ReportStore::ReportStore(fs::path dataFolder, ReportQuotas quotas, platform::Clock& clock)
    : dataFolder_(std::move(dataFolder)), quotas_(quotas), clock_(clock) {
    // Reports half-written when the backend was killed: no quota counts them, so nothing else
    // would ever remove them.
    for (const bool signedIn : {true, false})
        removeLeftoverTemporaryFiles(folder(signedIn), [](std::string_view name) { return name.ends_with(".json"); });
}

fs::path ReportStore::folder(bool signedIn) const {
    return signedIn ? dataFolder_ / "reports" : dataFolder_ / "reports" / "signed-out";
}

bool ReportStore::store(const std::string& id, const nlohmann::json& report, bool signedIn) {
    // Compact: indentation would multiply the size of a deeply nested report.
    const std::string bytes = report.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    const ReportQuota& limits = quota(signedIn);
    if (bytes.size() > limits.maxTotalBytes) return false;
    const fs::path where = folder(signedIn);
    std::error_code ignored;
    for (const fs::path& made : {dataFolder_ / "reports", where}) {
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
    return writePrivateFile(where / (stamp + "-" + id + ".json"), bytes);
}

}  // namespace corvane::backend
