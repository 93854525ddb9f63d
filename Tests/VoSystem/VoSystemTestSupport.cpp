// VoSystemTestSupport.cpp - the private folder, helper programs and process looks of the VoSystem tests.
#include "VoSystem/VoSystemTestSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "Linux/VoLinuxProcessPrivate.h"

extern char** environ;

namespace vo_test {

double Seconds() {
  struct timespec t {};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

bool Eventually(const std::function<bool()>& condition, double seconds) {
  const double end = Seconds() + seconds;
  for (;;) {
    if (condition()) return true;
    if (Seconds() > end) return false;
    usleep(5000);
  }
}

TempDir::TempDir() {
  char pattern[] = "/tmp/vo-system-test-XXXXXX";
  const char* made = mkdtemp(pattern);
  path_ = made ? made : "";
}

TempDir::~TempDir() {
  if (!path_.empty()) {
    VoLinuxRun({"chmod", "-R", "u+rwx", path_}, nullptr, nullptr, 5000);
    VoLinuxRun({"rm", "-rf", path_}, nullptr, nullptr, 5000);
  }
}

std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
  const std::string p = Path(name);
  std::ofstream(p, std::ios::binary) << bytes;
  return p;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

VoFileSpec Spec(const std::string& path) {
  return VoFileSpec(VoString(path.data(), static_cast<long>(path.size()), false));
}

std::string Bytes(const VoString& s) { return std::string(s.c_str(), static_cast<size_t>(s.length())); }

VoString Vo(const std::string& s) { return VoString(s.data(), static_cast<long>(s.size()), false); }

VoError Caught(const std::function<void()>& body) {
  try {
    body();
  } catch (const VoError& e) {
    return e;
  }
  return VoError();
}

int Threads() {
  int threads = 0;
  DIR* task = opendir("/proc/self/task");
  if (!task) return -1;
  while (dirent* e = readdir(task)) threads += e->d_name[0] != '.';
  closedir(task);
  return threads;
}

std::vector<long> ProcessesWith(const std::string& name, const std::string& entry) {
  std::vector<long> found;
  DIR* proc = opendir("/proc");
  if (!proc) return found;
  while (dirent* e = readdir(proc)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    const std::string dir = std::string("/proc/") + e->d_name;
    std::string comm;
    std::getline(std::ifstream(dir + "/comm"), comm);
    if (comm != name) continue;
    const std::string env = ReadFile(dir + "/environ");
    if (("\0" + env).find(std::string(1, '\0') + entry + std::string(1, '\0')) != std::string::npos ||
        env.find(entry) == 0)
      found.push_back(std::atol(e->d_name));
  }
  closedir(proc);
  return found;
}

bool Child::Start(const std::vector<std::string>& argv, const std::vector<int>& keepOpen) {
  int p[2];
  if (pipe2(p, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, p[1], 1);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  for (int fd : keepOpen) posix_spawn_file_actions_adddup2(&fa, fd, fd);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const int rc = posix_spawnp(&pid_, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(p[1]);
  if (rc != 0) {
    close(p[0]);
    pid_ = -1;
    return false;
  }
  out_ = p[0];
  return true;
}

bool Child::ReadUntil(const std::function<bool(const std::string&)>& done, double seconds) {
  const double end = Seconds() + seconds;
  while (!done(text_)) {
    const double left = end - Seconds();
    if (left <= 0 || out_ < 0) return false;
    struct pollfd fd = {out_, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(left * 1000) + 1) <= 0) continue;
    char buf[4096];
    const ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) {
      close(out_);
      out_ = -1;
      return done(text_);
    }
    text_.append(buf, static_cast<size_t>(n));
  }
  return true;
}

void Child::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    // Give it a second, then insist.
    for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i) usleep(10000);
    if (waitpid(pid_, &status, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }
  if (out_ >= 0) close(out_);
  out_ = -1;
}

}  // namespace vo_test
