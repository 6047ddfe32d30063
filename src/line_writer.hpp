// Writing the lines: each piece and a line feed, collected into full buffers, so that even a run
// of one-byte pieces costs one system call per buffer.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

class line_writer {
  public:
    explicit line_writer(int descriptor) noexcept;

    void write_line(std::string_view piece) noexcept {
        if (const std::size_t used = used_; piece.size() <= 16 && write_size_ - used > 16) {
            char* const line = buffer_.data() + used; // the common case
            copy_short(line, piece);
            line[piece.size()] = '\n';
            used_ = used + piece.size() + 1;
            return;
        }
        write_long_line(piece);
    }

    // Writes what is buffered, waiting for the descriptor if it is non-blocking.
    void flush() noexcept;

    // The errno of the first write that failed, or 0. Everything after it is dropped without being
    // copied: the output is lost by then, and there is no point in making more of it.
    [[nodiscard]] int error_number() const noexcept { return error_number_; }

  private:
    // Up to 16 bytes in fixed-size moves that overlap in the middle: no call to memcpy, whose cost
    // (and the registers saved around it) would dominate the one- and two-byte pieces of a token
    // dense with equal pairs.
    static void copy_short(char* to, std::string_view piece) noexcept {
        const char* const from = piece.data();
        const std::size_t size = piece.size();
        if (size >= 8) {
            std::memcpy(to, from, 8);
            std::memcpy(to + size - 8, from + size - 8, 8);
        } else if (size >= 4) {
            std::memcpy(to, from, 4);
            std::memcpy(to + size - 4, from + size - 4, 4);
        } else if (size > 0) {
            to[0] = from[0];
            to[size / 2] = from[size / 2];
            to[size - 1] = from[size - 1];
        }
    }

    // Kept out of line, so that the common case of the loop that writes lines stays small.
    [[gnu::noinline]] void write_long_line(std::string_view piece) noexcept;
    void append(std::string_view bytes) noexcept;

    static constexpr std::size_t largest_write = std::size_t{32} * 1024;

    int descriptor_;
    int error_number_ = 0;
    std::size_t write_size_;
    std::size_t used_ = 0;
    std::array<char, largest_write> buffer_{};
};
