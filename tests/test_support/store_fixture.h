#pragma once

// What every test of a StoreFile-backed store sets up: a fresh application folder, a virtual
// clock installed as the platform's (a backup's name carries its second), and the paths of the
// store's file and its backups.

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "support/iso8601.h"
#include "test_support/manual_clock.h"
#include "test_support/temp_home.h"

namespace corvane::testing {

inline ManualClock::TimePoint at(const char* iso) { return *ISO8601::parse(iso); }

class StoreFixture {
    std::string fileName_;

public:
    // fileName: the store's file in the application folder.
    explicit StoreFixture(std::string fileName, const char* start = "2026-12-06T15:24:00Z")
        : fileName_(std::move(fileName)), clock(at(start)) {}

    TempHome home;
    ManualClock clock;
    platform::ScopedServices services{{.clock = &clock}};

    std::filesystem::path file() const { return home.appFolder() / fileName_; }
    // The backup named for the clock's second, or for `stamp` ("2026-12-06T15-24-00Z", "…-00Z-2").
    std::filesystem::path backup() { return backup(backupStamp()); }
    std::filesystem::path backup(const std::string& stamp) const {
        return home.appFolder() / (fileName_ + ".corrupt-" + stamp + ".bak");
    }
    std::string backupStamp() {
        std::string stamp = ISO8601::plainString(clock.now());
        std::replace(stamp.begin(), stamp.end(), ':', '-');
        return stamp;
    }
    std::size_t backupCount() const {
        std::size_t count = 0;
        std::error_code ec;
        for (std::filesystem::directory_iterator it(home.appFolder(), ec), end; !ec && it != end; it.increment(ec))
            if (it->path().filename().string().starts_with(fileName_ + ".corrupt-")) ++count;
        return count;
    }
    // Puts the bytes in the store's file before the store reads it.
    void prepare(const std::string& bytes) const {
        std::filesystem::create_directories(home.appFolder());
        writeAll(file(), bytes);
    }
};

}  // namespace corvane::testing
