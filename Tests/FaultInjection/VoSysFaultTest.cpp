// VoSysFaultTest.cpp - every system call of the file operations made to fail in turn, through the seam.
//
// Each entry of gVoSys is wrapped: an operation runs once to count its calls,
// then once per call with exactly that one failing, with EIO, with ENOSPC
// (calls that take room only) and with EINTR (which must be repeated, so the
// operation must succeed). At every point the failure reaches the caller,
// the old file is intact, no temporary file or descriptor is left, and the
// same operation succeeds right afterwards. Runs as "nobody" when root.
#include <gtest/gtest.h>
#include <grp.h>
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
long gSeen = 0;     // calls while armed
long gFailAt = -1;  // the armed call that fails
long gFailed = -1;  // the call that failed last
int gErrno = EIO;
bool gInjected = false;
struct Kind {
  bool room, interruptible;
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
  if (!gArmed) return false;
  const long n = gSeen++;
  if (gFailAt < 0) gKinds.push_back(kind);
  if (n != gFailAt) return false;
  gInjected = true;
  return true;
}

template <auto M>
struct Hook;
template <class R, class... A, R (*VoSysCalls::*M)(A...)>
struct Hook<M> {
  static inline Kind kind;
  static inline bool releases = false;
  static R Call(A... a) {
    if (!Inject(kind)) return (kVoSysDefault.*M)(a...);
    if (releases) (kVoSysDefault.*M)(a...);  // close and fclose release whatever they return
    errno = gErrno;
    if constexpr (std::is_pointer_v<R>) {
      return nullptr;
    } else if constexpr (std::is_same_v<R, size_t>) {  // fread, fwrite: the stream notes the error
      gErrored.insert(std::get<sizeof...(A) - 1>(std::tie(a...)));
      return 0;
    } else {
      return static_cast<R>(-1);
    }
  }
  static void Install(const char* name, bool room, bool interruptible, bool alwaysReleases = false) {
    kind = {room, interruptible, name};
    releases = alwaysReleases;
    gVoSys.*M = &Call;
  }
};

#define HOOK(call, ...) Hook<&VoSysCalls::call>::Install(#call, __VA_ARGS__)

void InstallHooks() {
  // Calls that may fail for want of room; stdio writes and closes are never
  // repeated after EINTR (the C library drops what it could not write).
  HOOK(open, true, true);
  HOOK(openat, true, true);
  HOOK(close, false, false, true);
  HOOK(read, false, true);
  HOOK(write, true, true);
  HOOK(pread, false, true);
  HOOK(pwrite, true, true);
  HOOK(lseek, false, true);
  HOOK(fsync, true, true);
  HOOK(ftruncate, true, true);
  HOOK(fallocate, true, true);
  HOOK(copy_file_range, true, true);
  HOOK(fcntl, false, true);
  HOOK(fchmod, false, true);
  HOOK(fchown, false, true);
  HOOK(fstatat, false, true);
  HOOK(statx, false, true);
  HOOK(faccessat, false, true);
  HOOK(readlinkat, false, true);
  HOOK(realpath, false, true);
  HOOK(renameat, true, true);
  HOOK(unlinkat, false, true);
  HOOK(mkdirat, true, true);
  HOOK(getdents64, false, true);
  HOOK(fgetxattr, false, true);
  HOOK(fsetxattr, true, true);
  HOOK(fremovexattr, false, true);
  HOOK(lgetxattr, false, true);
  HOOK(llistxattr, false, true);
  HOOK(fopen, true, true);
  HOOK(fread, false, true);
  HOOK(fwrite, true, false);
  HOOK(fflush, true, false);
  HOOK(fclose, true, false, true);
  HOOK(fseeko, false, false);  // may write out the buffer first
  HOOK(ftello, false, true);
  gVoSys.ferror = [](FILE* f) -> int { return gErrored.count(f) != 0 || kVoSysDefault.ferror(f); };
  gVoSys.clearerr = [](FILE* f) {
    gErrored.erase(f);
    kVoSysDefault.clearerr(f);
  };
}

std::string Get(const std::string& path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}
void Put(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}
long Count(const char* folder) { return std::distance(fs::directory_iterator(folder), {}); }

/// One operation: the files as they are before, the operation (its outcome
/// as text; a failure it reports is thrown), and what a failure must leave.
struct IoOp {
  const char* name;
  std::function<void(const std::string&)> prepare;
  std::function<std::string(const std::string&)> run;
  std::function<bool(const std::string&)> intact;  // null: nothing to keep
};

struct Figures {
  long points = 0, tried[3] = {0, 0, 0}, failed[3] = {0, 0, 0};
};

/// The reference run, then each call failed in turn with each error.
Figures Exercise(const IoOp& op, const std::string& dir) {
  Figures f;
  const auto attempt = [&](std::string& out) {
    gSeen = 0;
    gInjected = false;
    gErrored.clear();
    gArmed = true;
    bool ok = true;
    try {
      out = op.run(dir);
    } catch (const VoError& e) {
      out =
          e.GetErrName() + std::string(" ") + std::to_string(e.GetErr()) + " errno " + std::to_string(errno);
      ok = false;
    } catch (const std::runtime_error& e) {
      out = e.what();
      ok = false;
    }
    gArmed = false;
    return ok;
  };
  std::string reference;
  op.prepare(dir);
  gFailAt = -1;
  gKinds.clear();
  EXPECT_TRUE(attempt(reference)) << op.name << ": " << reference;
  f.points = gSeen;
  const int errors[] = {EIO, ENOSPC, EINTR};
  for (int e = 0; e < 3; ++e) {
    for (long k = 0; k < f.points; ++k) {
      if ((errors[e] == ENOSPC && !gKinds[k].room) || (errors[e] == EINTR && !gKinds[k].interruptible))
        continue;
      SCOPED_TRACE(std::string(op.name) + ", call " + std::to_string(k) + " (" + gKinds[k].name +
                   ") failing with " + strerror(errors[e]));
      op.prepare(dir);
      const long fds = Count("/proc/self/fd");
      gErrno = errors[e];
      ++f.tried[e];
      gFailAt = gFailed = k;
      std::string out;
      const bool ok = attempt(out);
      gFailAt = -1;
      EXPECT_TRUE(ok || errors[e] != EINTR) << "an interrupted call was not repeated";
      if (ok) {
        EXPECT_EQ(out, reference) << "success reported for a failed operation";
      } else {
        ++f.failed[e];
        EXPECT_TRUE(!op.intact || op.intact(dir)) << "the old file was not kept";
      }
      EXPECT_EQ(Count("/proc/self/fd"), fds) << "a descriptor leaked";
      for (const auto& entry : fs::recursive_directory_iterator(dir))
        EXPECT_NE(entry.path().filename().string().rfind(".~", 0), 0u) << "temporary file left";
      op.prepare(dir);
      EXPECT_TRUE(attempt(out) && out == reference) << "the next, unfailed call";
    }
  }
  std::printf(
      "[system faults] %-30s %3ld calls; failures reported: EIO %ld/%ld, ENOSPC %ld/%ld, EINTR %ld/%ld\n",
      op.name, f.points, f.failed[0], f.tried[0], f.failed[1], f.tried[1], f.failed[2], f.tried[2]);
  return f;
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
    const auto keepOld = [&](const std::string&) { return Get(db) == kOld; };
    // Once renamed, the new text is in place; only the folder's flush can still fail.
    const auto oldOrRenamed = [&](const std::string& path) {
      return Get(path) == kOld || FailedAfter("renameat");
    };
    const auto fresh = [&](const std::string&) {
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
    const auto walk = [&](const std::string&, uint32_t which) {
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
      if (err != 0) throw std::runtime_error("walk status " + std::to_string(err));
      std::string out;
      for (const std::string& n : names.seen) out += n + "\n";
      return out;
    };
    const IoOp ops[] = {
        {"WriteToFile", fresh, [&](const std::string&) { return save(db); },
         [&](const std::string&) { return oldOrRenamed(db); }},
        {"WriteToFile in place",  // the folder takes no new file: the file is written where it is
         [&](const std::string& d) {
           fresh(d);
           fs::create_directory(locked);
           Put(locked + "/db.txt", kOld);
           chmod(locked.c_str(), 0555);
         },
         [&](const std::string&) { return save(locked + "/db.txt"); },
         [&](const std::string&) {  // an error after the whole write (fsync) leaves the new text
           const std::string now = Get(locked + "/db.txt");
           return now == kOld || now == bigText.c_str();
         }},
        {"ReadFromFile",
         [&](const std::string& d) {
           fresh(d);
           Put(other, bigText.c_str());
         },
         [&](const std::string&) {
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
         [&](const std::string&) {
           VoFile f(Spec(other), eVoFileWrite);
           f.WriteString(bigText);
           f.Close();
           return Get(other);
         },
         nullptr},
        {"VoFile read", fresh,
         [&](const std::string&) {
           VoFile f(Spec(db), eVoFileRead);
           const VoString text = f.ReadString();
           f.Close();
           return std::string(text.c_str(), static_cast<size_t>(text.length()));
         },
         keepOld},
        {"VoFile append", fresh,
         [&](const std::string&) {
           VoFile f(Spec(db), eVoFileNone);
           f.Open(eVoFileReadWrite, false);
           f.SetPosition(0, eVoFileSeekEnd);
           f.WriteString("more = 1\n");
           f.Close();
           return Get(db);
         },
         nullptr},
        {"CopyFile", fresh,
         [&](const std::string&) {
           VoSystem::CopyFile(Spec(db), Spec(other));
           return Get(other);
         },
         keepOld},
        {"CopyFile sparse",
         [&](const std::string& d) {
           fresh(d);
           Put(dir + "/sparse", "head");
           truncate((dir + "/sparse").c_str(), 1 << 20);
           std::ofstream(dir + "/sparse", std::ios::in | std::ios::out | std::ios::binary | std::ios::ate)
               << "tail";
         },
         [&](const std::string&) {
           VoSystem::CopyFile(Spec(dir + "/sparse"), Spec(other));
           return Get(other);
         },
         nullptr},
        {"preference save",
         [&](const std::string& d) {
           fresh(d);
           setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
           fs::remove(dir + "/com.apple.universalaccess.txt");
           Put(dir + "/com.apple.universalaccess.txt", kOld);
         },
         [&](const std::string&) {
           if (!SetMacContrastEnhancement(0.5)) throw std::runtime_error("not saved");
           return Get(dir + "/com.apple.universalaccess.txt");
         },
         [&](const std::string&) { return oldOrRenamed(dir + "/com.apple.universalaccess.txt"); }},
        {"debug log append", fresh,
         [&](const std::string&) {
           VoSetDebugOutputFileImpl(VoString(db.c_str()));
           VoDebugPrintfImpl(0, "appended");
           VoSetDebugOutputImpl(VoGetDefaultOutputStream());
           const std::string text = Get(db);
           if (text == kOld) throw std::runtime_error("message lost");  // as documented: never raised
           return text;
         },
         keepOld},
        {"walk", fresh, [&](const std::string& d) { return walk(d, kFSCatInfoDataSizes); }, nullptr},
        {"walk with finder information", fresh,
         [&](const std::string& d) { return walk(d, kFSCatInfoFinderInfo | kFSCatInfoParentDirID); },
         nullptr},
    };
    fs::create_directories(dir + "/tree/a/b");
    Put(dir + "/tree/a/b/f", "x");
    for (const IoOp& op : ops) Exercise(op, dir);
  });
}

}  // namespace
