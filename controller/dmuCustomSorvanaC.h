#pragma once
// TdmCustomSorvanaC: the operations a host calls on a client controller, whatever
// implements them. A host creates the controller, calls Start and, when Start left the
// continue flag set, Run; Configure answers the user's "Configure" choice.
#include <string>

#include "base/Exception.h"

namespace sv {

// Raised by a controller that has no client service behind it.
class ENoSorvanaCImplementation : public Exception {
 public:
  ENoSorvanaCImplementation();
};

// A host object handed to Start and Run; neither layer looks at it.
class THostObject;
// A system service that could own a controller. This program never creates one.
class TService;

class TdmCustomSorvanaC {
 public:
  TdmCustomSorvanaC() = default;
  virtual ~TdmCustomSorvanaC() = default;
  TdmCustomSorvanaC(const TdmCustomSorvanaC&) = delete;
  TdmCustomSorvanaC& operator=(const TdmCustomSorvanaC&) = delete;

  // All on the main thread, except Cancel.
  void Start(THostObject* host, bool& proceed) { DoStart(host, proceed); }
  // Returns only when the host terminates.
  void Run(THostObject* host) { DoRun(host); }
  void Configure() { DoConfigure(); }
  // Ends a running synchronisation at once, as the program quits. Any thread.
  void Cancel() { DoCancel(); }
  // The address of the controller's web console; empty when it has none.
  std::string ConsoleAddress() { return DoConsoleAddress(); }
  // The service that owns the controller; none in this program.
  TService* Service() const { return hostService_; }

 protected:
  // Raises ENoSorvanaCImplementation.
  virtual void DoRun(THostObject* host);
  virtual void DoStart(THostObject* /*host*/, bool& /*proceed*/) {}
  virtual void DoConfigure() {}
  virtual void DoCancel() {}
  virtual std::string DoConsoleAddress() { return std::string(); }

 private:
  // Only a service host would set it; the tray host owns every controller here.
  TService* hostService_ = nullptr;
};

}  // namespace sv
