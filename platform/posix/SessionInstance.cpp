#include "platform/SessionInstance.h"

namespace sv {

bool ClaimSessionInstance() { return true; }

}  // namespace sv
