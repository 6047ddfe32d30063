#include "token_reader.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace {

// Reads of this size keep the system calls few without reading far past a short token.
constexpr std::size_t read_size = 64 * 1024;

std::size_t leading_white_space(std::string_view bytes) noexcept {
    return static_cast<std::size_t>(std::ranges::find_if_not(bytes, is_white_space) -
                                    bytes.begin());
}

std::size_t leading_token_bytes(std::string_view bytes) noexcept {
    return static_cast<std::size_t>(std::ranges::find_if(bytes, is_white_space) - bytes.begin());
}

// Makes room for `wanted` bytes in `storage`, growing it geometrically. False when memory runs out.
bool reserve(heap_bytes& storage, std::size_t& capacity, std::size_t wanted) noexcept {
    if (wanted <= capacity) {
        return true;
    }
    const std::size_t grown = std::max(wanted, 2 * capacity);
    char* const moved = static_cast<char*>(std::realloc(storage.get(), grown));
    if (moved == nullptr) {
        return false;
    }
    static_cast<void>(storage.release());
    storage.reset(moved);
    capacity = grown;
    return true;
}

} // namespace

std::variant<stored_token, failure> read_token(int descriptor) {
    heap_bytes storage;
    std::size_t capacity = 0;
    std::size_t length = 0;        // token bytes stored so far, from the start of storage
    std::size_t read_past_end = 0; // bytes read after the token's end
    while (true) {
        if (!reserve(storage, capacity, length + read_size)) {
            return failure{"out of memory reading the token"};
        }
        char* const chunk = storage.get() + length;
        const ssize_t count = ::read(descriptor, chunk, capacity - length);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failure{"read error", errno};
        }
        if (count == 0) {
            break;
        }
        std::string_view arrived{chunk, static_cast<std::size_t>(count)};
        if (length == 0) {
            // Leading white space is dropped as it arrives, so it never takes memory.
            arrived.remove_prefix(leading_white_space(arrived));
            std::memmove(chunk, arrived.data(), arrived.size());
            arrived = {chunk, arrived.size()};
        }
        const std::size_t token_part = leading_token_bytes(arrived);
        length += token_part;
        if (token_part < arrived.size()) {
            read_past_end = arrived.size() - token_part;
            break;
        }
    }
    // Give back what was read past the token; descriptors that cannot seek simply keep it.
    if (read_past_end != 0) {
        static_cast<void>(::lseek(descriptor, -static_cast<off_t>(read_past_end), SEEK_CUR));
    }
    return stored_token{std::move(storage), length};
}
