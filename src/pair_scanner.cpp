#include "pair_scanner.hpp"

#include <emmintrin.h>

namespace {

// A bit for each of the sixteen pairs starting at `left`: set where a byte equals its right
// neighbour. Reads the seventeen bytes from left to left + 16.
std::uint64_t equal_pairs_of_16(const char* left) noexcept {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left));
    const __m128i neighbours = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left + 1));
    return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, neighbours)));
}

} // namespace

// SSE2 is part of x86-64 itself, so this needs no check of the processor.
std::uint64_t equal_pair_mask(std::string_view token, std::size_t first) noexcept {
    const char* const left = token.data() + first;
    return equal_pairs_of_16(left) | equal_pairs_of_16(left + 16) << 16 |
           equal_pairs_of_16(left + 32) << 32 | equal_pairs_of_16(left + 48) << 48;
}

std::uint64_t equal_pair_mask_reference(std::string_view token, std::size_t first) noexcept {
    std::uint64_t mask = 0;
    for (std::size_t pair = 0; pair < 64; ++pair) {
        if (token[first + pair] == token[first + pair + 1]) {
            mask |= std::uint64_t{1} << pair;
        }
    }
    return mask;
}
