#include "Comparer/source/FileStructures.h"

#include <gtest/gtest.h>

#include <memory>

#include "base/Text.h"

namespace sv {
namespace {

// A named entry made the way the scan makes it: created with its parent, then named.
TDirectory* Folder(TDirectory* parent, const std::string& name) {
  auto* d = new TDirectory(parent);
  d->SetName(name);
  return d;
}
TFile* File(TDirectory* parent, const std::string& name) {
  auto* f = new TFile(parent);
  f->SetName(name);
  return f;
}

TEST(FolderTree, NewRootAndFullPaths) {
  TDirectory root;
  EXPECT_EQ(root.Name(), "\\");
  EXPECT_EQ(root.FullPath(), "\\");
  EXPECT_EQ(root.Timestamp(), 0);
  EXPECT_EQ(root.DirectoryCount(), 0);
  EXPECT_EQ(root.FileCount(), 0);
  TDirectory* src = Folder(&root, "src");
  EXPECT_EQ(src->FullPath(), "\\src");
  EXPECT_EQ(File(src, "a.txt")->FullPath(), "\\src\\a.txt");
  EXPECT_EQ(src->Parent(), &root);

  TDirectory work;
  work.SetName("C:\\work");
  EXPECT_EQ(Folder(&work, "y")->FullPath(), "C:\\work\\y");
  work.SetName("C:\\work\\");
  EXPECT_EQ(Folder(&work, "x")->FullPath(), "C:\\work\\x");
  work.SetName("");
  EXPECT_EQ(work.DirectoryAt(1)->FullPath(), "\\x");
}

TEST(FolderTree, LookupIgnoresCaseIncludingNationalLetters) {
  TDirectory root;
  File(&root, "README.TXT");
  Folder(&root, Cp("ČAROLIJA"));
  EXPECT_TRUE(root.HasFile("readme.txt"));
  EXPECT_FALSE(root.HasDirectory("readme.txt"));
  EXPECT_TRUE(root.HasDirectory(Cp("čarolija")));
  EXPECT_FALSE(root.HasFile("readme"));
  EXPECT_FALSE(TDirectory().HasFile(""));
}

TEST(FolderTree, DuplicateTestSeesTheNameAtAddingTime) {
  TDirectory root;
  // The second unnamed entry of a kind is refused with an empty name in the message.
  auto* first = new TFile(&root);
  try {
    new TFile(&root);
    FAIL();
  } catch (const EDuplicateFileName& e) {
    EXPECT_EQ(e.Message(), Cp("Direktorij već sadrži datoteku ''"));
  }
  EXPECT_EQ(root.FileCount(), 1);
  new TDirectory(&root);  // folders are counted apart from files
  EXPECT_THROW(new TDirectory(&root), EDuplicateDirectoryName);
  // Once named, entries are never compared by their actual names: case twins coexist.
  first->SetName("a");
  root.DirectoryAt(0)->SetName("d");
  File(&root, "A");
  Folder(&root, "D");
  EXPECT_EQ(root.FileCount(), 2);
  EXPECT_EQ(root.DirectoryCount(), 2);
  // Adding a named entry does compare names.
  auto dup = std::make_unique<TDirectory>();
  dup->SetName("d");
  try {
    root.AddDirectory(dup.get());
    FAIL();
  } catch (const EDuplicateDirectoryName& e) {
    EXPECT_EQ(e.Message(), Cp("Direktorij već sadrži direktorij 'd'"));
  }
  EXPECT_EQ(dup->Parent(), nullptr);
  root.AddDirectory(nullptr);
  root.AddFile(nullptr);
  EXPECT_EQ(root.DirectoryCount(), 2);
  // Renaming an entry back to empty makes the empty name taken again.
  root.FileAt(1)->SetName("");
  EXPECT_THROW(new TFile(&root), EDuplicateFileName);
}

TEST(FolderTree, EntriesLeaveTheirParentWhenDestroyed) {
  TDirectory root;
  TDirectory* a = Folder(&root, "a");
  Folder(&root, "b");
  TFile* f = File(&root, "f");
  delete a;
  EXPECT_EQ(root.DirectoryCount(), 1);
  EXPECT_EQ(root.DirectoryAt(0)->Name(), "b");
  delete f;
  EXPECT_EQ(root.FileCount(), 0);
  // Removing only takes the entry out; the caller then owns it.
  TDirectory* b = root.DirectoryAt(0);
  root.DetachDirectory(b);
  EXPECT_EQ(root.DirectoryCount(), 0);
  b->DetachDirectory(b);  // not in the list: nothing happens
  root.AddDirectory(b);
  EXPECT_EQ(root.DirectoryAt(0), b);
}

TEST(FolderTree, IndexOutsideTheListRaises) {
  TDirectory root;
  File(&root, "x");
  EXPECT_EQ(root.FileAt(0)->Name(), "x");
  try {
    root.FileAt(1);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (1)");
  }
  try {
    root.DirectoryAt(-1);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (-1)");
  }
}

TEST(FolderTree, ClearEmptiesTheFolderButKeepsIt) {
  TDirectory root;
  root.SetName("r");
  root.SetTimestamp(5);
  TDirectory* a = Folder(&root, "a");
  Folder(Folder(a, "b"), "c");
  File(a, "f");
  File(&root, "g");
  root.Clear();
  EXPECT_EQ(root.DirectoryCount(), 0);
  EXPECT_EQ(root.FileCount(), 0);
  EXPECT_EQ(root.Name(), "r");
  EXPECT_EQ(root.Timestamp(), 5);
  // Unnamed entries were cleared with the rest, so a new one is not a duplicate.
  new TFile(&root);
  new TDirectory(&root);
  EXPECT_EQ(root.FileCount(), 1);
}

TEST(FolderTree, VeryDeepAndVeryWideTreesAreHandled) {
  auto root = std::make_unique<TDirectory>();
  TDirectory* d = root.get();
  for (int i = 0; i < 200000; ++i) d = Folder(d, "d");
  EXPECT_EQ(d->FullPath().size(), 400000u);
  TDirectory* wide = Folder(root.get(), "wide");
  for (int i = 0; i < 100000; ++i) File(wide, std::to_string(i));
  EXPECT_EQ(wide->FileCount(), 100000);
  root.reset();  // must neither overflow the stack nor take quadratic time
}

}  // namespace
}  // namespace sv
