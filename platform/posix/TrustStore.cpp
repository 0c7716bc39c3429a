#include "platform/TrustStore.h"

namespace sv {

std::vector<std::string> SystemRootCertificates() { return {}; }

}  // namespace sv
