// fuzz-link: sv_server
// fuzz-args: -rss_limit_mb=256
// Reads the input as a client's listing. Markup faults are ordinary exceptions; a
// listing read must nest: every folder's content lies within it, every entry ends after
// itself and no later than its parent, and every name is one the comparison may act on.
// What is kept never exceeds the document.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "base/Exception.h"
#include "server/ClientListing.h"

namespace {

using Index = sv::ClientListing::Index;

bool Usable(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/") == std::string_view::npos;
}

// Checks every entry, folder by folder without recursion (a listing may nest deeper
// than a stack); returns the bytes of names and times seen.
std::size_t Check(const sv::ClientListing& listing) {
  std::size_t kept = 0;
  std::vector<sv::ClientListing::Folder> open{listing.Root()};
  while (!open.empty()) {
    sv::ClientListing::Folder& folder = open.back();
    if (folder.begin == folder.end) {
      open.pop_back();
      continue;
    }
    const Index e = folder.begin;
    if (listing.Next(e) <= e || listing.Next(e) > folder.end) std::abort();
    if (!Usable(listing.Name(e))) std::abort();
    kept += listing.Name(e).size() + listing.Time(e).size();
    const sv::ClientListing::Folder content = listing.Content(e);
    if (!listing.IsFolder(e) && content.begin != content.end) std::abort();
    folder.begin = listing.Next(e);
    open.push_back(content);  // may invalidate `folder`
  }
  return kept;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view document(reinterpret_cast<const char*>(data), size);
  try {
    sv::ClientListing listing(document);
    if (listing.Root().begin != 0 || Check(listing) > size) std::abort();
  } catch (const sv::Exception&) {
  }
  return 0;
}
