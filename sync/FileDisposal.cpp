#include "sync/FileDisposal.h"

#include <memory>

#include "base/Messages.h"
#include "base/Text.h"
#include "eventlog/drLogger.h"
#include "platform/FileSystem.h"
#include "platform/Trash.h"

namespace sv {
namespace {

struct Disposal {
  bool useTrash = true;
  TdrEventLog* log = nullptr;
  bool noted = false;  // the missing trash has been noted
  fs::FileTrash trash;
};

Disposal& Unscoped() {
  static Disposal disposal;
  return disposal;
}

std::unique_ptr<Disposal> scoped;  // the synchronisation's own, while its scope lives

Disposal& Current() { return scoped ? *scoped : Unscoped(); }

// Into the trash when it is on; false when the file must be deleted plainly instead.
bool Trash(Disposal& d, const std::string& file, bool keep) {
  if (!d.useTrash) return false;
  switch (d.trash.Put(file, keep)) {
    case fs::FileTrash::Result::kTrashed: return true;
    case fs::FileTrash::Result::kAbsent: return false;
    case fs::FileTrash::Result::kRefused: break;
  }
  if (d.log && !d.noted) d.log->Add(Format(msg::kNoTrash, file));
  d.noted = true;
  return false;
}

}  // namespace

TScopedFileDisposal::TScopedFileDisposal(bool useTrash, TdrEventLog* log) {
  scoped = std::make_unique<Disposal>();
  scoped->useTrash = useTrash;
  scoped->log = log;
}

TScopedFileDisposal::~TScopedFileDisposal() { scoped.reset(); }

bool DisposeOfFile(const std::string& file) {
  // What cannot be deleted is not trashed either: a read-only file stays.
  const bool link = fs::KindOf(file) == fs::EntryKind::kLink;
  if (!link && !fs::CanRemoveFile(file)) return false;
  return Trash(Current(), file, false) || fs::RemoveFile(file);
}

TReplacedFile::TReplacedFile(const std::string& file) : kept_(Trash(Current(), file, true)) {}

void TReplacedFile::Withdraw() {
  if (kept_) Current().trash.TakeBackLast();
  kept_ = false;
}

}  // namespace sv
