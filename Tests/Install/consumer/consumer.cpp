#include <VoFoundation.h>

#include <cstdio>

int main() {
  try {
    VoError e(eVoIndexError, "VoIndexError", "/x/y.cpp", 3);
    if (e.GetErr() != 7) return 1;
  } catch (...) {
    return 2;
  }
  std::puts("consumer ok");
  return 0;
}
