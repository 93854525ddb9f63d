// VoLinuxDBus.cpp - GIO loaded with dlopen for one D-Bus method call.
#include "Linux/VoLinuxDBusPrivate.h"

#if __has_include(<gio/gio.h>)

#include <dlfcn.h>
#include <gio/gio.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

namespace {

struct GioApi {
  bool ok = false;
  decltype(&g_dbus_connection_new_for_address_sync) newForAddress = nullptr;
  decltype(&g_dbus_connection_call_sync) callSync = nullptr;
  decltype(&g_dbus_connection_close_sync) closeSync = nullptr;
  decltype(&g_dbus_error_get_remote_error) remoteError = nullptr;
  decltype(&g_object_unref) objectUnref = nullptr;
  decltype(&g_variant_unref) variantUnref = nullptr;
  decltype(&g_error_free) errorFree = nullptr;
  decltype(&g_free) free = nullptr;
};

template <typename F>
bool Resolve(void* lib, const char* name, F& fn) {
  fn = reinterpret_cast<F>(dlsym(lib, name));
  return fn != nullptr;
}

GioApi LoadApi() {
  GioApi api;
  // Never closed: GLib's type system cannot be unloaded.
  void* lib = dlopen("libgio-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
  if (!lib) return api;
  api.ok = Resolve(lib, "g_dbus_connection_new_for_address_sync", api.newForAddress) &&
           Resolve(lib, "g_dbus_connection_call_sync", api.callSync) &&
           Resolve(lib, "g_dbus_connection_close_sync", api.closeSync) &&
           Resolve(lib, "g_dbus_error_get_remote_error", api.remoteError) &&
           Resolve(lib, "g_object_unref", api.objectUnref) &&
           Resolve(lib, "g_variant_unref", api.variantUnref) && Resolve(lib, "g_error_free", api.errorFree) &&
           Resolve(lib, "g_free", api.free);
  return api;
}

const GioApi& Api() {
  static const GioApi api = LoadApi();
  return api;
}

std::string SessionBusAddress() {
  const char* env = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (env && *env) return env;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime == '/') {
    const std::string socket = std::string(runtime) + "/bus";
    struct stat st {};
    if (stat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return "unix:path=" + socket;
  }
  return std::string();
}

/// One call; true for an answer without error. \p missingObject is set when the
/// service answered that it has no such object (or method) there.
bool Call(GDBusConnection* bus, const char* path, int timeout, bool* missingObject) {
  const GioApi& api = Api();
  GError* error = nullptr;
  GVariant* reply = api.callSync(bus, "org.freedesktop.ScreenSaver", path, "org.freedesktop.ScreenSaver",
                                 "SimulateUserActivity", nullptr, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                 timeout, nullptr, &error);
  if (reply) api.variantUnref(reply);
  *missingObject = false;
  if (error) {
    gchar* remote = api.remoteError(error);
    if (remote) {
      const std::string name = remote;
      *missingObject = name == "org.freedesktop.DBus.Error.UnknownObject" ||
                       name == "org.freedesktop.DBus.Error.UnknownMethod" ||
                       name == "org.freedesktop.DBus.Error.UnknownInterface";
      api.free(remote);
    }
    api.errorFree(error);
  }
  return reply != nullptr;
}

}  // namespace

bool VoLinuxSimulateUserActivity(int timeoutMilliseconds) {
  const std::string address = SessionBusAddress();
  if (address.empty() || !Api().ok) return false;
  const GioApi& api = Api();
  GError* error = nullptr;
  GDBusConnection* bus =
      api.newForAddress(address.c_str(),
                        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                        nullptr, nullptr, &error);
  if (!bus) {
    if (error) api.errorFree(error);
    return false;
  }
  bool missing = false;
  bool answered = Call(bus, "/org/freedesktop/ScreenSaver", timeoutMilliseconds, &missing);
  if (!answered && missing) answered = Call(bus, "/ScreenSaver", timeoutMilliseconds, &missing);
  api.closeSync(bus, nullptr, nullptr);
  api.objectUnref(bus);
  return answered;
}

#else  // built without GLib's headers: there is no call to make

bool VoLinuxSimulateUserActivity(int) { return false; }

#endif
