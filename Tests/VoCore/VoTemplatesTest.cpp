// Tests of the owning pointer to reference-counted objects.
#include "VoCore/VoTemplates.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VoCore/VoError.h"
#include "VoCore/VoMemory.h"

namespace {

// Logs every reference operation as "<name>+" / "<name>-" into a shared
// journal; the object is never freed, so its count can be inspected afterwards.
struct Recorder {
  Recorder(const char* n, std::vector<std::string>* j) : name(n), journal(j) {}
  int RefCount() const { return count; }
  void NewRef() {
    ++count;
    journal->push_back(name + "+");
  }
  void Delete() {
    --count;
    journal->push_back(name + "-");
  }
  std::string name;
  std::vector<std::string>* journal;
  int count = 1;
};

using Journal = std::vector<std::string>;

TEST(VoTemplatesTest, ConstructionFromPointerTakesOverTheReference) {
  Journal journal;
  Recorder a("a", &journal);
  {
    VoSmartPtr<Recorder> p(&a);
    EXPECT_EQ(p.Get(), &a);
    EXPECT_EQ(a.count, 1);
    EXPECT_TRUE(journal.empty());
  }
  EXPECT_EQ(journal, Journal({"a-"}));
  EXPECT_EQ(a.count, 0);
}

TEST(VoTemplatesTest, CopySharesTheObject) {
  Journal journal;
  Recorder a("a", &journal);
  {
    VoSmartPtr<Recorder> p(&a);
    VoSmartPtr<Recorder> q(p);
    EXPECT_EQ(q.Get(), &a);
    EXPECT_EQ(a.count, 2);
  }
  EXPECT_EQ(journal, Journal({"a+", "a-", "a-"}));
  VoSmartPtr<Recorder> empty;
  VoSmartPtr<Recorder> emptyCopy(empty);  // no reference operation on null
  EXPECT_EQ(emptyCopy.Get(), nullptr);
}

TEST(VoTemplatesTest, ReassignmentTakesTheNewReferenceBeforeReleasingTheOld) {
  Journal journal;
  Recorder a("a", &journal);
  Recorder b("b", &journal);
  {
    VoSmartPtr<Recorder> p(&a);
    p = &b;  // assigning a raw pointer takes a reference of its own
    EXPECT_EQ(p.Get(), &b);
    EXPECT_EQ(journal, Journal({"b+", "a-"}));
    EXPECT_EQ(b.count, 2);
    EXPECT_EQ(a.count, 0);

    journal.clear();
    VoSmartPtr<Recorder> q(&a);
    a.count = 1;
    q = p;  // the same order through another smart pointer
    EXPECT_EQ(journal, Journal({"b+", "a-"}));
    EXPECT_EQ(b.count, 3);

    journal.clear();
    q = nullptr;
    EXPECT_EQ(journal, Journal({"b-"}));
    EXPECT_EQ(q.Get(), nullptr);
    journal.clear();
    q = &a;
    EXPECT_EQ(journal, Journal({"a+"}));
    EXPECT_EQ(a.count, 1);
  }
}

TEST(VoTemplatesTest, SelfAssignmentChangesNoCount) {
  Journal journal;
  Recorder a("a", &journal);
  {
    VoSmartPtr<Recorder> p(&a);
    p = &a;
    VoSmartPtr<Recorder>& alias = p;
    p = alias;
    VoSmartPtr<Recorder> q(&a);
    a.count = 2;
    journal.clear();
    p = q;  // different smart pointer, same object
    EXPECT_TRUE(journal.empty());
    EXPECT_EQ(a.count, 2);
  }
  EXPECT_EQ(a.count, 0);
}

TEST(VoTemplatesTest, DestroyingAPointerToADeadObjectThrowsAndLeavesItAlone) {
  const int deadCounts[] = {0, -1, -100};
  for (int dead : deadCounts) {
    Journal journal;
    Recorder a("a", &journal);
    bool thrown = false;
    try {
      VoSmartPtr<Recorder> p(&a);
      a.count = dead;
    } catch (const VoError& e) {
      thrown = true;
      EXPECT_EQ(e.GetErr(), 20u);
      EXPECT_STREQ(e.GetErrName(), "VoPtrInvalid");
      EXPECT_STREQ(e.GetFileName(), "VoTemplates.h");
    }
    EXPECT_TRUE(thrown) << dead;
    EXPECT_TRUE(journal.empty()) << dead;
    EXPECT_EQ(a.count, dead);
  }
}

TEST(VoTemplatesTest, AccessOperators) {
  Journal journal;
  Recorder a("a", &journal);
  VoSmartPtr<Recorder> p(&a);
  EXPECT_EQ(p->name, "a");
  EXPECT_EQ(&*p, &a);
  Recorder* raw = p;
  EXPECT_EQ(raw, &a);
  VoSmartPtr<Recorder> none;
  EXPECT_FALSE(none);
  EXPECT_TRUE(p);
}

// With real objects the last holder frees the object.
class Tracked : public VoObject {
 public:
  explicit Tracked(int* destroyed) : mDestroyed(destroyed) {}
  ~Tracked() override { ++*mDestroyed; }

 private:
  int* mDestroyed;
};

TEST(VoTemplatesTest, LastHolderDestroysAVoObject) {
  int destroyed = 0;
  {
    VoSmartPtr<Tracked> outer;
    {
      VoSmartPtr<Tracked> inner(new Tracked(&destroyed));
      outer = inner;
      EXPECT_EQ(inner->RefCount(), 2);
    }
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(outer->RefCount(), 1);
    outer = new Tracked(&destroyed);  // takes its own reference on the new one...
    EXPECT_EQ(destroyed, 1);          // ...and releases the last one of the old
    outer->Delete();                  // give up the creator's reference
    EXPECT_EQ(outer->RefCount(), 1);
  }
  EXPECT_EQ(destroyed, 2);
}

}  // namespace
