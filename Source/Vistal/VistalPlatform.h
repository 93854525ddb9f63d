// VistalPlatform.h - where vistal's display records come from, and its exit codes.
//
// Which display server is asked (SessionSource):
//
//  * WAYLAND_DISPLAY set and not empty: the Wayland compositor it names
//    (VistalWayland.cpp). When that cannot be reached or does not answer, the X
//    server named by DISPLAY if DISPLAY is set, else exit code 8.
//  * Otherwise DISPLAY set and not empty: the X server (VistalX11.cpp).
//  * Neither: exit code 1.
//
// Wayland (VistalWayland.cpp):
//
//  * Displays: every wl_output global the compositor announces, in announcement
//    order, at most kMaxDisplays. Outputs announced while the first ones are
//    described get their xdg-output too: the compositor is asked again until a
//    round trip brings no new output. Only outputs described in full are listed
//    (geometry, current mode, done and, where offered, the xdg-output position
//    and size). ID: the global's name in the registry.
//  * Output name: zxdg_output_v1 (version 2 or later) `name`, else wl_output
//    (version 4) `name`, e.g. "DP-1".
//  * Bounds: the xdg-output logical position and size (desktop coordinates, as
//    other clients see them). Without xdg-output: the wl_output position and the
//    current mode, rotated by the transform and divided by the integer scale,
//    which mutter and KWin round up at fractional scales (VISTAL_DEBUG says so).
//  * Make and model: the wl_output geometry's (for weston's colord device ids).
//  * Physical size: the wl_output geometry's physical width and height; a
//    negative one (KWin's virtual outputs) is unknown, like 0.
//  * Every wait for the compositor ends after kServerTimeoutSeconds in all.
//
// X11 (VistalX11.cpp):
//
//  * Displays: the X RandR extension on the X server named by DISPLAY. An active
//    display is a connected output that drives a CRTC. Outputs are taken in the
//    order of the screen resources' output list; at most kMaxDisplays of them.
//  * ID: the output's RandR XID, the same number `xrandr --output` accepts.
//  * Bounds: the position and size of the output's CRTC on the X screen.
//  * Physical size: the output's mm_width and mm_height.
//
// Both:
//
//  * Vendor and product: from the output's EDID, bytes 8-9 read big-endian (the
//    manufacturer id) and bytes 10-11 read little-endian (the product code). The
//    EDID is the RandR EDID property on X11; under Wayland, and on X11 when the
//    property is missing, the kernel's file /sys/class/drm/card<N>-<name>/edid
//    (VistalSysfsEdid.cpp). No EDID, or an empty one, gives 0 for both.
//  * Profile: colord, asked over the system D-Bus (VistalColord.cpp): its display
//    devices, then the one ChooseColordDevice picks (VistalCore.h): by XRANDR_name
//    metadata (GNOME, xiccd, colord-kde), OutputEdidMd5 metadata, the device id
//    equal to the output name (KWin), or weston's device id, the calling user's
//    own devices first. The profile is the first in the device's Profiles list
//    (its default), the path is that profile's Filename. A profile without a file
//    name is listed with a message instead of a path. Connecting to the bus (with
//    its Hello) and every call to colord each give up after kDbusTimeoutMs.
//
// Exit codes (also in the manual page vistal(1)):
//
//    0  success
//    1  neither WAYLAND_DISPLAY nor DISPLAY is set                    (no display list)
//    2  the X server cannot be reached or does not answer             (no display list)
//    3  the X server has no usable RandR extension (1.2 or later)     (no display list)
//    4  the system D-Bus cannot be reached or does not answer         (no profile)
//    5  colord is not running, does not answer or fails              (no profile)
//    6  colord knows no device for the display's output               (no profile)
//    7  the display's colord device has no profile                    (no profile)
//    8  the Wayland compositor named by WAYLAND_DISPLAY cannot be
//       reached (or does not answer) and DISPLAY is not set           (no display list)

#ifndef VISTAL_VISTALPLATFORM_H
#define VISTAL_VISTALPLATFORM_H

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "VistalCore.h"

namespace vistal {

enum ExitCode : int {
  kExitOk = 0,
  kExitNoDisplayName = 1,
  kExitXServerUnreachable = 2,
  kExitNoRandR = 3,
  kExitNoSystemBus = 4,
  kExitColordUnavailable = 5,
  kExitNoColordDevice = 6,
  kExitNoProfile = 7,
  kExitWaylandUnreachable = 8,
};

/// Longest wait for one D-Bus step (connecting to the bus and saying Hello, or one
/// call to colord).
inline constexpr int kDbusTimeoutMs = 5000;

/// Longest wait for the display server, from opening the connection to the last reply.
inline constexpr unsigned kServerTimeoutSeconds = 5;

/// Fills the display records. Asked once per listing.
///
/// Contract: when `error` is zero, `displays` holds every active display in the
/// platform's order (no more than kMaxDisplays) with its profile looked up. Once a
/// profile lookup fails, later displays need not be asked about: they may carry
/// the same failure, since the listing stops at the first one.
class DisplaySource {
 public:
  virtual ~DisplaySource() = default;
  virtual DisplayList Query() = 0;
};

/// One display as a display server reports it, with what the profile lookup needs.
struct FoundOutput {
  DisplayRecord record;            ///< everything but the profile
  std::string name;                ///< the connector or RandR output name, e.g. "DP-1"
  std::vector<std::uint8_t> edid;  ///< the whole EDID; empty when there is none
  std::string make;                ///< wl_output geometry make and model (Wayland only)
  std::string model;
};

struct FoundOutputs {
  int error = 0;  ///< non-zero: the list could not be had; this is the exit code
  std::vector<FoundOutput> outputs;
};

/// A display server back end: lists the active outputs, at most kMaxDisplays.
class OutputSource {
 public:
  virtual ~OutputSource() = default;
  virtual FoundOutputs List() = 0;
};

/// Looks up the profile of one output. Asked for the outputs in order, and no
/// more once an answer is a failure.
class ProfileFinder {
 public:
  virtual ~ProfileFinder() = default;
  virtual ProfileLookup Find(const FoundOutput& output) = 0;
};

/// Picks the display server from the two environment values (null or empty means
/// unset), asks it, then looks up the profiles up to the first failure.
class SessionSource final : public DisplaySource {
 public:
  SessionSource(const char* wayland_display, const char* x_display, OutputSource& wayland, OutputSource& x11,
                ProfileFinder& profiles)
      : wayland_display_(wayland_display),
        x_display_(x_display),
        wayland_(wayland),
        x11_(x11),
        profiles_(profiles) {}

  DisplayList Query() override;

 private:
  const char* wayland_display_;
  const char* x_display_;
  OutputSource& wayland_;
  OutputSource& x11_;
  ProfileFinder& profiles_;
};

/// The whole program apart from writing: picks the action from the arguments
/// that follow the program name and asks `source` only when listing.
Outcome Run(std::span<const std::string_view> args, DisplaySource& source);

}  // namespace vistal

#endif  // VISTAL_VISTALPLATFORM_H
