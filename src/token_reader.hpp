// Reading the token: the first white-space-delimited word of a file descriptor, read no further
// than the token needs.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <utility>
#include <variant>

// The six bytes of the classic locale's white-space class: space, \t, \n, \v, \f and \r.
constexpr bool is_white_space(char byte) noexcept {
    return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

// Why a run could not go on: `what` names the failure; `error_number`, when not 0, is the errno
// whose text completes the message.
struct failure {
    std::string_view what;
    int error_number = 0;
};

// Memory from malloc and realloc, which can grow a large block in place instead of copying it.
struct free_deleter {
    void operator()(char* bytes) const noexcept { std::free(bytes); }
};
using heap_bytes = std::unique_ptr<char, free_deleter>;

// The bytes of a token, together with the storage they live in.
class stored_token {
  public:
    stored_token() = default;
    stored_token(heap_bytes storage, std::size_t length) noexcept
        : storage_{std::move(storage)}, bytes_{storage_.get(), length} {}

    [[nodiscard]] std::string_view bytes() const noexcept { return bytes_; }

  private:
    heap_bytes storage_;
    std::string_view bytes_;
};

// Skips leading white space, then reads the token up to the next white-space byte or the end of
// input. An input of white space only gives the empty token. A seekable descriptor is left just
// after the token, so that whoever shares it next sees the rest of the input.
std::variant<stored_token, failure> read_token(int descriptor);
