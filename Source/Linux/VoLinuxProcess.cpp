// VoLinuxProcess.cpp - starting helper programs with posix_spawn or a double fork, never through a shell.
#include "Linux/VoLinuxProcessPrivate.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "VoCore/VoDebug.h"

extern char** environ;

namespace {

constexpr int kResetSignals[] = {SIGPIPE, SIGCHLD, SIGINT, SIGQUIT, SIGTERM, SIGHUP};

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
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
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

/// Kills \p pid and reaps it; false when the system had reaped it already.
void KillAndReap(pid_t pid) {
  kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

/// A descriptor that becomes readable when \p pid ends; -1 where the system
/// has none (the run then looks at the child in short slices).
int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  const long fd = syscall(SYS_pidfd_open, pid, 0);
  if (fd >= 0) {
    fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    return static_cast<int>(fd);
  }
#else
  (void)pid;
#endif
  return -1;
}

/// How many more bytes \p output may take under \p limit (none when a caller
/// handed in more than the limit already).
std::size_t RoomLeft(const std::string& output, std::size_t limit) {
  return output.size() < limit ? limit - output.size() : 0;
}

/// Reads what \p fd holds now into \p output (up to \p limit bytes in all);
/// false when the limit would be passed.
bool DrainNow(int fd, std::string& output, std::vector<char>& buffer, std::size_t limit) {
  for (;;) {
    const ssize_t got = read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return true;
    if (static_cast<std::size_t>(got) > RoomLeft(output, limit)) return false;
    output.append(buffer.data(), static_cast<std::size_t>(got));
  }
}

/// The descriptors and the program of one run. However the run is left (an
/// allocation that throws included), they are closed and the program, unless
/// it was seen to end, is killed and reaped.
struct RunState {
  int in[2] = {-1, -1};   ///< its standard input: in[0] is written here
  int out[2] = {-1, -1};  ///< its standard output: out[0] is read here
  int pidFd = -1;
  pid_t pid = -1;  ///< started and not yet reaped
  RunState() = default;
  RunState(const RunState&) = delete;
  RunState& operator=(const RunState&) = delete;
  ~RunState() {
    for (int* fd : {&in[0], &in[1], &out[0], &out[1], &pidFd}) CloseFd(*fd);
    if (pid > 0) KillAndReap(pid);
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
        char* cwd = getcwd(nullptr, 0);
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

  // Standard input through a socket, so that a reader that went away gives
  // EPIPE to send(MSG_NOSIGNAL) instead of a SIGPIPE to the whole process.
  RunState run;
  if (input && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, run.in) != 0) return result;
  if (output && pipe2(run.out, O_CLOEXEC) != 0) return result;

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return result;
  int failed = input ? posix_spawn_file_actions_adddup2(&actions, run.in[1], 0)
                     : posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (!failed)
    failed = output ? posix_spawn_file_actions_adddup2(&actions, run.out[1], 1)
                    : posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  if (!failed) failed = posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  if (!failed) failed = posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  posix_spawnattr_t attr;
  if (!failed) failed = posix_spawnattr_init(&attr);
  if (failed) {
    posix_spawn_file_actions_destroy(&actions);
    return result;
  }
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int s : kResetSignals) sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  CloseFd(run.in[1]);
  CloseFd(run.out[1]);
  if (rc != 0) return result;
  run.pid = pid;
  result.started = true;

  int& writeFd = run.in[0];
  int& readFd = run.out[0];
  if (writeFd >= 0) fcntl(writeFd, F_SETFL, fcntl(writeFd, F_GETFL) | O_NONBLOCK);
  if (readFd >= 0) fcntl(readFd, F_SETFL, fcntl(readFd, F_GETFL) | O_NONBLOCK);
  size_t written = 0;
  if (writeFd >= 0 && input->empty()) CloseFd(writeFd);

  // One loop watches the pipes and the program itself: it ends when the
  // program has ended (what it wrote is taken then, even while a child it
  // left behind still holds the pipe), or it is killed at the deadline, after
  // an idle time or for writing more than the limit.
  run.pidFd = OpenPidFd(pid);
  const int pidFd = run.pidFd;
  const int64_t deadline = NowMilliseconds() + std::max(limits.totalMilliseconds, 0);
  int64_t lastProgress = NowMilliseconds();
  int slice = 1;  // without a process descriptor: milliseconds until the next look at the child
  bool ended = false;
  int status = 0;
  for (;;) {
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno == ECHILD)) {
      // A program that ignores SIGCHLD has its children reaped by the
      // system: the exit code is lost, and the run counts as a success.
      if (r < 0) status = 0;
      ended = true;
      run.pid = -1;
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
    if (pidFd >= 0) fds[n++] = {pidFd, POLLIN, 0};
    int wait = static_cast<int>(std::min<int64_t>(left, INT32_MAX));
    if (pidFd < 0) wait = std::min(wait, slice);
    const int ready = poll(fds, static_cast<nfds_t>(n), wait);
    if (ready < 0 && errno != EINTR) {
      result.timedOut = true;
      break;
    }
    if (ready <= 0) {
      slice = std::min(slice * 2, 20);
      continue;
    }
    for (int i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == writeFd) {
        const size_t chunk = std::min<size_t>(input->size() - written, 1u << 20);
        const ssize_t sent = send(writeFd, input->data() + written, chunk, MSG_NOSIGNAL);
        if (sent > 0) {
          written += static_cast<size_t>(sent);
          lastProgress = NowMilliseconds();
          slice = 1;
          if (written == input->size()) CloseFd(writeFd);
        } else if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
          CloseFd(writeFd);  // the program stopped reading
        }
      } else if (fds[i].fd == readFd) {
        const ssize_t got = read(readFd, buffer.data(), buffer.size());
        if (got > 0) {
          if (static_cast<size_t>(got) > RoomLeft(*output, limits.maxOutput)) {
            result.tooMuchOutput = true;
            break;
          }
          output->append(buffer.data(), static_cast<size_t>(got));
          lastProgress = NowMilliseconds();
          slice = 1;
        } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
          CloseFd(readFd);
        }
      }
    }
    if (result.tooMuchOutput) break;
  }
  // Ended: what the program wrote before it ended is in the pipe now; a
  // child it left behind may hold the pipe open for ever, so nothing more is
  // waited for.
  if (ended && readFd >= 0 && !DrainNow(readFd, *output, buffer, limits.maxOutput))
    result.tooMuchOutput = true;
  result.exitCode = ended && !result.tooMuchOutput && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool VoLinuxLaunchDetached(const std::vector<std::string>& argv) {
  if (argv.empty()) return false;
  const std::string program = VoLinuxFindProgram(argv[0]);
  if (program.empty()) return false;
  // Everything the children use is prepared here: after fork they call only
  // async-signal-safe functions.
  std::vector<char*> args = CArgs(argv);
  char** env = environ;
  const char* path = program.c_str();

  // The exec error comes back through a close-on-exec pipe: a successful
  // exec closes it unseen (end of file), a failed one writes its errno.
  int report[2] = {-1, -1};
  if (pipe2(report, O_CLOEXEC) != 0) return false;

  const pid_t child = fork();
  if (child < 0) {
    CloseFd(report[0]);
    CloseFd(report[1]);
    return false;
  }
  if (child == 0) {
    const pid_t grandchild = fork();
    if (grandchild == 0) {
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      struct sigaction dfl {};
      dfl.sa_handler = SIG_DFL;
      for (int s : kResetSignals) sigaction(s, &dfl, nullptr);
      const int devnull = open("/dev/null", O_RDONLY);
      if (devnull > 0) {
        dup2(devnull, 0);
        close(devnull);
      }
      // Every descriptor above 2 but the report pipe, which the exec closes.
      // With the caller's standard input and output closed the pipe itself
      // may be 0 and 1: standard error (2) stays open all the same.
      const int keep = report[1];
      if (keep > 3) close_range(3, static_cast<unsigned>(keep) - 1, 0);
      close_range(static_cast<unsigned>(std::max(keep + 1, 3)), ~0u, 0);
      execve(path, args.data(), env);
      const int err = errno;
      (void)!write(keep, &err, sizeof err);
      _exit(127);
    }
    _exit(grandchild < 0 ? 1 : 0);
  }
  CloseFd(report[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
    CloseFd(report[0]);
    return false;
  }
  // Bounded: a program that another thread's fork keeps from the exec must
  // not hold the caller.
  int err = 0;
  std::size_t got = 0;
  const int64_t deadline = NowMilliseconds() + 5000;
  for (;;) {
    struct pollfd fd = {report[0], POLLIN, 0};
    const int64_t left = deadline - NowMilliseconds();
    if (left <= 0) break;
    const int ready = poll(&fd, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    const ssize_t n = read(report[0], reinterpret_cast<char*>(&err) + got, sizeof err - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
    if (got == sizeof err) break;
  }
  CloseFd(report[0]);
  if (got != sizeof err) return true;
  VoDebugPrintfImpl(1, "cannot run %s: %s", path, std::strerror(err));
  return false;
}

std::string VoLinuxExecutablePath() {
  std::vector<char> buffer(1024);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
    if (buffer.size() >= (1u << 20)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}
