// VoMacFinderInfo.cpp - type code, creator code and finder flags in their extended attribute.
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "Linux/VoLinuxSys.h"
#include "Mac/VoMacBridgePrivate.h"

namespace {

/// Bytes of the attribute's layout: type code, creator code, finder flags.
constexpr size_t kFinderInfoSize = 10;

/// Reads the attribute with \p get (lgetxattr or fgetxattr of one object).
template <class Get>
OSErr ReadBits(Get get, VoMacFinderBits& bits) {
  bits = VoMacFinderBits();
  unsigned char buf[64];
  ssize_t n = get(buf, sizeof buf);
  if (n < 0 && errno == ERANGE) {
    // A longer value (written by another program): its first bytes count.
    const ssize_t size = get(nullptr, 0);
    if (size > 0) {
      std::vector<unsigned char> big(static_cast<size_t>(size));
      n = get(big.data(), big.size());
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

/// Writes the attribute with \p set, or removes it with \p remove when all zero.
template <class Set, class Remove>
OSErr WriteBits(Set set, Remove remove, const VoMacFinderBits& bits) {
  if (bits.type == 0 && bits.creator == 0 && bits.flags == 0) {
    if (VoSysRetry(remove) == 0 || errno == ENODATA || errno == ENOTSUP) return 0;
    return VoMacLastStatus();
  }
  const unsigned char buf[kFinderInfoSize] = {
      static_cast<unsigned char>(bits.type >> 24),    static_cast<unsigned char>(bits.type >> 16),
      static_cast<unsigned char>(bits.type >> 8),     static_cast<unsigned char>(bits.type),
      static_cast<unsigned char>(bits.creator >> 24), static_cast<unsigned char>(bits.creator >> 16),
      static_cast<unsigned char>(bits.creator >> 8),  static_cast<unsigned char>(bits.creator),
      static_cast<unsigned char>(bits.flags >> 8),    static_cast<unsigned char>(bits.flags)};
  if (VoSysRetry([&] { return set(buf, sizeof buf); }) == 0 || errno == ENOTSUP) return 0;
  return VoMacLastStatus();
}

}  // namespace

OSErr VoMacReadFinderBits(const std::string& path, VoMacFinderBits& bits) {
  return ReadBits(
      [&](void* buf, size_t n) {
        return VoSysRetry([&] { return gVoSys.lgetxattr(path.c_str(), kVoFinderInfoAttribute, buf, n); });
      },
      bits);
}

OSErr VoMacReadFinderBitsAt(int fd, VoMacFinderBits& bits) {
  return ReadBits(
      [&](void* buf, size_t n) {
        return VoSysRetry([&] { return gVoSys.fgetxattr(fd, kVoFinderInfoAttribute, buf, n); });
      },
      bits);
}

OSErr VoMacReadFinderBitsIn(int dirfd, const char* name, mode_t mode, VoMacFinderBits& bits) {
  bits = VoMacFinderBits();
  // Only files and folders carry user attributes; opening anything else
  // (a device) could do more than read.
  if (!S_ISREG(mode) && !S_ISDIR(mode)) return 0;
  // Relative to the open folder, the entry itself (a link swapped in is not
  // followed): with one call where the kernel has getxattrat, else opened
  // (no link followed: ELOOP; a FIFO swapped in does not block). An entry
  // that vanished is reported as gone. A kernel without getxattrat answers
  // ENOSYS; a seccomp filter that does not know it may answer EPERM, which
  // the entry opened then tells apart.
  static std::atomic<bool> noGetXattrAt{false};  // callers may walk on threads of their own
  int refused = 0;
  if (!noGetXattrAt.load(std::memory_order_relaxed)) {
    const OSErr err = ReadBits(
        [&](void* buf, size_t n) {
          const ssize_t got = VoSysRetry([&] {
            return gVoSys.getxattrat(dirfd, name, AT_SYMLINK_NOFOLLOW, kVoFinderInfoAttribute, buf, n);
          });
          refused = got < 0 && (errno == ENOSYS || errno == EPERM) ? errno : 0;
          return got;
        },
        bits);
    if (!refused) return err;
    if (refused == ENOSYS) noGetXattrAt.store(true, std::memory_order_relaxed);
  }
  VoSysFd fd;
  const VoSysStatus opened = VoSysOpenAt(fd, dirfd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (!opened.Ok()) {
    if (opened.error == ENOENT) return kVoStatusFileNotFound;
    // Read permission is what user attributes need: without it there is
    // nothing to read, as for a link.
    if (opened.error == EACCES || opened.error == EPERM || opened.error == ELOOP || opened.error == ENXIO)
      return 0;
    return VoMacErrnoToStatus(opened.error);
  }
  if (refused != EPERM) return VoMacReadFinderBitsAt(fd.Get(), bits);
  // Read where getxattrat was refused: a filter refuses it, not the entry.
  return ReadBits(
      [&](void* buf, size_t n) {
        const ssize_t got =
            VoSysRetry([&] { return gVoSys.fgetxattr(fd.Get(), kVoFinderInfoAttribute, buf, n); });
        if (got >= 0 || errno == ENODATA) noGetXattrAt.store(true, std::memory_order_relaxed);
        return got;
      },
      bits);
}

OSErr VoMacWriteFinderBits(const std::string& path, const VoMacFinderBits& bits) {
  return WriteBits(
      [&](const void* buf, size_t n) {
        return gVoSys.lsetxattr(path.c_str(), kVoFinderInfoAttribute, buf, n, 0);
      },
      [&] { return gVoSys.lremovexattr(path.c_str(), kVoFinderInfoAttribute); }, bits);
}

OSErr VoMacWriteFinderBitsAt(int fd, const VoMacFinderBits& bits) {
  return WriteBits(
      [&](const void* buf, size_t n) { return gVoSys.fsetxattr(fd, kVoFinderInfoAttribute, buf, n, 0); },
      [&] { return gVoSys.fremovexattr(fd, kVoFinderInfoAttribute); }, bits);
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
    VoSysFd dir;
    if (full[0] == '/' && !VoSysOpenAt(dir, AT_FDCWD, "/", O_PATH | O_DIRECTORY).Ok()) return;
    size_t pos = full[0] == '/' ? 1 : 0;
    while (pos < slash) {
      size_t end = full.rfind('/', std::min(slash, pos + PATH_MAX - 1));
      if (end == std::string::npos || end <= pos) end = slash;  // one name longer than the limit
      if (end > pos + PATH_MAX - 1) return;
      const std::string part = full.substr(pos, end - pos);
      VoSysFd next;
      if (!VoSysOpenAt(next, dir.Valid() ? dir.Get() : AT_FDCWD, part.c_str(), O_PATH | O_DIRECTORY).Ok())
        return;
      dir = std::move(next);
      pos = end + 1;
    }
    const char* name = full.c_str() + slash + 1;
    VoMacStatInfo st;
    const int dirfd = dir.Valid() ? dir.Get() : AT_FDCWD;
    if (VoMacStatAt(dirfd, name, AT_SYMLINK_NOFOLLOW, st) == 0)
      VoMacReadFinderBitsIn(dirfd, name, st.mode, bits);
  }
  type = bits.type;
  creator = bits.creator;
}
