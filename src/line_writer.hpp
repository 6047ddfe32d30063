// Writing the lines: each piece and a line feed, collected into full buffers, so that even a run
// of one-byte pieces costs one system call per buffer.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <type_traits>

class line_writer {
  public:
    explicit line_writer(int descriptor) noexcept;

    // Whether the writer got the memory for its buffer; nothing may be written without it.
    [[nodiscard]] bool has_buffer() const noexcept { return buffer_ != nullptr; }

    // What a scan hands its pieces to: it writes each piece, then a line feed, into the writer's
    // buffer. A piece of up to 16 bytes is copied as 16 bytes whatever its length, with neither a
    // call nor a branch on the length: so the 16 bytes from the start of every piece must be
    // readable, as they are in every window of a token_reader.
    class sink {
      public:
        void operator()(std::string_view piece) noexcept {
            if (piece.size() <= short_piece && at_ <= short_limit_) [[likely]] {
                std::memcpy(at_, piece.data(), short_piece);
                at_[piece.size()] = '\n';
                at_ += piece.size() + 1;
                return;
            }
            at_ = writer_.write_long_line(at_, piece);
        }

        // Where lines may be written straight into the buffer, up to where it must be written
        // out: at least `at_least` bytes (up to a write's size), what is buffered written out
        // first where it leaves less.
        [[nodiscard]] std::span<char> room(std::size_t at_least) noexcept {
            const char* const end = short_limit_ + short_piece + 1;
            if (static_cast<std::size_t>(end - at_) < at_least) {
                at_ = writer_.write_out(at_);
            }
            return {at_, end};
        }
        void wrote_up_to(char* end) noexcept { at_ = end; }

      private:
        friend class line_writer;
        sink(line_writer& writer, char* at, char* short_limit) noexcept
            : writer_{writer}, at_{at}, short_limit_{short_limit} {}

        line_writer& writer_;
        char* at_;                // where the next line goes
        const char* short_limit_; // the last place with room for a short piece's copy and its \n
    };

    // Calls `scan` with a sink and returns what it returns. The sink is a local of this call, not
    // a member: the compiler must assume that every byte stored into the buffer may land on a
    // member and reload it, but it can keep a local's place in the buffer in a register from one
    // piece to the next.
    template <std::invocable<sink&> Scan>
    auto write_lines(Scan&& scan) noexcept(std::is_nothrow_invocable_v<Scan, sink&>) {
        sink lines{*this, buffer_.get() + used_, buffer_.get() + write_size - (short_piece + 1)};
        const auto result = scan(lines);
        used_ = static_cast<std::size_t>(lines.at_ - buffer_.get());
        return result;
    }

    // Writes what is buffered, waiting for the descriptor if it is non-blocking.
    void flush() noexcept;

    // The errno of the first write that failed, or 0. Everything after it is dropped: the output
    // is lost by then, and there is no point in making more of it.
    [[nodiscard]] int error_number() const noexcept { return error_number_; }

    // How much is written at a time: the whole buffer, but for long lines into a pipe or a
    // socket, which go out as soon as a stream's worth is buffered.
    static constexpr std::size_t write_size = std::size_t{256} * 1024;
    static constexpr std::size_t pipe_stream_size = std::size_t{8} * 1024;
    // The longest piece copied in one fixed-size move, and so the bytes read from every piece.
    static constexpr std::size_t short_piece = 16;

  private:
    // A line that is not short, or that the buffer has no room left for in one fixed-size copy:
    // written from `at`, flushing whenever the buffer fills. Returns where the next line goes.
    // Kept out of line, so that the loop that writes short lines stays small.
    [[gnu::noinline]] char* write_long_line(const char* at, std::string_view piece) noexcept;
    // Writes out the lines up to `at`. Returns where the next line goes: the buffer's start.
    [[gnu::noinline]] char* write_out(const char* at) noexcept;
    void append(std::string_view bytes) noexcept;

    struct free_deleter {
        void operator()(char* bytes) const noexcept { std::free(bytes); }
    };

    int descriptor_;
    int error_number_ = 0;
    std::size_t long_line_write_size_; // where long lines are written out
    std::size_t used_ = 0;
    // Not cleared: only the bytes that lines were written to are ever written out. Its own
    // allocation, of exactly its size, so that a line written past its end is seen by the
    // sanitizers.
    std::unique_ptr<char, free_deleter> buffer_;
};
