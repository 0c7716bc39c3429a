#include "platform/DesktopNotices.h"

#include <gio/gio.h>
#include <sys/stat.h>

#include <cstdlib>

namespace sv {
namespace {

constexpr const char kService[] = "org.freedesktop.Notifications";
constexpr const char kObject[] = "/org/freedesktop/Notifications";
// A service that takes longer than this to answer is left; the notice is lost, the
// program goes on.
constexpr int kCallTimeoutMs = 3000;

// Whether a session bus is there to connect to, without starting one: the address in
// the environment or the runtime folder's bus socket.
bool SessionBusExists() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address && *address) return true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || *runtime != '/') return false;
  struct stat info {};
  return ::stat((std::string(runtime) + "/bus").c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

}  // namespace

struct TDesktopNotices::State {
  std::function<void()> onClick;
  GMainContext* context = g_main_context_new();  // where the service's signals arrive
  GDBusConnection* bus = nullptr;
  guint subscription = 0;
  guint32 shown = 0;  // the service's id of the last notice shown; 0: none
  bool tried = false;  // the bus was tried once; a missing bus is not tried again
  bool clicked = false;

  ~State() {
    if (bus) {
      if (subscription) g_dbus_connection_signal_unsubscribe(bus, subscription);
      g_dbus_connection_close_sync(bus, nullptr, nullptr);
      g_object_unref(bus);
    }
    // Delivers what the unsubscription left pending before the context goes.
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_main_context_unref(context);
  }

  bool Connect() {
    if (tried) return bus != nullptr;
    tried = true;
    if (!SessionBusExists()) return false;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!address) return false;
    // A connection of its own, so that its signals reach this object's context alone.
    g_main_context_push_thread_default(context);
    bus = g_dbus_connection_new_for_address_sync(
        address, static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                   G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (bus) {
      g_dbus_connection_set_exit_on_close(bus, FALSE);
      subscription = g_dbus_connection_signal_subscribe(bus, nullptr, kService, "ActionInvoked", kObject, nullptr,
                                                        G_DBUS_SIGNAL_FLAGS_NONE, &State::ActionInvoked, this,
                                                        nullptr);
    }
    g_main_context_pop_thread_default(context);
    g_free(address);
    return bus != nullptr;
  }

  static void ActionInvoked(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                            GVariant* parameters, gpointer data) {
    auto* state = static_cast<State*>(data);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) return;
    guint32 id = 0;
    const gchar* action = nullptr;
    g_variant_get(parameters, "(u&s)", &id, &action);
    if (id != 0 && id == state->shown) state->clicked = true;
  }
};

TDesktopNotices::TDesktopNotices(std::function<void()> onClick) : state_(std::make_unique<State>()) {
  state_->onClick = std::move(onClick);
}

TDesktopNotices::~TDesktopNotices() = default;

bool TDesktopNotices::Show(const std::string& title, const std::string& text) {
  if (!state_->Connect()) return false;
  // The action "default" is the click on the notice itself.
  const gchar* actions[] = {"default", "Otvori konzolu", nullptr};
  GVariantBuilder hints;
  g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
  GVariant* parameters = g_variant_new("(susss^as@a{sv}i)", "Sorvana Client", state_->shown, "dialog-information",
                                       title.c_str(), text.c_str(), actions, g_variant_builder_end(&hints), -1);
  GVariant* reply = g_dbus_connection_call_sync(state_->bus, kService, kObject, kService, "Notify", parameters,
                                                G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs,
                                                nullptr, nullptr);
  if (!reply) return false;
  g_variant_get(reply, "(u)", &state_->shown);
  g_variant_unref(reply);
  return true;
}

void TDesktopNotices::Poll() {
  if (!state_->bus) return;
  while (g_main_context_iteration(state_->context, FALSE)) {
  }
  if (!state_->clicked) return;
  state_->clicked = false;
  if (state_->onClick) state_->onClick();
}

}  // namespace sv
