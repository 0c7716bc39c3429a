#include "platform/TrustStore.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/support/TempDir.h"

namespace sv {
namespace {

// A self-signed certificate authority of a name no other run shares, as PEM and DER.
struct TestCa {
  std::string pem, der;
};
TestCa MakeCa() {
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
  std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
  const std::string name = "Sorvana trust store test " + std::to_string(::GetCurrentProcessId()) + "-" +
                           std::to_string(::GetTickCount64());
  X509_set_version(cert.get(), X509_VERSION_3);
  ASN1_INTEGER_set_int64(X509_get_serialNumber(cert.get()), static_cast<int64_t>(::GetTickCount64()));
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(cert.get()), "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
  X509_set_issuer_name(cert.get(), X509_get_subject_name(cert.get()));
  X509_set_pubkey(cert.get(), key.get());
  EXPECT_GT(X509_sign(cert.get(), key.get(), EVP_sha256()), 0);

  TestCa ca;
  unsigned char* der = nullptr;
  const int length = i2d_X509(cert.get(), &der);
  ca.der.assign(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
  PEM_write_bio_X509(bio.get(), cert.get());
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  ca.pem.assign(data, static_cast<std::size_t>(size));
  return ca;
}

// Runs sv-trust.exe (beside this program) and gives its exit status.
DWORD SvTrust(const std::string& command, const std::string& file) {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring line = L"\"" + (std::filesystem::path(self).parent_path() / L"sv-trust.exe").wstring() + L"\" " +
                      std::wstring(command.begin(), command.end()) + L" \"" +
                      test::FsPath(file).make_preferred().wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return 255;
  ::WaitForSingleObject(process.hProcess, 60000);
  DWORD status = 255;
  ::GetExitCodeProcess(process.hProcess, &status);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return status;
}

bool Holds(const std::vector<std::string>& roots, const std::string& der) {
  return std::find(roots.begin(), roots.end(), der) != roots.end();
}

// The roots come from the system store, as OpenSSL takes them into a client context's
// store; a certificate that sv-trust adds to the user's root store is among them until it
// removes it again. Bad input ends sv-trust with status 1.
TEST(TrustStore, GivesTheSystemRootsWithOnesTheUserAdded) {
  const test::TempDir dir;
  const TestCa ca = MakeCa();
  ASSERT_FALSE(ca.der.empty());
  test::WriteFile(dir / "ca.pem", ca.pem);
  EXPECT_FALSE(Holds(SystemRootCertificates(), ca.der));

  ASSERT_EQ(SvTrust("add", dir / "ca.pem"), 0u);
  const std::vector<std::string> roots = SystemRootCertificates();
  EXPECT_TRUE(Holds(roots, ca.der));
  std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
  ASSERT_TRUE(context);
  X509_STORE* store = SSL_CTX_get_cert_store(context.get());
  for (const std::string& der : roots) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    std::unique_ptr<X509, decltype(&X509_free)> cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())),
                                                     X509_free);
    ASSERT_TRUE(cert) << "a root that is no DER certificate";
    X509_STORE_add_cert(store, cert.get());  // an equal root twice is no failure
  }
  EXPECT_GT(sk_X509_OBJECT_num(X509_STORE_get0_objects(store)), 0);

  EXPECT_EQ(SvTrust("remove", dir / "ca.pem"), 0u);
  EXPECT_FALSE(Holds(SystemRootCertificates(), ca.der));

  EXPECT_EQ(SvTrust("remove", dir / "ca.pem"), 1u);  // no longer there
  EXPECT_EQ(SvTrust("add", dir / "missing.pem"), 1u);
  test::WriteFile(dir / "junk.pem", "-----BEGIN CERTIFICATE-----\nnot base64\n-----END CERTIFICATE-----\n");
  EXPECT_EQ(SvTrust("add", dir / "junk.pem"), 1u);
  EXPECT_EQ(SvTrust("list", dir / "ca.pem"), 1u);
}

}  // namespace
}  // namespace sv
