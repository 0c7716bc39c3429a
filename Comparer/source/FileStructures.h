#pragma once
// The folder tree model: one in-memory snapshot of a folder hierarchy, every folder and
// file with its own name (no path) and last modification time (local date-time).
//
// Ownership: a folder owns the entries in its two lists and destroys them itself. Every
// entry created with a parent is appended to that parent's list, and every entry removes
// itself from its parent's list when it is destroyed, so an entry may also be deleted on
// its own. Entries are created with `new` and given to a parent; a parentless folder is
// owned by whoever created it. A tree belongs to one thread at a time.
#include <string>
#include <string_view>
#include <vector>

#include "base/DateTime.h"
#include "base/Exception.h"

namespace sv {

class TDirectory;

// "Direktorij već sadrži direktorij '%s'" / "Direktorij već sadrži datoteku '%s'".
class EDuplicateDirectoryName : public Exception {
 public:
  using Exception::Exception;
};
class EDuplicateFileName : public Exception {
 public:
  using Exception::Exception;
};

// The common part of a folder and a file. Never created on its own.
class TBaseFile {
 public:
  TBaseFile(const TBaseFile&) = delete;
  TBaseFile& operator=(const TBaseFile&) = delete;
  virtual ~TBaseFile() = default;

  TDateTime Timestamp() const { return timestamp_; }
  const std::string& Name() const { return name_; }
  TDirectory* Parent() const { return parent_; }

  void SetTimestamp(TDateTime value) { timestamp_ = value; }
  // Assigns the name exactly (no trimming).
  void SetName(std::string name);

  // The parent's full path, a '\' unless that already ends with one, and the own name;
  // the own name alone without a parent. Below a root named '\' this gives "\src\a.txt".
  virtual std::string FullPath() const;

 protected:
  explicit TBaseFile(bool isFolder) : isFolder_(isFolder) {}

 private:
  friend class TDirectory;

  TDateTime timestamp_ = 0;
  std::string name_;
  TDirectory* parent_ = nullptr;  // the folder whose list holds this entry; not owned
  const bool isFolder_;
};

class TFile : public TBaseFile {
 public:
  // An unnamed file; with a parent it is added to the parent's files at once, so the
  // duplicate test sees the empty name (a second unnamed file raises EDuplicateFileName).
  explicit TFile(TDirectory* parent = nullptr);
  // Removes the file from its parent's list.
  ~TFile() override;
};

class TDirectory : public TBaseFile {
 public:
  // Without a parent the folder is named "\"; with one it is added to the parent's
  // sub-folders while still unnamed (see TFile).
  explicit TDirectory(TDirectory* parent = nullptr);
  // Removes the folder from its parent's list, then destroys its files and its
  // sub-folders with their subtrees (iteratively: any depth is safe).
  ~TDirectory() override;

  // Appends the entry and makes this folder its parent; nullptr does nothing. Raises
  // EDuplicateDirectoryName / EDuplicateFileName when the entry's current name is taken
  // (compared without regard to case); the entry is then not added.
  void AddDirectory(TDirectory* directory);
  void AddFile(TFile* file);
  // Whether some sub-folder / file has this name, compared without regard to case.
  bool HasDirectory(std::string_view name) const;
  bool HasFile(std::string_view name) const;
  // Take the entry's first occurrence out of the list without destroying it.
  void DetachDirectory(TDirectory* directory);
  void DetachFile(TFile* file);

  int DirectoryCount() const { return static_cast<int>(directories_.size()); }
  int FileCount() const { return static_cast<int>(files_.size()); }
  // The entry at a zero-based index; raises EListError outside 0..count-1.
  TDirectory* DirectoryAt(int index) const;
  TFile* FileAt(int index) const;

  // Destroy every sub-folder (with its subtree) / every file.
  void ClearDirectories();
  void ClearFiles();
  // ClearDirectories, then ClearFiles; name, timestamp and parent stay.
  void Clear();

 private:
  friend class TBaseFile;

  // Keeps the count of unnamed entries right when an entry's name changes, so that the
  // duplicate test of a new (still unnamed) entry does not walk the whole list.
  void NoteRename(const TBaseFile& entry, bool wasEmpty, bool isEmpty);
  int& UnnamedCount(const TBaseFile& entry) { return entry.isFolder_ ? unnamedDirectories_ : unnamedFiles_; }

  std::vector<TDirectory*> directories_;  // owned
  std::vector<TFile*> files_;             // owned
  int unnamedDirectories_ = 0;
  int unnamedFiles_ = 0;
};

}  // namespace sv
