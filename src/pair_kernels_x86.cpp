// The x86-64 variants of the byte kernels: SSE2 (every x86-64 processor has it), AVX2, AVX-512.
#include "pair_kernel_loop.hpp"

#if defined(__x86_64__)

#include <immintrin.h>

namespace {
std::uint64_t bits_of_16(__m128i bytes) noexcept {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(bytes));
}

// \t to \r are 9 to 13: after adding 0x80 - 9, the bytes below -128 + 5 as signed bytes.
__m128i sse2_white_space(__m128i bytes) noexcept {
    const __m128i shifted = _mm_add_epi8(bytes, _mm_set1_epi8(0x80 - '\t'));
    return _mm_or_si128(_mm_cmplt_epi8(shifted, _mm_set1_epi8(-128 + 5)),
                        _mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')));
}

// White space is looked for only in a block with a byte up to ' ': text has none but at its end.
block_masks sse2_masks(const char* block) noexcept {
    block_masks masks{0, 0};
    __m128i lowest = _mm_set1_epi8(-1);
    for (std::size_t part = 0; part < 4; ++part) {
        const char* const left = block + 16 * part;
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left + 1));
        masks.same |= bits_of_16(_mm_cmpeq_epi8(bytes, next)) << (16 * part);
        lowest = _mm_min_epu8(lowest, bytes);
    }
    if (bits_of_16(_mm_cmpeq_epi8(_mm_min_epu8(lowest, _mm_set1_epi8(' ')), lowest)) != 0) {
        __m128i white = _mm_setzero_si128();
        for (std::size_t part = 0; part < 4; ++part) {
            white = _mm_or_si128(white, sse2_white_space(_mm_loadu_si128(
                                            reinterpret_cast<const __m128i*>(block + 16 * part))));
        }
        masks.any_white = bits_of_16(white);
    }
    return masks;
}

[[gnu::target("avx2")]] std::uint64_t bits_of_32(__m256i bytes) noexcept {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(bytes));
}

// A byte is white space where it equals what it looks up by its low four bits: the white-space
// byte that has them, else 0xFF; a byte of 0x80 or more looks up 0.
[[gnu::target("avx2")]] block_masks avx2_masks(const char* block) noexcept {
    const __m256i white_by_low_bits =
        _mm256_setr_epi8(' ', -1, -1, -1, -1, -1, -1, -1, -1, '\t', '\n', '\v', '\f', '\r', -1, -1,
                         ' ', -1, -1, -1, -1, -1, -1, -1, -1, '\t', '\n', '\v', '\f', '\r', -1, -1);
    block_masks masks{0, 0};
    __m256i white = _mm256_setzero_si256();
    for (std::size_t half = 0; half < 2; ++half) {
        const char* const left = block + 32 * half;
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(left));
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(left + 1));
        white = _mm256_or_si256(
            white, _mm256_cmpeq_epi8(bytes, _mm256_shuffle_epi8(white_by_low_bits, bytes)));
        masks.same |= bits_of_32(_mm256_cmpeq_epi8(bytes, next)) << (32 * half);
    }
    masks.any_white = bits_of_32(white);
    return masks;
}

// The same look-up, a whole block at a time.
[[gnu::target("avx512bw")]] block_masks avx512_masks(const char* block) noexcept {
    const __m512i white_by_low_bits = _mm512_broadcast_i32x4(
        _mm_setr_epi8(' ', -1, -1, -1, -1, -1, -1, -1, -1, '\t', '\n', '\v', '\f', '\r', -1, -1));
    const __m512i bytes = _mm512_loadu_si512(block);
    const __m512i next = _mm512_loadu_si512(block + 1);
    return {_mm512_cmpeq_epi8_mask(bytes, next),
            _mm512_cmpeq_epi8_mask(bytes, _mm512_shuffle_epi8(white_by_low_bits, bytes))};
}
} // namespace

slice_marks mark_blocks_sse2(const char* bytes, std::size_t blocks, std::uint64_t* equal,
                             std::uint64_t stop) noexcept {
    return mark_blocks_with<sse2_masks>(bytes, blocks, equal, stop);
}

[[gnu::target("avx2")]] slice_marks mark_blocks_avx2(const char* bytes, std::size_t blocks,
                                                     std::uint64_t* equal,
                                                     std::uint64_t stop) noexcept {
    return mark_blocks_with<avx2_masks>(bytes, blocks, equal, stop);
}

[[gnu::target("avx512bw")]] slice_marks mark_blocks_avx512(const char* bytes, std::size_t blocks,
                                                           std::uint64_t* equal,
                                                           std::uint64_t stop) noexcept {
    return mark_blocks_with<avx512_masks>(bytes, blocks, equal, stop);
}

#endif
