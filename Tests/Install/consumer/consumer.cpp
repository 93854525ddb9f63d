#include <VoFoundation.h>

#include <cstdio>

static_assert(VO_VERSION_MAJOR >= 1 && VO_VERSION_MINOR >= 0 && VO_VERSION_PATCH >= 0);

int main() {
  try {
    VoError e(eVoIndexError, "VoIndexError", "/x/y.cpp", 3);
    if (e.GetErr() != 7) return 1;
  } catch (...) {
    return 2;
  }
  std::printf("consumer ok %s %d.%d.%d\n", VO_VERSION_STRING, VO_VERSION_MAJOR, VO_VERSION_MINOR,
              VO_VERSION_PATCH);
  return 0;
}
