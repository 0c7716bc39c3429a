#pragma once
// The client's listing as the comparison needs it, read without a markup tree: every
// "directory" and "file" element below the top element or below a listed folder that
// names something, in document order, each followed by what it holds. An entry takes 24
// bytes and its name and time, and the reading one word more per open element, so a
// listing of any shape takes at most a few times its size.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "markup/svXMLReader.h"

namespace sv {

class ClientListing : public TsvXMLHandler {
 public:
  using Index = std::uint32_t;
  // The entries in [begin, end) directly below one folder.
  struct Folder {
    Index begin, end;
  };

  // Reads the document; raises Exception for markup faults and for a document too long
  // for 32-bit positions.
  explicit ClientListing(std::string_view document);

  Folder Root() const { return {0, Size()}; }
  Folder Content(Index entry) const { return {entry + 1, entries_[entry].end}; }
  Index Next(Index entry) const { return entries_[entry].end; }
  bool IsFolder(Index entry) const { return entries_[entry].folder; }
  // Never empty, ".", ".." nor holding a path separator: an entry that would name such
  // is dropped with all it holds.
  std::string_view Name(Index entry) const { return Text(entries_[entry].name); }
  std::string_view Time(Index entry) const { return Text(entries_[entry].time); }
  bool Matched(Index entry) const { return entries_[entry].matched; }
  void SetMatched(Index entry) { entries_[entry].matched = true; }

  void StartElement(std::string_view name, bool top) override;
  void EndElement() override;
  void Text(std::string_view raw) override;

 private:
  struct Span {
    Index start = 0, size = 0;
  };
  struct Entry {
    Index end = 0;  // after the entry's last descendant
    Span name, time;
    bool folder = false, hasName = false, hasTime = false, matched = false;
  };
  struct OpenEntry {
    Index entry;
    Index textMark;  // the size of text_ when the entry began
  };

  Index Size() const { return static_cast<Index>(entries_.size()); }
  std::string_view Text(Span s) const { return std::string_view(text_).substr(s.start, s.size); }

  void StartEntry(bool folder);
  void EndEntry();
  void StartValue(bool& has, Span& span);
  void EndValue();
  void EndDocument();

  std::deque<Entry> entries_;
  std::deque<OpenEntry> open_;  // the entries whose elements are open, innermost last
  std::string text_;            // every kept name and time
  std::size_t depth_ = 0;       // of the current element; the top element is 1
  Span* value_ = nullptr;       // the name or time being read, of the element at valueDepth_
  std::size_t valueDepth_ = 0;
};

}  // namespace sv
