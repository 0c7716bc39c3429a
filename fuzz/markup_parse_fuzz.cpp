// fuzz-link: sv_markup
// Parses arbitrary bytes into a fresh node and writes the tree back. Neither may crash,
// hang or leak, whatever the peer sends; the syntax faults are ordinary exceptions.
// Also holds the escaping promise: unescaping escaped text gives the text back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/Exception.h"
#include "markup/svXMLParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  sv::TsvXMLNode root;
  try {
    root.Parse(text);
  } catch (const sv::Exception&) {
    // The tree built up to the faulty byte stays and must still be sound.
  }
  const std::string written = root.AsText();
  if (root.ChildCount() > 0) root.IndexOfChild(root.Child(0)->Name(), -1);

  if (sv::TsvXMLNode::UnescapeText(sv::TsvXMLNode::EscapeText(text)) != text) std::abort();
  (void)written;
  return 0;
}
