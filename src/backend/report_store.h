#pragma once

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

namespace corvane::backend {

// Keeps one error report as "<stamp>-<id>.json" in the data folder's "reports" (made 0700), a
// private file (0600) written atomically. Whether it was written.
bool storeErrorReport(const std::filesystem::path& dataFolder, const std::string& id, const nlohmann::json& report);

}  // namespace corvane::backend
