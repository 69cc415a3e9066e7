#pragma once

// Makes every write past a few bytes fail while it lives, also for root, so a
// test can watch a save fail half-way.

#include <sys/resource.h>

#include <csignal>

namespace varko::testing {

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes = 16) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit tiny = saved;
        tiny.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &tiny);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved{};
};

}  // namespace varko::testing
