#include "support/store_file.h"

#include <fmt/format.h>

#include <cerrno>
#include <system_error>

#include "platform/log.h"
#include "support/app_paths.h"

namespace corvane {

namespace {
// nlohmann's serializer writes straight into one string reserved up front.
std::string dumpDocument(const nlohmann::json& document, nlohmann::json::error_handler_t handler, size_t expectedSize) {
    std::string bytes;
    bytes.reserve(expectedSize);
    nlohmann::detail::serializer<nlohmann::json> serializer(nlohmann::detail::output_adapter<char>(bytes), ' ',
                                                            handler);
    serializer.dump(document, true, false, 2);
    return bytes;
}
}  // namespace

std::optional<std::string> encodeJSONDocument(const nlohmann::json& document, bool* replaced) {
    if (replaced) *replaced = false;
    try {
        return dumpDocument(document, nlohmann::json::error_handler_t::strict, 1 << 16);
    } catch (const nlohmann::json::type_error&) {  // invalid UTF-8: the rare second pass
    } catch (const std::exception&) {
        return std::nullopt;
    }
    try {
        if (replaced) *replaced = true;
        return dumpDocument(document, nlohmann::json::error_handler_t::replace, 1 << 16);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool writeJSONDocument(const std::filesystem::path& path, const nlohmann::json& document, unsigned mode) {
    auto bytes = encodeJSONDocument(document);
    return bytes && writeFileAtomically(path, *bytes, mode);
}

nlohmann::json decodeJSONObject(const std::string& bytes) {
    nlohmann::json document = json_fields::parse(bytes);
    if (!document.is_object()) throw json_fields::DecodeError("expected an object");
    return document;
}

StoreFile::StoreFile(std::filesystem::path path, std::string storeName, Options options)
    : path_(std::move(path)), storeName_(std::move(storeName)), options_(options) {}

void StoreFile::reportDecodeFailure(const std::string& reason) const {
    log(fmt::format("[{}] decode failed: {}", storeName_, reason));
}

// Every load of an unchanged corrupt file would otherwise add one more identical copy.
void StoreFile::archive(const std::string& bytes) const {
    if (!AppPaths::hasPreservedCopy(path_, bytes)) AppPaths::archiveCorruptFile(path_, storeName_);
}

// Only what stays unreadable is moved: a passing failure (out of descriptors, an I/O error)
// leaves the file where it is, unwritten.
bool StoreFile::moveAside(int readError) {
    const bool lasting = readError == EACCES || readError == EPERM || readError == EISDIR || readError == ELOOP;
    if (options_.moveUnreadableAside && lasting && AppPaths::moveUnreadableFileAside(path_, storeName_)) {
        lockedVersion_ = HeldVersion();  // a write under the lock now takes the free name
        versionError_.reset();
        return true;
    }
    readFailure_ = std::generic_category().message(readError);
    fail(fmt::format("{} could not be read: {}", path_.string(), readFailure_));
    return false;
}

void StoreFile::fail(std::string reason) { lastFailure_ = std::move(reason); }

void StoreFile::holdVersion() const {
    HeldVersion version = HeldVersion::open(path_);
    const int error = errno;
    versionError_.reset();
    if (!version.stamp() && error != ENOENT && error != ENOTDIR) versionError_ = std::generic_category().message(error);
    lockedVersion_ = std::move(version);
}

std::optional<std::string> StoreFile::encode(const nlohmann::json& document, bool* replaced) {
    auto bytes = encodeJSONDocument(document, replaced);
    if (!bytes) {
        log(fmt::format("[{}] Could not encode {}", storeName_, path_.string()));
        fail(fmt::format("{} could not be encoded", path_.string()));
    }
    return bytes;
}

bool StoreFile::saveBytes(Found found, const std::string& corruptBytes, const std::string& bytes, FileStamp* written) {
    if (!mayOverwrite(found, corruptBytes)) return false;
    const bool unlocked = lockRefusal_.has_value();  // another copy could write in between
    const bool unheld = guarded_ && versionError_.has_value();
    // Asked last before the rename: a copy that took a new lock file since may have read the file.
    // The lock is then taken again, and the write goes only where nobody wrote the file meanwhile.
    bool lockLost = false;
    FileLock retaken;
    auto stillLocked = [&] {
        if (!locked_ || locked_->stillNamed()) return true;
        retaken = FileLock::acquire(path_, kLockWait, options_.ending);
        lockLost = !retaken.held() || fileStamp(path_) != lockedVersion_.stamp();
        return !lockLost;
    };
    // A copy whose lock file was taken from under it (or this one, after its own was) may have
    // read the same version and be replacing it at this moment: of the two, only one goes.
    ReplacedVersion replacing{lockedVersion_.stamp()};
    if (unlocked || unheld ||
        !writeFileAtomically(path_, bytes, options_.mode, written, stillLocked, guarded_ ? &replacing : nullptr)) {
        using Refusal = ReplacedVersion::Refusal;
        const std::string reason = unlocked   ? *lockRefusal_
                                   : unheld   ? *versionError_
                                   : lockLost ? locked_->lostReason()
                                   : replacing.refusal == Refusal::replacedMeanwhile
                                       ? "another copy of Corvane wrote it after this copy read it"
                                   : replacing.refusal == Refusal::heldByAnother
                                       ? std::string(kFolderHeldByAnotherCopy)
                                       : std::generic_category().message(errno);
        if (options_.reportWriteFailure)
            options_.reportWriteFailure(reason);
        else
            log(fmt::format("[{}] Could not write {}: {}", storeName_, path_.string(), reason));
        fail(fmt::format("{} could not be written: {}", path_.string(), reason));
        return false;
    }
    if (guarded_) holdVersion();  // a second write under the same lock
    lastFailure_.reset();
    return true;
}

// An unreadable file, or an undecodable one of which no backup could be made, may still hold
// the user's data.
bool StoreFile::mayOverwrite(Found found, const std::string& corruptBytes) {
    if (found == Found::unreadable) {
        if (options_.reportRefusedWrites)
            log(fmt::format("[{}] Not overwriting unreadable file: {}", storeName_, path_.string()));
        fail(fmt::format("{} could not be read and is not written over: {}", path_.string(), readFailure_));
        return false;
    }
    if (found == Found::corrupt && !AppPaths::hasPreservedCopy(path_, corruptBytes)) {
        if (options_.reportRefusedWrites)
            log(fmt::format("[{}] Not overwriting corrupt file without a backup: {}", storeName_, path_.string()));
        fail(fmt::format("{} is undecodable and no backup of it could be made", path_.string()));
        return false;
    }
    return true;
}

}  // namespace corvane
