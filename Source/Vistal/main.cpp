// main.cpp - vistal: lists the active displays and the ICC profile of each.

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "VistalColord.h"
#include "VistalPlatform.h"
#include "VistalWayland.h"
#include "VistalX11.h"

int main(int argc, char** argv) {
  std::vector<std::string_view> args;
  for (int i = 1; i < argc; ++i) {
    args.emplace_back(argv[i]);
  }
  vistal::WaylandOutputSource wayland;
  vistal::X11OutputSource x11;
  vistal::ColordProfileFinder colord;
  vistal::SessionSource source(std::getenv("WAYLAND_DISPLAY"), std::getenv("DISPLAY"), wayland, x11, colord);
  const vistal::Outcome outcome = vistal::Run(args, source);
  std::fwrite(outcome.text.data(), 1, outcome.text.size(), stdout);
  std::fflush(stdout);
  return outcome.status;
}
