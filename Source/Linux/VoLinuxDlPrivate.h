// VoLinuxDlPrivate.h - a library loaded at run time and the table of its functions.
#ifndef VOFOUNDATION_LINUX_VOLINUXDLPRIVATE_H
#define VOFOUNDATION_LINUX_VOLINUXDLPRIVATE_H

#include <initializer_list>
#include <type_traits>

/// One row of a function table: the symbol's name and the function pointer
/// that receives its address.
struct VoLinuxDlFunction {
  template <typename F>
  VoLinuxDlFunction(const char* symbol, F*& function) : name(symbol), slot(&function) {
    static_assert(std::is_function_v<F> && sizeof(F*) == sizeof(void*), "a plain function pointer");
  }
  const char* name;
  void* slot;
};

/// Loads the library \p soname (RTLD_NOW | RTLD_LOCAL; it is never closed:
/// the libraries loaded here keep process-wide state) and fills the table's
/// pointers in order. False when the library cannot be loaded or a symbol is
/// missing (its pointer is then null, the later ones are left as they were).
bool VoLinuxDlLoad(const char* soname, std::initializer_list<VoLinuxDlFunction> table);

#endif  // VOFOUNDATION_LINUX_VOLINUXDLPRIVATE_H
