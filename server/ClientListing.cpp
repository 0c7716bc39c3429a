#include "server/ClientListing.h"

#include <limits>

#include "base/Exception.h"
#include "base/Text.h"

namespace sv {
namespace {

// A name that could address something outside its folder is no entry we can act on.
bool UsableName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/") == std::string_view::npos;
}

}  // namespace

ClientListing::ClientListing(std::string_view document) {
  // Entry positions and sizes are 32-bit; a frame is far shorter.
  if (document.size() >= std::numeric_limits<Index>::max()) throw Exception("Listing too long");
  text_.reserve(document.size());  // names and times never exceed the document
  ReadMarkup(document, *this);
  EndDocument();
}

void ClientListing::StartElement(std::string_view name, bool top) {
  depth_ = top ? 1 : depth_ + 1;
  // Only a child of the innermost open entry (or of the top element) counts.
  if (top || depth_ != open_.size() + 2) return;
  if (open_.empty() || entries_[open_.back().entry].folder) {
    const bool folder = SameText(name, "directory");
    if (folder || SameText(name, "file")) return StartEntry(folder);
  }
  if (open_.empty()) return;
  Entry& e = entries_[open_.back().entry];
  // Only the first of each counts.
  if (!e.hasName && SameText(name, "name")) StartValue(e.hasName, e.name);
  if (!e.hasTime && SameText(name, "datemodified")) StartValue(e.hasTime, e.time);
}

void ClientListing::EndElement() {
  if (value_ && depth_ == valueDepth_) EndValue();
  if (!open_.empty() && depth_ == open_.size() + 1) EndEntry();
  --depth_;
}

void ClientListing::Text(std::string_view raw) {
  if (value_ && depth_ == valueDepth_) AppendValueText(text_, value_->start, raw);
}

void ClientListing::StartEntry(bool folder) {
  entries_.emplace_back().folder = folder;
  open_.push_back({Size() - 1, static_cast<Index>(text_.size())});
}

// An entry that names nothing usable is dropped with all it holds: nothing of it is
// compared, so nothing of it is kept.
void ClientListing::EndEntry() {
  const OpenEntry o = open_.back();
  open_.pop_back();
  if (!UsableName(Text(entries_[o.entry].name))) {
    entries_.resize(o.entry);
    text_.resize(o.textMark);
    return;
  }
  entries_[o.entry].end = Size();
}

void ClientListing::StartValue(bool& has, Span& span) {
  has = true;
  span.start = static_cast<Index>(text_.size());
  value_ = &span;
  valueDepth_ = depth_;
}

void ClientListing::EndValue() {
  value_->size = static_cast<Index>(text_.size()) - value_->start;
  value_ = nullptr;
}

// Elements left open at the end of the document count as they stand.
void ClientListing::EndDocument() {
  if (value_) EndValue();
  while (!open_.empty()) EndEntry();
}

}  // namespace sv
