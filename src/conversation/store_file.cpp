#include "conversation/store_file.h"

#include <fmt/format.h>

#include "platform/log.h"
#include "support/app_paths.h"

namespace corvane {

bool writeJSONDocument(const std::filesystem::path& path, const nlohmann::json& document, unsigned mode) {
    std::string bytes;
    try {
        bytes = document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    } catch (const std::exception&) {
        return false;
    }
    return writeFileAtomically(path, bytes, mode);  // a failed write is not reported, as for every store
}

StoreFile::StoreFile(std::filesystem::path path, std::string storeName, Options options)
    : path_(std::move(path)), storeName_(std::move(storeName)), options_(options) {}

void StoreFile::reportDecodeFailure(const std::string& reason) const {
    log(fmt::format("[{}] decode failed: {}", storeName_, reason));
}

void StoreFile::archive() const { AppPaths::archiveCorruptFile(path_, storeName_); }

// An unreadable file, or an undecodable one of which no backup could be made, may still hold
// the user's data.
bool StoreFile::mayOverwrite(Found found, const std::string& corruptBytes) const {
    if (found == Found::unreadable) {
        if (options_.reportRefusedWrites)
            log(fmt::format("[{}] Not overwriting unreadable file: {}", storeName_, path_.string()));
        return false;
    }
    if (found == Found::corrupt && !AppPaths::hasPreservedCopy(path_, corruptBytes)) {
        if (options_.reportRefusedWrites)
            log(fmt::format("[{}] Not overwriting corrupt file without a backup: {}", storeName_, path_.string()));
        return false;
    }
    return true;
}

}  // namespace corvane
