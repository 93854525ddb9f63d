// VoScopedLocale.h - the process's locale set for one scope of a test.
#ifndef VOFOUNDATION_TESTS_SUPPORT_VOSCOPEDLOCALE_H
#define VOFOUNDATION_TESTS_SUPPORT_VOSCOPEDLOCALE_H

#include <clocale>

namespace vo_test {

/// The locales that numbers in files are checked under: "C" and one whose
/// decimal point is a comma (as after setlocale(LC_ALL, "") on a German desktop).
inline constexpr const char* kNumberLocales[] = {"C", "de_DE.UTF-8"};

/// setlocale(LC_ALL, name) for one scope; false when the locale is not installed.
class ScopedLocale {
 public:
  explicit ScopedLocale(const char* name) : ok_(std::setlocale(LC_ALL, name) != nullptr) {}
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;
  ~ScopedLocale() { std::setlocale(LC_ALL, "C"); }
  explicit operator bool() const { return ok_; }

 private:
  bool ok_;
};

}  // namespace vo_test

#endif  // VOFOUNDATION_TESTS_SUPPORT_VOSCOPEDLOCALE_H
