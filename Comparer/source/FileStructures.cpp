#include "Comparer/source/FileStructures.h"

#include <algorithm>

#include "base/Messages.h"
#include "base/Text.h"

namespace sv {
namespace {

template <typename T>
bool HasName(const std::vector<T*>& list, std::string_view name) {
  return std::any_of(list.begin(), list.end(), [&](const T* e) { return SameText(e->Name(), name); });
}

// Takes the first occurrence out; true when there was one.
template <typename T>
bool TakeOut(std::vector<T*>& list, T* entry) {
  auto it = std::find(list.begin(), list.end(), entry);
  if (it == list.end()) return false;
  list.erase(it);
  return true;
}

template <typename T>
T* At(const std::vector<T*>& list, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= list.size()) throw EListError(index);
  return list[static_cast<std::size_t>(index)];
}

}  // namespace

void TBaseFile::SetName(std::string name) {
  const bool wasEmpty = name_.empty();
  name_ = std::move(name);
  if (parent_) parent_->NoteRename(*this, wasEmpty, name_.empty());
}

// Built from the topmost ancestor down without recursion, so any depth is safe.
std::string TBaseFile::FullPath() const {
  std::vector<const TBaseFile*> chain;
  for (const TBaseFile* e = this; e; e = e->parent_) chain.push_back(e);
  std::string path = chain.back()->name_;
  for (std::size_t i = chain.size() - 1; i-- > 0;) {
    if (path.empty() || path.back() != '\\') path += '\\';
    path += chain[i]->name_;
  }
  return path;
}

TFile::TFile(TDirectory* parent) : TBaseFile(false) {
  if (parent) parent->AddFile(this);
}

TFile::~TFile() {
  if (Parent()) Parent()->DetachFile(this);
}

TDirectory::TDirectory(TDirectory* parent) : TBaseFile(true) {
  if (parent)
    parent->AddDirectory(this);
  else
    SetName("\\");
}

TDirectory::~TDirectory() {
  if (Parent()) Parent()->DetachDirectory(this);
  ClearFiles();
  ClearDirectories();
}

void TDirectory::AddDirectory(TDirectory* directory) {
  if (!directory) return;
  if (HasDirectory(directory->Name())) throw EDuplicateDirectoryName(Format(msg::kDuplicateDirectory, directory->Name()));
  directories_.push_back(directory);
  directory->parent_ = this;
  if (directory->Name().empty()) ++unnamedDirectories_;
}

void TDirectory::AddFile(TFile* file) {
  if (!file) return;
  if (HasFile(file->Name())) throw EDuplicateFileName(Format(msg::kDuplicateFile, file->Name()));
  files_.push_back(file);
  file->parent_ = this;
  if (file->Name().empty()) ++unnamedFiles_;
}

// Only an empty name equals the empty name, so that question is answered by the count.
bool TDirectory::HasDirectory(std::string_view name) const {
  return name.empty() ? unnamedDirectories_ > 0 : HasName(directories_, name);
}

bool TDirectory::HasFile(std::string_view name) const {
  return name.empty() ? unnamedFiles_ > 0 : HasName(files_, name);
}

// The entry's parent field is left as it is: the entry is only out of the list.
void TDirectory::DetachDirectory(TDirectory* directory) {
  if (directory && TakeOut(directories_, directory) && directory->Name().empty()) --unnamedDirectories_;
}

void TDirectory::DetachFile(TFile* file) {
  if (file && TakeOut(files_, file) && file->Name().empty()) --unnamedFiles_;
}

TDirectory* TDirectory::DirectoryAt(int index) const { return At(directories_, index); }
TFile* TDirectory::FileAt(int index) const { return At(files_, index); }

void TDirectory::NoteRename(const TBaseFile& entry, bool wasEmpty, bool isEmpty) {
  if (wasEmpty != isEmpty) UnnamedCount(entry) += isEmpty ? 1 : -1;
}

// The entries are detached from this folder first, so that none of them searches the
// list while it goes: clearing a large folder stays linear.
void TDirectory::ClearFiles() {
  std::vector<TFile*> files;
  files.swap(files_);
  unnamedFiles_ = 0;
  for (TFile* file : files) {
    file->parent_ = nullptr;
    delete file;
  }
}

// A folder to be destroyed first hands its own sub-folders over to the pending list, so
// deleting it never recurses and the depth of the tree does not reach the stack.
void TDirectory::ClearDirectories() {
  std::vector<TDirectory*> pending;
  pending.swap(directories_);
  unnamedDirectories_ = 0;
  for (std::size_t i = 0; i < pending.size(); ++i) {
    TDirectory* directory = pending[i];
    directory->parent_ = nullptr;
    directory->ClearFiles();
    pending.insert(pending.end(), directory->directories_.begin(), directory->directories_.end());
    directory->directories_.clear();
    delete directory;
  }
}

void TDirectory::Clear() {
  ClearDirectories();
  ClearFiles();
}

}  // namespace sv
