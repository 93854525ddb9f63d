// The library example shown in README.md; the test suite builds and runs it.
#include <VoFoundation.h>

#include <cstdio>

int main() {
  try {
    throw VoError(eVoIndexError, "VoIndexError", __FILE__, __LINE__);
  } catch (const VoError& e) {
    std::printf("%s in %s\n", e.what(), e.GetFileName());
  }
  return 0;
}
