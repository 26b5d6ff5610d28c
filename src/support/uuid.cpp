#include "support/uuid.h"

#include <fmt/format.h>

#include <array>
#include <cctype>
#include <mutex>
#include <random>

namespace corvane {

std::string makeUUID() {
    static std::mutex mutex;
    static std::mt19937_64 rng{std::random_device{}()};
    std::array<unsigned char, 16> b{};
    {
        std::lock_guard lock(mutex);
        for (size_t i = 0; i < 16; i += 8) {
            auto v = rng();
            for (size_t j = 0; j < 8; ++j) b[i + j] = static_cast<unsigned char>(v >> (8 * j));
        }
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
    std::string s;
    for (size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) s += '-';
        s += fmt::format("{:02X}", b[i]);
    }
    return s;
}

bool isUUID(const std::string& t) {
    if (t.size() != 36) return false;
    for (size_t i = 0; i < 36; ++i) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? t[i] != '-' : !std::isxdigit(static_cast<unsigned char>(t[i]))) return false;
    }
    return true;
}

}  // namespace corvane
