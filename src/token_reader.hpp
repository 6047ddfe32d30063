// Reading the token, the bytes up to the first white space after any before it, a window at a
// time into one reused buffer, and no further than the token needs.
#pragma once

#include "descriptor_io.hpp"

#include <cstddef>
#include <string_view>
#include <variant>

class token_reader {
  public:
    explicit token_reader(int descriptor) noexcept;

    // Bytes after every window that may be read, so that a short piece is copied in a fixed size.
    static constexpr std::size_t readable_slack = 64;

    // The next window: the last `carried` bytes of the previous one, then what is read since, the
    // white space before the token dropped; empty where the input has ended.
    std::variant<std::string_view, failure> read(std::size_t carried) noexcept;

    // The token ended `end` bytes into the last window: a seekable input is left just after it.
    void stop_at(std::size_t end) noexcept;

  private:
    bool make_room(std::size_t carried) noexcept;
    // The first 64-byte boundary of the allocation, where the windows are laid out.
    [[nodiscard]] char* origin() const noexcept { return buffer_.get() + origin_offset_; }

    int descriptor_;
    malloced_bytes buffer_;
    std::size_t origin_offset_ = 0;
    std::size_t capacity_ = 0; // bytes from origin() on, not counting the slack
    std::size_t window_start_ = 0;
    std::size_t window_end_ = 0;
};
