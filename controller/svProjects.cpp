#include "controller/svProjects.h"

#include "base/Exception.h"

namespace sv {

TsvProject& TsvProjectList::Add() { return items_.emplace_back(); }

TsvProject& TsvProjectList::Project(int index) {
  if (index < 0 || index >= Count()) throw EListError(index);
  return items_[index];
}

const TsvProject& TsvProjectList::Project(int index) const {
  return const_cast<TsvProjectList*>(this)->Project(index);
}

}  // namespace sv
