// VoEditBench.cpp - the tokenizer and wildcard matching against the C and C++ libraries.
#include <benchmark/benchmark.h>
#include <fnmatch.h>

#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "VoCore/VoString.h"

namespace {

constexpr std::size_t kCorpusBytes = 16u << 20;  // 16 MiB

/// Words of 1 to 12 letters, mostly separated by one blank, sometimes by a
/// line feed or a tab: the shape of a text database file.
const std::string& WordText() {
  static const std::string text = [] {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> length(1, 12);
    std::uniform_int_distribution<int> letter('a', 'z');
    std::uniform_int_distribution<int> sep(0, 15);
    std::string s;
    s.reserve(kCorpusBytes + 16);
    while (s.size() < kCorpusBytes) {
      for (int n = length(rng); n > 0; --n) s += static_cast<char>(letter(rng));
      const int k = sep(rng);
      s += k == 0 ? '\n' : k == 1 ? '\t' : ' ';
    }
    s.resize(kCorpusBytes);
    s.back() = ' ';
    return s;
  }();
  return text;
}

/// The same words, every fourth one a quoted string with a blank and an escape.
const std::string& QuotedText() {
  static const std::string text = [] {
    const std::string& words = WordText();
    std::string s;
    s.reserve(words.size() + words.size() / 8);
    std::size_t i = 0;
    int n = 0;
    while (i < words.size() && s.size() < kCorpusBytes) {
      std::size_t j = words.find_first_of(" \t\n", i);
      if (j == std::string::npos) j = words.size();
      if (++n % 4 == 0) {
        s += '"';
        s.append(words, i, j - i);
        s += " \\\"x\" ";
      } else {
        s.append(words, i, j - i + 1);
      }
      i = j + 1;
    }
    s.resize(kCorpusBytes);
    s.back() = ' ';
    return s;
  }();
  return text;
}

void ReadStringLoop(benchmark::State& state, const std::string& source, bool quoted) {
  const VoString text(source.data(), static_cast<long>(source.size()), false);
  const VoString white;
  long tokens = 0;
  for (auto _ : state) {
    long pos = 0;
    tokens = 0;
    for (;;) {
      const VoString token = text.ReadString(pos, quoted, white);
      if (token.length() == 0) break;
      benchmark::DoNotOptimize(token.c_str());
      ++tokens;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(source.size()));
  state.counters["tokens"] = static_cast<double>(tokens);
}

void BM_ReadString_Vo(benchmark::State& state) { ReadStringLoop(state, WordText(), false); }
BENCHMARK(BM_ReadString_Vo)->Unit(benchmark::kMillisecond);

void BM_ReadString_VoQuoted(benchmark::State& state) { ReadStringLoop(state, QuotedText(), true); }
BENCHMARK(BM_ReadString_VoQuoted)->Unit(benchmark::kMillisecond);

void BM_ReadString_Istringstream(benchmark::State& state) {
  const std::string& source = WordText();
  long tokens = 0;
  for (auto _ : state) {
    std::istringstream in(source);
    std::string word;
    tokens = 0;
    while (in >> word) {
      benchmark::DoNotOptimize(word.data());
      ++tokens;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(source.size()));
  state.counters["tokens"] = static_cast<double>(tokens);
}
BENCHMARK(BM_ReadString_Istringstream)->Unit(benchmark::kMillisecond);

/// strtok_r on a scratch copy (the copy is made outside the timing). With
/// \p copyOut each token also becomes a std::string, as our tokens are strings.
void StrtokLoop(benchmark::State& state, bool copyOut) {
  const std::string& source = WordText();
  std::vector<char> scratch(source.size() + 1);
  long tokens = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(scratch.data(), source.c_str(), source.size() + 1);
    state.ResumeTiming();
    char* save = nullptr;
    tokens = 0;
    for (char* t = strtok_r(scratch.data(), " \t\n\r", &save); t; t = strtok_r(nullptr, " \t\n\r", &save)) {
      if (copyOut) {
        std::string word(t);
        benchmark::DoNotOptimize(word.data());
      } else {
        benchmark::DoNotOptimize(t);
      }
      ++tokens;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(source.size()));
  state.counters["tokens"] = static_cast<double>(tokens);
}

void BM_ReadString_Strtok(benchmark::State& state) { StrtokLoop(state, false); }
BENCHMARK(BM_ReadString_Strtok)->Unit(benchmark::kMillisecond);

void BM_ReadString_StrtokToString(benchmark::State& state) { StrtokLoop(state, true); }
BENCHMARK(BM_ReadString_StrtokToString)->Unit(benchmark::kMillisecond);

// ------------------------------------------------------------------ wildcard matching

const char kPathological[] = "*a*a*a*a*a*a*a*a*b";

const std::string& TenThousandA() {
  static const std::string text(10000, 'a');
  return text;
}

void BM_StrMatch_Pathological_Vo(benchmark::State& state) {
  const std::string& text = TenThousandA();
  for (auto _ : state) benchmark::DoNotOptimize(StrMatch(kPathological, text.c_str()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_StrMatch_Pathological_Vo)->Unit(benchmark::kMicrosecond);

void BM_StrMatch_Pathological_Fnmatch(benchmark::State& state) {
  const std::string& text = TenThousandA();
  for (auto _ : state) benchmark::DoNotOptimize(fnmatch(kPathological, text.c_str(), 0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_StrMatch_Pathological_Fnmatch)->Unit(benchmark::kMicrosecond);

/// Backtracking that no skipping avoids: at every text position the segment
/// behind the star matches sixteen characters before it fails.
const char kLongSegment[] = "*aaaaaaaaaaaaaaaab";

void BM_StrMatch_LongSegment_Vo(benchmark::State& state) {
  const std::string& text = TenThousandA();
  for (auto _ : state) benchmark::DoNotOptimize(StrMatch(kLongSegment, text.c_str()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_StrMatch_LongSegment_Vo)->Unit(benchmark::kMicrosecond);

void BM_StrMatch_LongSegment_Fnmatch(benchmark::State& state) {
  const std::string& text = TenThousandA();
  for (auto _ : state) benchmark::DoNotOptimize(fnmatch(kLongSegment, text.c_str(), 0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_StrMatch_LongSegment_Fnmatch)->Unit(benchmark::kMicrosecond);

/// Everyday use: file names against a few typical patterns.
struct NameSet {
  std::vector<std::string> names;
  std::size_t bytes = 0;
};

const NameSet& FileNames() {
  static const NameSet set = [] {
    NameSet s;
    std::mt19937 rng(11);
    const char* ext[] = {".txt", ".icc", ".icm", ".tif", ".jpg", ".txt.bak"};
    std::uniform_int_distribution<int> length(3, 20);
    std::uniform_int_distribution<int> letter('a', 'z');
    std::uniform_int_distribution<int> which(0, 5);
    for (int i = 0; i < 4096; ++i) {
      std::string n;
      for (int k = length(rng); k > 0; --k) n += static_cast<char>(letter(rng));
      n += ext[which(rng)];
      s.bytes += n.size();
      s.names.push_back(n);
    }
    return s;
  }();
  return set;
}

const char* const kNamePatterns[] = {"*.txt", "*.ic?", "a*b*.jpg", "????????*.tif"};

void BM_StrMatch_Names_Vo(benchmark::State& state) {
  const NameSet& set = FileNames();
  for (auto _ : state) {
    int hits = 0;
    for (const char* p : kNamePatterns) {
      for (const std::string& n : set.names) hits += StrMatch(p, n.c_str());
    }
    benchmark::DoNotOptimize(hits);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 4 * static_cast<int64_t>(set.bytes));
}
BENCHMARK(BM_StrMatch_Names_Vo)->Unit(benchmark::kMicrosecond);

void BM_StrMatch_Names_Fnmatch(benchmark::State& state) {
  const NameSet& set = FileNames();
  for (auto _ : state) {
    int hits = 0;
    for (const char* p : kNamePatterns) {
      for (const std::string& n : set.names) hits += fnmatch(p, n.c_str(), 0) == 0;
    }
    benchmark::DoNotOptimize(hits);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 4 * static_cast<int64_t>(set.bytes));
}
BENCHMARK(BM_StrMatch_Names_Fnmatch)->Unit(benchmark::kMicrosecond);

}  // namespace
