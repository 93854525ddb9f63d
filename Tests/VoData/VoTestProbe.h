// VoTestProbe.h - a container element that counts live objects and fails on request.
#ifndef VOFOUNDATION_TESTS_VODATA_VOTESTPROBE_H
#define VOFOUNDATION_TESTS_VODATA_VOTESTPROBE_H

namespace vo_test {

struct ProbeFailure {};

// Element type that counts live objects and can be told to fail its n-th
// construction or assignment from now. It cannot be copy-constructed or
// moved, so a container is held to "created in blocks, changed by assignment".
struct Probe {
  static inline int live = 0;
  static inline int constructBudget = -1;  // -1: never fail; n: the (n+1)-th construction throws
  static inline int assignBudget = -1;     // likewise for assignments

  /// Back to counting nothing and never failing.
  static void Reset() {
    live = 0;
    constructBudget = -1;
    assignBudget = -1;
  }

  Probe() {
    if (constructBudget == 0) throw ProbeFailure();
    if (constructBudget > 0) --constructBudget;
    ++live;
  }
  Probe(const Probe&) = delete;
  Probe(Probe&&) = delete;
  Probe& operator=(Probe&&) = delete;
  Probe& operator=(const Probe& other) {
    if (assignBudget == 0) throw ProbeFailure();
    if (assignBudget > 0) --assignBudget;
    value = other.value;
    return *this;
  }
  ~Probe() { --live; }

  int value = 0;
};

}  // namespace vo_test

#endif  // VOFOUNDATION_TESTS_VODATA_VOTESTPROBE_H
