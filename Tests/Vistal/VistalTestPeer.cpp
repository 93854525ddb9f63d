// VistalTestPeer.cpp - the other end where no real server behaves as a test needs
// (ends itself after 60 s). "compositor NAME COUNT": a Wayland compositor on
// $XDG_RUNTIME_DIR/NAME; output k+1 appears when a client asks for output k's
// xdg-output, up to COUNT (one client a run); output k from 0, "LATE-<k+1>": mode
// 1000x800, scale 2, 264x211 mm, logically 500x400 at (500k, 0). "bus PATH": a
// D-Bus bus on the socket PATH that authenticates, then never answers.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-server.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "xdg-output-unstable-v1-server-protocol.h"

namespace {

wl_display* g_display = nullptr;
std::size_t g_outputs = 0;
std::size_t g_wanted = 0;

void Destroy(wl_client* /*client*/, wl_resource* resource) { wl_resource_destroy(resource); }
const struct wl_output_interface kOutputImplementation = {Destroy};
const struct zxdg_output_v1_interface kXdgOutputImplementation = {Destroy};

std::int32_t IndexOf(wl_resource* output) {
  return static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(wl_resource_get_user_data(output)));
}

void BindOutput(wl_client* client, void* data, std::uint32_t version, std::uint32_t id) {
  wl_resource* output = wl_resource_create(client, &wl_output_interface, static_cast<int>(version), id);
  wl_resource_set_implementation(output, &kOutputImplementation, data, nullptr);
  wl_output_send_geometry(output, 500 * IndexOf(output), 0, 264, 211, WL_OUTPUT_SUBPIXEL_UNKNOWN, "Lab",
                          "Late", WL_OUTPUT_TRANSFORM_NORMAL);
  wl_output_send_mode(output, WL_OUTPUT_MODE_CURRENT, 1000, 800, 60000);
  wl_output_send_scale(output, 2);
  wl_output_send_done(output);
}

void AddOutput() {
  if (g_outputs < g_wanted) {
    void* index = reinterpret_cast<void*>(static_cast<std::intptr_t>(g_outputs++));
    wl_global_create(g_display, &wl_output_interface, 3, index, BindOutput);
  }
}

void GetXdgOutput(wl_client* client, wl_resource* manager, std::uint32_t id, wl_resource* output) {
  const std::int32_t index = IndexOf(output);
  wl_resource* xdg =
      wl_resource_create(client, &zxdg_output_v1_interface, wl_resource_get_version(manager), id);
  wl_resource_set_implementation(xdg, &kXdgOutputImplementation, nullptr, nullptr);
  zxdg_output_v1_send_logical_position(xdg, 500 * index, 0);
  zxdg_output_v1_send_logical_size(xdg, 500, 400);
  zxdg_output_v1_send_name(xdg, ("LATE-" + std::to_string(index + 1)).c_str());
  wl_output_send_done(output);
  if (static_cast<std::size_t>(index) + 1 == g_outputs) {
    AddOutput();
  }
}

const struct zxdg_output_manager_v1_interface kManagerImplementation = {Destroy, GetXdgOutput};

void BindManager(wl_client* client, void* /*data*/, std::uint32_t version, std::uint32_t id) {
  wl_resource* manager =
      wl_resource_create(client, &zxdg_output_manager_v1_interface, static_cast<int>(version), id);
  wl_resource_set_implementation(manager, &kManagerImplementation, nullptr, nullptr);
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
    char buffer[512];
    bool authenticated = false;  // after that, the client's Hello is never answered
    for (ssize_t n = 0; (n = read(client, buffer, sizeof buffer)) > 0;) {
      const std::string text(buffer, static_cast<std::size_t>(n));
      const char* reply = authenticated ? ""
                          : text.find("AUTH EXTERNAL") != std::string::npos
                              ? "OK 0123456789abcdef0123456789abcdef\r\n"
                          : text.find("AUTH") != std::string::npos              ? "REJECTED EXTERNAL\r\n"
                          : text.find("NEGOTIATE_UNIX_FD") != std::string::npos ? "AGREE_UNIX_FD\r\n"
                                                                                : "";
      authenticated = authenticated || text.find("BEGIN") != std::string::npos;
      if (write(client, reply, std::strlen(reply)) < 0) {
        break;
      }
    }
    close(client);
  }
}

}  // namespace

int main(int argc, char** argv) {
  alarm(60);
  if (argc == 4 && std::strcmp(argv[1], "compositor") == 0) {
    g_display = wl_display_create();
    g_wanted = std::strtoul(argv[3], nullptr, 10);
    if (wl_display_add_socket(g_display, argv[2]) != 0) {
      std::perror("vistal_test_peer: wl_display_add_socket");
      return 1;
    }
    wl_global_create(g_display, &zxdg_output_manager_v1_interface, 3, nullptr, BindManager);
    AddOutput();
    wl_display_run(g_display);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "bus") == 0) {
    return RunSilentBus(argv[2]);
  }
  std::fprintf(stderr, "usage: vistal_test_peer compositor NAME COUNT | bus PATH\n");
  return 2;
}
