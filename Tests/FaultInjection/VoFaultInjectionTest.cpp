// VoFaultInjectionTest.cpp - every allocation of the database and string operations and walks made to fail.
//
// The program replaces the global allocation functions (every form of
// operator new and delete) and, through the linker's --wrap, the realloc and
// free calls of the library (the database writer grows its buffer with
// realloc). An operation runs once to count its allocations, then once per
// allocation with exactly that one failing. Each failure must reach the
// caller as std::bad_alloc or VoError code 4, leave no block behind and the
// database usable; a run that reports success must give the reference result.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "VoCore/VoError.h"
#include "VoCore/VoString.h"
#include "VoCore/VoStringPrivate.h"
#include "VoData/VoArray.h"
#include "VoData/VoDataBase.h"
#include "VoIO/VoFileSpec.h"
#include "VoIO/VoIterateDir.h"
#include "Linux/VoLinuxProcessPrivate.h"

namespace {

bool gArmed = false;  // counting (and failing) allocations
long gSeen = 0;       // allocations while armed
long gFailAt = -1;    // the armed allocation that fails
bool gInjected = false;
long gLive = 0;  // blocks handed out and not yet freed

/// Blocks that came from realloc(nullptr, n): free() of other pointers (the C
/// library's own) is not ours to count.
void* gReallocBlocks[256];

bool FailNow() {
  if (!gArmed) return false;
  if (gSeen++ != gFailAt) return false;
  gInjected = true;
  return true;
}

void* Allocate(std::size_t n, std::size_t align) {
  if (FailNow()) return nullptr;
  void* p = nullptr;
  if (align <= alignof(std::max_align_t))
    p = std::malloc(n ? n : 1);
  else if (posix_memalign(&p, align, n ? n : 1) != 0)
    p = nullptr;
  if (p) ++gLive;
  return p;
}

void Release(void* p) {
  if (!p) return;
  --gLive;
  std::free(p);
}

void* AllocateOrThrow(std::size_t n, std::size_t align) {
  void* p = Allocate(n, align);
  if (!p) throw std::bad_alloc();
  return p;
}

/// Runs \p op armed; the scope disarms also when an exception leaves it.
struct Armed {
  Armed() { gArmed = true; }
  ~Armed() { gArmed = false; }
  Armed(const Armed&) = delete;
  Armed& operator=(const Armed&) = delete;
};

}  // namespace

// ---------------------------------------------------------------- the replaced allocation functions

void* operator new(std::size_t n) { return AllocateOrThrow(n, 0); }
void* operator new[](std::size_t n) { return AllocateOrThrow(n, 0); }
void* operator new(std::size_t n, std::align_val_t a) {
  return AllocateOrThrow(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a) {
  return AllocateOrThrow(n, static_cast<std::size_t>(a));
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n, 0); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n, 0); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return Allocate(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return Allocate(n, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }
void operator delete(void* p, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { Release(p); }

extern "C" {
void* __real_realloc(void* p, std::size_t n);
void __real_free(void* p);

void* __wrap_realloc(void* p, std::size_t n) {
  if (n > 0 && FailNow()) return nullptr;
  void* q = __real_realloc(p, n);
  if (!q) return nullptr;
  for (void*& slot : gReallocBlocks) {
    if (p != nullptr && slot == p) {
      slot = q;
      return q;
    }
  }
  for (void*& slot : gReallocBlocks) {
    if (slot == nullptr) {
      slot = q;
      ++gLive;
      return q;
    }
  }
  std::abort();  // more live realloc blocks than this program expects
}

void __wrap_free(void* p) {
  for (void*& slot : gReallocBlocks) {
    if (p != nullptr && slot == p) {
      slot = nullptr;
      --gLive;
      break;
    }
  }
  __real_free(p);
}
}

namespace {

std::string Bytes(const VoString& s) { return std::string(s.c_str(), static_cast<std::size_t>(s.length())); }

/// A database with nested levels, shared text and every kind of quoting.
void Fill(VoDataBase& db) {
  db.SetString("plain", "value");
  db.SetString("quoted key/with \"quotes\"", "a \"b\" {c} <d>");
  db.SetInt("deep/er/and/deeper/number", 42);
  db.SetBoolean("deep/flag", true);
  db.SetDouble("deep/er/real", 2.5);
  db.SetString("empty", "");
  db.SetString("long", VoString(std::string(9000, 'l').c_str()));  // the writer's buffer grows twice
  for (int i = 0; i < 40; ++i) db.SetString(VoString("list/item") + VoString().FromSig(0x41414141u + i), "x");
}

struct Figures {
  long points = 0;    // allocations of the reference run
  long failures = 0;  // runs whose injected failure reached the caller
  long leaks = 0;     // runs that left blocks behind
};

/// The reference run, then one run per allocation with that one failing.
Figures Exercise(const char* name, const std::function<std::string()>& op) {
  Figures f;
  gFailAt = -1;
  gSeen = 0;
  DropSpareStringBlock();  // every run starts without a kept block
  const std::string reference = op();
  f.points = gSeen;
  EXPECT_GT(f.points, 0) << name << ": no allocation seen";
  for (long k = 0; k <= f.points; ++k) {
    gFailAt = k;
    gSeen = 0;
    gInjected = false;
    DropSpareStringBlock();  // a block kept for reuse is no leak
    const long live = gLive;
    {
      std::string result;
      bool ok = false;
      try {
        result = op();
        ok = true;
      } catch (const std::bad_alloc&) {
      } catch (const VoError& e) {
        EXPECT_EQ(e.GetErr(), 4u) << name << " at allocation " << k << ": " << e.GetErrName();
      }
      gFailAt = -1;
      if (ok) {
        EXPECT_EQ(result, reference) << name << " reported success with allocation " << k << " failing";
      } else {
        EXPECT_TRUE(gInjected) << name << " failed without an injected failure at " << k;
        ++f.failures;
      }
    }
    EXPECT_EQ(k < f.points, gInjected) << name << " at " << k;
    DropSpareStringBlock();
    if (gLive != live) ++f.leaks;
    EXPECT_EQ(gLive, live) << name << " leaked with allocation " << k << " failing";
  }
  std::printf("[fault injection] %-28s %5ld allocation points, %5ld failures reached the caller, %ld leaks\n",
              name, f.points, f.failures, f.leaks);
  return f;
}

/// The writer's layout switch for one scope.
struct Bracketed {
  Bracketed() { VoDataBase::SaveControlChars(true); }
  ~Bracketed() { VoDataBase::SaveControlChars(false); }
};

TEST(FaultInjection, DatabaseOperations) {
  VoDataBase source;
  Fill(source);
  const VoString text = source.WriteToString();
  const VoString copyKey("copy");  // made before: the argument may be made after the copy
  using Body = std::function<void(VoDataBase&, VoString&)>;
  const struct {
    const char* name;
    Body op;  // runs armed on a database that holds one entry
  } cases[] = {
      {"ReadFromString", [&](VoDataBase& db, VoString&) { db.ReadFromString(text); }},
      {"WriteToString", [&](VoDataBase&, VoString& out) { out = source.WriteToString(); }},
      {"WriteToString bracketed",
       [&](VoDataBase&, VoString& out) { out = (Bracketed(), source.WriteToString()); }},
      {"copy", [&](VoDataBase& db, VoString&) { db.SetDB(copyKey, new VoDataBase(source), true); }},
      {"assignment", [&](VoDataBase& db, VoString&) { db = source; }},
      {"MergeDB append", [&](VoDataBase& db, VoString&) { db.MergeDB(&source, true); }},
      {"MergeDB replace", [&](VoDataBase& db, VoString&) { db.MergeDB(&source, false); }},
      {"path setters",
       [&](VoDataBase& db, VoString&) {
         db.SetString("a/b/c", "text");
         db.SetInt("a/b/n", -7);
         db.SetBoolean("deep/x/flag", false);
         db.SetDouble("a/x/d", 0.125);
         db.SetDB("shared/level", &source, false);
         db.GetDB("made/on/demand", true);
         db.GetString("stored/default", "dflt", true);
       }},
  };
  for (const auto& c : cases)
    Exercise(c.name, [&] {
      VoDataBase db;
      db.SetString("deep/er/mine", "kept");
      VoString out;
      try {
        Armed armed;
        c.op(db, out);
      } catch (...) {
        // The database takes and gives text after the failure.
        db.SetString("after/failure", "written");
        EXPECT_NE(Bytes(db.WriteToString()).find("written"), std::string::npos);
        throw;
      }
      return Bytes(db.WriteToString() + out);
    });
}

TEST(FaultInjection, StringConversionsAndTokenizer) {
  const VoString utf8 = VoString("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \"q\" \\ end");
  const VoString words("alpha \"beta gamma\" delta,epsilon  zeta");
  const struct {
    const char* name;
    std::function<VoString()> op;
  } cases[] = {
      {"UTF8ToUTF16", [&] { return utf8.UTF8ToUTF16(); }},
      {"UTF16ToUTF8", [&] { return utf8.UTF8ToUTF16().UTF16ToUTF8(); }},
      {"ISO8859_1ToUTF8", [&] { return VoString("caf\xE9 \xC0 \xFF").ISO8859_1ToUTF8(); }},
      {"UTF8ToISO8859_1", [&] { return utf8.UTF8ToISO8859_1(); }},
      {"MacRomanToUTF8", [&] { return VoString("\x80\x8E\xA5\xD0").MacRomanToUTF8(); }},
      {"UTF8ToMacRoman", [&] { return utf8.UTF8ToMacRoman(); }},
      {"MacRoman/ISO 8859-1",
       [&] { return VoString("\x80\xE9\xA5").MacRomanToISO8859_1().ISO8859_1ToMacRoman(); }},
      {"QuoteString", [&] { return utf8.QuoteString(); }},
      {"UnQuoteString", [&] { return utf8.QuoteString().UnQuoteString(); }},
      {"hex",
       [&] {
         VoString hex;
         hex.Bin2Str("\x00\x01\xAB\xFF binary", 11);
         return hex + hex.Str2BinStr();
       }},
      {"tokenizer",
       [&] {
         VoString out;
         long pos = 0;
         for (VoString t; (t = words.ReadString(pos, true, " ,")).length() > 0;) out += t + "|";
         out += words.ReadWord(2, true, " ,");
         VoArray<VoString> items;
         words.ReadStrings(items, " ");
         words.Split(items, ',');
         out.MergeStrings(items, VoString("+"));
         return out;
       }},
  };
  for (const auto& c : cases)
    Exercise(c.name, [&] {
      VoString result;
      {
        Armed armed;
        result = c.op();
      }
      return Bytes(result);
    });
}

TEST(FaultInjection, ProgramRunLeavesNoChildAndNoDescriptor) {
  const std::vector<std::string> argv = {"/bin/echo", "hello"};
  const auto fds = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
  const auto before = fds();
  Exercise("VoLinuxRun", [&] {
    std::string out;
    Armed armed;
    return out += std::to_string(VoLinuxRun(argv, nullptr, &out, 5000).exitCode);
  });
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child is left";
  EXPECT_EQ(fds(), before);
}

// A failed allocation in a save leaves no descriptor and no temporary file,
// and once the new file is in place the save reports success.
TEST(FaultInjection, SaveOwnsItsDescriptorsAndTemporaryFile) {
  char dir[] = "/tmp/vo_fault_save_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/db.icc";  // codes derived from the extension
  const VoFileSpec spec(VoString(file.c_str()));
  VoDataBase db;
  Fill(db);
  const auto count = [](const char* folder) {
    return std::distance(std::filesystem::directory_iterator(folder), {});
  };
  const auto read = [&] { return (std::ostringstream() << std::ifstream(file).rdbuf()).str(); };
  Exercise("WriteToFile", [&] {
    std::filesystem::remove(file);  // a new file: only the attribute set here
    std::ofstream(file) << "old = 1\n";
    setxattr(file.c_str(), "user.note", "kept", 4, 0);  // copied to the new file: more to allocate
    const auto fds = count("/proc/self/fd");
    try {
      Armed armed;
      db.WriteToFile(spec);
    } catch (...) {
      EXPECT_EQ(read(), "old = 1\n") << "a failure reported once the new file was in place";
      EXPECT_EQ(count(dir), 1) << "temporary file left";
      EXPECT_EQ(count("/proc/self/fd"), fds) << "descriptor left open";
      throw;
    }
    return read();
  });
  std::filesystem::remove_all(dir);
}

// A walk failing at any allocation (listing, stack, the slab of the paths,
// the list found) leaves no block and no folder open.
TEST(FaultInjection, WalkLeavesNoBlockAndNoFolderOpen) {
  char dir[] = "/tmp/vo_fault_walk_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  for (const char* sub : {"/a", "/a/b"}) std::filesystem::create_directory(std::string(dir) + sub);
  for (const char* file : {"/x.txt", "/a/y.icc", "/a/b/z"}) std::ofstream(std::string(dir) + file) << "1";
  const auto fds = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
  const auto before = fds();
  Exercise("VoIterateDirGetFiles", [&] {
    VoIterateDirGetFiles walk;
    Armed{}, walk.Start(VoFileSpec(VoString(dir)), 0);
    EXPECT_EQ(walk.GetCount() * 10 + walk.GetFolderCount(), 32);
    std::string out;
    for (int i = 0; i < walk.GetCount(); ++i) out += Bytes(walk.GetFileSpec(i).GetFullName()) + "\n";
    return out;
  });
  EXPECT_EQ(fds(), before) << "a folder left open";
  std::filesystem::remove_all(dir);
}

// The destructor allocates nothing: a deep database goes while every
// allocation would fail.
TEST(FaultInjection, DestroyingADatabaseAllocatesNothing) {
  auto* db = new VoDataBase;
  VoDataBase* level = db;
  for (int i = 0; i < 2000; ++i) level = level->GetDB("nested", true);
  Fill(*level);
  Fill(*db);
  const long live = gLive;
  gFailAt = 0;
  gSeen = 0;
  {
    Armed armed;
    db->Delete();
  }
  gFailAt = -1;
  EXPECT_EQ(gSeen, 0) << "allocations while destroying";
  EXPECT_LT(gLive, live - 2000);
}

}  // namespace
