// VistalSysfsEdid.cpp - a connector's EDID from /sys/class/drm/card<N>-<name>/edid.

#include "VistalSysfsEdid.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "VistalCore.h"

namespace vistal {
namespace {

// The whole file, up to kMaxEdidBytes; false when it cannot be opened.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  bytes.resize(kMaxEdidBytes);
  std::size_t used = 0;
  while (used < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + used, bytes.size() - used);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      break;
    }
    used += static_cast<std::size_t>(n);
  }
  ::close(fd);
  bytes.resize(used);
  return true;
}

}  // namespace

ConnectorEdid ReadConnectorEdid(std::string_view connector, const char* folder) {
  ConnectorEdid result;
  std::vector<std::pair<unsigned long, std::string>> matches;
  DIR* dir = ::opendir(folder);
  if (dir == nullptr) {
    DebugNote("no EDID for %.*s: %s cannot be read", static_cast<int>(connector.size()), connector.data(),
              folder);
    return result;
  }
  const std::string kernel_name = KernelConnectorName(connector);
  std::vector<std::pair<unsigned long, std::string>> kernel_matches;
  while (const dirent* entry = ::readdir(dir)) {
    if (const auto card = ConnectorCardNumber(entry->d_name, connector)) {
      matches.emplace_back(*card, entry->d_name);
    } else if (const auto kernel_card = ConnectorCardNumber(entry->d_name, kernel_name)) {
      kernel_matches.emplace_back(*kernel_card, entry->d_name);
    }
  }
  ::closedir(dir);
  if (matches.empty()) {
    matches = std::move(kernel_matches);  // "HDMI-1" of the compositor is the kernel's "HDMI-A-1"
  }
  std::sort(matches.begin(), matches.end());

  for (const auto& match : matches) {
    const std::string path = std::string(folder) + '/' + match.second + "/edid";
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(path, bytes)) {
      continue;
    }
    if (result.path.empty() || !bytes.empty()) {
      result.path = path;
      result.bytes = std::move(bytes);
    }
    if (!result.bytes.empty()) {
      break;
    }
  }
  if (result.path.empty()) {
    DebugNote("no EDID for %.*s: no %s/card<N>-%.*s/edid", static_cast<int>(connector.size()),
              connector.data(), folder, static_cast<int>(connector.size()), connector.data());
  } else {
    DebugNote("EDID of %.*s from %s (%zu bytes)", static_cast<int>(connector.size()), connector.data(),
              result.path.c_str(), result.bytes.size());
  }
  return result;
}

}  // namespace vistal
