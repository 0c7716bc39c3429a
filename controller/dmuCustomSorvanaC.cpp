#include "controller/dmuCustomSorvanaC.h"

#include "base/Messages.h"

namespace sv {

ENoSorvanaCImplementation::ENoSorvanaCImplementation() : Exception(msg::kNoImplementation) {}

void TdmCustomSorvanaC::DoRun(THostObject*) { throw ENoSorvanaCImplementation(); }

}  // namespace sv
