// VistalWayland.cpp - display records from a Wayland compositor (wl_output and
// xdg-output), with the EDID of each output's kernel connector.

#include "VistalWayland.h"

#include <poll.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "VistalSysfsEdid.h"
#include "xdg-output-unstable-v1-client-protocol.h"

namespace vistal {
namespace {

using Clock = std::chrono::steady_clock;

// Highest versions whose events this file handles.
constexpr std::uint32_t kOutputVersion = 4;
constexpr std::uint32_t kXdgOutputManagerVersion = 3;

// What the compositor tells about one wl_output global.
struct Output {
  std::uint32_t global_name = 0;
  wl_output* output = nullptr;
  zxdg_output_v1* xdg_output = nullptr;
  bool removed = false;
  WaylandOutputState state;
  std::int32_t physical_width = 0;
  std::int32_t physical_height = 0;
  std::string output_name;  // wl_output version 4
  std::string xdg_name;     // zxdg_output_v1 version 2
  std::string make;
  std::string model;
  bool has_geometry = false;
  bool has_mode = false;
  bool has_done = false;  // wl_output version 2: the description is whole
  bool has_logical_position = false;
  bool has_logical_size = false;
  std::int32_t logical_x = 0;
  std::int32_t logical_y = 0;
  std::int32_t logical_width = 0;
  std::int32_t logical_height = 0;

  ~Output() {
    if (xdg_output != nullptr) {
      zxdg_output_v1_destroy(xdg_output);
    }
    if (output != nullptr) {
      wl_output_destroy(output);
    }
  }
};

struct Session {
  wl_display* display = nullptr;
  wl_registry* registry = nullptr;
  zxdg_output_manager_v1* xdg_manager = nullptr;
  std::vector<std::unique_ptr<Output>> outputs;  // announcement order; stable addresses for the listeners
  bool new_outputs = false;                      // an output was announced since the last look

  Session() = default;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session() {
    outputs.clear();
    if (xdg_manager != nullptr) {
      zxdg_output_manager_v1_destroy(xdg_manager);
    }
    if (registry != nullptr) {
      wl_registry_destroy(registry);
    }
    if (display != nullptr) {
      wl_display_disconnect(display);
    }
  }

  std::size_t LiveOutputs() const {
    return static_cast<std::size_t>(
        std::count_if(outputs.begin(), outputs.end(), [](const auto& output) { return !output->removed; }));
  }
};

// ---------------------------------------------------------------------------
// Event handlers.

void OnOutputGeometry(void* data, wl_output* /*output*/, std::int32_t x, std::int32_t y,
                      std::int32_t physical_width, std::int32_t physical_height, std::int32_t /*subpixel*/,
                      const char* make, const char* model, std::int32_t transform) {
  auto* output = static_cast<Output*>(data);
  output->has_geometry = true;
  output->make = make != nullptr ? make : "";
  output->model = model != nullptr ? model : "";
  output->state.x = x;
  output->state.y = y;
  output->state.transform = transform;
  output->physical_width = physical_width;
  output->physical_height = physical_height;
}

void OnOutputMode(void* data, wl_output* /*output*/, std::uint32_t flags, std::int32_t width,
                  std::int32_t height, std::int32_t /*refresh*/) {
  if ((flags & WL_OUTPUT_MODE_CURRENT) != 0) {
    auto* output = static_cast<Output*>(data);
    output->state.mode_width = width;
    output->state.mode_height = height;
    output->has_mode = true;
  }
}

void OnOutputDone(void* data, wl_output* /*output*/) { static_cast<Output*>(data)->has_done = true; }

void OnOutputScale(void* data, wl_output* /*output*/, std::int32_t factor) {
  static_cast<Output*>(data)->state.scale = factor;
}

void OnOutputName(void* data, wl_output* /*output*/, const char* name) {
  static_cast<Output*>(data)->output_name = name;
}

void OnOutputDescription(void* /*data*/, wl_output* /*output*/, const char* /*description*/) {}

const wl_output_listener kOutputListener = {OnOutputGeometry, OnOutputMode, OnOutputDone,
                                            OnOutputScale,    OnOutputName, OnOutputDescription};

void OnXdgPosition(void* data, zxdg_output_v1* /*xdg_output*/, std::int32_t x, std::int32_t y) {
  auto* output = static_cast<Output*>(data);
  output->logical_x = x;
  output->logical_y = y;
  output->has_logical_position = true;
}

void OnXdgSize(void* data, zxdg_output_v1* /*xdg_output*/, std::int32_t width, std::int32_t height) {
  auto* output = static_cast<Output*>(data);
  output->logical_width = width;
  output->logical_height = height;
  output->has_logical_size = true;
}

void OnXdgDone(void* /*data*/, zxdg_output_v1* /*xdg_output*/) {}

void OnXdgName(void* data, zxdg_output_v1* /*xdg_output*/, const char* name) {
  static_cast<Output*>(data)->xdg_name = name;
}

void OnXdgDescription(void* /*data*/, zxdg_output_v1* /*xdg_output*/, const char* /*description*/) {}

const zxdg_output_v1_listener kXdgOutputListener = {OnXdgPosition, OnXdgSize, OnXdgDone, OnXdgName,
                                                    OnXdgDescription};

void OnGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t version) {
  auto* session = static_cast<Session*>(data);
  if (std::strcmp(interface, wl_output_interface.name) == 0) {
    if (session->LiveOutputs() >= kMaxDisplays) {
      return;
    }
    auto output = std::make_unique<Output>();
    output->global_name = name;
    output->output = static_cast<wl_output*>(
        wl_registry_bind(registry, name, &wl_output_interface, std::min(version, kOutputVersion)));
    wl_output_add_listener(output->output, &kOutputListener, output.get());
    session->outputs.push_back(std::move(output));
    session->new_outputs = true;
  } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0 &&
             session->xdg_manager == nullptr) {
    session->xdg_manager = static_cast<zxdg_output_manager_v1*>(wl_registry_bind(
        registry, name, &zxdg_output_manager_v1_interface, std::min(version, kXdgOutputManagerVersion)));
    session->new_outputs = true;  // the outputs known so far need their xdg-output
  }
}

void OnGlobalRemove(void* data, wl_registry* /*registry*/, std::uint32_t name) {
  for (const auto& output : static_cast<Session*>(data)->outputs) {
    if (output->global_name == name) {
      output->removed = true;
    }
  }
}

const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

void OnSyncDone(void* data, wl_callback* /*callback*/, std::uint32_t /*serial*/) {
  *static_cast<bool*>(data) = true;
}

const wl_callback_listener kSyncListener = {OnSyncDone};

// libwayland's own complaints (a missing XDG_RUNTIME_DIR, say) are diagnostics.
extern "C" void OnWaylandLog(const char* format, va_list args) {
  char text[256];
  std::vsnprintf(text, sizeof text, format, args);
  text[std::strcspn(text, "\n")] = '\0';
  DebugNote("libwayland: %s", text);
}

// ---------------------------------------------------------------------------
// A round trip that gives up at `deadline`: wl_display_roundtrip would wait for
// ever on a compositor that accepted the connection but does not answer.

bool RoundTrip(wl_display* display, Clock::time_point deadline) {
  bool done = false;
  wl_callback* callback = wl_display_sync(display);
  if (callback == nullptr) {
    return false;
  }
  wl_callback_add_listener(callback, &kSyncListener, &done);
  bool ok = true;
  while (!done) {
    if (wl_display_prepare_read(display) != 0) {
      if (wl_display_dispatch_pending(display) < 0) {
        ok = false;
        break;
      }
      continue;
    }
    short events = POLLIN;
    if (wl_display_flush(display) < 0) {
      if (errno != EAGAIN) {
        wl_display_cancel_read(display);
        ok = false;
        break;
      }
      events |= POLLOUT;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd poll_fd{wl_display_get_fd(display), events, 0};
    const int ready = left > 0 ? ::poll(&poll_fd, 1, static_cast<int>(left)) : 0;
    if (ready < 0 && errno == EINTR) {
      wl_display_cancel_read(display);
      continue;
    }
    if (ready <= 0) {
      wl_display_cancel_read(display);
      DebugNote(ready == 0 ? "the compositor does not answer within %u s" : "poll failed (%u s deadline)",
                kServerTimeoutSeconds);
      ok = false;
      break;
    }
    if ((poll_fd.revents & POLLIN) == 0) {
      wl_display_cancel_read(display);
      if ((poll_fd.revents & (POLLERR | POLLHUP)) != 0) {
        DebugNote("the compositor closed the connection");
        ok = false;
        break;
      }
      continue;
    }
    if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0) {
      ok = false;
      break;
    }
  }
  wl_callback_destroy(callback);
  if (!ok && wl_display_get_error(display) != 0) {
    DebugNote("the connection to the compositor failed: %s", std::strerror(wl_display_get_error(display)));
  }
  return ok;
}

// Whether the compositor has described the output in full: geometry, current
// mode, the closing done event (wl_output version 2 and later) and, when the
// compositor offers xdg-output, the logical position and size.
bool IsComplete(const Output& output, bool has_xdg_manager) {
  const bool done = output.has_done || wl_output_get_version(output.output) < WL_OUTPUT_DONE_SINCE_VERSION;
  return output.has_geometry && output.has_mode && done &&
         (!has_xdg_manager || (output.has_logical_position && output.has_logical_size));
}

FoundOutput MakeFoundOutput(const Output& output) {
  FoundOutput found;
  found.name = output.xdg_name.empty() ? output.output_name : output.xdg_name;
  found.make = output.make;
  found.model = output.model;
  DisplayRecord& record = found.record;
  record.id = static_cast<std::int32_t>(output.global_name);
  if (output.has_logical_position && output.has_logical_size) {
    record.origin_x = static_cast<float>(output.logical_x);
    record.origin_y = static_cast<float>(output.logical_y);
    record.width = static_cast<float>(output.logical_width);
    record.height = static_cast<float>(output.logical_height);
  } else {
    const Bounds bounds = BoundsFromOutputMode(output.state);
    record.origin_x = bounds.x;
    record.origin_y = bounds.y;
    record.width = bounds.width;
    record.height = bounds.height;
  }
  record.width_mm = static_cast<float>(output.physical_width);
  record.height_mm = static_cast<float>(output.physical_height);
  DebugNote("output %u %s (make \"%s\", model \"%s\"), bounds from %s", output.global_name,
            found.name.empty() ? "(no name)" : found.name.c_str(), output.make.c_str(), output.model.c_str(),
            output.has_logical_size ? "xdg-output" : "wl_output mode and scale");
  if (!output.has_logical_size) {
    DebugNote(
        "output %u: without xdg-output the size is the mode divided by the integer scale %d; "
        "compositors round fractional scales up, so at such a scale it is too small",
        output.global_name, static_cast<int>(output.state.scale));
  }
  if (!found.name.empty()) {
    found.edid = ReadConnectorEdid(found.name).bytes;
  }
  const EdidIds ids = ReadEdidIds(found.edid);
  record.vendor = ids.vendor;
  record.product = ids.product;
  return found;
}

}  // namespace

FoundOutputs WaylandOutputSource::List() {
  FoundOutputs found;
  found.error = kExitWaylandUnreachable;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(kServerTimeoutSeconds);
  wl_log_set_handler_client(OnWaylandLog);

  Session session;
  session.display = wl_display_connect(nullptr);
  if (session.display == nullptr) {
    DebugNote("no Wayland compositor at %s: %s", std::getenv("WAYLAND_DISPLAY"), std::strerror(errno));
    return found;
  }
  session.registry = wl_display_get_registry(session.display);
  if (session.registry == nullptr) {
    return found;
  }
  wl_registry_add_listener(session.registry, &kRegistryListener, &session);
  // Round trips until one announces no new output: the first brings the globals
  // (binding the outputs), the next the outputs' own events; an output announced
  // meanwhile gets its xdg-output and one more round trip.
  if (!RoundTrip(session.display, deadline)) {
    return found;
  }
  if (session.xdg_manager == nullptr) {
    DebugNote("the compositor offers no zxdg_output_manager_v1");
  }
  while (session.new_outputs) {
    session.new_outputs = false;
    for (const auto& output : session.outputs) {
      if (session.xdg_manager != nullptr && output->xdg_output == nullptr && !output->removed) {
        output->xdg_output = zxdg_output_manager_v1_get_xdg_output(session.xdg_manager, output->output);
        zxdg_output_v1_add_listener(output->xdg_output, &kXdgOutputListener, output.get());
      }
    }
    if (!RoundTrip(session.display, deadline)) {
      return found;
    }
  }

  found.error = kExitOk;
  for (const auto& output : session.outputs) {
    if (output->removed) {
      continue;
    }
    if (IsComplete(*output, session.xdg_manager != nullptr)) {
      found.outputs.push_back(MakeFoundOutput(*output));
    } else {
      DebugNote("output %u left out: the compositor has not described it in full", output->global_name);
    }
  }
  return found;
}

}  // namespace vistal
