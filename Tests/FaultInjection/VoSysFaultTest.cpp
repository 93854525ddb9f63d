// VoSysFaultTest.cpp - every system call of the file operations, the bus call and a helper run failed in
// turn (EIO, ENOSPC, EINTR). Every entry of gVoSys is wrapped; at each point the failure must reach the
// caller, the old file stay intact, no temporary file, descriptor or child be left, nothing hang and the
// next call succeed. As "nobody".
#include <gtest/gtest.h>
#include <grp.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "Linux/VoLinuxDBusPrivate.h"
#include "Linux/VoLinuxProcessPrivate.h"
#include "Linux/VoLinuxSys.h"
#include "Mac/VoMacToolsOSX.h"
#include "VoCore/VoDebug.h"
#include "VoCore/VoError.h"
#include "VoData/VoDataBase.h"
#include "VoIO/VoFile.h"
#include "VoIO/VoIterateDir.h"
#include "VoSystem/VoSystem.h"

namespace {

namespace fs = std::filesystem;

bool gArmed = false;
pid_t gPid = 0;     // the process under test (not the children it starts)
long gSeen = 0;     // calls while armed
long gFailAt = -1;  // the armed call that fails
long gFailed = -1;  // the call that failed last
int gErrno = EIO;
struct Kind {
  bool room, interruptible, releases;  // takes room; may be repeated; releases also when failing
  bool errorNumber;                    // returns the errno instead of -1
  const char* name;
};
std::vector<Kind> gKinds;  // of each call of the reference run

/// True when the failed call came after a call named \p call.
bool FailedAfter(const char* call) {
  for (long j = 0; j < gFailed; ++j)
    if (std::string(gKinds[static_cast<size_t>(j)].name) == call) return true;
  return false;
}
std::set<FILE*> gErrored;  // streams whose injected read or write failed

bool Inject(const Kind& kind) {
  if (!gArmed || ::getpid() != gPid) return false;
  const long n = gSeen++;
  if (gFailAt < 0) gKinds.push_back(kind);
  return n == gFailAt;
}

template <auto M>
struct Hook;
template <class R, class... A, R (*VoSysCalls::*M)(A...)>
struct Hook<M> {
  static inline Kind kind;
  static R Call(A... a) {
    if (!Inject(kind)) return (kVoSysDefault.*M)(a...);
    if (kind.releases) (kVoSysDefault.*M)(a...);
    errno = gErrno;
    if constexpr (std::is_same_v<R, int>)
      if (kind.errorNumber) return gErrno;
    if constexpr (std::is_pointer_v<R>) {
      return nullptr;
    } else if constexpr (std::is_same_v<R, size_t>) {  // fread, fwrite: the stream notes the error
      gErrored.insert(std::get<sizeof...(A) - 1>(std::tie(a...)));
      return 0;
    } else {
      return static_cast<R>(-1);
    }
  }
  static void Install(const char* name) {
    // Calls that may fail for want of room; stdio writes, closes and seeks
    // (which may write out the buffer) are never repeated after EINTR: the C
    // library drops what it could not write. close and fclose release anyway.
    const std::string n = std::string(" ") + name + " ";
    const auto in = [&](const char* list) { return std::string(list).find(n) != std::string::npos; };
    kind = {
        in(" open openat write pwrite fsync ftruncate fallocate copy_file_range renameat mkdirat fsetxattr "
           "fopen fwrite fflush fclose "),
        !in(" close fwrite fflush fclose fseeko pthread_sigmask "), in(" close fclose "),
        in(" posix_spawnp pthread_sigmask "), name};
    gVoSys.*M = &Call;
  }
};

#define HOOK(call) Hook<&VoSysCalls::call>::Install(#call)

void InstallHooks() {
  // clang-format off
  HOOK(open); HOOK(openat); HOOK(close); HOOK(read); HOOK(write); HOOK(pread); HOOK(pwrite); HOOK(lseek);
  HOOK(fsync); HOOK(ftruncate); HOOK(fallocate); HOOK(copy_file_range); HOOK(fcntl); HOOK(fchmod);
  HOOK(fchown); HOOK(fstatat); HOOK(statx); HOOK(faccessat); HOOK(readlinkat); HOOK(realpath); HOOK(renameat);
  HOOK(unlinkat); HOOK(mkdirat); HOOK(getdents64); HOOK(fgetxattr); HOOK(getxattrat); HOOK(fsetxattr);
  HOOK(fremovexattr); HOOK(lgetxattr); HOOK(llistxattr); HOOK(fopen); HOOK(fread); HOOK(fwrite); HOOK(fflush); HOOK(fclose);
  HOOK(fseeko); HOOK(ftello); HOOK(pipe2); HOOK(poll); HOOK(socket); HOOK(connect); HOOK(posix_spawnp);
  HOOK(waitid); HOOK(socketpair); HOOK(send); HOOK(recv); HOOK(getsockopt); HOOK(clone3); HOOK(kill);
  HOOK(pidfd_open); HOOK(pidfd_send_signal); HOOK(sigaction); HOOK(pthread_sigmask);
  // clang-format on
  gVoSys.ferror = [](FILE* f) -> int { return gErrored.count(f) != 0 || kVoSysDefault.ferror(f); };
  gVoSys.clearerr = [](FILE* f) {
    gErrored.erase(f);
    kVoSysDefault.clearerr(f);
  };
}

std::string Get(const std::string& p) { return (std::ostringstream() << std::ifstream(p).rdbuf()).str(); }
void Put(const std::string& p, const std::string& bytes) { std::ofstream(p) << bytes; }
long Count(const char* folder) { return std::distance(fs::directory_iterator(folder), {}); }
std::string Children() { return Get("/proc/self/task/" + std::to_string(getpid()) + "/children"); }

/// One operation: the files as they are before, the operation (its outcome
/// as text; a failure it reports is thrown), and what a failure must leave.
struct IoOp {
  const char* name;
  std::function<void()> prepare;
  std::function<std::string()> run;
  std::function<bool()> intact;  // null: nothing to keep
};

/// The reference run, then each call failed in turn with each error.
void Exercise(const IoOp& op, const std::string& dir) {
  long points, tried[3] = {0, 0, 0}, failed[3] = {0, 0, 0};
  const auto attempt = [&](std::string& out) {
    gSeen = 0;
    gErrored.clear();
    gArmed = true;
    bool ok = true;
    alarm(20);  // a call held for ever ends the child: the test fails
    try {
      out = op.run();
    } catch (const VoError& e) {
      out = e.GetErrName();
      ok = false;
    }
    alarm(0);
    gArmed = false;
    return ok;
  };
  std::string reference;
  op.prepare();
  gFailAt = -1;
  gKinds.clear();
  EXPECT_TRUE(attempt(reference)) << op.name << ": " << reference;
  points = gSeen;
  const int errors[] = {EIO, ENOSPC, EINTR};
  for (int e = 0; e < 3; ++e) {
    for (long k = 0; k < points; ++k) {
      if ((errors[e] == ENOSPC && !gKinds[k].room) || (errors[e] == EINTR && !gKinds[k].interruptible))
        continue;
      SCOPED_TRACE(std::string(op.name) + ", call " + std::to_string(k) + " (" + gKinds[k].name +
                   ") failing with " + strerror(errors[e]));
      op.prepare();
      const long fds = Count("/proc/self/fd");
      const std::string children = Children();
      gErrno = errors[e];
      ++tried[e];
      gFailAt = gFailed = k;
      std::string out;
      const bool ok = attempt(out);
      gFailAt = -1;
      EXPECT_TRUE(ok || errors[e] != EINTR) << "an interrupted call was not repeated";
      if (ok) {
        EXPECT_EQ(out, reference) << "success reported for a failed operation";
      } else {
        ++failed[e];
        EXPECT_TRUE(!op.intact || op.intact()) << "the old file was not kept";
      }
      EXPECT_EQ(Count("/proc/self/fd"), fds) << "a descriptor leaked";
      EXPECT_EQ(Children(), children) << "a child left";
      for (const auto& entry : fs::recursive_directory_iterator(dir))
        EXPECT_NE(entry.path().filename().string().rfind(".~", 0), 0u) << "temporary file left";
      op.prepare();
      EXPECT_TRUE(attempt(out) && out == reference) << "the next, unfailed call";
    }
  }
  std::printf(
      "[system faults] %-30s %3ld calls; failures reported: EIO %ld/%ld, ENOSPC %ld/%ld, EINTR %ld/%ld\n",
      op.name, points, failed[0], tried[0], failed[1], tried[1], failed[2], tried[2]);
}

VoFileSpec Spec(const std::string& path) { return VoFileSpec(VoString(path.c_str())); }

const std::string kOld = "kept = old\nlist = {\n\tname = \"value\"\n}\n";

/// Runs \p body in a child as "nobody" when root (permission checks bind);
/// the child's failures are the test's.
void AsOrdinaryUser(const std::function<void(const std::string&)>& body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                           setresuid(65534, 65534, 65534) != 0))
      _exit(77);
    gPid = getpid();
    InstallHooks();
    char tmpl[] = "/tmp/vo_sysfault_XXXXXX";
    if (mkdtemp(tmpl) == nullptr) _exit(78);
    body(tmpl);
    std::error_code ec;
    fs::remove_all(tmpl, ec);
    std::fflush(nullptr);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot become an ordinary user";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "failures in the unprivileged child (above)";
}

TEST(SystemFaults, FileOperations) {
  AsOrdinaryUser([](const std::string& dir) {
    const std::string db = dir + "/db.txt", other = dir + "/copy.bin", locked = dir + "/locked";
    VoDataBase big;
    for (int i = 0; i < 1000; ++i) big.SetInt(VoString("entry") + VoString().FromSig(0x41414141u + i), i);
    const VoString bigText = big.WriteToString();
    const auto keepOld = [&] { return Get(db) == kOld; };
    // Once renamed, the new text is in place; only the folder's flush can still fail.
    const auto oldOrRenamed = [&](const std::string& path) {
      return Get(path) == kOld || FailedAfter("renameat");
    };
    const auto fresh = [&] {
      chmod(locked.c_str(), 0755);
      fs::remove_all(locked);
      fs::remove(db);  // a new file each time: no attributes of an earlier run
      Put(db, kOld);
      fs::remove(other);
    };
    const auto save = [&](const std::string& path) {
      VoDataBase d;
      d.ReadFromString(bigText);
      d.WriteToFile(Spec(path));
      return Get(path);
    };
    const auto walk = [&](uint32_t which) {
      struct Names {
        std::set<std::string> seen;
        static bool Add(bool, unsigned long, const FSCatalogInfo*, const FSRef* ref, const FSSpec*,
                        const VoString*, void* data) {
          static_cast<Names*>(data)->seen.insert(ref->path.c_str());
          return false;
        }
      } names;
      FSRef ref;
      ref.path = VoString(dir.c_str());
      const OSErr err = FSIterateContainer(ref, 0, which, true, false, Names::Add, &names);
      if (err != 0) VoError::ThrowSysError(err, "walk");
      std::string out;
      for (const std::string& n : names.seen) out += n + "\n";
      return out;
    };
    const IoOp ops[] = {
        {"WriteToFile", fresh, [&] { return save(db); }, [&] { return oldOrRenamed(db); }},
        {"WriteToFile in place",  // the folder takes no new file: the file is written where it is
         [&] {
           fresh();
           fs::create_directory(locked);
           Put(locked + "/db.txt", kOld);
           chmod(locked.c_str(), 0555);
         },
         [&] { return save(locked + "/db.txt"); },
         [&] { return Get(locked + "/db.txt") == kOld || FailedAfter("pwrite"); }},  // fsync, close
        {"ReadFromFile",
         [&] {
           fresh();
           Put(other, bigText.c_str());
         },
         [&] {
           VoDataBase d;
           d.SetString("mine", "kept");
           try {
             d.ReadFromFile(Spec(other));
           } catch (...) {
             EXPECT_EQ(std::string(d.WriteToString().c_str()), "mine = kept\n") << "database changed";
             throw;
           }
           return std::string(d.WriteToString().c_str());
         },
         nullptr},
        {"VoFile write and close", fresh,
         [&] {
           VoFile f(Spec(other), eVoFileWrite);
           f.WriteString(bigText);
           f.Close();
           return Get(other);
         },
         nullptr},
        {"VoFile read", fresh,
         [&] { return std::string(VoFile(Spec(db), eVoFileRead).ReadString().c_str()); }, keepOld},
        {"VoFile append", fresh,
         [&] {
           VoFile f(Spec(db), eVoFileNone);
           f.Open(eVoFileReadWrite, false);
           f.SetPosition(0, eVoFileSeekEnd);
           f.WriteString("more = 1\n");
           f.Close();
           return Get(db);
         },
         nullptr},
        {"CopyFile", fresh,
         [&] {
           VoSystem::CopyFile(Spec(db), Spec(other));
           return Get(other);
         },
         keepOld},
        {"CopyFile sparse",
         [&] {
           fresh();
           Put(dir + "/sparse", "head");
           truncate((dir + "/sparse").c_str(), 1 << 20);
           std::ofstream(dir + "/sparse", std::ios::in | std::ios::out | std::ios::binary | std::ios::ate)
               << "tail";
         },
         [&] {
           VoSystem::CopyFile(Spec(dir + "/sparse"), Spec(other));
           return Get(other);
         },
         nullptr},
        {"preference save",
         [&] {
           fresh();
           setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
           fs::remove(dir + "/com.apple.universalaccess.txt");
           Put(dir + "/com.apple.universalaccess.txt", kOld);
         },
         [&] {
           if (!SetMacContrastEnhancement(0.5)) VoError::ThrowSysError(0, "not saved");
           return Get(dir + "/com.apple.universalaccess.txt");
         },
         [&] { return oldOrRenamed(dir + "/com.apple.universalaccess.txt"); }},
        {"debug log append", fresh,
         [&] {
           VoSetDebugOutputFileImpl(VoString(db.c_str()));
           VoDebugPrintfImpl(0, "appended");
           VoSetDebugOutputImpl(VoGetDefaultOutputStream());
           const std::string text = Get(db);
           if (text == kOld) VoError::ThrowSysError(0, "message lost");  // as documented: never raised
           return text;
         },
         keepOld},
        {"walk", fresh, [&] { return walk(kFSCatInfoDataSizes); }, nullptr},
        {"walk with finder information", fresh,
         [&] { return walk(kFSCatInfoFinderInfo | kFSCatInfoParentDirID); }, nullptr},
        {"walk with kinds from the listing", fresh, [&] { return walk(kVoCatInfoKindFromListing); }, nullptr},
    };
    fs::create_directories(dir + "/tree/a/b");
    Put(dir + "/tree/a/b/f", "x");
    for (const IoOp& op : ops) Exercise(op, dir);
  });
}

/// Starts \p argv (found on PATH) with its output on /dev/null; its process id.
pid_t Start(std::vector<std::string> argv) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

TEST(SystemFaults, BusCallAndHelperRuns) {
  AsOrdinaryUser([](const std::string& dir) {
    // A private session bus with a screen saver on it that answers every call.
    Put(dir + "/bus.conf",
        "<busconfig><type>session</type><listen>unix:path=" + dir +
            "/bus</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow "
            "send_destination=\"*\"/><allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>");
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir + "/bus").c_str(), 1);
    const pid_t bus = Start({"dbus-daemon", "--config-file=" + dir + "/bus.conf", "--nofork", "--nopidfile"});
    for (int i = 0; i < 500 && bus > 0 && !fs::exists(dir + "/bus"); ++i) usleep(10000);
    // The socket's file appears before the bus listens on it: a screen saver
    // that came too early and gave up is started again.
    pid_t saver = -1;
    bool answered = false;
    for (int i = 0; i < 300 && bus > 0 && !answered; ++i) {
      if (saver <= 0 || waitpid(saver, nullptr, WNOHANG) == saver)
        saver = Start({"dbus-test-tool", "echo", "--name=org.freedesktop.ScreenSaver"});
      answered = VoLinuxSimulateUserActivity(250);
      if (!answered) usleep(20000);
    }
    const std::string text(5000, 'x');
    const auto run = [&](bool hostIgnoresChildren) {
      struct sigaction ignore {
      }, old{};
      ignore.sa_handler = hostIgnoresChildren ? SIG_IGN : SIG_DFL;
      sigaction(SIGCHLD, &ignore, &old);
      std::string out;
      const VoLinuxRunResult r = VoLinuxRun({"cat"}, &text, &out, 5000);
      sigaction(SIGCHLD, &old, nullptr);
      if (!r.started || r.timedOut || r.exitCode != 0) VoError::ThrowSysError(0, "the run failed");
      return out;
    };
    const auto nothing = [] {};
    std::vector<IoOp> ops = {{"helper run", nothing, [&] { return run(false); }, nullptr},
                             {"helper run, SIGCHLD ignored", nothing, [&] { return run(true); }, nullptr}};
    if (answered) {
      ops.push_back({"bus call (SystemActive)", nothing,
                     [] {
                       if (!VoLinuxSimulateUserActivity(1000)) VoError::ThrowSysError(0, "no answer");
                       return std::string("answered");
                     },
                     nullptr});
    } else {
      ADD_FAILURE() << "no private session bus with a screen saver (dbus-daemon, dbus-test-tool)";
    }
    for (const IoOp& op : ops) Exercise(op, dir);
    for (pid_t pid : {saver, bus}) {
      if (pid > 0) kill(pid, SIGTERM);
      if (pid > 0) waitpid(pid, nullptr, 0);
    }
  });
}

}  // namespace
