// pair_report: for every pair of equal adjacent bytes of the token, the first word of standard
// input, writes the piece that the counters choose. Every failure ends here, in one line.
#include "implementations.hpp"
#include "line_writer.hpp"
#include "pair_scanner.hpp"
#include "token_reader.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <variant>

#include <unistd.h>

namespace {
// The writer reads a fixed number of bytes from the start of every piece, whatever its length.
static_assert(token_reader::readable_slack >= line_writer::short_piece);

// The line is made whole in a buffer of its own, the copies into it clamped to its size (and
// checked by the fortified copy), and written at once: no other writer's bytes can split it.
int report(const failure& failed) noexcept {
    const bool has_reason = failed.error_number != 0;
    const std::string_view parts[] = {"pair_report: ", failed.what, has_reason ? ": " : "",
                                      has_reason ? std::strerror(failed.error_number) : ""};
    char line[256];
    std::size_t length = 0;
    for (const std::string_view part : parts) {
        const std::size_t taken = std::min(part.size(), sizeof line - 1 - length);
        std::memcpy(line + length, part.data(), taken);
        length += taken;
    }
    line[length++] = '\n';
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line, length); // or nowhere
    return EXIT_FAILURE;
}
} // namespace

// Arguments are ignored: the program has no options.
int main() {
    const implementation& fastest = chosen_implementation();
    token_reader input{STDIN_FILENO};
    pair_scanner scanner{fastest.mark_blocks};
    line_writer output{STDOUT_FILENO, fastest.lay_out};
    if (!output.has_buffer()) {
        return report({"out of memory writing the lines"});
    }

    std::optional<failure> read_failure;
    while (output.error_number() == 0) {
        output.flush(); // the lines found so far go out before a read that may have to wait
        const auto read = input.read(scanner.carried_bytes());
        if (const auto* const failed = std::get_if<failure>(&read)) {
            read_failure = *failed;
            break;
        }
        const std::string_view window = *std::get_if<std::string_view>(&read);
        if (window.empty()) { // the input has ended
            break;
        }
        const std::size_t end = output.write_lines(
            [&](line_writer::sink& lines) noexcept { return scanner.scan(window, lines); });
        if (end < window.size()) {
            input.stop_at(end);
            break;
        }
    }

    output.flush(); // the lines found before a failure stay: each whole, the answer's first lines

    if (read_failure) {
        return report(*read_failure);
    }
    if (output.error_number() != 0) {
        return report({"write error", output.error_number()});
    }
    return EXIT_SUCCESS;
}
