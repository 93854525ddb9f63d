// VistalPlatform.h - where vistal's display records come from, and its exit codes.
//
// On Linux the records are filled like this (VistalX11Colord.cpp):
//
//  * Displays: the X RandR extension on the X server named by DISPLAY (a Wayland
//    session answers through XWayland). An active display is a connected output
//    that drives a CRTC. Outputs are taken in the order of the screen resources'
//    output list; at most kMaxDisplays of them.
//  * ID: the output's RandR XID, the same number `xrandr --output` accepts.
//  * Vendor and product: the output's EDID property; bytes 8-9 read big-endian are
//    the manufacturer id, bytes 10-11 read little-endian the product code. An
//    output without EDID reports 0 for both.
//  * Bounds: the position and size of the output's CRTC on the X screen.
//  * Physical size: the output's mm_width and mm_height.
//  * Profile: colord, asked over the system D-Bus. The device is the one whose
//    metadata XRANDR_name equals the output's name (FindDeviceByProperty), the
//    profile is the first in the device's Profiles list (its default), the path is
//    that profile's Filename. A profile without a file name is listed with a
//    message instead of a path. Every D-Bus step gives up after kDbusTimeoutMs.
//
// Exit codes (also in the manual page vistal(1)):
//
//    0  success
//    1  DISPLAY is not set: no X server to ask                     (no display list)
//    2  the X server cannot be reached or does not answer          (no display list)
//    3  the X server has no usable RandR extension (1.2 or later)  (no display list)
//    4  the system D-Bus cannot be reached                         (no profile)
//    5  colord is not running, does not answer or fails           (no profile)
//    6  colord knows no device for the display's output            (no profile)
//    7  the display's colord device has no profile                 (no profile)

#ifndef VISTAL_VISTALPLATFORM_H
#define VISTAL_VISTALPLATFORM_H

#include <span>
#include <string_view>

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
};

/// Longest wait for one D-Bus step (connecting to the bus, or one call to colord).
inline constexpr int kDbusTimeoutMs = 5000;

/// Longest wait for the X server, from opening the connection to the last reply.
inline constexpr unsigned kXServerTimeoutSeconds = 5;

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

/// The whole program apart from writing: picks the action from the arguments
/// that follow the program name and asks `source` only when listing.
Outcome Run(std::span<const std::string_view> args, DisplaySource& source);

}  // namespace vistal

#endif  // VISTAL_VISTALPLATFORM_H
