// Arbitrary bytes through the program's own input handling, from a pipe or from a file at an
// offset, then through the scan; the token and every piece are checked against plain models.
//
// The first byte chooses the way in: its low bit a file (mapped) or a pipe (read), the rest the
// file offset to start from.
#include "model.hpp"
#include "pair_scanner.hpp"
#include "token_reader.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <sys/mman.h>
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool from_file = (data[0] & 1) != 0;
    const std::string_view input{reinterpret_cast<const char*>(data + 1), size - 1};
    const std::size_t offset = from_file ? std::min<std::size_t>(data[0] >> 1, input.size()) : 0;
    if (!from_file && input.size() > 65536) {
        return 0; // more than a pipe holds without a reader
    }

    int descriptor = -1;
    if (from_file) {
        descriptor = ::memfd_create("fuzz_input", 0);
        write_all(descriptor, input);
        check(::lseek(descriptor, static_cast<off_t>(offset), SEEK_SET) >= 0);
    } else {
        int ends[2];
        check(::pipe(ends) == 0);
        write_all(ends[1], input);
        ::close(ends[1]);
        descriptor = ends[0];
    }
    const auto result = read_token(descriptor);
    const std::string_view expected = model_token(input.substr(offset));
    if (from_file) { // left just after the token, or where it started when there is none
        const auto left_at = static_cast<std::size_t>(::lseek(descriptor, 0, SEEK_CUR));
        check(left_at == (expected.empty()
                              ? input.size()
                              : static_cast<std::size_t>(expected.end() - input.begin())));
    }
    ::close(descriptor);

    const auto* const token = std::get_if<stored_token>(&result);
    check(token != nullptr && token->bytes() == expected);
    std::vector<std::string> pieces;
    scan_pairs(token->bytes(), [&pieces](std::string_view piece) { pieces.emplace_back(piece); });
    const auto modelled = model_pieces(expected);
    check(std::equal(pieces.begin(), pieces.end(), modelled.begin(), modelled.end()));
    check(token_length(input) == token_length_reference(input));
    return 0;
}
