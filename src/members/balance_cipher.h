#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cvt {

// The two ciphers of a member card's stored balance. Both work on bytes:
// the text is reversed and every byte is shifted by an amount that depends
// only on its position i (from 1) and the text's length n,
// d(i) = 2 * (n - i - 2), so the last byte moves by -4, the one before it
// by -2, and each earlier one by 2 more. No key is involved.
//
// Blanks (code 32 only) around the input are trimmed first. A null, empty
// or all-blank input gives "" (never null). Shifts wrap modulo 256, so the
// pair inverts each other on any bytes whose enciphered form neither begins
// nor ends with a blank; balance texts (digits, '.', '-', up to 37 bytes)
// always encipher to printable ASCII without blanks.
//
// The argument accepts a literal, a std::string, a std::string_view, a
// database Value (std::optional<std::string>) or std::nullopt.

// of_str_encrypt: the enciphered form of `as_source`; the same length as
// the trimmed input.
std::string of_str_encrypt(std::optional<std::string_view> as_source);

// wf_str_decrypt: the plain form of the enciphered `as_source`; the same
// length as the trimmed input. Any text is accepted, including one that was
// not produced by of_str_encrypt.
std::string wf_str_decrypt(std::optional<std::string_view> as_source);

}  // namespace cvt
