// Reading and writing descriptors as a parent process left them: non-blocking, or pipes of the
// size it chose.
#pragma once

#include <cerrno>

#include <fcntl.h>
#include <poll.h>

// Whether a read or write on `descriptor` that has just failed should be tried again: it was
// interrupted by a signal, or the descriptor is non-blocking and would have blocked, and has now
// become ready for `events` (POLLIN or POLLOUT). When not, errno holds the reason.
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

// Enlarges `descriptor` to 1 MiB if it is a pipe, so that it is read or written in fewer, longer
// turns, with fewer switches between this process and the one at the other end. Anything but a
// pipe refuses, and so may a pipe over its owner's limit; either way only the time changes. Only
// Linux can resize a pipe: elsewhere it keeps the size it has.
inline void enlarge_pipe([[maybe_unused]] int descriptor) noexcept {
#if defined(F_SETPIPE_SZ)
    static_cast<void>(::fcntl(descriptor, F_SETPIPE_SZ, 1 << 20));
#endif
}
