#pragma once
// While it lives, a file of this process may grow to `bytes` and no further: a write beyond
// fails with EFBIG as on a full disk (SIGXFSZ ignored), and no root is needed. Linux only.

#include <csignal>
#include <sys/resource.h>

class TSizeLimit {
public:
    explicit TSizeLimit(rlim_t bytes)
    {
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~TSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved_); }
    TSizeLimit(const TSizeLimit &) = delete;
    TSizeLimit &operator=(const TSizeLimit &) = delete;

private:
    rlimit saved_{};
};
