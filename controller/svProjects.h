#pragma once
// The projects the client keeps in step with the server: each a name the server knows
// and a local root folder. The list keeps insertion order; names need not be unique.
// A list is a value: the controller copies it for a synchronisation and guards its own.
#include <string>
#include <vector>

namespace sv {

struct TsvProject {
  std::string Name;  // the project as the server knows it
  std::string Path;  // the local root folder (a native path, as a rule without a trailing separator)
};

class TsvProjectList {
 public:
  // Appends a new, empty project and returns it; the reference is valid until the next
  // Add or Clear.
  TsvProject& Add();
  void Clear() { items_.clear(); }
  int Count() const { return static_cast<int>(items_.size()); }
  // The project at a zero-based index; raises EListError ("List index out of bounds (%d)")
  // outside 0..Count()-1.
  TsvProject& Project(int index);
  const TsvProject& Project(int index) const;

 private:
  std::vector<TsvProject> items_;
};

}  // namespace sv
