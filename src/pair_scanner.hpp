// The pair scanner: one left-to-right pass over a token's adjacent byte pairs that reports, for
// every pair of two equal bytes, the piece of the token chosen by two running counters. Pure: no
// I/O, no state outside a call.
#pragma once

#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string_view>

// Pair i is the bytes at i and i + 1; a token of fewer than two bytes has none.
constexpr std::size_t pair_count(std::string_view token) noexcept {
    return token.size() < 2 ? 0 : token.size() - 1;
}

// The 64 pairs from `first`, as bits: bit i is set when pair first + i holds two equal bytes.
// Reads the 65 bytes from `first`, so first + 64 must be inside the token.
std::uint64_t equal_pair_mask(std::string_view token, std::size_t first) noexcept;

// The same, one pair at a time: the plain loop that the vectorised compare is tested against.
std::uint64_t equal_pair_mask_reference(std::string_view token, std::size_t first) noexcept;

// Calls `visit` with the position of every equal pair, in increasing order: 64 pairs to a mask,
// and one step per set bit, so a stretch without equal pairs costs next to nothing and a dense one
// costs no more than its pairs.
template <std::invocable<std::size_t> Visitor>
void for_each_equal_pair(std::string_view token, Visitor&& visit) {
    std::size_t first = 0;
    for (; first + 64 < token.size(); first += 64) {
        for (std::uint64_t mask = equal_pair_mask(token, first); mask != 0; mask &= mask - 1) {
            visit(first + static_cast<std::size_t>(std::countr_zero(mask)));
        }
    }
    for (; first < pair_count(token); ++first) {
        if (token[first] == token[first + 1]) {
            visit(first);
        }
    }
}

// Calls `consumer` once per equal pair, in order of position, with that pair's piece: the
// `run_length` bytes that end at the pair's left byte. The piece is a view into `token`, valid only
// for the duration of the call.
//
// `run_length` grows with every equal pair; `mismatch_count` counts unequal pairs and clears both
// counters on every second one. Unequal pairs are only counted when the next equal pair comes: a
// stretch of k of them after `mismatch_count` m clears the run exactly when m + k reaches 2, and
// leaves (m + k) mod 2 behind. Those after the last equal pair cannot change any piece.
template <std::invocable<std::string_view> Consumer>
void scan_pairs(std::string_view token, Consumer&& consumer) {
    std::size_t run_length = 0;
    std::size_t mismatch_count = 0;
    std::size_t next_position = 0; // the first pair not yet counted
    for_each_equal_pair(token, [&](std::size_t position) {
        const std::size_t mismatches = mismatch_count + (position - next_position);
        if (mismatches >= 2) {
            run_length = 0;
        }
        mismatch_count = mismatches % 2;
        ++run_length;
        consumer(token.substr(position + 1 - run_length, run_length));
        next_position = position + 1;
    });
}
