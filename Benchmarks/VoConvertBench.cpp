// VoConvertBench.cpp - character-set and hex conversions of VoString against glibc iconv, ICU and Qt 5.
//
// Every conversion runs on the same two 16 MiB inputs: pure ASCII text, and a
// Latin-1 text of which about 30% of the bytes are 0x80 or above (for the
// UTF-8 inputs: that text encoded as UTF-8; for Mac OS Roman: that text in Mac
// OS Roman). bytes_per_second counts source bytes. iconv and ICU write into a
// buffer allocated once, their best case; VoString and Qt build a new string
// on every call, as their interfaces do.
#include <benchmark/benchmark.h>
#include <iconv.h>
#include <unicode/ucnv.h>

#include <QByteArray>
#include <QString>
#include <QTextCodec>
#include <QtEndian>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "VoCore/VoString.h"

namespace {

constexpr std::size_t kSize = 16u << 20;

enum Input { kAscii = 0, kLatin1Text = 1 };

/// Words of English-like ASCII text with spaces and line ends.
std::string MakeAscii() {
  static const char* const words[] = {"the",   "quick",  "brown",  "fox",     "jumps",   "over",
                                      "lazy",  "dog,",   "colour", "profile", "display", "gamma",
                                      "white", "point.", "ICC",    "v4"};
  std::mt19937 rng(1);
  std::string s;
  s.reserve(kSize + 16);
  while (s.size() < kSize) {
    s += words[rng() % 16];
    s += (rng() % 12 == 0) ? '\n' : ' ';
  }
  s.resize(kSize);
  return s;
}

/// Latin-1 text: ASCII letters and blanks, with about 30% of the bytes taken
/// from the accented letters 0xC0..0xFF that Mac OS Roman also has (so that
/// every peer converts the Mac OS Roman form without failure).
std::string MakeLatin1Text() {
  std::vector<unsigned char> accented;
  for (int b = 0xC0; b <= 0xFF; ++b)
    if (b != 0xD0 && b != 0xD5 && b != 0xD7 && b != 0xDD && b != 0xDE && b != 0xF0 && b != 0xFD && b != 0xFE)
      accented.push_back(static_cast<unsigned char>(b));
  std::mt19937 rng(2);
  std::string s(kSize, ' ');
  for (auto& c : s) {
    const unsigned r = rng() % 100;
    if (r < 30)
      c = static_cast<char>(accented[rng() % accented.size()]);
    else if (r < 45)
      c = ' ';
    else
      c = static_cast<char>('a' + rng() % 26);
  }
  return s;
}

struct Inputs {
  std::string latin1[2];  // ISO 8859-1
  std::string utf8[2];
  std::string mac[2];  // Mac OS Roman
  VoString voLatin1[2];
  VoString voUtf8[2];
  VoString voMac[2];
  std::string random;  // 16 MiB of random bytes for the hex tests
  VoString voHex;      // their hex text
};

const Inputs& GetInputs() {
  static const Inputs* inputs = [] {
    auto* in = new Inputs;
    in->latin1[kAscii] = MakeAscii();
    in->latin1[kLatin1Text] = MakeLatin1Text();
    for (int k = 0; k < 2; ++k) {
      in->voLatin1[k] = VoString(in->latin1[k].data(), static_cast<long>(in->latin1[k].size()));
      in->voUtf8[k] = in->voLatin1[k].ISO8859_1ToUTF8();
      in->utf8[k].assign(in->voUtf8[k].c_str(), static_cast<std::size_t>(in->voUtf8[k].length()));
      in->voMac[k] = in->voLatin1[k].ISO8859_1ToMacRoman();
      in->mac[k].assign(in->voMac[k].c_str(), static_cast<std::size_t>(in->voMac[k].length()));
    }
    std::mt19937 rng(3);
    in->random.resize(kSize);
    for (auto& c : in->random) c = static_cast<char>(rng());
    in->voHex.Bin2Str(in->random.data(), static_cast<long>(in->random.size()));
    return in;
  }();
  return *inputs;
}

void Finish(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

// ------------------------------------------------------------------ peers

void RunIconv(benchmark::State& state, const char* from, const char* to, const std::string& src) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    state.SkipWithError("iconv_open failed");
    return;
  }
  std::vector<char> out(src.size() * 4 + 16);
  for (auto _ : state) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(src.data());
    std::size_t inLeft = src.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    if (iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<std::size_t>(-1)) {
      state.SkipWithError("iconv failed");
      break;
    }
    benchmark::DoNotOptimize(o);
  }
  iconv_close(cd);
  Finish(state, src.size());
}

void RunIcu(benchmark::State& state, const char* from, const char* to, const std::string& src) {
  UErrorCode err = U_ZERO_ERROR;
  UConverter* source = ucnv_open(from, &err);
  UConverter* target = ucnv_open(to, &err);
  if (U_FAILURE(err)) {
    state.SkipWithError("ucnv_open failed");
    ucnv_close(source);
    ucnv_close(target);
    return;
  }
  std::vector<char> out(src.size() * 4 + 16);
  std::vector<UChar> pivot(1 << 16);
  for (auto _ : state) {
    char* t = out.data();
    const char* s = src.data();
    UChar* pivotSource = pivot.data();
    UChar* pivotTarget = pivot.data();
    err = U_ZERO_ERROR;
    ucnv_convertEx(target, source, &t, out.data() + out.size(), &s, src.data() + src.size(), pivot.data(),
                   &pivotSource, &pivotTarget, pivot.data() + pivot.size(), true, true, &err);
    if (U_FAILURE(err)) {
      state.SkipWithError("ucnv_convertEx failed");
      break;
    }
    benchmark::DoNotOptimize(t);
  }
  ucnv_close(source);
  ucnv_close(target);
  Finish(state, src.size());
}

// ------------------------------------------------------------------ ISO 8859-1 -> UTF-8

void BM_IsoToUtf8_VoString(benchmark::State& state) {
  const VoString& src = GetInputs().voLatin1[state.range(0)];
  for (auto _ : state) {
    VoString r = src.ISO8859_1ToUTF8();
    benchmark::DoNotOptimize(r.c_str());
  }
  Finish(state, static_cast<std::size_t>(src.length()));
}
void BM_IsoToUtf8_Iconv(benchmark::State& state) {
  RunIconv(state, "ISO-8859-1", "UTF-8", GetInputs().latin1[state.range(0)]);
}
void BM_IsoToUtf8_Icu(benchmark::State& state) {
  RunIcu(state, "ISO-8859-1", "UTF-8", GetInputs().latin1[state.range(0)]);
}
void BM_IsoToUtf8_Qt(benchmark::State& state) {
  const std::string& src = GetInputs().latin1[state.range(0)];
  for (auto _ : state) {
    QByteArray r = QString::fromLatin1(src.data(), static_cast<int>(src.size())).toUtf8();
    benchmark::DoNotOptimize(r.constData());
  }
  Finish(state, src.size());
}

// ------------------------------------------------------------------ UTF-8 -> ISO 8859-1

void BM_Utf8ToIso_VoString(benchmark::State& state) {
  const VoString& src = GetInputs().voUtf8[state.range(0)];
  for (auto _ : state) {
    VoString r = src.UTF8ToISO8859_1();
    benchmark::DoNotOptimize(r.c_str());
  }
  Finish(state, static_cast<std::size_t>(src.length()));
}
void BM_Utf8ToIso_Iconv(benchmark::State& state) {
  RunIconv(state, "UTF-8", "ISO-8859-1", GetInputs().utf8[state.range(0)]);
}
void BM_Utf8ToIso_Icu(benchmark::State& state) {
  RunIcu(state, "UTF-8", "ISO-8859-1", GetInputs().utf8[state.range(0)]);
}
void BM_Utf8ToIso_Qt(benchmark::State& state) {
  const std::string& src = GetInputs().utf8[state.range(0)];
  for (auto _ : state) {
    QByteArray r = QString::fromUtf8(src.data(), static_cast<int>(src.size())).toLatin1();
    benchmark::DoNotOptimize(r.constData());
  }
  Finish(state, src.size());
}

// ------------------------------------------------------------------ UTF-8 -> UTF-16 (big-endian)

void BM_Utf8ToUtf16_VoString(benchmark::State& state) {
  const VoString& src = GetInputs().voUtf8[state.range(0)];
  for (auto _ : state) {
    VoString r = src.UTF8ToUTF16();
    benchmark::DoNotOptimize(r.c_str());
  }
  Finish(state, static_cast<std::size_t>(src.length()));
}
void BM_Utf8ToUtf16_Iconv(benchmark::State& state) {
  RunIconv(state, "UTF-8", "UTF-16BE", GetInputs().utf8[state.range(0)]);
}
void BM_Utf8ToUtf16_Icu(benchmark::State& state) {
  RunIcu(state, "UTF-8", "UTF-16BE", GetInputs().utf8[state.range(0)]);
}
void BM_Utf8ToUtf16_Qt(benchmark::State& state) {
  const std::string& src = GetInputs().utf8[state.range(0)];
  for (auto _ : state) {
    const QString s = QString::fromUtf8(src.data(), static_cast<int>(src.size()));
    QByteArray r(s.size() * 2, Qt::Uninitialized);
    qToBigEndian<quint16>(s.utf16(), s.size(), r.data());
    benchmark::DoNotOptimize(r.constData());
  }
  Finish(state, src.size());
}

// ------------------------------------------------------------------ Mac OS Roman -> ISO 8859-1

void BM_MacToIso_VoString(benchmark::State& state) {
  const VoString& src = GetInputs().voMac[state.range(0)];
  for (auto _ : state) {
    VoString r = src.MacRomanToISO8859_1();
    benchmark::DoNotOptimize(r.c_str());
  }
  Finish(state, static_cast<std::size_t>(src.length()));
}
void BM_MacToIso_Iconv(benchmark::State& state) {
  RunIconv(state, "MACINTOSH", "ISO-8859-1", GetInputs().mac[state.range(0)]);
}
void BM_MacToIso_Icu(benchmark::State& state) {
  RunIcu(state, "macintosh", "ISO-8859-1", GetInputs().mac[state.range(0)]);
}
void BM_MacToIso_Qt(benchmark::State& state) {
  const std::string& src = GetInputs().mac[state.range(0)];
  QTextCodec* codec = QTextCodec::codecForName("Apple Roman");
  if (!codec) {
    state.SkipWithError("no Apple Roman codec");
    return;
  }
  for (auto _ : state) {
    QByteArray r = codec->toUnicode(src.data(), static_cast<int>(src.size())).toLatin1();
    benchmark::DoNotOptimize(r.constData());
  }
  Finish(state, src.size());
}

// ------------------------------------------------------------------ hexadecimal text

/// Encoding again into the same string, which keeps its buffer.
void BM_HexEncode_VoString(benchmark::State& state) {
  const std::string& src = GetInputs().random;
  VoString r;
  for (auto _ : state) {
    r.Bin2Str(src.data(), static_cast<long>(src.size()));
    benchmark::DoNotOptimize(r.c_str());
  }
  Finish(state, src.size());
}
void BM_HexEncodeFresh_VoString(benchmark::State& state) {
  const std::string& src = GetInputs().random;
  for (auto _ : state) {
    VoString r;
    r.Bin2Str(src.data(), static_cast<long>(src.size()));
    benchmark::DoNotOptimize(r.c_str());
  }
  Finish(state, src.size());
}
void BM_HexEncode_Qt(benchmark::State& state) {
  const QByteArray src = QByteArray::fromRawData(GetInputs().random.data(), static_cast<int>(kSize));
  for (auto _ : state) {
    QByteArray r = src.toHex();
    benchmark::DoNotOptimize(r.constData());
  }
  Finish(state, kSize);
}
void BM_HexDecode_VoString(benchmark::State& state) {
  const VoString& hex = GetInputs().voHex;
  std::vector<char> out(kSize);
  for (auto _ : state) {
    hex.Str2Bin(out.data());
    benchmark::DoNotOptimize(out.data());
  }
  Finish(state, kSize);  // bytes decoded (the text is twice as long)
}
void BM_HexDecodeToString_VoString(benchmark::State& state) {
  const VoString& hex = GetInputs().voHex;
  for (auto _ : state) {
    VoString r = hex.Str2BinStr();
    benchmark::DoNotOptimize(r.c_str());
  }
  Finish(state, kSize);
}
void BM_HexDecode_Qt(benchmark::State& state) {
  const VoString& hex = GetInputs().voHex;
  const QByteArray src = QByteArray::fromRawData(hex.c_str(), static_cast<int>(hex.length()));
  for (auto _ : state) {
    QByteArray r = QByteArray::fromHex(src);
    benchmark::DoNotOptimize(r.constData());
  }
  Finish(state, kSize);
}

// ------------------------------------------------------------------ orientation

void BM_Memcpy(benchmark::State& state) {
  const std::string& src = GetInputs().latin1[kAscii];
  std::vector<char> out(src.size());
  for (auto _ : state) {
    std::memcpy(out.data(), src.data(), src.size());
    benchmark::DoNotOptimize(out.data());
  }
  Finish(state, src.size());
}

/// The floor for results twice the source size: a fresh block of 2 x 16 MiB
/// (too large for the C library to keep for the next call) written once.
void BM_FreshDoubleBlock(benchmark::State& state) {
  for (auto _ : state) {
    char* p = static_cast<char*>(::operator new(2 * kSize + 17));
    std::memset(p, 'x', 2 * kSize);
    benchmark::DoNotOptimize(p);
    ::operator delete(p);
  }
  Finish(state, kSize);
}

void Inputs2(benchmark::internal::Benchmark* b) {
  b->ArgName("latin1text")->Arg(kAscii)->Arg(kLatin1Text)->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_IsoToUtf8_VoString)->Apply(Inputs2);
BENCHMARK(BM_IsoToUtf8_Iconv)->Apply(Inputs2);
BENCHMARK(BM_IsoToUtf8_Icu)->Apply(Inputs2);
BENCHMARK(BM_IsoToUtf8_Qt)->Apply(Inputs2);
BENCHMARK(BM_Utf8ToIso_VoString)->Apply(Inputs2);
BENCHMARK(BM_Utf8ToIso_Iconv)->Apply(Inputs2);
BENCHMARK(BM_Utf8ToIso_Icu)->Apply(Inputs2);
BENCHMARK(BM_Utf8ToIso_Qt)->Apply(Inputs2);
BENCHMARK(BM_Utf8ToUtf16_VoString)->Apply(Inputs2);
BENCHMARK(BM_Utf8ToUtf16_Iconv)->Apply(Inputs2);
BENCHMARK(BM_Utf8ToUtf16_Icu)->Apply(Inputs2);
BENCHMARK(BM_Utf8ToUtf16_Qt)->Apply(Inputs2);
BENCHMARK(BM_MacToIso_VoString)->Apply(Inputs2);
BENCHMARK(BM_MacToIso_Iconv)->Apply(Inputs2);
BENCHMARK(BM_MacToIso_Icu)->Apply(Inputs2);
BENCHMARK(BM_MacToIso_Qt)->Apply(Inputs2);
BENCHMARK(BM_HexEncode_VoString)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HexEncodeFresh_VoString)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HexEncode_Qt)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HexDecode_VoString)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HexDecodeToString_VoString)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HexDecode_Qt)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FreshDoubleBlock)->Unit(benchmark::kMillisecond);
