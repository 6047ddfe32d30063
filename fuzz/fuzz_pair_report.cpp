// Arbitrary bytes through the program's own reading and scanning, either from a file at an offset
// or in stretches cut where the fuzzer chooses; the lines, and where a file is left, are checked
// against plain models.
//
// The first byte chooses the way in: with its low bit set, a file read from the offset the other
// bits give; with it clear, a socket that delivers each stretch as one read, the stretches as long
// as the other bits give, plus one, each one byte longer than the last.
#include "model.hpp"
#include "pair_scanner.hpp"
#include "token_reader.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

void write_all(int descriptor, std::string_view bytes) {
    check(::write(descriptor, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
}

// What the program writes: read and scanned as the program does it, the lines taken as its
// writer takes them, a piece at a time or, where the scanner lays them out itself, as bytes.
struct written_lines {
    std::string lines;

    void operator()(std::string_view piece) { lines.append(piece).append("\n"); }
    std::span<char> room(std::size_t) { // as much as a writer's buffer may have
        const std::size_t used = lines.size();
        lines.resize(used + 4096);
        return {lines.data() + used, 4096};
    }
    void wrote_up_to(char* end) { lines.resize(static_cast<std::size_t>(end - lines.data())); }
};

std::string lines_read_from(int descriptor, slice_layout layout) {
    token_reader input{descriptor};
    pair_scanner scanner{white_space::ends_token, layout};
    written_lines written;
    while (true) {
        const auto read = input.read(scanner.carried_bytes());
        const auto* const window = std::get_if<std::string_view>(&read);
        check(window != nullptr);
        if (window->empty()) {
            return written.lines;
        }
        const std::size_t end = scanner.scan(*window, written);
        if (end < window->size()) {
            input.stop_at(end);
            return written.lines;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool from_file = (data[0] & 1) != 0;
    const std::string_view input{reinterpret_cast<const char*>(data + 1), size - 1};
    const std::size_t offset = from_file ? std::min<std::size_t>(data[0] >> 1, input.size()) : 0;
    const std::string_view expected = model_token(input.substr(offset));
    const std::string modelled = model_lines(expected);
    // Each layout the processor runs, or none, by the input's length.
    const std::span<const slice_layout> layouts = runnable_slice_layouts();
    const std::size_t choice = size % (layouts.size() + 1);
    const slice_layout layout = choice < layouts.size() ? layouts[choice] : nullptr;

    std::string lines;
    if (from_file) {
        const int descriptor = ::memfd_create("fuzz_input", 0);
        write_all(descriptor, input);
        check(::lseek(descriptor, static_cast<off_t>(offset), SEEK_SET) >= 0);
        lines = lines_read_from(descriptor, layout);
        // Left just after the token, or at the end when there is none.
        const auto left_at = static_cast<std::size_t>(::lseek(descriptor, 0, SEEK_CUR));
        check(left_at == (expected.empty()
                              ? input.size()
                              : static_cast<std::size_t>(expected.end() - input.begin())));
        ::close(descriptor);
    } else {
        int ends[2];
        check(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends) == 0);
        // Sent beside the reading, since a socket holds only so many stretches. The reader stops
        // at the token's end: a sender still sending then finds the socket shut, and gives up.
        std::thread sender{[&input, ends, stretch = std::size_t{data[0]} / 2 + 1]() mutable {
            for (std::string_view rest = input; !rest.empty();
                 rest.remove_prefix(std::min(rest.size(), stretch++))) {
                if (::send(ends[1], rest.data(), std::min(rest.size(), stretch), MSG_NOSIGNAL) <
                    0) {
                    break;
                }
            }
            ::close(ends[1]);
        }};
        lines = lines_read_from(ends[0], layout);
        ::shutdown(ends[0], SHUT_RD);
        sender.join();
        ::close(ends[0]);
    }
    check(lines == modelled);

    // Every kernel the processor can run, not only the one the program picks, on the first slice.
    const std::string_view slice = input.substr(0, slice_pairs + 1);
    std::array<std::uint64_t, slice_pairs / 64 + 1> expected_marks{};
    std::array<std::uint64_t, slice_pairs / 64 + 1> marks{};
    for (const white_space rule : {white_space::ends_token, white_space::is_data}) {
        const slice_marks expected = mark_equal_pairs_reference(slice, expected_marks.data(), rule);
        for (const pair_kernel& kernel : runnable_pair_kernels()) {
            const slice_marks found = kernel.mark(slice, marks.data(), rule);
            check(found.end == expected.end && found.words_with_marks == expected.words_with_marks);
            const std::size_t words = expected.end == 0 ? 0 : (expected.end + 62) / 64;
            check(std::equal(marks.begin(), marks.begin() + static_cast<std::ptrdiff_t>(words),
                             expected_marks.begin()));
        }
    }
    return 0;
}
