// Laying out the lines of dense pieces eight pairs at a time: where most adjacent pairs of a
// stretch of the token are equal (a small alphabet, a regular pattern), the lines that eight pairs
// make are mostly at most 16 bytes, nearly always at most 32, and which bytes they are depends
// only on which of the pairs are equal and on the counters carried in. A table made at compile
// time holds, for every such case, the byte shuffles that make those lines from the 16 bytes
// around the pairs: one shuffle and one store write the lines of eight pairs (with AVX2, all 32
// bytes; without, a second pair past 16 bytes), with no step from one piece to the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// How far pairs were laid out, and the counters after them.
struct laid_out {
    char* end;              // just after the last line written
    std::size_t pairs;      // the first pair not laid out
    std::uint64_t run;      // `run_length` after the pairs laid out
    std::uint64_t mismatch; // `mismatch_count` after them, 0 or 1
};

// Writes the lines of pairs `from` to `count` (multiples of 8) of the slice whose left bytes begin
// at `pairs` (pair k: bytes k and k + 1) and whose equal pairs are marked in `marks` (bit k % 64
// of word k / 64), from `out` on, eight pairs at a time, given the counters carried in. Stops
// before eight pairs that carry in a run longer than 7 or make more than 32 bytes of lines, which
// the caller makes a piece at a time, and where fewer than `word_room` bytes are left before
// `out_end`. Reads the 8 bytes before pair `from`.
using slice_layout = laid_out (*)(const char* pairs, const std::uint64_t* marks, std::size_t from,
                                  std::size_t count, std::uint64_t run, std::uint64_t mismatch,
                                  char* out, const char* out_end) noexcept;

// What the lines of a word may write: room is asked for once a word, of eight groups of 32 bytes.
constexpr std::size_t word_room = 8 * 32;

// Every layout this processor can run, the fastest first: on x86-64, one with AVX2 and one with
// SSSE3 and SSE4.1, both with PCLMUL (a byte shuffle and a carry-less multiply); elsewhere none.
std::span<const slice_layout> runnable_slice_layouts() noexcept;

// The layout the program uses: the fastest this processor runs, but AVX2 only where the kernels
// use AVX2 or AVX-512, so that a build with the kernels capped below runs as a processor without
// it would; nullptr where there is none.
slice_layout slice_layout_for_this_processor() noexcept;
