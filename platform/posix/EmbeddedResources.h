#pragma once
// The resources of the program image where the system has no resource section: byte
// arrays that the build compiles into the program (see cmake/Resources.cmake).
#include <cstddef>

namespace sv {

struct EmbeddedResource {
  const char* type;           // "TEXT", "RCDATA"
  const char* name;           // "INDEX", "STYLE_CSS"
  const unsigned char* data;  // the bytes of the file
  std::size_t size;           // their count
};

extern const EmbeddedResource kEmbeddedResources[];
extern const std::size_t kEmbeddedResourceCount;

}  // namespace sv
