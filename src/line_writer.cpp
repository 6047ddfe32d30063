#include "line_writer.hpp"

#include <algorithm>
#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace {
bool is_pipe_or_socket(int descriptor) noexcept {
    struct stat status {};
    return ::fstat(descriptor, &status) == 0 &&
           (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode));
}
} // namespace

// A reader that keeps up with long lines streams them best in small writes, of bytes still in
// cache. Short lines are made more slowly than a reader takes them, so that every write would find
// it waiting and wake it, which costs more than the copy: they go out a buffer at a time.
line_writer::line_writer(int descriptor, line_layout* layout) noexcept
    : descriptor_{descriptor}, long_line_write_size_{is_pipe_or_socket(descriptor) ? stream_size
                                                                                   : write_size},
      layout_{layout}, buffer_{static_cast<char*>(std::malloc(write_size))} {
    enlarge_pipe(descriptor); // lines go on being written while the reader is yet to wake
}

char* line_writer::append_line(char* at, std::string_view piece) noexcept {
    used_ = static_cast<std::size_t>(at - buffer_.get());
    append(piece);
    append("\n");
    return buffer_.get() + used_;
}

char* line_writer::write_out(char* at) noexcept {
    used_ = static_cast<std::size_t>(at - buffer_.get());
    flush();
    return buffer_.get() + used_;
}

void line_writer::append(std::string_view bytes) noexcept {
    while (!bytes.empty() && error_number_ == 0) {
        if (used_ >= long_line_write_size_) {
            flush();
        }
        const std::size_t taken = std::min(bytes.size(), long_line_write_size_ - used_);
        std::memcpy(buffer_.get() + used_, bytes.data(), taken);
        used_ += taken;
        bytes.remove_prefix(taken);
    }
}

void line_writer::flush() noexcept {
    std::string_view pending{buffer_.get(), used_};
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
