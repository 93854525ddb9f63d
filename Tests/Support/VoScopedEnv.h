// VoScopedEnv.h - an environment variable set (or removed) for one scope of a test.
#ifndef VOFOUNDATION_TESTS_SUPPORT_VOSCOPEDENV_H
#define VOFOUNDATION_TESTS_SUPPORT_VOSCOPEDENV_H

#include <cstdlib>
#include <string>

namespace vo_test {

/// Sets (or, for null, removes) an environment variable; the old state comes
/// back when the scope ends.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

}  // namespace vo_test

#endif  // VOFOUNDATION_TESTS_SUPPORT_VOSCOPEDENV_H
