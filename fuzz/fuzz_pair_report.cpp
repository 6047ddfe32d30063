// Arbitrary bytes through the program's own reading, scanning and writing, either from a file at
// an offset or in parts cut where the fuzzer chooses; the lines, and where a file is left, are
// checked against plain models.
//
// The first byte chooses the way in: with its low bit set, a file read from the offset the other
// bits give; with it clear, a socket that delivers each part as one read, the parts as long as the
// other bits give, plus one, each one byte longer than the last.
#include "implementations.hpp"
#include "memory_lines.hpp"
#include "model.hpp"
#include "pair_scanner.hpp"
#include "token_reader.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <optional>
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

// What the program writes: read, scanned and written as the program does it, by `runs`, with the
// writer's buffer ending `buffer_ends_at` bytes into the lines.
std::string lines_read_from(int descriptor, const implementation& runs,
                            std::size_t buffer_ends_at) {
    token_reader input{descriptor};
    pair_scanner scanner{runs.mark_blocks};
    memory_lines written{runs.lay_out, buffer_ends_at};
    while (true) {
        const auto read = input.read(scanner.carried_bytes());
        const auto* const window = std::get_if<std::string_view>(&read);
        check(window != nullptr);
        if (window->empty()) {
            break;
        }
        const std::size_t end = written.output().write_lines(
            [&](line_writer::sink& lines) { return scanner.scan(*window, lines); });
        if (end < window->size()) {
            input.stop_at(end);
            break;
        }
    }
    const std::optional<std::string> lines = written.lines();
    check(lines.has_value());
    return *lines;
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
    // Each implementation the processor runs, by the input's length; the writer's buffer ends
    // anywhere in the lines, by a hash of the input.
    const std::span<const implementation> implementations = runnable_implementations();
    const implementation& runs = implementations[size % implementations.size()];
    const std::size_t buffer_ends_at = std::hash<std::string_view>{}(input) %
                                       std::min(modelled.size() + 1, line_writer::write_size);

    std::string lines;
    if (from_file) {
        const int descriptor = ::memfd_create("fuzz_input", 0);
        write_all(descriptor, input);
        check(::lseek(descriptor, static_cast<off_t>(offset), SEEK_SET) >= 0);
        lines = lines_read_from(descriptor, runs, buffer_ends_at);
        // Left just after the token, or at the end when there is none.
        const auto left_at = static_cast<std::size_t>(::lseek(descriptor, 0, SEEK_CUR));
        check(left_at == (expected.empty()
                              ? input.size()
                              : static_cast<std::size_t>(expected.end() - input.begin())));
        ::close(descriptor);
    } else {
        int ends[2];
        check(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends) == 0);
        // Sent beside the reading, since a socket holds only so many parts. The reader stops
        // at the token's end: a sender still sending then finds the socket shut, and gives up.
        std::thread sender{[&input, ends, part = std::size_t{data[0]} / 2 + 1]() mutable {
            for (std::string_view rest = input; !rest.empty();
                 rest.remove_prefix(std::min(rest.size(), part++))) {
                if (::send(ends[1], rest.data(), std::min(rest.size(), part), MSG_NOSIGNAL) < 0) {
                    break;
                }
            }
            ::close(ends[1]);
        }};
        lines = lines_read_from(ends[0], runs, buffer_ends_at);
        ::shutdown(ends[0], SHUT_RD);
        sender.join();
        ::close(ends[0]);
    }
    check(lines == modelled);

    // Every kernel the processor can run, not only the one the program picks, on the first slice.
    const std::string_view slice = input.substr(0, slice_pairs + 1);
    pair_marks expected_marks{};
    pair_marks marks{};
    for (const white_space rule : {white_space::ends_token, white_space::is_data}) {
        const slice_marks expected = model_marks(slice, expected_marks, rule);
        for (const implementation& other : implementations) {
            const slice_marks found = mark_equal_pairs(other.mark_blocks, slice, marks, rule);
            check(found.end == expected.end && found.words_with_marks == expected.words_with_marks);
            const std::size_t words = expected.end == 0 ? 0 : (expected.end + 62) / 64;
            check(std::equal(marks.begin(), marks.begin() + static_cast<std::ptrdiff_t>(words),
                             expected_marks.begin()));
        }
    }
    return 0;
}
