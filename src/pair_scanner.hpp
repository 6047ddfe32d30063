// The pair scanner: one left-to-right pass over a token's adjacent byte pairs that reports, for
// every pair of two equal bytes, the piece of the token chosen by two running counters. Pure: no
// I/O, no state outside a call.
#pragma once

#include <concepts>
#include <cstddef>
#include <string_view>

// Pair i is the bytes at i and i + 1; a token of fewer than two bytes has none.
constexpr std::size_t pair_count(std::string_view token) noexcept {
    return token.size() < 2 ? 0 : token.size() - 1;
}

// The position of the first pair at or after `from` whose two bytes are equal, or the pair count
// when there is none. `from` is at most the pair count.
std::size_t find_equal_pair(std::string_view token, std::size_t from) noexcept;

// The same, one pair at a time: the plain loop that the vectorised search is tested against.
std::size_t find_equal_pair_reference(std::string_view token, std::size_t from) noexcept;

// Calls `consumer` once per equal pair, in order of position, with that pair's piece: the
// `run_length` bytes that end at the pair's left byte. The piece is a view into `token`, valid only
// for the duration of the call.
//
// `run_length` grows with every equal pair; `mismatch_count` counts unequal pairs and clears both
// counters on every second one. Between equal pairs the scan jumps over a whole stretch of unequal
// pairs at once: a stretch of k unequal pairs after `mismatch_count` m clears the run exactly when
// m + k reaches 2, and leaves (m + k) mod 2 behind.
template <std::invocable<std::string_view> Consumer>
void scan_pairs(std::string_view token, Consumer&& consumer) {
    const std::size_t last = pair_count(token);
    std::size_t run_length = 0;
    std::size_t mismatch_count = 0;
    for (std::size_t position = 0;; ++position) {
        const std::size_t equal_position = find_equal_pair(token, position);
        const std::size_t mismatches = mismatch_count + (equal_position - position);
        if (mismatches >= 2) {
            run_length = 0;
        }
        mismatch_count = mismatches % 2;
        if (equal_position == last) {
            return;
        }
        position = equal_position;
        ++run_length;
        consumer(token.substr(position + 1 - run_length, run_length));
    }
}
