// fuzz-link: sv_base
// Reads arbitrary bytes as a pasted key pin: whatever is accepted is 64 lowercase hex
// digits, and reading that written form again gives it back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/KeyPin.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto pin = sv::ParseKeyPin(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!pin) return 0;
  if (pin->size() != 2 * sv::kKeyPinBytes) std::abort();
  for (char c : *pin) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) std::abort();
  }
  if (sv::ParseKeyPin(*pin) != pin) std::abort();
  return 0;
}
