// VistalSysfsEdid.h - the EDID of a display connector, as the kernel's DRM driver
// publishes it in sysfs.

#ifndef VISTAL_VISTALSYSFSEDID_H
#define VISTAL_VISTALSYSFSEDID_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vistal {

/// Where the kernel lists its display connectors, one folder card<N>-<name> each.
inline constexpr const char* kDrmClassFolder = "/sys/class/drm";

/// An EDID has at most 256 blocks of 128 bytes; anything longer is cut there.
inline constexpr std::size_t kMaxEdidBytes = 256 * 128;

struct ConnectorEdid {
  std::vector<std::uint8_t> bytes;  ///< empty when no file or an empty one was found
  std::string path;                 ///< the file the bytes came from; empty when none exists
};

/// Reads <folder>/card<N>-<connector>/edid to its end (sysfs reports the size of
/// such files as 0). With several cards having a connector of that name, the
/// lowest N whose file is not empty wins. The name must match whole.
ConnectorEdid ReadConnectorEdid(std::string_view connector, const char* folder = kDrmClassFolder);

}  // namespace vistal

#endif  // VISTAL_VISTALSYSFSEDID_H
