#pragma once
// The console's resources compiled into the program (console/resources), found by type
// and name without regard to case. Read-only; safe from any thread.
#include <string>
#include <string_view>

namespace sv {

// The bytes of a resource; they live as long as the program. Raises
// Exception("Resource %s not found") with the name when there is none of that type and name.
std::string_view FindResource(std::string_view name, std::string_view type);
// A copy of the resource's bytes, exactly (no terminator); raises as FindResource.
std::string LoadResourceText(std::string_view name, std::string_view type);

}  // namespace sv
