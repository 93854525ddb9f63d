// VistalColord.cpp - profiles from colord over the system D-Bus, with GIO.

#include "VistalColord.h"

#include <gio/gio.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <optional>

namespace vistal {
namespace {

constexpr const char* kColordName = "org.freedesktop.ColorManager";
constexpr const char* kColordPath = "/org/freedesktop/ColorManager";
constexpr const char* kColordInterface = "org.freedesktop.ColorManager";
constexpr const char* kDeviceInterface = "org.freedesktop.ColorManager.Device";
constexpr const char* kProfileInterface = "org.freedesktop.ColorManager.Profile";
constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";
constexpr const char* kBusName = "org.freedesktop.DBus";
constexpr const char* kBusPath = "/org/freedesktop/DBus";
// Where weston's colord module looks up vendor names, in this order.
constexpr const char* kPnpIdFiles[] = {"/usr/share/hwdata/pnp.ids", "/usr/share/misc/pnp.ids"};

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

// What the asynchronous connect hands back to the loop that waits for it.
struct PendingConnection {
  GDBusConnection* connection = nullptr;
  GError* error = nullptr;
  bool done = false;
};

extern "C" void OnConnected(GObject* /*source*/, GAsyncResult* result, gpointer data) {
  auto* pending = static_cast<PendingConnection*>(data);
  pending->connection = g_dbus_connection_new_for_address_finish(result, &pending->error);
  pending->done = true;
}

extern "C" gboolean OnConnectTimeout(gpointer cancellable) {
  g_cancellable_cancel(static_cast<GCancellable*>(cancellable));
  return G_SOURCE_REMOVE;
}

// The vendor name weston's colord module puts into its device ids for a PNP id;
// the list is read once, when the first three-letter make needs it.
std::string VendorName(const std::string& make) {
  if (make.size() != 3) {
    return make;
  }
  static const std::string pnp_ids = [] {
    for (const char* path : kPnpIdFiles) {
      std::ifstream file(path, std::ios::binary);
      if (file) {
        return std::string{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
      }
    }
    return std::string();
  }();
  std::string name = PnpVendorName(pnp_ids, make);
  return name.empty() ? make : name;
}

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

  // Opens a private connection to the system bus; 0 or an exit code. GIO would
  // send the bus's Hello with a timeout of its own (25 s) that no cancellable
  // cuts, so the connection is made as a plain peer connection, authenticated
  // in GIO's worker thread while this thread waits on a main context of its own
  // with the deadline, and Hello is sent here under the same deadline.
  int Connect() {
    GError* raw_error = nullptr;
    const GTextPtr address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, &raw_error));
    const ErrorPtr address_error(raw_error);
    if (!address) {
      DebugNote("no system bus: %s", ErrorText(address_error.get()));
      return kExitNoSystemBus;
    }
    const gint64 deadline = g_get_monotonic_time() + gint64{kDbusTimeoutMs} * 1000;
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    const CancellablePtr cancellable(g_cancellable_new());
    PendingConnection pending;
    g_dbus_connection_new_for_address(address.get(), G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT, nullptr,
                                      cancellable.get(), OnConnected, &pending);
    GSource* timeout = g_timeout_source_new(static_cast<guint>(kDbusTimeoutMs));
    g_source_set_callback(timeout, OnConnectTimeout, cancellable.get(), nullptr);
    g_source_attach(timeout, context);
    while (!pending.done) {
      g_main_context_iteration(context, TRUE);
    }
    g_source_destroy(timeout);
    g_source_unref(timeout);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    connection_ = pending.connection;
    const ErrorPtr connect_error(pending.error);
    if (connection_ == nullptr) {
      DebugNote("the system bus %s cannot be reached: %s", address.get(), ErrorText(connect_error.get()));
      return kExitNoSystemBus;
    }
    const gint64 left_ms = (deadline - g_get_monotonic_time()) / 1000;
    ErrorPtr hello_error;
    const VariantPtr hello = Call(kBusName, kBusPath, kBusName, "Hello", nullptr, G_VARIANT_TYPE("(s)"),
                                  hello_error, static_cast<int>(left_ms > 1 ? left_ms : 1));
    if (!hello) {
      DebugNote("the system bus %s does not answer Hello: %s", address.get(), ErrorText(hello_error.get()));
      return kExitNoSystemBus;
    }
    return kExitOk;
  }

  ProfileLookup FindProfile(const FoundOutput& output) {
    if (!devices_ && !LoadDevices()) {
      return ProfileLookup::Failed(kExitColordUnavailable);
    }
    const std::string md5 = output.edid.empty() ? std::string() : EdidMd5(output.edid);
    std::string weston_id;
    if (!output.make.empty() || !output.model.empty()) {
      weston_id = WestonColordId(VendorName(output.make), output.model, EdidSerialText(output.edid));
    }
    const char* rule = nullptr;
    const auto chosen = ChooseColordDevice(*devices_, {output.name, md5, weston_id}, ::getuid(), &rule);
    if (!chosen) {
      DebugNote("no colord display device for output %d (name \"%s\", EDID MD5 \"%s\", weston id \"%s\")",
                static_cast<int>(output.record.id), output.name.c_str(), md5.c_str(), weston_id.c_str());
      return ProfileLookup::Failed(kExitNoColordDevice);
    }
    const ColordDevice& device = (*devices_)[*chosen];
    DebugNote("colord device %s (id \"%s\", owner %u) by %s", device.path.c_str(), device.id.c_str(),
              static_cast<unsigned>(device.owner), rule);
    if (device.profiles.empty()) {
      DebugNote("the device %s has no profile", device.path.c_str());
      return ProfileLookup::Failed(kExitNoProfile);
    }
    const char* profile_path = device.profiles.front().c_str();

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
  // colord's display devices with the properties the choice needs: one call for
  // the list, one per device for its properties. False when colord cannot be asked.
  bool LoadDevices() {
    ErrorPtr error;
    const VariantPtr list = Call(kColordName, kColordPath, kColordInterface, "GetDevicesByKind",
                                 g_variant_new("(s)", "display"), G_VARIANT_TYPE("(ao)"), error);
    if (!list) {
      DebugNote("colord lists no devices: %s", ErrorText(error.get()));
      return false;
    }
    devices_.emplace();
    GVariantIter* paths = nullptr;
    const gchar* path = nullptr;
    g_variant_get(list.get(), "(ao)", &paths);
    while (g_variant_iter_next(paths, "&o", &path)) {
      const VariantPtr all = Call(kColordName, path, kPropertiesInterface, "GetAll",
                                  g_variant_new("(s)", kDeviceInterface), G_VARIANT_TYPE("(a{sv})"), error);
      if (!all) {
        DebugNote("the properties of %s cannot be read: %s", path, ErrorText(error.get()));
        continue;
      }
      ColordDevice device;
      device.path = path;
      GVariantIter* properties = nullptr;
      const gchar* name = nullptr;
      GVariant* raw_value = nullptr;
      g_variant_get(all.get(), "(a{sv})", &properties);
      while (g_variant_iter_next(properties, "{&sv}", &name, &raw_value)) {
        const VariantPtr value(raw_value);
        ReadDeviceProperty(name, value.get(), device);
      }
      g_variant_iter_free(properties);
      DebugNote("colord display device %s: id \"%s\", owner %u, %zu metadata, %zu profiles", path,
                device.id.c_str(), static_cast<unsigned>(device.owner), device.metadata.size(),
                device.profiles.size());
      devices_->push_back(std::move(device));
    }
    g_variant_iter_free(paths);
    return true;
  }

  static void ReadDeviceProperty(const char* name, GVariant* value, ColordDevice& device) {
    const std::string_view key = name;
    if (key == "DeviceId" && g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
      device.id = g_variant_get_string(value, nullptr);
    } else if (key == "Kind" && g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
      device.kind = g_variant_get_string(value, nullptr);
    } else if (key == "Owner" && g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32)) {
      device.owner = g_variant_get_uint32(value);
    } else if (key == "Metadata" && g_variant_is_of_type(value, G_VARIANT_TYPE("a{ss}"))) {
      GVariantIter iter;
      const gchar* entry_key = nullptr;
      const gchar* entry_value = nullptr;
      g_variant_iter_init(&iter, value);
      while (g_variant_iter_next(&iter, "{&s&s}", &entry_key, &entry_value)) {
        device.metadata.emplace_back(entry_key, entry_value);
      }
    } else if (key == "Profiles" && g_variant_is_of_type(value, G_VARIANT_TYPE_OBJECT_PATH_ARRAY)) {
      GVariantIter iter;
      const gchar* profile = nullptr;
      g_variant_iter_init(&iter, value);
      while (g_variant_iter_next(&iter, "&o", &profile)) {
        device.profiles.emplace_back(profile);
      }
    }
  }

  VariantPtr Call(const char* destination, const char* object_path, const char* interface, const char* method,
                  GVariant* parameters, const GVariantType* reply_type, ErrorPtr& error,
                  int timeout_ms = kDbusTimeoutMs) {
    GError* raw_error = nullptr;
    VariantPtr reply(g_dbus_connection_call_sync(connection_, destination, object_path, interface, method,
                                                 parameters, reply_type, G_DBUS_CALL_FLAGS_NONE, timeout_ms,
                                                 nullptr, &raw_error));
    error.reset(raw_error);
    return reply;
  }

  // The value of a colord object's property, or null.
  VariantPtr GetProperty(const char* object_path, const char* interface, const char* property) {
    ErrorPtr error;
    const VariantPtr reply = Call(kColordName, object_path, kPropertiesInterface, "Get",
                                  g_variant_new("(ss)", interface, property), G_VARIANT_TYPE("(v)"), error);
    if (!reply) {
      DebugNote("%s of %s cannot be read: %s", property, object_path, ErrorText(error.get()));
      return nullptr;
    }
    GVariant* value = nullptr;
    g_variant_get(reply.get(), "(v)", &value);
    return VariantPtr(value);
  }

  GDBusConnection* connection_ = nullptr;
  std::optional<std::vector<ColordDevice>> devices_;  // loaded on the first lookup
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
