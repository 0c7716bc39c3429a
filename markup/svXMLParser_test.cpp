#include "markup/svXMLParser.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "tests/support/FailingNew.h"

namespace sv {
namespace {

const std::string kFolderAndFile =
    "<xml>\r\n"
    "<directory>\r\n"
    "<name>a&lt;b</name>\r\n"
    "<datemodified>2008-11-14 13-05-08</datemodified>\r\n"
    "</directory>\r\n"
    "<file>\r\n"
    "<name>x.txt</name>\r\n"
    "</file>\r\n"
    "</xml>";

TsvXMLNode* AddNode(TsvXMLNode* parent, const std::string& name, const std::string& value = "") {
  auto* node = new TsvXMLNode(parent);
  node->SetName(name);
  node->SetValue(value);
  return node;
}

std::unique_ptr<TsvXMLNode> Parsed(const std::string& text) {
  auto root = std::make_unique<TsvXMLNode>();
  root->Parse(text);
  return root;
}

// The message of the Exception that parsing raises; empty when none is raised.
std::string ParseFault(TsvXMLNode& root, const std::string& text) {
  try {
    root.Parse(text);
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

std::string ParseFault(const std::string& text) {
  TsvXMLNode root;
  return ParseFault(root, text);
}

TEST(Markup, AFolderWithItsTimeAndAFileAreWrittenLineForLine) {
  TsvXMLNode root;
  root.SetName("xml");
  TsvXMLNode* dir = AddNode(&root, "directory");
  AddNode(dir, "name", "a<b");
  AddNode(dir, "datemodified", "2008-11-14 13-05-08");
  AddNode(AddNode(&root, "file"), "name", "x.txt");
  EXPECT_EQ(root.AsText(), kFolderAndFile);
}

TEST(Markup, AFolderWithItsTimeAndAFileParseToTheSameTree) {
  auto root = Parsed(kFolderAndFile);
  EXPECT_EQ(root->Name(), "xml");
  EXPECT_EQ(root->Value(), "");
  ASSERT_EQ(root->ChildCount(), 2);
  TsvXMLNode* dir = root->Child(0);
  EXPECT_EQ(dir->Name(), "directory");
  EXPECT_EQ(dir->Value(), "");
  EXPECT_EQ(dir->Parent(), root.get());
  ASSERT_EQ(dir->ChildCount(), 2);
  EXPECT_EQ(dir->Child(0)->Value(), "a<b");
  EXPECT_EQ(dir->Child(1)->Name(), "datemodified");
  EXPECT_EQ(dir->Child(1)->Value(), "2008-11-14 13-05-08");
  TsvXMLNode* file = root->Child(1);
  EXPECT_EQ(file->Value(), "");
  ASSERT_EQ(file->ChildCount(), 1);
  EXPECT_EQ(file->Child(0)->Value(), "x.txt");
  EXPECT_EQ(root->AsText(), kFolderAndFile);
}

TEST(Markup, LeafWithEmptyValueIsWrittenWithBothTags) {
  TsvXMLNode root;
  root.SetName("r");
  EXPECT_EQ(root.AsText(), "<r></r>");
  AddNode(&root, "e");
  root.SetValue(" v&'\" ");
  EXPECT_EQ(root.AsText(), "<r>v&amp;&apos;&quot;\r\n<e></e>\r\n</r>");
}

TEST(Markup, NamesAreWrittenAsStoredAndNationalBytesPassThrough) {
  TsvXMLNode root;
  root.SetName("a<b");
  root.SetValue(Cp("čćžšđ \x01x"));
  EXPECT_EQ(root.AsText(), "<a<b>" + Cp("čćžšđ \x01x") + "</a<b>");
}

TEST(Markup, SyntaxFaultsCarryExactMessages) {
  EXPECT_EQ(ParseFault("<a<b>"), Cp("Početak taga u tagu"));
  EXPECT_EQ(ParseFault("<a><b></a>"), Cp("Tag b završava na tag /a"));
  EXPECT_EQ(ParseFault("<a>1</A>"), Cp("Tag a završava na tag /A"));
  EXPECT_EQ(ParseFault("</a>"), Cp("Završni tag /a bez početnog taga"));
  EXPECT_EQ(ParseFault("<r></r></r>"), Cp("Završni tag /r bez početnog taga"));
  EXPECT_EQ(ParseFault(kFolderAndFile + "\r\n</xml>"), Format(msg::kClosingWithoutOpening, "/xml"));
}

TEST(Markup, FaultKeepsWhatWasBuiltSoFar) {
  TsvXMLNode root;
  EXPECT_EQ(ParseFault(root, "<r><a>1</a><b>2<c</b></r>"), msg::kTagInTag);
  EXPECT_EQ(root.Name(), "r");
  ASSERT_EQ(root.ChildCount(), 2);
  EXPECT_EQ(root.Child(1)->Value(), "2");

  // A stray closing tag changes nothing of the closed document.
  TsvXMLNode closed;
  EXPECT_NE(ParseFault(closed, "<r><a>1</a></r>tail</r><x>"), "");
  EXPECT_EQ(closed.Name(), "r");
  ASSERT_EQ(closed.ChildCount(), 1);
  EXPECT_EQ(closed.AsText(), "<r>\r\n<a>1</a>\r\n</r>");
}

TEST(Markup, ParseReplacesChildrenButKeepsNameAndValue) {
  TsvXMLNode root;
  root.SetName("old");
  root.SetValue("v");
  AddNode(&root, "gone");
  root.Parse("");
  EXPECT_EQ(root.ChildCount(), 0);
  EXPECT_EQ(root.Name(), "old");
  EXPECT_EQ(root.Value(), "v");
  root.Parse("text only, no tags <>");
  EXPECT_EQ(root.Name(), "old");
  EXPECT_EQ(root.ChildCount(), 0);
}

TEST(Markup, EmptyElementTags) {
  auto whole = Parsed("<r/>");
  EXPECT_EQ(whole->Name(), "r");
  EXPECT_EQ(whole->ChildCount(), 0);
  EXPECT_EQ(whole->AsText(), Parsed("<r></r>")->AsText());

  // The root of an empty-element tag stays open; `<a />` keeps its blank; `</a/>` is an
  // empty element named "/a" because the trailing slash is tested first.
  auto root = Parsed("<r/><a /></a/><b>1</b>");
  ASSERT_EQ(root->ChildCount(), 3);
  EXPECT_EQ(root->Child(0)->Name(), "a ");
  EXPECT_EQ(root->IndexOfChild("a", 0), -1);
  EXPECT_EQ(root->Child(1)->Name(), "/a");
  EXPECT_EQ(root->Child(2)->Value(), "1");
}

TEST(Markup, TagTextIsTakenWhole) {
  auto root = Parsed("<?xml version=\"1.0\"?>\r\n<a x=\"1\"> &lt; </a x=\"1\">");
  EXPECT_EQ(root->Name(), "?xml version=\"1.0\"?");
  ASSERT_EQ(root->ChildCount(), 1);
  EXPECT_EQ(root->Child(0)->Name(), "a x=\"1\"");
  EXPECT_EQ(root->Child(0)->Value(), "<");
  EXPECT_EQ(Parsed("<r><>x</r>")->Value(), "x");
}

TEST(Markup, ValuesAreUnescapedJoinedAndTrimmed) {
  EXPECT_EQ(Parsed("<r> x &amp; y </r>")->Value(), "x & y");
  EXPECT_EQ(Parsed("<r>a > b</r>")->Value(), "a > b");
  EXPECT_EQ(Parsed("<r>\t\r\n</r>")->Value(), "");

  auto joined = Parsed("<a> x <b>1</b> y <c/>  z\t</a>");
  EXPECT_EQ(joined->Value(), "x y  z");
  EXPECT_EQ(joined->Child(0)->Value(), "1");

  // Each piece is unescaped on its own: a reference is never formed across pieces.
  EXPECT_EQ(Parsed("<a>&am<b/>p;</a>")->Value(), "&amp;");

  TsvXMLNode node;
  node.SetValue(" a ");
  EXPECT_EQ(node.Value(), "a");
  node.SetValue(std::string("\0\x1F \x7F\0", 5));
  EXPECT_EQ(node.Value(), "\x7F");
}

TEST(Markup, TextOutsideTheRootIsDroppedAndALaterTagReopensTheRoot) {
  auto root = Parsed("lead <r><a>1</a></r> tail <s>v<b>2</b></s>");
  EXPECT_EQ(root->Name(), "s");
  EXPECT_EQ(root->Value(), "v");
  ASSERT_EQ(root->ChildCount(), 2);
  EXPECT_EQ(root->Child(0)->Name(), "a");
  EXPECT_EQ(root->Child(1)->Name(), "b");
  // Unclosed elements are not reported; text left at the end is dropped.
  auto open = Parsed("<r><a>1<b>2");
  EXPECT_EQ(open->Child(0)->Value(), "1");
  EXPECT_EQ(open->Child(0)->Child(0)->Value(), "");
}

TEST(Markup, ParsingIntoAChildNeverReachesItsParent) {
  TsvXMLNode outer;
  outer.SetName("outer");
  TsvXMLNode* inner = AddNode(&outer, "inner");
  inner->Parse("<r></r><s><t/></s>");
  EXPECT_EQ(outer.ChildCount(), 1);
  EXPECT_EQ(inner->Name(), "s");
  EXPECT_EQ(inner->ChildCount(), 1);
  EXPECT_EQ(ParseFault(*inner, "<r></r></outer>"), Cp("Završni tag /outer bez početnog taga"));
}

TEST(Markup, EscapeTables) {
  EXPECT_EQ(TsvXMLNode::EscapeText("a<b>&'\""), "a&lt;b&gt;&amp;&apos;&quot;");
  EXPECT_EQ(TsvXMLNode::UnescapeText("a&lt;b&gt;&amp;&apos;&quot;"), "a<b>&'\"");
  EXPECT_EQ(TsvXMLNode::EscapeText(Cp("\x01ž")), Cp("\x01ž"));
  EXPECT_EQ(TsvXMLNode::UnescapeText("&AMP;&Lt;&qUOT;"), "&<\"");
  EXPECT_EQ(TsvXMLNode::UnescapeText("&amp;lt;"), "&lt;");
  EXPECT_EQ(TsvXMLNode::UnescapeText("& x;"), "& x;");
  EXPECT_EQ(TsvXMLNode::UnescapeText("&#60;&nbsp;&"), "&#60;&nbsp;&");
  EXPECT_EQ(TsvXMLNode::UnescapeText("&&lt;&;&x&gt"), "&<&;&x&gt");
  EXPECT_EQ(TsvXMLNode::UnescapeText("&&&;&lt;"), "&&&;<");
}

TEST(Markup, ChildLookup) {
  TsvXMLNode root;
  AddNode(&root, "Project", "1");
  AddNode(&root, "other");
  AddNode(&root, Cp("PROJEKT Č"), "2");
  AddNode(&root, "project", "3");
  AddNode(&root, "");

  EXPECT_EQ(root.IndexOfChild("PROJECT", -5), 0);
  EXPECT_EQ(root.IndexOfChild("project", 1), 3);
  EXPECT_EQ(root.IndexOfChild("project", 4), -1);
  EXPECT_EQ(root.IndexOfChild("project", 5), -1);
  EXPECT_EQ(root.IndexOfChild(Cp("projekt č"), 0), 2);
  EXPECT_EQ(root.IndexOfChild("", 0), 4);
  EXPECT_EQ(root.IndexOfChild("projec", 0), -1);

  EXPECT_EQ(root.Child(-1), nullptr);
  EXPECT_EQ(root.Child(5), nullptr);
  EXPECT_EQ(TsvXMLNode().Child(0), nullptr);

  EXPECT_EQ(root.FindOrAddChild("OTHER", false), root.Child(1));
  EXPECT_EQ(root.FindOrAddChild("missing", false), nullptr);
  EXPECT_EQ(root.ChildCount(), 5);
  TsvXMLNode* added = root.FindOrAddChild("Missing", true);
  EXPECT_EQ(root.ChildCount(), 6);
  EXPECT_EQ(root.Child(5), added);
  EXPECT_EQ(added->Name(), "Missing");
  EXPECT_EQ(added->Parent(), &root);
  EXPECT_EQ(root.FindOrAddChild("missing", true), added);
}

TEST(Markup, DestroyingANodeDetachesItAndItsSubtree) {
  TsvXMLNode root;
  TsvXMLNode* a = AddNode(&root, "a");
  AddNode(AddNode(a, "a1"), "a11");
  TsvXMLNode* b = AddNode(&root, "b");
  TsvXMLNode* c = AddNode(&root, "c");
  delete b;
  ASSERT_EQ(root.ChildCount(), 2);
  EXPECT_EQ(root.Child(0), a);
  EXPECT_EQ(root.Child(1), c);
  delete a;
  delete c;
  EXPECT_EQ(root.ChildCount(), 0);
  EXPECT_EQ(root.AsText(), "<></>");
  AddNode(AddNode(&root, "x"), "y");
  root.Clear();
  EXPECT_EQ(root.ChildCount(), 0);
}

// A network peer can send any depth: parse, write and destroy must not use the call
// stack in proportion to it.
TEST(Markup, DeepNestingDoesNotExhaustTheStack) {
  constexpr int kDepth = 1000000;
  std::string text;
  text.reserve(kDepth * 7);
  for (int i = 0; i < kDepth; ++i) text += "<a>";
  text += "v";
  for (int i = 0; i < kDepth; ++i) text += "</a>";

  auto root = Parsed(text);
  const TsvXMLNode* node = root.get();
  int depth = 1;
  while (node->ChildCount() == 1) {
    node = node->Child(0);
    ++depth;
  }
  EXPECT_EQ(depth, kDepth);
  EXPECT_EQ(node->Value(), "v");

  std::string expected = "<a>";
  for (int i = 1; i < kDepth; ++i) expected += "\r\n<a>";
  expected += "v</a>";
  for (int i = 1; i < kDepth; ++i) expected += "\r\n</a>";
  EXPECT_TRUE(root->AsText() == expected);  // a failure would print megabytes
  root->Clear();
  EXPECT_EQ(root->ChildCount(), 0);
  root->Parse(text);  // destroyed with the node at the end of the test
}

// Every child knows its parent and no value keeps a blank at either end; Clear then
// walks the whole tree (a node left with an empty child list would stop it).
void ExpectSound(TsvXMLNode& root) {
  std::vector<const TsvXMLNode*> pending{&root};
  while (!pending.empty()) {
    const TsvXMLNode* node = pending.back();
    pending.pop_back();
    const std::string& v = node->Value();
    EXPECT_TRUE(v.empty() || (static_cast<unsigned char>(v.front()) > 0x20 && static_cast<unsigned char>(v.back()) > 0x20));
    for (int i = 0; i < node->ChildCount(); ++i) {
      EXPECT_EQ(node->Child(i)->Parent(), node);
      pending.push_back(node->Child(i));
    }
  }
  root.Clear();
  EXPECT_EQ(root.ChildCount(), 0);
}

// Out of memory at any allocation of a parse, a lookup or a write: the operation raises
// std::bad_alloc and the tree stays sound.
TEST(Markup, RunningOutOfMemoryAnywhereLeavesASoundTree) {
  const std::string text = kFolderAndFile + "<more> x &amp; <a/><b>1<c>2</c></b> y </more>";
  for (long n = 1;; ++n) {
    TsvXMLNode root;
    bool failed = false;
    {
      test::FailAllocation fail(n);
      try {
        root.Parse(text);
        root.FindOrAddChild("added", true)->SetValue(" v ");
        (void)root.AsText();
      } catch (const std::bad_alloc&) {
      }
      failed = fail.Failed();
    }
    ExpectSound(root);
    if (!failed) break;  // the whole run made fewer than n allocations
  }
}

}  // namespace
}  // namespace sv
