#pragma once
// The system's trusted root certificates, for verifying a server's certificate.
#include <string>
#include <vector>

namespace sv {

// The roots of the system's own store, each in DER, for a TLS library that cannot read
// that store itself (Windows: the system root store). Empty where the TLS library reads
// the system's roots on its own (Linux: OpenSSL's default paths, the CA bundle, which
// SSL_CERT_FILE and SSL_CERT_DIR override).
std::vector<std::string> SystemRootCertificates();

}  // namespace sv
