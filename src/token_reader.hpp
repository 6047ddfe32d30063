// Reading the token: the first white-space-delimited word of a file descriptor, a window at a
// time into one reused buffer, and no further than the token needs.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <variant>

// Why a run could not go on: `what` names the failure; `error_number`, when not 0, is the errno
// whose text completes the message.
struct failure {
    std::string_view what;
    int error_number = 0;
};

class token_reader {
  public:
    explicit token_reader(int descriptor) noexcept;

    // Bytes past the end of every window that may be read, never used: a copy of a short piece
    // can then move a fixed 16 or 32 bytes, whatever the piece's length, without a check.
    static constexpr std::size_t readable_slack = 64;

    // Reads on, waiting for the descriptor if it is non-blocking. The window returned begins with
    // the last `carried` bytes of the previous window, followed by everything read since; until
    // the token's first byte arrives, the white space before it is dropped. An empty window means
    // that the input has ended. What is read lands on a 64-byte boundary.
    std::variant<std::string_view, failure> read(std::size_t carried) noexcept;

    // The token ended `end` bytes into the last window. A seekable input gets back what was read
    // past that, so that whoever shares the descriptor next reads on from just after the token.
    void stop_at(std::size_t end) noexcept;

  private:
    // Memory from malloc and realloc, which can grow a large block in place instead of copying it.
    struct free_deleter {
        void operator()(char* bytes) const noexcept { std::free(bytes); }
    };

    bool make_room(std::size_t carried) noexcept;
    // Where the windows are laid out: the first 64-byte boundary of the allocation.
    [[nodiscard]] char* origin() const noexcept { return buffer_.get() + origin_offset_; }

    int descriptor_;
    std::unique_ptr<char, free_deleter> buffer_;
    std::size_t origin_offset_ = 0;
    std::size_t capacity_ = 0; // bytes from origin() on, not counting the slack
    std::size_t window_start_ = 0;
    std::size_t window_end_ = 0;
};
