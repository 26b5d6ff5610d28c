#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "support/files.h"
#include "support/json_fields.h"

namespace corvane {

// The bytes of a store file: pretty-printed (2 spaces, keys sorted). Invalid UTF-8 is replaced
// rather than losing the whole write to one bad byte; `replaced` says whether that happened.
// Absent when the document cannot be encoded at all.
std::optional<std::string> encodeJSONDocument(const nlohmann::json& document, bool* replaced = nullptr);

// Atomically replaces the file with the encoded document. Whether it was written.
bool writeJSONDocument(const std::filesystem::path& path, const nlohmann::json& document, unsigned mode = 0600);

// Decodes a store file that must hold one JSON object, for stores that read its members one by one
// and leave the ones they do not know alone. Throws json_fields::DecodeError on anything else.
nlohmann::json decodeJSONObject(const std::string& bytes);

// The file policy the JSON stores share. A missing file reads as empty. An undecodable file is
// copied beside itself ("<name>.corrupt-<stamp>.bak", unless such a backup already holds its
// bytes) and the store starts empty; it is written
// over only once a backup holding exactly its bytes exists. A file that cannot be read (no
// permission, a folder in its place, out of descriptors) was not found damaged: it stays where
// it is, is never written over, and the reason is the store's last failure (a store whose file
// a later write may replace has it moved aside, when it stays unreadable). Every write replaces
// the whole file atomically. A write that is refused or fails is logged and kept as the store's
// last failure until an operation succeeds.
class StoreFile {
public:
    enum class Found { missing, decoded, corrupt, unreadable };

    template <class T>
    struct Contents {
        T value{};
        Found found = Found::missing;
        std::string corruptBytes;  // what an undecodable file held, to recognise its backup by
    };

    struct Options {
        unsigned mode = 0600;  // the file's permissions after every write
        // Whether a refused write says so in the log, with the file's path.
        bool reportRefusedWrites = true;
        // Logs a failed write, given the system's reason; null: "[<store>] Could not write <path>: <reason>".
        std::function<void(const std::string& reason)> reportWriteFailure = nullptr;
        // For a file that holds nothing that cannot be had again (the sign-in's tokens): one that
        // stays unreadable is renamed to a backup name, and the next write starts it over.
        bool moveUnreadableAside = false;
        // The owner's ending: once requested, lock() waits no longer for another copy holding the
        // file, and the write it guards is refused saying so.
        std::stop_token ending{};
    };

    // storeName prefixes the log lines ("[MemoryStore] …").
    StoreFile(std::filesystem::path path, std::string storeName, Options options);
    StoreFile(std::filesystem::path path, std::string storeName)
        : StoreFile(std::move(path), std::move(storeName), {}) {}

    const std::filesystem::path& path() const { return path_; }
    const std::string& storeName() const { return storeName_; }

    // Held across a read-modify-write, from the read to the rename: no other copy of the
    // program sharing the folder writes the file in between. Where no lock could be had, the
    // writes until the next lock() are refused with its reason.
    [[nodiscard]] FileLock lock() const {
        FileLock held = FileLock::acquire(path_, kLockWait, options_.ending);
        lockedBy(held);
        return held;
    }
    // As lock(), for a lock the caller took before and keeps across several operations.
    // The lock begins an operation: an earlier one's failure is no longer the reason of this one.
    void lockedBy(const FileLock& held) const {
        lastFailure_.reset();
        lockRefusal_ = held.refusal();
        locked_ = held.lockedFile();
        holdVersion();
        guarded_ = true;
    }
    // Why the last lock() could not be had; absent when it was (or the file system has none).
    const std::optional<std::string>& lockRefusal() const { return lockRefusal_; }

    // Why the last load or save could not read or write the file; absent when it could.
    const std::optional<std::string>& lastFailure() const { return lastFailure_; }
    // Puts back a failure that a later read in the same operation would otherwise clear.
    void keepFailure(std::string reason) { lastFailure_ = std::move(reason); }

    // Reads the file and decodes it with json_fields::decode<T>, or with `decode` (bytes to T,
    // throwing on anything it cannot read). An undecodable file is logged as "decode failed"
    // (or through `reportFailure`, given the reason) and archived.
    template <class T>
    Contents<T> load() {
        return load<T>([](const std::string& bytes) { return json_fields::decode<T>(bytes); });
    }

    template <class T, class Decode>
    Contents<T> load(Decode&& decode) {
        auto report = [this](const std::string& reason) { reportDecodeFailure(reason); };
        return load<T>(std::forward<Decode>(decode), report);
    }

    template <class T, class Decode, class ReportFailure>
    Contents<T> load(Decode&& decode, ReportFailure&& reportFailure) {
        Contents<T> contents;
        FileRead file = readFile(path_);
        lastFailure_.reset();
        if (file.status == FileRead::Status::missing) return contents;
        if (file.status == FileRead::Status::unreadable) {
            if (!moveAside(file.error)) contents.found = Found::unreadable;
            return contents;
        }
        try {
            contents.value = decode(file.bytes);
            contents.found = Found::decoded;
        } catch (const std::exception& e) {
            reportFailure(std::string(e.what()));
            archive(file.bytes);
            contents.value = T{};
            contents.found = Found::corrupt;
            contents.corruptBytes = std::move(file.bytes);
        }
        return contents;
    }

    // Writes the document over the file unless what the load found forbids it; whether it was written.
    template <class T>
    bool save(const Contents<T>& loaded, const nlohmann::json& document) {
        auto bytes = encode(document, nullptr);
        return bytes && saveBytes(loaded.found, loaded.corruptBytes, *bytes, nullptr);
    }

    // Writes bytes of the store's own format (compact, a final line feed) as save does.
    template <class T>
    bool saveBytes(const Contents<T>& loaded, const std::string& bytes) {
        return saveBytes(loaded.found, loaded.corruptBytes, bytes, nullptr);
    }

    // The encoding of a document for saveBytes; absent (and the failure kept) when impossible.
    std::optional<std::string> encode(const nlohmann::json& document, bool* replaced);
    // Writes already encoded bytes, as save does; `written` receives the new file's stamp.
    bool saveBytes(Found found, const std::string& corruptBytes, const std::string& bytes, FileStamp* written);

private:
    void reportDecodeFailure(const std::string& reason) const;
    void archive(const std::string& bytes) const;
    // Whether the unreadable file was moved aside; when not, the reason is the last failure.
    bool moveAside(int readError);
    bool mayOverwrite(Found found, const std::string& corruptBytes);
    void fail(std::string reason);
    // The file at the path now becomes the version a write may replace.
    void holdVersion() const;

    std::filesystem::path path_;
    std::string storeName_;
    Options options_;
    mutable std::optional<std::string> lastFailure_;
    mutable std::optional<std::string> lockRefusal_;
    mutable std::optional<LockedFile> locked_;
    // The file as lock() found it, then as this store last wrote it: the one version a write may
    // replace, once a lock was asked for.
    mutable HeldVersion lockedVersion_;
    // Why the version could not be held (out of descriptors, say), though something may be at the
    // path: a write would take it for missing, and is refused with this instead.
    mutable std::optional<std::string> versionError_;
    std::string readFailure_;  // why the last read found the file unreadable
    mutable bool guarded_ = false;
};

// A store file whose decoded contents stay in memory between operations. The file is read again
// only when it changed on disk (another writer, a restored backup), so an operation costs one
// stat plus, when it changes something, one encode and one atomic write. The version in memory
// is held open (HeldVersion), so that a replacement is always seen. An operation that changes
// the file holds lock() from its current() to its save(), so that what it read is still the
// file when it writes.
template <class T>
class CachedStoreFile {
public:
    using Contents = StoreFile::Contents<T>;
    using Decode = std::function<T(const std::string&)>;
    using ReportFailure = std::function<void(const std::string&)>;
    // Writes the text of encodeJSONDocument(json(value)) into `out` straight from the value;
    // false when it cannot (invalid UTF-8), and the document path writes it instead.
    using Encode = std::function<bool(const T& value, std::string& out)>;

    // Without `decode`, json_fields::decode<T>; without `reportFailure`, the "decode failed" line.
    CachedStoreFile(StoreFile file, Decode decode = {}, ReportFailure reportFailure = {}, Encode encode = {})
        : file_(std::move(file)),
          decode_(std::move(decode)),
          reportFailure_(std::move(reportFailure)),
          encode_(std::move(encode)) {
        if (!decode_) decode_ = [](const std::string& bytes) { return json_fields::decode<T>(bytes); };
        // A store is its file's one writer, made at start: what a crash left mid-write goes now.
        removeLeftoverTemporaryFiles(file_.path());
    }

    const StoreFile& file() const { return file_; }
    const std::optional<std::string>& lastFailure() const { return file_.lastFailure(); }
    // Says why the operation changed nothing, as a failed write would.
    void keepFailure(std::string reason) { file_.keepFailure(std::move(reason)); }
    [[nodiscard]] FileLock lock() const { return file_.lock(); }

    // Changes whenever current() may hold other contents than before (read again, saved): what
    // a caller built from them stays right while it is the same. Never 0.
    std::uint64_t version() const { return version_; }

    // The contents as the file holds them now; the caller may change them and then save().
    Contents& current() {
        if (cached_ && fileStamp(file_.path()) == held_.stamp()) return contents_;
        cached_ = false;
        ++version_;
        held_ = HeldVersion::open(file_.path());  // before the read: a later change shows
        contents_ = reportFailure_ ? file_.load<T>(decode_, reportFailure_) : file_.load<T>(decode_);
        // Only a file read whole is kept; a corrupt or unreadable one is looked at again each time.
        if (contents_.found == StoreFile::Found::decoded || contents_.found == StoreFile::Found::missing) {
            // A missing file (or one just moved aside) is gone as of the read.
            if (contents_.found == StoreFile::Found::missing) held_ = HeldVersion();
            cached_ = true;
        }
        return contents_;
    }

    // After a save() that did not reach the file: the contents the file kept, read again, with
    // that save's failure still the last one.
    Contents& keptAfterFailedSave() {
        const std::optional<std::string> failure = file_.lastFailure();
        Contents& kept = current();
        if (failure && !file_.lastFailure()) file_.keepFailure(*failure);
        return kept;
    }

    // Writes current() as changed; whether it reached the file. When it did not, the changes
    // are dropped and the next operation reads the file again.
    bool save() {
        cached_ = false;
        ++version_;
        bool replaced = false;
        std::optional<std::string> bytes;
        if (encode_) {
            bytes.emplace();
            bytes->reserve(lastSize_ + lastSize_ / 8 + 4096);
            if (!encode_(contents_.value, *bytes)) bytes.reset();
        }
        if (!bytes) bytes = file_.encode(nlohmann::json(contents_.value), &replaced);
        FileStamp written;
        if (!bytes || !file_.saveBytes(contents_.found, contents_.corruptBytes, *bytes, &written)) return false;
        contents_.found = StoreFile::Found::decoded;
        contents_.corruptBytes.clear();
        lastSize_ = bytes->size();
        if (replaced) {
            // Keep what a later run will read, not the invalid text the file could not hold.
            try {
                contents_.value = decode_(*bytes);
            } catch (const std::exception&) {
                return true;  // stays uncached: the next operation reads the file
            }
        }
        // What is at the path is this write unless a writer without the lock came in between.
        held_ = HeldVersion::open(file_.path());
        if (held_.stamp() != written) return true;  // uncached: the next operation reads the file
        cached_ = true;
        return true;
    }

private:
    StoreFile file_;
    Decode decode_;
    ReportFailure reportFailure_;
    Encode encode_;
    Contents contents_;
    size_t lastSize_ = 0;
    HeldVersion held_;
    bool cached_ = false;
    std::uint64_t version_ = 1;
};

}  // namespace corvane
