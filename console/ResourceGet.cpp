#include "console/ResourceGet.h"

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "platform/Resources.h"

namespace sv {

std::string_view ResourceBytes(std::string_view name, std::string_view type) {
  std::string_view bytes;
  if (!FindImageResource(type, name, bytes)) throw Exception(Format(msg::kResourceNotFound, name));
  return bytes;
}

std::string LoadResourceText(std::string_view name, std::string_view type) {
  return std::string(ResourceBytes(name, type));
}

}  // namespace sv
