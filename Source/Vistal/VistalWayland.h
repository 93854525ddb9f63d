// VistalWayland.h - display records from a Wayland compositor.
//
// See VistalPlatform.h for how each field is obtained and for the exit codes.

#ifndef VISTAL_VISTALWAYLAND_H
#define VISTAL_VISTALWAYLAND_H

#include "VistalPlatform.h"

namespace vistal {

class WaylandOutputSource final : public OutputSource {
 public:
  /// Asks the compositor named by WAYLAND_DISPLAY (a socket name under
  /// XDG_RUNTIME_DIR, or an absolute path) for its outputs, and the kernel for
  /// each output's EDID. Any failure to talk to the compositor, a missing answer
  /// within kServerTimeoutSeconds included, gives kExitWaylandUnreachable.
  FoundOutputs List() override;
};

}  // namespace vistal

#endif  // VISTAL_VISTALWAYLAND_H
