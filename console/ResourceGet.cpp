#include "console/ResourceGet.h"

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "console/EmbeddedFiles.h"

namespace sv {
namespace {

struct ResourceName {
  std::string_view type, name, file;
};

// The resource table of the program image: which file of console/resources is which.
constexpr ResourceName kResources[] = {
    {"TEXT", "INDEX", "index.html"},
    {"TEXT", "POSTAVKE", "postavke.html"},
    {"TEXT", "EVENTLOG", "eventlog.html"},
    {"TEXT", "PROPALAAKCIJA", "propalaakcija.html"},
    {"TEXT", "PREGLED", "pregled.html"},
    {"TEXT", "ODBIJENO", "odbijeno.html"},  // the refusal page (403, 413)
    {"RCDATA", "STYLE_CSS", "style.css"},
    {"RCDATA", "SORVANAPROJECT_JPG", "sorvanaproject.jpg"},
    {"RCDATA", "SORVANAPROJECT_FOOTER_JPG", "sorvanaproject_footer.jpg"},
};

const EmbeddedFile* FindFile(std::string_view file) {
  for (std::size_t i = 0; i < kEmbeddedFileCount; ++i) {
    if (file == kEmbeddedFiles[i].name) return &kEmbeddedFiles[i];
  }
  return nullptr;
}

}  // namespace

std::string_view FindResource(std::string_view name, std::string_view type) {
  for (const ResourceName& r : kResources) {
    if (!SameText(r.type, type) || !SameText(r.name, name)) continue;
    if (const EmbeddedFile* f = FindFile(r.file))
      return {reinterpret_cast<const char*>(f->data), f->size};
  }
  throw Exception(Format(msg::kResourceNotFound, name));
}

std::string LoadResourceText(std::string_view name, std::string_view type) {
  return std::string(FindResource(name, type));
}

}  // namespace sv
