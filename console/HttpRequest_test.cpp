#include "console/HttpRequest.h"

#include <gtest/gtest.h>

#include "base/Text.h"

namespace sv {
namespace {

using Lines = std::vector<std::string>;

TEST(HttpRequest, MethodsMatchWithoutRegardToCaseAndUnknownIsZero) {
  EXPECT_EQ(ParseCommandType("get"), CommandType::kGet);
  EXPECT_EQ(ParseCommandType("PoSt"), CommandType::kPost);
  EXPECT_EQ(static_cast<int>(ParseCommandType("POST")), 3);
  EXPECT_EQ(static_cast<int>(ParseCommandType("OPTIONS")), 7);
  EXPECT_EQ(ParseCommandType("PATCH"), CommandType::kUnknown);
  EXPECT_EQ(ParseCommandType(""), CommandType::kUnknown);
}

TEST(HttpRequest, PercentDecodingKeepsPlusAndDropsBadEscapesWithTwoBytes) {
  EXPECT_EQ(PercentDecode("a%20b+c%2b%2F"), "a b+c+/");
  EXPECT_EQ(PercentDecode("x%zzy"), "xy");
  EXPECT_EQ(PercentDecode("x%4gy"), "xy");
  EXPECT_EQ(PercentDecode("x%4"), "x");
  EXPECT_EQ(PercentDecode("x%"), "x");
  EXPECT_EQ(PercentDecode("%E8%00"), std::string("\xE8\0", 2));
}

TEST(HttpRequest, DocumentTakesBackslashesAsSlashesBeforeDecoding) {
  EXPECT_EQ(DecodeDocument("\\postavke%2Ehtml"), "/postavke.html");
  EXPECT_EQ(DecodeDocument("/a%5Cb+c"), "/a\\b+c");
}

TEST(HttpRequest, ParametersSplitAtAmpersandsThenDecode) {
  EXPECT_EQ(DecodeParams(""), Lines{});
  EXPECT_EQ(DecodeParams("a=1+2&b=%26%3D&&c"), (Lines{"a=1 2", "b=&=", "", "c"}));
  EXPECT_EQ(DecodeParams("f=%2B+x%zz"), (Lines{"f=+ x"}));
}

TEST(HttpRequest, FormBodyComesBeforeQueryOnlyForThePlainFormType) {
  const std::string form = "application/x-www-form-urlencoded";
  EXPECT_EQ(ParamSource(form, "a=1", "b=2"), "a=1&b=2");
  EXPECT_EQ(ParamSource("APPLICATION/X-WWW-FORM-URLENCODED", "a=1", ""), "a=1");
  EXPECT_EQ(ParamSource(form, "", "b=2"), "b=2");
  EXPECT_EQ(ParamSource(form + "; charset=UTF-8", "a=1", "b=2"), "b=2");
  EXPECT_EQ(ParamSource("text/plain", "a=1", ""), "");
}

TEST(HttpRequest, LookupTakesTheFirstNameWithoutRegardToCase) {
  ConsoleRequest r;
  r.target = "/x?AKCIJA=query&page=2";
  r.contentType = "application/x-www-form-urlencoded";
  r.body = "akcija=%20Postavi%20&x&=empty&port=";
  DecodeTarget(r);
  EXPECT_EQ(r.document, "/x");
  EXPECT_EQ(r.query, "AKCIJA=query&page=2");
  EXPECT_EQ(r.Param("Akcija"), " Postavi ");  // the form's field wins
  EXPECT_EQ(r.Param("page"), "2");
  EXPECT_EQ(r.Param("port"), "");
  EXPECT_EQ(r.Param("x"), "");        // a line without '=' has no name
  EXPECT_EQ(r.Param(""), "empty");
  EXPECT_EQ(r.Param("missing"), "");
  EXPECT_EQ(ConsoleRequest::ParamValue({Cp("ČAS=1")}, Cp("čas")), "1");
}

}  // namespace
}  // namespace sv
