#include "platform/DesktopNotices.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "tests/support/TestPlatform.h"

namespace sv {
namespace {

// A private session bus: a message bus daemon of the test's own, ended with the test.
class PrivateBus {
 public:
  PrivateBus() {
    FILE* out = ::popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null", "r");
    if (!out) return;
    char line[1024];
    if (std::fgets(line, sizeof line, out)) address_ = Chomp(line);
    if (std::fgets(line, sizeof line, out)) pid_ = std::atoi(line);
    ::pclose(out);
  }
  ~PrivateBus() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
  }
  const std::string& Address() const { return address_; }

 private:
  static std::string Chomp(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
  }
  std::string address_;
  int pid_ = 0;
};

// The desktop's notification service, as far as notices use it: answers Notify with the
// id 7 and notes the title and text; Click sends the click on notice 7.
class FakeService {
 public:
  explicit FakeService(const std::string& address) {
    bus_ = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (!bus_) return;
    g_main_context_push_thread_default(context_);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
        "<node><interface name='org.freedesktop.Notifications'><method name='Notify'>"
        "<arg type='s' direction='in'/><arg type='u' direction='in'/><arg type='s' direction='in'/>"
        "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='as' direction='in'/>"
        "<arg type='a{sv}' direction='in'/><arg type='i' direction='in'/><arg type='u' direction='out'/>"
        "</method></interface></node>",
        nullptr);
    static const GDBusInterfaceVTable vtable = {&FakeService::Call, nullptr, nullptr, {}};
    g_dbus_connection_register_object(bus_, "/org/freedesktop/Notifications", node->interfaces[0], &vtable, this,
                                      nullptr, nullptr);
    g_dbus_node_info_unref(node);
    g_main_context_pop_thread_default(context_);
    GVariant* owned = g_dbus_connection_call_sync(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "RequestName",
                                                  g_variant_new("(su)", "org.freedesktop.Notifications", 0u),
                                                  nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (owned) g_variant_unref(owned);
    loop_ = std::thread([this] {
      while (!stop_) g_main_context_iteration(context_, TRUE);
    });
  }
  ~FakeService() {
    stop_ = true;
    g_main_context_wakeup(context_);
    if (loop_.joinable()) loop_.join();
    if (bus_) {
      g_dbus_connection_close_sync(bus_, nullptr, nullptr);
      g_object_unref(bus_);
    }
    g_main_context_unref(context_);
  }
  bool Ready() const { return bus_ != nullptr; }
  std::string Shown() {
    std::scoped_lock lock(mutex_);
    return shown_;
  }
  void Click() {
    g_dbus_connection_emit_signal(bus_, nullptr, "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                                  "ActionInvoked", g_variant_new("(us)", 7u, "default"), nullptr);
    g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
  }

 private:
  static void Call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                   GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<FakeService*>(data);
    const gchar *title = nullptr, *text = nullptr;
    g_variant_get_child(parameters, 3, "&s", &title);
    g_variant_get_child(parameters, 4, "&s", &text);
    {
      std::scoped_lock lock(self->mutex_);
      self->shown_ = std::string(title) + " | " + text;
    }
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", 7u));
  }

  GMainContext* context_ = g_main_context_new();
  GDBusConnection* bus_ = nullptr;
  std::atomic<bool> stop_{false};
  std::thread loop_;
  std::mutex mutex_;
  std::string shown_;
};

// Without a session bus nothing is shown; with one, the notice reaches the desktop's
// service and a click on it comes back through Poll.
TEST(DesktopNotices, ReachTheNotificationServiceAndReportItsClick) {
  int clicks = 0;
  test::SetEnv("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
  EXPECT_FALSE(TDesktopNotices([&] { ++clicks; }).Show("a", "b"));

  PrivateBus bus;
  if (bus.Address().empty()) GTEST_SKIP() << "no message bus daemon to start a session bus with";
  FakeService service(bus.Address());
  ASSERT_TRUE(service.Ready());
  test::SetEnv("DBUS_SESSION_BUS_ADDRESS", bus.Address());
  TDesktopNotices notices([&] { ++clicks; });
  ASSERT_TRUE(notices.Show("Sinkronizacija nije uspjela", "Projekt drumel: odbijeno"));
  EXPECT_EQ(service.Shown(), "Sinkronizacija nije uspjela | Projekt drumel: odbijeno");
  service.Click();
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (clicks == 0 && std::chrono::steady_clock::now() < until) {
    notices.Poll();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(clicks, 1);
  test::SetEnv("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
}

}  // namespace
}  // namespace sv
