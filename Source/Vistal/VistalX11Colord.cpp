// VistalX11Colord.cpp - display records from X RandR, profiles from colord over D-Bus.

#include "VistalX11Colord.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <gio/gio.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vistal {
namespace {

// ---------------------------------------------------------------------------
// A deadline for the X server. Xlib has no timeouts of its own and its default
// I/O error handler exits the process, so both paths write the failure text that
// was prepared beforehand and leave with its code. Only async-signal-safe calls.

char g_x_failure_text[128];
std::size_t g_x_failure_length = 0;
int g_x_failure_code = kExitXServerUnreachable;

[[noreturn]] void WriteXFailureAndExit() {
  std::size_t written = 0;
  while (written < g_x_failure_length) {
    const ssize_t n = ::write(STDOUT_FILENO, g_x_failure_text + written, g_x_failure_length - written);
    if (n <= 0) {
      break;
    }
    written += static_cast<std::size_t>(n);
  }
  ::_exit(g_x_failure_code);
}

extern "C" void OnXServerTimeout(int /*signal*/) { WriteXFailureAndExit(); }

extern "C" int OnXIOError(Display* /*display*/) { WriteXFailureAndExit(); }

// Protocol errors (an output removed while we read it, a missing property) show
// up as null replies, which the caller handles; they must not end the program.
extern "C" int OnXError(Display* /*display*/, XErrorEvent* /*event*/) { return 0; }

class XServerGuard {
 public:
  XServerGuard() {
    DisplayList failed;
    failed.error = kExitXServerUnreachable;
    const std::string text = RenderListing(failed).text;
    g_x_failure_length = std::min(text.size(), sizeof g_x_failure_text);
    std::memcpy(g_x_failure_text, text.data(), g_x_failure_length);
    g_x_failure_code = kExitXServerUnreachable;

    old_error_handler_ = XSetErrorHandler(OnXError);
    old_io_error_handler_ = XSetIOErrorHandler(OnXIOError);
    struct sigaction action {};
    action.sa_handler = OnXServerTimeout;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, &old_alarm_action_);
    alarm(kXServerTimeoutSeconds);
  }

  ~XServerGuard() {
    alarm(0);
    sigaction(SIGALRM, &old_alarm_action_, nullptr);
    XSetIOErrorHandler(old_io_error_handler_);
    XSetErrorHandler(old_error_handler_);
  }

  XServerGuard(const XServerGuard&) = delete;
  XServerGuard& operator=(const XServerGuard&) = delete;

 private:
  XErrorHandler old_error_handler_ = nullptr;
  XIOErrorHandler old_io_error_handler_ = nullptr;
  struct sigaction old_alarm_action_ {};
};

// ---------------------------------------------------------------------------
// Owners of Xlib and XRandR replies.

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};
struct ScreenResourcesFree {
  void operator()(XRRScreenResources* resources) const { XRRFreeScreenResources(resources); }
};
struct OutputInfoFree {
  void operator()(XRROutputInfo* info) const { XRRFreeOutputInfo(info); }
};
struct CrtcInfoFree {
  void operator()(XRRCrtcInfo* info) const { XRRFreeCrtcInfo(info); }
};
struct XFreeDeleter {
  void operator()(unsigned char* data) const { XFree(data); }
};

using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;
using ScreenResourcesPtr = std::unique_ptr<XRRScreenResources, ScreenResourcesFree>;
using OutputInfoPtr = std::unique_ptr<XRROutputInfo, OutputInfoFree>;
using CrtcInfoPtr = std::unique_ptr<XRRCrtcInfo, CrtcInfoFree>;
using XDataPtr = std::unique_ptr<unsigned char, XFreeDeleter>;

// The first bytes of an output's EDID property, enough for the identification
// numbers; empty when the output has none.
std::vector<std::uint8_t> ReadEdidStart(Display* display, RROutput output, Atom edid_atom) {
  std::vector<std::uint8_t> bytes;
  if (edid_atom == None) {
    return bytes;
  }
  Atom actual_type = None;
  int actual_format = 0;
  unsigned long item_count = 0;
  unsigned long bytes_after = 0;
  unsigned char* raw = nullptr;
  const long kLongsToRead = 4;  // 16 bytes
  const int status =
      XRRGetOutputProperty(display, output, edid_atom, 0, kLongsToRead, False, False, AnyPropertyType,
                           &actual_type, &actual_format, &item_count, &bytes_after, &raw);
  const XDataPtr data(raw);
  if (status == Success && data && actual_format == 8) {
    bytes.assign(data.get(), data.get() + item_count);
  }
  return bytes;
}

// Asks the X server for its active outputs; `output_names` receives the RandR
// name of each listed display, in the same order.
DisplayList QueryDisplays(std::vector<std::string>& output_names) {
  DisplayList list;
  const char* display_name = std::getenv("DISPLAY");
  if (display_name == nullptr || *display_name == '\0') {
    list.error = kExitNoDisplayName;
    return list;
  }

  const XServerGuard guard;
  const DisplayPtr display(XOpenDisplay(display_name));
  if (!display) {
    list.error = kExitXServerUnreachable;
    return list;
  }
  // Asked through the core protocol first: libXrandr keeps a record per display
  // that it frees only when the server has the extension.
  int opcode = 0;
  int event_base = 0;
  int error_base = 0;
  int major = 0;
  int minor = 0;
  if (!XQueryExtension(display.get(), RANDR_NAME, &opcode, &event_base, &error_base) ||
      !XRRQueryExtension(display.get(), &event_base, &error_base) ||
      !XRRQueryVersion(display.get(), &major, &minor) || major < 1 || (major == 1 && minor < 2)) {
    list.error = kExitNoRandR;
    return list;
  }
  const Window root = DefaultRootWindow(display.get());
  // The server's current configuration, without probing the outputs again (a probe
  // reads every monitor's EDID and can take long on real hardware).
  const bool has_current = major > 1 || minor >= 3;
  const ScreenResourcesPtr resources(has_current ? XRRGetScreenResourcesCurrent(display.get(), root)
                                                 : XRRGetScreenResources(display.get(), root));
  if (!resources) {
    list.error = kExitNoRandR;
    return list;
  }
  const Atom edid_atom = XInternAtom(display.get(), RR_PROPERTY_RANDR_EDID, True);

  for (int i = 0; i < resources->noutput && list.displays.size() < kMaxDisplays; ++i) {
    const RROutput output = resources->outputs[i];
    const OutputInfoPtr info(XRRGetOutputInfo(display.get(), resources.get(), output));
    if (!info || info->connection != RR_Connected || info->crtc == None) {
      continue;
    }
    const CrtcInfoPtr crtc(XRRGetCrtcInfo(display.get(), resources.get(), info->crtc));
    if (!crtc || crtc->mode == None) {
      continue;
    }
    DisplayRecord record;
    record.id = static_cast<std::int32_t>(output);
    const EdidIds ids = ReadEdidIds(ReadEdidStart(display.get(), output, edid_atom));
    record.vendor = ids.vendor;
    record.product = ids.product;
    record.origin_x = static_cast<float>(crtc->x);
    record.origin_y = static_cast<float>(crtc->y);
    record.width = static_cast<float>(crtc->width);
    record.height = static_cast<float>(crtc->height);
    record.width_mm = static_cast<float>(info->mm_width);
    record.height_mm = static_cast<float>(info->mm_height);
    list.displays.push_back(std::move(record));
    output_names.emplace_back(info->name, static_cast<std::size_t>(info->nameLen));
  }
  return list;
}

// ---------------------------------------------------------------------------
// colord over the system bus, with GIO.

constexpr const char* kColordName = "org.freedesktop.ColorManager";
constexpr const char* kColordPath = "/org/freedesktop/ColorManager";
constexpr const char* kColordInterface = "org.freedesktop.ColorManager";
constexpr const char* kDeviceInterface = "org.freedesktop.ColorManager.Device";
constexpr const char* kProfileInterface = "org.freedesktop.ColorManager.Profile";
constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";
constexpr const char* kXrandrNameKey = "XRANDR_name";
constexpr const char* kColordNotFound = "org.freedesktop.ColorManager.NotFound";

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct GVariantUnref {
  void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
struct GErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
struct GFree {
  void operator()(gchar* text) const { g_free(text); }
};

using CancellablePtr = std::unique_ptr<GCancellable, GObjectUnref>;
using VariantPtr = std::unique_ptr<GVariant, GVariantUnref>;
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;
using GTextPtr = std::unique_ptr<gchar, GFree>;

// Cancels `cancellable` unless destroyed within `timeout_ms`.
class CancelAfter {
 public:
  CancelAfter(GCancellable* cancellable, int timeout_ms)
      : thread_([this, cancellable, timeout_ms] {
          std::unique_lock lock(mutex_);
          if (!done_condition_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                        [this] { return done_; })) {
            g_cancellable_cancel(cancellable);
          }
        }) {}

  ~CancelAfter() {
    {
      const std::lock_guard lock(mutex_);
      done_ = true;
    }
    done_condition_.notify_one();
    thread_.join();
  }

  CancelAfter(const CancelAfter&) = delete;
  CancelAfter& operator=(const CancelAfter&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable done_condition_;
  bool done_ = false;
  std::thread thread_;  // last: starts once the members above exist
};

class ColordClient {
 public:
  ColordClient() = default;
  ~ColordClient() {
    if (connection_ != nullptr) {
      g_dbus_connection_close_sync(connection_, nullptr, nullptr);
      g_object_unref(connection_);
    }
  }
  ColordClient(const ColordClient&) = delete;
  ColordClient& operator=(const ColordClient&) = delete;

  // Opens a private connection to the system bus; 0 or an exit code.
  int Connect() {
    GError* raw_error = nullptr;
    const GTextPtr address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, &raw_error));
    const ErrorPtr address_error(raw_error);
    if (!address) {
      return kExitNoSystemBus;
    }
    const CancellablePtr cancellable(g_cancellable_new());
    {
      const CancelAfter deadline(cancellable.get(), kDbusTimeoutMs);
      raw_error = nullptr;
      connection_ = g_dbus_connection_new_for_address_sync(
          address.get(),
          static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                            G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
          nullptr, cancellable.get(), &raw_error);
    }
    const ErrorPtr connect_error(raw_error);
    return connection_ != nullptr ? kExitOk : kExitNoSystemBus;
  }

  ProfileLookup FindProfile(const std::string& output_name) {
    ErrorPtr error;
    const VariantPtr device_reply =
        Call(kColordPath, kColordInterface, "FindDeviceByProperty",
             g_variant_new("(ss)", kXrandrNameKey, output_name.c_str()), G_VARIANT_TYPE("(o)"), error);
    if (!device_reply) {
      return ProfileLookup::Failed(IsRemoteError(error.get(), kColordNotFound) ? kExitNoColordDevice
                                                                               : kExitColordUnavailable);
    }
    const gchar* device_path = nullptr;
    g_variant_get(device_reply.get(), "(&o)", &device_path);

    const VariantPtr profiles = GetProperty(device_path, kDeviceInterface, "Profiles");
    if (!profiles || !g_variant_is_of_type(profiles.get(), G_VARIANT_TYPE_OBJECT_PATH_ARRAY)) {
      return ProfileLookup::Failed(kExitColordUnavailable);
    }
    if (g_variant_n_children(profiles.get()) == 0) {
      return ProfileLookup::Failed(kExitNoProfile);
    }
    const gchar* profile_path = nullptr;
    g_variant_get_child(profiles.get(), 0, "&o", &profile_path);

    const VariantPtr filename = GetProperty(profile_path, kProfileInterface, "Filename");
    if (!filename || !g_variant_is_of_type(filename.get(), G_VARIANT_TYPE_STRING)) {
      return ProfileLookup::Failed(kExitColordUnavailable);
    }
    gsize length = 0;
    const gchar* text = g_variant_get_string(filename.get(), &length);
    if (length == 0) {
      return ProfileLookup::NoFileName();
    }
    return ProfileLookup::File(std::string(text, length));
  }

 private:
  VariantPtr Call(const char* object_path, const char* interface, const char* method, GVariant* parameters,
                  const GVariantType* reply_type, ErrorPtr& error) {
    GError* raw_error = nullptr;
    VariantPtr reply(g_dbus_connection_call_sync(connection_, kColordName, object_path, interface, method,
                                                 parameters, reply_type, G_DBUS_CALL_FLAGS_NONE,
                                                 kDbusTimeoutMs, nullptr, &raw_error));
    error.reset(raw_error);
    return reply;
  }

  // The value of a colord object's property, or null.
  VariantPtr GetProperty(const char* object_path, const char* interface, const char* property) {
    ErrorPtr error;
    const VariantPtr reply = Call(object_path, kPropertiesInterface, "Get",
                                  g_variant_new("(ss)", interface, property), G_VARIANT_TYPE("(v)"), error);
    if (!reply) {
      return nullptr;
    }
    GVariant* value = nullptr;
    g_variant_get(reply.get(), "(v)", &value);
    return VariantPtr(value);
  }

  static bool IsRemoteError(const GError* error, const char* name) {
    if (error == nullptr || !g_dbus_error_is_remote_error(error)) {
      return false;
    }
    const GTextPtr remote(g_dbus_error_get_remote_error(error));
    return remote && std::strcmp(remote.get(), name) == 0;
  }

  GDBusConnection* connection_ = nullptr;
};

}  // namespace

DisplayList X11ColordSource::Query() {
  std::vector<std::string> output_names;
  DisplayList list = QueryDisplays(output_names);
  if (list.error != 0 || list.displays.empty()) {
    return list;
  }
  ColordClient colord;
  int failure = colord.Connect();
  for (std::size_t i = 0; i < list.displays.size(); ++i) {
    if (failure == kExitOk) {
      list.displays[i].profile = colord.FindProfile(output_names[i]);
      if (list.displays[i].profile.kind == ProfileLookup::Kind::kFailed) {
        failure = list.displays[i].profile.error;
      }
    } else {
      // The listing ends at the first failure; colord is not asked again.
      list.displays[i].profile = ProfileLookup::Failed(failure);
    }
  }
  return list;
}

}  // namespace vistal
