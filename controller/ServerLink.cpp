#include "controller/ServerLink.h"

#include "sync/SyncRun.h"
#include "sync/svTCPClient.h"
#include "sync/uServerCommands.h"

namespace sv {

TsvServerLink::TsvServerLink() : client_(std::make_unique<TsvTCPClient>()) {}

TsvServerLink::~TsvServerLink() {
  if (published_ && ServerChannel() == client_.get()) SetServerChannel(nullptr);
}

void TsvServerLink::PublishToFileCommands() {
  SetServerChannel(client_.get());
  published_ = true;
}

void TsvServerLink::Open(const std::string& host, std::int32_t port, const TLinkTls& tls) {
  client_->Host = host;
  client_->Port = port;
  client_->TlsRequired = tls.required;
  client_->TlsPin = tls.pin;
  OpenServerChannel(*client_);
}

TConnectionSecurity TsvServerLink::Security() const { return client_->Security(); }

std::string TsvServerLink::SynchroniseProject(const std::string& name, const std::string& path,
                                              TdrEventLog& log, TSyncObserver* observer) {
  return sv::SynchroniseProject(*client_, log, name, path, observer);
}

std::string TsvServerLink::ExchangeListing(const std::string& name, const std::string& path,
                                           TdrEventLog& log) {
  return sv::ExchangeListing(*client_, name, path, log);
}

void TsvServerLink::Close() { CloseServerChannel(*client_); }

void TsvServerLink::Cancel() { client_->Cancel(); }

}  // namespace sv
