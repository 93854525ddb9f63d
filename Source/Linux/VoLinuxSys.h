// VoLinuxSys.h - the one table of system calls under the platform layer, and the robust helpers on it.
//
// Every system call of Source/Mac and Source/Linux, and every C standard I/O
// call the file layer makes, goes through gVoSys: production pays one
// indirect call, and a test replaces one entry at a time (an entry may call
// the saved original) to fail exactly the call it wants. Not installed, not
// part of the public headers.
//
// Adopting it in a file of the platform layer:
//   - include "Linux/VoLinuxSys.h" and write gVoSys.read(fd, buf, n) for read(fd, buf, n);
//     an entry missing from the table is added here and in VoLinuxSys.cpp;
//   - use the helpers below instead of hand-written loops: VoSysRetry for
//     EINTR, VoSysWriteAll for short writes, VoSysFd (one owner per
//     descriptor) and its Close for a close whose result counts, VoSysOpenAt;
//   - report a failure as a VoSysStatus (errno and the failing call) up to
//     where the VoError or bridge status is made (VoMacErrnoToStatus, or
//     VoError::ThrowSysError(status.error, status.call)).
#ifndef VOFOUNDATION_LINUX_VOLINUXSYS_H
#define VOFOUNDATION_LINUX_VOLINUXSYS_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/utsname.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "Linux/VoLinuxSysStatus.h"

/// The system calls of the platform layer. Fixed signatures (open, openat
/// and fcntl take their optional argument always).
struct VoSysCalls {
  // descriptors
  int (*open)(const char* path, int flags, mode_t mode);
  int (*openat)(int dirfd, const char* path, int flags, mode_t mode);
  int (*close)(int fd);
  ssize_t (*read)(int fd, void* buf, size_t size);
  ssize_t (*write)(int fd, const void* buf, size_t size);
  ssize_t (*pread)(int fd, void* buf, size_t size, off_t offset);
  ssize_t (*pwrite)(int fd, const void* buf, size_t size, off_t offset);
  off_t (*lseek)(int fd, off_t offset, int whence);
  int (*fsync)(int fd);
  int (*fdatasync)(int fd);
  int (*ftruncate)(int fd, off_t length);
  int (*fallocate)(int fd, int mode, off_t offset, off_t length);
  ssize_t (*copy_file_range)(int in, loff_t* inOffset, int out, loff_t* outOffset, size_t size,
                             unsigned flags);
  int (*fcntl)(int fd, int command, int argument);
  int (*fchmod)(int fd, mode_t mode);
  int (*fchown)(int fd, uid_t owner, gid_t group);
  // names
  int (*fstatat)(int dirfd, const char* path, struct stat* out, int flags);
  int (*statx)(int dirfd, const char* path, int flags, unsigned mask, struct statx* out);
  int (*faccessat)(int dirfd, const char* path, int mode, int flags);
  ssize_t (*readlinkat)(int dirfd, const char* path, char* buf, size_t size);
  char* (*realpath)(const char* path, char* resolved);
  int (*renameat)(int fromDir, const char* from, int toDir, const char* to);
  int (*unlinkat)(int dirfd, const char* path, int flags);
  int (*mkdirat)(int dirfd, const char* path, mode_t mode);
  int (*chdir)(const char* path);
  char* (*getcwd)(char* buf, size_t size);
  int (*fchmodat)(int dirfd, const char* path, mode_t mode, int flags);
  int (*utimensat)(int dirfd, const char* path, const struct timespec times[2], int flags);
  ssize_t (*getdents64)(int fd, void* buf, size_t size);
  // extended attributes
  ssize_t (*fgetxattr)(int fd, const char* name, void* value, size_t size);
  /// getxattrat(2) of Linux 6.13 (ENOSYS before): \p name of the entry
  /// \p path relative to \p dirfd, \p flags AT_SYMLINK_NOFOLLOW and the like.
  ssize_t (*getxattrat)(int dirfd, const char* path, int flags, const char* name, void* value, size_t size);
  int (*fsetxattr)(int fd, const char* name, const void* value, size_t size, int flags);
  ssize_t (*flistxattr)(int fd, char* list, size_t size);
  int (*fremovexattr)(int fd, const char* name);
  ssize_t (*lgetxattr)(const char* path, const char* name, void* value, size_t size);
  int (*lsetxattr)(const char* path, const char* name, const void* value, size_t size, int flags);
  ssize_t (*llistxattr)(const char* path, char* list, size_t size);
  int (*lremovexattr)(const char* path, const char* name);
  // processes, pipes and sockets (for the helper runs and the bus)
  int (*pipe2)(int fds[2], int flags);
  int (*poll)(struct pollfd* fds, nfds_t count, int timeout);
  int (*socket)(int domain, int type, int protocol);
  int (*connect)(int fd, const struct sockaddr* address, socklen_t length);
  int (*posix_spawnp)(pid_t* pid, const char* file, const posix_spawn_file_actions_t* actions,
                      const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]);
  int (*waitid)(idtype_t type, id_t id, siginfo_t* info, int options);
  pid_t (*waitpid)(pid_t pid, int* status, int options);
  int (*socketpair)(int domain, int type, int protocol, int fds[2]);
  ssize_t (*send)(int fd, const void* buf, size_t size, int flags);
  ssize_t (*recv)(int fd, void* buf, size_t size, int flags);
  int (*getsockopt)(int fd, int level, int name, void* value, socklen_t* length);
  int (*dup2)(int from, int to);
  int (*close_range)(unsigned first, unsigned last, int flags);
  /// clone3(2) with \p args (a struct clone_args, \p size bytes); where the
  /// kernel has no clone3 (ENOSYS) the older clone with the same flags, exit
  /// signal and process descriptor. As fork: 0 in the child.
  long (*clone3)(void* args, size_t size);
  int (*execve)(const char* path, char* const argv[], char* const envp[]);
  int (*kill)(pid_t pid, int signal);
  int (*pidfd_open)(pid_t pid, unsigned flags);
  int (*pidfd_send_signal)(int pidFd, int signal, siginfo_t* info, unsigned flags);
  int (*sigaction)(int signal, const struct sigaction* action, struct sigaction* old);
  /// The calling thread's signal mask (pthread_sigmask: an error number, not -1).
  int (*pthread_sigmask)(int how, const sigset_t* set, sigset_t* old);
  int (*prctl)(int option, unsigned long argument);
  int (*getrlimit)(int resource, struct rlimit* limit);
  pid_t (*getpid)();
  pid_t (*getppid)();
  uid_t (*getuid)();
  uid_t (*geteuid)();
  // clocks, memory and the kernel
  int (*clock_gettime)(clockid_t clock, struct timespec* now);
  int (*clock_nanosleep)(clockid_t clock, int flags, const struct timespec* until, struct timespec* left);
  int (*madvise)(void* address, size_t length, int advice);
  int (*uname)(struct utsname* names);
  // C standard I/O of the file layer
  FILE* (*fopen)(const char* path, const char* mode);
  FILE* (*fdopen)(int fd, const char* mode);
  size_t (*fread)(void* buf, size_t size, size_t count, FILE* file);
  size_t (*fwrite)(const void* buf, size_t size, size_t count, FILE* file);
  int (*fflush)(FILE* file);
  int (*fclose)(FILE* file);
  int (*ferror)(FILE* file);
  void (*clearerr)(FILE* file);
  int (*fseeko)(FILE* file, off_t offset, int whence);
  off_t (*ftello)(FILE* file);
};

/// The arguments of clone3 (linux/sched.h, its first version).
struct VoSysCloneArgs {
  uint64_t flags, pidfd, childTid, parentTid, exitSignal, stack, stackSize, tls;
};

/// The table in use; tests replace entries and put them back.
extern VoSysCalls gVoSys;

/// The table as the system offers it (what gVoSys starts as).
extern const VoSysCalls kVoSysDefault;

/// Calls \p call until it does not fail with EINTR (a signal handler
/// installed without SA_RESTART); for calls that return -1 and set errno.
template <class Call>
auto VoSysRetry(Call call) -> decltype(call()) {
  for (;;) {
    const auto result = call();
    if (result != -1 || errno != EINTR) return result;
  }
}

/// One owner of a descriptor: closed by the destructor (result ignored: the
/// paths that care call Close first).
class VoSysFd {
 public:
  VoSysFd() = default;
  explicit VoSysFd(int fd) : mFd(fd) {}
  ~VoSysFd() { Reset(); }
  VoSysFd(const VoSysFd&) = delete;
  VoSysFd& operator=(const VoSysFd&) = delete;
  VoSysFd(VoSysFd&& other) noexcept : mFd(other.Release()) {}
  VoSysFd& operator=(VoSysFd&& other) noexcept;

  int Get() const { return mFd; }
  bool Valid() const { return mFd >= 0; }
  /// Hands the descriptor over; the object owns none afterwards.
  int Release() {
    const int fd = mFd;
    mFd = -1;
    return fd;
  }
  /// Closes, ignoring the result.
  void Reset(int fd = -1);
  /// Closes with the result checked: EINTR counts as closed (Linux releases
  /// the descriptor before it can be interrupted).
  VoSysStatus Close();

 private:
  int mFd = -1;
};

/// openat with O_CLOEXEC added and EINTR retried; \p out owns the result.
VoSysStatus VoSysOpenAt(VoSysFd& out, int dirfd, const char* path, int flags, mode_t mode = 0);

/// Writes all \p size bytes (short writes continued, EINTR retried); a
/// write that takes nothing is EIO.
VoSysStatus VoSysWriteAll(int fd, const void* bytes, size_t size);

/// pwrite of all \p size bytes at \p offset, as VoSysWriteAll.
VoSysStatus VoSysPwriteAll(int fd, const void* bytes, size_t size, off_t offset);

/// fsync, EINTR retried; a descriptor that cannot be synchronised (EINVAL:
/// a pipe or special file; EROFS) is no failure.
VoSysStatus VoSysSync(int fd);

/// fopen with EINTR retried.
FILE* VoSysOpenStream(const char* path, const char* mode);

#endif  // VOFOUNDATION_LINUX_VOLINUXSYS_H
