// The 64-bit ARM variant of the byte kernels.
#include "pair_kernel_loop.hpp"

#if defined(__aarch64__) && defined(__AARCH64EL__)

#include <arm_neon.h>

#include <array>

namespace {
// No movemask: each lane keeps a bit of its own, and pairwise adds gather the 64 into a word.
std::uint64_t bits_of_64(const std::array<uint8x16_t, 4>& lanes) noexcept {
    const uint8x16_t bit_of_lane = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    const uint8x16_t first =
        vpaddq_u8(vandq_u8(lanes[0], bit_of_lane), vandq_u8(lanes[1], bit_of_lane));
    const uint8x16_t second =
        vpaddq_u8(vandq_u8(lanes[2], bit_of_lane), vandq_u8(lanes[3], bit_of_lane));
    const uint8x16_t both = vpaddq_u8(first, second);
    return vgetq_lane_u64(vreinterpretq_u64_u8(vpaddq_u8(both, both)), 0);
}

block_masks neon_masks(const char* block) noexcept {
    std::array<uint8x16_t, 4> same{};
    uint8x16_t white = vdupq_n_u8(0);
    for (std::size_t part = 0; part < 4; ++part) {
        const auto* const left = reinterpret_cast<const std::uint8_t*>(block + 16 * part);
        const uint8x16_t bytes = vld1q_u8(left);
        same[part] = vceqq_u8(bytes, vld1q_u8(left + 1));
        // \t to \r are 9 to 13: after subtracting 9 they are the bytes whose value is <= 4.
        const uint8x16_t control = vcleq_u8(vsubq_u8(bytes, vdupq_n_u8('\t')), vdupq_n_u8(4));
        white = vorrq_u8(white, vorrq_u8(control, vceqq_u8(bytes, vdupq_n_u8(' '))));
    }
    return {bits_of_64(same), vmaxvq_u8(white)};
}
} // namespace

slice_marks mark_blocks_neon(const char* bytes, std::size_t blocks, std::uint64_t* equal,
                             std::uint64_t stop) noexcept {
    return mark_blocks_with<neon_masks>(bytes, blocks, equal, stop);
}

#endif
