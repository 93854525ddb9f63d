// VoLinuxProcess.cpp - starting helper programs with process descriptors or a double fork, never through a
// shell.
#include "Linux/VoLinuxProcessPrivate.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "Linux/VoLinuxSys.h"
#include "VoCore/VoDebug.h"

extern char** environ;

namespace {

constexpr int kResetSignals[] = {SIGPIPE, SIGCHLD, SIGINT, SIGQUIT, SIGTERM, SIGHUP};
constexpr idtype_t kByPidFd = static_cast<idtype_t>(3);  // P_PIDFD (Linux 5.4)

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return VoSysRetry([&] { return gVoSys.fstatat(AT_FDCWD, path.c_str(), &st, 0); }) == 0 &&
         S_ISREG(st.st_mode) &&
         VoSysRetry([&] { return gVoSys.faccessat(AT_FDCWD, path.c_str(), X_OK, 0); }) == 0;
}

/// The argument vector as C strings (pointing into \p argv), ended by null.
std::vector<char*> CArgs(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  return args;
}

int64_t NowMilliseconds() {
  struct timespec now {};
  gVoSys.clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void CloseFd(int& fd) {
  if (fd >= 0) gVoSys.close(fd);
  fd = -1;
}

// ---------------------------------------------------------------- children

/// fork() as a system call: 0 in the child, its process id in the parent, -1
/// on failure. With \p pidFd the child comes with a process descriptor
/// (close-on-exec) and ends without a signal to the parent: a host that
/// ignores SIGCHLD, or whose handler reaps every child with waitpid, neither
/// reaps it nor even sees it, so its exit status is always ours to collect
/// (waitid with __WALL). No atfork handler runs: the child calls only
/// async-signal-safe functions until it execs or _exits.
pid_t ForkChild(int* pidFd) {
  int fd = -1;
  VoSysCloneArgs args{};
  args.flags = pidFd ? CLONE_PIDFD : 0;
  args.pidfd = reinterpret_cast<uintptr_t>(&fd);
  args.exitSignal = pidFd ? 0 : SIGCHLD;
  const long pid = VoSysRetry([&] { return gVoSys.clone3(&args, sizeof args); });
  if (pid > 0 && pidFd) {
    if (fd < 0) {  // a kernel before 5.2 ignores CLONE_PIDFD: no child of that kind
      gVoSys.kill(static_cast<pid_t>(pid), SIGKILL);
      VoSysRetry([&] { return gVoSys.waitpid(static_cast<pid_t>(pid), nullptr, __WALL); });
      errno = ENOSYS;
      return -1;
    }
    *pidFd = fd;
  }
  return static_cast<pid_t>(pid);
}

/// Every signal blocked for the life of the object: no handler of the host
/// runs in a child between its fork and its exec. No child may be started
/// unless Ok().
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t all;
    sigfillset(&all);
    ok_ = gVoSys.pthread_sigmask(SIG_SETMASK, &all, &old_) == 0;
  }
  SignalsBlocked(const SignalsBlocked&) = delete;
  SignalsBlocked& operator=(const SignalsBlocked&) = delete;
  ~SignalsBlocked() {
    if (ok_) gVoSys.pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  bool Ok() const { return ok_; }

 private:
  sigset_t old_;
  bool ok_;
};

/// In a child before its exec: every handled signal and those of
/// kResetSignals back to the default, then nothing blocked.
void ResetSignalsInChild() {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  for (int s = 1; s < NSIG; ++s) {
    struct sigaction now {};
    if (gVoSys.sigaction(s, nullptr, &now) == 0 && now.sa_handler != SIG_DFL && now.sa_handler != SIG_IGN)
      gVoSys.sigaction(s, &dfl, nullptr);
  }
  for (int s : kResetSignals) gVoSys.sigaction(s, &dfl, nullptr);
  sigset_t none;
  sigemptyset(&none);
  gVoSys.pthread_sigmask(SIG_SETMASK, &none, nullptr);
}

/// The highest number a descriptor of this process may have, plus one: what
/// CloseRange closes one by one where the kernel has no close_range. Read
/// before a fork (getrlimit is not async-signal-safe).
unsigned DescriptorLimit() {
  constexpr unsigned kMost = 1u << 20;  // the kernel's default nr_open
  struct rlimit limit {};
  if (gVoSys.getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kMost;
  return static_cast<unsigned>(std::min<rlim_t>(limit.rlim_cur, kMost));
}

/// Closes the descriptors from \p first to \p last: close_range, or where
/// it fails (before Linux 5.9: ENOSYS) close on each below \p limit.
/// Async-signal-safe.
void CloseRange(unsigned first, unsigned last, unsigned limit) {
  if (first > last || gVoSys.close_range(first, last, 0) == 0) return;
  for (unsigned fd = first; fd <= last && fd < limit; ++fd) gVoSys.close(static_cast<int>(fd));
}

/// In a child before its exec: ends it with 127 after writing errno to
/// \p report ("not started"). Async-signal-safe.
[[noreturn]] void FailInChild(int report) {
  const int err = errno;
  (void)VoSysWriteAll(report, &err, sizeof err);
  _exit(127);
}

/// In a child: \p fds become its standard input, output and error (-1:
/// /dev/null, -2: left as it is), every other descriptor is closed but the
/// close-on-exec \p report, then \p path is executed. A failed exec, or a
/// descriptor that cannot be set up, writes its errno to \p report and ends
/// the child with 127. \p limit: DescriptorLimit(). Async-signal-safe.
[[noreturn]] void ExecInChild(const char* path, char* const* args, char* const* env, const int (&fds)[3],
                              int report, unsigned limit) {
  ResetSignalsInChild();
  // Above 2 first, whatever the descriptors are now (the caller may have
  // closed its standard ones), so that no move overwrites another.
  const int moved = gVoSys.fcntl(report, F_DUPFD_CLOEXEC, 3);
  if (moved < 0) FailInChild(report);
  report = moved;
  int from[3] = {-2, -2, -2};
  for (int i = 0; i < 3; ++i) {
    if (fds[i] >= 0) {
      from[i] = gVoSys.fcntl(fds[i], F_DUPFD_CLOEXEC, 3);
    } else if (fds[i] == -1) {
      const int null = VoSysRetry([&] { return gVoSys.open("/dev/null", i == 0 ? O_RDONLY : O_WRONLY, 0); });
      if (null < 0) FailInChild(report);
      from[i] = gVoSys.fcntl(null, F_DUPFD_CLOEXEC, 3);
      gVoSys.close(null);
    }
    if (fds[i] != -2 && from[i] < 0) FailInChild(report);
  }
  for (int i = 0; i < 3; ++i)
    if (from[i] >= 0 && VoSysRetry([&] { return gVoSys.dup2(from[i], i); }) < 0) FailInChild(report);
  CloseRange(3, static_cast<unsigned>(report) - 1, limit);
  CloseRange(static_cast<unsigned>(report) + 1, ~0u, limit);
  gVoSys.execve(path, args, env);
  FailInChild(report);
}

/// In a child of ForkChild that is waited for: starts the program as its own
/// child and ends as the program ends - with its exit code, or killed when
/// the program did not exit normally. This child never execs, so it keeps
/// ending without a signal to the caller (an exec would make its exit signal
/// SIGCHLD again and let a host that ignores SIGCHLD reap it). It holds none
/// of the caller's descriptors while it waits (\p held, the run's, closed
/// one by one whatever the kernel offers: one left open would keep the
/// program's input or the report open); killed, it takes the program with it
/// (the program's parent-death signal is SIGKILL).
[[noreturn]] void KeepInChild(const char* path, char* const* args, char* const* env, const int (&fds)[3],
                              int report, unsigned limit, const int (&held)[6]) {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  gVoSys.sigaction(SIGCHLD, &dfl, nullptr);  // not ignored here: the program's status is kept for waitpid
  const pid_t keeper = gVoSys.getpid();
  const pid_t program = ForkChild(nullptr);
  if (program == 0) {
    gVoSys.prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (gVoSys.getppid() != keeper) _exit(127);
    ExecInChild(path, args, env, fds, report, limit);
  }
  if (program < 0) FailInChild(report);
  for (int fd : held)
    if (fd >= 0) gVoSys.close(fd);
  CloseRange(0, ~0u, limit);  // the rest, the caller's standard ones among them
  int status = 0;
  if (VoSysRetry([&] { return gVoSys.waitpid(program, &status, 0); }) == program && WIFEXITED(status))
    _exit(WEXITSTATUS(status));
  gVoSys.kill(keeper, SIGKILL);
  _exit(127);
}

/// Whether somebody else may reap a child of this process, taking its exit
/// status: SIGCHLD ignored or with SA_NOCLDWAIT, or a handler (which may
/// reap every child).
bool HostMayReapChildren() {
  struct sigaction now {};
  return gVoSys.sigaction(SIGCHLD, nullptr, &now) != 0 || now.sa_handler != SIG_DFL ||
         (now.sa_flags & SA_NOCLDWAIT);
}

/// Where nobody else reaps children, the cheaper start: posix_spawn (which
/// blocks every signal across its vfork-like clone and resets the handlers in
/// the child), then a process descriptor for the child, which stays ours
/// until it is reaped. \p fds as for ExecInChild, none of them 0 or 1. The
/// descriptor, -1 when the program could not be started, or -2 when it was
/// started but reaped by somebody else (its exit status unknown).
int SpawnWithPidFd(const char* path, char* const* args, const int (&fds)[3]) {
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  int failed = 0;
  for (int i = 0; i < 3 && !failed; ++i)
    failed = fds[i] >= 0
                 ? posix_spawn_file_actions_adddup2(&actions, fds[i], i)
                 : posix_spawn_file_actions_addopen(&actions, i, "/dev/null", i ? O_WRONLY : O_RDONLY, 0);
  if (!failed) failed = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attr;
  if (!failed) failed = posix_spawnattr_init(&attr);
  if (failed) {
    posix_spawn_file_actions_destroy(&actions);
    return -1;
  }
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int s : kResetSignals) sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  // \p path holds a "/": posix_spawnp searches nothing.
  int rc;
  do rc = gVoSys.posix_spawnp(&pid, path, &actions, &attr, args, environ);
  while (rc == EINTR);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return -1;
  // A process descriptor comes close-on-exec.
  const int fd = VoSysRetry([&] { return gVoSys.pidfd_open(pid, 0); });
  // ESRCH: it has ended and somebody else reaped it; its process id may name
  // another process by now, so nothing is sent to it.
  if (fd < 0 && errno == ESRCH) return -2;
  if (fd < 0) {  // no process descriptors (before Linux 5.3): not run
    gVoSys.kill(pid, SIGKILL);
    VoSysRetry([&] { return gVoSys.waitpid(pid, nullptr, 0); });
    return -1;
  }
  return fd;
}

/// The errno a child's failed exec wrote to \p fd (or the errno of a failed
/// poll or read of it), 0 when the exec happened (end of file) or nothing
/// came before \p deadline (a program that another
/// thread's fork keeps from its exec must not hold the caller).
int ExecError(int fd, int64_t deadline) {
  int err = 0;
  std::size_t got = 0;
  for (;;) {
    struct pollfd p = {fd, POLLIN, 0};
    const int64_t left = deadline - NowMilliseconds();
    if (left <= 0) break;
    // Interrupted: polled again with the time left.
    const int ready = gVoSys.poll(&p, 1, static_cast<int>(std::min<int64_t>(left, INT32_MAX)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return errno;
    if (ready == 0) break;
    const ssize_t n =
        VoSysRetry([&] { return gVoSys.read(fd, reinterpret_cast<char*>(&err) + got, sizeof err - got); });
    if (n < 0) return errno;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
    if (got == sizeof err) return err;
  }
  return 0;
}

/// What waiting for a child found.
enum class Waited { Running, Ended, Failed };

/// Waits for the child of \p pidFd (without blocking unless \p block).
/// Ended: it has ended and is reaped, \p status its exit code or -1 when it
/// was killed. Failed: its status cannot be learned (waitid failed; ECHILD:
/// reaped by somebody else with __WALL); \p status is -1.
Waited Reap(int pidFd, bool block, int& status) {
  siginfo_t info{};
  status = -1;
  if (VoSysRetry([&] {
        return gVoSys.waitid(kByPidFd, static_cast<id_t>(pidFd), &info,
                             WEXITED | __WALL | (block ? 0 : WNOHANG));
      }) != 0)
    return Waited::Failed;
  if (info.si_pid == 0) return Waited::Running;
  if (info.si_code == CLD_EXITED) status = info.si_status;
  return Waited::Ended;
}

/// Kills the child of \p pidFd through its descriptor (never its process
/// id, which may name another process once the child is reaped) and reaps it.
void KillAndReap(int pidFd) {
  gVoSys.pidfd_send_signal(pidFd, SIGKILL, nullptr, 0);
  int status = 0;
  Reap(pidFd, true, status);
}

/// How many more bytes \p output may take under \p limit (none when a caller
/// handed in more than the limit already).
std::size_t RoomLeft(const std::string& output, std::size_t limit) {
  return output.size() < limit ? limit - output.size() : 0;
}

/// What reading the program's output found.
enum class Drained { All, TooMuch, Failed };

/// Reads what \p fd holds now into \p output (up to \p limit bytes in all).
Drained DrainNow(int fd, std::string& output, std::vector<char>& buffer, std::size_t limit) {
  for (;;) {
    const ssize_t got = VoSysRetry([&] { return gVoSys.read(fd, buffer.data(), buffer.size()); });
    if (got == 0 || (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))) return Drained::All;
    if (got < 0) return Drained::Failed;
    if (static_cast<std::size_t>(got) > RoomLeft(output, limit)) return Drained::TooMuch;
    output.append(buffer.data(), static_cast<std::size_t>(got));
  }
}

/// The descriptors and the program of one run. However the run is left (an
/// allocation that throws included), they are closed and the program, unless
/// it was seen to end, is killed and reaped.
struct RunState {
  int in[2] = {-1, -1};      ///< its standard input: in[0] is written here
  int out[2] = {-1, -1};     ///< its standard output: out[0] is read here
  int report[2] = {-1, -1};  ///< the exec's errno, when it fails
  int pidFd = -1;
  bool running = false;  ///< started and not yet reaped
  RunState() = default;
  RunState(const RunState&) = delete;
  RunState& operator=(const RunState&) = delete;
  ~RunState() {
    if (running) KillAndReap(pidFd);
    for (int* fd : {&in[0], &in[1], &out[0], &out[1], &report[0], &report[1], &pidFd}) CloseFd(*fd);
  }
};

}  // namespace

std::string VoLinuxFindProgram(const std::string& name) {
  if (name.empty()) return std::string();
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
  const char* env = std::getenv("PATH");
  const std::string path = env ? env : "/usr/local/bin:/usr/bin:/bin";
  std::string::size_type start = 0;
  for (;;) {
    const std::string::size_type end = path.find(':', start);
    const std::string::size_type length = (end == std::string::npos ? path.size() : end) - start;
    std::string candidate;
    if (length == 0)
      candidate.push_back('.');  // an empty entry is the current folder
    else
      candidate.append(path, start, length);
    candidate.push_back('/');
    candidate.append(name);
    if (IsExecutableFile(candidate)) {
      if (candidate[0] != '/') {
        char* cwd = gVoSys.getcwd(nullptr, 0);
        if (cwd) {
          std::string absolute(cwd);
          absolute.append(1, '/').append(candidate);
          candidate.swap(absolute);
          std::free(cwd);
        }
      }
      return candidate;
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return std::string();
}

VoLinuxRunResult VoLinuxRun(const std::vector<std::string>& argv, const std::string* input,
                            std::string* output, int idleMilliseconds, const VoLinuxRunLimits& limits) {
  VoLinuxRunResult result;
  if (argv.empty()) return result;
  const std::string program = VoLinuxFindProgram(argv[0]);
  if (program.empty()) return result;
  // What can be allocated up front is, before any descriptor exists; the
  // output may still grow later (and throw), which the run state survives.
  std::vector<char*> args = CArgs(argv);
  std::vector<char> buffer(65536);
  if (output && output->size() < limits.maxOutput)
    output->reserve(output->size() + std::min(limits.maxOutput - output->size(), buffer.size()));
  const int64_t deadline = NowMilliseconds() + std::max(limits.totalMilliseconds, 0);

  // Standard input through a socket, so that a reader that went away gives
  // EPIPE to send(MSG_NOSIGNAL) instead of a SIGPIPE to the whole process.
  RunState run;
  if (input &&
      VoSysRetry([&] { return gVoSys.socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, run.in); }) != 0)
    return result;
  if (output && VoSysRetry([&] { return gVoSys.pipe2(run.out, O_CLOEXEC); }) != 0) return result;
  if (VoSysRetry([&] { return gVoSys.pipe2(run.report, O_CLOEXEC); }) != 0) return result;
  const int fds[3] = {input ? run.in[1] : -1, output ? run.out[1] : -1, -1};
  if (HostMayReapChildren() || fds[0] == 0 || fds[0] == 1 || fds[1] == 0 || fds[1] == 1) {
    const unsigned limit = DescriptorLimit();
    const int held[6] = {run.in[0], run.in[1], run.out[0], run.out[1], run.report[0], run.report[1]};
    SignalsBlocked blocked;
    if (!blocked.Ok()) return result;
    const pid_t pid = ForkChild(&run.pidFd);
    if (pid == 0) KeepInChild(program.c_str(), args.data(), environ, fds, run.report[1], limit, held);
    if (pid < 0) return result;
  } else if ((run.pidFd = SpawnWithPidFd(program.c_str(), args.data(), fds)) < 0) {
    result.started = run.pidFd == -2;  // ran, but how it ended is unknown
    run.pidFd = -1;
    return result;
  }
  run.running = true;
  CloseFd(run.in[1]);
  CloseFd(run.out[1]);
  CloseFd(run.report[1]);
  if (ExecError(run.report[0], deadline) != 0) return result;  // not started; killed and reaped
  result.started = true;

  int& writeFd = run.in[0];
  int& readFd = run.out[0];
  // A descriptor left blocking could hold the loop below past every bound:
  // the program is not run then.
  for (int fd : {writeFd, readFd}) {
    if (fd < 0) continue;
    const int flags = VoSysRetry([&] { return gVoSys.fcntl(fd, F_GETFL, 0); });
    if (flags < 0 || VoSysRetry([&] { return gVoSys.fcntl(fd, F_SETFL, flags | O_NONBLOCK); }) != 0)
      return result;
  }
  size_t written = 0;
  if (writeFd >= 0 && input->empty()) CloseFd(writeFd);

  // One loop watches the pipes and the program itself: it ends when the
  // program has ended (what it wrote is taken then, even while a child it
  // left behind still holds the pipe), or it is killed at the deadline, after
  // an idle time or for writing more than the limit.
  int64_t lastProgress = NowMilliseconds();
  int status = -1;
  bool failed = false;  // a pipe or the wait failed: whatever the program did is unknown
  for (;;) {
    const Waited waited = Reap(run.pidFd, false, status);
    if (waited == Waited::Ended) run.running = false;
    if (waited != Waited::Running) {
      failed = waited == Waited::Failed;
      break;
    }
    const int64_t now = NowMilliseconds();
    const int64_t left = std::min(deadline, lastProgress + std::max(idleMilliseconds, 0)) - now;
    if (left <= 0) {
      result.timedOut = true;
      break;
    }
    struct pollfd fds[3];
    int n = 0;
    if (writeFd >= 0) fds[n++] = {writeFd, POLLOUT, 0};
    if (readFd >= 0) fds[n++] = {readFd, POLLIN, 0};
    fds[n++] = {run.pidFd, POLLIN, 0};
    // Interrupted: the loop polls again with the time left.
    const int ready =
        gVoSys.poll(fds, static_cast<nfds_t>(n), static_cast<int>(std::min<int64_t>(left, INT32_MAX)));
    if (ready < 0 && errno != EINTR) {
      failed = true;
      break;
    }
    if (ready <= 0) continue;
    for (int i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == writeFd) {
        const size_t chunk = std::min<size_t>(input->size() - written, 1u << 20);
        const ssize_t sent =
            VoSysRetry([&] { return gVoSys.send(writeFd, input->data() + written, chunk, MSG_NOSIGNAL); });
        if (sent > 0) {
          written += static_cast<size_t>(sent);
          lastProgress = NowMilliseconds();
          if (written == input->size()) CloseFd(writeFd);
        } else if (sent < 0 && (errno == EPIPE || errno == ECONNRESET)) {
          CloseFd(writeFd);  // the program stopped reading
        } else if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
          failed = true;
          break;
        }
      } else if (fds[i].fd == readFd) {
        const ssize_t got = VoSysRetry([&] { return gVoSys.read(readFd, buffer.data(), buffer.size()); });
        if (got > 0) {
          if (static_cast<size_t>(got) > RoomLeft(*output, limits.maxOutput)) {
            result.tooMuchOutput = true;
            break;
          }
          output->append(buffer.data(), static_cast<size_t>(got));
          lastProgress = NowMilliseconds();
        } else if (got == 0) {
          CloseFd(readFd);
        } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
          failed = true;
          break;
        }
      }
    }
    if (result.tooMuchOutput || failed) break;
  }
  // Ended: what the program wrote before it ended is in the pipe now; a
  // child it left behind may hold the pipe open for ever, so nothing more is
  // waited for.
  const bool ended = !run.running;
  if (ended && readFd >= 0) {
    const Drained drained = DrainNow(readFd, *output, buffer, limits.maxOutput);
    result.tooMuchOutput = drained == Drained::TooMuch;
    failed = failed || drained == Drained::Failed;
  }
  result.exitCode = ended && !result.tooMuchOutput && !failed ? status : -1;
  return result;
}

bool VoLinuxLaunchDetached(const std::vector<std::string>& argv) {
  if (argv.empty()) return false;
  const std::string program = VoLinuxFindProgram(argv[0]);
  if (program.empty()) return false;
  // Everything the children use is prepared here: after the fork they call
  // only async-signal-safe functions.
  std::vector<char*> args = CArgs(argv);
  char** env = environ;
  const char* path = program.c_str();
  const unsigned limit = DescriptorLimit();
  const int fds[3] = {-1, -2, -2};  // input from /dev/null, output and error the caller's

  // The exec error comes back through a close-on-exec pipe: a successful
  // exec closes it unseen (end of file), a failed one writes its errno.
  int report[2] = {-1, -1};
  if (VoSysRetry([&] { return gVoSys.pipe2(report, O_CLOEXEC); }) != 0) return false;
  int pidFd = -1;
  {
    SignalsBlocked blocked;
    const pid_t child = blocked.Ok() ? ForkChild(&pidFd) : -1;
    if (child == 0) {
      // The middle child starts the program and ends at once, which hands
      // the program to the system's reaper: no zombie is left behind.
      const pid_t grandchild = ForkChild(nullptr);
      if (grandchild == 0) ExecInChild(path, args.data(), env, fds, report[1], limit);
      _exit(grandchild < 0 ? 1 : 0);
    }
    if (child < 0) {
      CloseFd(report[0]);
      CloseFd(report[1]);
      return false;
    }
  }
  CloseFd(report[1]);
  int status = -1;
  if (Reap(pidFd, true, status) != Waited::Ended) KillAndReap(pidFd);
  CloseFd(pidFd);
  int err = status == 0 ? ExecError(report[0], NowMilliseconds() + 5000) : -1;
  CloseFd(report[0]);
  if (err == 0) return true;
  if (err > 0) VoDebugPrintfImpl(1, "cannot run %s: %s", path, std::strerror(err));
  return false;
}

std::string VoLinuxExecutablePath() {
  std::vector<char> buffer(1024);
  for (;;) {
    const ssize_t n = gVoSys.readlinkat(AT_FDCWD, "/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
    if (buffer.size() >= (1u << 20)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}
