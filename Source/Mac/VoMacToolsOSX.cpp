// VoMacToolsOSX.cpp - the bridge to the file system on Linux (POSIX calls, statx, extended attributes).
#include "Mac/VoMacToolsOSX.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "Mac/VoMacToolsPrivate.h"
#include "VoCore/VoError.h"
#include "VoData/VoDataBase.h"
#include "VoSystem/VoPlatform.h"

namespace {

// ==================================================================== small helpers

/// The bytes of \p s; a fixed-length string whose length was made negative
/// names nothing and is a bad argument.
std::string Std(const VoString& s) {
  const long length = s.length();
  if (length < 0) VO_THROW(eVoArgErr);
  return std::string(s.c_str(), static_cast<std::size_t>(length));
}
VoString Vo(const std::string& s) { return VoString(s.data(), static_cast<long>(s.size())); }

/// The status of the current errno.
OSErr LastStatus() { return VoMacErrnoToStatus(errno); }

/// Text up to and including the last '/' ("/" for "/x"); "" without a '/'.
std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return path.substr(0, slash + 1);
}

/// Text after the last '/'.
std::string NameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

/// \p folder + "/" + \p name, without doubling a '/' at the end of \p folder.
std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

/// The resolved absolute path of an existing object (symbolic links followed).
OSErr ResolvePath(const std::string& path, std::string& out) {
  if (path.empty()) return kVoStatusFileNotFound;
  if (path.size() >= PATH_MAX) return kVoStatusNameTooLong;
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) return LastStatus();
  out = resolved;
  free(resolved);
  return kVoStatusNoErr;
}

/// The absolute path of the entry \p path names, its folder resolved but its
/// last part not followed (a link stays the link). ".", ".." and "/"-ended
/// paths are resolved completely.
OSErr ResolveEntry(const std::string& path, std::string& out) {
  std::string name = NameOf(path);
  if (name.empty() || name == "." || name == "..") return ResolvePath(path, out);
  std::string folder = FolderOf(path);
  std::string resolvedFolder;
  OSErr err = ResolvePath(folder.empty() ? std::string(".") : folder, resolvedFolder);
  if (err != kVoStatusNoErr) return err;
  std::string full = Join(resolvedFolder, name);
  struct stat st;
  if (lstat(full.c_str(), &st) != 0) return LastStatus();
  out = full;
  return kVoStatusNoErr;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

/// What the bridge needs of a stat: the fields of statx, with a fallback to
/// fstatat where statx is not offered.
struct StatInfo {
  mode_t mode = 0;
  uint64_t size = 0;
  uint64_t inode = 0;
  dev_t device = 0;
  VoMacTime modified;
  VoMacTime born;
};

/// Examines \p name relative to \p dirfd (AT_FDCWD for paths); \p flags as for
/// fstatat (AT_SYMLINK_NOFOLLOW). Returns 0 or an errno value.
int StatAt(int dirfd, const char* name, int flags, StatInfo& out) {
  static std::atomic<bool> noStatx{false};  // callers may use the bridge on threads of their own
  if (!noStatx.load(std::memory_order_relaxed)) {
    struct statx sx;
    unsigned mask = STATX_TYPE | STATX_MODE | STATX_INO | STATX_SIZE | STATX_MTIME | STATX_BTIME;
    if (statx(dirfd, name, flags | AT_NO_AUTOMOUNT, mask, &sx) == 0) {
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
  if (fstatat(dirfd, name, &st, flags) != 0) return errno;
  out.mode = st.st_mode;
  out.size = static_cast<uint64_t>(st.st_size);
  out.inode = st.st_ino;
  out.device = st.st_dev;
  out.modified.seconds = st.st_mtim.tv_sec;
  out.modified.nanoseconds = static_cast<uint32_t>(st.st_mtim.tv_nsec);
  out.born = out.modified;
  return 0;
}

// ==================================================================== finder information

struct FinderBits {
  uint32_t type = 0;
  uint32_t creator = 0;
  uint16_t flags = 0;
};

constexpr size_t kFinderInfoSize = 10;

/// Reads the finder attribute of \p path (its own, links not followed). A
/// file system without extended attributes, an object without the attribute,
/// and an object whose attributes may not be read (user attributes need read
/// permission, which a locked-away folder denies even to a walk that may list
/// its parent) give zeros and 0. Other failures give their status.
OSErr ReadFinderBits(const std::string& path, FinderBits& bits) {
  bits = FinderBits();
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
    return LastStatus();
  }
  if (static_cast<size_t>(n) < kFinderInfoSize) return 0;
  bits.type = (uint32_t{buf[0]} << 24) | (uint32_t{buf[1]} << 16) | (uint32_t{buf[2]} << 8) | buf[3];
  bits.creator = (uint32_t{buf[4]} << 24) | (uint32_t{buf[5]} << 16) | (uint32_t{buf[6]} << 8) | buf[7];
  bits.flags = static_cast<uint16_t>((buf[8] << 8) | buf[9]);
  return 0;
}

/// Writes the finder attribute of \p path; all zero removes it. A file system
/// without extended attributes ignores the call (0).
OSErr WriteFinderBits(const std::string& path, const FinderBits& bits) {
  if (bits.type == 0 && bits.creator == 0 && bits.flags == 0) {
    if (lremovexattr(path.c_str(), kVoFinderInfoAttribute) == 0 || errno == ENODATA || errno == ENOTSUP)
      return 0;
    return LastStatus();
  }
  unsigned char buf[kFinderInfoSize] = {
      static_cast<unsigned char>(bits.type >> 24),    static_cast<unsigned char>(bits.type >> 16),
      static_cast<unsigned char>(bits.type >> 8),     static_cast<unsigned char>(bits.type),
      static_cast<unsigned char>(bits.creator >> 24), static_cast<unsigned char>(bits.creator >> 16),
      static_cast<unsigned char>(bits.creator >> 8),  static_cast<unsigned char>(bits.creator),
      static_cast<unsigned char>(bits.flags >> 8),    static_cast<unsigned char>(bits.flags)};
  if (lsetxattr(path.c_str(), kVoFinderInfoAttribute, buf, sizeof buf, 0) == 0) return 0;
  if (errno == ENOTSUP) return 0;
  return LastStatus();
}

/// The node flags of an object of mode \p mode.
uint16_t NodeFlags(mode_t mode) {
  uint16_t flags = 0;
  if (S_ISDIR(mode)) flags |= kFSNodeIsDirectoryMask;
  if (!S_ISLNK(mode) && (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) flags |= kFSNodeLockedMask;
  return flags;
}

/// Fills \p info from \p st (and the finder attribute of \p path when asked).
OSErr FillCatalogInfo(const std::string& path, const StatInfo& st, uint32_t which, FSCatalogInfo& info) {
  info = FSCatalogInfo();
  info.nodeFlags = NodeFlags(st.mode);
  bool folder = S_ISDIR(st.mode);
  if (which & kFSCatInfoDataSizes) info.dataLogicalSize = folder ? 0 : st.size;
  if (which & kFSCatInfoCreateDate) info.createDate = st.born;
  if (which & kFSCatInfoContentMod) info.contentModDate = st.modified;
  if (which & kFSCatInfoParentDirID) {
    std::string parent = FolderOf(path);
    info.parentPath = Vo(parent.empty() ? std::string("/") : parent);
  }
  if (which & kFSCatInfoFinderInfo) {
    FinderBits bits;
    OSErr err = ReadFinderBits(path, bits);
    if (err != kVoStatusNoErr) return err;
    info.finderFlags = bits.flags;
    if (!folder) {
      info.fileType = bits.type;
      info.fileCreator = bits.creator;
    }
  }
  return kVoStatusNoErr;
}

// ==================================================================== volume and folder numbers

constexpr size_t kFolderTableSize = 1024;

struct FolderEntry {
  short volume;
  long folder;
  std::string path;  // ends in "/"
};

std::vector<dev_t>& Volumes() {
  static std::vector<dev_t> volumes;
  return volumes;
}

struct FolderTable {
  std::vector<FolderEntry> entries;
  size_t next = 0;  // slot replaced next once the table is full
};

FolderTable& Folders() {
  static FolderTable table;
  return table;
}

/// The volume number of a device: -1, -2, ... in the order devices are met; 0
/// when no number is left.
short VolumeNumber(dev_t device) {
  std::vector<dev_t>& volumes = Volumes();
  for (size_t i = 0; i < volumes.size(); ++i)
    if (volumes[i] == device) return static_cast<short>(-static_cast<long>(i) - 1);
  if (volumes.size() >= 32767) return 0;
  volumes.push_back(device);
  return static_cast<short>(-static_cast<long>(volumes.size()));
}

/// Gives the folder \p path (ending in "/") its numbers and remembers it.
void NumberFolder(const std::string& path, const StatInfo& st, short& volume, long& folder) {
  volume = VolumeNumber(st.device);
  folder = static_cast<long>(st.inode);
  if (volume == 0) return;
  FolderTable& table = Folders();
  for (FolderEntry& e : table.entries) {
    if (e.volume == volume && e.folder == folder) {
      e.path = path;
      return;
    }
  }
  if (table.entries.size() < kFolderTableSize) {
    table.entries.push_back(FolderEntry{volume, folder, path});
  } else {
    table.entries[table.next] = FolderEntry{volume, folder, path};
    table.next = (table.next + 1) % kFolderTableSize;
  }
}

/// Fills \p record with the folder \p folderPath (resolved, any form) and \p name.
void MakeRecord(const std::string& folderPath, const std::string& name, FSSpec& record) {
  record = FSSpec();
  std::string folder = folderPath;
  if (folder.empty() || folder.back() != '/') folder += '/';
  record.folder = Vo(folder);
  record.name = Vo(name);
  StatInfo st;
  if (StatAt(AT_FDCWD, folder.c_str(), 0, st) == 0 && S_ISDIR(st.mode))
    NumberFolder(folder, st, record.vRefNum, record.parID);
}

/// A record for the resolved path of an existing object.
void RecordFromResolved(const std::string& resolved, FSSpec& record) {
  if (resolved == "/") {
    MakeRecord("/", std::string(), record);
  } else {
    MakeRecord(FolderOf(resolved), NameOf(resolved), record);
  }
}

/// The record's whole path: folder + name.
std::string RecordPath(const FSSpec& record) { return Join(Std(record.folder), Std(record.name)); }

// ==================================================================== well-known folders

std::string& SharedProfilesOverride() {
  static std::string path;
  return path;
}

constexpr const char* kSharedProfiles = "/usr/local/share/color/icc";

/// An environment variable that holds an absolute path; "" otherwise.
std::string EnvFolder(const char* name) {
  const char* value = getenv(name);
  if (!value || value[0] != '/') return std::string();
  return value;
}

std::string HomeFolder() {
  std::string home = EnvFolder("HOME");
  if (!home.empty()) return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
  struct passwd pw;
  struct passwd* found = nullptr;
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir &&
      found->pw_dir[0] == '/')
    return found->pw_dir;
  return std::string();
}

/// $NAME when absolute, else home + fallback; "" without a home.
std::string XdgFolder(const char* name, const char* fallback) {
  std::string value = EnvFolder(name);
  if (!value.empty()) return value;
  std::string home = HomeFolder();
  if (home.empty()) return std::string();
  return Join(home, fallback);
}

std::string ConfigHome() { return XdgFolder("XDG_CONFIG_HOME", ".config"); }
std::string DataHome() { return XdgFolder("XDG_DATA_HOME", ".local/share"); }

/// The value of a user-dirs.dirs line: "$HOME/..." or an absolute path in
/// double quotes, backslash escapes allowed. "" when the value is neither.
std::string UserDirsValue(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  std::string value;
  if (i < text.size() && text[i] == '"') {
    for (++i; i < text.size() && text[i] != '"'; ++i) {
      if (text[i] == '\\' && i + 1 < text.size()) ++i;
      value += text[i];
    }
    if (i >= text.size()) return std::string();  // unterminated
  } else {
    for (; i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '#'; ++i) value += text[i];
  }
  if (value.compare(0, 5, "$HOME") == 0 && (value.size() == 5 || value[5] == '/')) {
    std::string home = HomeFolder();
    if (home.empty()) return std::string();
    return home + value.substr(5);
  }
  return value.empty() || value[0] != '/' ? std::string() : value;
}

std::string ReadSmallFile(const std::string& path, bool& ok) {
  ok = false;
  std::string text;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buf[4096];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      return std::string();
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
    if (text.size() > (1u << 24)) {  // no preference or folder file is this large
      close(fd);
      errno = EFBIG;
      return std::string();
    }
  }
  close(fd);
  ok = true;
  return text;
}

std::string DocumentsFolder() {
  const char* env = getenv("XDG_DOCUMENTS_DIR");
  if (env && env[0]) {
    std::string value = env;
    if (value.compare(0, 5, "$HOME") == 0 && (value.size() == 5 || value[5] == '/')) {
      std::string home = HomeFolder();
      value = home.empty() ? std::string() : home + value.substr(5);
    }
    if (!value.empty() && value[0] == '/') return value;
  }
  std::string config = ConfigHome();
  if (!config.empty()) {
    bool ok;
    std::string text = ReadSmallFile(Join(config, "user-dirs.dirs"), ok);
    size_t pos = 0;
    while (ok && pos < text.size()) {
      size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(pos, end - pos);
      pos = end + 1;
      size_t i = line.find_first_not_of(" \t");
      if (i == std::string::npos || line[i] == '#') continue;
      static const char kKey[] = "XDG_DOCUMENTS_DIR=";
      if (line.compare(i, sizeof kKey - 1, kKey) != 0) continue;
      std::string value = UserDirsValue(line.substr(i + sizeof kKey - 1));
      if (!value.empty()) return value;
    }
  }
  std::string home = HomeFolder();
  return home.empty() ? std::string() : Join(home, "Documents");
}

/// Makes \p path and its missing parents as folders. True when it is a folder at the end.
bool MakeFolders(const std::string& path, mode_t mode) {
  if (path.empty() || path[0] != '/') return false;
  if (IsFolder(path)) return true;
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos < path.size() && path[pos] != '/') continue;
    std::string part = path.substr(0, pos);
    if (part.back() == '/') continue;
    if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
  }
  return IsFolder(path);
}

/// The resolved path of the folder, made when missing, ending in "/"; "" on failure.
std::string FolderPath(const std::string& path, mode_t mode) {
  if (!MakeFolders(path, mode)) return std::string();
  std::string resolved;
  if (ResolvePath(path, resolved) != kVoStatusNoErr || !IsFolder(resolved)) return std::string();
  if (resolved.back() != '/') resolved += '/';
  return resolved;
}

std::string SharedProfilesPath() {
  const std::string& over = SharedProfilesOverride();
  return FolderPath(over.empty() ? std::string(kSharedProfiles) : over, 0755);
}

std::string UserProfilesPath() {
  std::string data = DataHome();
  return data.empty() ? std::string() : FolderPath(Join(data, "icc"), 0700);
}

// ==================================================================== the walk

/// lgetxattr works on whole paths; for an entry whose path is too long for
/// the system, the folder descriptor's /proc name stands in for the folder.
std::string AttributePath(const std::string& full, int dirfd, const char* name) {
  if (full.size() < PATH_MAX) return full;
  return "/proc/self/fd/" + std::to_string(dirfd) + "/" + name;
}

/// Folder descriptors a walk holds at most, however deep the tree: the
/// deepest levels keep theirs; a shallower level gives its descriptor up and
/// opens its folder again only when the walk comes back to it with entries left.
constexpr size_t kWalkOpenFolders = 16;

/// Bytes of directory entries read per getdents64 call (some 2,000 names).
constexpr size_t kListingBuffer = 64 * 1024;

/// One folder on the walk's stack: its whole listing, taken when the walk
/// entered it, and how far the reports have got.
struct WalkLevel {
  int fd = -1;                 ///< -1 while given up to make room for deeper levels
  dev_t device{};              ///< the folder's identity, noted when fd is given up and
  ino_t inode{};               ///< checked when the folder is opened again
  std::string names;           ///< the names, each ended by a zero byte
  std::vector<size_t> starts;  ///< where each name begins in names
  size_t next = 0;             ///< the entry reported next
  size_t base = 0;             ///< length of the folder's path and a "/" at the start of IterateState::path
  OSErr listStatus = kVoStatusNoMoreItems;  ///< how the listing ended
  VoString folderPath;                      ///< ending in "/"; made when records or parents are asked for
  short volume = 0;
  long folderNumber = 0;

  size_t Count() const { return starts.size(); }
  const char* Name(size_t i) const { return names.data() + starts[i]; }
  size_t NameLength(size_t i) const {
    return (i + 1 < starts.size() ? starts[i + 1] : names.size()) - starts[i] - 1;
  }
};

struct IterateState {
  VoIterateContainerProc callback = nullptr;
  uint32_t whichInfo = 0;
  bool wantRecord = false;
  bool wantName = false;
  void* data = nullptr;
  unsigned long maxLevels = 0;
  bool quit = false;
  bool containerChanged = false;
  OSErr status = 0;
  FSCatalogInfo info;
  FSRef ref;
  FSSpec record;
  VoString name;
  std::string container;  ///< the container's path as given
  std::string
      path;  ///< the entry being reported; its folder's path and a "/" are the top level's first base bytes
  std::vector<WalkLevel> levels;  ///< the stack: levels[0] is the container; the first depth are in use
  size_t depth = 0;
  size_t open = 0;        ///< levels in use that hold a descriptor
  size_t lowestOpen = 0;  ///< no level below this one holds a descriptor
  std::vector<char> buffer;

  IterateState() = default;
  IterateState(const IterateState&) = delete;
  IterateState& operator=(const IterateState&) = delete;
  /// Closes every folder still open (the callback may throw).
  ~IterateState() {
    for (size_t i = 0; i < depth; ++i)
      if (levels[i].fd >= 0) close(levels[i].fd);
  }
  WalkLevel& Top() { return levels[depth - 1]; }
};

/// True when the folder open as \p fd is the one \p level noted.
bool SameFolder(int fd, const WalkLevel& level) {
  struct stat st;
  return fstat(fd, &st) == 0 && st.st_dev == level.device && st.st_ino == level.inode;
}

/// Gives up the descriptor of the shallowest level that holds one, except the
/// level holding \p keep. False when there is none.
bool GiveUpFolder(IterateState& s, int keep) {
  bool allBelowClosed = true;
  for (size_t i = s.lowestOpen; i < s.depth; ++i) {
    WalkLevel& l = s.levels[i];
    if (l.fd < 0) continue;
    if (l.fd == keep) {
      allBelowClosed = false;
      continue;
    }
    struct stat st;
    const bool known = fstat(l.fd, &st) == 0;
    l.device = known ? st.st_dev : dev_t{};
    l.inode = known ? st.st_ino : ino_t{};  // inode 0 matches no folder
    close(l.fd);
    l.fd = -1;
    --s.open;
    if (allBelowClosed) s.lowestOpen = i + 1;
    return true;
  }
  return false;
}

/// Opens the folder \p name relative to \p dirfd (\p flags added). Out of
/// descriptors, the walk gives up its shallowest ones (never \p dirfd) one at
/// a time and tries again.
int OpenFolder(IterateState& s, int dirfd, const char* name, int flags) {
  for (;;) {
    const int fd = openat(dirfd, name, flags | O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 || (errno != EMFILE && errno != ENFILE) || !GiveUpFolder(s, dirfd)) return fd;
  }
}

/// Hands \p fd to the level \p index and keeps the number of open levels
/// within kWalkOpenFolders.
void Adopt(IterateState& s, size_t index, int fd) {
  s.levels[index].fd = fd;
  ++s.open;
  s.lowestOpen = std::min(s.lowestOpen, index);
  while (s.open > kWalkOpenFolders && GiveUpFolder(s, fd)) {
  }
}

/// Reads the whole listing of the level's folder ("." and ".." left out).
void ListFolder(IterateState& s, WalkLevel& l) {
  l.names.clear();
  l.starts.clear();
  l.next = 0;
  l.listStatus = kVoStatusNoMoreItems;
  if (s.buffer.empty()) s.buffer.resize(kListingBuffer);
  for (;;) {
    const ssize_t n = getdents64(l.fd, s.buffer.data(), s.buffer.size());
    if (n <= 0) {
      // A folder removed while it is open may read as gone (ENOENT): it is empty.
      if (n < 0 && errno != ENOENT) l.listStatus = LastStatus();
      return;
    }
    for (size_t at = 0; at < static_cast<size_t>(n);) {
      const auto* entry = reinterpret_cast<const struct dirent64*>(s.buffer.data() + at);
      at += entry->d_reclen;
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      l.starts.push_back(l.names.size());
      l.names.append(name, std::strlen(name) + 1);
    }
  }
}

/// Opens the folder \p name (relative to \p dirfd) whose path is s.path and
/// pushes it on the stack, listed; s.levels has room for it. A subfolder gone
/// since it was listed (removed, or replaced by a file or a link) is skipped,
/// as a vanished file is; other failures set the walk's status.
void Enter(IterateState& s, int dirfd, const char* name, int flags) {
  const int fd = OpenFolder(s, dirfd, name, flags);
  if (fd < 0) {
    const int e = errno;
    if (s.depth == 0 || (e != ENOENT && e != ENOTDIR && e != ELOOP)) s.status = VoMacErrnoToStatus(e);
    return;
  }
  WalkLevel& l = s.levels[s.depth++];
  Adopt(s, s.depth - 1, fd);
  if (s.path.empty() || s.path.back() != '/') s.path += '/';
  l.base = s.path.size();
  ListFolder(s, l);
  if (s.wantRecord || (s.whichInfo & kFSCatInfoParentDirID)) {
    l.folderPath = Vo(s.path);
    l.volume = 0;
    l.folderNumber = 0;
    StatInfo st;
    if (s.wantRecord && StatAt(fd, "", AT_EMPTY_PATH, st) == 0)
      NumberFolder(s.path, st, l.volume, l.folderNumber);
  }
}

/// Opens again the folder of level \p index, given up earlier, from the
/// nearest level above it that is open (else from the container's path) by
/// the names on the way down, and checks that it is the same folder. False
/// when it is not there any more; failures other than a folder gone also set
/// the walk's status.
bool Reopen(IterateState& s, size_t index) {
  size_t from = index;
  while (from > 0 && s.levels[from - 1].fd < 0) --from;
  int fd;
  bool own = from == 0;  // fd is ours to close, not an open level's
  if (own) {
    fd = OpenFolder(s, AT_FDCWD, s.container.c_str(), 0);
    from = 1;
  } else {
    fd = s.levels[from - 1].fd;
  }
  for (size_t j = from; fd >= 0 && j <= index; ++j) {
    const WalkLevel& parent = s.levels[j - 1];
    const int next = OpenFolder(s, fd, parent.Name(parent.next - 1), O_NOFOLLOW);
    const int e = errno;
    if (own) close(fd);
    errno = e;
    fd = next;
    own = true;
  }
  if (fd < 0) {
    const int e = errno;
    if (e != ENOENT && e != ENOTDIR && e != ELOOP) s.status = VoMacErrnoToStatus(e);
    return false;
  }
  if (!SameFolder(fd, s.levels[index])) {
    close(fd);
    return false;
  }
  Adopt(s, index, fd);
  return true;
}

/// Pops the top level once its entries are done (or the walk ends). When the
/// walk comes back to a level that gave its descriptor up, that folder is
/// opened again as ".." of the one left, if it still is its parent, even
/// when it has no entries left: its own parent is then found the same way,
/// one step up, rather than by the names from the container down, which
/// costs the depth at each level and misses a folder moved meanwhile.
void Leave(IterateState& s) {
  WalkLevel& l = s.Top();
  if (s.status == 0 && !s.quit) s.status = l.listStatus;
  if (s.status == kVoStatusNoMoreItems || s.status == kVoStatusAccessDenied) s.status = 0;
  const int fd = l.fd;
  l.fd = -1;
  --s.depth;
  s.lowestOpen = std::min(s.lowestOpen, s.depth);
  if (fd < 0) return;
  int up = -1;
  if (s.depth > 0) {
    const WalkLevel& parent = s.Top();
    if (parent.fd < 0 && s.status == 0 && !s.quit) up = OpenFolder(s, fd, "..", 0);
  }
  close(fd);
  --s.open;
  if (up < 0) return;
  if (SameFolder(up, s.Top())) {
    Adopt(s, s.depth - 1, up);
  } else {
    close(up);  // moved elsewhere meanwhile: Reopen takes the way down by names
  }
}

/// Reports the entry \p i of the top level \p l and enters it when it is a
/// folder to be walked; s.levels has room for one more level.
void Report(IterateState& s, WalkLevel& l, size_t i) {
  const char* entryName = l.Name(i);
  StatInfo st;
  const int statError = StatAt(l.fd, entryName, AT_SYMLINK_NOFOLLOW, st);
  if (statError == ENOENT) return;  // gone since it was listed
  if (statError != 0) {
    s.status = VoMacErrnoToStatus(statError);
    return;
  }
  s.path.resize(l.base);
  s.path.append(entryName, l.NameLength(i));
  // As FillCatalogInfo fills it, field by field, with the parent's path made once per folder.
  FSCatalogInfo& info = s.info;
  const bool folder = S_ISDIR(st.mode);
  info.nodeFlags = NodeFlags(st.mode);
  info.dataLogicalSize = (s.whichInfo & kFSCatInfoDataSizes) && !folder ? st.size : 0;
  info.createDate = (s.whichInfo & kFSCatInfoCreateDate) ? st.born : VoMacTime();
  info.contentModDate = (s.whichInfo & kFSCatInfoContentMod) ? st.modified : VoMacTime();
  info.fileType = 0;
  info.fileCreator = 0;
  info.finderFlags = 0;
  if (s.whichInfo & kFSCatInfoParentDirID) info.parentPath = l.folderPath;
  if (s.whichInfo & kFSCatInfoFinderInfo) {
    FinderBits bits;
    const OSErr err = ReadFinderBits(AttributePath(s.path, l.fd, entryName), bits);
    if (err != kVoStatusNoErr) {
      s.status = err;
      return;
    }
    info.finderFlags = bits.flags;
    if (!folder) {
      info.fileType = bits.type;
      info.fileCreator = bits.creator;
    }
  }
  s.ref.path = Vo(s.path);
  if (s.wantRecord) {
    s.record.vRefNum = l.volume;
    s.record.parID = l.folderNumber;
    s.record.folder = l.folderPath;
    s.record.name = VoString(entryName);
  }
  if (s.wantName) s.name = VoString(entryName);
  const unsigned long level = s.depth;
  s.quit = s.callback(s.containerChanged, level, &s.info, &s.ref, s.wantRecord ? &s.record : nullptr,
                      s.wantName ? &s.name : nullptr, s.data);
  if (folder && !s.quit && (s.maxLevels == 0 || level < s.maxLevels)) Enter(s, l.fd, entryName, O_NOFOLLOW);
}

/// The walk proper: depth-first on the explicit stack s.levels, on the
/// caller's thread, with at most kWalkOpenFolders folders open.
void WalkContainer(IterateState& s) {
  s.levels.emplace_back();
  Enter(s, AT_FDCWD, s.container.c_str(), 0);
  while (s.depth > 0) {
    if (s.levels.size() == s.depth) s.levels.emplace_back();  // room for a subfolder
    WalkLevel& l = s.Top();
    if (s.quit || s.status != 0 || l.next >= l.Count()) {
      Leave(s);
    } else if (l.fd < 0 && !Reopen(s, s.depth - 1)) {
      l.next = l.Count();  // the folder is gone: so are its entries not yet reported
    } else {
      Report(s, l, l.next++);
    }
  }
}

// ==================================================================== dates

/// Days since 1970-01-01 to the civil date (proleptic Gregorian calendar).
void CivilFromDays(int64_t days, int64_t& year, int& month, int& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  year = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  if (month <= 2) ++year;
}

// ==================================================================== preferences

constexpr const char* kContrastKey = "contrast";

std::string PreferenceFile() {
  std::string config = ConfigHome();
  return config.empty() ? std::string() : Join(config, "com.apple.universalaccess.txt");
}

/// A finite number that is the whole text (blanks around it allowed).
bool ParseNumber(const VoString& text, double& value) {
  const char* s = text.c_str();
  char* end = nullptr;
  errno = 0;
  double v = strtod(s, &end);
  if (end == s) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != 0 || !std::isfinite(v)) return false;
  value = v;
  return true;
}

/// The shortest "%.*g" text that reads back as exactly \p value.
std::string NumberText(double value) {
  char buf[64];
  for (int precision = 1; precision <= 17; ++precision) {
    snprintf(buf, sizeof buf, "%.*g", precision, value);
    if (strtod(buf, nullptr) == value) break;
  }
  return buf;
}

/// What reading the preference file found.
enum class PrefFile { Missing, Read, Damaged };

/// Reads the preference file into \p db. Damaged: the file exists but cannot
/// be read (no permission, an I/O error, too large) or does not parse to its
/// end; \p db then holds the entries read before the damage.
PrefFile ReadPreferences(VoDataBase& db) {
  std::string file = PreferenceFile();
  if (file.empty()) return PrefFile::Missing;
  bool ok;
  errno = 0;
  std::string text = ReadSmallFile(file, ok);
  if (!ok) return errno == ENOENT ? PrefFile::Missing : PrefFile::Damaged;
  // As ReadFromString reads, but a "}" closing the top level ends that
  // reader silently: anything behind it makes the file damaged.
  const VoString content = Vo(text);
  long pos = 0;
  try {
    db.Clear();
    if (VoDataBase::GetNextChar(content, pos) != '{') pos = 0;
    db.String2DB(content, pos);
    if (VoDataBase::GetNextChar(content, pos) != 0) return PrefFile::Damaged;
  } catch (const VoError&) {
    return PrefFile::Damaged;
  }
  return PrefFile::Read;
}

/// The stored contrast of \p db as GetMacContrastEnhancement reads it.
double StoredContrast(VoDataBase& db) {
  double value = 0.0;
  if (db.Exists(kContrastKey) && !ParseNumber(db.GetString(kContrastKey), value)) value = 0.0;
  return value;
}

}  // namespace

// ==================================================================== statuses

OSErr VoMacErrnoToStatus(int errnum) {
  switch (errnum) {
    case 0:
      return kVoStatusNoErr;
    case ENOENT:
    case ELOOP:
      return kVoStatusFileNotFound;
    case ENOTDIR:
      return kVoStatusDirNotFound;
    case EEXIST:
      return kVoStatusDuplicate;
    case EACCES:
    case EPERM:
      return kVoStatusAccessDenied;
    case EINVAL:
    case EBADF:
    case EFAULT:
      return kVoStatusParamErr;
    case ENAMETOOLONG:
      return kVoStatusNameTooLong;
    case ENOSPC:
    case EDQUOT:
      return kVoStatusDiskFull;
    case EROFS:
      return kVoStatusWriteProtected;
    case EMFILE:
    case ENFILE:
      return kVoStatusTooManyFiles;
    case EBUSY:
    case ENOTEMPTY:
    case ETXTBSY:
      return kVoStatusBusy;
    case ENOMEM:
      return kVoStatusMemFull;
    case ENOTSUP:
    case ENOSYS:
      return kVoStatusUnsupported;
    default:
      return kVoStatusIOErr;
  }
}

void VoMacSetSharedProfilesFolder(const char* path) { SharedProfilesOverride() = path ? path : ""; }

// ==================================================================== folders

VoString VoMacFindFolder(VoFolderType folder) {
  switch (static_cast<int>(folder)) {
    case VoFolderTypeProfiles:
    case VoFolderTypeProfilesLocal:
    case VoFolderTypeProfilesUser: {
      // A version-9 system has one profile folder for everybody.
      if (VoGetPlatform() == kVoPlatformVersion9) return Vo(SharedProfilesPath());
      if (folder == VoFolderTypeProfilesUser) return Vo(UserProfilesPath());
      std::string shared = SharedProfilesPath();
      if (!shared.empty() || folder == VoFolderTypeProfilesLocal) return Vo(shared);
      return Vo(UserProfilesPath());
    }
    case VoFolderTypePreferences:
      return Vo(FolderPath(ConfigHome(), 0700));
    case VoFolderTypeDocuments:
      return Vo(FolderPath(DocumentsFolder(), 0700));
    case VoFolderTypeTemporary: {
      std::string tmp = EnvFolder("TMPDIR");
      return Vo(FolderPath(tmp.empty() ? std::string("/tmp") : tmp, 0700));
    }
    case VoFolderTypeAppSupport:
    case VoFolderTypeAppSupport2:
    case VoFolderTypeAppSupport3:
      return Vo(FolderPath(DataHome(), 0700));
    default:
      return VoString();
  }
}

void VoMacSetPath(VoFileSpec& spec, VoFolderType folder) {
  VoString name = spec.GetName();
  int value = static_cast<int>(folder);
  if (value < VoFolderTypeNone || value > VoFolderTypeAppSupport3) VO_THROW(eVoArgErr);
  if (folder == VoFolderTypeNone) {
    spec.SetFullName(name);
    return;
  }
  if (folder == VoFolderTypeUnchanged) return;
  spec.SetNativeFullName(VoMacFindFolder(folder));
  spec.SetName(name);
}

VoString VoMacGetPosixPath(short volume, long folder) {
  if (volume >= 0) return VoString();
  const std::vector<dev_t>& volumes = Volumes();
  size_t index = static_cast<size_t>(-static_cast<long>(volume) - 1);
  if (index >= volumes.size()) return VoString();
  for (const FolderEntry& e : Folders().entries) {
    if (e.volume != volume || e.folder != folder) continue;
    StatInfo st;
    if (StatAt(AT_FDCWD, e.path.c_str(), 0, st) != 0 || !S_ISDIR(st.mode) || st.device != volumes[index] ||
        static_cast<long>(st.inode) != folder)
      return VoString();  // gone, or another folder lives there now
    return Vo(e.path);
  }
  return VoString();
}

VoString VoMacGetFullPathName(const VoFileSpec& spec) { return spec.GetFullName(); }

// ==================================================================== conversions

OSErr VoFileSpecToFSRef(FSRef& ref, const VoFileSpec& spec) {
  std::string resolved;
  OSErr err = ResolvePath(Std(spec.GetFullName()), resolved);
  if (err == kVoStatusNoErr) ref.path = Vo(resolved);
  return err;
}

void VoFileSpecToFSSpec(FSSpec& record, const VoFileSpec& spec) {
  std::string resolved;
  if (ResolvePath(Std(spec.GetFullName()), resolved) == kVoStatusNoErr) {
    RecordFromResolved(resolved, record);
    return;
  }
  std::string name = Std(spec.GetName());
  if (name.empty()) {
    record = FSSpec();
    return;
  }
  std::string path = Std(spec.GetPath());
  std::string folder;
  if (ResolvePath(path.empty() ? std::string(".") : path, folder) == kVoStatusNoErr && IsFolder(folder)) {
    MakeRecord(folder, name, record);
    return;
  }
  // Neither the object nor its folder exists: the name in the current folder.
  char* cwd = getcwd(nullptr, 0);
  MakeRecord(cwd ? std::string(cwd) : std::string(), name, record);
  free(cwd);
}

void FSRefToVoFileSpec(VoFileSpec& spec, const FSRef& ref) {
  std::string path = Std(ref.path);
  std::string resolved;
  if (ResolvePath(path, resolved) == kVoStatusNoErr) path = resolved;
  spec.SetNativeFullName(Vo(path));
  spec.SetTypeID(0);
  spec.SetCreatorID(0);  // with type ID 0 this leaves the creator 0
  VoMacFSRefToCreatorType(spec, ref);
}

void FSSpecToVoFileSpec(VoFileSpec& spec, const FSSpec& record) {
  std::string resolved;
  if (ResolvePath(RecordPath(record), resolved) == kVoStatusNoErr) {
    FSRef ref;
    ref.path = Vo(resolved);
    FSRefToVoFileSpec(spec, ref);
    return;
  }
  VoString folder = VoMacGetPosixPath(record.vRefNum, record.parID);
  if (folder.length() == 0) folder = record.folder;
  spec.SetNativeFullName(folder);
  spec.SetName(record.name);
  spec.SetTypeID(0);
  spec.SetCreatorID(0);
  VoMacReadCreatorType(spec);
}

OSErr VoMacFSRefToCreatorType(VoFileSpec& spec, const FSRef& ref) {
  FSCatalogInfo info;
  OSErr err = FSGetCatalogInfo(ref, kFSCatInfoNodeFlags | kFSCatInfoFinderInfo, &info);
  if (err != kVoStatusNoErr) return err;
  uint32_t type = 0;
  uint32_t creator = 0;
  if (!(info.nodeFlags & kFSNodeIsDirectoryMask)) {
    type = info.fileType;
    creator = info.fileCreator;
  }
  spec.SetType(VoFileTypeUnknown);
  if (spec.GetType() == VoFileTypeUnknown) spec.SetTypeID(type);
  spec.SetCreatorID(creator);
  return kVoStatusNoErr;
}

OSErr VoMacReadCreatorType(VoFileSpec& spec) {
  FSRef ref;
  OSErr err = VoFileSpecToFSRef(ref, spec);
  if (err != kVoStatusNoErr) return err;
  return VoMacFSRefToCreatorType(spec, ref);
}

void VoMacReadStoredCodes(const VoString& path, uint32_t& type, uint32_t& creator) {
  type = 0;
  creator = 0;
  std::string full = Std(path);
  if (full.empty()) return;
  FinderBits bits;
  if (full.size() < PATH_MAX) {
    ReadFinderBits(full, bits);
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
      ReadFinderBits(AttributePath(full, dirfd, full.c_str() + slash + 1), bits);
    }
    if (dirfd >= 0) close(dirfd);
  }
  type = bits.type;
  creator = bits.creator;
}

// ==================================================================== files and folders

namespace {

/// Writes the spec's non-zero IDs to the file it names (not to a folder).
void StoreCodes(const VoFileSpec& spec) {
  FSRef ref;
  if (VoFileSpecToFSRef(ref, spec) != kVoStatusNoErr) return;
  FSCatalogInfo info;
  if (FSGetCatalogInfo(ref, kFSCatInfoNodeFlags | kFSCatInfoFinderInfo, &info) != kVoStatusNoErr ||
      (info.nodeFlags & kFSNodeIsDirectoryMask))
    return;
  uint32_t type = static_cast<uint32_t>(spec.GetTypeID());
  uint32_t creator = static_cast<uint32_t>(spec.GetCreatorID());
  if (type == 0 && creator == 0) return;
  if (type != 0) info.fileType = type;
  if (creator != 0) info.fileCreator = creator;
  FSSetCatalogInfo(ref, kFSCatInfoFinderInfo, info);  // failures are ignored
}

[[noreturn]] void ThrowNotOpen(const char* prefix, const VoFileSpec& spec) {
  VoString text(prefix);
  text += spec.GetFullName();
  throw VoError(eVoFileNotOpen, text.c_str(), nullptr, 0);
}

}  // namespace

FILE* VoMacOpenFile(VoFileSpec& spec, eVoFileAccess access) {
  switch (access) {
    case eVoFileRead: {
      FSRef ref;
      VoFileSpecToFSRef(ref, spec);  // an unresolved spec leaves the path empty
      FILE* file = ref.path.length() > 0 ? fopen(ref.path.c_str(), "rbe") : nullptr;
      if (!file) ThrowNotOpen("FileNotOpen (for reading): ", spec);
      return file;
    }
    case eVoFileWrite:
    case eVoFileReadWrite: {
      spec.SetType(VoFileTypeUnknown);
      std::string path = Std(spec.GetFullName());
      FILE* file = nullptr;
      if (!path.empty()) {
        if (access == eVoFileWrite) {
          file = fopen(path.c_str(), "wbe");
        } else {
          file = fopen(path.c_str(), "rb+e");
          if (!file) {
            // Create the file only when it is missing ("x": exclusive), so an
            // existing file that may not be read is never emptied here.
            FILE* made = fopen(path.c_str(), "wbxe");
            if (made) {
              fclose(made);
              file = fopen(path.c_str(), "rb+e");
            }
          }
        }
      }
      StoreCodes(spec);
      if (!file) ThrowNotOpen("FileNotOpen: (for writing)", spec);
      return file;
    }
    default:
      return nullptr;
  }
}

OSErr VoMacCreateDir(const VoFileSpec& spec) {
  std::string parent = Std(spec.GetPath());
  std::string resolved;
  OSErr err = ResolvePath(parent.empty() ? std::string(".") : parent, resolved);
  if (err != kVoStatusNoErr) return err;
  std::string name = Std(spec.GetName());
  if (name.empty()) return kVoStatusBadName;
  int fd = open(resolved.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return LastStatus();
  err = mkdirat(fd, name.c_str(), 0777) == 0 ? kVoStatusNoErr : LastStatus();
  close(fd);
  return err;
}

int VoMacMoveFile(const VoFileSpec& source, const VoFileSpec& target) {
  return rename(source.GetFullName().c_str(), target.GetFullName().c_str()) == 0 ? 0 : -1;
}

OSErr VoMacSetVisible(const VoFileSpec& spec, bool visible) {
  FSRef ref;
  OSErr err = VoFileSpecToFSRef(ref, spec);
  if (err != kVoStatusNoErr) return err;
  return FSChangeFinderFlags(ref, !visible, kIsInvisible);
}

int VoMacSetWorkingDir(int which) {
  (void)which;  // no bundles on Linux: both choices mean the executable's folder
  std::vector<char> buf(256);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return -1;
    if (static_cast<size_t>(n) < buf.size()) {
      std::string folder = FolderOf(std::string(buf.data(), static_cast<size_t>(n)));
      if (folder.empty()) return -1;
      return chdir(folder.c_str()) == 0 ? 0 : -1;
    }
    if (buf.size() >= (1u << 20)) return -1;
    buf.resize(buf.size() * 2);
  }
}

// ==================================================================== preferences

double GetMacContrastEnhancement() {
  VoDataBase db;
  return ReadPreferences(db) == PrefFile::Missing ? 0.0 : StoredContrast(db);
}

bool SetMacContrastEnhancement(double value) {
  if (!std::isfinite(value)) return false;
  VoDataBase db;
  const PrefFile found = ReadPreferences(db);
  // A file that cannot be read or parsed whole is left as it is: writing it
  // back would lose the settings behind the damage.
  if (found == PrefFile::Damaged) return false;
  if (StoredContrast(db) == value) return false;
  std::string file = PreferenceFile();
  if (file.empty() || !MakeFolders(ConfigHome(), 0700)) return false;
  db.SetString(kContrastKey, Vo(NumberText(value)));
  try {
    db.WriteToFile(VoFileSpec(Vo(file)));  // the database's safe replacement
  } catch (const VoError&) {
    return false;
  }
  return true;
}

// ==================================================================== file-system utilities

OSErr FSPathMakeFSSpec(const char* path, FSSpec* record, bool* isFolder) {
  if (!path || !record) return kVoStatusParamErr;
  std::string resolved;
  OSErr err = ResolvePath(path, resolved);
  if (err != kVoStatusNoErr) return err;
  RecordFromResolved(resolved, *record);
  if (isFolder) *isFolder = IsFolder(resolved);
  return kVoStatusNoErr;
}

OSErr FSMakeFSSpec(short volume, long folder, const VoString& name, FSSpec* record) {
  if (!record) return kVoStatusParamErr;
  VoString folderPath = VoMacGetPosixPath(volume, folder);
  if (folderPath.length() == 0) return kVoStatusDirNotFound;
  *record = FSSpec();
  record->vRefNum = volume;
  record->parID = folder;
  record->folder = folderPath;
  record->name = name;
  struct stat st;
  if (lstat(RecordPath(*record).c_str(), &st) != 0) return LastStatus();
  return kVoStatusNoErr;
}

OSErr FSpMakeFSRef(const FSSpec& record, FSRef* ref) {
  if (!ref) return kVoStatusParamErr;
  std::string resolved;
  OSErr err = ResolveEntry(RecordPath(record), resolved);
  if (err == kVoStatusNoErr) ref->path = Vo(resolved);
  return err;
}

OSErr FSRefMakePath(const FSRef& ref, VoString* path) {
  if (!path || ref.path.length() == 0) return kVoStatusParamErr;
  *path = ref.path;
  return kVoStatusNoErr;
}

OSErr FSGetCatalogInfo(const FSRef& ref, uint32_t whichInfo, FSCatalogInfo* info) {
  if (!info) return kVoStatusParamErr;
  std::string path = Std(ref.path);
  if (path.empty()) return kVoStatusFileNotFound;
  if (path.size() >= PATH_MAX) return kVoStatusNameTooLong;
  StatInfo st;
  int e = StatAt(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, st);
  if (e != 0) return VoMacErrnoToStatus(e);
  return FillCatalogInfo(path, st, whichInfo, *info);
}

OSErr FSSetCatalogInfo(const FSRef& ref, uint32_t whichInfo, const FSCatalogInfo& info) {
  std::string path = Std(ref.path);
  if (path.empty()) return kVoStatusFileNotFound;
  if (path.size() >= PATH_MAX) return kVoStatusNameTooLong;
  StatInfo st;
  int e = StatAt(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, st);
  if (e != 0) return VoMacErrnoToStatus(e);
  if (whichInfo & kFSCatInfoFinderInfo) {
    FinderBits bits;
    OSErr err = ReadFinderBits(path, bits);
    if (err != kVoStatusNoErr) return err;
    bits.flags = info.finderFlags;
    if (!S_ISDIR(st.mode)) {
      bits.type = info.fileType;
      bits.creator = info.fileCreator;
    }
    err = WriteFinderBits(path, bits);
    if (err != kVoStatusNoErr) return err;
  }
  if (whichInfo & kFSCatInfoContentMod) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(info.contentModDate.seconds);
    times[1].tv_nsec = info.contentModDate.nanoseconds % 1000000000u;
    if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) return LastStatus();
  }
  if ((whichInfo & kFSCatInfoNodeFlags) && !S_ISLNK(st.mode)) {
    // Set last: a locked file refuses the attribute above to its owner.
    const mode_t writeBits = S_IWUSR | S_IWGRP | S_IWOTH;
    mode_t perms = st.mode & 07777;
    bool locked = (perms & writeBits) == 0;
    bool lock = (info.nodeFlags & kFSNodeLockedMask) != 0;
    if (lock != locked) {
      mode_t newPerms = lock ? (perms & ~writeBits) : (perms | S_IWUSR);
      if (chmod(path.c_str(), newPerms) != 0) return LastStatus();
    }
  }
  return kVoStatusNoErr;
}

OSErr FSChangeFinderFlags(const FSRef& ref, bool set, uint16_t flags) {
  FSCatalogInfo info;
  OSErr err = FSGetCatalogInfo(ref, kFSCatInfoFinderInfo | kFSCatInfoParentDirID, &info);
  if (err != kVoStatusNoErr) return err;
  if (set) {
    info.finderFlags = static_cast<uint16_t>(info.finderFlags | flags);
  } else {
    info.finderFlags = static_cast<uint16_t>(info.finderFlags & ~flags);
  }
  err = FSSetCatalogInfo(ref, kFSCatInfoFinderInfo, info);
  if (err != kVoStatusNoErr) return err;
  FSRef parent;
  parent.path = info.parentPath;
  FSBumpDate(parent);
  return kVoStatusNoErr;
}

OSErr FSSetInvisible(const FSRef& ref) { return FSChangeFinderFlags(ref, true, kIsInvisible); }

OSErr FSClearInvisible(const FSRef& ref) { return FSChangeFinderFlags(ref, false, kIsInvisible); }

OSErr FSBumpDate(const FSRef& ref) {
  FSCatalogInfo info;
  OSErr err = FSGetCatalogInfo(ref, kFSCatInfoContentMod, &info);
  if (err != kVoStatusNoErr) return err;
  struct timespec now;
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return LastStatus();
  FSCatalogInfo changed;
  changed.contentModDate.seconds = now.tv_sec;
  changed.contentModDate.nanoseconds = static_cast<uint32_t>(now.tv_nsec);
  if (changed.contentModDate.seconds == info.contentModDate.seconds &&
      changed.contentModDate.nanoseconds == info.contentModDate.nanoseconds)
    ++changed.contentModDate.seconds;
  FSSetCatalogInfo(ref, kFSCatInfoContentMod, changed);  // a read-only volume is no failure
  return kVoStatusNoErr;
}

OSErr FSIterateContainer(const FSRef& container, unsigned long maxLevels, uint32_t whichInfo, bool wantRecord,
                         bool wantName, VoIterateContainerProc callback, void* data) {
  if (!callback) return kVoStatusParamErr;
  std::string path = Std(container.path);
  if (path.empty()) return kVoStatusFileNotFound;
  if (path.size() >= PATH_MAX) return kVoStatusNameTooLong;
  IterateState s;
  s.callback = callback;
  s.whichInfo = whichInfo | kFSCatInfoNodeFlags;
  s.wantRecord = wantRecord;
  s.wantName = wantName;
  s.data = data;
  s.maxLevels = maxLevels;
  s.container = path;
  s.path = path;
  if (s.path.size() > 1 && s.path.back() == '/') s.path.pop_back();
  WalkContainer(s);
  return s.status;
}

VoDate VoMacTimeToDate(const VoMacTime& time) {
  int64_t days = time.seconds / 86400;
  int64_t rest = time.seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  int64_t year;
  int month;
  int day;
  CivilFromDays(days, year, month, day);
  int y = year < 0 ? -1 : year > 3001 ? 3001 : static_cast<int>(year);  // clamped by VoDate
  return VoDate(y, month, day, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60));
}
