#pragma once
// Integer text: the one rule for reading a number from text (settings file, console
// fields, page numbers). After optional leading spaces and an optional sign: decimal
// digits whose value fits a 32-bit signed integer, or a hexadecimal prefix ("$", "x",
// "X", "0x", "0X") and hexadecimal digits whose value fits 32 bits, taken as a 32-bit
// pattern with the sign applied after. Nothing may follow; empty text is no integer.
#include <cstdint>
#include <string_view>

namespace sv {

bool TryStrToInt(std::string_view text, std::int32_t& value);
// The value of a hexadecimal digit (either case), or -1 for any other character.
int HexDigitValue(char c);
std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback);

}  // namespace sv
