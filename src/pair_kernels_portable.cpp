// The portable variant of the byte kernels, eight bytes at a time in 64-bit words: what a
// processor without a variant of its own runs.
#include "pair_kernel_loop.hpp"

#include <bit>
#include <cstring>

namespace {
// Eight bytes as a 64-bit word, byte 0 the low byte on every processor.
std::uint64_t load_8_bytes(const char* bytes) noexcept {
    std::uint64_t eight = 0;
    std::memcpy(&eight, bytes, sizeof eight);
    if constexpr (std::endian::native == std::endian::big) {
        eight = __builtin_bswap64(eight);
    }
    return eight;
}

constexpr std::uint64_t every_byte(std::uint8_t value) noexcept {
    return 0x0101010101010101U * value;
}

// The high bit of every one of eight bytes that is 0. Exact: no carry crosses from byte to byte.
constexpr std::uint64_t zero_bytes(std::uint64_t eight) noexcept {
    const std::uint64_t low_seven = every_byte(0x7F);
    return ~(((eight & low_seven) + low_seven) | eight) & every_byte(0x80);
}

// The high bit of every one of eight bytes that is white space: a space, or a byte from \t (9)
// to \r (13), which is below 0x80, at least 9 and not above 13.
constexpr std::uint64_t white_space_bytes(std::uint64_t eight) noexcept {
    const std::uint64_t low_seven = eight & every_byte(0x7F);
    const std::uint64_t at_least_tab = low_seven + every_byte(0x80 - '\t');
    const std::uint64_t above_return = low_seven + every_byte(0x7F - '\r');
    const std::uint64_t control = at_least_tab & ~above_return & ~eight & every_byte(0x80);
    return control | zero_bytes(eight ^ every_byte(' '));
}

// The high bits of eight bytes, gathered into the low eight bits (byte 0 to bit 0).
constexpr std::uint64_t gather_high_bits(std::uint64_t high_bits) noexcept {
    return ((high_bits >> 7) * 0x0102040810204080U) >> 56;
}

block_masks portable_masks(const char* block) noexcept {
    block_masks masks{0, 0};
    for (std::size_t part = 0; part < 8; ++part) {
        const char* const left = block + 8 * part;
        const std::uint64_t eight = load_8_bytes(left);
        masks.same |= gather_high_bits(zero_bytes(eight ^ load_8_bytes(left + 1))) << (8 * part);
        masks.any_white |= white_space_bytes(eight);
    }
    return masks;
}
} // namespace

slice_marks mark_blocks_portable(const char* bytes, std::size_t blocks, std::uint64_t* equal,
                                 std::uint64_t stop) noexcept {
    return mark_blocks_with<portable_masks>(bytes, blocks, equal, stop);
}
