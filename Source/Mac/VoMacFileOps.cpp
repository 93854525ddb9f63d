// VoMacFileOps.cpp - safe file replacement (temporary file, fsync, rename) and appending (O_APPEND).
#include "Mac/VoMacFileOps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Mac/VoMacToolsOSX.h"
#include "Mac/VoMacToolsPrivate.h"

namespace {

constexpr int kMaxLinks = 40;  // as the kernel's own limit for a path
constexpr int kMaxTempAttempts = 100;
constexpr std::size_t kMaxTempBase = 200;  // keeps the temporary name within NAME_MAX

/// Follows symbolic links of the last component of \p path (the folders on
/// the way need no resolving: the file is replaced inside the folder that
/// holds it). A missing object ends the walk: it is the file to create.
int FollowLinks(std::string path, std::string& out) {
  for (int hops = 0; hops <= kMaxLinks; ++hops) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
      if (errno != ENOENT) return errno;
      out = path;
      return 0;
    }
    if (!S_ISLNK(st.st_mode)) {
      out = path;
      return 0;
    }
    std::vector<char> buffer(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    ssize_t n;
    for (;;) {
      n = readlink(path.c_str(), buffer.data(), buffer.size());
      if (n < 0) return errno;
      if (static_cast<std::size_t>(n) < buffer.size()) break;
      buffer.resize(buffer.size() * 2);
    }
    std::string link(buffer.data(), static_cast<std::size_t>(n));
    if (link.empty()) return ENOENT;
    path = link[0] == '/' ? link : VoMacFolderOf(path) + link;
  }
  return ELOOP;
}

/// Writes all \p size bytes; 0 or the errno value.
int WriteAll(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const std::size_t chunk = size < (std::size_t{1} << 30) ? size : (std::size_t{1} << 30);
    const ssize_t n = write(fd, bytes, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

/// A name suffix that differs between calls, processes and attempts.
std::string RandomSuffix() {
  static std::atomic<uint64_t> counter{0};
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t serial = counter.fetch_add(1, std::memory_order_relaxed) + 1;
  uint64_t x = (static_cast<uint64_t>(getpid()) << 32) ^ static_cast<uint64_t>(now.tv_nsec) ^
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
  ssize_t size = llistxattr(path.c_str(), nullptr, 0);
  if (size <= 0) return;
  std::vector<char> names(static_cast<std::size_t>(size));
  size = llistxattr(path.c_str(), names.data(), names.size());
  if (size <= 0) return;
  std::vector<char> value;
  for (ssize_t i = 0; i < size;) {
    const char* name = names.data() + i;
    i += static_cast<ssize_t>(std::strlen(name)) + 1;
    ssize_t n = lgetxattr(path.c_str(), name, nullptr, 0);
    if (n < 0) continue;
    value.resize(static_cast<std::size_t>(n) + 1);
    n = lgetxattr(path.c_str(), name, value.data(), value.size());
    if (n < 0) continue;
    fsetxattr(fd, name, value.data(), static_cast<std::size_t>(n), 0);
  }
}

/// Stores the type and creator IDs that \p spec's extension gives, where not
/// 0, as the codes of the file at \p path; failures are ignored.
void StoreDerivedCodes(const VoFileSpec& spec, const std::string& path) {
  VoFileSpec derived(spec);
  derived.SetType(VoFileTypeUnknown);
  const uint32_t type = static_cast<uint32_t>(derived.GetTypeID());
  const uint32_t creator = static_cast<uint32_t>(derived.GetCreatorID());
  if (type == 0 && creator == 0) return;
  FSRef ref;
  ref.path = VoString(path.data(), static_cast<long>(path.size()));
  FSCatalogInfo info;
  if (FSGetCatalogInfo(ref, kFSCatInfoNodeFlags | kFSCatInfoFinderInfo, &info) != kVoStatusNoErr ||
      (info.nodeFlags & kFSNodeIsDirectoryMask))
    return;
  if (type != 0) info.fileType = type;
  if (creator != 0) info.fileCreator = creator;
  FSSetCatalogInfo(ref, kFSCatInfoFinderInfo, info);
}

/// Flushes the folder that holds \p path, so that a rename in it is durable.
void SyncFolder(const std::string& path) {
  std::string folder = VoMacFolderOf(path);
  if (folder.empty()) folder = ".";
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

/// Writes a file that is not a regular file (a device, a FIFO) in place.
int WriteInPlace(const std::string& path, const char* bytes, std::size_t size, eVoMacReplaceStage& stage) {
  const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return errno;
  stage = eVoMacReplaceWrite;
  int err = WriteAll(fd, bytes, size);
  if (close(fd) != 0 && err == 0 && errno != EINTR) err = errno;
  return err;
}

/// Writes an existing regular file in place: the fallback where no new file
/// can be made beside it or renamed over it. The old contents are not kept
/// when this write fails.
int WriteRegularInPlace(const VoFileSpec& target, const std::string& path, const char* bytes,
                        std::size_t size, eVoMacReplaceStage& stage) {
  stage = eVoMacReplaceOpen;
  StoreDerivedCodes(target, path);
  return WriteInPlace(path, bytes, size, stage);
}

int Replace(const VoFileSpec& target, const char* bytes, std::size_t size, eVoMacReplaceStage& stage) {
  stage = eVoMacReplaceOpen;
  if (bytes == nullptr && size > 0) return EINVAL;
  const std::string given = VoMacPathBytes(target.GetFullName());
  if (given.empty()) return ENOENT;
  std::string path;
  int err = FollowLinks(given, path);
  if (err != 0) return err;
  const std::size_t slash = path.rfind('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.empty() || base == "." || base == "..") return EISDIR;

  struct stat old;
  const bool exists = stat(path.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) return errno;
  if (exists) {
    if (S_ISDIR(old.st_mode)) return EISDIR;
    if (!S_ISREG(old.st_mode)) return WriteInPlace(path, bytes, size, stage);
    if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return errno;
  }

  // The new file: private until it has the old file's mode; a new target gets
  // the mode that creating it directly would give (0666 less the umask).
  const std::string folder = VoMacFolderOf(path);
  const std::string stem = folder + ".~" + base.substr(0, kMaxTempBase) + ".";
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < kMaxTempAttempts && fd < 0; ++attempt) {
    temp = stem + RandomSuffix();
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0666);
    if (fd < 0 && errno != EEXIST) {
      // A writable file in a folder where we may not make files: the file
      // can only be written in place (as a plain open for writing would).
      if (exists && (errno == EACCES || errno == EPERM))
        return WriteRegularInPlace(target, path, bytes, size, stage);
      return errno;
    }
  }
  if (fd < 0) return EEXIST;

  auto fail = [&](int error) {
    if (fd >= 0) close(fd);
    unlink(temp.c_str());
    return error;
  };
  if (exists) {
    // Owner first: changing it may clear the set-user-ID and set-group-ID bits.
    if (fchown(fd, old.st_uid, old.st_gid) != 0) (void)!fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    if (fchmod(fd, old.st_mode & 07777) != 0) return fail(errno);
    CopyAttributes(path, fd);
  }
  StoreDerivedCodes(target, temp);

  stage = eVoMacReplaceWrite;
  err = WriteAll(fd, bytes, size);
  if (err != 0) return fail(err);
  if (fsync(fd) != 0 && errno != EINVAL && errno != EROFS) return fail(errno);
  const int closed = close(fd);
  fd = -1;
  if (closed != 0 && errno != EINTR) return fail(errno);
  if (rename(temp.c_str(), path.c_str()) != 0) {
    const int e = errno;
    fail(e);
    // A sticky folder may refuse to replace another user's file that we may
    // write: write it in place then.
    if (exists && (e == EACCES || e == EPERM)) return WriteRegularInPlace(target, path, bytes, size, stage);
    return e;
  }
  SyncFolder(path);
  return 0;
}

}  // namespace

int VoMacReplaceFileContents(const VoFileSpec& target, const void* bytes, unsigned long size,
                             eVoMacReplaceStage* failedStage) {
  eVoMacReplaceStage stage = eVoMacReplaceOpen;
  const int err = Replace(target, static_cast<const char*>(bytes), size, stage);
  if (err != 0 && failedStage != nullptr) *failedStage = stage;
  return err;
}

int VoMacAppendToFile(const VoFileSpec& spec, const void* bytes, unsigned long size, unsigned long* written) {
  if (bytes == nullptr && size > 0) return EINVAL;
  const std::string path = VoMacPathBytes(spec.GetFullName());
  if (path.empty()) return ENOENT;
  bool created = false;
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      created = true;
    } else if (errno == EEXIST) {
      // Made by another writer in the meantime, or the name is a symbolic
      // link to a missing file (O_EXCL does not follow links): open it,
      // creating the link's target when that is still missing.
      struct stat before;
      const bool existed = stat(path.c_str(), &before) == 0;
      fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
      if (fd >= 0 && !existed) created = true;
    }
  }
  if (fd < 0) return errno;
  const char* p = static_cast<const char*>(bytes);
  std::size_t left = size;
  int err = 0;
  while (left > 0) {
    const ssize_t n = write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      break;
    }
    if (n == 0) {
      err = EIO;
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (written != nullptr) *written = size - left;
  if (close(fd) != 0 && err == 0 && errno != EINTR) err = errno;
  if (created) {
    FSRef ref;
    if (VoFileSpecToFSRef(ref, spec) == kVoStatusNoErr) StoreDerivedCodes(spec, VoMacPathBytes(ref.path));
  }
  return err;
}
