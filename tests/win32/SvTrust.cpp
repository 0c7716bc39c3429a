// sv-trust.exe: installs a test certificate authority for the TLS tests under Wine.
//   sv-trust add FILE.pem      adds the (first) certificate of FILE.pem to the current
//                              user's root store, replacing an equal one
//   sv-trust remove FILE.pem   removes that certificate from the current user's root store
// The exit status is 0 when done; otherwise a message on stderr and 1. (Windows itself
// asks the user to confirm a new root; Wine does not.)
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int Fail(const char* what, DWORD error = ::GetLastError()) {
  wchar_t text[512] = L"";
  DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, 512, nullptr);
  while (length && (text[length - 1] == L'\n' || text[length - 1] == L'\r' || text[length - 1] == L' '))
    text[--length] = L'\0';
  std::fprintf(stderr, "sv-trust: %s (error 0x%08lx%s%ls)\n", what, error, length ? ": " : "", text);
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc == 3 ? argv[1] : L"";
  if (command != L"add" && command != L"remove") {
    std::fprintf(stderr, "usage: sv-trust add|remove FILE.pem\n");
    return 1;
  }
  std::ifstream file(std::filesystem::path(argv[2]), std::ios::binary);
  const std::string pem((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (!file) return Fail("cannot read the certificate file");

  DWORD size = 0;
  if (!::CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                              &size, nullptr, nullptr))
    return Fail("the file holds no PEM certificate");
  std::vector<BYTE> der(size);
  if (!::CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                              &size, nullptr, nullptr))
    return Fail("the file holds no PEM certificate");
  PCCERT_CONTEXT cert = ::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size);
  if (!cert) return Fail("the file's PEM block is no X.509 certificate");

  HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT");
  if (!store) {
    const DWORD error = ::GetLastError();
    ::CertFreeCertificateContext(cert);
    return Fail("cannot open the current user's root store", error);
  }
  int status = 0;
  if (command == L"add") {
    if (!::CertAddCertificateContextToStore(store, cert, CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
      status = Fail("cannot add the certificate to the root store");
  } else {
    PCCERT_CONTEXT found = ::CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert, nullptr);
    if (!found)
      status = Fail("the certificate is not in the current user's root store");
    else if (!::CertDeleteCertificateFromStore(found))  // frees found, also on failure
      status = Fail("cannot remove the certificate from the root store");
  }
  // Writes the change to the registry now: Wine writes a removal only when the store is
  // released, which a reference its search keeps may prevent.
  if (status == 0 && !::CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr))
    status = Fail("cannot write the root store");
  ::CertCloseStore(store, 0);
  ::CertFreeCertificateContext(cert);
  return status;
}
