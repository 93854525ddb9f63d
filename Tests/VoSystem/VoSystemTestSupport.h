// VoSystemTestSupport.h - what the VoSystem tests share: a private folder, helper
// programs they start, and looks at this process's children and threads.
#ifndef VOFOUNDATION_TESTS_VOSYSTEM_VOSYSTEMTESTSUPPORT_H
#define VOFOUNDATION_TESTS_VOSYSTEM_VOSYSTEMTESTSUPPORT_H

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "Support/VoScopedEnv.h"
#include "Support/VoZombieChildren.h"
#include "VoCore/VoDebug.h"
#include "VoCore/VoError.h"
#include "VoCore/VoString.h"
#include "VoIO/VoFileSpec.h"
#include "VoIO/VoStream.h"

namespace vo_test {

/// The monotonic clock in seconds.
double Seconds();

/// Polls \p condition for up to \p seconds; true once it held.
bool Eventually(const std::function<bool()>& condition, double seconds = 3.0);

/// A private folder, removed with everything in it afterwards.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string Path(const std::string& name) const { return path_ + "/" + name; }
  /// Writes \p bytes to the file \p name in the folder; its path.
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
VoFileSpec Spec(const std::string& path);
std::string Bytes(const VoString& s);
VoString Vo(const std::string& s);

/// Runs \p body and returns the VoError it throws (code 0 when none).
VoError Caught(const std::function<void()>& body);

/// The threads of this process (the entries of /proc/self/task). The VoSystem
/// tests start none, so the library's calls must leave exactly one.
int Threads();

/// Process ids of the programs named \p name whose environment holds \p entry.
std::vector<long> ProcessesWith(const std::string& name, const std::string& entry);

/// A long-running helper started by the test, with its standard output in a
/// pipe; stopped by its process id.
class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() { Stop(); }

  /// Starts \p argv with standard input and error on /dev/null; the
  /// descriptors \p keepOpen stay open in the child.
  bool Start(const std::vector<std::string>& argv, const std::vector<int>& keepOpen = {});
  /// Reads what the child wrote until \p done says so or \p seconds pass.
  bool ReadUntil(const std::function<bool(const std::string&)>& done, double seconds);
  const std::string& text() const { return text_; }
  pid_t pid() const { return pid_; }
  /// Ends the child (SIGTERM, after a second SIGKILL) and reaps it.
  void Stop();

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string text_;
};

/// A stream that keeps what the debug log writes.
class CaptureStream : public VoStreamImplemented {
 public:
  void Write(const void* buffer, unsigned long size, unsigned long* count) override {
    text.append(static_cast<const char*>(buffer), size);
    if (count) *count = size;
  }
  std::string text;
};

/// Routes the debug log into a CaptureStream at \p level for one scope.
class DebugCapture {
 public:
  explicit DebugCapture(int level) : oldStream_(VoGetDebugOutputImpl()), oldLevel_(VoGetDebugLevelImpl()) {
    VoSetDebugOutputImpl(&stream_);
    VoSetDebugLevelImpl(level);
  }
  DebugCapture(const DebugCapture&) = delete;
  DebugCapture& operator=(const DebugCapture&) = delete;
  ~DebugCapture() {
    VoSetDebugOutputImpl(oldStream_);
    VoSetDebugLevelImpl(oldLevel_);
  }
  const std::string& text() const { return stream_.text; }

 private:
  CaptureStream stream_;
  VoStream* oldStream_;
  int oldLevel_;
};

}  // namespace vo_test

#endif  // VOFOUNDATION_TESTS_VOSYSTEM_VOSYSTEMTESTSUPPORT_H
