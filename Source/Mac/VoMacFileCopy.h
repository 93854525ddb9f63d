// VoMacFileCopy.h - copying bytes between two open files inside the system.
#ifndef VOFOUNDATION_MAC_VOMACFILECOPY_H
#define VOFOUNDATION_MAC_VOMACFILECOPY_H

#include <cstdio>

/// Copies bytes from the current position of \p source to the current
/// position of \p target without passing them through the process
/// (copy_file_range: the system copies within its page cache, or shares the
/// blocks where the file system can), as far as the system is willing to.
///
/// Holes of \p source (SEEK_DATA / SEEK_HOLE: ranges that read as zeros and
/// occupy no disk blocks) are not written where they fall beyond the end the
/// target had: they stay holes there, and a hole at the end of the copy is
/// made by extending the target (ftruncate). Where the target already has
/// bytes, the zeros are written over them. Between two file systems, where
/// the system will not copy by itself, the data passes through a buffer of
/// 1 MiB (pread, pwrite), holes still kept.
///
/// \p length > 0 asks for at most \p length bytes; \p length <= 0 for every
/// byte up to the end of \p source. Both streams must be regular files,
/// \p source open for reading and \p target for writing but not appending;
/// anything else copies nothing.
///
/// Before copying, \p target is flushed (pending output of the stream goes to
/// the file first). Afterwards both streams stand behind the bytes copied, as
/// a read of them from \p source and a write to \p target would leave them,
/// with their read buffers dropped; each stream is only repositioned when at
/// least one byte was copied.
///
/// Returns the number of bytes copied (0 to \p length), or -1 (errno set)
/// when a stream could not be positioned behind the bytes copied: then
/// neither stream's position is known and the copy must fail. \p *complete becomes
/// true only when all \p length bytes were copied. Anything short of that is
/// for the caller to finish with ordinary reads and writes from the new
/// positions: the end of the source (stdio should see it itself), a system or
/// file system that refuses (other file systems, no support, a file that is
/// not regular, overlapping ranges of one file), or a failure (a read error,
/// a full disk), which the ordinary reads and writes then meet and report in
/// their own way. \p *complete is false when \p length <= 0.
long VoMacCopyFileData(std::FILE* source, std::FILE* target, long length, bool* complete);

#endif  // VOFOUNDATION_MAC_VOMACFILECOPY_H
