// VistalX11.h - display records from X RandR.
//
// See VistalPlatform.h for how each field is obtained and for the exit codes.

#ifndef VISTAL_VISTALX11_H
#define VISTAL_VISTALX11_H

#include "VistalPlatform.h"

namespace vistal {

class X11OutputSource final : public OutputSource {
 public:
  /// Asks the X server named by DISPLAY for its active outputs. An output without
  /// an EDID property takes the kernel's EDID of the connector of its name.
  FoundOutputs List() override;
};

}  // namespace vistal

#endif  // VISTAL_VISTALX11_H
