// VoLinuxClipboard.cpp - the CLIPBOARD selection through wl-clipboard, xclip or xsel.
#include "Linux/VoLinuxClipboardPrivate.h"

#include <time.h>

#include <cstdlib>
#include <vector>

#include "Linux/VoLinuxProcessPrivate.h"
#include "Linux/VoLinuxSys.h"
#include "Linux/VoLinuxX11Private.h"

namespace {

constexpr int kIdleMilliseconds = 5000;
const VoLinuxRunLimits kLimits{10000, 64u << 20};

enum class Tool { None, Wayland, XClip, XSel };

bool EnvSet(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

Tool ChooseTool() {
  if (EnvSet("WAYLAND_DISPLAY") && !VoLinuxFindProgram("wl-copy").empty() &&
      !VoLinuxFindProgram("wl-paste").empty())
    return Tool::Wayland;
  if (EnvSet("DISPLAY")) {
    if (!VoLinuxFindProgram("xclip").empty()) return Tool::XClip;
    if (!VoLinuxFindProgram("xsel").empty()) return Tool::XSel;
  }
  return Tool::None;
}

/// Runs a tool and collects its output; true when it ran and exited with 0.
bool Capture(const std::vector<std::string>& argv, std::string* out) {
  out->clear();
  const VoLinuxRunResult r = VoLinuxRun(argv, nullptr, out, kIdleMilliseconds, kLimits);
  if (!(r.started && !r.timedOut && r.exitCode == 0)) {
    out->clear();
    return false;
  }
  return true;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string::size_type start = 0;
  while (start < text.size()) {
    std::string::size_type end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

/// The X11 targets in the order they are asked for.
const char* const kXTextTargets[] = {"UTF8_STRING", "text/plain;charset=utf-8", "STRING", "TEXT",
                                     "text/plain"};

/// The best text target the CLIPBOARD owner offers; "" when it offers none
/// (or there is no owner).
std::string XClipTextTarget() {
  std::string targets;
  if (!Capture({"xclip", "-selection", "clipboard", "-out", "-target", "TARGETS"}, &targets))
    return std::string();
  const std::vector<std::string> offered = Lines(targets);
  for (const char* want : kXTextTargets)
    for (const std::string& t : offered)
      if (t == want) return t;
  return std::string();
}

bool IsWaylandTextType(const std::string& type) {
  return type.compare(0, 5, "text/") == 0 || type == "TEXT" || type == "STRING" || type == "UTF8_STRING";
}

/// Waits until the CLIPBOARD owner differs from \p before (up to a second).
void WaitForNewOwner(bool known, unsigned long before) {
  if (!known) return;
  for (int i = 0; i < 200; ++i) {
    unsigned long owner = 0;
    if (!VoLinuxX11ClipboardOwner(&owner)) return;
    if (owner != 0 && owner != before) return;
    const struct timespec pause = {0, 5000000};
    gVoSys.clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
  }
}

}  // namespace

bool VoLinuxClipboardPut(const std::string& text) {
  const Tool tool = ChooseTool();
  std::vector<std::string> argv;
  switch (tool) {
    case Tool::Wayland:
      argv = {"wl-copy", "--type", "text/plain;charset=utf-8"};
      break;
    case Tool::XClip:
      argv = {"xclip", "-selection", "clipboard", "-in", "-target", "UTF8_STRING"};
      break;
    case Tool::XSel:
      argv = {"xsel", "--clipboard", "--input"};
      break;
    case Tool::None:
      return false;
  }
  unsigned long before = 0;
  const bool known = tool != Tool::Wayland && VoLinuxX11ClipboardOwner(&before);
  const VoLinuxRunResult r = VoLinuxRun(argv, &text, nullptr, kIdleMilliseconds, kLimits);
  if (!(r.started && !r.timedOut && r.exitCode == 0)) return false;
  WaitForNewOwner(known, before);
  return true;
}

bool VoLinuxClipboardGet(std::string* text) {
  text->clear();
  switch (ChooseTool()) {
    case Tool::Wayland:
      return Capture({"wl-paste", "--no-newline", "--type", "text"}, text);
    case Tool::XClip: {
      const std::string target = XClipTextTarget();
      if (target.empty()) return false;
      return Capture({"xclip", "-selection", "clipboard", "-out", "-target", target}, text);
    }
    case Tool::XSel:
      return Capture({"xsel", "--clipboard", "--output"}, text) && !text->empty();
    case Tool::None:
      break;
  }
  return false;
}

bool VoLinuxClipboardHasText() {
  std::string out;
  switch (ChooseTool()) {
    case Tool::Wayland:
      if (!Capture({"wl-paste", "--list-types"}, &out)) return false;
      for (const std::string& t : Lines(out))
        if (IsWaylandTextType(t)) return true;
      return false;
    case Tool::XClip:
      return !XClipTextTarget().empty();
    case Tool::XSel:
      return Capture({"xsel", "--clipboard", "--output"}, &out) && !out.empty();
    case Tool::None:
      break;
  }
  return false;
}
