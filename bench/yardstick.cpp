// What the machine does without pair_report, for the benchmark to hold it to: `yardstick read`
// reads standard input to its end into one reused 256 KiB buffer and touches every byte, through
// a pipe enlarged as pair_report enlarges it; `yardstick write N CHUNK` writes N bytes to standard
// output in writes of CHUNK bytes, into a pipe enlarged the same way; `yardstick
// read-write N CHUNK` does both, one after the other: all that a run with heavy output must do
// besides making its lines.
#include "descriptor_io.hpp"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace {

bool read_everything() {
    enlarge_pipe(STDIN_FILENO);
    alignas(64) std::array<char, std::size_t{256} * 1024> buffer{};
    std::uint64_t touched = 0;
    for (ssize_t count; (count = ::read(STDIN_FILENO, buffer.data(), buffer.size())) > 0;) {
        // Eight bytes at a time: as cheap a touch of every byte as there is.
        for (ssize_t at = 0; at < count; at += 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, buffer.data() + at, 8);
            touched ^= word;
        }
    }
    // Used, so that the loop that touches the bytes is not left out; never false in practice.
    return touched != 1;
}

bool write_bytes(std::uint64_t size, std::size_t chunk_size) {
    enlarge_pipe(STDOUT_FILENO);
    if (chunk_size == 0) {
        return false;
    }
    const std::vector<char> buffer(chunk_size, 'a');
    while (size != 0) {
        const std::size_t chunk = size < chunk_size ? static_cast<std::size_t>(size) : chunk_size;
        const ssize_t written = ::write(STDOUT_FILENO, buffer.data(), chunk);
        if (written < 0) {
            return false;
        }
        size -= static_cast<std::uint64_t>(written);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc > 1 ? argv[1] : "";
    const bool reads = mode == "read" || mode == "read-write";
    const bool writes = mode == "write" || mode == "read-write";
    if (argc != (writes ? 4 : 2) || !(reads || writes)) {
        return EXIT_FAILURE;
    }
    const bool done = (!reads || read_everything()) &&
                      (!writes || write_bytes(std::strtoull(argv[2], nullptr, 10),
                                              std::strtoull(argv[3], nullptr, 10)));
    return done ? EXIT_SUCCESS : EXIT_FAILURE;
}
