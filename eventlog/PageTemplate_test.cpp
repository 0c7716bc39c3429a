#include "eventlog/PageTemplate.h"

#include <gtest/gtest.h>

#include "base/Text.h"

namespace sv {
namespace {

TEST(PageTemplate, FillsEveryOccurrenceWithoutRegardToCaseAndFirstOnlyExactly) {
  Placeholders values = {Placeholder::Everywhere("{%PORT%}", "1974"),
                         Placeholder::FirstExact("{%NEXT%}", "2")};
  EXPECT_EQ(FillPlaceholders("{%port%}-{%PORT%}-{%Port%}", values), "1974-1974-1974");
  EXPECT_EQ(FillPlaceholders("{%next%} {%NEXT%} {%NEXT%}", values), "{%next%} 2 {%NEXT%}");
  // National letters fold as everywhere else.
  EXPECT_EQ(FillPlaceholders(Cp("{%ČAS%}"), {Placeholder::Everywhere(Cp("{%čas%}"), "x")}), "x");
}

TEST(PageTemplate, InsertedValuesAreNeverFilledAgain) {
  Placeholders values = {Placeholder::Everywhere("{%SERVER%}", "{%POLLINTERVAL%}"),
                         Placeholder::Everywhere("{%POLLINTERVAL%}", "10")};
  EXPECT_EQ(FillPlaceholders("{%SERVER%} {%POLLINTERVAL%}", values), "{%POLLINTERVAL%} 10");
  // A value that forms a placeholder with the text after it is not filled either.
  EXPECT_EQ(FillPlaceholders("{%A%}PORT%}", {Placeholder::Everywhere("{%A%}", "{%"),
                                             Placeholder::Everywhere("{%PORT%}", "1")}),
            "{%PORT%}");
}

TEST(PageTemplate, FirstOnlyHoldsAcrossPiecesAndUnknownOrBrokenMarksStay) {
  Placeholders values = {Placeholder::FirstExact("{%X%}", "1")};
  std::string out;
  FillPlaceholders("a{%Y%}{%", values, out);
  FillPlaceholders("{%X%}b", values, out);
  FillPlaceholders("{%X%}", values, out);
  EXPECT_EQ(out, "a{%Y%}{%1b{%X%}");
  EXPECT_EQ(FillPlaceholders("{%X%", {Placeholder::Everywhere("{%X%}", "1")}), "{%X%");
}

TEST(PageTemplate, EscapesForHtmlAndForLinks) {
  EXPECT_EQ(HtmlEscape("<a href=\"x\">O'R & Č</a>"),
            "&lt;a href=&quot;x&quot;&gt;O&#39;R &amp; Č&lt;/a&gt;");
  EXPECT_EQ(PercentEncode("a b&c=d+e%/~_.-Z9"), "a%20b%26c%3Dd%2Be%25%2F~_.-Z9");
  EXPECT_EQ(PercentEncode(Cp("č")), "%E8");
}

}  // namespace
}  // namespace sv
