// VoMacCatalogInfo.cpp - catalog information of one object: node flags, codes and flags, sizes, dates.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <climits>
#include <ctime>
#include <string>

#include "Linux/VoLinuxSys.h"
#include "Mac/VoMacBridgePrivate.h"

namespace {

/// Fills \p info from \p st (and the finder attribute of \p path when asked).
OSErr FillCatalogInfo(const std::string& path, const VoMacStatInfo& st, uint32_t which, FSCatalogInfo& info) {
  info = FSCatalogInfo();
  info.nodeFlags = VoMacNodeFlags(st.mode);
  bool folder = S_ISDIR(st.mode);
  if (which & kFSCatInfoDataSizes) info.dataLogicalSize = folder ? 0 : st.size;
  if (which & kFSCatInfoCreateDate) info.createDate = st.born;
  if (which & kFSCatInfoContentMod) info.contentModDate = st.modified;
  if (which & kFSCatInfoParentDirID) {
    std::string parent = VoMacFolderOf(path);
    info.parentPath = VoMacString(parent.empty() ? std::string("/") : parent);
  }
  if (which & kFSCatInfoFinderInfo) {
    VoMacFinderBits bits;
    OSErr err = VoMacReadFinderBits(path, bits);
    if (err != kVoStatusNoErr) return err;
    info.finderFlags = bits.flags;
    if (!folder) {
      info.fileType = bits.type;
      info.fileCreator = bits.creator;
    }
  }
  return kVoStatusNoErr;
}

/// The path of \p ref and the facts of what it names (a link itself, not
/// its target).
OSErr ExamineRef(const FSRef& ref, std::string& path, VoMacStatInfo& st) {
  path = VoMacPathBytes(ref.path);
  if (path.empty()) return kVoStatusFileNotFound;
  if (path.size() >= PATH_MAX) return kVoStatusNameTooLong;
  const int e = VoMacStatAt(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, st);
  return e != 0 ? VoMacErrnoToStatus(e) : kVoStatusNoErr;
}

}  // namespace

OSErr FSGetCatalogInfo(const FSRef& ref, uint32_t whichInfo, FSCatalogInfo* info) {
  if (!info) return kVoStatusParamErr;
  std::string path;
  VoMacStatInfo st;
  const OSErr err = ExamineRef(ref, path, st);
  if (err != kVoStatusNoErr) return err;
  return FillCatalogInfo(path, st, whichInfo, *info);
}

OSErr FSSetCatalogInfo(const FSRef& ref, uint32_t whichInfo, const FSCatalogInfo& info) {
  std::string path;
  VoMacStatInfo st;
  const OSErr examined = ExamineRef(ref, path, st);
  if (examined != kVoStatusNoErr) return examined;
  if (whichInfo & kFSCatInfoFinderInfo) {
    VoMacFinderBits bits;
    OSErr err = VoMacReadFinderBits(path, bits);
    if (err != kVoStatusNoErr) return err;
    bits.flags = info.finderFlags;
    if (!S_ISDIR(st.mode)) {
      bits.type = info.fileType;
      bits.creator = info.fileCreator;
    }
    err = VoMacWriteFinderBits(path, bits);
    if (err != kVoStatusNoErr) return err;
  }
  if (whichInfo & kFSCatInfoContentMod) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(info.contentModDate.seconds);
    times[1].tv_nsec = info.contentModDate.nanoseconds % 1000000000u;
    if (VoSysRetry([&] { return gVoSys.utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW); }) != 0)
      return VoMacLastStatus();
  }
  if ((whichInfo & kFSCatInfoNodeFlags) && !S_ISLNK(st.mode)) {
    // Set last: a locked file refuses the attribute above to its owner.
    const mode_t writeBits = S_IWUSR | S_IWGRP | S_IWOTH;
    mode_t perms = st.mode & 07777;
    bool locked = (perms & writeBits) == 0;
    bool lock = (info.nodeFlags & kFSNodeLockedMask) != 0;
    if (lock != locked) {
      mode_t newPerms = lock ? (perms & ~writeBits) : (perms | S_IWUSR);
      if (VoSysRetry([&] { return gVoSys.fchmodat(AT_FDCWD, path.c_str(), newPerms, 0); }) != 0)
        return VoMacLastStatus();
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
  if (gVoSys.clock_gettime(CLOCK_REALTIME, &now) != 0) return VoMacLastStatus();
  FSCatalogInfo changed;
  changed.contentModDate.seconds = now.tv_sec;
  changed.contentModDate.nanoseconds = static_cast<uint32_t>(now.tv_nsec);
  if (changed.contentModDate.seconds == info.contentModDate.seconds &&
      changed.contentModDate.nanoseconds == info.contentModDate.nanoseconds)
    ++changed.contentModDate.seconds;
  FSSetCatalogInfo(ref, kFSCatInfoContentMod, changed);  // a read-only volume is no failure
  return kVoStatusNoErr;
}
