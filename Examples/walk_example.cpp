// Walks a folder tree and counts its files by extension, with the type and
// creator codes the file-type table gives each. Built and run by the test
// suite on Examples/walk-sample.
#include <VoFoundation.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

struct Group {
  int files = 0;
  unsigned long long bytes = 0;
  unsigned long type = 0;
  unsigned long creator = 0;
};

// A walker that sorts what it meets into groups by lower-case extension.
class ExtensionWalk : public VoIterateDir {
 public:
  std::map<std::string, Group> groups;
  int folders = 0;

  int ProcessFile(const VoFileInfo& info) override {
    if (!info.IsFile()) {
      ++folders;
      return 0;
    }
    VoString ext = info.GetExtension();
    std::string key = ext.length() > 0 ? ext.c_str() : "(none)";
    for (char& c : key) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    Group& g = groups[key];
    ++g.files;
    g.bytes += info.GetSize();
    g.type = info.GetTypeID();
    g.creator = info.GetCreatorID();
    return 0;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  ExtensionWalk walk;
  const int status = walk.Start(VoFileSpec(argv[1]), 0);  // 0: the whole tree
  if (status != 0) {
    std::fprintf(stderr, "walk: cannot list %s (status %d)\n", argv[1], status);
    return 1;
  }
  std::printf("%d folders\n", walk.folders);
  for (const auto& [ext, g] : walk.groups) {
    VoString type, creator;
    type.FromSig(g.type);
    creator.FromSig(g.creator);
    std::printf("%-6s %d files %4llu bytes  type '%s' creator '%s'\n", ext.c_str(), g.files, g.bytes,
                type.c_str(), creator.c_str());
  }
  return 0;
}
