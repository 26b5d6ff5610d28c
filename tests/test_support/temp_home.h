#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace corvane::testing {

// A fresh temporary application folder for one test: CORVANE_HOME points into it while it lives.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::filesystem::path& root() const { return root_; }            // scratch folder
    std::filesystem::path appFolder() const { return root_ / "Corvane"; }  // what CORVANE_HOME names

private:
    std::filesystem::path root_;
    std::optional<std::string> previous_;
};

std::string readAll(const std::filesystem::path& path);
void writeAll(const std::filesystem::path& path, const std::string& bytes);

}  // namespace corvane::testing
