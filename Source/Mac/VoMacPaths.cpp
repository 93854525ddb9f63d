// VoMacPaths.cpp - the bridge's path helpers: names as bytes, resolving, stat, small files, making folders.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "Linux/VoLinuxSys.h"
#include "Mac/VoMacBridgePrivate.h"
#include "VoCore/VoError.h"

// ==================================================================== names as bytes

std::string VoMacBytes(const VoString& s) {
  const long length = s.length();
  return length > 0 ? std::string(s.c_str(), static_cast<std::size_t>(length)) : std::string();
}

std::string VoMacPathBytes(const VoString& s) {
  const long length = s.length();
  if (length < 0) VO_THROW(eVoArgErr);
  return std::string(s.c_str(), static_cast<std::size_t>(length));
}

VoString VoMacString(const std::string& s) { return VoString(s.data(), static_cast<long>(s.size())); }

std::string VoMacFolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return path.substr(0, slash + 1);
}

std::string VoMacNameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string VoMacJoin(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// ==================================================================== resolving and stat

OSErr VoMacLastStatus() { return VoMacErrnoToStatus(errno); }

OSErr VoMacResolvePath(const std::string& path, std::string& out) {
  if (path.empty()) return kVoStatusFileNotFound;
  if (path.size() >= PATH_MAX) return kVoStatusNameTooLong;
  char* resolved;
  do {
    resolved = gVoSys.realpath(path.c_str(), nullptr);
  } while (resolved == nullptr && errno == EINTR);
  if (!resolved) return VoMacLastStatus();
  try {
    out = resolved;
  } catch (...) {  // out of memory: the C library's block is still ours to free
    free(resolved);
    throw;
  }
  free(resolved);
  return kVoStatusNoErr;
}

OSErr VoMacResolveEntry(const std::string& path, std::string& out) {
  std::string name = VoMacNameOf(path);
  if (name.empty() || name == "." || name == "..") return VoMacResolvePath(path, out);
  std::string folder = VoMacFolderOf(path);
  std::string resolvedFolder;
  OSErr err = VoMacResolvePath(folder.empty() ? std::string(".") : folder, resolvedFolder);
  if (err != kVoStatusNoErr) return err;
  std::string full = VoMacJoin(resolvedFolder, name);
  struct stat st;
  if (VoSysRetry([&] { return gVoSys.fstatat(AT_FDCWD, full.c_str(), &st, AT_SYMLINK_NOFOLLOW); }) != 0)
    return VoMacLastStatus();
  out = full;
  return kVoStatusNoErr;
}

bool VoMacIsFolder(const std::string& path) {
  struct stat st;
  return VoSysRetry([&] { return gVoSys.fstatat(AT_FDCWD, path.c_str(), &st, 0); }) == 0 &&
         S_ISDIR(st.st_mode);
}

int VoMacStatAt(int dirfd, const char* name, int flags, VoMacStatInfo& out, unsigned mask) {
  static std::atomic<bool> noStatx{false};  // callers may use the bridge on threads of their own
  if (!noStatx.load(std::memory_order_relaxed)) {
    struct statx sx;
    if (VoSysRetry([&] { return gVoSys.statx(dirfd, name, flags | AT_NO_AUTOMOUNT, mask, &sx); }) == 0) {
      out.mode = sx.stx_mode;
      out.size = sx.stx_size;
      out.inode = sx.stx_ino;
      out.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
      out.modified.seconds = sx.stx_mtime.tv_sec;
      out.modified.nanoseconds = sx.stx_mtime.tv_nsec;
      if (sx.stx_mask & STATX_BTIME) {
        out.born.seconds = sx.stx_btime.tv_sec;
        out.born.nanoseconds = sx.stx_btime.tv_nsec;
      } else {
        out.born = out.modified;
      }
      return 0;
    }
    if (errno != ENOSYS) return errno;
    noStatx.store(true, std::memory_order_relaxed);
  }
  struct stat st;
  if (VoSysRetry([&] { return gVoSys.fstatat(dirfd, name, &st, flags); }) != 0) return errno;
  out.mode = st.st_mode;
  out.size = static_cast<uint64_t>(st.st_size);
  out.inode = st.st_ino;
  out.device = st.st_dev;
  out.modified.seconds = st.st_mtim.tv_sec;
  out.modified.nanoseconds = static_cast<uint32_t>(st.st_mtim.tv_nsec);
  out.born = out.modified;
  return 0;
}

// ==================================================================== small files and folders

std::string VoMacReadSmallFile(const std::string& path, bool& ok) {
  ok = false;
  std::string text;
  VoSysFd fd;  // closed also when appending throws
  // O_NONBLOCK: a FIFO in the file's place is read only as far as it has
  // bytes, never waited for.
  const VoSysStatus opened = VoSysOpenAt(fd, AT_FDCWD, path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (!opened.Ok()) {
    errno = opened.error;
    return text;
  }
  char buf[4096];
  for (;;) {
    const ssize_t n = VoSysRetry([&] { return gVoSys.read(fd.Get(), buf, sizeof buf); });
    if (n < 0) {
      const int e = errno == EAGAIN ? 0 : errno;  // an empty FIFO: its end for us
      if (e == 0) break;
      errno = e;
      return std::string();
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
    if (text.size() > (1u << 24)) {  // no preference or folder file is this large
      errno = EFBIG;
      return std::string();
    }
  }
  ok = true;
  return text;
}

bool VoMacMakeFolders(const std::string& path, mode_t mode) {
  if (path.empty() || path[0] != '/') return false;
  if (VoMacIsFolder(path)) return true;
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos < path.size() && path[pos] != '/') continue;
    std::string part = path.substr(0, pos);
    if (part.back() == '/') continue;
    if (VoSysRetry([&] { return gVoSys.mkdirat(AT_FDCWD, part.c_str(), mode); }) != 0 && errno != EEXIST)
      return false;
  }
  return VoMacIsFolder(path);
}

std::string VoMacFolderPath(const std::string& path, mode_t mode) {
  if (!VoMacMakeFolders(path, mode)) return std::string();
  std::string resolved;
  if (VoMacResolvePath(path, resolved) != kVoStatusNoErr || !VoMacIsFolder(resolved)) return std::string();
  if (resolved.back() != '/') resolved += '/';
  return resolved;
}
