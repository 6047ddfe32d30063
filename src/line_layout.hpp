// Laying out the lines of dense pieces eight pairs at a time: where most adjacent pairs of a
// stretch of the token are equal (a small alphabet, a regular pattern), the lines that eight pairs
// make are at most 16 bytes, and which bytes they are depends only on which of the pairs are
// equal and on the counters carried in. A table made at compile time holds, for every such case,
// the byte shuffle that makes those lines from the 16 bytes around the pairs: one shuffle and one
// store write the lines of eight pairs, with no step from one piece to the next.
#pragma once

#include <cstddef>
#include <cstdint>

// How far a word was laid out, and the counters after it.
struct laid_out {
    char* end;              // just after the last line written
    std::size_t pairs;      // the pairs laid out: a multiple of 8, up to 64
    std::uint64_t run;      // `run_length` after them
    std::uint64_t mismatch; // `mismatch_count` after them, 0 or 1
};

// Writes the lines of the `count` pairs (a multiple of 8, at most 64) whose left bytes begin at
// `pairs` (pair k: bytes k and k + 1),
// whose equal ones are marked in `marks`, from `out` on, eight pairs at a time, given the
// counters carried in. Stops at the first eight pairs that carry in a run longer than 7 or make
// more than 16 bytes of lines; the caller makes those a piece at a time. Reads the 8 bytes before
// `pairs`, and writes up to `word_room` bytes from `out`.
using word_layout = laid_out (*)(const char* pairs, std::size_t count, std::uint64_t marks,
                                 std::uint64_t run, std::uint64_t mismatch, char* out) noexcept;

constexpr std::size_t word_room = 8 * 16;

// Whether a word of marks has pieces enough for its lines to be laid out: at least 8. Fewer are
// made faster a piece at a time.
constexpr bool worth_laying_out(std::uint64_t marks) noexcept {
    for (int piece = 1; piece < 8; ++piece) {
        marks &= marks - 1;
    }
    return marks != 0;
}

// The layout this processor can run (it needs a byte shuffle: SSSE3 and SSE4.1 on x86-64), or
// nullptr where there is none, or where the build caps the kernels below AVX2.
word_layout word_layout_for_this_processor() noexcept;
