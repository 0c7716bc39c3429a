#pragma once
// The command channel to the synchronisation server as the controller's TServerLink:
// it owns the controller's TCP client (svTCPClient) and runs each project through the
// synchronisation run.
#include <memory>

#include "controller/svSynchronise.h"

namespace sv {

class TsvTCPClient;

class TsvServerLink : public TServerLink {
 public:
  TsvServerLink();
  // Withdraws the client from the file commands when it was handed to them.
  ~TsvServerLink() override;

  // Hands the client to the file commands as the connection they fetch file contents
  // over. Main thread.
  void PublishToFileCommands();

  void Open(const std::string& host, std::int32_t port, const TLinkTls& tls) override;
  TConnectionSecurity Security() const override;
  std::string SynchroniseProject(const std::string& name, const std::string& path,
                                 TdrEventLog& log, TSyncObserver* observer) override;
  std::string ExchangeListing(const std::string& name, const std::string& path,
                              TdrEventLog& log) override;
  void Close() override;
  void Cancel() override;

  // The client itself, for tests that lower its time-outs.
  TsvTCPClient& Client() { return *client_; }

 private:
  std::unique_ptr<TsvTCPClient> client_;
  bool published_ = false;
};

}  // namespace sv
