// VistalX11Colord.h - display records from X RandR and profiles from colord.
//
// See VistalPlatform.h for how each field is obtained and for the exit codes.

#ifndef VISTAL_VISTALX11COLORD_H
#define VISTAL_VISTALX11COLORD_H

#include "VistalPlatform.h"

namespace vistal {

class X11ColordSource final : public DisplaySource {
 public:
  /// Asks the X server named by DISPLAY for its active outputs, then colord for
  /// each output's profile, stopping at the first profile that cannot be found.
  DisplayList Query() override;
};

}  // namespace vistal

#endif  // VISTAL_VISTALX11COLORD_H
