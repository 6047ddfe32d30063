#include "pair_scanner.hpp"

#include <bit>
#include <cstdint>

#include <emmintrin.h>

namespace {

// A bit for each of the sixteen pairs starting at `left`: set where a byte equals its right
// neighbour. Reads the seventeen bytes from left to left + 16.
std::uint32_t equal_pairs_of_16(const char* left) noexcept {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left));
    const __m128i neighbours = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left + 1));
    return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, neighbours)));
}

} // namespace

std::size_t find_equal_pair_reference(std::string_view token, std::size_t from) noexcept {
    const std::size_t last = pair_count(token);
    std::size_t position = from;
    while (position < last && token[position] != token[position + 1]) {
        ++position;
    }
    return position;
}

// SSE2 is part of x86-64 itself, so this needs no check of the processor. The next sixteen pairs
// are looked at first, for tokens dense with equal pairs; beyond them, long stretches without one
// are the common case, so the main loop looks at 64 pairs before it branches.
std::size_t find_equal_pair(std::string_view token, std::size_t from) noexcept {
    const char* const bytes = token.data();
    std::size_t position = from;
    if (position + 16 < token.size()) {
        if (const std::uint32_t equal = equal_pairs_of_16(bytes + position); equal != 0) {
            return position + static_cast<std::size_t>(std::countr_zero(equal));
        }
        position += 16;
    }
    for (; position + 64 < token.size(); position += 64) {
        if ((equal_pairs_of_16(bytes + position) | equal_pairs_of_16(bytes + position + 16) |
             equal_pairs_of_16(bytes + position + 32) | equal_pairs_of_16(bytes + position + 48)) !=
            0) {
            break;
        }
    }
    for (; position + 16 < token.size(); position += 16) {
        if (const std::uint32_t equal = equal_pairs_of_16(bytes + position); equal != 0) {
            return position + static_cast<std::size_t>(std::countr_zero(equal));
        }
    }
    return find_equal_pair_reference(token, position);
}
