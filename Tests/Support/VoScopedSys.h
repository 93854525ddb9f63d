// VoScopedSys.h - the library's system-call table, hooked for one scope of a test.
#ifndef VOFOUNDATION_TESTS_SUPPORT_VOSCOPEDSYS_H
#define VOFOUNDATION_TESTS_SUPPORT_VOSCOPEDSYS_H

#include "Linux/VoLinuxSys.h"

namespace vo_test {

/// Puts every entry of gVoSys back as it was when the scope ends, also when
/// an assertion leaves the test early.
class ScopedSys {
 public:
  ScopedSys() : saved_(gVoSys) {}
  ScopedSys(const ScopedSys&) = delete;
  ScopedSys& operator=(const ScopedSys&) = delete;
  ~ScopedSys() { gVoSys = saved_; }

 private:
  VoSysCalls saved_;
};

}  // namespace vo_test

#endif  // VOFOUNDATION_TESTS_SUPPORT_VOSCOPEDSYS_H
