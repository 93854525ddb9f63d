// VistalX11.cpp - display records from X RandR.

#include "VistalX11.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "VistalSysfsEdid.h"

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
    alarm(kServerTimeoutSeconds);
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

// The output's whole EDID property; empty when the output has none.
std::vector<std::uint8_t> ReadEdidProperty(Display* display, RROutput output, Atom edid_atom) {
  std::vector<std::uint8_t> bytes;
  if (edid_atom == None) {
    return bytes;
  }
  Atom actual_type = None;
  int actual_format = 0;
  unsigned long item_count = 0;
  unsigned long bytes_after = 0;
  unsigned char* raw = nullptr;
  const long kLongsToRead = kMaxEdidBytes / 4;
  const int status =
      XRRGetOutputProperty(display, output, edid_atom, 0, kLongsToRead, False, False, AnyPropertyType,
                           &actual_type, &actual_format, &item_count, &bytes_after, &raw);
  const XDataPtr data(raw);
  if (status == Success && data && actual_format == 8) {
    bytes.assign(data.get(), data.get() + item_count);
  }
  return bytes;
}

// Asks the X server `display_name` for its active outputs; 0 or an exit code.
int QueryOutputs(const char* display_name, std::vector<FoundOutput>& outputs) {
  const XServerGuard guard;
  const DisplayPtr display(XOpenDisplay(display_name));
  if (!display) {
    return kExitXServerUnreachable;
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
    return kExitNoRandR;
  }
  const Window root = DefaultRootWindow(display.get());
  // The server's current configuration, without probing the outputs again (a probe
  // reads every monitor's EDID and can take long on real hardware).
  const bool has_current = major > 1 || minor >= 3;
  const ScreenResourcesPtr resources(has_current ? XRRGetScreenResourcesCurrent(display.get(), root)
                                                 : XRRGetScreenResources(display.get(), root));
  if (!resources) {
    return kExitNoRandR;
  }
  const Atom edid_atom = XInternAtom(display.get(), RR_PROPERTY_RANDR_EDID, True);

  for (int i = 0; i < resources->noutput && outputs.size() < kMaxDisplays; ++i) {
    const RROutput output = resources->outputs[i];
    const OutputInfoPtr info(XRRGetOutputInfo(display.get(), resources.get(), output));
    if (!info || info->connection != RR_Connected || info->crtc == None) {
      continue;
    }
    const CrtcInfoPtr crtc(XRRGetCrtcInfo(display.get(), resources.get(), info->crtc));
    if (!crtc || crtc->mode == None) {
      continue;
    }
    FoundOutput found;
    found.name.assign(info->name, static_cast<std::size_t>(info->nameLen));
    found.edid = ReadEdidProperty(display.get(), output, edid_atom);
    DebugNote("output %lu %s, EDID property %zu bytes", static_cast<unsigned long>(output),
              found.name.c_str(), found.edid.size());
    DisplayRecord& record = found.record;
    record.id = static_cast<std::int32_t>(output);
    const EdidIds ids = ReadEdidIds(found.edid);
    record.vendor = ids.vendor;
    record.product = ids.product;
    record.origin_x = static_cast<float>(crtc->x);
    record.origin_y = static_cast<float>(crtc->y);
    record.width = static_cast<float>(crtc->width);
    record.height = static_cast<float>(crtc->height);
    record.width_mm = static_cast<float>(info->mm_width);
    record.height_mm = static_cast<float>(info->mm_height);
    outputs.push_back(std::move(found));
  }
  return kExitOk;
}

}  // namespace

FoundOutputs X11OutputSource::List() {
  FoundOutputs found;
  const char* display_name = std::getenv("DISPLAY");
  if (display_name == nullptr || *display_name == '\0') {
    found.error = kExitNoDisplayName;
    return found;
  }
  found.error = QueryOutputs(display_name, found.outputs);
  if (found.error != 0) {
    DebugNote("the X server %s gives no display list (code %d)", display_name, found.error);
    return found;
  }
  // Outputs without an EDID property (XWayland, some drivers): the kernel's copy.
  for (FoundOutput& output : found.outputs) {
    if (output.edid.empty()) {
      output.edid = ReadConnectorEdid(output.name).bytes;
      const EdidIds ids = ReadEdidIds(output.edid);
      output.record.vendor = ids.vendor;
      output.record.product = ids.product;
    }
  }
  return found;
}

}  // namespace vistal
