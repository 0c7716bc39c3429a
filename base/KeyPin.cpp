#include "base/KeyPin.h"

#include "base/IntText.h"
#include "base/Text.h"

namespace sv {

std::string FormatKeyPin(std::string_view digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(digest.size() * 2);
  for (unsigned char byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

std::optional<std::string> ParseKeyPin(std::string_view text) {
  const std::string trimmed = Trim(text);
  text = trimmed;
  if (text.size() > 7 && SameText(text.substr(0, 6), "sha256") && (text[6] == ':' || text[6] == '/'))
    text.remove_prefix(7);
  std::string pin;
  pin.reserve(2 * kKeyPinBytes);
  for (std::size_t i = 0; i < text.size();) {
    // A byte: two digits, then the end or one separator before the next byte.
    if (i + 1 >= text.size() || HexDigitValue(text[i]) < 0 || HexDigitValue(text[i + 1]) < 0) return std::nullopt;
    pin += static_cast<char>(LowerCase(static_cast<unsigned char>(text[i])));
    pin += static_cast<char>(LowerCase(static_cast<unsigned char>(text[i + 1])));
    i += 2;
    if (i < text.size() && (text[i] == ':' || text[i] == ' ')) {
      if (++i == text.size()) return std::nullopt;
    }
  }
  if (pin.size() != 2 * kKeyPinBytes) return std::nullopt;
  return pin;
}

}  // namespace sv
