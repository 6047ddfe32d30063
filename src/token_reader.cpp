#include "token_reader.hpp"
#include "white_space.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <unistd.h>

namespace {
// Room for at least this much is made before every read: few calls, each scanned while in cache.
constexpr std::size_t read_size = std::size_t{256} * 1024;
constexpr std::size_t alignment = 64;

constexpr std::size_t round_up_to_alignment(std::size_t size) noexcept {
    return (size + alignment - 1) / alignment * alignment;
}
} // namespace

token_reader::token_reader(int descriptor) noexcept : descriptor_{descriptor} {
    enlarge_pipe(descriptor); // a large token arrives in fewer, longer reads
}

// Every read lands on a 64-byte boundary: some processors copy to a byte or two past a cache
// line's start 2.5 times as slowly. The buffer grows only where the carried bytes leave less than
// a read's room: memory follows the longest piece, not the token.
bool token_reader::make_room(std::size_t carried) noexcept {
    const std::size_t read_at = round_up_to_alignment(carried);
    // Counted from the allocation's start, which realloc keeps when it moves the bytes.
    const std::size_t carried_from = origin_offset_ + window_end_ - carried;
    if (capacity_ < read_at + read_size) {
        const std::size_t grown =
            std::max(read_at + read_size, (capacity_ + capacity_ / 2) / alignment * alignment);
        char* const moved =
            static_cast<char*>(std::realloc(buffer_.get(), grown + alignment + readable_slack));
        if (moved == nullptr) {
            return false;
        }
        static_cast<void>(buffer_.release());
        buffer_.reset(moved);
        capacity_ = grown;
        const auto address = reinterpret_cast<std::uintptr_t>(moved);
        origin_offset_ = round_up_to_alignment(address) - address;
    }
    window_start_ = read_at - carried;
    window_end_ = read_at;
    if (carried != 0) {
        std::memmove(origin() + window_start_, buffer_.get() + carried_from, carried);
    }
    return true;
}

std::variant<std::string_view, failure> token_reader::read(std::size_t carried) noexcept {
    if (!make_room(carried)) {
        return failure{"out of memory reading the token"};
    }
    while (true) {
        const bool token_begun = window_start_ != window_end_;
        char* const free_space = origin() + window_end_;
        const ssize_t count = ::read(descriptor_, free_space, capacity_ - window_end_);
        if (count < 0) {
            if (should_retry(descriptor_, POLLIN)) {
                continue;
            }
            return failure{"read error", errno};
        }
        if (count == 0) {
            return std::string_view{};
        }
        window_end_ += static_cast<std::size_t>(count);
        if (!token_begun) { // the white space before the token is dropped as it arrives
            const char* const begins =
                std::find_if_not(free_space, free_space + count, is_white_space);
            window_start_ = static_cast<std::size_t>(begins - origin());
        }
        if (window_start_ != window_end_) {
            return std::string_view{origin() + window_start_, window_end_ - window_start_};
        }
        window_start_ = window_end_ = 0;
    }
}

void token_reader::stop_at(std::size_t end) noexcept {
    // A descriptor that cannot seek refuses, and keeps what was read past the token.
    if (const std::size_t read_past = window_end_ - window_start_ - end; read_past != 0) {
        static_cast<void>(::lseek(descriptor_, -static_cast<off_t>(read_past), SEEK_CUR));
    }
}
