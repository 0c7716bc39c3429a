#pragma once
// A pin of a server's public key: the SHA-256 of the key's DER SubjectPublicKeyInfo,
// written as 64 lowercase hexadecimal digits. The server prints it, the user copies it
// into the client's settings, and the client compares it with the key a server offers.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace sv {

constexpr std::size_t kKeyPinBytes = 32;

// The written form of a digest of kKeyPinBytes bytes (any other length is written as it
// is, two digits a byte).
std::string FormatKeyPin(std::string_view digest);

// Reads a pin as a user may paste it: hexadecimal digits of either case, the byte pairs
// optionally apart by ':' or spaces, after an optional "sha256:" or "sha256/" (any case),
// with spaces, tabs or line ends around the whole. Returns the written form, or nothing when the text is no
// pin (a wrong length, a stray character, an odd digit).
std::optional<std::string> ParseKeyPin(std::string_view text);

}  // namespace sv
