// The x86-64 layouts: with AVX2, and with SSSE3 and SSE4.1 for processors without it.
#include "line_layout_loop.hpp"

#if defined(__x86_64__)

#include <immintrin.h>

namespace {
// What both layouts take a block at a time: a carry-less multiply, and SSE2's byte interleave.
struct x86_blocks {
    [[gnu::target("pclmul")]] static std::uint64_t prefix_parity(std::uint64_t bits) noexcept {
        const __m128i product = _mm_clmulepi64_si128(
            _mm_cvtsi64_si128(static_cast<long long>(bits)), _mm_set1_epi8(-1), 0);
        return static_cast<std::uint64_t>(_mm_cvtsi128_si64(product));
    }

    static void interleave_bytes(std::uint64_t low, std::uint64_t high,
                                 std::uint16_t* out) noexcept {
        _mm_store_si128(reinterpret_cast<__m128i*>(out),
                        _mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(low)),
                                          _mm_cvtsi64_si128(static_cast<long long>(high))));
    }
};

// A group's lines: lanes with the high bit set are line feeds, zeroed by the shuffle and filled in
// by the blend. Up to 32 bytes from `out` may be written: the next group's lines overwrite them.

// 16 bytes a shuffle, and a second on a branch for the rare group whose lines pass 16 bytes.
struct sse41_groups : x86_blocks {
    [[gnu::target("ssse3,sse4.1")]] static void
    write_half(__m128i source, const group_tables::shuffle& shuffle, char* out) noexcept {
        const __m128i lanes = _mm_load_si128(reinterpret_cast<const __m128i*>(shuffle.data()));
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(out),
            _mm_blendv_epi8(_mm_shuffle_epi8(source, lanes), _mm_set1_epi8('\n'), lanes));
    }

    [[gnu::target("ssse3,sse4.1")]] static void write(const char* from,
                                                      const group_tables::shuffles& shuffles,
                                                      std::uint8_t length, char* out) noexcept {
        const __m128i source = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        if (length > shuffle_size) [[unlikely]] {
            write_half(source, shuffles[1], out + shuffle_size);
        }
        write_half(source, shuffles[0], out);
    }
};

// All 32 bytes in one shuffle of the source repeated in both halves: no branch on the length.
struct avx2_groups : x86_blocks {
    [[gnu::target("avx2")]] static void write(const char* from,
                                              const group_tables::shuffles& shuffles,
                                              std::uint8_t /*length*/, char* out) noexcept {
        const __m256i source =
            _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
        const __m256i lanes = _mm256_load_si256(reinterpret_cast<const __m256i*>(shuffles.data()));
        _mm256_storeu_si256(
            reinterpret_cast<__m256i*>(out),
            _mm256_blendv_epi8(_mm256_shuffle_epi8(source, lanes), _mm256_set1_epi8('\n'), lanes));
    }
};
} // namespace

[[gnu::target("ssse3,sse4.1,pclmul")]] laid_out
lay_out_sse41(const char* bytes, const pair_marks& equal, std::size_t from, std::size_t end,
              pair_counters counters, char* out, const char* out_end) noexcept {
    return lay_out_slice<sse41_groups>(bytes, equal, from, end, counters, out, out_end);
}

[[gnu::target("avx2,pclmul")]] laid_out lay_out_avx2(const char* bytes, const pair_marks& equal,
                                                     std::size_t from, std::size_t end,
                                                     pair_counters counters, char* out,
                                                     const char* out_end) noexcept {
    return lay_out_slice<avx2_groups>(bytes, equal, from, end, counters, out, out_end);
}

#endif
