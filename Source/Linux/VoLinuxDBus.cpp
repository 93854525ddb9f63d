// VoLinuxDBus.cpp - libdbus-1 loaded with dlopen for one blocking D-Bus method call.
#include "Linux/VoLinuxDBusPrivate.h"

#if __has_include(<dbus/dbus.h>)

#include <dbus/dbus.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "Linux/VoLinuxDlPrivate.h"

namespace {

/// The blocking calls of libdbus-1 used here: they do their input and output
/// on the caller's thread while they wait (GIO's connections would start a
/// worker thread in the process).
struct DBusApi {
  bool ok = false;
  decltype(&dbus_error_init) errorInit = nullptr;
  decltype(&dbus_error_free) errorFree = nullptr;
  decltype(&dbus_connection_open_private) openPrivate = nullptr;
  decltype(&dbus_connection_close) close = nullptr;
  decltype(&dbus_connection_unref) unrefConnection = nullptr;
  decltype(&dbus_connection_send_with_reply_and_block) sendAndBlock = nullptr;
  decltype(&dbus_message_new_method_call) newMethodCall = nullptr;
  decltype(&dbus_message_set_auto_start) setAutoStart = nullptr;
  decltype(&dbus_message_unref) unrefMessage = nullptr;
};

DBusApi LoadApi() {
  DBusApi api;
  api.ok = VoLinuxDlLoad("libdbus-1.so.3", {{"dbus_error_init", api.errorInit},
                                            {"dbus_error_free", api.errorFree},
                                            {"dbus_connection_open_private", api.openPrivate},
                                            {"dbus_connection_close", api.close},
                                            {"dbus_connection_unref", api.unrefConnection},
                                            {"dbus_connection_send_with_reply_and_block", api.sendAndBlock},
                                            {"dbus_message_new_method_call", api.newMethodCall},
                                            {"dbus_message_set_auto_start", api.setAutoStart},
                                            {"dbus_message_unref", api.unrefMessage}});
  return api;
}

const DBusApi& Api() {
  static const DBusApi api = LoadApi();
  return api;
}

/// Whether \p entry (one address of a ';'-separated list) is a local socket
/// that a client connects to: "unix:" with path= or abstract=. Every other
/// kind is left out: libdbus would start dbus-launch for "autolaunch:", and
/// connects to "tcp:" (host name lookup included) or runs the program of
/// "unixexec:" without any time limit; dir=, tmpdir= and runtime= name only
/// where a bus listens.
bool IsLocalClientAddress(const std::string& entry) {
  if (entry.compare(0, 5, "unix:") != 0) return false;
  std::string::size_type start = 5;
  for (;;) {
    const std::string::size_type end = entry.find(',', start);
    const std::string::size_type equals = entry.find('=', start);
    if (equals < end) {
      const std::string key = entry.substr(start, equals - start);
      if (key == "path" || key == "abstract") return true;
    }
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

std::string SessionBusAddress() {
  const char* env = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (env && *env) {
    const std::string list(env);
    std::string usable;
    std::string::size_type start = 0;
    for (;;) {
      const std::string::size_type end = list.find(';', start);
      const std::string entry = list.substr(start, end == std::string::npos ? end : end - start);
      if (IsLocalClientAddress(entry)) usable.append(usable.empty() ? "" : ";").append(entry);
      if (end == std::string::npos) return usable;
      start = end + 1;
    }
  }
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime == '/') {
    const std::string socket = std::string(runtime) + "/bus";
    struct stat st {};
    if (stat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return "unix:path=" + socket;
  }
  return std::string();
}

/// One method call without arguments that starts no service, waiting at most
/// \p timeout ms for the answer; true for an answer without error.
/// \p missingObject is set when the service answered that it has no such
/// object, interface or method there.
bool Call(DBusConnection* bus, const char* destination, const char* path, const char* interface,
          const char* method, int timeout, bool* missingObject) {
  const DBusApi& api = Api();
  *missingObject = false;
  DBusMessage* call = api.newMethodCall(destination, path, interface, method);
  if (!call) return false;
  api.setAutoStart(call, FALSE);
  DBusError error;
  api.errorInit(&error);
  DBusMessage* reply = api.sendAndBlock(bus, call, timeout, &error);
  api.unrefMessage(call);
  if (reply) api.unrefMessage(reply);
  if (error.name) {
    *missingObject = std::strcmp(error.name, "org.freedesktop.DBus.Error.UnknownObject") == 0 ||
                     std::strcmp(error.name, "org.freedesktop.DBus.Error.UnknownMethod") == 0 ||
                     std::strcmp(error.name, "org.freedesktop.DBus.Error.UnknownInterface") == 0;
    api.errorFree(&error);
  }
  return reply != nullptr;
}

/// A private connection to the bus at \p address, or null. libdbus ignores
/// SIGPIPE for the whole process when it opens a connection (it sends with
/// MSG_NOSIGNAL anyway): the caller's disposition is put back.
DBusConnection* Open(const std::string& address) {
  const DBusApi& api = Api();
  struct sigaction oldPipe {};
  const bool saved = sigaction(SIGPIPE, nullptr, &oldPipe) == 0;
  DBusError error;
  api.errorInit(&error);
  DBusConnection* bus = api.openPrivate(address.c_str(), &error);
  if (saved) sigaction(SIGPIPE, &oldPipe, nullptr);
  if (error.name) api.errorFree(&error);
  return bus;
}

}  // namespace

bool VoLinuxSimulateUserActivity(int timeoutMilliseconds) {
  const std::string address = SessionBusAddress();
  if (address.empty() || !Api().ok) return false;
  const DBusApi& api = Api();
  DBusConnection* bus = Open(address);
  if (!bus) return false;
  // The bus answers nothing before a connection has said Hello; sent here
  // rather than through dbus_bus_register so that it has the same time limit
  // (authentication happens while it waits).
  bool missing = false;
  bool answered = Call(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "Hello",
                       timeoutMilliseconds, &missing);
  if (answered) {
    answered = Call(bus, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                    "org.freedesktop.ScreenSaver", "SimulateUserActivity", timeoutMilliseconds, &missing);
    if (!answered && missing)
      answered = Call(bus, "org.freedesktop.ScreenSaver", "/ScreenSaver", "org.freedesktop.ScreenSaver",
                      "SimulateUserActivity", timeoutMilliseconds, &missing);
  }
  api.close(bus);
  api.unrefConnection(bus);
  return answered;
}

#else  // built without libdbus-1's headers: there is no call to make

bool VoLinuxSimulateUserActivity(int) { return false; }

#endif
