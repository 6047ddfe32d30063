// The loop that every variant of the byte kernels shares, written once; each instruction set's
// file supplies only how a block's masks are made.
#pragma once

#include "pair_kernels.hpp"

#include <algorithm>

// A block's masks: bit i of `same` for pair i, and `any_white`, not 0 where any of its 64 bytes
// is white space. Where it is matters once a token, at its end: one reduction, not a mask.
struct block_masks {
    std::uint64_t same;
    std::uint64_t any_white;
};

// Inlined into each variant, so that the masks are made with that variant's instructions.
template <block_masks (*make_masks)(const char*) noexcept>
[[gnu::always_inline]] inline slice_marks mark_blocks_with(const char* bytes, std::size_t blocks,
                                                           std::uint64_t* equal,
                                                           std::uint64_t stop) noexcept {
    std::uint64_t words_with_marks = 0;
    for (std::size_t block = 0; block < blocks; ++block) {
        const block_masks masks = make_masks(bytes + block_pairs * block);
        equal[block] = masks.same;
        words_with_marks |= std::uint64_t{masks.same != 0} << block;
        if ((masks.any_white & stop) != 0) {
            const char* const first = bytes + block_pairs * block;
            const auto within = std::find_if(first, first + block_pairs, is_white_space) - first;
            return {block_pairs * block + static_cast<std::size_t>(within), words_with_marks};
        }
    }
    return {block_pairs * blocks, words_with_marks};
}
