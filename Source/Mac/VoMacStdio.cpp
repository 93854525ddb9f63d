// VoMacStdio.cpp - C standard I/O for the file layer: read errors told from the end, EINTR retried.
#include "Mac/VoMacStdio.h"

#include "Linux/VoLinuxSys.h"

std::size_t VoMacStreamRead(std::FILE* file, void* buffer, std::size_t size, VoSysStatus& status) {
  status = {};
  // A failed write of a stream open for both leaves its error flag set; what
  // counts here is this read alone.
  if (gVoSys.ferror(file)) gVoSys.clearerr(file);
  std::size_t got = 0;
  while (got < size) {
    const std::size_t n = gVoSys.fread(static_cast<char*>(buffer) + got, 1, size - got, file);
    got += n;
    if (got == size || !gVoSys.ferror(file)) break;  // all, or the end of the file
    if (errno != EINTR) {
      status = VoSysStatus::Failed(errno, "read");
      break;
    }
    gVoSys.clearerr(file);
  }
  return got;
}

std::size_t VoMacStreamWrite(std::FILE* file, const void* buffer, std::size_t size, VoSysStatus& status) {
  // No retry here: after a failed write (EINTR included) the C library has
  // dropped what it could not write, so a second attempt would report success
  // for lost bytes.
  status = {};
  const std::size_t put = gVoSys.fwrite(buffer, 1, size, file);
  if (put < size) status = VoSysStatus::Failed(errno, "write");
  return put;
}

VoSysStatus VoMacStreamClose(std::FILE* file) {
  // The stream is gone whatever fclose returns. Its failure is the final
  // flush's (the last buffered bytes are lost) or the close's: either way
  // the file may not hold what was written.
  if (gVoSys.fclose(file) == 0) return {};
  return VoSysStatus::Failed(errno, "fclose");
}

int VoMacStreamSeek(std::FILE* file, long offset, int whence) { return gVoSys.fseeko(file, offset, whence); }

long VoMacStreamTell(std::FILE* file) {
  return static_cast<long>(VoSysRetry([&] { return gVoSys.ftello(file); }));
}
