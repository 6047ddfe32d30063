// What the variants of the byte kernels share: the loop over blocks, written once, and the
// variants that need instructions of their own, each instruction set in a file of its own.
#pragma once

#include "pair_kernels.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>

// What one block of 64 pairs holds: bit i of `same` for pair i, and `any_white`, not 0 when any
// of its 64 bytes is white space. Where the white space is matters once a token, at its end, so
// the variants only say whether there is any: one reduction instead of a mask.
struct block_masks {
    std::uint64_t same;
    std::uint64_t any_white;
};

// The loop every variant shares: each block's equal pairs stored, stopping after the first block
// that holds a stop byte. Inlined into each variant, so that the block's masks are made with that
// variant's instructions.
template <block_masks (*make_masks)(const char*) noexcept>
[[gnu::always_inline]] inline slice_marks mark_blocks_with(const char* bytes, std::size_t blocks,
                                                           std::uint64_t* equal,
                                                           std::uint64_t stop) noexcept {
    std::uint64_t words_with_marks = 0;
    for (std::size_t block = 0; block < blocks; ++block) {
        const block_masks masks = make_masks(bytes + 64 * block);
        equal[block] = masks.same;
        words_with_marks |= std::uint64_t{masks.same != 0} << block;
        if ((masks.any_white & stop) != 0) {
            const char* const first = bytes + 64 * block;
            return {64 * block + static_cast<std::size_t>(
                                     std::find_if(first, first + 64, is_white_space) - first),
                    words_with_marks};
        }
    }
    return {64 * blocks, words_with_marks};
}

#if defined(__x86_64__)
block_marker mark_blocks_sse2, mark_blocks_avx2, mark_blocks_avx512;
#elif defined(__aarch64__) && defined(__AARCH64EL__)
block_marker mark_blocks_neon;
#endif
