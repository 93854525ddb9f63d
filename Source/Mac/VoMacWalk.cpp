// VoMacWalk.cpp - FSIterateContainer: a depth-first walk through descriptors, with few folders open.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "Linux/VoLinuxSys.h"
#include "Mac/VoMacBridgePrivate.h"
#include "VoCore/VoStringPrivate.h"

namespace {

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
  std::string kinds;           ///< each entry's d_type (DT_UNKNOWN where the listing has no kind)
  size_t next = 0;             ///< the entry reported next
  size_t base = 0;             ///< length of the folder's path and a "/" at the start of IterateState::path
  OSErr listStatus = kVoStatusNoMoreItems;  ///< how the listing ended
  VoString folderPath;                      ///< ending in "/"; made when records or parents are asked for
  short volume = 0;
  long folderNumber = 0;

  size_t Count() const { return starts.size(); }
  const char* Name(size_t i) const { return names.data() + starts[i]; }
  unsigned char Kind(size_t i) const { return static_cast<unsigned char>(kinds[i]); }
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
  unsigned statMask = 0;         ///< the statx fields whichInfo needs
  bool kindFromListing = false;  ///< the listing's d_type, where known, is all the walk needs of an entry
  OSErr status = 0;
  /// The blocks of the reported paths and names, carved one behind the other
  /// from shared slabs rather than allocated one by one: a walk makes one per
  /// entry, and a caller keeping them (a list of the files found) keeps them
  /// together. A kept path holds its slab (64 KiB) until it is let go of.
  VoStringBlockRun blocks;
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
  size_t held = 0;        ///< descriptors held outside the levels (while a folder is reopened)
  std::vector<char> buffer;

  IterateState() = default;
  IterateState(const IterateState&) = delete;
  IterateState& operator=(const IterateState&) = delete;
  /// Closes every folder still open (the callback may throw).
  ~IterateState() {
    for (size_t i = 0; i < depth; ++i)
      if (levels[i].fd >= 0) gVoSys.close(levels[i].fd);
  }
  WalkLevel& Top() { return levels[depth - 1]; }
};

/// True when the folder open as \p fd is the one \p level noted.
bool SameFolder(int fd, const WalkLevel& level) {
  struct stat st;
  return VoSysRetry([&] { return gVoSys.fstatat(fd, "", &st, AT_EMPTY_PATH); }) == 0 &&
         st.st_dev == level.device && st.st_ino == level.inode;
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
    const bool known = VoSysRetry([&] { return gVoSys.fstatat(l.fd, "", &st, AT_EMPTY_PATH); }) == 0;
    l.device = known ? st.st_dev : dev_t{};
    l.inode = known ? st.st_ino : ino_t{};  // inode 0 matches no folder
    gVoSys.close(l.fd);
    l.fd = -1;
    --s.open;
    if (allBelowClosed) s.lowestOpen = i + 1;
    return true;
  }
  return false;
}

/// Opens the folder \p name relative to \p dirfd (\p flags added). The
/// shallowest levels (never \p dirfd) give their descriptors up first, so
/// that the new one stays within kWalkOpenFolders; out of descriptors, more
/// are given up one at a time.
int OpenFolder(IterateState& s, int dirfd, const char* name, int flags) {
  while (s.open + s.held >= kWalkOpenFolders && GiveUpFolder(s, dirfd)) {
  }
  for (;;) {
    const int fd =
        VoSysRetry([&] { return gVoSys.openat(dirfd, name, flags | O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); });
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
  l.kinds.clear();
  l.next = 0;
  l.listStatus = kVoStatusNoMoreItems;
  if (s.buffer.empty()) s.buffer.resize(kListingBuffer);
  for (;;) {
    const ssize_t n = VoSysRetry([&] { return gVoSys.getdents64(l.fd, s.buffer.data(), s.buffer.size()); });
    if (n <= 0) {
      // A folder removed while it is open may read as gone (ENOENT): it is empty.
      if (n < 0 && errno != ENOENT) l.listStatus = VoMacLastStatus();
      return;
    }
    for (size_t at = 0; at < static_cast<size_t>(n);) {
      const auto* entry = reinterpret_cast<const struct dirent64*>(s.buffer.data() + at);
      at += entry->d_reclen;
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      l.starts.push_back(l.names.size());
      l.names.append(name, std::strlen(name) + 1);
      l.kinds.push_back(static_cast<char>(entry->d_type));
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
    l.folderPath = VoMacString(s.path);
    l.volume = 0;
    l.folderNumber = 0;
    VoMacStatInfo st;
    if (s.wantRecord && VoMacStatAt(fd, "", AT_EMPTY_PATH, st) == 0)
      VoMacNumberFolder(s.path, st, l.volume, l.folderNumber);
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
    s.held = own ? 1 : 0;
    const int next = OpenFolder(s, fd, parent.Name(parent.next - 1), O_NOFOLLOW);
    const int e = errno;
    s.held = 0;
    if (own) gVoSys.close(fd);
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
    gVoSys.close(fd);
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
  gVoSys.close(fd);
  --s.open;
  if (up < 0) return;
  if (SameFolder(up, s.Top())) {
    Adopt(s, s.depth - 1, up);
  } else {
    gVoSys.close(up);  // moved elsewhere meanwhile: Reopen takes the way down by names
  }
}

/// The statx fields a walk needs for \p whichInfo: the type and the mode
/// always (folder and locked flags), the rest only when asked for.
unsigned StatMask(uint32_t whichInfo) {
  unsigned mask = STATX_TYPE | STATX_MODE;
  if (whichInfo & kFSCatInfoDataSizes) mask |= STATX_SIZE;
  if (whichInfo & (kFSCatInfoCreateDate | kFSCatInfoContentMod)) mask |= STATX_MTIME | STATX_BTIME;
  return mask;
}

/// Reports the entry \p i of the top level \p l and enters it when it is a
/// folder to be walked; s.levels has room for one more level.
void Report(IterateState& s, WalkLevel& l, size_t i) {
  const char* entryName = l.Name(i);
  VoMacStatInfo st;
  const unsigned char listed = l.Kind(i);
  // With the kinds from the listing, the first entry of a folder is examined
  // all the same: in a folder that may be read but not searched that fails,
  // and the folder's entries are left out as when every entry is examined.
  if (s.kindFromListing && listed != DT_UNKNOWN && i > 0) {
    st.mode = listed == DT_DIR ? S_IFDIR : S_IFREG;
  } else {
    const int statError = VoMacStatAt(l.fd, entryName, AT_SYMLINK_NOFOLLOW, st, s.statMask);
    if (statError == ENOENT) return;  // gone since it was listed
    if (statError != 0) {
      s.status = VoMacErrnoToStatus(statError);
      return;
    }
  }
  if (s.kindFromListing) st.mode = (S_ISDIR(st.mode) ? S_IFDIR : S_IFREG) | S_IWUSR;  // the kind alone
  s.path.resize(l.base);
  s.path.append(entryName, l.NameLength(i));
  // As FillCatalogInfo fills it, field by field, with the parent's path made once per folder.
  FSCatalogInfo& info = s.info;
  const bool folder = S_ISDIR(st.mode);
  info.nodeFlags = VoMacNodeFlags(st.mode);
  info.dataLogicalSize = (s.whichInfo & kFSCatInfoDataSizes) && !folder ? st.size : 0;
  info.createDate = (s.whichInfo & kFSCatInfoCreateDate) ? st.born : VoMacTime();
  info.contentModDate = (s.whichInfo & kFSCatInfoContentMod) ? st.modified : VoMacTime();
  info.fileType = 0;
  info.fileCreator = 0;
  info.finderFlags = 0;
  if (s.whichInfo & kFSCatInfoParentDirID) info.parentPath = l.folderPath;
  if (s.whichInfo & kFSCatInfoFinderInfo) {
    VoMacFinderBits bits;
    const OSErr err = VoMacReadFinderBitsIn(l.fd, entryName, st.mode, bits);
    if (err == kVoStatusFileNotFound) return;  // gone since it was examined
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
  s.ref.path = VoString(s.blocks.New(s.path.data(), static_cast<long>(s.path.size())));
  const long nameLength = static_cast<long>(l.NameLength(i));
  if (s.wantRecord) {
    s.record.vRefNum = l.volume;
    s.record.parID = l.folderNumber;
    s.record.folder = l.folderPath;
    s.record.name = VoString(s.blocks.New(entryName, nameLength));
  }
  if (s.wantName) s.name = VoString(s.blocks.New(entryName, nameLength));
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

}  // namespace

OSErr FSIterateContainer(const FSRef& container, unsigned long maxLevels, uint32_t whichInfo, bool wantRecord,
                         bool wantName, VoIterateContainerProc callback, void* data) {
  if (!callback) return kVoStatusParamErr;
  std::string path = VoMacPathBytes(container.path);
  if (path.empty()) return kVoStatusFileNotFound;
  if (path.size() >= PATH_MAX) return kVoStatusNameTooLong;
  IterateState s;
  s.callback = callback;
  s.kindFromListing = (whichInfo & ~kFSCatInfoParentDirID) == kVoCatInfoKindFromListing;
  s.whichInfo = whichInfo | kFSCatInfoNodeFlags;
  s.statMask = StatMask(s.whichInfo);
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
