// The byte kernels under the pair scanner: one pass over a stretch of bytes that marks its equal
// adjacent pairs and finds where the token ends, with a variant for each instruction set the
// processor may have, a portable one for every other processor, and the plain loop that all of
// them are tested against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// The six bytes of the classic locale's white-space class: space, \t, \n, \v, \f and \r.
constexpr bool is_white_space(char byte) noexcept {
    return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

// Whether a white-space byte ends the bytes a kernel looks at (a token being read), or is a byte
// like any other (a token already cut out, which a caller may hand over as it likes).
enum class white_space : bool { is_data, ends_token };

// The most pairs a kernel marks at a time: 64 words of marks, so that one more word can tell
// which of them mark any.
constexpr std::size_t slice_pairs = 64 * 64;

// What a kernel found in a slice of bytes. Pair k of the slice is its bytes k and k + 1; the
// slice ends at its first white-space byte when that ends it, else at its last byte.
struct slice_marks {
    std::size_t end;                // the index of that white-space byte, or the slice's size
    std::uint64_t words_with_marks; // bit w set when word w of the marks has any bit set
};

// Marks, in bit k % 64 of `equal[k / 64]`, every pair k before the slice's end whose two bytes
// are equal; the bits of later pairs in the same word are 0, and later words are not touched.
// `bytes` holds at most slice_pairs + 1 bytes, and `equal` has room for slice_pairs / 64 + 1
// words.
slice_marks mark_equal_pairs(std::string_view bytes, std::uint64_t* equal,
                             white_space rule) noexcept;

// The same, one byte at a time: the plain loop that every variant is held to.
slice_marks mark_equal_pairs_reference(std::string_view bytes, std::uint64_t* equal,
                                       white_space rule);

// What each variant does: marks up to 64 whole blocks of 64 pairs (reading 65 bytes each),
// stopping after the first block that holds a byte of `stop` (a mask of all ones when white space
// ends the token, else 0); the end it returns is that byte's index, or 64 * blocks.
using block_marker = slice_marks(const char* bytes, std::size_t blocks, std::uint64_t* equal,
                                 std::uint64_t stop) noexcept;

// One implementation of the kernel.
struct pair_kernel {
    std::string_view name;
    block_marker* mark_blocks;

    slice_marks mark(std::string_view bytes, std::uint64_t* equal, white_space rule) const noexcept;
};

#if defined(__x86_64__)
// The instruction sets that the kernels and the line layouts are chosen by.
enum class x86_feature { ssse3, sse4_1, pclmul, avx2, avx512bw };

// Whether the processor has `feature`, and the system lets programs use it.
bool processor_has(x86_feature feature) noexcept;
#endif

// Every variant this processor can run, the fastest first; the portable one is always last.
std::span<const pair_kernel> runnable_pair_kernels() noexcept;

// The variant the program runs: the fastest this processor runs, or the build's cap.
const pair_kernel& chosen_pair_kernel() noexcept;
