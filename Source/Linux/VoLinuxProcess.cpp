// VoLinuxProcess.cpp - starting helper programs with posix_spawn or a double fork, never through a shell.
#include "Linux/VoLinuxProcessPrivate.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

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

/// Waits up to \p milliseconds for \p pid to end; kills and reaps it after that.
/// Returns the exit code (-1 when it did not exit normally); sets \p killed.
int ReapChild(pid_t pid, int milliseconds, bool* killed) {
  const int64_t deadline = NowMilliseconds() + std::max(milliseconds, 0);
  int status = 0;
  useconds_t pause = 200;
  for (;;) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    // A program that ignores SIGCHLD has its children reaped by the system:
    // the exit code is lost, and the run counts as a success.
    if (r < 0 && errno == ECHILD) return 0;
    if (r < 0 && errno != EINTR) return -1;
    if (NowMilliseconds() >= deadline) {
      kill(pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      *killed = true;
      return -1;
    }
    usleep(pause);
    pause = std::min<useconds_t>(pause * 2, 10000);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

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
                            std::string* output, int idleMilliseconds) {
  VoLinuxRunResult result;
  if (argv.empty()) return result;
  const std::string program = VoLinuxFindProgram(argv[0]);
  if (program.empty()) return result;

  // Standard input through a socket, so that a reader that went away gives
  // EPIPE to send(MSG_NOSIGNAL) instead of a SIGPIPE to the whole process.
  int in[2] = {-1, -1};
  int out[2] = {-1, -1};
  if (input && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0) return result;
  if (output && pipe2(out, O_CLOEXEC) != 0) {
    CloseFd(in[0]);
    CloseFd(in[1]);
    return result;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (input)
    posix_spawn_file_actions_adddup2(&actions, in[1], 0);
  else
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (output)
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  else
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int s : kResetSignals) sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> args = CArgs(argv);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  CloseFd(in[1]);
  CloseFd(out[1]);
  if (rc != 0) {
    CloseFd(in[0]);
    CloseFd(out[0]);
    return result;
  }
  result.started = true;

  int writeFd = in[0];
  int readFd = out[0];
  if (writeFd >= 0) fcntl(writeFd, F_SETFL, fcntl(writeFd, F_GETFL) | O_NONBLOCK);
  if (readFd >= 0) fcntl(readFd, F_SETFL, fcntl(readFd, F_GETFL) | O_NONBLOCK);
  size_t written = 0;
  if (writeFd >= 0 && input->empty()) CloseFd(writeFd);

  std::vector<char> buffer(65536);
  while (writeFd >= 0 || readFd >= 0) {
    struct pollfd fds[2];
    int n = 0;
    if (writeFd >= 0) fds[n++] = {writeFd, POLLOUT, 0};
    if (readFd >= 0) fds[n++] = {readFd, POLLIN, 0};
    const int ready = poll(fds, static_cast<nfds_t>(n), idleMilliseconds);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (ready == 0) {  // no progress for the whole idle time
      kill(pid, SIGKILL);
      result.timedOut = true;
      break;
    }
    for (int i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == writeFd) {
        const size_t chunk = std::min<size_t>(input->size() - written, 1u << 20);
        const ssize_t sent = send(writeFd, input->data() + written, chunk, MSG_NOSIGNAL);
        if (sent > 0) {
          written += static_cast<size_t>(sent);
          if (written == input->size()) CloseFd(writeFd);
        } else if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
          CloseFd(writeFd);  // the program stopped reading
        }
      } else if (fds[i].fd == readFd) {
        const ssize_t got = read(readFd, buffer.data(), buffer.size());
        if (got > 0) {
          output->append(buffer.data(), static_cast<size_t>(got));
        } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
          CloseFd(readFd);
        }
      }
    }
  }
  CloseFd(writeFd);
  CloseFd(readFd);
  bool killed = false;
  result.exitCode = ReapChild(pid, result.timedOut ? 0 : idleMilliseconds, &killed);
  if (killed) result.timedOut = true;
  if (result.timedOut) result.exitCode = -1;
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

  const pid_t child = fork();
  if (child < 0) return false;
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
      close_range(3, ~0u, 0);
      execve(path, args.data(), env);
      _exit(127);
    }
    _exit(grandchild < 0 ? 1 : 0);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
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
