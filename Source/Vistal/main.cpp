// main.cpp - vistal: lists the active displays and the ICC profile of each.

#include <cstdio>
#include <string_view>
#include <vector>

#include "VistalPlatform.h"
#include "VistalX11Colord.h"

int main(int argc, char** argv) {
  std::vector<std::string_view> args;
  for (int i = 1; i < argc; ++i) {
    args.emplace_back(argv[i]);
  }
  vistal::X11ColordSource source;
  const vistal::Outcome outcome = vistal::Run(args, source);
  std::fwrite(outcome.text.data(), 1, outcome.text.size(), stdout);
  std::fflush(stdout);
  return outcome.status;
}
