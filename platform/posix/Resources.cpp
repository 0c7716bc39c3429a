#include "platform/Resources.h"

#include "base/Text.h"
#include "platform/posix/EmbeddedResources.h"

namespace sv {

bool FindImageResource(std::string_view type, std::string_view name, std::string_view& bytes) {
  for (std::size_t i = 0; i < kEmbeddedResourceCount; ++i) {
    const EmbeddedResource& r = kEmbeddedResources[i];
    if (!SameText(r.type, type) || !SameText(r.name, name)) continue;
    bytes = {reinterpret_cast<const char*>(r.data), r.size};
    return true;
  }
  return false;
}

}  // namespace sv
