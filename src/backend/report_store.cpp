#include "backend/report_store.h"

#include "support/iso8601.h"
#include "support/store_file.h"

namespace fs = std::filesystem;

namespace corvane::backend {

bool storeErrorReport(const fs::path& dataFolder, const std::string& id, const nlohmann::json& report) {
    const fs::path folder = dataFolder / "reports";
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ignored);
    std::string stamp = ISO8601::plainString(ISO8601::now());
    for (char& c : stamp) {
        if (c == ':') c = '-';
    }
    StoreFile file(folder / (stamp + "-" + id + ".json"), "ReportStore", {.mode = 0600});
    return file.save(StoreFile::Contents<nlohmann::json>{}, report);
}

}  // namespace corvane::backend
