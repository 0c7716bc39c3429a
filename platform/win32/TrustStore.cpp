#include "platform/TrustStore.h"

#include <windows.h>
#include <wincrypt.h>

namespace sv {

// The current user's view of the root store: the machine's roots and the user's own.
// A store that cannot be opened gives no roots, so that nothing is trusted.
std::vector<std::string> SystemRootCertificates() {
  std::vector<std::string> roots;
  HCERTSTORE store = ::CertOpenSystemStoreW(0, L"ROOT");
  if (!store) return roots;
  for (PCCERT_CONTEXT cert = ::CertEnumCertificatesInStore(store, nullptr); cert;
       cert = ::CertEnumCertificatesInStore(store, cert)) {
    if (cert->dwCertEncodingType & X509_ASN_ENCODING)
      roots.emplace_back(reinterpret_cast<const char*>(cert->pbCertEncoded), cert->cbCertEncoded);
  }
  ::CertCloseStore(store, 0);
  return roots;
}

}  // namespace sv
