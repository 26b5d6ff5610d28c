#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "support/store_file.h"

namespace corvane {

// The user's small preferences (the answer tier and the like), text by key.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;
    virtual std::optional<std::string> string(const std::string& key) = 0;
    virtual void setString(const std::string& key, const std::string& value) = 0;
};

// The defaults as one JSON object of texts in "user-defaults.json" of the application folder,
// kept by the stores' file policy (StoreFile): a missing file reads as empty, an undecodable one
// is archived and reads as empty, a value that is not text reads as absent. Each change rewrites
// the file atomically; a write that fails or is refused loses the change.
class JSONFileUserDefaults final : public UserDefaults {
public:
    JSONFileUserDefaults();  // the file in the application folder
    explicit JSONFileUserDefaults(std::filesystem::path file);

    std::optional<std::string> string(const std::string& key) override;
    void setString(const std::string& key, const std::string& value) override;

    const std::filesystem::path& file() const { return file_.path(); }

private:
    StoreFile file_;
    std::mutex mutex_;
};

}  // namespace corvane
