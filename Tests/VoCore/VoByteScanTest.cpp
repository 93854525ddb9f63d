// VoByteScanTest.cpp - the plain and the vector byte scans against each other and a byte loop, on random
// inputs.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "VoCore/VoByteScan.h"

namespace {

using u8 = unsigned char;

// Both versions of one primitive, and what a byte loop gives.
template <class Plain, class Vector, class Reference>
void Agree(const std::vector<u8>& in, std::size_t from, std::size_t n, Plain plain, Vector vector,
           Reference reference, const char* what) {
  const std::size_t want = reference(in.data() + from, n);
  EXPECT_EQ(plain(in.data() + from, n), want) << what << " (plain) at " << from << ", " << n << " bytes";
  EXPECT_EQ(vector(in.data() + from, n), want) << what << " (vector) at " << from << ", " << n << " bytes";
}

TEST(VoByteScan, PlainAndVectorVersionsAgreeOnRandomInputs) {
  std::mt19937 random(20261208);
  // Mostly one byte value, with the searched bytes sprinkled in at random
  // density, so that hits fall at every offset of a word and a vector.
  const u8 alphabet[] = {'a', 'a', 'a', 'a', 'a', 'a', '"', '\\', 0, '\t', ' ', 0x7F, 0x80, 0xFF, 0x20, 0x21};
  for (int round = 0; round < 3000; ++round) {
    const std::size_t size = random() % 200;
    const unsigned density = 1 + random() % 64;
    std::vector<u8> in(size + 1);
    for (u8& c : in) c = random() % density == 0 ? alphabet[random() % sizeof alphabet] : u8{'a'};
    const std::size_t from = size ? random() % size : 0;  // unaligned starts
    const std::size_t n = size - from;
    const u8 b = alphabet[random() % sizeof alphabet];
    const unsigned limit = 1 + random() % 128;
    namespace P = VoByteScan::Plain;
#ifdef __SSE2__
    namespace V = VoByteScan::Vector;
#else
    namespace V = VoByteScan::Plain;
#endif
    auto loop = [](auto stop) {
      return [stop](const u8* s, std::size_t count) {
        std::size_t i = 0;
        while (i < count && !stop(s[i])) ++i;
        return i;
      };
    };
    Agree(
        in, from, n, [&](const u8* s, std::size_t k) { return P::FindByte(s, k, b); },
        [&](const u8* s, std::size_t k) { return V::FindByte(s, k, b); }, loop([b](u8 c) { return c == b; }),
        "FindByte");
    Agree(
        in, from, n, [](const u8* s, std::size_t k) { return P::FindAny(s, k, '"', '\\', 0); },
        [](const u8* s, std::size_t k) { return V::FindAny(s, k, '"', '\\', 0); },
        loop([](u8 c) { return c == '"' || c == '\\' || c == 0; }), "FindAny");
    Agree(
        in, from, n, [&](const u8* s, std::size_t k) { return P::FindBelow(s, k, limit); },
        [&](const u8* s, std::size_t k) { return V::FindBelow(s, k, limit); },
        loop([limit](u8 c) { return c < limit; }), "FindBelow");
    Agree(in, from, n, P::FindNotPlainAscii, V::FindNotPlainAscii,
          loop([](u8 c) { return c == 0 || c > 127; }), "FindNotPlainAscii");
    // The copy: the count of the run, and the run's bytes in place.
    std::vector<u8> plainOut(n + 1, 0xEE), vectorOut(n + 1, 0xEE);
    const std::size_t run = loop([](u8 c) { return c == 0 || c > 127; })(in.data() + from, n);
    ASSERT_EQ(P::CopyPlainAscii(plainOut.data(), in.data() + from, n), run);
    ASSERT_EQ(V::CopyPlainAscii(vectorOut.data(), in.data() + from, n), run);
    EXPECT_EQ(std::memcmp(plainOut.data(), in.data() + from, run), 0);
    EXPECT_EQ(std::memcmp(vectorOut.data(), in.data() + from, run), 0);
  }
}

}  // namespace
