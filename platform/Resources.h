#pragma once
// Resources of the program image, found by type and name without regard to case.
// Read-only; safe from any thread.
#include <string_view>

namespace sv {

// The bytes of the resource; they live as long as the program. False when the image has
// no resource of that type and name.
bool FindImageResource(std::string_view type, std::string_view name, std::string_view& bytes);

}  // namespace sv
