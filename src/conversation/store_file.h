#pragma once

#include <exception>
#include <filesystem>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "support/files.h"
#include "support/json_fields.h"

namespace corvane {

// Atomically replaces the file with the document, pretty-printed (2 spaces, keys sorted). Invalid
// UTF-8 is replaced rather than losing the whole write to one bad byte. Whether it was written.
bool writeJSONDocument(const std::filesystem::path& path, const nlohmann::json& document, unsigned mode = 0644);

// The file policy the JSON stores share. A missing file reads as empty. An unreadable file is
// never written over. An undecodable file is copied beside itself ("<name>.corrupt-<stamp>.bak")
// and the store starts empty; it is written over only once a backup holding exactly its bytes
// exists. Every write replaces the whole file atomically.
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
        unsigned mode = 0644;  // the file's permissions after every write
        // Whether a refused write says so in the log, with the file's path.
        bool reportRefusedWrites = true;
    };

    // storeName prefixes the log lines ("[MemoryStore] …").
    StoreFile(std::filesystem::path path, std::string storeName, Options options);
    StoreFile(std::filesystem::path path, std::string storeName)
        : StoreFile(std::move(path), std::move(storeName), {}) {}

    const std::filesystem::path& path() const { return path_; }

    // Reads the file and decodes it with json_fields::decode<T>, or with `decode` (bytes to T,
    // throwing on anything it cannot read). An undecodable file is logged as "decode failed"
    // (or through `reportFailure`, given the reason) and archived.
    template <class T>
    Contents<T> load() const {
        return load<T>([](const std::string& bytes) { return json_fields::decode<T>(bytes); });
    }

    template <class T, class Decode>
    Contents<T> load(Decode&& decode) const {
        auto report = [this](const std::string& reason) { reportDecodeFailure(reason); };
        return load<T>(std::forward<Decode>(decode), report);
    }

    template <class T, class Decode, class ReportFailure>
    Contents<T> load(Decode&& decode, ReportFailure&& reportFailure) const {
        Contents<T> contents;
        FileRead file = readFile(path_);
        if (file.status == FileRead::Status::missing) return contents;
        if (file.status == FileRead::Status::unreadable) {
            contents.found = Found::unreadable;
            return contents;
        }
        try {
            contents.value = decode(file.bytes);
            contents.found = Found::decoded;
        } catch (const std::exception& e) {
            reportFailure(std::string(e.what()));
            archive();
            contents.value = T{};
            contents.found = Found::corrupt;
            contents.corruptBytes = std::move(file.bytes);
        }
        return contents;
    }

    // Writes the document over the file unless what the load found forbids it; whether it was written.
    template <class T>
    bool save(const Contents<T>& loaded, const nlohmann::json& document) const {
        return mayOverwrite(loaded.found, loaded.corruptBytes) && writeJSONDocument(path_, document, options_.mode);
    }

private:
    void reportDecodeFailure(const std::string& reason) const;
    void archive() const;
    bool mayOverwrite(Found found, const std::string& corruptBytes) const;

    std::filesystem::path path_;
    std::string storeName_;
    Options options_;
};

}  // namespace corvane
