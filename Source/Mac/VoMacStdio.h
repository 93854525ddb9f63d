// VoMacStdio.h - the C standard I/O calls of the file layer, through the system-call table.
#ifndef VOFOUNDATION_MAC_VOMACSTDIO_H
#define VOFOUNDATION_MAC_VOMACSTDIO_H

#include <cstddef>
#include <cstdio>

#include "Linux/VoLinuxSysStatus.h"

/// Reads up to \p size bytes; returns the number read. Fewer bytes at the end
/// of the file are no failure; an I/O error is reported in \p status (EINTR
/// is retried, not reported).
std::size_t VoMacStreamRead(std::FILE* file, void* buffer, std::size_t size, VoSysStatus& status);

/// Writes \p size bytes; returns the number the stream took. A failure (also
/// EINTR: the C library drops what it could not write) is reported in \p status.
std::size_t VoMacStreamWrite(std::FILE* file, const void* buffer, std::size_t size, VoSysStatus& status);

/// Closes the stream (always released); the failure of its final flush or
/// close, which may have lost the last buffered bytes, is reported ("fclose").
VoSysStatus VoMacStreamClose(std::FILE* file);

/// fseeko and ftello of 32-bit positions: 0 / the position, or -1.
int VoMacStreamSeek(std::FILE* file, long offset, int whence);
long VoMacStreamTell(std::FILE* file);

#endif  // VOFOUNDATION_MAC_VOMACSTDIO_H
