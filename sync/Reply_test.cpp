#include "sync/Reply.h"

#include <gtest/gtest.h>

#include <deque>

#include "sync/Failure_test.h"
#include "sync/LineReader.h"

namespace sv {
namespace {

// Lines handed out one by one; running out acts like a closed connection.
std::function<std::string()> Lines(std::deque<std::string> lines) {
  auto q = std::make_shared<std::deque<std::string>>(std::move(lines));
  return [q]() {
    if (q->empty()) throw EClosedGracefully();
    std::string l = q->front();
    q->pop_front();
    return l;
  };
}

using test::MessageOf;

TEST(Reply, BlankLinesBeforeAReplyAreSkippedAndTheFirstLineTrimmed) {
  TReply r = ReadReply(Lines({"", "   ", "\t", "  200 ready  "}));
  EXPECT_EQ(r.code, "200");
  EXPECT_EQ(r.numericCode, 200);
  EXPECT_EQ(r.text, std::vector<std::string>{"ready"});

  TReply bare = ReadReply(Lines({"200"}));
  EXPECT_EQ(bare.numericCode, 200);
  EXPECT_EQ(bare.text, std::vector<std::string>{""});
}

TEST(Reply, ContinuationByFourthByteUntilALineEndsIt) {
  TReply r = ReadReply(Lines({"200-Welcome", "200-second line", "200 ready", "201 later"}));
  EXPECT_EQ(r.text, (std::vector<std::string>{"Welcome", "second line", "ready"}));

  // "2000 x" has '0' as its fourth byte: the reply goes on; continuation lines stay untrimmed.
  auto next = Lines({"2000 x", " abcd", "200 end", "never read"});
  TReply r2 = ReadReply(next);
  EXPECT_EQ(r2.code, "200");
  EXPECT_EQ(r2.text, (std::vector<std::string>{" x", "d", "end"}));
  EXPECT_EQ(next(), "never read");

  // A reply still open when the connection closes fails as the read does.
  EXPECT_EQ(MessageOf([] { ReadReply(Lines({"200-more"})); }), "Connection Closed Gracefully.");
}

TEST(Reply, AReplyThatNeverEndsIsRefusedOnceTooLong) {
  const std::string line(1000, 'x');
  const auto endless = [&line]() { return "200-" + line; };
  EXPECT_EQ(MessageOf([&] { ReadReply(endless); }), "Max line length exceeded.");
  const auto blanks = []() { return std::string(100, ' '); };
  EXPECT_EQ(MessageOf([&] { ReadReply(blanks); }), "Max line length exceeded.");
}

TEST(Reply, CodeMustBeEmptyOrFrom100To999) {
  EXPECT_EQ(MessageOf([] { ReadReply(Lines({"OK"})); }), "Reply Code is not valid: OK");
  EXPECT_EQ(MessageOf([] { ReadReply(Lines({"099 low"})); }), "Reply Code is not valid: 099");
  EXPECT_EQ(MessageOf([] { ReadReply(Lines({"20"})); }), "Reply Code is not valid: 20");
  EXPECT_EQ(MessageOf([] { ReadReply(Lines({"2a0 x"})); }), "Reply Code is not valid: 2a0");
  EXPECT_EQ(ReadReply(Lines({"999 top"})).numericCode, 999);
  EXPECT_EQ(ReadReply(Lines({"100"})).numericCode, 100);
}

TEST(Reply, WrongCodeCarriesTheTextLinesEachWithCrLf) {
  EXPECT_EQ(MessageOf([] { CheckReply(ReadReply(Lines({"220 Service ready"})), 200); }),
            "Service ready\r\n");
  EXPECT_EQ(MessageOf([] { CheckReply(ReadReply(Lines({"500"})), 202); }), "\r\n");
  EXPECT_EQ(MessageOf([] { CheckReply(ReadReply(Lines({"500-a", "500 b"})), 202); }), "a\r\nb\r\n");
  try {
    CheckReply(ReadReply(Lines({"500 No such project"})), 202);
    FAIL();
  } catch (const EReplyError& e) {
    EXPECT_EQ(e.Code(), 500);
    EXPECT_EQ(e.Message(), "No such project\r\n");
  }
  EXPECT_EQ(CheckReply(ReadReply(Lines({"203 file follows"})), 203), 203);
}

TEST(Reply, FrameLengthAcceptsLeadingBlanksAndASign) {
  EXPECT_EQ(ParseFrameLength("0", kMaxDocumentLength), 0);
  EXPECT_EQ(ParseFrameLength("  12", kMaxDocumentLength), 12);
  EXPECT_EQ(ParseFrameLength("+7", kMaxDocumentLength), 7);
  EXPECT_EQ(ParseFrameLength("-0", kMaxDocumentLength), 0);
  EXPECT_EQ(ParseFrameLength("268435456", kMaxDocumentLength), kMaxDocumentLength);
  // The unbounded form for file contents reads any 63-bit count.
  EXPECT_EQ(ParseFrameLength("9223372036854775807", INT64_MAX), INT64_MAX);
}

TEST(Reply, FrameLengthRefusesEverythingElseBeforeAnyAllocation) {
  for (const char* line : {"", " ", "12 ", "12 bytes", "-", "1 2", "\t5", "0x10", "-1",
                           "300000000", "268435457", "99999999999999999999999"}) {
    EXPECT_EQ(MessageOf([&] { ParseFrameLength(line, kMaxDocumentLength); }),
              std::string("'") + line + "' is not a valid integer value")
        << line;
  }
  EXPECT_THROW(ParseFrameLength("9223372036854775808", INT64_MAX), EConvertError);
  EXPECT_THROW(ParseFrameLength("-5", INT64_MAX), EConvertError);
}

}  // namespace
}  // namespace sv
