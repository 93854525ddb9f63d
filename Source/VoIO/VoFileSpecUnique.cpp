// VoFileSpecUnique.cpp - VoFileSpec::SetUniqueName: the first numbered name under which no file exists.
#include <cstdio>

#include "VoIO/VoFileSpec.h"
#include "VoSystem/VoSystem.h"

void VoFileSpec::SetUniqueName() {
  // Path, base name and extension come from the starting name only, so the
  // numbers replace each other instead of piling up ("a-001.txt", "a-002.txt").
  const VoString path = GetPath();
  const VoString base = GetBaseName();
  const VoString extension = GetExtension();
  // The numbered name is path + base + "-" + counter + "." + extension, the
  // counter printed with at least three digits ("%s%s-%03d.%s"). It is joined
  // piece by piece so that every byte of the name is kept as it is.
  for (long n = 0; VoSystem::FileExists(VoFileSpec(GetFullName()));) {
    ++n;
    char number[32];
    std::snprintf(number, sizeof number, "-%03ld.", n);
    VoString name = path;
    name += base;
    name += number;
    name += extension;
    SetFullName(name);
  }
}
