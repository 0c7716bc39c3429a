#include "tls/Tls.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <system_error>
#include <utility>

#include "base/Exception.h"
#include "base/KeyPin.h"
#include "base/Text.h"
#include "platform/FileSystem.h"
#include "platform/SocketCalls.h"
#include "platform/TrustStore.h"

namespace sv {
namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using Pkey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Ctx = std::unique_ptr<SSL_CTX, Deleter<SSL_CTX, SSL_CTX_free>>;

// OpenSSL reads this much of the socket at once (several records), so a stream of
// records costs few system calls.
constexpr std::size_t kReadBuffer = 64 * 1024;

// The reason of OpenSSL's first error on this thread ("wrong version number"), or `other`.
std::string LastReason(const char* other = "unknown error") {
  const unsigned long e = ERR_peek_error();
  // A failed C library call (fopen): its errno.
  if (e && ERR_SYSTEM_ERROR(e)) return std::generic_category().message(ERR_GET_REASON(e));
  const char* reason = e ? ERR_reason_error_string(e) : nullptr;
  return reason ? reason : other;
}

[[noreturn]] void Fail(const std::string& what) {
  const std::string reason = LastReason();
  ERR_clear_error();
  throw Exception(what + ": " + reason);
}

std::string PinOf(X509* certificate) {
  unsigned char* der = nullptr;
  const int size = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &der);
  if (size <= 0) return {};
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const bool ok = EVP_Digest(der, static_cast<std::size_t>(size), digest, &length, EVP_sha256(), nullptr) == 1;
  OPENSSL_free(der);
  return ok ? FormatKeyPin(std::string_view(reinterpret_cast<char*>(digest), length)) : std::string();
}

// What both sides share: TLS 1.2 at least, records written as offered, reads ahead.
Ctx NewContext(const SSL_METHOD* method) {
  Ctx ctx(SSL_CTX_new(method));
  if (!ctx) Fail("cannot set up TLS");
  SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
  SSL_CTX_set_mode(ctx.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_CTX_set_read_ahead(ctx.get(), 1);
  SSL_CTX_set_default_read_buffer_len(ctx.get(), kReadBuffer);
  return ctx;
}

// The system's roots, or OpenSSL's default paths where the system has none to give.
void LoadRoots(SSL_CTX* ctx) {
  const std::vector<std::string> roots = SystemRootCertificates();
  if (roots.empty()) {
    SSL_CTX_set_default_verify_paths(ctx);
    return;
  }
  X509_STORE* store = SSL_CTX_get_cert_store(ctx);
  for (const std::string& der : roots) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    X509Ptr root(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    if (root) X509_STORE_add_cert(store, root.get());  // a duplicate is refused harmlessly
  }
  ERR_clear_error();
}

std::string BioText(BIO* bio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<std::size_t>(size));
}

bool IsIpAddress(const std::string& name) {
  ASN1_OCTET_STRING* ip = a2i_IPADDRESS(name.c_str());
  ASN1_OCTET_STRING_free(ip);
  return ip != nullptr;
}

void AddExtension(X509* certificate, X509V3_CTX* ctx, int nid, const std::string& value) {
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, ctx, nid, value.c_str());
  if (!extension) Fail("cannot make the certificate");
  X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
}

}  // namespace

TTlsContext::TTlsContext(ssl_ctx_st* ctx, std::string pin, bool server)
    : ctx_(ctx), pin_(std::move(pin)), server_(server) {}

TTlsContext::~TTlsContext() { SSL_CTX_free(ctx_); }

std::shared_ptr<TTlsContext> TTlsContext::Client(const std::string& pin) {
  Ctx ctx = NewContext(TLS_client_method());
  SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
  // The whole check of the server's certificate is the stream's own, so a wrong key
  // fails the handshake itself, before anything is sent.
  SSL_CTX_set_cert_verify_callback(ctx.get(), &TTlsStream::VerifyCertificate, nullptr);
  if (pin.empty()) LoadRoots(ctx.get());
  return std::shared_ptr<TTlsContext>(new TTlsContext(ctx.release(), pin, false));
}

std::shared_ptr<TTlsContext> TTlsContext::Server(const std::string& certificateFile, const std::string& keyFile) {
  Ctx ctx = NewContext(TLS_server_method());
  ERR_clear_error();
  if (SSL_CTX_use_certificate_chain_file(ctx.get(), certificateFile.c_str()) != 1)
    Fail("cannot read the certificate '" + certificateFile + "'");
  if (SSL_CTX_use_PrivateKey_file(ctx.get(), keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    // OpenSSL checks the key against the certificate as it loads it.
    const int reason = ERR_GET_REASON(ERR_peek_last_error());
    if (reason == X509_R_KEY_VALUES_MISMATCH || reason == X509_R_KEY_TYPE_MISMATCH) {
      ERR_clear_error();
      throw Exception("the key '" + keyFile + "' does not belong to the certificate '" + certificateFile + "'");
    }
    Fail("cannot read the key '" + keyFile + "'");
  }
  return std::shared_ptr<TTlsContext>(new TTlsContext(ctx.release(), {}, true));
}

std::string TTlsContext::ServerKeyPin() const {
  X509* certificate = server_ ? SSL_CTX_get0_certificate(ctx_) : nullptr;
  return certificate ? PinOf(certificate) : std::string();
}

TTlsStream::TTlsStream(std::shared_ptr<TTlsContext> context, std::uintptr_t handle, const std::string& host)
    : context_(std::move(context)), ssl_(SSL_new(context_->ctx_)) {
  if (!ssl_) Fail("cannot set up TLS");
  SSL_set_app_data(ssl_, this);
  // OpenSSL takes the socket as an int also where it is a SOCKET (Windows).
  SSL_set_fd(ssl_, static_cast<int>(handle));
  if (context_->server_) {
    SSL_set_accept_state(ssl_);
    return;
  }
  SSL_set_connect_state(ssl_);
  if (host.empty()) return;
  if (IsIpAddress(host)) {
    if (context_->pin_.empty()) X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host.c_str());
  } else {
    SSL_set_tlsext_host_name(ssl_, host.c_str());
    if (context_->pin_.empty()) SSL_set1_host(ssl_, host.c_str());
  }
}

TTlsStream::~TTlsStream() { SSL_free(ssl_); }

int TTlsStream::VerifyCertificate(x509_store_ctx_st* store, void*) {
  SSL* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* self = static_cast<TTlsStream*>(SSL_get_app_data(ssl));
  self->peerKey_ = PinOf(X509_STORE_CTX_get0_cert(store));
  const std::string& pin = self->context_->pin_;
  if (!pin.empty()) {
    if (self->peerKey_ == pin) return 1;
    self->pinMismatch_ = true;
    X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
    return 0;
  }
  if (X509_verify_cert(store) == 1) return 1;
  self->verifyResult_ = X509_STORE_CTX_get_error(store);
  return 0;
}

std::string TTlsStream::HandshakeFailure(const std::string& reason) const {
  if (pinMismatch_)
    return "TLS: the server's key does not match the pinned key (offered " + peerKey_ + ", pinned " +
           context_->pin_ + ").";
  if (verifyResult_ != X509_V_OK)
    return std::string("TLS: the server's certificate is not trusted: ") +
           X509_verify_cert_error_string(verifyResult_) + ". Server key: " + peerKey_ + ".";
  return "TLS handshake failed: " + reason + ".";
}

TlsStatus TTlsStream::Result(int ret, const char* during) {
  const int error = SSL_get_error(ssl_, ret);
  std::string reason;
  switch (error) {
    case SSL_ERROR_WANT_READ:
      return TlsStatus::kWantRead;
    case SSL_ERROR_WANT_WRITE:
      return TlsStatus::kWantWrite;
    case SSL_ERROR_ZERO_RETURN:
      if (handshakeDone_) return TlsStatus::kClosed;
      reason = "the connection was closed";
      break;
    case SSL_ERROR_SYSCALL: {
      const int code = LastSocketError();
      if (code == 0 && handshakeDone_) return TlsStatus::kClosed;
      systemError_ = code;
      reason = code ? fs::ErrorText(code) : "the connection was closed";
      break;
    }
    default:
      // A TCP close without close_notify, within a record or not.
      if (ERR_GET_REASON(ERR_peek_last_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING && handshakeDone_) {
        ERR_clear_error();
        return TlsStatus::kClosed;
      }
      reason = LastReason();
  }
  ERR_clear_error();
  failure_ = handshakeDone_ ? std::string(during) + reason + "." : HandshakeFailure(reason);
  return TlsStatus::kFailed;
}

TlsStatus TTlsStream::Handshake() {
  ERR_clear_error();
  const int ret = SSL_do_handshake(ssl_);
  if (ret == 1) {
    handshakeDone_ = true;
    return TlsStatus::kDone;
  }
  return Result(ret, "");
}

TlsStatus TTlsStream::Read(char* buffer, std::size_t size, std::size_t& moved) {
  ERR_clear_error();
  moved = 0;
  if (held_ != TlsStatus::kDone) return std::exchange(held_, TlsStatus::kDone);
  if (SSL_read_ex(ssl_, buffer, size, &moved) != 1) return Result(0, "TLS read failed: ");
  // Records already here follow at once; an end or a failure after them is held for the
  // next call.
  std::size_t more = 0;
  while (moved < size) {
    if (SSL_read_ex(ssl_, buffer + moved, size - moved, &more) != 1) {
      const TlsStatus status = Result(0, "TLS read failed: ");
      if (status == TlsStatus::kClosed || status == TlsStatus::kFailed) held_ = status;
      break;
    }
    moved += more;
  }
  return TlsStatus::kDone;
}

TlsStatus TTlsStream::Write(const char* buffer, std::size_t size, std::size_t& moved) {
  ERR_clear_error();
  moved = 0;
  if (SSL_write_ex(ssl_, buffer, size, &moved) == 1) return TlsStatus::kDone;
  return Result(0, "TLS write failed: ");
}

void TTlsStream::Close() {
  if (handshakeDone_ && !(SSL_get_shutdown(ssl_) & SSL_SENT_SHUTDOWN)) SSL_shutdown(ssl_);
  ERR_clear_error();
}

std::string TTlsStream::Protocol() const { return SSL_get_version(ssl_); }

std::string KeyPinOfCertificate(const std::string& pem) {
  Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  X509Ptr certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  if (!certificate) Fail("no certificate");
  return PinOf(certificate.get());
}

TCertificate MakeCertificate(const TCertificateRequest& request) {
  Pkey key(EVP_EC_gen("P-256"));
  X509Ptr certificate(X509_new());
  if (!key || !certificate || request.names.empty()) Fail("cannot make the certificate");
  X509* x = certificate.get();
  X509_set_version(x, 2);
  std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>> serial(BN_new());
  BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY);
  BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(x));
  X509_gmtime_adj(X509_getm_notBefore(x), static_cast<long>(request.notBefore));
  X509_gmtime_adj(X509_getm_notAfter(x), static_cast<long>(request.notAfter));
  X509_set_pubkey(x, key.get());
  X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(request.names[0].c_str()), -1, -1, 0);

  X509Ptr issuerCertificate;
  Pkey issuerKey;
  if (request.issuer) {
    Bio certBio(BIO_new_mem_buf(request.issuer->certificate.data(), static_cast<int>(request.issuer->certificate.size())));
    Bio keyBio(BIO_new_mem_buf(request.issuer->key.data(), static_cast<int>(request.issuer->key.size())));
    issuerCertificate.reset(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    issuerKey.reset(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    if (!issuerCertificate || !issuerKey) Fail("cannot read the issuer");
  }
  X509* issuer = issuerCertificate ? issuerCertificate.get() : x;
  X509_set_issuer_name(x, X509_get_subject_name(issuer));

  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, issuer, x, nullptr, nullptr, 0);
  std::string names;
  for (const std::string& name : request.names)
    names += (names.empty() ? "" : ",") + std::string(IsIpAddress(name) ? "IP:" : "DNS:") + name;
  AddExtension(x, &ctx, NID_subject_alt_name, names);
  AddExtension(x, &ctx, NID_basic_constraints, request.authority ? "critical,CA:TRUE" : "critical,CA:FALSE");
  AddExtension(x, &ctx, NID_key_usage,
               request.authority ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
  AddExtension(x, &ctx, NID_subject_key_identifier, "hash");
  if (!request.authority) AddExtension(x, &ctx, NID_ext_key_usage, "serverAuth");
  if (X509_sign(x, issuerKey ? issuerKey.get() : key.get(), EVP_sha256()) <= 0) Fail("cannot sign the certificate");

  Bio certOut(BIO_new(BIO_s_mem()));
  Bio keyOut(BIO_new(BIO_s_mem()));
  if (!PEM_write_bio_X509(certOut.get(), x) ||
      !PEM_write_bio_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr))
    Fail("cannot write the certificate");
  return {BioText(certOut.get()), BioText(keyOut.get())};
}

}  // namespace sv
