#pragma once

// A disk that takes no more: while a FullDisk lives, every write of this process into a file fails
// ("File too large"), as it would on a full disk; sockets and pipes still work. It holds for the
// whole process, so a test keeps it around the one call it means. Given room, files up to that
// many bytes are still written: small ones go, a large one (a long chat) does not.

#include <sys/resource.h>

#include <csignal>

namespace corvane::testing {

class FullDisk {
public:
    explicit FullDisk(rlim_t room = 0) {
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);  // the write answers an error instead
        rlimit limit = previous_;
        limit.rlim_cur = room;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FullDisk() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

}  // namespace corvane::testing
