// The reader on its own: what each window carries over, and memory running out for it.
#include "token_reader.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

TEST(TokenReader, EachWindowBeginsWithTheBytesCarriedOver) {
    // A socket that delivers each stretch as one read; the white space before the token goes.
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends), 0);
    for (const std::string stretch : {" \n", "\tab", "cd", "efg h"}) {
        ASSERT_EQ(::write(ends[1], stretch.data(), stretch.size()),
                  static_cast<ssize_t>(stretch.size()));
    }
    ::close(ends[1]);
    token_reader input{ends[0]};
    const std::vector<std::pair<std::size_t, std::string>> reads = {
        {0, "ab"}, {1, "bcd"}, {3, "bcdefg h"}, {0, ""}};
    for (const auto& [carried, window] : reads) {
        const auto read = input.read(carried);
        ASSERT_TRUE(std::holds_alternative<std::string_view>(read));
        const std::string_view got = std::get<std::string_view>(read);
        EXPECT_EQ(got, window) << "carrying " << carried;
        if (carried != 0) { // what was read landed on a 64-byte boundary, after them
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(got.data() + carried) % 64, 0U);
        }
    }
    ::close(ends[0]);
}

// Only where the memory limit binds: the sanitizers reserve more address space than it allows, and
// an emulator does not pass it on.
#if PAIR_REPORT_MEMORY_MEASURED
// Carries every byte read, as a piece as long as the input would need, from an endless input,
// until the window cannot grow under the memory limit; exits 0 when that fails as it should.
[[noreturn]] void carry_everything_read() {
    const rlimit limit{rlim_t{1} << 30, rlim_t{1} << 30};
    ::setrlimit(RLIMIT_AS, &limit);
    token_reader input{::open("/dev/zero", O_RDONLY)};
    for (std::size_t carried = 0;;) {
        const auto read = input.read(carried);
        if (const auto* const failed = std::get_if<failure>(&read)) {
            const bool right = failed->what == "out of memory reading the token" &&
                               failed->error_number == 0 && carried > (std::size_t{256} << 20);
            std::_Exit(right ? 0 : 1);
        }
        carried = std::get<std::string_view>(read).size();
    }
}

TEST(TokenReader, RunsOutOfMemoryOnlyForWhatItCarries) {
    EXPECT_EXIT(carry_everything_read(), testing::ExitedWithCode(0), "");
}
#endif

} // namespace
