// Writing the lines: each piece and a line feed, made where they land, in a buffer that is
// written out whole, so that even a run of one-byte pieces costs one system call a buffer.
#pragma once

#include "descriptor_io.hpp"
#include "line_layout.hpp"

#include <concepts>
#include <cstddef>
#include <cstring>
#include <string_view>

class line_writer {
  public:
    // Lays out the lines of dense pieces with `layout`, where it is not null.
    line_writer(int descriptor, line_layout* layout) noexcept;

    // Whether the writer got the memory for its buffer; nothing may be written without it.
    [[nodiscard]] bool has_buffer() const noexcept { return buffer_ != nullptr; }

    // What a scan hands its pieces to, and the one way that lines enter the buffer: a local, whose
    // place in the buffer stays in a register, as a member's would not (any store may land on it).
    class sink {
      public:
        // A piece of up to 16 bytes is copied as 16, with no branch on its length: so 16 bytes from
        // every piece's start must be readable, as they are in a token_reader's windows.
        void operator()(std::string_view piece) noexcept {
            if (piece.size() <= short_piece && at_ <= end_ - (short_piece + 1)) [[likely]] {
                std::memcpy(at_, piece.data(), short_piece);
                at_[piece.size()] = '\n';
                at_ += piece.size() + 1;
                return;
            }
            at_ = writer_.append_line(at_, piece);
        }

        [[nodiscard]] bool can_lay_out() const noexcept { return layout_ != nullptr; }

        // The lines of a slice's pairs from `from` to `end`, laid out as far as the layout can.
        counted lay_out(const char* bytes, const pair_marks& equal, std::size_t from,
                        std::size_t end, pair_counters counters) noexcept {
            if (at_ > end_ - block_room) {
                at_ = writer_.write_out(at_);
            }
            laid_out done = layout_(bytes, equal, from, end, counters, at_, end_);
            while (done.end > end_ - block_room && done.count.next_pair < end) { // out of room
                done = layout_(bytes, equal, done.count.next_pair, end, done.count.counters,
                               writer_.write_out(done.end), end_);
            }
            at_ = done.end;
            return done.count;
        }

      private:
        friend class line_writer;
        sink(line_writer& writer) noexcept
            : writer_{writer}, layout_{writer.layout_}, at_{writer.buffer_.get() + writer.used_},
              end_{writer.buffer_.get() + write_size} {}

        line_writer& writer_;
        line_layout* const layout_;
        char* at_;        // where the next line goes
        char* const end_; // the buffer's end
    };

    // Calls `scan` with a sink, and returns what it returns.
    template <std::invocable<sink&> Scan>
    auto write_lines(Scan&& scan) {
        sink lines{*this};
        const auto result = scan(lines);
        used_ = static_cast<std::size_t>(lines.at_ - buffer_.get());
        return result;
    }

    // Writes what is buffered, waiting for the descriptor if it is non-blocking.
    void flush() noexcept;

    // The errno of the first write that failed, or 0; what comes after it is dropped.
    [[nodiscard]] int error_number() const noexcept { return error_number_; }

    // The buffer is written out when full; but long lines into a pipe or a socket go out as soon
    // as a stream's worth is buffered.
    static constexpr std::size_t write_size = std::size_t{256} * 1024;
    static constexpr std::size_t stream_size = std::size_t{8} * 1024;
    // The longest piece copied in one fixed-size move, and so the bytes read from every piece.
    static constexpr std::size_t short_piece = 16;

  private:
    // A line too long for a fixed-size copy, or with no room left for one, copied in parts from
    // `at`, writing out as the buffer fills; out of line, to keep the loop of short lines small.
    [[gnu::noinline]] char* append_line(char* at, std::string_view piece) noexcept;
    // Writes out the lines up to `at`. Returns where the next line goes: the buffer's start.
    [[gnu::noinline]] char* write_out(char* at) noexcept;
    void append(std::string_view bytes) noexcept;

    int descriptor_;
    int error_number_ = 0;
    std::size_t long_line_write_size_;
    line_layout* layout_;
    std::size_t used_ = 0;
    malloced_bytes buffer_; // not cleared: only the bytes that lines were written to go out
};
