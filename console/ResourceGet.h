#pragma once
// The console's resources in the program image (console/resources, see the resource list
// in CMakeLists.txt), found by type and name without regard to case. Read-only; safe
// from any thread.
#include <string>
#include <string_view>

namespace sv {

// The bytes of a resource; they live as long as the program. Raises
// Exception("Resource %s not found") with the name when there is none of that type and name.
std::string_view ResourceBytes(std::string_view name, std::string_view type);
// A copy of the resource's bytes, exactly (no terminator); raises as ResourceBytes.
std::string LoadResourceText(std::string_view name, std::string_view type);

}  // namespace sv
