// VoStringBench.cpp - VoString against std::string and QByteArray: copy, append, find, case-blind compare.
#include <benchmark/benchmark.h>

#include <QByteArray>
#include <cstring>
#include <random>
#include <string>

#include "VoCore/VoString.h"

namespace {

constexpr std::size_t kCopySize = 1024;
constexpr std::size_t kAppendSize = 1 << 20;
constexpr std::size_t kFindSize = 1 << 20;

// Word-like text: lower-case words of 1..9 letters with English letter
// frequencies, separated by blanks.
std::string MakeText(std::size_t size, unsigned seed) {
  static const char kLetters[] =
      "eeeeeeeeeeeetttttttttaaaaaaaaooooooooiiiiiiinnnnnnnsssssshhhhhhrrrrrrdddlllcccuummwwffggyyppbbvkjxqz";
  std::mt19937 rng(seed);
  std::string text;
  text.reserve(size);
  while (text.size() < size) {
    const std::size_t word = 1 + rng() % 9;
    for (std::size_t i = 0; i < word && text.size() < size; ++i)
      text += kLetters[rng() % (sizeof kLetters - 1)];
    if (text.size() < size) text += ' ';
  }
  return text;
}

// ---------------------------------------------------------------- copy 1 KiB

void BM_Copy1K_VoString(benchmark::State& state) {
  const VoString source(MakeText(kCopySize, 1).c_str());
  for (auto _ : state) {
    VoString copy(source);
    benchmark::DoNotOptimize(copy);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["sizeof"] = sizeof(VoString);
  state.counters["header"] = sizeof(VoStringData);
}
BENCHMARK(BM_Copy1K_VoString);

void BM_Copy1K_QByteArray(benchmark::State& state) {
  const QByteArray source(MakeText(kCopySize, 1).c_str());
  for (auto _ : state) {
    QByteArray copy(source);
    benchmark::DoNotOptimize(copy);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Copy1K_QByteArray);

void BM_Copy1K_StdString(benchmark::State& state) {
  const std::string source = MakeText(kCopySize, 1);
  for (auto _ : state) {
    std::string copy(source);
    benchmark::DoNotOptimize(copy);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Copy1K_StdString);

// ---------------------------------------------------------------- copy 1 KiB, then write one byte

// The copy shares the buffer until the write, which makes it private: one
// allocation and one copy of the characters, as std::string's copy does.
void BM_CopyWrite1K_VoString(benchmark::State& state) {
  const VoString source(MakeText(kCopySize, 1).c_str());
  long i = 0;
  for (auto _ : state) {
    VoString copy(source);
    copy[i++ & 511] = 'x';
    benchmark::DoNotOptimize(copy.c_str());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CopyWrite1K_VoString);

void BM_CopyWrite1K_StdString(benchmark::State& state) {
  const std::string source = MakeText(kCopySize, 1);
  long i = 0;
  for (auto _ : state) {
    std::string copy(source);
    copy[i++ & 511] = 'x';
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CopyWrite1K_StdString);

// ---------------------------------------------------------------- append 1 MiB by characters

void BM_AppendChar1M_VoString(benchmark::State& state) {
  for (auto _ : state) {
    VoString s;
    for (std::size_t i = 0; i < kAppendSize; ++i) s += static_cast<char>('a' + (i & 15));
    benchmark::DoNotOptimize(s.c_str());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kAppendSize));
}
BENCHMARK(BM_AppendChar1M_VoString);

void BM_AppendChar1M_StdString(benchmark::State& state) {
  for (auto _ : state) {
    std::string s;
    for (std::size_t i = 0; i < kAppendSize; ++i) s.push_back(static_cast<char>('a' + (i & 15)));
    benchmark::DoNotOptimize(s.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kAppendSize));
}
BENCHMARK(BM_AppendChar1M_StdString);

void BM_AppendChar1M_QByteArray(benchmark::State& state) {
  for (auto _ : state) {
    QByteArray s;
    for (std::size_t i = 0; i < kAppendSize; ++i) s.append(static_cast<char>('a' + (i & 15)));
    benchmark::DoNotOptimize(s.constData());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kAppendSize));
}
BENCHMARK(BM_AppendChar1M_QByteArray);

// ---------------------------------------------------------------- find 8 bytes in 1 MiB

// Two patterns, each occurring once, at the end: one starting with the most
// frequent letter (memchr stops every few bytes), one with a rare letter.
const char kFrequentFirst[] = "entropie";
const char kRareFirst[] = "zygomata";

std::string FindText(const char* pattern) {
  std::string text = MakeText(kFindSize - 16, 2);
  text += ' ';
  text += pattern;
  text += ' ';
  return text;
}

template <const char* Pattern>
void BM_Find8In1M_VoString(benchmark::State& state) {
  const std::string text = FindText(Pattern);
  const VoString haystack(text.c_str());
  const VoString pattern(Pattern);
  long found = 0;
  for (auto _ : state) {
    found = haystack.find(pattern, 0, false);
    benchmark::DoNotOptimize(found);
  }
  if (found != static_cast<long>(text.find(Pattern))) state.SkipWithError("wrong position");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

template <const char* Pattern>
void BM_Find8In1M_StdString(benchmark::State& state) {
  const std::string text = FindText(Pattern);
  const std::string pattern(Pattern);
  for (auto _ : state) {
    std::size_t found = text.find(pattern);
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

template <const char* Pattern>
void BM_Find8In1M_QByteArray(benchmark::State& state) {
  const std::string text = FindText(Pattern);
  const QByteArray haystack(text.c_str());
  const QByteArray pattern(Pattern);
  for (auto _ : state) {
    int found = haystack.indexOf(pattern);
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

BENCHMARK_TEMPLATE(BM_Find8In1M_VoString, kFrequentFirst);
BENCHMARK_TEMPLATE(BM_Find8In1M_StdString, kFrequentFirst);
BENCHMARK_TEMPLATE(BM_Find8In1M_QByteArray, kFrequentFirst);
BENCHMARK_TEMPLATE(BM_Find8In1M_VoString, kRareFirst);
BENCHMARK_TEMPLATE(BM_Find8In1M_StdString, kRareFirst);
BENCHMARK_TEMPLATE(BM_Find8In1M_QByteArray, kRareFirst);

// ---------------------------------------------------------------- case-blind compare of equal 1 KiB texts

// Mixed case on one side so that folding is needed all the way.
std::string UpperHalf(std::string text) {
  for (std::size_t i = 0; i < text.size(); i += 2) {
    if (text[i] >= 'a' && text[i] <= 'z') text[i] = static_cast<char>(text[i] - 32);
  }
  return text;
}

void BM_CaseCmp1K_Vostricmp(benchmark::State& state) {
  const std::string a = MakeText(kCopySize, 3);
  const std::string b = UpperHalf(a);
  int result = 0;
  for (auto _ : state) {
    result = Vostricmp(a.c_str(), b.c_str());
    benchmark::DoNotOptimize(result);
  }
  if (result != 0) state.SkipWithError("texts differ");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * a.size()));
}
BENCHMARK(BM_CaseCmp1K_Vostricmp);

void BM_CaseCmp1K_VoStringCmpIgnoreCase(benchmark::State& state) {
  const std::string text = MakeText(kCopySize, 3);
  const VoString a(text.c_str());
  const VoString b(UpperHalf(text).c_str());
  for (auto _ : state) {
    int result = a.cmpIgnoreCase(b);
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_CaseCmp1K_VoStringCmpIgnoreCase);

void BM_CaseCmp1K_QByteArrayCompare(benchmark::State& state) {
  const std::string text = MakeText(kCopySize, 3);
  const QByteArray a(text.c_str());
  const QByteArray b(UpperHalf(text).c_str());
  for (auto _ : state) {
    int result = a.compare(b, Qt::CaseInsensitive);
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_CaseCmp1K_QByteArrayCompare);

void BM_CaseCmp1K_qstricmp(benchmark::State& state) {
  const std::string a = MakeText(kCopySize, 3);
  const std::string b = UpperHalf(a);
  for (auto _ : state) {
    int result = qstricmp(a.c_str(), b.c_str());
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * a.size()));
}
BENCHMARK(BM_CaseCmp1K_qstricmp);

}  // namespace
