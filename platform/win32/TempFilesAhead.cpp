// Nothing is made ahead on Windows: every writer creates its own file.
#include "platform/AtomicFile.h"

namespace sv::fs {

struct TempFilesAhead::Impl {};
TempFilesAhead::TempFilesAhead() = default;
TempFilesAhead::~TempFilesAhead() = default;
std::vector<TempFilesAhead::Ticket> TempFilesAhead::Prepare(const std::vector<std::string>& paths) {
  return std::vector<Ticket>(paths.size());
}
void TempFilesAhead::Clear() noexcept {}

}  // namespace sv::fs
