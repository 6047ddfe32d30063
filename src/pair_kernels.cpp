// What every variant of the byte kernels shares: the slice's tail, past its whole blocks.
#include "pair_kernels.hpp"

#include <algorithm>
#include <array>

slice_marks mark_equal_pairs(block_marker* kernel, std::string_view bytes, pair_marks& equal,
                             white_space rule) noexcept {
    const std::uint64_t stop = rule == white_space::ends_token ? ~std::uint64_t{0} : 0;
    // Whole blocks have their 65th byte inside. A single byte after them holds no pair; a longer
    // rest is copied into a block of its own, whose padding is not white space.
    const std::size_t whole_blocks = bytes.empty() ? 0 : (bytes.size() - 1) / block_pairs;
    slice_marks found = kernel(bytes.data(), whole_blocks, equal.data(), stop);
    if (const std::string_view rest{bytes.data() + found.end, bytes.size() - found.end};
        found.end == block_pairs * whole_blocks && !rest.empty()) {
        if (rest.size() == 1) {
            found.end += stop == 0 || !is_white_space(rest.front()) ? 1U : 0U;
        } else {
            std::array<char, block_pairs + 1> block{};
            block.fill('x');
            rest.copy(block.data(), rest.size());
            const slice_marks last = kernel(block.data(), 1, equal.data() + whole_blocks, stop);
            found.end += std::min(last.end, rest.size());
            found.words_with_marks |= last.words_with_marks << whole_blocks;
        }
    }
    // The pairs from end - 1 on hold a byte past the end: their marks go.
    const std::size_t pairs = found.end == 0 ? 0 : found.end - 1;
    const std::size_t words = (pairs + block_pairs - 1) / block_pairs;
    if (const std::size_t last = pairs / block_pairs; pairs % block_pairs != 0) {
        equal[last] &= (std::uint64_t{1} << (pairs % block_pairs)) - 1;
        found.words_with_marks &= ~(std::uint64_t{equal[last] == 0} << last);
    }
    found.words_with_marks &= words == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << words) - 1;
    return found;
}
