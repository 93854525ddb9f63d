// Tests of cast by class name, reference counting and the block allocator.
#include "VoCore/VoMemory.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "VoCore/VoError.h"
#include "VoCore/VoString.h"
#include "VoCore/VoStringPrivate.h"

#if defined(__SANITIZE_ADDRESS__)
#define VO_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VO_TEST_ASAN 1
#endif
#endif

namespace {

// A class that takes part in the cast and reports its destruction.
class CastChild : public VoObject {
 public:
  explicit CastChild(int* destroyed = nullptr) : mDestroyed(destroyed) {}
  ~CastChild() override {
    if (mDestroyed) ++*mDestroyed;
  }
  void* Cast(const char* name) override {
    if (StringsEqual(name, "CastChild")) return this;
    return VoObject::Cast(name);
  }
  const char* GetTypeName() const override { return "CastChild"; }

 private:
  int* mDestroyed;
};

// A class that keeps the inherited Cast and GetTypeName, as the library's own
// derived classes do.
class PlainChild : public VoObject {};

// Records every call; allocation failure is signalled by returning null.
class CountingManager : public VoMemoryManager {
 public:
  void* Alloc(unsigned long size) override {
    allocSizes.push_back(size);
    if (failAlloc) return nullptr;
    return ::operator new(size);
  }
  void Free(void* block) override {
    freed.push_back(block);
    if (block) ::operator delete(block);
  }
  std::vector<unsigned long> allocSizes;
  std::vector<void*> freed;
  bool failAlloc = false;
};

// Installs a manager for one scope, and reinstalls the default after it.
class ManagerScope {
 public:
  explicit ManagerScope(VoMemoryManager* m) { VoSetMemoryManager(m); }
  ~ManagerScope() { VoSetMemoryManager(nullptr); }
  ManagerScope(const ManagerScope&) = delete;
  ManagerScope& operator=(const ManagerScope&) = delete;
};

struct CastCase {
  const char* name;
  bool found;
};

TEST(VoMemoryTest, CastWalksTheChain) {
  CastChild child;
  const CastCase cases[] = {
      {"CastChild", true}, {"VoObject", true},    {"VoCastBase", true}, {"VoString", false},
      {"", false},         {"voobject", false},   {"VoObjec", false},   {"VoObjectX", false},
      {nullptr, false},    {"VoDataBase", false},
  };
  for (const CastCase& c : cases) {
    void* expected = c.found ? static_cast<void*>(&child) : nullptr;
    EXPECT_EQ(child.Cast(c.name), expected) << (c.name ? c.name : "(null)");
  }
  EXPECT_STREQ(child.GetTypeName(), "CastChild");
}

TEST(VoMemoryTest, RootsAnswerForTheirOwnNamesOnly) {
  VoCastBase base;
  EXPECT_EQ(base.Cast("VoCastBase"), &base);
  EXPECT_EQ(base.Cast("VoObject"), nullptr);
  EXPECT_STREQ(base.GetTypeName(), "VoCastBase");

  VoObject object;
  EXPECT_EQ(object.Cast("VoObject"), &object);
  EXPECT_EQ(object.Cast("VoCastBase"), &object);
  EXPECT_EQ(object.Cast("VoString"), nullptr);
  EXPECT_STREQ(object.GetTypeName(), "VoObject");

  // Calls through the base go to the most derived class.
  VoCastBase& viaBase = object;
  EXPECT_EQ(viaBase.Cast("VoObject"), &object);
  EXPECT_STREQ(viaBase.GetTypeName(), "VoObject");
}

TEST(VoMemoryTest, InheritedCastDoesNotKnowTheDerivedName) {
  PlainChild plain;
  EXPECT_STREQ(plain.GetTypeName(), "VoObject");
  EXPECT_EQ(plain.Cast("PlainChild"), nullptr);
  EXPECT_EQ(plain.Cast("VoObject"), &plain);
}

TEST(VoMemoryTest, StringsEqual) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {
      {"abc", "abc", true}, {"abc", "abd", false}, {"abc", "ab", false},   {"", "", true},
      {"", "a", false},     {"A", "a", false},     {"\xE9", "\xE9", true}, {nullptr, nullptr, true},
      {nullptr, "", false}, {"", nullptr, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(VoCastBase::StringsEqual(c.a, c.b), c.equal)
        << (c.a ? c.a : "(null)") << " / " << (c.b ? c.b : "(null)");
}

TEST(VoMemoryTest, DeleteDestroysOnTheLastReferenceOnly) {
  int destroyed = 0;
  CastChild* child = new CastChild(&destroyed);
  EXPECT_EQ(child->RefCount(), 1);
  child->NewRef();
  EXPECT_EQ(child->RefCount(), 2);
  child->Delete();
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(child->RefCount(), 1);
  child->Delete();  // frees the object; ASan would report a leak otherwise
  EXPECT_EQ(destroyed, 1);
}

TEST(VoMemoryTest, CountIsNeitherCopiedNorAssigned) {
  VoObject source;
  for (int i = 0; i < 4; ++i) source.NewRef();
  ASSERT_EQ(source.RefCount(), 5);

  VoObject copy(source);
  EXPECT_EQ(copy.RefCount(), 1);
  EXPECT_EQ(source.RefCount(), 5);

  copy = source;
  EXPECT_EQ(copy.RefCount(), 1);
  EXPECT_EQ(source.RefCount(), 5);
  source = copy;
  EXPECT_EQ(source.RefCount(), 5);
}

TEST(VoMemoryTest, CopyHandlesOverlapInBothDirections) {
  struct Case {
    int dest;
    int source;
    unsigned long size;
    const char* result;
  } cases[] = {
      {2, 0, 6, "0101234589"},  // forwards overlap
      {0, 2, 6, "2345676789"},  // backwards overlap
      {0, 5, 5, "5678956789"},  // adjacent
      {3, 3, 4, "0123456789"},  // onto itself
      {1, 0, 0, "0123456789"},  // nothing to copy
  };
  for (const Case& c : cases) {
    char buffer[] = "0123456789";
    VoCopy(buffer + c.dest, buffer + c.source, c.size);
    EXPECT_STREQ(buffer, c.result) << c.dest << " <- " << c.source;
  }
}

TEST(VoMemoryTest, NullPointersChangeNothing) {
  char buffer[] = "abcdef";
  VoCopy(nullptr, buffer, 6);
  VoCopy(buffer, nullptr, 6);
  VoSet(nullptr, 'x', 6);
  EXPECT_STREQ(buffer, "abcdef");
}

TEST(VoMemoryTest, SetFillsBytes) {
  unsigned char buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  VoSet(buffer + 1, 0x1FF, 3);  // only the low byte counts
  const unsigned char expected[8] = {1, 0xFF, 0xFF, 0xFF, 5, 6, 7, 8};
  EXPECT_EQ(std::memcmp(buffer, expected, sizeof buffer), 0);
  VoSet(buffer, 0, 0);
  EXPECT_EQ(buffer[0], 1);
}

TEST(VoMemoryTest, CloneCopiesIntoANewBlock) {
  const char text[] = "clone me";
  char* copy = static_cast<char*>(VoClone(text, sizeof text));
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, text);
  EXPECT_STREQ(copy, text);
  VoFree(copy);

  void* raw = VoClone(nullptr, 16);  // uninitialised, but a real block
  ASSERT_NE(raw, nullptr);
  VoSet(raw, 0, 16);
  VoFree(raw);
  VoFree(nullptr);  // harmless with the default manager
}

TEST(VoMemoryTest, InstalledManagerReceivesEveryCall) {
  ASSERT_EQ(VoGetMemoryManager(), nullptr);
  CountingManager counting;
  {
    ManagerScope scope(&counting);
    EXPECT_EQ(VoGetMemoryManager(), &counting);
    EXPECT_EQ(pMemoryManager, &counting);

    void* a = VoAlloc(24);
    const char text[] = "xyz";
    void* b = VoClone(text, sizeof text);
    EXPECT_STREQ(static_cast<char*>(b), "xyz");
    VoFree(a);
    VoFree(b);
    VoFree(nullptr);  // null is passed on too

    const std::vector<unsigned long> sizes = {24, sizeof text};
    EXPECT_EQ(counting.allocSizes, sizes);
    const std::vector<void*> freed = {a, b, nullptr};
    EXPECT_EQ(counting.freed, freed);
  }
  EXPECT_EQ(VoGetMemoryManager(), nullptr);

  // Back on the default: the counting manager sees nothing more.
  void* c = VoAlloc(8);
  VoFree(c);
  EXPECT_EQ(counting.allocSizes.size(), 2u);
  EXPECT_EQ(counting.freed.size(), 3u);
}

TEST(VoMemoryTest, CustomManagerFailureIsItsOwnBusiness) {
  CountingManager counting;
  counting.failAlloc = true;
  ManagerScope scope(&counting);
  EXPECT_EQ(VoAlloc(10), nullptr);
  // Cloning into a failed block must not write through the null pointer.
  const char text[] = "abc";
  EXPECT_EQ(VoClone(text, sizeof text), nullptr);
}

TEST(VoMemoryTest, DefaultManagerFailureIsMemFullErr) {
#ifdef VO_TEST_ASAN
  GTEST_SKIP() << "AddressSanitizer aborts on impossible allocations instead of failing them";
#else
  const unsigned long absurd = ULONG_MAX - 64;
  for (int viaManager = 0; viaManager < 2; ++viaManager) {
    try {
      void* p = viaManager ? DefaultManager.Alloc(absurd) : VoAlloc(absurd);
      ADD_FAILURE() << "allocation of an absurd size returned " << p;
      VoFree(p);
    } catch (const VoError& e) {
      EXPECT_EQ(e.GetErr(), 4u);
      EXPECT_STREQ(e.GetErrName(), "VoMemFullErr");
      EXPECT_STREQ(e.GetFileName(), "VoMemory.cpp");
      EXPECT_GT(e.GetLine(), 0);
    }
  }
#endif
}

// Blocks of 1 KiB to 16 KiB are kept for reuse, one per thread: a reused
// block has the capacity asked for, a zero behind it, and other threads'
// blocks (and the one kept when a thread ends, which LeakSanitizer checks)
// are their own.
TEST(VoMemoryStringBlocks, ReusedBlocksAreAsGoodAsNew) {
  // The block header sits right in front of the characters.
  auto capacityOf = [](const VoString& s) {
    return (reinterpret_cast<const VoStringData*>(s.c_str()) - 1)->mCapacity;
  };
  auto churn = [&] {
    for (long n : {1000L, 1017L, 1100L, 1090L, 4000L, 16000L, 16367L, 16368L, 20000L}) {
      const VoString source(std::string(static_cast<size_t>(n), 'a').c_str());
      for (int round = 0; round < 3; ++round) {
        VoString copy(source);
        copy[n - 1] = 'b';  // the copy becomes private
        ASSERT_EQ(capacityOf(copy), n);
        ASSERT_EQ(copy.c_str()[n], 0);
        ASSERT_EQ(copy.length(), n);
        ASSERT_EQ(source.c_str()[n - 1], 'a');
      }
      VoString smaller(n - 7, false);  // within an eighth of the block kept
      ASSERT_EQ(capacityOf(smaller), n - 7);
      ASSERT_EQ(smaller.length(), 0);
      ASSERT_EQ(smaller.c_str()[n - 7], 0);
    }
  };
  churn();
  std::thread other(churn);
  other.join();
  churn();
}

}  // namespace
