// VistalTestPeer.cpp - the other end of vistal's connections, where no real
// server behaves the way a test needs:
//
//   vistal_test_peer compositor NAME COUNT
//       a Wayland compositor on $XDG_RUNTIME_DIR/NAME that announces its outputs
//       late: output k+1 appears when a client asks for output k's xdg-output,
//       up to COUNT. Output k (from 0) is "LATE-<k+1>", mode 1000x800 at scale 2,
//       264x211 mm, logical position (500k, 0) and size 500x400. The outputs stay
//       announced: start one for each client.
//   vistal_test_peer bus PATH
//       a D-Bus "bus" on the socket PATH that authenticates every client and
//       then never answers.
//
// Each ends itself after 60 s.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-server.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "xdg-output-unstable-v1-server-protocol.h"

namespace {

struct Compositor {
  wl_display* display = nullptr;
  std::vector<wl_global*> outputs;
  std::size_t wanted = 0;
};
Compositor g_compositor;

void AddOutput();

void Destroy(wl_client* /*client*/, wl_resource* resource) { wl_resource_destroy(resource); }

const struct wl_output_interface kOutputImplementation = {Destroy};
const struct zxdg_output_v1_interface kXdgOutputImplementation = {Destroy};

void BindOutput(wl_client* client, void* data, std::uint32_t version, std::uint32_t id) {
  const auto index = static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(data));
  wl_resource* resource = wl_resource_create(client, &wl_output_interface, static_cast<int>(version), id);
  wl_resource_set_implementation(resource, &kOutputImplementation, data, nullptr);
  wl_output_send_geometry(resource, 500 * index, 0, 264, 211, WL_OUTPUT_SUBPIXEL_UNKNOWN, "Lab", "Late",
                          WL_OUTPUT_TRANSFORM_NORMAL);
  wl_output_send_mode(resource, WL_OUTPUT_MODE_CURRENT, 1000, 800, 60000);
  wl_output_send_scale(resource, 2);
  wl_output_send_done(resource);
}

void GetXdgOutput(wl_client* client, wl_resource* manager, std::uint32_t id, wl_resource* output) {
  void* data = wl_resource_get_user_data(output);
  const auto index = static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(data));
  wl_resource* resource =
      wl_resource_create(client, &zxdg_output_v1_interface, wl_resource_get_version(manager), id);
  wl_resource_set_implementation(resource, &kXdgOutputImplementation, data, nullptr);
  zxdg_output_v1_send_logical_position(resource, 500 * index, 0);
  zxdg_output_v1_send_logical_size(resource, 500, 400);
  zxdg_output_v1_send_name(resource, ("LATE-" + std::to_string(index + 1)).c_str());
  wl_output_send_done(output);
  if (static_cast<std::size_t>(index) + 1 == g_compositor.outputs.size()) {
    AddOutput();
  }
}

const struct zxdg_output_manager_v1_interface kManagerImplementation = {Destroy, GetXdgOutput};

void BindManager(wl_client* client, void* /*data*/, std::uint32_t version, std::uint32_t id) {
  wl_resource* resource =
      wl_resource_create(client, &zxdg_output_manager_v1_interface, static_cast<int>(version), id);
  wl_resource_set_implementation(resource, &kManagerImplementation, nullptr, nullptr);
}

void AddOutput() {
  if (g_compositor.outputs.size() < g_compositor.wanted) {
    void* index = reinterpret_cast<void*>(static_cast<std::intptr_t>(g_compositor.outputs.size()));
    g_compositor.outputs.push_back(
        wl_global_create(g_compositor.display, &wl_output_interface, 3, index, BindOutput));
  }
}

int RunCompositor(const char* name, std::size_t count) {
  g_compositor.display = wl_display_create();
  g_compositor.wanted = count;
  if (g_compositor.display == nullptr || wl_display_add_socket(g_compositor.display, name) != 0) {
    std::perror("vistal_test_peer: wl_display_add_socket");
    return 1;
  }
  wl_global_create(g_compositor.display, &zxdg_output_manager_v1_interface, 3, nullptr, BindManager);
  AddOutput();
  wl_display_run(g_compositor.display);
  return 0;
}

int RunSilentBus(const char* path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path);
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 8) != 0) {
    std::perror("vistal_test_peer: bind");
    return 1;
  }
  for (;;) {
    const int client = accept(listener, nullptr, nullptr);
    std::string line;
    char c = 0;
    while (read(client, &c, 1) == 1) {  // the authentication, a line at a time
      if (c != '\n') {
        line += c == '\0' ? "" : std::string(1, c);
        continue;
      }
      const char* reply = line.starts_with("AUTH ")               ? "OK 0123456789abcdef0123456789abcdef\r\n"
                          : line.starts_with("AUTH")              ? "REJECTED EXTERNAL\r\n"
                          : line.starts_with("NEGOTIATE_UNIX_FD") ? "AGREE_UNIX_FD\r\n"
                                                                  : "";
      if (line.starts_with("BEGIN")) {
        break;
      }
      line.clear();
      if (write(client, reply, std::strlen(reply)) < 0) {
        break;
      }
    }
    while (read(client, &c, 1) == 1) {  // the client's Hello, never answered
    }
    close(client);
  }
}

}  // namespace

int main(int argc, char** argv) {
  alarm(60);
  if (argc == 4 && std::strcmp(argv[1], "compositor") == 0) {
    return RunCompositor(argv[2], std::strtoul(argv[3], nullptr, 10));
  }
  if (argc == 3 && std::strcmp(argv[1], "bus") == 0) {
    return RunSilentBus(argv[2]);
  }
  std::fprintf(stderr, "usage: vistal_test_peer compositor NAME COUNT | bus PATH\n");
  return 2;
}
