#include "server/ServerOptions.h"

#include <gtest/gtest.h>

#include "base/Exception.h"

namespace sv {
namespace {

std::string Refusal(const std::vector<std::string>& args) {
  try {
    ParseServerOptions(args);
  } catch (const Exception& e) {
    return e.Message();
  }
  return "accepted";
}

TEST(ServerOptions, ListenAddressAndProjects) {
  TServerOptions o = ParseServerOptions({"drumel=/srv/drumel", "\xC4\x8Dvor=/srv/\xC4\x8Dvor"});
  EXPECT_EQ(o.host, "127.0.0.1");
  EXPECT_EQ(o.port, 1974);
  EXPECT_TRUE(o.session.offerPipelining);
  EXPECT_FALSE(o.session.logFiles);
  ASSERT_EQ(o.projects.size(), 2u);
  EXPECT_EQ(o.projects[1].name, "\xE8vor");  // Windows-1250 from here on
  EXPECT_EQ(o.projects[1].folder, "/srv/\xE8vor");
  o = ParseServerOptions({"--listen", "0.0.0.0:2000", "a b=/x=y"});
  EXPECT_EQ(o.host, "0.0.0.0");
  EXPECT_EQ(o.port, 2000);
  EXPECT_EQ(o.projects[0].name, "a b");
  EXPECT_EQ(o.projects[0].folder, "/x=y");
  o = ParseServerOptions({"--listen=[::1]:0", "--no-pipelining", "--log-files", "p=/p"});
  EXPECT_EQ(o.host, "::1");
  EXPECT_EQ(o.port, 0);
  EXPECT_FALSE(o.session.offerPipelining);
  EXPECT_TRUE(o.session.logFiles);
  EXPECT_EQ(o.listingMemory, TSyncServer::kDefaultListingMemory);
  EXPECT_EQ(o.syncDeadline, std::chrono::seconds(600));
  o = ParseServerOptions({"--listing-memory", "3", "--sync-deadline", "45", "p=/p"});
  EXPECT_EQ(o.listingMemory, std::uint64_t{3} << 20);
  EXPECT_EQ(o.syncDeadline, std::chrono::seconds(45));
  EXPECT_TRUE(ParseServerOptions({"--help"}).help);
  o = ParseServerOptions({"--tls-cert", "s.crt", "--tls-key", "s.key", "p=/p"});
  EXPECT_EQ(o.tlsCertificate, "s.crt");
  EXPECT_EQ(o.tlsKey, "s.key");
  o = ParseServerOptions({"--make-cert", "d", "--make-cert-name", "sync.example"});
  EXPECT_EQ(o.makeCertificate, "d");
  EXPECT_EQ(o.makeCertificateName, "sync.example");
}

TEST(ServerOptions, BadArgumentsAreNamed) {
  EXPECT_EQ(Refusal({}), "no project given");
  EXPECT_EQ(Refusal({"--listen"}), "--listen wants HOST:PORT");
  EXPECT_EQ(Refusal({"--listen", "localhost", "p=/p"}), "--listen wants HOST:PORT, not 'localhost'");
  EXPECT_EQ(Refusal({"--listen", "h:70000", "p=/p"}), "bad port '70000'");
  EXPECT_EQ(Refusal({"--listen", "h:-1", "p=/p"}), "bad port '-1'");
  EXPECT_EQ(Refusal({"--listen", "h:x10", "p=/p"}), "bad port 'x10'");
  EXPECT_EQ(Refusal({"--verbose", "p=/p"}), "unknown option '--verbose'");
  EXPECT_EQ(Refusal({"p=/p", "--listing-memory"}), "--listing-memory wants a number");
  EXPECT_EQ(Refusal({"--listing-memory", "0", "p=/p"}), "--listing-memory wants a whole number from 1 to 1048576, not '0'");
  EXPECT_EQ(Refusal({"--listing-memory", "1048577", "p=/p"}),
            "--listing-memory wants a whole number from 1 to 1048576, not '1048577'");
  EXPECT_EQ(Refusal({"--sync-deadline", "1.5", "p=/p"}), "--sync-deadline wants a whole number from 1 to 604800, not '1.5'");
  EXPECT_EQ(Refusal({"p"}), "a project is NAME=FOLDER, not 'p'");
  EXPECT_EQ(Refusal({"=/p"}), "a project is NAME=FOLDER, not '=/p'");
  EXPECT_EQ(Refusal({"p="}), "a project is NAME=FOLDER, not 'p='");
  EXPECT_EQ(Refusal({"p=/a", "P=/b"}), "project 'P' is given twice");
  EXPECT_EQ(Refusal({"--tls-cert", "s.crt", "p=/p"}), "--tls-cert and --tls-key go together");
  EXPECT_EQ(Refusal({"p=/p", "--tls-key"}), "--tls-key wants a value");
  EXPECT_EQ(Refusal({"--make-cert-name", "n"}), "--make-cert-name goes with --make-cert");
  EXPECT_EQ(Refusal({"\xE6\x97\xA5=/p"}), "'\xE6\x97\xA5=/p' holds characters that Windows-1250 lacks");
}

}  // namespace
}  // namespace sv
