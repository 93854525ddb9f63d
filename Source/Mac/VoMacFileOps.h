// VoMacFileOps.h - safe file replacement and appending on the file system.
#ifndef VOFOUNDATION_MAC_VOMACFILEOPS_H
#define VOFOUNDATION_MAC_VOMACFILEOPS_H

#include <cstdio>

#include "Linux/VoLinuxSysStatus.h"
#include "VoIO/VoFileSpec.h"

/// Which step of VoMacReplaceFileContents failed.
enum eVoMacReplaceStage {
  /// Before any byte was written: the target cannot be written or the new file
  /// cannot be made (a missing folder, no permission, a folder as target).
  eVoMacReplaceOpen = 0,
  /// Writing, flushing or putting the new file in place (disk full, file-size
  /// limit, an I/O error).
  eVoMacReplaceWrite = 1
};

/// Replaces the contents of the file \p target names with the \p size bytes
/// of \p bytes, so that the file holds either its old contents or the new
/// ones, whatever happens (a full disk, a file-size limit, a crash):
///
/// 1. A symbolic link (also a chain, also one whose target is missing) is
///    followed: the file it leads to is replaced and the link stays.
/// 2. The bytes go to a new file in the same folder (named ".~<name>.<random>"),
///    which is flushed to the disk (fsync) and then renamed over the target;
///    the folder is flushed afterwards. After a failure the temporary file is
///    removed and the target is unchanged, byte for byte.
/// 3. An existing target's permission bits, owner and group (where the caller
///    may set them) and extended attributes (among them the type and creator
///    codes, and ACLs) are given to the new file. A new file gets the mode
///    0666 less the umask.
/// 4. As opening the spec for writing does, the type and creator IDs are
///    derived from the extension of a copy of \p target and stored, where not
///    0, as the file's codes (its other finder information is kept).
///
/// An existing target that is not a regular file (a device such as
/// /dev/null, a FIFO) cannot be replaced and is written in place; a FIFO
/// without a reader is not waited for (ENXIO). An existing
/// regular file that the caller may not write is not replaced (EACCES), even
/// when its folder would allow it. A file with several hard links gets a new
/// identity: the other names keep the old contents. A writable regular file
/// in a folder where no file may be made (no write permission on the folder)
/// or renamed over it (another user's file in a sticky folder) is written in
/// place. There the room for the new bytes is taken before any old byte is
/// touched (fallocate, or where the file system has none, by writing the
/// part beyond the old end first), so a full disk, a quota or a file-size
/// limit leaves the file as it was. What remains possible there: an I/O
/// error in the middle of the write, or a file system that needs new blocks
/// to overwrite old ones (copy-on-write) running full, leaves it partly
/// written.
///
/// Every descriptor and the temporary file have one owner: whatever fails or
/// throws (also an allocation), no descriptor stays open and no temporary
/// file stays in the folder. Once the rename has put the new file in place
/// nothing allocates; only a failed flush of the folder is still reported
/// then (the new contents are in place but the rename may not survive a
/// crash). Interrupted calls (EINTR) are repeated.
///
/// Returns the status: 0, or the errno value of the failure (EISDIR for a
/// folder as target, ELOOP for a link chain of more than 40 links, EINVAL
/// for null \p bytes with a \p size above 0) and the call that failed.
/// \p failedStage (may be null) receives the step that failed.
VoSysStatus VoMacReplaceFileContents(const VoFileSpec& target, const void* bytes, unsigned long size,
                                     eVoMacReplaceStage* failedStage = nullptr);

/// Appends the \p size bytes of \p bytes to the file \p spec names, opened for
/// this call alone in append mode (O_APPEND; links followed). A missing file
/// is created with the mode 0666 less the umask and then gets the type and
/// creator codes derived from the extension. The bytes are handed to the
/// system in one write call (more only when the system accepts fewer bytes),
/// so appends of several processes to one file are never split or lost.
///
/// Returns the status (0, or the errno value and the failing call). A FIFO
/// without a reader is not waited for (ENXIO). \p written (may be null)
/// receives, once the file is open, \p size when every byte was appended and
/// 0 otherwise; it is not touched when the file cannot be opened. \p size 0 creates a missing file
/// and appends nothing. Null \p bytes with a \p size above 0: EINVAL,
/// nothing opened.
VoSysStatus VoMacAppendToFile(const VoFileSpec& spec, const void* bytes, unsigned long size,
                              unsigned long* written);

#endif  // VOFOUNDATION_MAC_VOMACFILEOPS_H
