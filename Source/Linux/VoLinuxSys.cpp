// VoLinuxSys.cpp - the system-call table as the system offers it, and the helpers written once on it.
#include "Linux/VoLinuxSys.h"

#include <dirent.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

#ifndef SYS_getxattrat
#define SYS_getxattrat 464  // the same number on every architecture of the common table
#endif

/// getxattrat(2), which the C library does not wrap yet.
ssize_t GetXattrAt(int dirfd, const char* path, int flags, const char* name, void* value, size_t size) {
  struct {
    uint64_t value;
    uint32_t size;
    uint32_t flags;
  } args = {reinterpret_cast<uintptr_t>(value), static_cast<uint32_t>(size), 0};
  return ::syscall(SYS_getxattrat, dirfd, path, flags, name, &args, sizeof args);
}

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif
#ifndef SYS_pidfd_send_signal
#define SYS_pidfd_send_signal 424
#endif

long Clone3(void* args, size_t size) {
  long pid = ::syscall(SYS_clone3, args, size);
  if (pid < 0 && errno == ENOSYS) {  // no clone3 (or a filter that hides it): the older clone
    const auto* a = static_cast<const VoSysCloneArgs*>(args);
    const unsigned long flags = a->flags | a->exitSignal;
    int* pidFd = reinterpret_cast<int*>(static_cast<uintptr_t>(a->pidfd));
#if defined(__s390__) || defined(__CRIS__)
    pid = ::syscall(SYS_clone, 0, flags, pidFd, nullptr, 0);
#else
    pid = ::syscall(SYS_clone, flags, 0, pidFd, nullptr, 0);
#endif
  }
  return pid;
}

}  // namespace

constexpr VoSysCalls kVoSysDefault = {
    [](const char* p, int f, mode_t m) { return ::open(p, f, m); },
    [](int d, const char* p, int f, mode_t m) { return ::openat(d, p, f, m); },
    ::close,
    ::read,
    ::write,
    ::pread,
    ::pwrite,
    ::lseek,
    ::fsync,
    ::fdatasync,
    ::ftruncate,
    ::fallocate,
    ::copy_file_range,
    [](int fd, int command, int argument) { return ::fcntl(fd, command, argument); },
    ::fchmod,
    ::fchown,
    ::fstatat,
    ::statx,
    ::faccessat,
    ::readlinkat,
    ::realpath,
    ::renameat,
    ::unlinkat,
    ::mkdirat,
    ::chdir,
    ::getcwd,
    ::fchmodat,
    ::utimensat,
    ::getdents64,
    ::fgetxattr,
    GetXattrAt,
    ::fsetxattr,
    ::flistxattr,
    ::fremovexattr,
    ::lgetxattr,
    ::lsetxattr,
    ::llistxattr,
    ::lremovexattr,
    ::pipe2,
    ::poll,
    ::socket,
    ::connect,
    ::posix_spawnp,
    ::waitid,
    ::waitpid,
    ::socketpair,
    ::send,
    ::recv,
    ::getsockopt,
    ::dup2,
    [](unsigned first, unsigned last, int flags) { return ::close_range(first, last, flags); },
    Clone3,
    ::execve,
    ::kill,
    [](pid_t pid, unsigned flags) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, flags)); },
    // glibc 2.36 declares pidfd_send_signal without C linkage
    [](int pidFd, int signal, siginfo_t* info, unsigned flags) {
      return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidFd, signal, info, flags));
    },
    ::sigaction,
    ::pthread_sigmask,
    [](int option, unsigned long argument) { return ::prctl(option, argument); },
    [](int resource, struct rlimit* limit) {
      return ::getrlimit(static_cast<__rlimit_resource_t>(resource), limit);
    },
    ::getpid,
    ::getppid,
    ::getuid,
    ::geteuid,
    ::clock_gettime,
    ::clock_nanosleep,
    ::madvise,
    ::uname,
    ::fopen,
    ::fdopen,
    ::fread,
    ::fwrite,
    ::fflush,
    ::fclose,
    ::ferror,
    ::clearerr,
    ::fseeko,
    ::ftello,
};

constinit VoSysCalls gVoSys = kVoSysDefault;

VoSysFd& VoSysFd::operator=(VoSysFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

void VoSysFd::Reset(int fd) {
  if (mFd >= 0) gVoSys.close(mFd);
  mFd = fd;
}

VoSysStatus VoSysFd::Close() {
  if (mFd < 0) return {};
  const int fd = Release();
  if (gVoSys.close(fd) == 0 || errno == EINTR) return {};
  return VoSysStatus::Failed(errno, "close");
}

VoSysStatus VoSysOpenAt(VoSysFd& out, int dirfd, const char* path, int flags, mode_t mode) {
  const int fd = VoSysRetry([&] { return gVoSys.openat(dirfd, path, flags | O_CLOEXEC, mode); });
  if (fd < 0) return VoSysStatus::Failed(errno, "open");
  out.Reset(fd);
  return {};
}

namespace {

/// Bytes handed to one write call; Linux takes at most about 2 GiB at once.
constexpr size_t kWriteChunk = size_t{1} << 30;

}  // namespace

VoSysStatus VoSysWriteAll(int fd, const void* bytes, size_t size) {
  const char* p = static_cast<const char*>(bytes);
  while (size > 0) {
    const ssize_t n =
        VoSysRetry([&] { return gVoSys.write(fd, p, size < kWriteChunk ? size : kWriteChunk); });
    if (n < 0) return VoSysStatus::Failed(errno, "write");
    if (n == 0) return VoSysStatus::Failed(EIO, "write");
    p += n;
    size -= static_cast<size_t>(n);
  }
  return {};
}

VoSysStatus VoSysPwriteAll(int fd, const void* bytes, size_t size, off_t offset) {
  const char* p = static_cast<const char*>(bytes);
  while (size > 0) {
    const ssize_t n =
        VoSysRetry([&] { return gVoSys.pwrite(fd, p, size < kWriteChunk ? size : kWriteChunk, offset); });
    if (n < 0) return VoSysStatus::Failed(errno, "pwrite");
    if (n == 0) return VoSysStatus::Failed(EIO, "pwrite");
    p += n;
    offset += n;
    size -= static_cast<size_t>(n);
  }
  return {};
}

VoSysStatus VoSysSync(int fd) {
  if (VoSysRetry([&] { return gVoSys.fsync(fd); }) == 0 || errno == EINVAL || errno == EROFS) return {};
  return VoSysStatus::Failed(errno, "fsync");
}

FILE* VoSysOpenStream(const char* path, const char* mode) {
  for (;;) {
    FILE* file = gVoSys.fopen(path, mode);
    if (file != nullptr || errno != EINTR) return file;
  }
}
