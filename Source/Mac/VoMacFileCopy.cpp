// VoMacFileCopy.cpp - copying bytes between two open files with copy_file_range, holes kept.
#include "Mac/VoMacFileCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>

#include "Linux/VoLinuxSys.h"

namespace {

/// Bytes asked of one copy_file_range call; the system may copy fewer.
constexpr long kCopyChunk = 1L << 30;

/// True when \p fd is a regular file open for \p mode (O_RDONLY or O_WRONLY;
/// O_RDWR allows both) and, for writing, not in append mode: copy_file_range
/// refuses an appending target.
bool UsableFile(int fd, int mode) {
  struct stat st;
  if (fd < 0 || VoSysRetry([&] { return gVoSys.fstatat(fd, "", &st, AT_EMPTY_PATH); }) != 0 ||
      !S_ISREG(st.st_mode))
    return false;
  const int flags = VoSysRetry([&] { return gVoSys.fcntl(fd, F_GETFL, 0); });
  if (flags == -1) return false;
  const int access = flags & O_ACCMODE;
  if (access != O_RDWR && access != mode) return false;
  return mode == O_RDONLY || (flags & O_APPEND) == 0;
}

/// The buffer of CopyThrough.
constexpr std::size_t kThroughBlock = std::size_t{1} << 20;

/// As copy_file_range, with pread and pwrite through \p buffer (kThroughBlock
/// bytes): one block at most.
ssize_t CopyThrough(int in, loff_t* inOffset, int out, loff_t* outOffset, std::size_t size, char* buffer) {
  const ssize_t got = VoSysRetry(
      [&] { return gVoSys.pread(in, buffer, size < kThroughBlock ? size : kThroughBlock, *inOffset); });
  if (got <= 0) return got;
  if (!VoSysPwriteAll(out, buffer, static_cast<std::size_t>(got), *outOffset).Ok()) return -1;
  *inOffset += got;
  *outOffset += got;
  return got;
}

/// The first offset from \p offset on where \p fd holds data; the size of
/// the file when only a hole follows; \p offset itself where the system
/// cannot tell (everything counts as data then).
off_t NextData(int fd, off_t offset) {
  const off_t data = VoSysRetry([&] { return gVoSys.lseek(fd, offset, SEEK_DATA); });
  if (data >= 0) return data;
  struct stat st;
  if (errno == ENXIO && VoSysRetry([&] { return gVoSys.fstatat(fd, "", &st, AT_EMPTY_PATH); }) == 0 &&
      st.st_size > offset)
    return st.st_size;
  return offset;
}

}  // namespace

long VoMacCopyFileData(std::FILE* source, std::FILE* target, long length, bool* complete) {
  *complete = false;
  if (source == nullptr || target == nullptr) return 0;
  // A stream with its end or an error noted answers reads from that state;
  // leave those to stdio.
  if (std::feof(source) || gVoSys.ferror(source) || gVoSys.ferror(target)) return 0;
  const int in = fileno(source);
  const int out = fileno(target);
  if (!UsableFile(in, O_RDONLY) || !UsableFile(out, O_WRONLY)) return 0;
  // Seeking by nothing writes out what the target still buffers and is the
  // positioning call stdio wants between its reading and writing.
  if (gVoSys.fseeko(target, 0, SEEK_CUR) != 0) return 0;
  const off_t sourceStart = VoSysRetry([&] { return gVoSys.ftello(source); });
  const off_t targetStart = VoSysRetry([&] { return gVoSys.ftello(target); });
  if (sourceStart < 0 || targetStart < 0) return 0;

  // Holes of the source (runs that read as zeros and occupy no blocks) stay
  // holes where the target gets new bytes: they are skipped and the target is
  // extended at the end. Over bytes the target already has, they are copied.
  struct stat targetInfo;
  if (VoSysRetry([&] { return gVoSys.fstatat(out, "", &targetInfo, AT_EMPTY_PATH); }) != 0) return 0;
  const off_t targetSize = targetInfo.st_size;
  // Looking for data moves the descriptor: put back when nothing is copied.
  const off_t inPosition = VoSysRetry([&] { return gVoSys.lseek(in, 0, SEEK_CUR); });

  loff_t inOffset = sourceStart;
  loff_t outOffset = targetStart;
  long copied = 0;
  long written = 0;                 // copied up to the end of the last bytes written
  std::unique_ptr<char[]> through;  // once the system will not copy by itself
  for (;;) {
    const long left = length > 0 ? length - copied : kCopyChunk;
    if (left == 0) {
      *complete = true;
      break;
    }
    const off_t data = NextData(in, inOffset);
    long ask;
    if (data > inOffset && outOffset >= targetSize) {
      const long hole = data - inOffset < left ? static_cast<long>(data - inOffset) : left;
      inOffset += hole;
      outOffset += hole;
      copied += hole;
      continue;
    }
    if (data > inOffset) {
      ask = static_cast<long>(std::min<off_t>(data - inOffset, targetSize - outOffset));
    } else {
      const off_t hole = VoSysRetry([&] { return gVoSys.lseek(in, inOffset, SEEK_HOLE); });
      ask = hole > inOffset ? static_cast<long>(std::min<off_t>(hole - inOffset, kCopyChunk)) : kCopyChunk;
    }
    if (ask > left) ask = left;
    ssize_t n = -1;
    if (!through) {
      n = VoSysRetry([&] {
        return gVoSys.copy_file_range(in, &inOffset, out, &outOffset, static_cast<std::size_t>(ask), 0);
      });
      // Between two file systems the bytes pass through here, holes still kept.
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP)) {
        through.reset(new (std::nothrow) char[kThroughBlock]);
        if (through) continue;
      }
    } else {
      n = CopyThrough(in, &inOffset, out, &outOffset, static_cast<std::size_t>(ask), through.get());
    }
    if (n <= 0) break;  // the end, a refusal or a failure: the caller goes on with stdio
    copied += n;
    written = copied;
  }
  // A hole at the end makes the target longer without a write.
  if (copied > written && VoSysRetry([&] {
                            return gVoSys.ftruncate(out, std::max<off_t>(targetSize, targetStart + copied));
                          }) != 0) {
    copied = written;
    *complete = false;
  }
  if (copied == 0 && inPosition >= 0) VoSysRetry([&] { return gVoSys.lseek(in, inPosition, SEEK_SET); });

  if (copied > 0) {
    // Seeking drops the source's stale read buffer. Both are regular files
    // and the offsets were just reached; should a seek fail all the same, the
    // streams stand nowhere known and the copy cannot go on.
    if (gVoSys.fseeko(source, sourceStart + copied, SEEK_SET) != 0 ||
        gVoSys.fseeko(target, targetStart + copied, SEEK_SET) != 0) {
      *complete = false;
      return -1;
    }
  }
  return copied;
}
