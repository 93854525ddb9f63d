// VistalColord.cpp - profiles from colord over the system D-Bus, with GIO.

#include "VistalColord.h"

#include <gio/gio.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace vistal {
namespace {

constexpr const char* kColordName = "org.freedesktop.ColorManager";
constexpr const char* kColordPath = "/org/freedesktop/ColorManager";
constexpr const char* kColordInterface = "org.freedesktop.ColorManager";
constexpr const char* kDeviceInterface = "org.freedesktop.ColorManager.Device";
constexpr const char* kProfileInterface = "org.freedesktop.ColorManager.Profile";
constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";
constexpr const char* kXrandrNameKey = "XRANDR_name";
constexpr const char* kEdidMd5Key = "OutputEdidMd5";
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
struct GChecksumFree {
  void operator()(GChecksum* checksum) const { g_checksum_free(checksum); }
};

using CancellablePtr = std::unique_ptr<GCancellable, GObjectUnref>;
using VariantPtr = std::unique_ptr<GVariant, GVariantUnref>;
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;
using GTextPtr = std::unique_ptr<gchar, GFree>;
using ChecksumPtr = std::unique_ptr<GChecksum, GChecksumFree>;

const char* ErrorText(const GError* error) { return error != nullptr ? error->message : "no reply"; }

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

}  // namespace

std::string EdidMd5(std::span<const std::uint8_t> edid) {
  const ChecksumPtr checksum(g_checksum_new(G_CHECKSUM_MD5));
  g_checksum_update(checksum.get(), edid.data(), static_cast<gssize>(edid.size()));
  return g_checksum_get_string(checksum.get());  // lowercase hexadecimal
}

class ColordProfileFinder::Client {
 public:
  Client() = default;
  ~Client() {
    if (connection_ != nullptr) {
      g_dbus_connection_close_sync(connection_, nullptr, nullptr);
      g_object_unref(connection_);
    }
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Opens a private connection to the system bus; 0 or an exit code.
  int Connect() {
    GError* raw_error = nullptr;
    const GTextPtr address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, &raw_error));
    const ErrorPtr address_error(raw_error);
    if (!address) {
      DebugNote("no system bus: %s", ErrorText(address_error.get()));
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
    if (connection_ == nullptr) {
      DebugNote("the system bus %s cannot be reached: %s", address.get(), ErrorText(connect_error.get()));
      return kExitNoSystemBus;
    }
    return kExitOk;
  }

  ProfileLookup FindProfile(const FoundOutput& output) {
    ErrorPtr error;
    VariantPtr device_reply;
    if (!output.name.empty()) {
      device_reply = FindDevice(kXrandrNameKey, output.name, error);
    }
    if (!device_reply && (output.name.empty() || IsRemoteError(error.get(), kColordNotFound)) &&
        !output.edid.empty()) {
      device_reply = FindDevice(kEdidMd5Key, EdidMd5(output.edid), error);
    }
    if (!device_reply && output.name.empty() && output.edid.empty()) {
      DebugNote("output %d has neither a name nor an EDID to find its colord device by",
                static_cast<int>(output.record.id));
    }
    if (!device_reply) {
      return ProfileLookup::Failed(IsRemoteError(error.get(), kColordNotFound) || !error
                                       ? kExitNoColordDevice
                                       : kExitColordUnavailable);
    }
    const gchar* device_path = nullptr;
    g_variant_get(device_reply.get(), "(&o)", &device_path);

    const VariantPtr profiles = GetProperty(device_path, kDeviceInterface, "Profiles");
    if (!profiles || !g_variant_is_of_type(profiles.get(), G_VARIANT_TYPE_OBJECT_PATH_ARRAY)) {
      return ProfileLookup::Failed(kExitColordUnavailable);
    }
    if (g_variant_n_children(profiles.get()) == 0) {
      DebugNote("the device %s has no profile", device_path);
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
    DebugNote("profile %s, file \"%s\"", profile_path, text);
    if (length == 0) {
      return ProfileLookup::NoFileName();
    }
    return ProfileLookup::File(std::string(text, length));
  }

 private:
  // The colord device whose metadata `key` is `value`, or null with `error` set.
  VariantPtr FindDevice(const char* key, const std::string& value, ErrorPtr& error) {
    VariantPtr reply = Call(kColordPath, kColordInterface, "FindDeviceByProperty",
                            g_variant_new("(ss)", key, value.c_str()), G_VARIANT_TYPE("(o)"), error);
    if (reply) {
      const gchar* path = nullptr;
      g_variant_get(reply.get(), "(&o)", &path);
      DebugNote("colord device %s (%s \"%s\")", path, key, value.c_str());
    } else {
      DebugNote("no colord device with %s \"%s\": %s", key, value.c_str(), ErrorText(error.get()));
    }
    return reply;
  }

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
      DebugNote("%s of %s cannot be read: %s", property, object_path, ErrorText(error.get()));
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

ColordProfileFinder::ColordProfileFinder() = default;
ColordProfileFinder::~ColordProfileFinder() = default;

ProfileLookup ColordProfileFinder::Find(const FoundOutput& output) {
  if (connect_result_ < 0) {
    client_ = std::make_unique<Client>();
    connect_result_ = client_->Connect();
  }
  if (connect_result_ != kExitOk) {
    return ProfileLookup::Failed(connect_result_);
  }
  return client_->FindProfile(output);
}

}  // namespace vistal
