// VoDataBaseBench.cpp - the text database against GKeyFile, inih and RapidJSON on two generated 10 MB data
// sets (the second one quote-heavy).
//
// Built twice: into vo_benchmarks (a fresh process, a small clean heap) and,
// with VO_BENCH_LONG_RUNNING, into vo_benchmarks_longrun, whose main() first
// puts the process in the state of a program that has run for a while (see
// the end of this file).
#include <benchmark/benchmark.h>
#include <glib.h>
#include <ini.h>
#include <malloc.h>
#include <rapidjson/document.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

#include "VoCore/VoString.h"
#include "VoData/VoDataBase.h"
#include "VoIO/VoFileSpec.h"

namespace {

// ---------------------------------------------------------------- the data set
//
// 2000 groups of 100 entries; a third of the values hold blanks (quoted in the
// database text), the others are numbers and paths; every 10th group has one
// entry with a nested level of 10 entries. The same data is written as a
// database text, as an INI file (the nested level as a section of its own)
// and as a JSON document.

constexpr int kGroups = 2000;
constexpr int kEntries = 100;
constexpr int kNested = 10;

struct DataSet {
  std::string db;  // plain layout
  std::string ini;
  std::string json;
  std::vector<std::string> groupKeys;  // the keys of one level of 100 entries
};

uint64_t Mix(uint64_t& state) {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return state;
}

std::string Value(uint64_t& state, int kind) {
  static const char* const words[] = {"colour", "profile", "display", "gamma", "white", "point",
                                      "matrix", "curve",   "device",  "media", "black", "render"};
  char buffer[96];
  switch (kind) {
    case 0: {  // words with blanks
      std::string s;
      const int n = 5 + static_cast<int>(Mix(state) % 3);
      for (int i = 0; i < n; ++i) {
        if (i) s += ' ';
        s += words[Mix(state) % 12];
      }
      return s;
    }
    case 1:
      std::snprintf(buffer, sizeof buffer, "%llu.%04llu",
                    static_cast<unsigned long long>(Mix(state) % 1000000),
                    static_cast<unsigned long long>(Mix(state) % 10000));
      return buffer;
    default:
      std::snprintf(buffer, sizeof buffer, "/usr/share/color/icc/devices/%s_%s_%03llu.icc",
                    words[Mix(state) % 12], words[Mix(state) % 12],
                    static_cast<unsigned long long>(Mix(state) % 1000));
      return buffer;
  }
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }  // values hold no '"' or '\\'

const DataSet& Data() {
  static const DataSet data = [] {
    DataSet d;
    uint64_t state = 0x1234567887654321ULL;
    d.json = "{";
    char group[32];
    char key[32];
    for (int g = 0; g < kGroups; ++g) {
      std::snprintf(group, sizeof group, "group%04d", g);
      d.db += std::string(group) + " = \n{\n";
      d.ini += std::string("[") + group + "]\n";
      d.json += std::string(g ? "," : "") + "\n\"" + group + "\": {";
      std::string nestedIni;
      for (int e = 0; e < kEntries; ++e) {
        std::snprintf(key, sizeof key, "entry_%03d", e);
        if (g == 0) d.groupKeys.push_back(key);
        const int kind = static_cast<int>(Mix(state) % 3);
        const std::string value = Value(state, kind);
        d.db += std::string("\t") + key + " = " + (kind == 0 ? Quoted(value) : value) + "\n";
        d.ini += std::string(key) + " = " + value + "\n";
        d.json += std::string(e ? "," : "") + "\n\t\"" + key + "\": ";
        if (g % 10 == 0 && e == 50) {
          d.db += "\t{\n";
          nestedIni += std::string("[") + group + "/" + key + "]\n";
          d.json += "{\"value\": " + Quoted(value);
          for (int n = 0; n < kNested; ++n) {
            const std::string sub = "sub_" + std::to_string(n);
            const std::string subValue = Value(state, n % 3);
            d.db += "\t\t" + sub + " = " + (n % 3 == 0 ? Quoted(subValue) : subValue) + "\n";
            nestedIni += sub + " = " + subValue + "\n";
            d.json += ", \"" + sub + "\": " + Quoted(subValue);
          }
          d.db += "\t}\n";
          d.json += "}";
        } else {
          d.json += Quoted(value);
        }
      }
      d.db += "}\n";
      d.ini += nestedIni;
      d.json += "}";
    }
    d.json += "\n}\n";
    return d;
  }();
  return data;
}

// The quote-heavy set: the same 2000 groups of 100 entries, no nesting, about
// 10 MB; 40 % of the values are sentences of 40..55 characters (quoted in the
// database text), the others numbers and paths.
const DataSet& QuoteHeavyData() {
  static const DataSet data = [] {
    DataSet d;
    uint64_t state = 0x0badc0ffee15900dULL;
    char group[32];
    char key[32];
    for (int g = 0; g < kGroups; ++g) {
      std::snprintf(group, sizeof group, "group%04d", g);
      d.db += std::string(group) + " = \n{\n";
      d.ini += std::string("[") + group + "]\n";
      for (int e = 0; e < kEntries; ++e) {
        std::snprintf(key, sizeof key, "entry_%03d", e);
        const bool quoted = Mix(state) % 5 < 2;
        std::string value;
        if (quoted) {
          value = Value(state, 0) + " " + Value(state, 0);
          value.resize(std::min<size_t>(value.size(), 40 + Mix(state) % 16));
          while (value.back() == ' ') value.pop_back();
        } else {
          value = Value(state, 1 + static_cast<int>(Mix(state) % 2));
        }
        d.db += std::string("\t") + key + " = " + (quoted ? Quoted(value) : value) + "\n";
        d.ini += std::string(key) + " = " + value + "\n";
      }
      d.db += "}\n";
    }
    return d;
  }();
  return data;
}

VoString DbText() {
  static const VoString text(Data().db.data(), static_cast<long>(Data().db.size()));
  return text;
}

void SetBytes(benchmark::State& state, size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
  state.counters["doc_MB"] = static_cast<double>(bytes) / 1e6;
}

// ---------------------------------------------------------------- reading

void BM_DataBase_ReadFromString(benchmark::State& state) {
  const VoString text = DbText();
  VoDataBase db;
  for (auto _ : state) {
    db.ReadFromString(text);  // also destroys what the last round read
    benchmark::DoNotOptimize(db.GetCount());
  }
  if (db.GetCount() != kGroups) state.SkipWithError("database text did not read");
  SetBytes(state, Data().db.size());
}
BENCHMARK(BM_DataBase_ReadFromString)->Unit(benchmark::kMillisecond);

void BM_DataBase_ReadQuoteHeavy(benchmark::State& state) {
  const std::string& src = QuoteHeavyData().db;
  const VoString text(src.data(), static_cast<long>(src.size()));
  VoDataBase db;
  for (auto _ : state) {
    db.ReadFromString(text);
    benchmark::DoNotOptimize(db.GetCount());
  }
  if (db.GetCount() != kGroups) state.SkipWithError("database text did not read");
  SetBytes(state, src.size());
}
BENCHMARK(BM_DataBase_ReadQuoteHeavy)->Unit(benchmark::kMillisecond);

// GKeyFile's load of an INI text, the same loop for both data sets.
void GKeyFileLoad(benchmark::State& state, const std::string& ini) {
  for (auto _ : state) {
    GKeyFile* kf = g_key_file_new();
    GError* error = nullptr;
    if (!g_key_file_load_from_data(kf, ini.data(), ini.size(), G_KEY_FILE_NONE, &error)) {
      state.SkipWithError("GKeyFile could not load the INI text");
      g_clear_error(&error);
    }
    g_key_file_free(kf);
  }
  SetBytes(state, ini.size());
}

void BM_DataBase_Peer_GKeyFileLoad(benchmark::State& state) { GKeyFileLoad(state, Data().ini); }
BENCHMARK(BM_DataBase_Peer_GKeyFileLoad)->Unit(benchmark::kMillisecond);

void BM_DataBase_QuoteHeavy_Peer_GKeyFileLoad(benchmark::State& state) {
  GKeyFileLoad(state, QuoteHeavyData().ini);
}
BENCHMARK(BM_DataBase_QuoteHeavy_Peer_GKeyFileLoad)->Unit(benchmark::kMillisecond);

int IniIgnore(void*, const char*, const char*, const char*) { return 1; }

// inih's parse with a handler that keeps nothing: the parser's own cost.
void InihParse(benchmark::State& state, const std::string& ini) {
  for (auto _ : state) benchmark::DoNotOptimize(ini_parse_string(ini.c_str(), IniIgnore, nullptr));
  SetBytes(state, ini.size());
}

void BM_DataBase_Peer_InihParse(benchmark::State& state) { InihParse(state, Data().ini); }
BENCHMARK(BM_DataBase_Peer_InihParse)->Unit(benchmark::kMillisecond);

void BM_DataBase_QuoteHeavy_Peer_InihParse(benchmark::State& state) {
  InihParse(state, QuoteHeavyData().ini);
}
BENCHMARK(BM_DataBase_QuoteHeavy_Peer_InihParse)->Unit(benchmark::kMillisecond);

void BM_DataBase_Peer_RapidJsonParse(benchmark::State& state) {
  const std::string& json = Data().json;
  for (auto _ : state) {
    rapidjson::Document doc;
    doc.Parse(json.c_str());
    if (doc.HasParseError()) state.SkipWithError("JSON did not parse");
    benchmark::DoNotOptimize(doc.MemberCount());
  }
  SetBytes(state, json.size());
}
BENCHMARK(BM_DataBase_Peer_RapidJsonParse)->Unit(benchmark::kMillisecond);

// In-situ parse: the strings stay in the (copied) text, as the database's
// reader would need its text kept to do the same.
void BM_DataBase_Peer_RapidJsonParseInsitu(benchmark::State& state) {
  const std::string& json = Data().json;
  std::vector<char> buffer(json.size() + 1);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(buffer.data(), json.c_str(), json.size() + 1);
    state.ResumeTiming();
    rapidjson::Document doc;
    doc.ParseInsitu(buffer.data());
    if (doc.HasParseError()) state.SkipWithError("JSON did not parse");
    benchmark::DoNotOptimize(doc.MemberCount());
  }
  SetBytes(state, json.size());
}
BENCHMARK(BM_DataBase_Peer_RapidJsonParseInsitu)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------- writing

void BM_DataBase_WriteToString(benchmark::State& state) {
  VoDataBase db;
  db.ReadFromString(DbText());
  const bool previous = VoDataBase::SaveControlChars(false);
  size_t bytes = 0;
  for (auto _ : state) {
    VoString text = db.WriteToString();
    bytes = static_cast<size_t>(text.length());
    benchmark::DoNotOptimize(text.c_str());
  }
  VoDataBase::SaveControlChars(previous);
  if (bytes != Data().db.size()) state.SkipWithError("written text differs in size from the generated one");
  SetBytes(state, bytes);
}
BENCHMARK(BM_DataBase_WriteToString)->Unit(benchmark::kMillisecond);

void BM_DataBase_Peer_GKeyFileToData(benchmark::State& state) {
  GKeyFile* kf = g_key_file_new();
  g_key_file_load_from_data(kf, Data().ini.data(), Data().ini.size(), G_KEY_FILE_NONE, nullptr);
  size_t bytes = 0;
  for (auto _ : state) {
    gsize length = 0;
    gchar* text = g_key_file_to_data(kf, &length, nullptr);
    bytes = length;
    benchmark::DoNotOptimize(text);
    g_free(text);
  }
  g_key_file_free(kf);
  SetBytes(state, bytes);
}
BENCHMARK(BM_DataBase_Peer_GKeyFileToData)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------- copying, merging, destroying

const VoDataBase& Parsed() {
  static const VoDataBase* db = [] {
    auto* d = new VoDataBase;
    d->ReadFromString(DbText());
    return d;
  }();
  return *db;
}

void BM_DataBase_Copy(benchmark::State& state) {
  const VoDataBase& source = Parsed();
  for (auto _ : state) {
    VoDataBase copy(source);
    benchmark::DoNotOptimize(copy.GetCount());
    state.PauseTiming();  // the copy's destruction is timed on its own
    copy.Clear();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_DataBase_Copy)->Unit(benchmark::kMillisecond);

// Merging by path: every key of the source is looked up in the target, which
// holds half of the groups already.
void BM_DataBase_MergeReplace(benchmark::State& state) {
  const VoDataBase& source = Parsed();
  VoDataBase half;
  for (int g = 0; g < kGroups; g += 2) {
    char key[32];
    std::snprintf(key, sizeof key, "group%04d", g);
    half.SetDB(key, new VoDataBase(*source.GetIndexedDB(g)), true);
  }
  for (auto _ : state) {
    state.PauseTiming();
    VoDataBase target(half);
    state.ResumeTiming();
    target.MergeDB(&source, false);
    benchmark::DoNotOptimize(target.GetCount());
    state.PauseTiming();
    target.Clear();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_DataBase_MergeReplace)->Unit(benchmark::kMillisecond);

void BM_DataBase_Destroy(benchmark::State& state) {
  const VoString text = DbText();
  for (auto _ : state) {
    state.PauseTiming();
    auto* db = new VoDataBase;
    db->ReadFromString(text);
    state.ResumeTiming();
    db->Delete();
  }
}
BENCHMARK(BM_DataBase_Destroy)->Unit(benchmark::kMillisecond);

void BM_DataBase_Peer_GKeyFileFree(benchmark::State& state) {
  const std::string& ini = Data().ini;
  for (auto _ : state) {
    state.PauseTiming();
    GKeyFile* kf = g_key_file_new();
    g_key_file_load_from_data(kf, ini.data(), ini.size(), G_KEY_FILE_NONE, nullptr);
    state.ResumeTiming();
    g_key_file_free(kf);
  }
}
BENCHMARK(BM_DataBase_Peer_GKeyFileFree)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------- files (cached in memory; wall time)

std::string FileName(const char* what) {
  return "/tmp/vo_db_bench_" + std::string(what) + "_" + std::to_string(reinterpret_cast<uintptr_t>(&Data()));
}

void BM_DataBase_SaveFile(benchmark::State& state) {
  const std::string path = FileName("save");
  const VoFileSpec spec(VoString(path.c_str()));
  for (auto _ : state) Parsed().WriteToFile(spec);
  std::remove(path.c_str());
  SetBytes(state, Data().db.size());
}
BENCHMARK(BM_DataBase_SaveFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DataBase_LoadFile(benchmark::State& state) {
  const std::string path = FileName("load");
  const VoFileSpec spec(VoString(path.c_str()));
  Parsed().WriteToFile(spec);
  VoDataBase db;
  for (auto _ : state) {
    db.ReadFromFile(spec);
    benchmark::DoNotOptimize(db.GetCount());
  }
  std::remove(path.c_str());
  if (db.GetCount() != kGroups) state.SkipWithError("database file did not read");
  SetBytes(state, Data().db.size());
}
BENCHMARK(BM_DataBase_LoadFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DataBase_Peer_GKeyFileSaveFile(benchmark::State& state) {
  const std::string path = FileName("gsave");
  GKeyFile* kf = g_key_file_new();
  g_key_file_load_from_data(kf, Data().ini.data(), Data().ini.size(), G_KEY_FILE_NONE, nullptr);
  for (auto _ : state) g_key_file_save_to_file(kf, path.c_str(), nullptr);
  g_key_file_free(kf);
  std::remove(path.c_str());
  SetBytes(state, Data().ini.size());
}
BENCHMARK(BM_DataBase_Peer_GKeyFileSaveFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DataBase_Peer_GKeyFileLoadFile(benchmark::State& state) {
  const std::string path = FileName("gload");
  FILE* out = std::fopen(path.c_str(), "wb");
  std::fwrite(Data().ini.data(), 1, Data().ini.size(), out);
  std::fclose(out);
  for (auto _ : state) {
    GKeyFile* kf = g_key_file_new();
    if (!g_key_file_load_from_file(kf, path.c_str(), G_KEY_FILE_NONE, nullptr))
      state.SkipWithError("GKeyFile could not load the INI file");
    g_key_file_free(kf);
  }
  std::remove(path.c_str());
  SetBytes(state, Data().ini.size());
}
BENCHMARK(BM_DataBase_Peer_GKeyFileLoadFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---------------------------------------------------------------- lookup

// Random keys of one level of 100 entries.
std::vector<size_t> RandomOrder() {
  std::vector<size_t> order(4096);
  uint64_t s = 99;
  for (size_t& i : order) i = Mix(s) % kEntries;
  return order;
}

void BM_DataBase_GetStringLevelOf100(benchmark::State& state) {
  VoDataBase db;
  db.ReadFromString(DbText());
  VoDataBase* level = db.GetDB("group0001", false);
  std::vector<VoString> keys;
  for (const std::string& k : Data().groupKeys) keys.emplace_back(k.c_str());
  const std::vector<size_t> order = RandomOrder();
  size_t i = 0;
  for (auto _ : state) {
    VoString value = level->GetString(keys[order[i++ & 4095]]);
    benchmark::DoNotOptimize(value.c_str());
  }
}
BENCHMARK(BM_DataBase_GetStringLevelOf100);

void BM_DataBase_Peer_GKeyFileGetValue(benchmark::State& state) {
  GKeyFile* kf = g_key_file_new();
  g_key_file_load_from_data(kf, Data().ini.data(), Data().ini.size(), G_KEY_FILE_NONE, nullptr);
  const std::vector<size_t> order = RandomOrder();
  size_t i = 0;
  for (auto _ : state) {
    gchar* value =
        g_key_file_get_value(kf, "group0001", Data().groupKeys[order[i++ & 4095]].c_str(), nullptr);
    benchmark::DoNotOptimize(value);
    g_free(value);
  }
  g_key_file_free(kf);
}
BENCHMARK(BM_DataBase_Peer_GKeyFileGetValue);

// The whole path through the 2000 groups of the top level (informational:
// the top level is 20 times wider than the target's level).
void BM_DataBase_GetStringPathIn2000Groups(benchmark::State& state) {
  VoDataBase db;
  db.ReadFromString(DbText());
  std::vector<VoString> paths;
  uint64_t s = 7;
  for (int i = 0; i < 4096; ++i) {
    char path[48];
    std::snprintf(path, sizeof path, "group%04d/entry_%03d", static_cast<int>(Mix(s) % kGroups),
                  static_cast<int>(Mix(s) % kEntries));
    paths.emplace_back(path);
  }
  size_t i = 0;
  for (auto _ : state) {
    VoString value = db.GetString(paths[i++ & 4095]);
    benchmark::DoNotOptimize(value.c_str());
  }
}
BENCHMARK(BM_DataBase_GetStringPathIn2000Groups);

// ---------------------------------------------------------------- memory
//
// Heap growth while one parsed data set is held. GLib keeps freed slices in
// caches of its own, so GKeyFile's figure is only complete in a process where
// no GKeyFile was freed before: run these two alone
// (--benchmark_filter=DataBase_.*Memory), or with G_SLICE=always-malloc.
// They come last because the cold GKeyFile run leaves the C heap fragmented,
// which slows every allocation-heavy benchmark after it.

// Heap bytes in use according to the C library (arena and mapped blocks).
double HeapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return static_cast<double>(m.uordblks + m.hblkhd);
}

void BM_DataBase_MemoryParsed(benchmark::State& state) {
  double bytes = 0;
  const VoString text = DbText();  // the shared text exists before measuring
  for (auto _ : state) {
    const double before = HeapInUse();
    auto* db = new VoDataBase;
    db->ReadFromString(text);
    bytes = HeapInUse() - before;
    db->Delete();
  }
  malloc_trim(0);
  state.counters["heap_MB"] = bytes / 1e6;
}
BENCHMARK(BM_DataBase_MemoryParsed)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_DataBase_Peer_GKeyFileMemory(benchmark::State& state) {
  double bytes = 0;
  Data();
  for (auto _ : state) {
    const double before = HeapInUse();
    GKeyFile* kf = g_key_file_new();
    g_key_file_load_from_data(kf, Data().ini.data(), Data().ini.size(), G_KEY_FILE_NONE, nullptr);
    bytes = HeapInUse() - before;
    g_key_file_free(kf);
  }
  malloc_trim(0);  // hand the freed memory back, so later benchmarks start from a tidy heap
  state.counters["heap_MB"] = bytes / 1e6;
}
BENCHMARK(BM_DataBase_Peer_GKeyFileMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

#ifdef VO_BENCH_LONG_RUNNING
// The state of a desktop program that has run for a while: glibc's dynamic
// mmap threshold pinned where a first large free would have raised it, the
// program's own data alive among freed blocks (the data set's lines as
// std::string, one parsed database), and the database read and copied three
// times before. GKeyFile and inih run in the same process, in the same state.
int main(int argc, char** argv) {
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
  static std::vector<std::string> lines;
  const std::string& text = Data().db;
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    lines.emplace_back(text, at, end - at);
    at = end + 1;
  }
  Parsed();  // the parsed database the program keeps
  for (int i = 0; i < 3; ++i) {
    VoDataBase read;
    read.ReadFromString(DbText());
    VoDataBase copy(read);
    benchmark::DoNotOptimize(copy.GetCount());
  }
  std::printf("long-running state: %zu lines kept, one parsed database kept\n", lines.size());
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
#endif
