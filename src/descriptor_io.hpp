// What the reader and the writer share at the process's edge: descriptors left non-blocking or
// interrupted, pipes, buffers, and the failure that ends a run.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string_view>

#include <fcntl.h>
#include <poll.h>

// Why a run could not go on; `error_number`, where not 0, is the errno that says more.
struct failure {
    std::string_view what;
    int error_number = 0;
};

// Memory from malloc, which realloc can grow in place, of exactly the size asked for, so that the
// sanitizers see a byte written past it.
struct free_deleter {
    void operator()(char* bytes) const noexcept { std::free(bytes); }
};
using malloced_bytes = std::unique_ptr<char, free_deleter>;

// Whether a read or write that has just failed should be tried again: it was interrupted, or would
// have blocked and `descriptor` is now ready for `events`. Where not, errno holds the reason.
inline bool should_retry(int descriptor, short events) noexcept {
    if (errno == EINTR) {
        return true;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
        return false;
    }
    pollfd waiting{descriptor, events, 0};
    while (::poll(&waiting, 1, -1) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

// A pipe of 1 MiB, where `descriptor` is one and the system allows: this process and the one at
// its other end take fewer, longer turns. Where not, only the time changes.
inline void enlarge_pipe([[maybe_unused]] int descriptor) noexcept {
#if defined(F_SETPIPE_SZ)
    static_cast<void>(::fcntl(descriptor, F_SETPIPE_SZ, 1 << 20));
#endif
}
