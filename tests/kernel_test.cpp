// Every kernel this processor can run, not only the one the program picks, against the plain
// loop: at every start and length around the 64-byte blocks they work in, with white space as a
// stop and as data.
#include "implementations.hpp"
#include "model.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using namespace std::string_view_literals;

struct marked {
    std::size_t end;
    std::uint64_t words_with_marks;
    std::vector<std::uint64_t> words; // only those that hold pairs before the end

    bool operator==(const marked&) const = default;
};

template <typename Mark>
marked mark_with(Mark mark, std::string_view bytes, white_space rule) {
    pair_marks words;
    words.fill(0x5555'5555'5555'5555U);
    const slice_marks found = mark(bytes, words, rule);
    const std::size_t used = (found.end == 0 ? 0 : found.end + 62) / 64;
    return {found.end, found.words_with_marks, {words.begin(), words.begin() + used}};
}

marked reference(std::string_view bytes, white_space rule) {
    return mark_with(model_marks, bytes, rule);
}

marked variant(const implementation& runs, std::string_view bytes, white_space rule) {
    return mark_with(
        [&runs](std::string_view all, pair_marks& equal, white_space stops) {
            return mark_equal_pairs(runs.mark_blocks, all, equal, stops);
        },
        bytes, rule);
}

std::string random_bytes(std::mt19937_64& random, std::size_t size, std::string_view alphabet) {
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = alphabet[random() % alphabet.size()];
    }
    return bytes;
}

TEST(Kernels, TheReferenceMarksEqualPairsUpToTheFirstWhiteSpace) {
    const std::vector<std::tuple<std::string_view, white_space, std::size_t, std::uint64_t>> cases =
        {
            {""sv, white_space::ends_token, 0, 0},
            {"aa"sv, white_space::ends_token, 2, 0b1},
            {"aab\0\0"sv, white_space::ends_token, 5, 0b1001},
            {"aa aa"sv, white_space::ends_token, 2, 0b1},
            {"a\taa"sv, white_space::ends_token, 1, 0},
            {"a  aa"sv, white_space::is_data, 5, 0b1010},
        };
    for (const auto& [bytes, rule, end, first_word] : cases) {
        const marked found = reference(bytes, rule);
        EXPECT_EQ(found.end, end) << bytes;
        EXPECT_EQ(found.words.empty() ? 0 : found.words[0], first_word) << bytes;
    }
}

TEST(Kernels, EveryVariantAgreesWithTheReferenceAtEveryStartAndLength) {
    std::mt19937_64 random{11};
    const std::string_view alphabets[] = {"ab\0\x80\xff"sv, "abcdefghijklmnopqrstuvwxyz"sv,
                                          "ab \t\n\v\f\r\x08\x0e\x1f\x89\x8d\xa0"sv};
    for (const implementation& runs : runnable_implementations()) {
        for (int round = 0; round < 300; ++round) {
            const std::string source = random_bytes(random, 260, alphabets[round % 3]);
            for (std::size_t start = 0; start < 64; start += 1 + random() % 7) {
                for (std::size_t length = 0; start + length <= source.size(); ++length) {
                    // An exact copy, so that a read past the end shows under the sanitizers.
                    const std::string bytes = source.substr(start, length);
                    for (const white_space rule : {white_space::ends_token, white_space::is_data}) {
                        ASSERT_EQ(variant(runs, bytes, rule), reference(bytes, rule))
                            << runs.name << " start " << start << " length " << length;
                    }
                }
            }
        }
    }
}

TEST(Kernels, EveryVariantAgreesWithTheReferenceOnWholeSlices) {
    std::mt19937_64 random{12};
    for (const implementation& runs : runnable_implementations()) {
        for (int round = 0; round < 200; ++round) {
            const std::string source =
                random_bytes(random, slice_pairs + 1, "ab\0 "sv.substr(0, 3 + round % 2));
            for (std::size_t length = slice_pairs - 70; length <= source.size();
                 length += 1 + random() % 5) {
                const std::string bytes = source.substr(0, length);
                ASSERT_EQ(variant(runs, bytes, white_space::is_data),
                          reference(bytes, white_space::is_data))
                    << runs.name << " length " << length;
            }
        }
    }
}

TEST(Kernels, OnlyTheSixWhiteSpaceBytesEndAToken) {
    const std::string_view white = " \t\n\v\f\r"sv;
    for (const implementation& runs : runnable_implementations()) {
        for (int value = 0; value < 256; ++value) {
            for (const std::size_t at : {0, 5, 63, 64, 70, 127, 128, 200}) {
                std::string bytes(201, 'x');
                bytes[at] = static_cast<char>(value);
                const bool is_white =
                    white.find(static_cast<char>(value)) != std::string_view::npos;
                EXPECT_EQ(variant(runs, bytes, white_space::ends_token).end,
                          is_white ? at : bytes.size())
                    << runs.name << " byte " << value << " at " << at;
            }
        }
    }
}

TEST(Kernels, ThePortableVariantIsAlwaysThereAndTheProcessorIsAskedRightly) {
    EXPECT_EQ(runnable_implementations().back().name, "portable");
#if defined(__x86_64__)
    // The program takes glibc's answers; the compiler's own check asks the processor itself.
    __builtin_cpu_init();
    const std::pair<x86_feature, int> features[] = {{ssse3, __builtin_cpu_supports("ssse3")},
                                                    {sse4_1, __builtin_cpu_supports("sse4.1")},
                                                    {pclmul, __builtin_cpu_supports("pclmul")},
                                                    {avx2, __builtin_cpu_supports("avx2")},
                                                    {avx512bw, __builtin_cpu_supports("avx512bw")}};
    for (const auto& [feature, has] : features) {
        EXPECT_EQ(processor_has(feature), has != 0) << static_cast<int>(feature);
    }
#endif
}

} // namespace
