// VoMacFinderInfo.cpp - type code, creator code and finder flags in their extended attribute.
#include <fcntl.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "Mac/VoMacBridgePrivate.h"

/// Bytes of the attribute's layout: type code, creator code, finder flags.
constexpr size_t kFinderInfoSize = 10;

OSErr VoMacReadFinderBits(const std::string& path, VoMacFinderBits& bits) {
  bits = VoMacFinderBits();
  unsigned char buf[64];
  ssize_t n = lgetxattr(path.c_str(), kVoFinderInfoAttribute, buf, sizeof buf);
  if (n < 0 && errno == ERANGE) {
    // A longer value (written by another program): its first bytes count.
    const ssize_t size = lgetxattr(path.c_str(), kVoFinderInfoAttribute, nullptr, 0);
    if (size > 0) {
      std::vector<unsigned char> big(static_cast<size_t>(size));
      n = lgetxattr(path.c_str(), kVoFinderInfoAttribute, big.data(), big.size());
      if (n >= static_cast<ssize_t>(kFinderInfoSize)) std::memcpy(buf, big.data(), kFinderInfoSize);
    }
  }
  if (n < 0) {
    if (errno == ENODATA || errno == ENOTSUP || errno == ERANGE || errno == EPERM || errno == EACCES)
      return 0;
    return VoMacLastStatus();
  }
  if (static_cast<size_t>(n) < kFinderInfoSize) return 0;
  bits.type = (uint32_t{buf[0]} << 24) | (uint32_t{buf[1]} << 16) | (uint32_t{buf[2]} << 8) | buf[3];
  bits.creator = (uint32_t{buf[4]} << 24) | (uint32_t{buf[5]} << 16) | (uint32_t{buf[6]} << 8) | buf[7];
  bits.flags = static_cast<uint16_t>((buf[8] << 8) | buf[9]);
  return 0;
}

OSErr VoMacWriteFinderBits(const std::string& path, const VoMacFinderBits& bits) {
  if (bits.type == 0 && bits.creator == 0 && bits.flags == 0) {
    if (lremovexattr(path.c_str(), kVoFinderInfoAttribute) == 0 || errno == ENODATA || errno == ENOTSUP)
      return 0;
    return VoMacLastStatus();
  }
  unsigned char buf[kFinderInfoSize] = {
      static_cast<unsigned char>(bits.type >> 24),    static_cast<unsigned char>(bits.type >> 16),
      static_cast<unsigned char>(bits.type >> 8),     static_cast<unsigned char>(bits.type),
      static_cast<unsigned char>(bits.creator >> 24), static_cast<unsigned char>(bits.creator >> 16),
      static_cast<unsigned char>(bits.creator >> 8),  static_cast<unsigned char>(bits.creator),
      static_cast<unsigned char>(bits.flags >> 8),    static_cast<unsigned char>(bits.flags)};
  if (lsetxattr(path.c_str(), kVoFinderInfoAttribute, buf, sizeof buf, 0) == 0) return 0;
  if (errno == ENOTSUP) return 0;
  return VoMacLastStatus();
}

std::string VoMacAttributePath(const std::string& full, int dirfd, const char* name) {
  if (full.size() < PATH_MAX) return full;
  return "/proc/self/fd/" + std::to_string(dirfd) + "/" + name;
}

void VoMacReadStoredCodes(const VoString& path, uint32_t& type, uint32_t& creator) {
  type = 0;
  creator = 0;
  std::string full = VoMacPathBytes(path);
  if (full.empty()) return;
  VoMacFinderBits bits;
  if (full.size() < PATH_MAX) {
    VoMacReadFinderBits(full, bits);
  } else {
    // Too long for one system call: the folders are opened part by part and
    // the object is named relative to the last one.
    const size_t slash = full.rfind('/');
    if (slash == std::string::npos || slash + 1 == full.size()) return;
    int dirfd = full[0] == '/' ? open("/", O_PATH | O_DIRECTORY | O_CLOEXEC) : AT_FDCWD;
    size_t pos = full[0] == '/' ? 1 : 0;
    while (pos < slash) {
      size_t end = full.rfind('/', std::min(slash, pos + PATH_MAX - 1));
      if (end == std::string::npos || end <= pos) end = slash;  // one name longer than the limit
      if (end > pos + PATH_MAX - 1) break;
      const std::string part = full.substr(pos, end - pos);
      const int next = openat(dirfd, part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (dirfd != AT_FDCWD) close(dirfd);
      dirfd = next;
      if (dirfd < 0) return;
      pos = end + 1;
    }
    if (pos >= slash && dirfd >= 0) {
      VoMacReadFinderBits(VoMacAttributePath(full, dirfd, full.c_str() + slash + 1), bits);
    }
    if (dirfd >= 0) close(dirfd);
  }
  type = bits.type;
  creator = bits.creator;
}
