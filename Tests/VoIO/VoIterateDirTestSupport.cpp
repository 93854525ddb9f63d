// VoIterateDirTestSupport.cpp - the scratch folder, recording walker and order checks of the walk tests.
#include "VoIO/VoIterateDirTestSupport.h"

#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vo_walk_test {

namespace {

int RemoveOne(const char* path, const struct stat* st, int type, struct FTW*) {
  if (type == FTW_DP || type == FTW_D || type == FTW_DNR) {
    rmdir(path);
  } else {
    (void)st;
    unlink(path);
  }
  return 0;
}

int OpenUp(const char* path, const struct stat*, int type, struct FTW*) {
  if (type == FTW_D || type == FTW_DNR) chmod(path, 0755);
  return 0;
}

}  // namespace

Scratch::Scratch(bool bulk) {
  std::string tmpl = "/tmp/vo-walk-XXXXXX";
  if (bulk && access("/dev/shm", W_OK | X_OK) == 0) tmpl = "/dev/shm/vo-walk-XXXXXX";
  const char* made = mkdtemp(tmpl.data());
  if (made == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
    return;
  }
  char resolved[PATH_MAX];
  mRoot = realpath(made, resolved) ? resolved : made;
}

Scratch::~Scratch() {
  if (mRoot.empty()) return;
  nftw(mRoot.c_str(), OpenUp, 16, FTW_PHYS);  // locked folders first
  nftw(mRoot.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
  // nftw stops at paths beyond PATH_MAX; rm walks them relative to open folders.
  if (access(mRoot.c_str(), F_OK) == 0) {
    const int status = std::system(("rm -rf '" + mRoot + "'").c_str());
    EXPECT_EQ(status, 0) << "could not remove " << mRoot;
  }
}

void Scratch::Dir(const std::string& rel) const { ASSERT_EQ(mkdir((*this / rel).c_str(), 0755), 0) << rel; }

void Scratch::File(const std::string& rel, const std::string& content) const {
  FILE* f = std::fopen((*this / rel).c_str(), "wb");
  ASSERT_NE(f, nullptr) << rel;
  if (!content.empty()) std::fwrite(content.data(), 1, content.size(), f);
  std::fclose(f);
}

void Scratch::Link(const std::string& target, const std::string& rel) const {
  ASSERT_EQ(symlink(target.c_str(), (*this / rel).c_str()), 0) << rel;
}

void MakeSmallTree(const Scratch& t) {
  t.File("a");
  t.File("b");
  t.Dir("s");
  t.File("s/c");
  t.Dir("s/t");
  t.File("s/t/d");
}

std::vector<std::string> Recorder::Relative(const std::string& root) const {
  std::vector<std::string> out;
  for (const VoFileInfo& info : seen) {
    std::string full = Str(info.GetFullName());
    if (full.compare(0, root.size() + 1, root + "/") == 0) {
      out.push_back(full.substr(root.size() + 1));
    } else {
      out.push_back("OUTSIDE:" + full);
    }
  }
  return out;
}

::testing::AssertionResult IsPreOrder(const std::vector<VoFileInfo>& seen, const std::string& root) {
  std::vector<std::string> open{root};
  for (const VoFileInfo& info : seen) {
    const std::string full = Str(info.GetFullName());
    const std::string parent = full.substr(0, full.rfind('/'));
    while (!open.empty() && open.back() != parent) open.pop_back();
    if (open.empty()) return ::testing::AssertionFailure() << full << " is not inside an open folder";
    if (!info.IsFile()) open.push_back(full);
  }
  return ::testing::AssertionSuccess();
}

std::vector<std::string> ListingOrder(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (struct dirent* e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  }
  closedir(dir);
  return names;
}

int OpenDescriptors(const char* folder) {
  int n = 0;
  DIR* dir = opendir(folder);
  if (dir == nullptr) return -1;
  while (readdir(dir) != nullptr) ++n;
  closedir(dir);
  return n;
}

}  // namespace vo_walk_test
