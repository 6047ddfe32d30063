#include "line_writer.hpp"

#include "descriptor_wait.hpp"

#include <algorithm>
#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Into a pipe, small writes keep its reader working beside this process on bytes still in cache;
// anything else (a file, a device) takes fewer, larger writes.
std::size_t write_size_for(int descriptor, std::size_t largest) noexcept {
    struct stat status {};
    const bool is_pipe =
        ::fstat(descriptor, &status) == 0 && (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode));
    return is_pipe ? std::size_t{8} * 1024 : largest;
}

} // namespace

line_writer::line_writer(int descriptor) noexcept
    : descriptor_{descriptor}, write_size_{write_size_for(descriptor, largest_write)} {}

void line_writer::write_long_line(std::string_view piece) noexcept {
    if (error_number_ == 0) {
        append(piece);
        append("\n");
    }
}

void line_writer::append(std::string_view bytes) noexcept {
    while (!bytes.empty() && error_number_ == 0) {
        if (used_ == write_size_) {
            flush();
        }
        const std::size_t taken = std::min(bytes.size(), write_size_ - used_);
        std::memcpy(buffer_.data() + used_, bytes.data(), taken);
        used_ += taken;
        bytes.remove_prefix(taken);
    }
}

void line_writer::flush() noexcept {
    std::string_view pending{buffer_.data(), used_};
    used_ = 0;
    while (!pending.empty() && error_number_ == 0) {
        const ssize_t written = ::write(descriptor_, pending.data(), pending.size());
        if (written >= 0) {
            pending.remove_prefix(static_cast<std::size_t>(written));
        } else if (!should_retry(descriptor_, POLLOUT)) {
            error_number_ = errno;
        }
    }
}
