// VoFilePrivate.h - what the library's stream code knows of VoFile beyond its interface.
#ifndef VOFOUNDATION_VOIO_VOFILEPRIVATE_H
#define VOFOUNDATION_VOIO_VOFILEPRIVATE_H

#include "VoIO/VoStream.h"

/// The first step of VoCopyStream when both streams might be files: when
/// \p source and \p target are two plain VoFile objects (not of a derived
/// class, which may read or write in its own way) with handles open for
/// reading and for writing, copies up to \p length bytes (\p length <= 0: to
/// the end) inside the system (VoMacCopyFileData) and leaves both files
/// positioned behind them, as their Read and Write would.
///
/// Returns the number of bytes copied; \p *complete tells whether that was all
/// of \p length. Whatever is left (also everything, for other streams) is for
/// the caller to copy with Read and Write from the new positions.
long VoFileCopyDirect(VoStream& source, VoStream& target, long length, bool* complete);

#endif  // VOFOUNDATION_VOIO_VOFILEPRIVATE_H
