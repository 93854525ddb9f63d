/// \file
/// The bridge to the file system: well-known folders, file identities, codes, walks.
#ifndef VOFOUNDATION_MAC_VOMACTOOLSOSX_H
#define VOFOUNDATION_MAC_VOMACTOOLSOSX_H

#include <cstdint>
#include <cstdio>

#include "VoCore/VoString.h"
#include "VoIO/VoFileSpec.h"
#include "VoIO/VoStream.h"
#include "VoSystem/VoSystem.h"

// The one place where the library talks to the file system. Everything else
// handles files as VoFileSpec values whose full name is a path with '/'
// separators; the bridge turns such a spec into the file system's own
// identities and back. Names are passed through as bytes, without conversion,
// and may be as long as the file system allows (usually 255 bytes). Every
// folder path the bridge makes ends with "/".

/// The well-known folders of VoFileSpec::SetPath(VoFolderType) and
/// VoMacFindFolder(). Every folder is created when missing (with its missing
/// parents; user folders with mode 0700, the shared profile folder with 0755,
/// both reduced by the umask), and its path is the resolved absolute path
/// (symbolic links followed) ending in "/".
///
/// Environment variables name a folder only when they hold an absolute path;
/// an unset, empty or relative value counts as unset. The home folder is
/// $HOME, else the password database's entry of the user.
enum VoFolderType : int {
  /// No folder: the spec keeps only its name (an entry of the current folder).
  VoFolderTypeNone = 0,
  /// The shared colour-profile folder when it exists or can be made, else the
  /// user's (VoFolderTypeProfilesUser).
  VoFolderTypeProfiles = 1,
  /// The machine-wide colour-profile folder for locally installed profiles,
  /// /usr/local/share/color/icc/, which colord and the other colour tools scan.
  VoFolderTypeProfilesLocal = 2,
  /// The user's colour-profile folder: $XDG_DATA_HOME/icc/ (default
  /// ~/.local/share/icc/).
  VoFolderTypeProfilesUser = 3,
  /// Preferences: $XDG_CONFIG_HOME/ (default ~/.config/).
  VoFolderTypePreferences = 4,
  /// Documents: $XDG_DOCUMENTS_DIR from the environment, else the
  /// XDG_DOCUMENTS_DIR line of $XDG_CONFIG_HOME/user-dirs.dirs (its "$HOME/..."
  /// or absolute form), else ~/Documents/.
  VoFolderTypeDocuments = 5,
  /// Temporary items: $TMPDIR/, else /tmp/.
  VoFolderTypeTemporary = 6,
  /// The spec is left unchanged.
  VoFolderTypeUnchanged = 7,
  /// Application support: $XDG_DATA_HOME/ (default ~/.local/share/).
  VoFolderTypeAppSupport = 8,
  VoFolderTypeAppSupport2 = 9,  ///< as VoFolderTypeAppSupport
  VoFolderTypeAppSupport3 = 10  ///< as VoFolderTypeAppSupport
};

/// A status: 0 for success, a negative number for a failure
/// (VoMacErrnoToStatus() gives the one for an errno value).
typedef short OSErr;

// The statuses of the bridge. errno values map as VoMacErrnoToStatus() says.
constexpr OSErr kVoStatusNoErr = 0;             ///< success
constexpr OSErr kVoStatusDiskFull = -34;        ///< ENOSPC, EDQUOT
constexpr OSErr kVoStatusIOErr = -36;           ///< EIO and every errno not listed
constexpr OSErr kVoStatusBadName = -37;         ///< an empty name where one is needed
constexpr OSErr kVoStatusTooManyFiles = -42;    ///< EMFILE, ENFILE
constexpr OSErr kVoStatusFileNotFound = -43;    ///< ENOENT, ELOOP, an empty path
constexpr OSErr kVoStatusWriteProtected = -44;  ///< EROFS
constexpr OSErr kVoStatusBusy = -47;            ///< EBUSY, ENOTEMPTY, ETXTBSY
constexpr OSErr kVoStatusDuplicate = -48;       ///< EEXIST
constexpr OSErr kVoStatusParamErr = -50;        ///< EINVAL, EBADF, EFAULT, null arguments
constexpr OSErr kVoStatusMemFull = -108;        ///< ENOMEM
constexpr OSErr kVoStatusDirNotFound = -120;    ///< ENOTDIR (a path part that is no folder)
constexpr OSErr kVoStatusNameTooLong = -1410;   ///< ENAMETOOLONG
constexpr OSErr kVoStatusNoMoreItems = -1417;   ///< end of a folder's entries (walk only)
constexpr OSErr kVoStatusUnsupported = -1424;   ///< ENOTSUP, EOPNOTSUPP, ENOSYS
constexpr OSErr kVoStatusAccessDenied = -5000;  ///< EACCES, EPERM

/// The status for an errno value (0 gives 0).
OSErr VoMacErrnoToStatus(int errnum);

/// A file reference: names one existing file or folder by its absolute path.
/// References made from specs and records (VoFileSpecToFSRef, FSPathMakeFSSpec,
/// FSSpecToVoFileSpec) hold the resolved path, symbolic links followed, which
/// is how aliases are resolved here. References delivered by FSIterateContainer
/// name the entry itself: for a symbolic link, the link. Paths of any length
/// are carried and never cut: the path may exceed PATH_MAX (4096 bytes; deep
/// walks), and a call that must hand such a path to the system whole then
/// fails with kVoStatusNameTooLong.
struct FSRef {
  /// The absolute path of the file or folder.
  VoString path;
};

/// A legacy file record: an existing folder plus a name, which may name a
/// missing entry of that folder. The name has the file system's length limit
/// (not 63 bytes).
struct FSSpec {
  /// Volume number: a negative number the bridge gives each device it meets
  /// (-1, -2, ...); 0 when unknown.
  short vRefNum = 0;
  /// Folder number: the folder's inode number on its volume; 0 when unknown.
  /// VoMacGetPosixPath(vRefNum, parID) gives the folder's path back.
  long parID = 0;
  /// The folder's absolute path, ending in "/".
  VoString folder;
  /// The entry's name inside the folder (no '/'); empty for the root folder.
  VoString name;
};

// Bits of whichInfo: which fields of FSCatalogInfo a call fills (or sets).
constexpr uint32_t kFSCatInfoNone = 0x0000;          ///< no field
constexpr uint32_t kFSCatInfoNodeFlags = 0x0002;     ///< nodeFlags (always filled)
constexpr uint32_t kFSCatInfoParentDirID = 0x0008;   ///< parentPath
constexpr uint32_t kFSCatInfoCreateDate = 0x0020;    ///< createDate
constexpr uint32_t kFSCatInfoContentMod = 0x0040;    ///< contentModDate
constexpr uint32_t kFSCatInfoFinderInfo = 0x0800;    ///< fileType, fileCreator, finderFlags
constexpr uint32_t kFSCatInfoDataSizes = 0x4000;     ///< dataLogicalSize
constexpr uint32_t kFSCatInfoGettableInfo = 0x486A;  ///< every field the bridge fills
/// Bit of FSIterateContainer's whichInfo, for walks that need to know of each
/// entry only whether it is a folder. Alone, or with kFSCatInfoParentDirID
/// only, the walk takes each entry's kind from its folder's listing where the
/// file system records it there (ext4, btrfs, tmpfs, xfs made with ftype=1
/// and most others do), and examines only the first entry of each folder (so
/// that a folder which may be read but not searched reports nothing, as in
/// a walk that examines every entry). nodeFlags then holds
/// kFSNodeIsDirectoryMask alone (never kFSNodeLockedMask), the sizes and
/// dates are zero, and an entry removed after its folder was listed may still
/// be reported. An entry whose kind the listing does not record is examined
/// as usual. An entry the listing calls a folder is reported as one (a file
/// system that lists a link as a folder gets it reported as a folder, still
/// never entered). With any other field asked for (kFSCatInfoNodeFlags too),
/// the bit changes nothing.
constexpr uint32_t kVoCatInfoKindFromListing = 0x10000;

/// nodeFlags bit: the file is locked, meaning nobody may write it: it is set
/// when no write permission bit is. Setting it (FSSetCatalogInfo) clears all
/// three write bits; clearing it on a locked object gives the owner write
/// permission back.
constexpr uint16_t kFSNodeLockedMask = 0x0001;
/// nodeFlags bit: the entry is a folder.
constexpr uint16_t kFSNodeIsDirectoryMask = 0x0010;
/// finderFlags bit of the invisible flag (kept in kVoFinderInfoAttribute).
constexpr uint16_t kIsInvisible = 0x4000;

/// A time on the file system: seconds and nanoseconds since 1970-01-01 00:00:00 UTC.
struct VoMacTime {
  int64_t seconds = 0;       ///< whole seconds (negative before 1970)
  uint32_t nanoseconds = 0;  ///< 0 to 999999999
};

/// Catalog information of one object, as far as whichInfo asked for it.
struct FSCatalogInfo {
  uint16_t nodeFlags = 0;        ///< kFSNodeLockedMask, kFSNodeIsDirectoryMask
  uint32_t fileType = 0;         ///< four-character type code; 0 for folders
  uint32_t fileCreator = 0;      ///< four-character creator code; 0 for folders
  uint16_t finderFlags = 0;      ///< kIsInvisible
  uint64_t dataLogicalSize = 0;  ///< length in bytes (0 for folders)
  VoMacTime createDate;          ///< birth time (statx), else the modification time
  VoMacTime contentModDate;      ///< time the contents last changed
  VoString parentPath;           ///< the parent folder's path, ending in "/"
};

/// The extended attribute ("user." namespace) that holds type code, creator
/// code and finder flags together.
/// Layout, 10 bytes, all big-endian: type code (4), creator code (4), finder
/// flags (2). A missing or shorter attribute reads as all zero; bytes beyond
/// the tenth are ignored. Writing all three as zero removes the attribute.
/// Where the file system keeps no extended attributes, storing them is
/// silently skipped (status 0) and they read as 0. Folders have no type or
/// creator code: both read as 0 (their finder flags are kept).
constexpr const char* kVoFinderInfoAttribute = "user.VoFoundation.FinderInfo";

// ---------------------------------------------------------------- spec operations

/// Places the spec's name in \p folder: VoFolderTypeNone keeps the name alone,
/// VoFolderTypeUnchanged changes nothing, every other value gives the folder's
/// path (VoMacFindFolder) followed by the name. A folder that cannot be found
/// or made is not reported: the spec then holds the bare name. A value outside
/// 0 to 10 throws "VoArgErr" (3).
void VoMacSetPath(VoFileSpec& spec, VoFolderType folder);

/// The path of a well-known folder, ending in "/", creating it when missing;
/// "" for VoFolderTypeNone, VoFolderTypeUnchanged, values outside 0 to 10, and
/// when the folder can be neither found nor made.
VoString VoMacFindFolder(VoFolderType folder);

/// The path of the folder with volume number \p volume and folder number
/// \p folder (as an FSSpec carries them), ending in "/"; "" when the numbers
/// name no folder the bridge has met, or the folder is gone or was moved.
/// The bridge remembers the most recent 1024 folders of the records it made
/// (a plain process-wide table, no lock).
VoString VoMacGetPosixPath(short volume, long folder);

/// The spec's full name unchanged (the native form of a path on Linux).
VoString VoMacGetFullPathName(const VoFileSpec& spec);

/// 0 and a reference to the existing object that the full name names
/// (symbolic links resolved); otherwise the status, e.g. kVoStatusFileNotFound
/// for a missing object, kVoStatusNameTooLong for a path beyond PATH_MAX.
OSErr VoFileSpecToFSRef(FSRef& ref, const VoFileSpec& spec);

/// Fills a legacy record: for an existing object its (resolved) folder and
/// name; else, when the spec's path names an existing folder, that folder and
/// the spec's name (which may be missing); else the current folder and the
/// spec's name. A spec with an empty name that names nothing gives an empty
/// record. Reports no status.
void VoFileSpecToFSSpec(FSSpec& record, const VoFileSpec& spec);

/// Fills the spec from a reference: the object's path (symbolic links
/// resolved, the reference's own path when that fails), type and creator IDs
/// set to 0, then the codes read from \p ref itself (VoMacFSRefToCreatorType).
void FSRefToVoFileSpec(VoFileSpec& spec, const FSRef& ref);

/// Fills the spec from a legacy record: as FSRefToVoFileSpec for an existing
/// object (links resolved); for a missing one the folder's path and the name,
/// IDs 0, then VoMacReadCreatorType (which finds nothing).
void FSSpecToVoFileSpec(VoFileSpec& spec, const FSSpec& record);

/// Reads the object's codes into the spec: a folder has 0 and 0. The spec
/// first derives its type from its extension (SetType(VoFileTypeUnknown)); when
/// that gives a known type only the creator code is stored (SetCreatorID),
/// otherwise the type code (SetTypeID) and then the creator code. Returns 0,
/// or the status of reading the object, leaving the spec unchanged.
OSErr VoMacFSRefToCreatorType(VoFileSpec& spec, const FSRef& ref);

/// VoFileSpecToFSRef, then VoMacFSRefToCreatorType; the first failing status.
OSErr VoMacReadCreatorType(VoFileSpec& spec);

/// The type and creator codes stored with the object \p path names: its own
/// (a link's, not its target's), paths of any length. 0 and 0 for an object
/// without stored codes, on a file system without extended attributes, and
/// when the object cannot be read (it has gone, say). Reads the codes a folder
/// walk left to be read when first asked for (VoFileSpec::ReadStoredCodesLater).
void VoMacReadStoredCodes(const VoString& path, uint32_t& type, uint32_t& creator);

/// Opens the file as a C stream (binary, close-on-exec):
/// - eVoFileRead: the resolved object with "rb"; failure throws code 12 named
///   "FileNotOpen (for reading): " + full name (no source file, line 0).
/// - eVoFileWrite: derives the spec's IDs from its extension, opens the full
///   name with "wb" (created or emptied), stores the codes.
/// - eVoFileReadWrite: derives the IDs, opens with "rb+", and when that fails
///   creates the file empty and opens it with "rb+" again; stores the codes.
///   Both writing modes throw code 12 named "FileNotOpen: (for writing)" + full
///   name when no stream could be opened.
/// - eVoFileNone or any other value: null, nothing opened, nothing thrown.
/// Storing the codes writes the spec's non-zero type and creator IDs to a file
/// (not a folder), keeping its other finder information; failures are ignored.
FILE* VoMacOpenFile(VoFileSpec& spec, eVoFileAccess access);

/// Creates the one folder the spec names inside its existing parent (a spec
/// without a path: inside the current folder), with mode 0777 less the umask.
/// Status: 0, kVoStatusDuplicate when the name exists, the resolving status
/// of a missing parent (nothing is made), kVoStatusBadName for an empty name.
OSErr VoMacCreateDir(const VoFileSpec& spec);

/// rename() of the two full names: 0 on success, -1 on failure.
int VoMacMoveFile(const VoFileSpec& source, const VoFileSpec& target);

/// Resolves the spec and clears (visible) or sets (not visible) its invisible flag.
OSErr VoMacSetVisible(const VoFileSpec& spec, bool visible);

/// Changes the current folder to the folder of the running executable
/// (/proc/self/exe) for every value of \p which: Linux programs have no
/// application bundle, so both choices name the same folder. 0 on success,
/// -1 on failure.
int VoMacSetWorkingDir(int which);

/// The display contrast enhancement kept under the key "contrast" of the
/// preference domain "com.apple.universalaccess": the database text file
/// $XDG_CONFIG_HOME/com.apple.universalaccess.txt (default ~/.config/...).
/// 0.0 when the file, the key or a finite number as its whole value is missing.
double GetMacContrastEnhancement();

/// Writes \p value under that key, keeping the file's other entries; the file
/// is replaced as VoDataBase::WriteToFile replaces one (a link followed and
/// kept, mode, owner and extended attributes kept, temporary file, fsync,
/// rename) and the folder made when missing. False without writing when the
/// stored value already equals \p value or \p value is not finite, and when
/// the file exists but cannot be read or parsed to its end (it is left as it
/// is, byte for byte); false when writing fails; else true.
bool SetMacContrastEnhancement(double value);

// ---------------------------------------------------------------- file-system utilities

/// 0 and a record for the existing object at \p path (links resolved);
/// \p isFolder (may be null) tells whether it is a folder. A null \p path or
/// \p record gives kVoStatusParamErr; a missing object its status.
OSErr FSPathMakeFSSpec(const char* path, FSSpec* record, bool* isFolder);

/// A record of \p name in the folder with the numbers \p volume and \p folder.
/// 0 when the entry exists, kVoStatusFileNotFound when it does not (the record
/// is filled and usable), kVoStatusDirNotFound when the folder is unknown.
/// A null \p record gives kVoStatusParamErr.
OSErr FSMakeFSSpec(short volume, long folder, const VoString& name, FSSpec* record);

/// A reference to the entry the record names (a link names the link itself);
/// the status of a missing entry otherwise. Null \p ref: kVoStatusParamErr.
OSErr FSpMakeFSRef(const FSSpec& record, FSRef* ref);

/// The reference's path; kVoStatusParamErr for a null \p path or an empty reference.
OSErr FSRefMakePath(const FSRef& ref, VoString* path);

/// Fills \p info with the fields \p whichInfo names (node flags always) of the
/// object \p ref names; a link is not followed. Null \p info: kVoStatusParamErr.
OSErr FSGetCatalogInfo(const FSRef& ref, uint32_t whichInfo, FSCatalogInfo* info);

/// Sets the fields \p whichInfo names: kFSCatInfoNodeFlags (the locked flag),
/// kFSCatInfoFinderInfo (codes of a file, finder flags of any object) and
/// kFSCatInfoContentMod (modification time); other bits are ignored. Returns
/// the first failing status; earlier fields stay set.
OSErr FSSetCatalogInfo(const FSRef& ref, uint32_t whichInfo, const FSCatalogInfo& info);

/// Sets (\p set true) or clears the bits \p flags of the finder flags, then
/// bumps the parent folder's date (its result ignored). Status of reading and
/// writing the flags.
OSErr FSChangeFinderFlags(const FSRef& ref, bool set, uint16_t flags);
/// FSChangeFinderFlags(ref, true, kIsInvisible).
OSErr FSSetInvisible(const FSRef& ref);
/// FSChangeFinderFlags(ref, false, kIsInvisible).
OSErr FSClearInvisible(const FSRef& ref);

/// Sets the object's modification time to now (one second later when now
/// equals the old time exactly). The status of reading the object or the
/// clock; a failure to write the time is ignored (0). The new date is the
/// only notice of a change: Linux needs no change notification, as programs
/// that watch folders (inotify) see the changes themselves.
OSErr FSBumpDate(const FSRef& ref);

/// The callback of FSIterateContainer, called once per entry: the
/// container-changed flag (always false here), the entry's level (1 for the
/// container's direct entries), its catalog information, its reference, its
/// record (null unless wanted), its name (null unless wanted) and the caller's
/// data. Returns true to end the whole walk. The pointers are good for the
/// call only.
typedef bool (*VoIterateContainerProc)(bool containerChanged, unsigned long level, const FSCatalogInfo* info,
                                       const FSRef* ref, const FSSpec* record, const VoString* name,
                                       void* data);

/// Walks the folder \p container depth-first: each entry is reported before
/// the contents of a folder entry, entries in the order the file system lists
/// them ("." and ".." left out). Levels 1 to \p maxLevels are reported (0: all).
/// Symbolic links are reported (with the link's own information) and never
/// entered. Entries are examined relative to their folder's descriptor, so
/// trees of any path length can be walked, and the levels are kept on the
/// heap with at most 16 folders open (the deepest levels; fewer when the
/// process runs out of descriptors), so trees of any depth can be walked.
/// A folder whose descriptor was given up is opened again when the walk comes
/// back to it with entries left (as ".." of the folder just left, else by its
/// name from the nearest open level, and checked to be the same folder); one
/// that cannot be found again has vanished, and so have its entries not yet
/// reported.
///
/// Status: kVoStatusParamErr for a null callback; the status of a container
/// that cannot be listed; 0 when the walk ran to its end or the callback
/// ended it. A subfolder that cannot be opened or read for lack of access
/// (kVoStatusAccessDenied) ends the listing of the folder it was met in and
/// the walk goes on one level higher; any other failure ends the walk and is
/// returned. An entry that vanishes between listing and examining is skipped.
///
/// Each folder is listed completely when the walk enters it; each entry is
/// examined (statx, and the finder attribute when asked for) just before the
/// callback is called for it, unless kVoCatInfoKindFromListing spares that.
/// The walk runs on the caller's thread only.
OSErr FSIterateContainer(const FSRef& container, unsigned long maxLevels, uint32_t whichInfo, bool wantRecord,
                         bool wantName, VoIterateContainerProc callback, void* data);

/// The calendar date and time of day in UTC of a file-system time (the
/// fraction of a second dropped), clamped like every VoDate.
VoDate VoMacTimeToDate(const VoMacTime& time);

#endif  // VOFOUNDATION_MAC_VOMACTOOLSOSX_H
