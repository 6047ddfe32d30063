// The pair scanner: one pass over a token's adjacent byte pairs that reports, for every equal
// pair, the piece that the counters choose (pair_counters.hpp). Pure: no I/O, and no state but the
// counters it carries from one window of a token to the next, so that a token can be scanned as it
// arrives.
#pragma once

#include "pair_counters.hpp"
#include "pair_kernels.hpp"

#include <algorithm>
#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string_view>

// A consumer that lays out lines (the writer's sink) makes those of a slice's pairs itself, a
// group at a time, where it can: lay_out(bytes, equal, from, end, counters) makes the lines of
// pairs `from` to `end` as far as it can, given the counters at `from`, and returns how far it
// got; pair k is bytes[k] and bytes[k + 1], marked in `equal`, and the group_pairs bytes before
// pair `from` may be read. The scanner reports the group it stopped before a piece at a time.
template <typename Consumer>
concept lays_out_lines = requires(Consumer& consumer, const pair_marks& equal) {
    { consumer.can_lay_out() } -> std::same_as<bool>;
    { consumer.lay_out("", equal, 0, 0, pair_counters{}) } -> std::same_as<counted>;
};

class pair_scanner {
  public:
    explicit pair_scanner(block_marker* kernel, white_space rule = white_space::ends_token) noexcept
        : kernel_{kernel}, rule_{rule} {}

    // How many bytes from the end of the last window the next must begin with: the left byte of
    // the next pair, and the `run_length` bytes before it, where its piece may begin. This, not
    // the token, is what memory follows.
    [[nodiscard]] std::size_t carried_bytes() const noexcept {
        return started_ ? static_cast<std::size_t>(counters_.run_length) + 1 : 0;
    }

    // Scans a window: carried_bytes() of the last window, then what arrived since. Calls `consumer`
    // for every equal pair not reported before, in order, with its piece, a view into `window`
    // valid for the call; one that lays out lines may make some itself. Returns where the token
    // ends in the window: at its first white-space byte, if white space ends it, else its size.
    template <std::invocable<std::string_view> Consumer>
    std::size_t scan(std::string_view window, Consumer&& consumer) {
        std::size_t first = started_ ? carried_bytes() - 1 : 0; // the slice's first pair
        started_ = true;
        pair_marks equal;
        while (true) {
            // Not substr, which may throw: that alone would load the C++ runtime.
            const std::string_view slice{window.data() + first,
                                         std::min(window.size() - first, slice_pairs + 1)};
            const slice_marks found = mark_equal_pairs(kernel_, slice, equal, rule_);
            const std::size_t pair_count = found.end == 0 ? 0 : found.end - 1;
            report(window, first, pair_count, equal, found.words_with_marks, consumer);
            if (found.end < slice.size() || first + found.end == window.size()) {
                return first + found.end;
            }
            first += pair_count;
        }
    }

  private:
    // Where equal pairs are rare and scattered, a branch on whether each word of marks has any
    // would go wrong half the time: only the words that `words_with_marks` names are visited.
    // Where they are dense, a branch on whether a run is cleared would go as wrong: the step from
    // a mark to its piece has none.
    template <typename Consumer>
    void report(std::string_view window, std::size_t first, std::size_t pair_count,
                const pair_marks& equal, std::uint64_t words_with_marks, Consumer& consumer) {
        // The counters in locals, which the consumer's stores cannot touch, and in a faster form:
        // added to an equal pair's index, `mismatch_offset` gives the unequal pairs counted since
        // the last clearing, which saves an instruction a piece over keeping that count itself.
        std::uint64_t run_length = counters_.run_length;
        std::size_t mismatch_offset = counters_.mismatch_count - first;
        const char* const right_bytes = window.data() + 1; // a piece ends before its pair's right
        const auto report_piece = [&](std::size_t pair) {
            const std::size_t mismatches = pair + mismatch_offset;
            // A mask, not a select, which compilers make a branch.
            run_length = (run_length & (std::uint64_t{0} - std::uint64_t{mismatches < 2})) + 1;
            // The next count starts after this pair, or on it to carry an odd mismatch over.
            mismatch_offset -= mismatches | 1;
            consumer(std::string_view{right_bytes + pair - run_length, run_length});
        };
        const auto report_pieces = [&](std::size_t block_start, std::uint64_t marks) {
            for (; marks != 0; marks &= marks - 1) {
                report_piece(block_start + static_cast<std::size_t>(std::countr_zero(marks)));
            }
        };
        const auto counters_at = [&](std::size_t pair) {
            const std::size_t mismatches = pair + mismatch_offset;
            return pair_counters{mismatches < 2 ? run_length : 0, mismatches % 2};
        };
        if constexpr (lays_out_lines<Consumer>) {
            // Only a slice with pieces in every word: where they are sparse, none pays for it.
            if (words_with_marks == ~std::uint64_t{0} && pair_count == slice_pairs &&
                consumer.can_lay_out()) {
                std::size_t from = 0;
                if (first < group_pairs) { // the bytes the consumer may read before are not there
                    report_pieces(first, equal[0] & 0xFF);
                    from = group_pairs;
                }
                while (from < pair_count) {
                    const counted done = consumer.lay_out(window.data() + first, equal, from,
                                                          pair_count, counters_at(first + from));
                    from = done.next_pair;
                    run_length = done.counters.run_length;
                    mismatch_offset = done.counters.mismatch_count - (first + from);
                    if (from < pair_count) {
                        report_pieces(first + from,
                                      (equal[from / block_pairs] >> (from % block_pairs)) & 0xFF);
                        from += group_pairs;
                    }
                }
                words_with_marks = 0;
            }
        }
        for (; words_with_marks != 0; words_with_marks &= words_with_marks - 1) {
            const auto word = static_cast<std::size_t>(std::countr_zero(words_with_marks));
            report_pieces(first + block_pairs * word, equal[word]);
        }
        counters_ = counters_at(first + pair_count);
    }

    block_marker* kernel_;
    white_space rule_;
    pair_counters counters_;
    bool started_ = false;
};

// Calls `consumer` once per equal pair of a whole token, in order, with its piece, a view into
// `token` valid for the call. Every byte counts as part of the token, white space included.
template <std::invocable<std::string_view> Consumer>
void scan_pairs(std::string_view token, Consumer&& consumer) {
    pair_scanner{mark_blocks_portable, white_space::is_data}.scan(token, consumer);
}
