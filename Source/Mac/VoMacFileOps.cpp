// VoMacFileOps.cpp - safe file replacement (temporary file, fsync, rename) and appending (O_APPEND).
#include "Mac/VoMacFileOps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Linux/VoLinuxSys.h"
#include "Mac/VoMacBridgePrivate.h"

namespace {

constexpr int kMaxLinks = 40;  // as the kernel's own limit for a path
constexpr int kMaxTempAttempts = 100;
constexpr std::size_t kMaxTempBase = 200;  // keeps the temporary name within NAME_MAX

/// Follows symbolic links of the last component of \p path (the folders on
/// the way need no resolving: the file is replaced inside the folder that
/// holds it). A missing object ends the walk: it is the file to create.
VoSysStatus FollowLinks(std::string path, std::string& out) {
  for (int hops = 0; hops <= kMaxLinks; ++hops) {
    struct stat st;
    if (VoSysRetry([&] { return gVoSys.fstatat(AT_FDCWD, path.c_str(), &st, AT_SYMLINK_NOFOLLOW); }) != 0) {
      if (errno != ENOENT) return VoSysStatus::Failed(errno, "stat");
      out = path;
      return {};
    }
    if (!S_ISLNK(st.st_mode)) {
      out = path;
      return {};
    }
    std::vector<char> buffer(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    ssize_t n;
    for (;;) {
      n = VoSysRetry([&] { return gVoSys.readlinkat(AT_FDCWD, path.c_str(), buffer.data(), buffer.size()); });
      if (n < 0) return VoSysStatus::Failed(errno, "readlink");
      if (static_cast<std::size_t>(n) < buffer.size()) break;
      buffer.resize(buffer.size() * 2);
    }
    std::string link(buffer.data(), static_cast<std::size_t>(n));
    if (link.empty()) return VoSysStatus::Failed(ENOENT, "readlink");
    path = link[0] == '/' ? link : VoMacFolderOf(path) + link;
  }
  return VoSysStatus::Failed(ELOOP, "stat");
}

/// A name suffix that differs between calls, processes and attempts.
std::string RandomSuffix() {
  static std::atomic<uint64_t> counter{0};
  struct timespec now {};
  gVoSys.clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t serial = counter.fetch_add(1, std::memory_order_relaxed) + 1;
  uint64_t x = (static_cast<uint64_t>(gVoSys.getpid()) << 32) ^ static_cast<uint64_t>(now.tv_nsec) ^
               (static_cast<uint64_t>(now.tv_sec) << 20) ^ (serial * 0x9E3779B97F4A7C15ULL);
  // splitmix64 finaliser
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ULL;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBULL;
  x ^= x >> 31;
  static const char digits[] = "0123456789abcdef";
  std::string s(12, '0');
  for (char& c : s) {
    c = digits[x & 15];
    x >>= 4;
  }
  return s;
}

/// Gives the open file \p fd every extended attribute of \p path; failures
/// (a file system without them, attributes only the system may set) are skipped.
void CopyAttributes(const std::string& path, int fd) {
  ssize_t size = VoSysRetry([&] { return gVoSys.llistxattr(path.c_str(), nullptr, 0); });
  if (size <= 0) return;
  std::vector<char> names(static_cast<std::size_t>(size));
  size = VoSysRetry([&] { return gVoSys.llistxattr(path.c_str(), names.data(), names.size()); });
  if (size <= 0) return;
  std::vector<char> value;
  for (ssize_t i = 0; i < size;) {
    const char* name = names.data() + i;
    i += static_cast<ssize_t>(std::strlen(name)) + 1;
    ssize_t n = VoSysRetry([&] { return gVoSys.lgetxattr(path.c_str(), name, nullptr, 0); });
    if (n < 0) continue;
    value.resize(static_cast<std::size_t>(n) + 1);
    n = VoSysRetry([&] { return gVoSys.lgetxattr(path.c_str(), name, value.data(), value.size()); });
    if (n < 0) continue;
    VoSysRetry([&] { return gVoSys.fsetxattr(fd, name, value.data(), static_cast<std::size_t>(n), 0); });
  }
}

/// Stores the type and creator IDs that \p spec's extension gives, where not
/// 0, as the codes of the file open as \p fd (its other finder information
/// kept); failures are ignored.
void StoreDerivedCodes(const VoFileSpec& spec, int fd) {
  VoFileSpec derived(spec);
  derived.SetType(VoFileTypeUnknown);
  const uint32_t type = static_cast<uint32_t>(derived.GetTypeID());
  const uint32_t creator = static_cast<uint32_t>(derived.GetCreatorID());
  if (type == 0 && creator == 0) return;
  VoMacFinderBits bits;
  if (VoMacReadFinderBitsAt(fd, bits) != kVoStatusNoErr) return;
  if (type != 0) bits.type = type;
  if (creator != 0) bits.creator = creator;
  VoMacWriteFinderBitsAt(fd, bits);
}

/// The new file of a replacement: one owner of its descriptor and its name,
/// which closes it and removes it from the folder unless it was put in place.
class TempFile {
 public:
  explicit TempFile(int dirfd) : mDir(dirfd) {}
  ~TempFile() { Discard(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  VoSysFd fd;
  char name[kMaxTempBase + 32] = {};  ///< no allocation between the rename and the end

  /// Closes and removes the file (nothing once placed).
  void Discard() {
    fd.Reset();
    if (name[0] != 0 && !mPlaced) VoSysRetry([&] { return gVoSys.unlinkat(mDir, name, 0); });
    name[0] = 0;
  }
  void Placed() { mPlaced = true; }

 private:
  int mDir;
  bool mPlaced = false;
};

/// Opens \p path for writing without waiting for a reader of a FIFO (which
/// fails with ENXIO then) and switches blocking writes on again.
VoSysStatus OpenForWriting(VoSysFd& fd, const char* path, int flags) {
  const VoSysStatus opened = VoSysOpenAt(fd, AT_FDCWD, path, flags | O_WRONLY | O_NONBLOCK | O_NOCTTY, 0666);
  if (!opened.Ok()) return opened;
  const int now = VoSysRetry([&] { return gVoSys.fcntl(fd.Get(), F_GETFL, 0); });
  if (now == -1 || VoSysRetry([&] { return gVoSys.fcntl(fd.Get(), F_SETFL, now & ~O_NONBLOCK); }) == -1)
    return VoSysStatus::Failed(errno, "fcntl");
  return {};
}

/// Writes a file that is not a regular file (a device, a FIFO) in place.
VoSysStatus WriteSpecial(const std::string& path, const char* bytes, std::size_t size,
                         eVoMacReplaceStage& stage) {
  VoSysFd fd;
  const VoSysStatus opened = OpenForWriting(fd, path.c_str(), 0);
  if (!opened.Ok()) return opened;
  stage = eVoMacReplaceWrite;
  const VoSysStatus written = VoSysWriteAll(fd.Get(), bytes, size);
  const VoSysStatus closed = fd.Close();
  return written.Ok() ? closed : written;
}

/// Gives the file back the length \p length it had; 0 or the errno value.
void Restore(int fd, off_t length) {
  VoSysRetry([&] { return gVoSys.ftruncate(fd, length); });
}

/// Writes an existing regular file in place: the fallback where no new file
/// can be made beside it or renamed over it. The room for the new bytes is
/// taken first (fallocate, else by writing the part beyond the old end), so
/// that a full disk or a size limit leaves the file as it was; only an I/O
/// error in the middle of the write can still leave it partly written.
VoSysStatus WriteRegularInPlace(const VoFileSpec& target, const std::string& path, const char* bytes,
                                std::size_t size, eVoMacReplaceStage& stage) {
  stage = eVoMacReplaceOpen;
  VoSysFd fd;
  VoSysStatus status = OpenForWriting(fd, path.c_str(), 0);
  if (!status.Ok()) return status;
  struct stat st;
  if (VoSysRetry([&] { return gVoSys.fstatat(fd.Get(), "", &st, AT_EMPTY_PATH); }) != 0)
    return VoSysStatus::Failed(errno, "stat");
  if (!S_ISREG(st.st_mode)) {  // replaced by a device or FIFO meanwhile
    stage = eVoMacReplaceWrite;
    status = VoSysWriteAll(fd.Get(), bytes, size);
    const VoSysStatus closed = fd.Close();
    return status.Ok() ? closed : status;
  }
  StoreDerivedCodes(target, fd.Get());
  stage = eVoMacReplaceWrite;
  const off_t old = st.st_size;
  const off_t length = static_cast<off_t>(size);
  off_t head = length;  // bytes still to write from the start
  if (length > old) {
    if (VoSysRetry([&] { return gVoSys.fallocate(fd.Get(), 0, old, length - old); }) == 0) {
    } else if (errno == EOPNOTSUPP || errno == ENOSYS) {
      // No fallocate here: the new bytes beyond the old end go first.
      status = VoSysPwriteAll(fd.Get(), bytes + old, static_cast<std::size_t>(length - old), old);
      if (!status.Ok()) {
        Restore(fd.Get(), old);
        return status;
      }
      head = old;
    } else {
      status = VoSysStatus::Failed(errno, "fallocate");
      Restore(fd.Get(), old);  // a partly taken room goes again
      return status;
    }
  }
  status = VoSysPwriteAll(fd.Get(), bytes, static_cast<std::size_t>(head), 0);
  if (!status.Ok()) {
    Restore(fd.Get(), old);  // the old length at least; bytes written before an I/O error stay
    return status;
  }
  if (length < old && VoSysRetry([&] { return gVoSys.ftruncate(fd.Get(), length); }) != 0)
    status = VoSysStatus::Failed(errno, "ftruncate");
  if (status.Ok()) status = VoSysSync(fd.Get());
  const VoSysStatus closed = fd.Close();
  return status.Ok() ? closed : status;
}

VoSysStatus Replace(const VoFileSpec& target, const char* bytes, std::size_t size,
                    eVoMacReplaceStage& stage) {
  stage = eVoMacReplaceOpen;
  if (bytes == nullptr && size > 0) return VoSysStatus::Failed(EINVAL, "write");
  const std::string given = VoMacPathBytes(target.GetFullName());
  if (given.empty()) return VoSysStatus::Failed(ENOENT, "open");
  std::string path;
  VoSysStatus status = FollowLinks(given, path);
  if (!status.Ok()) return status;
  const std::string base = VoMacNameOf(path);
  if (base.empty() || base == "." || base == "..") return VoSysStatus::Failed(EISDIR, "open");

  struct stat old;
  const bool exists = VoSysRetry([&] { return gVoSys.fstatat(AT_FDCWD, path.c_str(), &old, 0); }) == 0;
  if (!exists && errno != ENOENT) return VoSysStatus::Failed(errno, "stat");
  if (exists) {
    if (S_ISDIR(old.st_mode)) return VoSysStatus::Failed(EISDIR, "open");
    if (!S_ISREG(old.st_mode)) return WriteSpecial(path, bytes, size, stage);
    if (VoSysRetry([&] { return gVoSys.faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS); }) != 0)
      return VoSysStatus::Failed(errno, "access");
  }

  // The folder, open for the whole replacement: the new file is made, renamed
  // and flushed relative to it. A folder that may be searched but not read
  // is only named (O_PATH) and cannot be flushed.
  std::string folder = VoMacFolderOf(path);
  if (folder.empty()) folder = ".";
  VoSysFd dir;
  bool canFlushFolder = true;
  status = VoSysOpenAt(dir, AT_FDCWD, folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (!status.Ok() && status.error == EACCES) {
    canFlushFolder = false;
    status = VoSysOpenAt(dir, AT_FDCWD, folder.c_str(), O_PATH | O_DIRECTORY);
  }
  if (!status.Ok()) return status;

  // The new file: private until it has the old file's mode; a new target gets
  // the mode that creating it directly would give (0666 less the umask).
  TempFile temp(dir.Get());
  const std::string stem = ".~" + base.substr(0, kMaxTempBase) + ".";
  for (int attempt = 0; attempt < kMaxTempAttempts && !temp.fd.Valid(); ++attempt) {
    const std::string name = stem + RandomSuffix();
    status = VoSysOpenAt(temp.fd, dir.Get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL, exists ? 0600 : 0666);
    if (status.Ok()) {
      std::memcpy(temp.name, name.c_str(), name.size() + 1);
    } else if (status.error != EEXIST) {
      // A writable file in a folder where we may not make files: the file
      // can only be written in place (as a plain open for writing would).
      if (exists && (status.error == EACCES || status.error == EPERM))
        return WriteRegularInPlace(target, path, bytes, size, stage);
      return status;
    }
  }
  if (!temp.fd.Valid()) return VoSysStatus::Failed(EEXIST, "open");

  const int fd = temp.fd.Get();
  if (exists) {
    // Owner first: changing it may clear the set-user-ID and set-group-ID bits.
    if (VoSysRetry([&] { return gVoSys.fchown(fd, old.st_uid, old.st_gid); }) != 0)
      VoSysRetry([&] { return gVoSys.fchown(fd, static_cast<uid_t>(-1), old.st_gid); });
    if (VoSysRetry([&] { return gVoSys.fchmod(fd, old.st_mode & 07777); }) != 0)
      return VoSysStatus::Failed(errno, "fchmod");
    CopyAttributes(path, fd);
  }
  StoreDerivedCodes(target, fd);

  stage = eVoMacReplaceWrite;
  status = VoSysWriteAll(fd, bytes, size);
  if (status.Ok()) status = VoSysSync(fd);
  if (status.Ok()) status = temp.fd.Close();
  if (!status.Ok()) return status;
  if (VoSysRetry([&] { return gVoSys.renameat(dir.Get(), temp.name, dir.Get(), base.c_str()); }) != 0) {
    status = VoSysStatus::Failed(errno, "rename");
    temp.Discard();
    // A sticky folder may refuse to replace another user's file that we may
    // write: write it in place then.
    if (exists && (status.error == EACCES || status.error == EPERM))
      return WriteRegularInPlace(target, path, bytes, size, stage);
    return status;
  }
  temp.Placed();
  // From here on nothing allocates: the new contents are in place. A failed
  // flush of the folder is still reported: the rename may not survive a crash.
  if (canFlushFolder) return VoSysSync(dir.Get());
  return {};
}

}  // namespace

VoSysStatus VoMacReplaceFileContents(const VoFileSpec& target, const void* bytes, unsigned long size,
                                     eVoMacReplaceStage* failedStage) {
  eVoMacReplaceStage stage = eVoMacReplaceOpen;
  const VoSysStatus status = Replace(target, static_cast<const char*>(bytes), size, stage);
  if (!status.Ok() && failedStage != nullptr) *failedStage = stage;
  return status;
}

VoSysStatus VoMacAppendToFile(const VoFileSpec& spec, const void* bytes, unsigned long size,
                              unsigned long* written) {
  if (bytes == nullptr && size > 0) return VoSysStatus::Failed(EINVAL, "write");
  const std::string path = VoMacPathBytes(spec.GetFullName());
  if (path.empty()) return VoSysStatus::Failed(ENOENT, "open");
  bool created = false;
  VoSysFd fd;
  VoSysStatus status = OpenForWriting(fd, path.c_str(), O_APPEND);
  if (status.error == ENOENT) {
    status = OpenForWriting(fd, path.c_str(), O_APPEND | O_CREAT | O_EXCL);
    if (status.Ok()) {
      created = true;
    } else if (status.error == EEXIST) {
      // Made by another writer in the meantime, or the name is a symbolic
      // link to a missing file (O_EXCL does not follow links): open it,
      // creating the link's target when that is still missing.
      struct stat before;
      const bool existed =
          VoSysRetry([&] { return gVoSys.fstatat(AT_FDCWD, path.c_str(), &before, 0); }) == 0;
      status = OpenForWriting(fd, path.c_str(), O_APPEND | O_CREAT);
      if (status.Ok() && !existed) created = true;
    }
  }
  if (!status.Ok()) return status;
  // One write call for all the bytes (more only when the system takes fewer),
  // so that appends of several processes are never split.
  status = VoSysWriteAll(fd.Get(), bytes, size);
  if (written != nullptr) *written = status.Ok() ? size : 0;
  if (created) StoreDerivedCodes(spec, fd.Get());
  const VoSysStatus closed = fd.Close();
  return status.Ok() ? closed : status;
}
