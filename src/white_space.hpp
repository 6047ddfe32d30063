// White space: the six bytes of the classic locale's white-space class, which the reader skips
// before the token and the kernels stop at after it.
#pragma once

// Space, \t, \n, \v, \f and \r.
constexpr bool is_white_space(char byte) noexcept {
    return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

// Whether a white-space byte ends the bytes a kernel looks at (a token being read), or is a byte
// like any other (a token already cut out, which a caller may hand over as it likes).
enum class white_space : bool { is_data, ends_token };
