// VoMacFileCopy.cpp - copying bytes between two open files with copy_file_range.
#include "Mac/VoMacFileCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

namespace {

/// Bytes asked of one copy_file_range call; the system may copy fewer.
constexpr long kCopyChunk = 1L << 30;

/// True when \p fd is a regular file open for \p mode (O_RDONLY or O_WRONLY;
/// O_RDWR allows both) and, for writing, not in append mode: copy_file_range
/// refuses an appending target.
bool UsableFile(int fd, int mode) {
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const int flags = fcntl(fd, F_GETFL);
  if (flags == -1) return false;
  const int access = flags & O_ACCMODE;
  if (access != O_RDWR && access != mode) return false;
  return mode == O_RDONLY || (flags & O_APPEND) == 0;
}

}  // namespace

long VoMacCopyFileData(std::FILE* source, std::FILE* target, long length, bool* complete) {
  *complete = false;
  if (source == nullptr || target == nullptr) return 0;
  // A stream with its end or an error noted answers reads from that state;
  // leave those to stdio.
  if (std::feof(source) || std::ferror(source) || std::ferror(target)) return 0;
  const int in = fileno(source);
  const int out = fileno(target);
  if (!UsableFile(in, O_RDONLY) || !UsableFile(out, O_WRONLY)) return 0;
  // Seeking by nothing writes out what the target still buffers and is the
  // positioning call stdio wants between its reading and writing.
  if (std::fseek(target, 0, SEEK_CUR) != 0) return 0;
  const off_t sourceStart = ftello(source);
  const off_t targetStart = ftello(target);
  if (sourceStart < 0 || targetStart < 0) return 0;

  loff_t inOffset = sourceStart;
  loff_t outOffset = targetStart;
  long copied = 0;
  for (;;) {
    long ask = kCopyChunk;
    if (length > 0) {
      if (copied == length) {
        *complete = true;
        break;
      }
      if (length - copied < ask) ask = length - copied;
    }
    const ssize_t n = copy_file_range(in, &inOffset, out, &outOffset, static_cast<std::size_t>(ask), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the end, a refusal or a failure: the caller goes on with stdio
    copied += n;
  }

  if (copied > 0) {
    // Seeking drops the source's stale read buffer. It cannot fail here: both
    // are regular files, the offsets were just reached, nothing is buffered
    // for writing.
    fseeko(source, sourceStart + copied, SEEK_SET);
    fseeko(target, targetStart + copied, SEEK_SET);
  }
  return copied;
}
