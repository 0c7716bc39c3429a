#include "markup/svXMLReader.h"

#include <gtest/gtest.h>

#include <string>

#include "base/Exception.h"

namespace sv {
namespace {

// Writes what the reader reports: [name or [^name for the top element, ] for an end,
// and raw text in quotes.
class Transcript : public TsvXMLHandler {
 public:
  void StartElement(std::string_view name, bool top) override { out += (top ? "[^" : "[") + std::string(name); }
  void EndElement() override { out += "]"; }
  void Text(std::string_view raw) override { out += "'" + std::string(raw) + "'"; }
  std::string out;
};

TEST(MarkupReader, ReportsElementsAndRawTextAsTheTreeWouldHoldThem) {
  const struct {
    const char* document;
    const char* events;
  } cases[] = {
      {"lead <r> a &amp; <b/> c </r> tail", "[^r' a &amp; '[b]' c ']"},
      {"<r/><a>x</a>", "[^r[a'x']"},  // the top element of an empty-element tag stays open
      {"<r></r> t <s>v<>w</s>", "[^r][^s'v''w']"},  // the top element again; "<>" cuts text
      {"<r><a x=\"1\">></a x=\"1\">", "[^r[a x=\"1\"'>']"},
      {"<r>a", "[^r"},  // text after the last tag is dropped, and so is an unfinished tag
      {"<r><a", "[^r"},
  };
  for (const auto& c : cases) {
    Transcript t;
    ReadMarkup(c.document, t);
    EXPECT_EQ(t.out, c.events) << c.document;
  }
}

TEST(MarkupReader, ValueTextIsReplacedPieceByPieceAndTrimmedAsAWhole) {
  const struct {
    std::string value;
    std::size_t start;
    const char* raw;
    const char* result;
  } cases[] = {
      {"", 0, " \t x &lt; y \r\n", "x < y"},
      {"x", 0, "  y  ", "x  y"},
      {"", 0, " \r\n ", ""},
      {"kept|", 5, "  &am", "kept|&am"},  // a value held after other text
      {"kept|", 5, " ", "kept|"},
  };
  for (const auto& c : cases) {
    std::string value = c.value;
    AppendValueText(value, c.start, c.raw);
    EXPECT_EQ(value, c.result) << c.raw;
  }
}

}  // namespace
}  // namespace sv
