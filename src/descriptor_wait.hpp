// Reading and writing descriptors that a parent process may have left non-blocking.
#pragma once

#include <cerrno>

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
