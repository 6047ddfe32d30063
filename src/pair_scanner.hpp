// The pair scanner: one left-to-right pass over a token's adjacent byte pairs that reports, for
// every pair of two equal bytes, the piece of the token chosen by two running counters. Pure: no
// I/O, and no state but the counters it carries from one stretch of a token to the next, so that
// a token can be scanned as it arrives.
#pragma once

#include "line_layout.hpp"
#include "pair_kernels.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <tuple>
#include <utility>

// A consumer that can also take lines as bytes: room(n) gives where lines may be written now, at
// least n bytes; wrote_up_to(end) says where the lines written there end. The scanner
// then writes the lines of dense stretches itself, each piece and a line feed, instead of handing
// their pieces over one by one.
template <typename Consumer>
concept takes_line_bytes = requires(Consumer& consumer, char* end) {
    { consumer.room(std::size_t{}) } -> std::same_as<std::span<char>>;
    consumer.wrote_up_to(end);
};

// `run_length` grows with every equal pair; `mismatch_count` counts unequal pairs and clears both
// counters on every second one. Unequal pairs are only counted when the next equal pair comes, or
// a stretch ends: k of them after `mismatch_count` m clear the run exactly when m + k reaches 2,
// and leave (m + k) mod 2 behind.
class pair_scanner {
  public:
    explicit pair_scanner(white_space rule = white_space::ends_token,
                          slice_layout layout = slice_layout_for_this_processor()) noexcept
        : rule_{rule}, layout_{layout} {}

    // How many bytes from the end of the stretch scanned last the next window must begin with:
    // the left byte of the next pair, and the `run_length` bytes before it, where the next piece
    // may begin. None before the first stretch. This, not the token, is what memory follows.
    [[nodiscard]] std::size_t carried_bytes() const noexcept {
        return started_ ? static_cast<std::size_t>(run_length_) + 1 : 0;
    }

    // Scans a window of the token: its first carried_bytes() bytes are the end of the previous
    // window, the rest arrived since. Calls `consumer` for every equal pair not reported before,
    // in order, with its piece: the `run_length` bytes that end at the pair's left byte, as a view
    // into `window` valid for the duration of the call; to a consumer that takes line bytes, it
    // may instead write pieces as lines itself. Returns where the token ends in the
    // window: at its first white-space byte, if white space ends it, or else at window.size().
    template <std::invocable<std::string_view> Consumer>
    std::size_t scan(std::string_view window, Consumer&& consumer) {
        std::size_t first = started_ ? carried_bytes() - 1 : 0; // the next pair to examine
        started_ = true;
        std::array<std::uint64_t, slice_pairs / 64 + 1> equal;
        while (true) {
            const std::string_view slice{window.data() + first,
                                         std::min(window.size() - first, slice_pairs + 1)};
            const slice_marks found = mark_equal_pairs(slice, equal.data(), rule_);
            const std::size_t pairs = found.end == 0 ? 0 : found.end - 1;
            report(window, first, pairs, equal.data(), found.words_with_marks, consumer);
            if (found.end < slice.size() || first + found.end == window.size()) {
                return first + found.end;
            }
            first += pairs;
        }
    }

  private:
    // The `pairs` pairs of `window` from `first` on, whose equal ones are marked in `equal`. Where
    // they are rare and scattered, a branch on whether each word of marks has any would go wrong
    // half the time: only the words that `words_with_marks` names are visited. Where they are
    // dense, a branch on whether a run is cleared would go wrong as often: the step from a mark to
    // its piece has none.
    template <typename Consumer>
    void report(std::string_view window, std::size_t first, std::size_t pairs,
                const std::uint64_t* equal, std::uint64_t words_with_marks, Consumer& consumer) {
        // The counters are worked on in locals: the consumer stores bytes, which the compiler
        // must otherwise assume may land on the members and so reload them after every piece.
        // Added to an equal pair's index, `mismatch_offset` gives the mismatches counted since
        // the last clearing: the unequal pairs since the last equal one, and the one carried
        // over. (It is the negative of the pair where that count starts: an addition is one
        // instruction fewer a piece than a subtraction that must keep the pair's index.)
        std::uint64_t run_length = run_length_;
        std::size_t mismatch_offset = mismatch_count_ - first;
        const char* const after_pair = window.data() + 1; // a piece ends just before pair + 1
        const auto report_piece = [&](std::size_t pair) {
            const std::size_t mismatches = pair + mismatch_offset;
            // The second mismatch clears the run: as a mask, since compilers would make a select
            // a branch, which goes wrong as often as it goes right on dense pieces.
            run_length = (run_length & (std::uint64_t{0} - std::uint64_t{mismatches < 2})) + 1;
            // The next count starts after this pair, or on it to carry an odd mismatch over.
            mismatch_offset -= mismatches | 1;
            const auto length = static_cast<std::size_t>(run_length);
            consumer(std::string_view{after_pair + pair - length, length});
        };
        const auto report_pieces = [&](std::size_t word_start, std::uint64_t bits) {
            for (; bits != 0; bits &= bits - 1) {
                report_piece(word_start + static_cast<std::size_t>(std::countr_zero(bits)));
            }
        };
        // `run_length` and `mismatch_count` as they stand when `pair` is reached.
        const auto counters_at = [&](std::size_t pair) {
            const std::size_t mismatches = pair + mismatch_offset;
            return std::pair<std::uint64_t, std::uint64_t>{mismatches < 2 ? run_length : 0,
                                                           mismatches % 2};
        };
        if constexpr (takes_line_bytes<Consumer>) {
            // A whole slice with pieces in every word: their lines are laid out eight pairs at a
            // time, but for the pairs that cannot be. Where pieces are sparse, no word pays for
            // the question.
            if (layout_ != nullptr && words_with_marks == ~std::uint64_t{0} &&
                pairs == slice_pairs) {
                std::size_t from = 0; // the first pair not reported yet
                if (first < 8) {      // the layout reads 8 bytes before its first pair
                    report_pieces(first, equal[0]);
                    from = 64;
                }
                while (from < pairs) {
                    const std::span<char> room = consumer.room(word_room);
                    const auto [run, mismatch] = counters_at(first + from);
                    const laid_out done = layout_(window.data() + first, equal, from, pairs, run,
                                                  mismatch, room.data(), room.data() + room.size());
                    consumer.wrote_up_to(done.end);
                    from = done.pairs;
                    run_length = done.run;
                    mismatch_offset = done.mismatch - (first + from);
                    // Stopped with room to go on: eight pairs that cannot be laid out.
                    if (from < pairs && room.data() + room.size() - done.end >=
                                            static_cast<std::ptrdiff_t>(word_room)) {
                        report_pieces(first + from, (equal[from / 64] >> (from % 64)) & 0xFF);
                        from += 8;
                    }
                }
                words_with_marks = 0;
            }
        }
        for (; words_with_marks != 0; words_with_marks &= words_with_marks - 1) {
            const auto word = static_cast<std::size_t>(std::countr_zero(words_with_marks));
            report_pieces(first + 64 * word, equal[word]);
        }
        std::tie(run_length_, mismatch_count_) = counters_at(first + pairs);
    }

    std::uint64_t run_length_ = 0;
    std::uint64_t mismatch_count_ = 0;
    white_space rule_;
    slice_layout layout_;
    bool started_ = false;
};

// Calls `consumer` once per equal pair of a whole token, in order of position, with that pair's
// piece, a view into `token` valid for the duration of the call. Every byte counts as part of the
// token, white space included.
template <std::invocable<std::string_view> Consumer>
void scan_pairs(std::string_view token, Consumer&& consumer) {
    pair_scanner{white_space::is_data}.scan(token, consumer);
}
