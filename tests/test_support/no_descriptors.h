#pragma once

// No descriptor to spare: while a NoDescriptors lives, every open, socket or pipe of this process
// fails with EMFILE ("Too many open files"), as when idle connections have taken every descriptor
// up to the hard limit. It holds for the whole process, so a test keeps it around the one call it
// means (and makes no other thread open anything meanwhile).

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "support/numbers.h"

namespace corvane::testing {

class NoDescriptors {
public:
    NoDescriptors() {
        ::getrlimit(RLIMIT_NOFILE, &previous_);
        std::int64_t highest = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
            highest = std::max(highest, readInteger(entry.path().filename().string()).value_or(0));
        rlimit lowered = previous_;
        lowered.rlim_cur = static_cast<rlim_t>(highest + 1);
        ::setrlimit(RLIMIT_NOFILE, &lowered);
        // The gaps below the limit taken too.
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken_.push_back(fd);
    }
    ~NoDescriptors() {
        for (const int fd : taken_) ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &previous_);
    }
    NoDescriptors(const NoDescriptors&) = delete;
    NoDescriptors& operator=(const NoDescriptors&) = delete;

private:
    rlimit previous_{};
    std::vector<int> taken_;
};

}  // namespace corvane::testing
