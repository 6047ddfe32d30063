// The byte kernels under the scanner: one pass over a slice of the token that marks its equal
// adjacent pairs and finds where the token ends: a variant for each instruction set, on the loop
// in pair_kernel_loop.hpp. The tests hold each to a plain loop.
#pragma once

#include "white_space.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// The units of the scan: a slice of pairs is marked at a time, a word of marks for each block of
// its pairs, so that one more word can tell which blocks hold marks; the layout makes the lines of
// a group of pairs at a time.
constexpr std::size_t block_pairs = 64;
constexpr std::size_t slice_pairs = 64 * block_pairs;
constexpr std::size_t group_pairs = 8;

// A slice's marks: pair k is equal where bit k % 64 of word k / 64 is set.
using pair_marks = std::array<std::uint64_t, slice_pairs / block_pairs>;

// What a kernel found in a slice of bytes, whose pair k is its bytes k and k + 1.
struct slice_marks {
    std::size_t end; // the first white-space byte, where that ends the slice, or its size
    std::uint64_t words_with_marks; // bit w set where word w of the marks has any bit set
};

// A variant: marks up to 64 whole blocks (reading 65 bytes each), stopping after the first that
// holds a byte of `stop` (all ones where white space ends the token, else 0).
using block_marker = slice_marks(const char* bytes, std::size_t blocks, std::uint64_t* equal,
                                 std::uint64_t stop) noexcept;

block_marker mark_blocks_portable;
#if defined(__x86_64__)
block_marker mark_blocks_sse2, mark_blocks_avx2, mark_blocks_avx512;
#elif defined(__aarch64__) && defined(__AARCH64EL__)
block_marker mark_blocks_neon;
#endif

// Marks, with `kernel`, every pair before the end of `bytes` (at most slice_pairs + 1 of them)
// whose two bytes are equal; the other bits of the last word are 0, and later words untouched.
slice_marks mark_equal_pairs(block_marker* kernel, std::string_view bytes, pair_marks& equal,
                             white_space rule) noexcept;

// The same, one byte at a time: the plain loop that every variant is held to.
slice_marks mark_equal_pairs_reference(std::string_view bytes, pair_marks& equal, white_space rule);
