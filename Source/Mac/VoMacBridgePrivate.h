// VoMacBridgePrivate.h - what the bridge's files share: stat, resolving, finder bits, records, folders.
#ifndef VOFOUNDATION_MAC_VOMACBRIDGEPRIVATE_H
#define VOFOUNDATION_MAC_VOMACBRIDGEPRIVATE_H

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

#include "Mac/VoMacToolsOSX.h"
#include "Mac/VoMacToolsPrivate.h"

// ==================================================================== paths and stat (VoMacPaths.cpp)

/// The status of the current errno.
OSErr VoMacLastStatus();

/// The resolved absolute path of an existing object (symbolic links followed).
OSErr VoMacResolvePath(const std::string& path, std::string& out);

/// The absolute path of the entry \p path names, its folder resolved but its
/// last part not followed (a link stays the link). ".", ".." and "/"-ended
/// paths are resolved completely.
OSErr VoMacResolveEntry(const std::string& path, std::string& out);

/// True when \p path names a folder (links followed).
bool VoMacIsFolder(const std::string& path);

/// What the bridge needs of a stat: the fields of statx, with a fallback to
/// fstatat where statx is not offered.
struct VoMacStatInfo {
  mode_t mode = 0;
  uint64_t size = 0;
  uint64_t inode = 0;
  dev_t device = 0;
  VoMacTime modified;
  VoMacTime born;
};

/// The statx fields VoMacStatAt asks for unless told otherwise: all of VoMacStatInfo.
inline constexpr unsigned kVoMacStatAll =
    STATX_TYPE | STATX_MODE | STATX_INO | STATX_SIZE | STATX_MTIME | STATX_BTIME;

/// Examines \p name relative to \p dirfd (AT_FDCWD for paths); \p flags as for
/// fstatat (AT_SYMLINK_NOFOLLOW). \p mask narrows what statx is asked for (a
/// walk that needs no size or dates); fields not asked for are left
/// unspecified. Returns 0 or an errno value.
int VoMacStatAt(int dirfd, const char* name, int flags, VoMacStatInfo& out, unsigned mask = kVoMacStatAll);

/// The whole contents of a small file (at most 16 MiB); \p ok false and ""
/// when it cannot be read, errno telling why (EFBIG when it is larger).
std::string VoMacReadSmallFile(const std::string& path, bool& ok);

/// Makes \p path and its missing parents as folders. True when it is a folder at the end.
bool VoMacMakeFolders(const std::string& path, mode_t mode);

/// The resolved path of the folder, made when missing, ending in "/"; "" on failure.
std::string VoMacFolderPath(const std::string& path, mode_t mode);

// ==================================================================== finder information
// (VoMacFinderInfo.cpp)

/// The contents of the finder attribute.
struct VoMacFinderBits {
  uint32_t type = 0;
  uint32_t creator = 0;
  uint16_t flags = 0;
};

/// Reads the finder attribute of \p path (its own, links not followed). A
/// file system without extended attributes, an object without the attribute,
/// and an object whose attributes may not be read (user attributes need read
/// permission, which a locked-away folder denies even to a walk that may list
/// its parent) give zeros and 0. Other failures give their status.
OSErr VoMacReadFinderBits(const std::string& path, VoMacFinderBits& bits);

/// Writes the finder attribute of \p path; all zero removes it. A file system
/// without extended attributes ignores the call (0).
OSErr VoMacWriteFinderBits(const std::string& path, const VoMacFinderBits& bits);

/// As VoMacReadFinderBits, of the object open as \p fd.
OSErr VoMacReadFinderBitsAt(int fd, VoMacFinderBits& bits);

/// As VoMacReadFinderBits, of the entry \p name of the folder open as
/// \p dirfd whose type \p mode was just examined: read relative to that
/// folder (no path resolved again, no link followed, no FIFO waited for).
/// Entries other than files and folders carry none (zeros, 0). An entry
/// that vanished meanwhile gives kVoStatusFileNotFound.
OSErr VoMacReadFinderBitsIn(int dirfd, const char* name, mode_t mode, VoMacFinderBits& bits);

/// As VoMacWriteFinderBits, of the object open as \p fd.
OSErr VoMacWriteFinderBitsAt(int fd, const VoMacFinderBits& bits);

// ==================================================================== catalog information
// (VoMacCatalogInfo.cpp)

/// The node flags of an object of mode \p mode (inline: a walk asks for each entry).
inline uint16_t VoMacNodeFlags(mode_t mode) {
  uint16_t flags = 0;
  if (S_ISDIR(mode)) flags |= kFSNodeIsDirectoryMask;
  if (!S_ISLNK(mode) && (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) flags |= kFSNodeLockedMask;
  return flags;
}

// ==================================================================== volume and folder numbers
// (VoMacVolumes.cpp)

/// Gives the folder \p path (ending in "/") its numbers and remembers it.
void VoMacNumberFolder(const std::string& path, const VoMacStatInfo& st, short& volume, long& folder);

/// Fills \p record with the folder \p folderPath (resolved, any form) and \p name.
void VoMacMakeRecord(const std::string& folderPath, const std::string& name, FSSpec& record);

/// A record for the resolved path of an existing object.
void VoMacRecordFromResolved(const std::string& resolved, FSSpec& record);

/// The record's whole path: folder + name.
std::string VoMacRecordPath(const FSSpec& record);

// ==================================================================== well-known folders
// (VoMacXdgFolders.cpp)

/// An environment variable that holds an absolute path; "" otherwise.
std::string VoMacEnvFolder(const char* name);

/// $XDG_CONFIG_HOME when absolute, else ~/.config; "" without a home.
std::string VoMacConfigHome();

/// $XDG_DATA_HOME when absolute, else ~/.local/share; "" without a home.
std::string VoMacDataHome();

/// The documents folder as VoFolderTypeDocuments describes it (not made); "" without a home.
std::string VoMacDocumentsFolder();

/// The shared colour-profile folder's resolved path, made when missing; "" on failure.
std::string VoMacSharedProfilesPath();

/// The user's colour-profile folder's resolved path, made when missing; "" on failure.
std::string VoMacUserProfilesPath();

#endif  // VOFOUNDATION_MAC_VOMACBRIDGEPRIVATE_H
