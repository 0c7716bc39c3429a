#pragma once
// The files of console/resources, compiled into the program (see cmake/Resources.cmake).
#include <cstddef>

namespace sv {

struct EmbeddedFile {
  const char* name;            // the file's name in console/resources
  const unsigned char* data;   // its bytes
  std::size_t size;            // its size in bytes
};

extern const EmbeddedFile kEmbeddedFiles[];
extern const std::size_t kEmbeddedFileCount;

}  // namespace sv
