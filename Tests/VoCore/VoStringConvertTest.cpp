// VoStringConvertTest.cpp - character sets, quoting, hexadecimal text and four-character codes of VoString.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "VoCore/VoError.h"
#include "VoCore/VoString.h"

namespace {

// ------------------------------------------------------------------ helpers

/// The bytes of a string up to its length.
std::string Bytes(const VoString& s) {
  const long n = s.length();
  return n > 0 ? std::string(s.c_str(), static_cast<std::size_t>(n)) : std::string();
}

/// A text-mode string holding exactly \p bytes (zeros included, length explicit).
VoString Text(const std::string& bytes) {
  return VoString(bytes.data(), static_cast<long>(bytes.size()), false);
}

/// A fixed-length string holding exactly \p bytes.
VoString Fixed(const std::string& bytes) {
  return VoString(bytes.data(), static_cast<long>(bytes.size()), true);
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

/// Runs glibc iconv over the whole input; false on any conversion failure.
bool Iconv(const char* from, const char* to, const std::string& in, std::string* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    ADD_FAILURE() << "iconv_open " << from << " -> " << to << " failed";
    return false;
  }
  std::string buffer(in.size() * 4 + 16, '\0');
  char* inp = const_cast<char*>(in.data());
  std::size_t inLeft = in.size();
  char* outp = buffer.data();
  std::size_t outLeft = buffer.size();
  const std::size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
  iconv_close(cd);
  if (r == static_cast<std::size_t>(-1) || inLeft != 0) return false;
  out->assign(buffer.data(), buffer.size() - outLeft);
  return true;
}

template <class F>
void ExpectVoError(F&& f, unsigned long code) {
  try {
    f();
    ADD_FAILURE() << "no VoError thrown, expected code " << code;
  } catch (const VoError& e) {
    EXPECT_EQ(e.GetErr(), code);
    EXPECT_STREQ(e.GetErrName(), VoErrorName(code));
  }
}

/// Encodes a code point as standard UTF-8 (up to 4 bytes).
std::string Utf8Of(uint32_t c) {
  std::string s;
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (c >> 18));
    s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
  return s;
}

/// Random valid UTF-8 without NUL: a mix of ASCII runs, Latin-1, other BMP
/// characters (no surrogates) and characters beyond the BMP.
std::string RandomUtf8(std::mt19937& rng, std::size_t chars) {
  std::string s;
  std::uniform_int_distribution<int> kind(0, 9);
  for (std::size_t i = 0; i < chars; ++i) {
    uint32_t c;
    switch (kind(rng)) {
      case 0:
        c = std::uniform_int_distribution<uint32_t>(0x80, 0xFF)(rng);
        break;
      case 1:
        c = std::uniform_int_distribution<uint32_t>(0x100, 0x7FF)(rng);
        break;
      case 2:
        c = std::uniform_int_distribution<uint32_t>(0x800, 0xFFFF)(rng);
        if (c >= 0xD800 && c <= 0xDFFF) c -= 0x1000;
        break;
      case 3:
        c = std::uniform_int_distribution<uint32_t>(0x10000, 0x10FFFF)(rng);
        break;
      default:
        c = std::uniform_int_distribution<uint32_t>(1, 0x7F)(rng);
        break;
    }
    s += Utf8Of(c);
  }
  return s;
}

/// Random bytes 1..255 where about \p highPercent of them are 0x80 and up.
std::string RandomLatin1(std::mt19937& rng, std::size_t n, int highPercent) {
  std::string s(n, 'a');
  std::uniform_int_distribution<int> pct(0, 99);
  std::uniform_int_distribution<int> low(1, 0x7F);
  std::uniform_int_distribution<int> high(0x80, 0xFF);
  for (auto& c : s) c = static_cast<char>(pct(rng) < highPercent ? high(rng) : low(rng));
  return s;
}

// A plain reading of the lenient UTF-8 rules, one byte at a time, used as the
// model for the optimised decoders on arbitrary input.
std::vector<uint32_t> ModelDecode(const std::string& in) {
  std::vector<uint32_t> values;
  std::size_t i = 0;
  while (i < in.size()) {
    const unsigned char lead = static_cast<unsigned char>(in[i]);
    if (lead == 0) break;
    int len;
    uint32_t v;
    if (lead < 0x80) {
      len = 1;
      v = lead;
    } else if (lead < 0xC0) {
      len = 5;
      v = lead & 0x3F;
    } else if (lead < 0xE0) {
      len = 2;
      v = lead & 0x1F;
    } else if (lead < 0xF0) {
      len = 3;
      v = lead & 0x0F;
    } else if (lead < 0xF8) {
      len = 4;
      v = lead & 0x07;
    } else if (lead < 0xFC) {
      len = 5;
      v = lead & 0x03;
    } else {
      len = 6;
      v = lead & 0x01;
    }
    ++i;
    for (int k = 1; k < len && i < in.size(); ++k) {
      const unsigned char c = static_cast<unsigned char>(in[i]);
      if ((c & 0xC0) != 0x80) break;
      v = (v << 6) | (c & 0x3F);
      ++i;
    }
    values.push_back(v);
  }
  return values;
}

std::string ModelToIso(const std::string& in) {
  std::string out;
  for (uint32_t v : ModelDecode(in)) out += static_cast<char>(v <= 0xFF ? v : '?');
  return out;
}

std::string ModelToUtf16(const std::string& in) {
  std::string out;
  auto unit = [&](uint32_t u) {
    out += static_cast<char>(u >> 8);
    out += static_cast<char>(u & 0xFF);
  };
  for (uint32_t v : ModelDecode(in)) {
    if (v <= 0xFFFF) {
      unit(v);
    } else if (v <= 0x10FFFF) {
      unit(0xD800 + ((v - 0x10000) >> 10));
      unit(0xDC00 + ((v - 0x10000) & 0x3FF));
    } else {
      unit(0xFFFD);
    }
  }
  return out;
}

// The 49 Mac OS Roman bytes that do not map to the ISO byte of the same
// character, as the library's table fixes them.
struct ByteMapping {
  unsigned char mac;
  unsigned char iso;
};
const ByteMapping kSpecialMac[49] = {
    {0xA0, 0xBE}, {0xA5, 0x82}, {0xAA, 0x8E}, {0xAD, 0xAD}, {0xB0, 0x8D}, {0xB2, 0xB2}, {0xB3, 0xB3},
    {0xB6, 0xA6}, {0xB7, 0x87}, {0xB8, 0x9F}, {0xB9, 0xB9}, {0xBA, 0xBC}, {0xBD, 0xBD}, {0xC3, 0x92},
    {0xC4, 0x80}, {0xC5, 0x81}, {0xC6, 0x8C}, {0xC9, 0x83}, {0xCD, 0x90}, {0xCE, 0x91}, {0xCF, 0x93},
    {0xD0, 0xD0}, {0xD1, 0x84}, {0xD2, 0x96}, {0xD3, 0x94}, {0xD4, 0x95}, {0xD5, 0xD5}, {0xD7, 0xD7},
    {0xD9, 0x99}, {0xDA, 0x98}, {0xDB, 0xA4}, {0xDC, 0x86}, {0xDD, 0xDD}, {0xDE, 0xDE}, {0xDF, 0x97},
    {0xE0, 0x88}, {0xE2, 0x89}, {0xE3, 0x8B}, {0xE4, 0x8A}, {0xF0, 0xF0}, {0xF5, 0x9B}, {0xF6, 0x9A},
    {0xF7, 0x85}, {0xF9, 0x9D}, {0xFA, 0x9C}, {0xFB, 0x9E}, {0xFD, 0xFD}, {0xFE, 0xFE}, {0xFF, 0x8F},
};

bool IsSpecialMac(unsigned char b) {
  for (const auto& m : kSpecialMac)
    if (m.mac == b) return true;
  return false;
}

unsigned char MacToIsoByte(unsigned char b) {
  return static_cast<unsigned char>(VoString(static_cast<char>(b)).MacRomanToISO8859_1()[0L]);
}

unsigned char IsoToMacByte(unsigned char b) {
  return static_cast<unsigned char>(VoString(static_cast<char>(b)).ISO8859_1ToMacRoman()[0L]);
}

std::string AllNonZeroBytes() {
  std::string s;
  for (int b = 1; b < 256; ++b) s += static_cast<char>(b);
  return s;
}

// ------------------------------------------------------------------ Mac OS Roman <-> ISO 8859-1

TEST(VoStringConvertMacRoman, SpecialEntriesFollowTheTable) {
  for (const auto& m : kSpecialMac) {
    SCOPED_TRACE(Hex(std::string(1, static_cast<char>(m.mac))));
    EXPECT_EQ(MacToIsoByte(m.mac), m.iso);
    EXPECT_EQ(IsoToMacByte(m.iso), m.mac);
  }
}

TEST(VoStringConvertMacRoman, RoundTripRestoresAllByteValues) {
  // Every byte value, zero included, in a fixed-length string (a zero at the
  // front would end the text, so it goes last).
  std::string all = AllNonZeroBytes() + std::string(1, '\0');
  const VoString mac = Fixed(all);
  const VoString iso = mac.MacRomanToISO8859_1();
  EXPECT_EQ(Bytes(iso.ISO8859_1ToMacRoman()), all);
  EXPECT_EQ(Bytes(mac.ISO8859_1ToMacRoman().MacRomanToISO8859_1()), all);
  // The 128 high bytes map onto 128 different high bytes; ASCII stays.
  std::vector<bool> seen(256, false);
  for (int b = 1; b < 256; ++b) {
    const unsigned char to = static_cast<unsigned char>(Bytes(iso)[static_cast<std::size_t>(b - 1)]);
    if (b < 0x80) {
      EXPECT_EQ(to, b);
    } else {
      EXPECT_GE(to, 0x80);
      EXPECT_FALSE(seen[to]) << "ISO byte reached twice: " << int(to);
      seen[to] = true;
    }
  }
}

TEST(VoStringConvertMacRoman, SharedCharactersMatchGlibcMacintosh) {
  int shared = 0;
  for (int b = 0x80; b < 0x100; ++b) {
    const std::string mac(1, static_cast<char>(b));
    std::string iso;
    const bool ok = Iconv("MACINTOSH", "ISO-8859-1", mac, &iso);
    if (!IsSpecialMac(static_cast<unsigned char>(b))) {
      ++shared;
      ASSERT_TRUE(ok) << "glibc has no ISO byte for Mac " << std::hex << b;
      EXPECT_EQ(static_cast<unsigned char>(iso[0]), MacToIsoByte(static_cast<unsigned char>(b)))
          << std::hex << b;
    } else if (b == 0xCD) {
      // Capital O with tilde exists in both sets but keeps the table's own slot.
      EXPECT_TRUE(ok);
      EXPECT_EQ(static_cast<unsigned char>(iso[0]), 0xD5);
      EXPECT_EQ(MacToIsoByte(0xCD), 0x90);
    } else {
      EXPECT_FALSE(ok) << "Mac " << std::hex << b << " should have no ISO 8859-1 character";
    }
  }
  EXPECT_EQ(shared, 79);
}

TEST(VoStringConvertMacRoman, KnownBytes) {
  struct Case {
    const char* in;
    const char* macToIso;
    const char* isoToMac;
  };
  const Case cases[] = {
      {"\x8E", "\xE9", "\xAA"},
      {"\xCD", "\x90", "\xEA"},  // ISO 0xCD is capital I with acute
      {"\xD5", "\xD5", "\xD5"},
      {"Caf\x8E!", "Caf\xE9!", "Caf\xAA!"},
      {"plain ascii ~", "plain ascii ~", "plain ascii ~"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(Bytes(VoString(c.in).MacRomanToISO8859_1()), c.macToIso);
    EXPECT_EQ(Bytes(VoString(c.in).ISO8859_1ToMacRoman()), c.isoToMac);
  }
  EXPECT_EQ(IsoToMacByte(0x90), 0xCD);
}

TEST(VoStringConvertMacRoman, StopsAtFirstZeroAndKeepsMode) {
  // Fixed-length: converted up to the zero, the rest copied, length kept.
  const std::string raw("\x8E\x8E\0\x8E\x8E", 5);
  const VoString fixed = Fixed(raw);
  const VoString converted = fixed.MacRomanToISO8859_1();
  EXPECT_EQ(Bytes(converted), std::string("\xE9\xE9\0\x8E\x8E", 5));
  EXPECT_EQ(Bytes(fixed), raw) << "the source is left alone";
  // Text mode: the result's text ends at the zero.
  const VoString text = Text(raw).MacRomanToISO8859_1();
  EXPECT_EQ(text.length(), 2);
  EXPECT_STREQ(text.c_str(), "\xE9\xE9");
  EXPECT_EQ(Bytes(VoString().MacRomanToISO8859_1()), "");
  // The same past the 64-byte rounds of plain ASCII.
  const std::string longRaw = std::string(100, 'a') + std::string("\0\x8E", 2) + std::string(98, 'b');
  EXPECT_EQ(Bytes(Fixed(longRaw).MacRomanToISO8859_1()), longRaw);
  EXPECT_EQ(Text(longRaw).MacRomanToISO8859_1().length(), 100);
}

TEST(VoStringConvertMacRoman, LongMixedTextMatchesPerByteConversion) {
  std::mt19937 rng(7);
  for (std::size_t n : {1u, 15u, 16u, 17u, 31u, 33u, 64u, 255u, 1000u, 70000u}) {
    for (int pct : {0, 3, 30, 100}) {
      const std::string in = RandomLatin1(rng, n, pct);
      std::string expected = in;
      for (auto& c : expected) c = static_cast<char>(MacToIsoByte(static_cast<unsigned char>(c)));
      ASSERT_EQ(Bytes(VoString(in.c_str()).MacRomanToISO8859_1()), expected) << n << " " << pct;
      ASSERT_EQ(Bytes(VoString(expected.c_str()).ISO8859_1ToMacRoman()), in) << n << " " << pct;
    }
  }
}

// ------------------------------------------------------------------ ISO 8859-1 <-> UTF-8

TEST(VoStringConvertUtf8, IsoToUtf8Examples) {
  EXPECT_EQ(Bytes(VoString("\xE9").ISO8859_1ToUTF8()), "\xC3\xA9");
  EXPECT_EQ(Bytes(VoString("a\x80\xFF").ISO8859_1ToUTF8()), "a\xC2\x80\xC3\xBF");
  EXPECT_EQ(Bytes(Fixed(std::string("\xE9\0\xE9", 3)).ISO8859_1ToUTF8()), "\xC3\xA9");
  EXPECT_EQ(VoString().ISO8859_1ToUTF8().length(), 0);
}

TEST(VoStringConvertUtf8, IsoToUtf8MatchesGlibcIconv) {
  std::mt19937 rng(11);
  for (int round = 0; round < 400; ++round) {
    const std::size_t n = std::uniform_int_distribution<std::size_t>(1, round < 350 ? 100 : 5000)(rng);
    const int pct = std::uniform_int_distribution<int>(0, 100)(rng);
    const std::string in = RandomLatin1(rng, n, pct);
    std::string expected;
    ASSERT_TRUE(Iconv("ISO-8859-1", "UTF-8", in, &expected));
    const VoString out = VoString(in.c_str()).ISO8859_1ToUTF8();
    ASSERT_EQ(Hex(Bytes(out)), Hex(expected)) << "round " << round;
    ASSERT_EQ(std::strlen(out.c_str()), expected.size()) << "zero byte behind the text";
  }
}

TEST(VoStringConvertUtf8, Utf8ToIsoLenientDecoding) {
  struct Case {
    std::string in;
    std::string out;
  };
  using namespace std::string_literals;
  const Case cases[] = {
      {"\xC3\xA9", "\xE9"},
      {"\xE2\x82\xAC", "?"},  // above 0xFF
      {"\xC4\x80", "?"},      // 0x100
      {"\xC3\xBF", "\xFF"},
      {"\xC1\xBF", "\x7F"},  // overlong forms are accepted
      {"\xE0\x83\xA9", "\xE9"},
      {"\xC3", "\x03"},  // truncated at the end
      {"\xC3"
       "A",
       "\x03"
       "A"},  // truncated by a non-continuation byte
      {"\xE2\x82"
       "A",
       "\x82"
       "A"},  // 2 << 6 | 2 = 0x82
      {"\x80"
       "A",
       "\0A"s},                               // continuation byte in lead position
      {"\xBF\xBF", "?"},                      // ... takes following continuations
      {"\x80\x80\x80\x80\x80\x80", "\0\0"s},  // ... at most four of them
      {"\xF8\x80\x80\x80\x80", "\0"s},        // 5-byte lead
      {"\xFC\x80\x80\x80\x80\x81", "\x01"},   // 6-byte lead
      {"\xFF\xBF\xBF\xBF\xBF\xBF", "?"},
      {"\xED\xA0\x80", "?"},  // surrogates are not checked
      {"ab\xC3\xA9"
       "cd",
       "ab\xE9"
       "cd"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Hex(c.in));
    const VoString out = Text(c.in).UTF8ToISO8859_1();
    EXPECT_EQ(Hex(Bytes(out)), Hex(c.out));
    EXPECT_EQ(ModelToIso(c.in), c.out) << "the model agrees with the table";
  }
}

TEST(VoStringConvertUtf8, Utf8ToIsoStopsAtZero) {
  using namespace std::string_literals;
  EXPECT_EQ(Bytes(Fixed("A\0B"s).UTF8ToISO8859_1()), "A");
  EXPECT_EQ(Bytes(Fixed("\xC3\0\xA9"s).UTF8ToISO8859_1()), "\x03");  // zero ends a sequence
  EXPECT_EQ(Fixed("\0abc"s).UTF8ToISO8859_1().length(), 0);
}

TEST(VoStringConvertUtf8, ArbitraryBytesDecodeAsTheModelSays) {
  std::mt19937 rng(99);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> pick(0, 7);
  // Bytes biased towards UTF-8 lead and continuation bytes, with ASCII runs
  // long enough to exercise the 16-byte path.
  for (int round = 0; round < 3000; ++round) {
    std::string in(std::uniform_int_distribution<std::size_t>(0, 80)(rng), 'x');
    for (auto& c : in) {
      const int k = pick(rng);
      c = static_cast<char>(k < 3 ? 0x80 + byte(rng) % 64 : k < 5 ? byte(rng) : 'a' + k);
    }
    if (round % 3 == 0) in = std::string(static_cast<std::size_t>(byte(rng) % 40), 'q') + in;
    ASSERT_EQ(Hex(Bytes(Fixed(in).UTF8ToISO8859_1())), Hex(ModelToIso(in))) << Hex(in);
    ASSERT_EQ(Hex(Bytes(Fixed(in).UTF8ToUTF16())), Hex(ModelToUtf16(in))) << Hex(in);
  }
}

TEST(VoStringConvertUtf8, TwoByteTextWithDefectsDecodesAsTheModelSays) {
  // Mostly ASCII and 2-byte sequences (every lead 0xC0..0xDF, so values above
  // 0xFF too), at every alignment, with a rare defect: a stray continuation
  // byte, a lead without its continuation, a 3-byte character or a zero byte.
  std::mt19937 rng(41);
  std::uniform_int_distribution<int> pick(0, 999);
  for (int round = 0; round < 3000; ++round) {
    std::string in;
    const std::size_t chars = std::uniform_int_distribution<std::size_t>(1, 120)(rng);
    const int defectPerMille = round % 2 ? 10 : 0;
    for (std::size_t k = 0; k < chars; ++k) {
      const int r = pick(rng);
      if (r < defectPerMille) {
        switch (r % 4) {
          case 0:
            in += static_cast<char>(0x80 + pick(rng) % 64);
            break;
          case 1:
            in += static_cast<char>(0xC0 + pick(rng) % 32);
            break;
          case 2:
            in += "\xE2\x82\xAC";
            break;
          default:
            in += '\0';
            break;
        }
      } else if (r < 400) {
        in += static_cast<char>(0xC0 + pick(rng) % 32);
        in += static_cast<char>(0x80 + pick(rng) % 64);
      } else {
        in += static_cast<char>(1 + pick(rng) % 127);
      }
    }
    ASSERT_EQ(Hex(Bytes(Fixed(in).UTF8ToISO8859_1())), Hex(ModelToIso(in))) << Hex(in);
    ASSERT_EQ(Hex(Bytes(Fixed(in).UTF8ToUTF16())), Hex(ModelToUtf16(in))) << Hex(in);
  }
}

TEST(VoStringConvertUtf8, MacRomanViaIso) {
  EXPECT_EQ(Bytes(VoString("Caf\x8E").MacRomanToUTF8()), "Caf\xC3\xA9");
  EXPECT_EQ(Bytes(VoString("Caf\xC3\xA9").UTF8ToMacRoman()), "Caf\x8E");
  // A Mac character that ISO lacks survives the trip through UTF-8 as the
  // table's stand-in byte.
  EXPECT_EQ(Bytes(VoString("\xA5").MacRomanToUTF8().UTF8ToMacRoman()), "\xA5");
  EXPECT_EQ(Bytes(VoString("\xE2\x82\xAC").UTF8ToMacRoman()), "?");
}

// ------------------------------------------------------------------ UTF-8 <-> UTF-16

TEST(VoStringConvertUtf16, BasicUnits) {
  const VoString u = VoString("AB").UTF8ToUTF16();
  EXPECT_EQ(Bytes(u), std::string("\0A\0B", 4));
  EXPECT_EQ(u.length(), 4);
  EXPECT_EQ(Bytes(u.UTF16ToUTF8()), "AB");
  EXPECT_EQ(VoString().UTF8ToUTF16().length(), 0);
  EXPECT_EQ(VoString().UTF16ToUTF8().length(), 0);
}

TEST(VoStringConvertUtf16, ResultIsFixedLength) {
  // A fixed-length result keeps its length when written to: a zero unit
  // byte does not shorten it.
  VoString u = VoString("AB").UTF8ToUTF16();
  u[1L] = 'C';
  EXPECT_EQ(u.length(), 4);
  EXPECT_EQ(Bytes(u), std::string("\0C\0B", 4));
}

TEST(VoStringConvertUtf16, Utf8ToUtf16Cases) {
  struct Case {
    std::string utf8;
    std::string utf16;
  };
  using namespace std::string_literals;
  const Case cases[] = {
      {"\xC3\xA9", "\x00\xE9"s},
      {"\xE2\x82\xAC", "\x20\xAC"s},
      {"\xEF\xBF\xBF", "\xFF\xFF"s},
      {"\xF0\x9F\x98\x80", "\xD8\x3D\xDE\x00"s},          // U+1F600 as a surrogate pair
      {"\xF0\x90\x80\x80", "\xD8\x00\xDC\x00"s},          // U+10000
      {"\xF4\x8F\xBF\xBF", "\xDB\xFF\xDF\xFF"s},          // U+10FFFF
      {"\xF4\x90\x80\x80", "\xFF\xFD"s},                  // 0x110000: beyond Unicode
      {"\xF8\x88\x80\x80\x80", "\xFF\xFD"s},              // 0x200000 from a 5-byte lead
      {"\xFD\xBF\xBF\xBF\xBF\xBF", "\xFF\xFD"s},          // 0x7FFFFFFF
      {"\xF0\x9F\x98", "\x07\xD8"s},                      // truncated: 0x1F618 >> 6
      {"\xED\xA0\x80\xED\xB0\x80", "\xD8\x00\xDC\x00"s},  // encoded surrogates pass as units
      {"\x80", "\x00\x00"s},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Hex(c.utf8));
    EXPECT_EQ(Hex(Bytes(Text(c.utf8).UTF8ToUTF16())), Hex(c.utf16));
  }
}

TEST(VoStringConvertUtf16, Utf16ToUtf8Cases) {
  struct Case {
    std::string utf16;
    std::string utf8;
  };
  using namespace std::string_literals;
  const Case cases[] = {
      {"\xD8\x3D\xDE\x00"s, "\xF0\x9F\x98\x80"},  // a pair joins
      {"\xDB\xFF\xDF\xFF"s, "\xF4\x8F\xBF\xBF"},
      {"\xD8\x00\x00\x41"s,
       "\xED\xA0\x80"
       "A"},                                              // lone high surrogate
      {"\xDC\x00\xD8\x00"s, "\xED\xB0\x80\xED\xA0\x80"},  // low then high: no pair
      {"\xD8\x00"s, "\xED\xA0\x80"},                      // high at the end
      {"\xD8\x00\xD8\x3D\xDE\x00"s, "\xED\xA0\x80\xF0\x9F\x98\x80"},
      {"\x00\x41\x00"s, "A"},         // odd byte ignored
      {"\x00\x00\x00\x41"s, "\0A"s},  // zero unit -> zero byte
      {"\x00\x7F\x00\x80\x07\xFF\x08\x00"s, "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80"},
      {"\xFF\xFF"s, "\xEF\xBF\xBF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Hex(c.utf16));
    const VoString out = Fixed(c.utf16).UTF16ToUTF8();
    EXPECT_EQ(Hex(Bytes(out)), Hex(c.utf8));
  }
}

TEST(VoStringConvertUtf16, MatchesGlibcIconvOnValidText) {
  std::mt19937 rng(3);
  for (int round = 0; round < 400; ++round) {
    const std::size_t chars = std::uniform_int_distribution<std::size_t>(1, round < 350 ? 60 : 3000)(rng);
    std::string in = RandomUtf8(rng, chars);
    if (round % 4 == 0) in = std::string(40, 'x') + in + std::string(17, 'y');
    std::string expected;
    ASSERT_TRUE(Iconv("UTF-8", "UTF-16BE", in, &expected));
    const VoString u16 = VoString(in.c_str()).UTF8ToUTF16();
    ASSERT_EQ(Hex(Bytes(u16)), Hex(expected)) << Hex(in);
    std::string back;
    ASSERT_TRUE(Iconv("UTF-16BE", "UTF-8", expected, &back));
    ASSERT_EQ(Hex(Bytes(u16.UTF16ToUTF8())), Hex(back));
    ASSERT_EQ(Bytes(u16.UTF16ToUTF8()), in) << "round trip";
  }
}

TEST(VoStringConvertUtf16, AsciiRunsOfEveryLengthRoundTrip) {
  // Lengths around the 8- and 16-unit steps of the fast paths, with a
  // non-ASCII character at every position.
  for (std::size_t n = 0; n < 40; ++n) {
    for (std::size_t at = 0; at <= n; ++at) {
      std::string in(n, 'k');
      in.insert(at, "\xE2\x82\xAC");
      std::string expected;
      ASSERT_TRUE(Iconv("UTF-8", "UTF-16BE", in, &expected));
      const VoString u16 = VoString(in.c_str()).UTF8ToUTF16();
      ASSERT_EQ(Bytes(u16), expected) << n << " " << at;
      ASSERT_EQ(Bytes(u16.UTF16ToUTF8()), in) << n << " " << at;
    }
  }
}

// ------------------------------------------------------------------ quoting

TEST(VoStringConvertQuote, QuoteString) {
  struct Case {
    std::string in;
    std::string quoted;
  };
  using namespace std::string_literals;
  const Case cases[] = {
      {"", "\"\""},
      {"abc", "\"abc\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"a\\b", "\"a\\\\b\""},
      {"end\\", "\"end\\\\\""},
      {"tab\tline\n\xE9", "\"tab\tline\n\xE9\""},  // nothing else is escaped
      {"ab\0cd"s, "\"ab\""},                       // the text ends at a zero byte
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Hex(c.in));
    const VoString q = Fixed(c.in).QuoteString();
    EXPECT_EQ(Bytes(q), c.quoted);
  }
  EXPECT_EQ(Bytes(VoString().QuoteString()), "\"\"");
}

TEST(VoStringConvertQuote, UnQuoteString) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"\"\"", ""},           {"\"", ""},  // one quote is both ends
      {"\"abc\"", "abc"},     {"\"say \\\"hi\\\"\"", "say \"hi\""},
      {"\"a\\\\b\"", "a\\b"}, {"\"a\\nb\"", "a\\nb"},  // no line-feed escape
      {"\"end\\\"", "end\\"},                          // backslash before the closing quote stays
      {"\"a\"b\"", "a\"b"},                            // an unescaped quote inside stays
      {"\"\\\\\\\"", "\\\\"},                          // pair, then a lone backslash at the end
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(Bytes(VoString(c.in.c_str()).UnQuoteString()), c.out);
  }
}

TEST(VoStringConvertQuote, UnQuoteRejectsUnquotedText) {
  for (const char* bad : {"", "abc", "\"abc", "abc\"", "'abc'"}) {
    SCOPED_TRACE(bad);
    ExpectVoError([&] { VoString(bad).UnQuoteString(); }, eVoFormatErr);
  }
  ExpectVoError([] { VoString().UnQuoteString(); }, eVoFormatErr);
}

TEST(VoStringConvertQuote, RoundTripGivesTextBack) {
  std::mt19937 rng(17);
  const char alphabet[] = "\"\\ab \t\n\xE9";
  for (int round = 0; round < 2000; ++round) {
    std::string in(std::uniform_int_distribution<std::size_t>(0, 30)(rng), ' ');
    for (auto& c : in) c = alphabet[std::uniform_int_distribution<std::size_t>(0, sizeof alphabet - 2)(rng)];
    const VoString quoted = VoString(in.c_str()).QuoteString();
    ASSERT_EQ(Bytes(quoted.UnQuoteString()), in) << in;
  }
}

TEST(VoStringConvertQuote, FixedLengthZerosInsideQuotesAreKept) {
  using namespace std::string_literals;
  EXPECT_EQ(Bytes(Fixed("\"a\0b\""s).UnQuoteString()), "a\0b"s);
}

// ------------------------------------------------------------------ hexadecimal text

TEST(VoStringConvertHex, Bin2Str) {
  const unsigned char bytes[] = {0x01, 0xAB, 0x00, 0xFF, 0x9A};
  VoString s("old");
  s.Bin2Str(bytes, 2);
  EXPECT_EQ(Bytes(s), "01AB");
  s.Bin2Str(bytes, 5);
  EXPECT_EQ(Bytes(s), "01AB00FF9A");
  s.Bin2Str(nullptr, 5);
  EXPECT_EQ(s.length(), 0);
  s = "x";
  s.Bin2Str(bytes, 0);
  EXPECT_EQ(s.length(), 0);
  // From the string's own characters.
  s = "AZ";
  s.Bin2Str(s.c_str(), s.length());
  EXPECT_EQ(Bytes(s), "415A");
  // From its own characters when its buffer is large enough to be used again.
  s = VoString(8L, false);
  s += "AZ";
  s.Bin2Str(s.c_str(), 2);
  EXPECT_EQ(Bytes(s), "415A");
}

TEST(VoStringConvertHex, Bin2StrLeavesSharersAlone) {
  const unsigned char first[] = {0x12, 0x34, 0x56};
  const unsigned char second[] = {0xAB, 0xCD, 0xEF};
  VoString a;
  a.Bin2Str(first, 3);
  const VoString shared = a;
  a.Bin2Str(second, 3);
  EXPECT_EQ(Bytes(a), "ABCDEF");
  EXPECT_EQ(Bytes(shared), "123456");
  // Encoding again into a private string gives the same text as a fresh one,
  // also when the new text is shorter.
  a.Bin2Str(first, 2);
  EXPECT_EQ(Bytes(a), "1234");
  EXPECT_EQ(a.length(), 4);
  a += "x";
  EXPECT_EQ(Bytes(a), "1234x");
}

TEST(VoStringConvertHex, BinStr2StrUsesWholeFixedLength) {
  using namespace std::string_literals;
  EXPECT_EQ(Bytes(Fixed("\x01\0\xFE"s).BinStr2Str()), "0100FE");
  EXPECT_EQ(Bytes(VoString("Hi").BinStr2Str()), "4869");
  EXPECT_EQ(VoString().BinStr2Str().length(), 0);
}

TEST(VoStringConvertHex, BinSize) {
  EXPECT_EQ(VoString("01AB").BinSize(), 2);
  EXPECT_EQ(VoString().BinSize(), 0);
  ExpectVoError([] { VoString("01A").BinSize(); }, eVoFormatErr);
}

TEST(VoStringConvertHex, Str2Bin) {
  unsigned char buffer[8] = {};
  long size = -1;
  VoString("01ab").Str2Bin(buffer, &size);
  EXPECT_EQ(size, 2);
  EXPECT_EQ(buffer[0], 0x01);
  EXPECT_EQ(buffer[1], 0xAB);

  VoString("fF0a9B").Str2Bin(buffer);
  EXPECT_EQ(buffer[0], 0xFF);
  EXPECT_EQ(buffer[1], 0x0A);
  EXPECT_EQ(buffer[2], 0x9B);

  size = -1;
  VoString("001122").Str2Bin(nullptr, &size);
  EXPECT_EQ(size, 3);
  VoString("zz").Str2Bin(nullptr, nullptr);  // only the size would be asked for
}

TEST(VoStringConvertHex, Str2BinErrors) {
  struct Case {
    const char* text;
    std::string decoded;  // what the buffer holds when the error is raised
  };
  const Case cases[] = {
      {"01A", "\x01"},
      {"0G", ""},
      {"1234 6", "\x12\x34"},
      {"12-4", "\x12"},
      {"AB\xC1"
       "1",
       "\xAB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    unsigned char buffer[8];
    std::memset(buffer, 0xEE, sizeof buffer);
    ExpectVoError([&] { VoString(c.text).Str2Bin(buffer); }, eVoFormatErr);
    EXPECT_EQ(Hex(std::string(reinterpret_cast<char*>(buffer), c.decoded.size() + 1)),
              Hex(c.decoded + "\xEE"));
  }
  long size = 0;
  ExpectVoError([&] { VoString("012").Str2Bin(nullptr, &size); }, eVoFormatErr);
}

TEST(VoStringConvertHex, LongTextBadDigitAnywhere) {
  // Large inputs are decoded in blocks; a bad digit at any position must still
  // leave exactly the pairs before it in the buffer.
  std::mt19937 rng(23);
  std::string bytes(300, '\0');
  for (auto& c : bytes) c = static_cast<char>(rng());
  VoString hex;
  hex.Bin2Str(bytes.data(), static_cast<long>(bytes.size()));
  ASSERT_EQ(Bytes(hex.Str2BinStr()), bytes);
  // Characters just outside the digit ranges, and a zero byte.
  const char nonDigits[] = {'/', ':', '@', 'G', '`', 'g', 'x', ' ', '\x80', '\xC6', '\0'};
  for (std::size_t bad = 0, k = 0; bad < 600; bad += 7, ++k) {
    std::string text = Bytes(hex);
    const char c = nonDigits[k % sizeof nonDigits];
    text[bad] = c;
    if (c == '\0' && bad % 2 == 0) continue;  // a zero at a pair start ends the text, no error
    std::vector<unsigned char> out(300, 0xEE);
    ExpectVoError([&] { Fixed(text).Str2Bin(out.data()); }, eVoFormatErr);
    const std::size_t good = bad / 2;
    ASSERT_EQ(std::memcmp(out.data(), bytes.data(), good), 0) << bad;
    ASSERT_EQ(out[good], 0xEE) << bad;
  }
}

TEST(VoStringConvertHex, Str2BinStr) {
  using namespace std::string_literals;
  const VoString s = VoString("4100FF").Str2BinStr();
  EXPECT_EQ(s.length(), 3);
  EXPECT_EQ(Bytes(s), "A\0\xFF"s);
  EXPECT_EQ(VoString("").Str2BinStr().length(), 0);
  EXPECT_EQ(VoString().Str2BinStr().length(), 0);
  ExpectVoError([] { VoString("414").Str2BinStr(); }, eVoFormatErr);
  ExpectVoError([] { VoString("4X").Str2BinStr(); }, eVoFormatErr);
  // A zero byte at an even position ends the decoding; the rest reads as zeros.
  EXPECT_EQ(Bytes(Fixed("41\0\0"s).Str2BinStr()), "A\0"s);
}

TEST(VoStringConvertHex, RoundTripAllLengths) {
  std::mt19937 rng(29);
  for (std::size_t n = 1; n < 200; ++n) {
    std::string bytes(n, '\0');
    for (auto& c : bytes) c = static_cast<char>(rng());
    VoString hex;
    hex.Bin2Str(bytes.data(), static_cast<long>(n));
    ASSERT_EQ(hex.length(), static_cast<long>(2 * n));
    std::string lower = Bytes(hex);
    ASSERT_EQ(lower, [&] {
      std::string up = Hex(bytes);
      for (auto& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      return up;
    }());
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ASSERT_EQ(Bytes(hex.Str2BinStr()), bytes);
    ASSERT_EQ(Bytes(VoString(lower.c_str()).Str2BinStr()), bytes);
    ASSERT_EQ(Bytes(Fixed(bytes).BinStr2Str().Str2BinStr()), bytes);
  }
}

// ------------------------------------------------------------------ four-character codes

TEST(VoStringConvertSig, ToSig) {
  struct Case {
    std::string text;
    unsigned long sig;
  };
  using namespace std::string_literals;
  const Case cases[] = {
      {"TEXT", 0x54455854UL},
      {"AB", 0x41422020UL},
      {"", 0},
      {"8BPSxyz", 0x38425053UL},
      {"\xFF\xFE\x80\x01", 0xFFFE8001UL},
      {"a\0b"s, 0x61006220UL},  // fixed-length zero kept
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Fixed(c.text).ToSig(), c.sig);
  }
  EXPECT_EQ(VoString().ToSig(), 0UL);
  // Independent of byte order: the first character is the top byte.
  const unsigned long sig = VoString("ABCD").ToSig();
  EXPECT_EQ(sig >> 24, static_cast<unsigned long>('A'));
  EXPECT_EQ(sig & 0xFF, static_cast<unsigned long>('D'));
}

TEST(VoStringConvertSig, FromSig) {
  struct Case {
    unsigned long sig;
    const char* text;
    unsigned long back;  // ToSig of the result: zero bytes came back as blanks
  };
  const Case cases[] = {
      {0x54455854UL, "TEXT", 0x54455854UL},
      {0x41420000UL, "AB  ", 0x41422020UL},
      {0, "    ", 0x20202020UL},
      {0x00410042UL, " A B", 0x20412042UL},
      {0xFFFE8001UL, "\xFF\xFE\x80\x01", 0xFFFE8001UL},
      {0x1234567841424344UL, "ABCD", 0x41424344UL},  // only the low 32 bits count
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    VoString s("previous content");
    const VoString copy = s.FromSig(c.sig);
    EXPECT_EQ(Bytes(s), c.text);
    EXPECT_EQ(Bytes(copy), c.text);
    EXPECT_EQ(s.ToSig(), c.back);
  }
}

TEST(VoStringConvertSig, RoundTripWithoutZeroBytes) {
  std::mt19937 rng(31);
  for (int i = 0; i < 1000; ++i) {
    uint32_t sig = 0;
    for (int k = 0; k < 4; ++k) sig = (sig << 8) | std::uniform_int_distribution<uint32_t>(1, 255)(rng);
    VoString s;
    s.FromSig(sig);
    ASSERT_EQ(s.ToSig(), sig);
  }
}

}  // namespace
