#include "test_support/temp_home.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace corvane::testing {

TempHome::TempHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "corvane-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    if (const char* old = std::getenv("CORVANE_HOME")) previous_ = old;
    ::setenv("CORVANE_HOME", appFolder().c_str(), 1);
}

TempHome::~TempHome() {
    if (previous_)
        ::setenv("CORVANE_HOME", previous_->c_str(), 1);
    else
        ::unsetenv("CORVANE_HOME");
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeAll(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

}  // namespace corvane::testing
