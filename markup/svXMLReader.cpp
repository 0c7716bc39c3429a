#include "markup/svXMLReader.h"

#include <algorithm>
#include <deque>

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"

namespace sv {
namespace {

// The five special bytes and their entity references, index for index.
constexpr char kSpecialBytes[5] = {'<', '>', '&', '\'', '"'};
constexpr std::string_view kEntities[5] = {"&lt;", "&gt;", "&amp;", "&apos;", "&quot;"};

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

// Index of the special byte, -1 for any other. The five bytes are no letters, so the
// case-insensitive comparison of the tables reduces to equality here.
int SpecialIndex(char c) {
  for (int i = 0; i < 5; ++i)
    if (kSpecialBytes[i] == c) return i;
  return -1;
}

// Index of the entity reference that `candidate` names, without regard to case; -1 if none.
int EntityIndex(std::string_view candidate) {
  for (int i = 0; i < 5; ++i)
    if (SameText(kEntities[i], candidate)) return i;
  return -1;
}

// The name of an open element from the position of its tag text: up to the tag's '>',
// without the '/' of an empty-element tag (an opening tag never ends in '/').
std::string_view OpenName(std::string_view text, std::size_t position) {
  std::string_view tag = text.substr(position, text.find('>', position) - position);
  if (!tag.empty() && tag.back() == '/') tag.remove_suffix(1);
  return tag;
}

// Applies one complete tag text, text[begin, end), to the open elements.
void ApplyTag(std::string_view text, std::size_t begin, std::size_t end, std::deque<std::size_t>& open,
              TsvXMLHandler& handler) {
  const std::string_view tag = text.substr(begin, end - begin);
  if (tag.back() == '/') {  // empty-element tag
    handler.StartElement(tag.substr(0, tag.size() - 1), open.empty());
    if (open.empty())
      open.push_back(begin);  // the top element stays open
    else
      handler.EndElement();
  } else if (tag.front() == '/') {  // closing tag
    if (open.empty()) throw Exception(Format(msg::kClosingWithoutOpening, tag));
    const std::string_view name = OpenName(text, open.back());
    if (tag.substr(1) != name) throw Exception(Format(msg::kTagMismatch, name, tag));
    open.pop_back();
    handler.EndElement();
  } else {  // opening tag
    handler.StartElement(tag, open.empty());
    open.push_back(begin);
  }
}

}  // namespace

void ReadMarkup(std::string_view text, TsvXMLHandler& handler) {
  // Where the open elements' tag texts begin, innermost last. Their names are read back
  // from the document, so an element costs one word whatever its name; a deque grows
  // without copying what it holds.
  std::deque<std::size_t> open;
  std::size_t start = 0;
  for (;;) {
    // Outside a tag everything up to the next '<' is text, a '>' included.
    const std::size_t lt = text.find('<', start);
    if (lt == std::string_view::npos) return;  // trailing text is dropped
    if (lt > start && !open.empty()) handler.Text(text.substr(start, lt - start));
    const std::size_t end = text.find_first_of("<>", lt + 1);
    if (end == std::string_view::npos) return;  // so is an unfinished tag
    if (text[end] == '<') throw Exception(msg::kTagInTag);
    if (end > lt + 1) ApplyTag(text, lt + 1, end, open, handler);  // "<>" is ignored
    start = end + 1;
  }
}

void AppendValueText(std::string& value, std::size_t start, std::string_view raw) {
  // A reference begins with '&', so the leading blanks of the raw text are those of the
  // replaced text.
  if (value.size() == start)
    while (!raw.empty() && IsBlank(raw.front())) raw.remove_prefix(1);
  // Replacing references never lengthens text: with room made first, the appending
  // below cannot fail half-way, and a failure leaves the value as it was.
  const std::size_t needed = value.size() + raw.size();
  if (needed > value.capacity()) value.reserve(std::max(needed, 2 * value.capacity()));
  AppendUnescaped(value, raw);
  while (value.size() > start && IsBlank(value.back())) value.pop_back();
}

void AppendEscaped(std::string& out, std::string_view text) {
  for (char c : text) {
    const int i = SpecialIndex(c);
    if (i < 0)
      out += c;
    else
      out += kEntities[i];
  }
}

void AppendUnescaped(std::string& out, std::string_view text) {
  // The first ';' at or after the current '&'. Kept between references so that text
  // with many '&' and no ';' is read in one pass, not once per '&'.
  std::size_t semi = 0;
  bool semiKnown = false;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t amp = std::min(text.find('&', i), text.size());
    out.append(text.substr(i, amp - i));
    i = amp;
    if (i == text.size()) break;
    if (!semiKnown || (semi != std::string_view::npos && semi < i)) {
      semi = text.find(';', i);
      semiKnown = true;
    }
    const int entity =
        semi == std::string_view::npos ? -1 : EntityIndex(text.substr(i, semi - i + 1));
    if (entity < 0) {
      out += '&';
      ++i;
    } else {
      out += kSpecialBytes[entity];
      i = semi + 1;
    }
  }
}

}  // namespace sv
