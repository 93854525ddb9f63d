// VoLinuxDl.cpp - dlopen and dlsym for the libraries loaded at run time.
#include "Linux/VoLinuxDlPrivate.h"

#include <dlfcn.h>

#include <cstring>

bool VoLinuxDlLoad(const char* soname, std::initializer_list<VoLinuxDlFunction> table) {
  void* lib = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (!lib) return false;
  for (const VoLinuxDlFunction& row : table) {
    // A function pointer has the size and form of a data pointer on POSIX systems.
    void* address = dlsym(lib, row.name);
    std::memcpy(row.slot, &address, sizeof address);
    if (!address) return false;
  }
  return true;
}
