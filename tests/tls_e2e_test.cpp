// TLS on the command channel with the real programs: a synchronisation inside TLS with a
// pinned self-signed server and with a server that a test CA vouches for; every check of
// the server that fails ends the synchronisation before anything is sent; a cut inside a
// record fails as a cut TCP connection does; "Quit" ends a transfer and a handshake that
// stalls.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "tests/support/Programs.h"
#include "tests/support/TempDir.h"
#include "tls/Tls.h"

namespace sv::test {
namespace {

using std::chrono::steady_clock;

// A certificate and key written for a server, and its key's pin.
struct ServerFiles {
  std::string certificate, key, pin;
};

ServerFiles WriteCertificate(const std::string& stem, const TCertificateRequest& request) {
  const TCertificate made = MakeCertificate(request);
  WriteFile(stem + ".crt", made.certificate);
  WriteFile(stem + ".key", made.key);
  return {stem + ".crt", stem + ".key", KeyPinOfCertificate(made.certificate)};
}

std::vector<std::string> TlsOptions(const ServerFiles& files) {
  return {"--tls-cert", ProgramPath(files.certificate), "--tls-key", ProgramPath(files.key)};
}

// Installs a CA certificate for the client alone: on Linux through SSL_CERT_FILE in its
// environment, for the Windows programs in the user's root store by sv-trust.exe (taken
// out again at the end). `missing` says why it cannot be.
class TrustedCa {
 public:
  TrustedCa(const std::string& file, std::vector<std::string>& env) : file_(file), env_(env) {
    if (!WindowsPrograms()) {
      env.push_back("SSL_CERT_FILE=" + file);
      return;
    }
    if (!std::filesystem::exists(BuiltProgram("sv-trust"))) {
      missing = "sv-trust.exe, which installs the test CA for the Windows client, is not built";
      return;
    }
    if (Launch(BuiltProgram("sv-trust"), {"add", ProgramPath(file)}, env)->WaitExit(kProgramLimit) != 0)
      missing = "sv-trust.exe could not install the test CA";
    installed_ = missing.empty();
  }
  ~TrustedCa() {
    if (installed_) Launch(BuiltProgram("sv-trust"), {"remove", ProgramPath(file_)}, env_)->WaitExit(kProgramLimit);
  }
  std::string missing;

 private:
  std::string file_;
  std::vector<std::string> env_;
  bool installed_ = false;
};

// One project, "drumel", with one file on the server, and the client's settings asking
// for TLS (with a pin) or not.
class TlsRig {
 public:
  explicit TlsRig(const TempDir& dir)
      : dir_(dir.path()), ports_(PickPorts()), env_(HomeEnvironment(dir / "home")) {
    MakeDirs(dir / "client/drumel");
    Put(dir / "server/drumel", "a.txt", "carried inside TLS", 1600000000);
  }
  std::vector<std::string>& Env() { return env_; }
  // Makes a test CA and installs it for the client; `missing` says why it could not be.
  const TCertificate& TrustCa(std::string& missing) {
    ca_ = MakeCertificate({.names = {"Sorvana test CA"}, .authority = true});
    WriteFile(dir_ + "/ca.pem", ca_.certificate);
    trusted_ = std::make_unique<TrustedCa>(dir_ + "/ca.pem", env_);
    missing = trusted_->missing;
    return ca_;
  }
  const Ports& PortsUsed() const { return ports_; }
  std::string ServerRoot() const { return dir_ + "/server/drumel"; }
  std::string ClientRoot() const { return dir_ + "/client/drumel"; }

  // Starts sorvana-server with `options` on `port` (by default the client's).
  ServerProgram& StartServer(const std::vector<std::string>& options, int port = 0) {
    server_ = std::make_unique<ServerProgram>(port ? port : ports_.client,
                                              std::vector<Project>{{"drumel", ServerRoot()}}, env_);
    server_->SetOptions(options);
    server_->Start();
    return *server_;
  }
  // Starts the client with TLS required (with `pin` when not empty) or not, and returns
  // what its first synchronisation logged.
  std::vector<std::string> Synchronise(bool tls, const std::string& pin = "") {
    return StartClient(tls, pin).AwaitSyncEntries();
  }
  ClientProgram& StartClient(bool tls, const std::string& pin = "") {
    client_ = std::make_unique<ClientProgram>(dir_ + "/client", ports_.client, 60,
                                              std::vector<Project>{{"drumel", ClientRoot()}}, env_);
    if (tls) {
      const std::string file = dir_ + "/client/svClient.xml";
      std::string text = ReadFile(file);
      text.replace(text.find("</serversettings>"), 0,
                   "<tls>1</tls>\r\n" + (pin.empty() ? "" : "<tlspin>" + pin + "</tlspin>\r\n"));
      WriteFile(file, text);
    }
    client_->Start();
    return *client_;
  }
  ClientProgram& Client() { return *client_; }

 private:
  std::string dir_;
  Ports ports_;
  std::vector<std::string> env_;
  TCertificate ca_;
  std::unique_ptr<TrustedCa> trusted_;  // goes after the programs
  std::unique_ptr<ServerProgram> server_;
  std::unique_ptr<ClientProgram> client_;
};

TEST(Tls, APinnedSelfSignedServerSynchronisesAndTheStatusNamesItsKey) {
  TempDir dir;
  TlsRig rig(dir);
  const ServerFiles server = WriteCertificate(dir / "server", {.names = {"localhost", "127.0.0.1"}});
  ServerProgram& program = rig.StartServer(TlsOptions(server));
  EXPECT_NE(program.Process().Err().find("TLS key pin: " + server.pin), std::string::npos);
  rig.Synchronise(true, server.pin);
  EXPECT_EQ(TreeDifference(Snapshot(rig.ServerRoot()), Snapshot(rig.ClientRoot()), true), "");
  const std::string status = rig.Client().Get("/status.json").body;
  EXPECT_NE(status.find("\"encrypted\":true"), std::string::npos) << status;
  EXPECT_NE(status.find("TLSv1.3"), std::string::npos) << status;
  EXPECT_NE(status.find(server.pin), std::string::npos) << status;
}

TEST(Tls, AServerThatATrustedCaVouchesForSynchronisesWithoutAPin) {
  TempDir dir;
  TlsRig rig(dir);
  std::string missing;
  const TCertificate& ca = rig.TrustCa(missing);
  if (!missing.empty()) GTEST_SKIP() << missing;
  rig.StartServer(TlsOptions(WriteCertificate(dir / "server", {.names = {"127.0.0.1"}, .issuer = &ca})));
  rig.Synchronise(true);
  EXPECT_EQ(TreeDifference(Snapshot(rig.ServerRoot()), Snapshot(rig.ClientRoot()), true), "");
}

// Each way the server may fail to prove itself ends the synchronisation at the handshake
// with the message of the check that failed: nothing is fetched, and the server hears
// no request. A man in the middle presents a certificate of its own, which neither a pin
// nor the CA accepts.
TEST(Tls, AServerThatCannotProveItselfIsRefusedAtTheHandshake) {
  const std::int64_t day = 24 * 3600;
  enum class Trust { kPin, kCa };
  struct Case {
    const char* name;
    Trust trust;
    bool signedByCa;  // else self-signed
    TCertificateRequest request;
    std::string expected;  // KEY stands for the offered key, PIN for the pinned one
  } cases[] = {
      {"wrong pin", Trust::kPin, false, {.names = {"127.0.0.1"}},
       "TLS: the server's key does not match the pinned key (offered KEY, pinned PIN)."},
      {"expired", Trust::kCa, true, {.names = {"127.0.0.1"}, .notBefore = -2 * day, .notAfter = -day},
       "TLS: the server's certificate is not trusted: certificate has expired. Server key: KEY."},
      {"another name", Trust::kCa, true, {.names = {"sync.example"}},
       "TLS: the server's certificate is not trusted: IP address mismatch. Server key: KEY."},
      {"man in the middle, CA", Trust::kCa, false, {.names = {"127.0.0.1"}},
       "TLS: the server's certificate is not trusted: self-signed certificate. Server key: KEY."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    TlsRig rig(dir);
    std::string missing;
    const TCertificate& ca = rig.TrustCa(missing);
    if (!missing.empty()) GTEST_SKIP() << missing;
    TCertificateRequest request = c.request;
    if (c.signedByCa) request.issuer = &ca;
    const ServerFiles server = WriteCertificate(dir / "server", request);
    // The pin of the real server, whose place the one started here has taken.
    const std::string pin = c.trust == Trust::kPin ? KeyPinOfCertificate(MakeCertificate(c.request).certificate) : "";
    ServerProgram& program = rig.StartServer(TlsOptions(server));
    const std::vector<std::string> entries = rig.Synchronise(true, pin);
    std::string expected = c.expected;
    expected.replace(expected.find("KEY"), 3, server.pin);
    if (expected.find("PIN") != std::string::npos) expected.replace(expected.find("PIN"), 3, pin);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back(), expected);
    EXPECT_TRUE(Snapshot(rig.ClientRoot()).empty());
    EXPECT_TRUE(program.Process().WaitForErr("TLS handshake failed", kProgramLimit));
    EXPECT_EQ(program.Process().Err().find(" -> "), std::string::npos) << program.Process().Err();
  }
}

// A client and server that disagree on TLS part with a clear message, soon: a plaintext
// server's greeting is no TLS record, and a TLS server tells a silent plaintext client
// after 5 seconds (rather than the idle limit of minutes).
TEST(Tls, AClientAndServerThatDisagreeOnTlsPartWithAClearMessage) {
  TempDir dir;
  TlsRig rig(dir);
  rig.StartServer({});
  std::vector<std::string> entries = rig.Synchronise(true);
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries.back(), "TLS handshake failed: wrong version number.");

  rig.Client().Quit();
  rig.Client().Process().WaitExit(kProgramLimit);
  rig.StartServer(TlsOptions(WriteCertificate(dir / "server", {.names = {"127.0.0.1"}})));
  const auto start = steady_clock::now();
  entries = rig.Synchronise(false);
  ASSERT_FALSE(entries.empty());
  EXPECT_NE(entries.back().find("This server accepts TLS connections only."), std::string::npos)
      << entries.back();
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_TRUE(Snapshot(rig.ClientRoot()).empty());
}

// A connection cut inside a record of a file's content fails the synchronisation as a
// cut TCP connection does, and the old file stays whole.
TEST(Tls, ACutInsideARecordFailsAsACutConnectionAndKeepsTheOldFile) {
  std::vector<std::string> failures;
  for (bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "TLS" : "plain TCP");
    TempDir dir;
    TlsRig rig(dir);
    Put(rig.ServerRoot(), "big.bin", RandomBytes(1 << 20, 7), 1600001000);
    Put(rig.ClientRoot(), "big.bin", "the old content", 1600000000);
    const Tree before = Snapshot(rig.ClientRoot());
    const ServerFiles server = WriteCertificate(dir / "server", {.names = {"127.0.0.1"}});
    rig.StartServer(tls ? TlsOptions(server) : std::vector<std::string>{}, rig.PortsUsed().server);
    TcpProxy proxy(rig.PortsUsed().client, rig.PortsUsed().server);
    proxy.SetDownstream({.cutAfter = (512 << 10) + 7});
    const std::vector<std::string> entries = rig.Synchronise(tls, server.pin);
    ASSERT_FALSE(entries.empty());
    failures.push_back(entries.back());
    Tree after = Snapshot(rig.ClientRoot());
    after.erase("a.txt");  // may have come whole before the cut
    EXPECT_EQ(TreeDifference(before, after, true), "");
  }
  EXPECT_EQ(failures[0], failures[1]);
}

// "Quit" while a file's content arrives inside TLS ends the client as over plain TCP,
// with the old file whole.
TEST(Tls, QuitWhileALargeFileArrivesEndsAtOnceAndKeepsTheOldFile) {
  TempDir dir;
  TlsRig rig(dir);
  const std::string big = rig.ServerRoot() + "/big.bin";
  WriteFile(big, "");
  std::filesystem::resize_file(big, 200u << 20);
  SetModificationTime(big, 1600001000);
  Put(rig.ClientRoot(), "big.bin", "the old content", 1600000000);
  const Tree before = Snapshot(rig.ClientRoot());
  const ServerFiles server = WriteCertificate(dir / "server", {.names = {"127.0.0.1"}});
  rig.StartServer(TlsOptions(server), rig.PortsUsed().server);
  TcpProxy proxy(rig.PortsUsed().client, rig.PortsUsed().server);
  // About 3 MB a second: the signal surely comes while the content is on its way.
  proxy.SetDownstream({.chunk = 16384, .pause = std::chrono::milliseconds(5)});
  ClientProgram& client = rig.StartClient(true, server.pin);
  ASSERT_TRUE(proxy.WaitDownstream(0, 1 << 20, kProgramLimit));
  const auto start = steady_clock::now();
  client.Quit();
  EXPECT_EQ(client.Process().WaitExit(kProgramLimit), 0);
  EXPECT_LT(steady_clock::now() - start, QuitLimit() + std::chrono::seconds(2));
  // The old file whole and no temporary file beside it; the small file may have come.
  Tree after = Snapshot(rig.ClientRoot());
  after.erase("a.txt");
  EXPECT_EQ(TreeDifference(before, after, true), "");
}

TEST(Tls, QuitEndsAHandshakeThatStallsWithinASecond) {
  TempDir dir;
  TlsRig rig(dir);
  SilentPeer silent(rig.PortsUsed().client);
  ClientProgram& client = rig.StartClient(true);
  ASSERT_TRUE(silent.WaitForConnection(kProgramLimit));
  const auto start = steady_clock::now();
  client.Quit();
  EXPECT_EQ(client.Process().WaitExit(kProgramLimit), 0);
  // The program promises QuitLimit(); the bound allows for a loaded machine.
  EXPECT_LT(steady_clock::now() - start, QuitLimit() + std::chrono::seconds(2));
}

}  // namespace
}  // namespace sv::test
