// The store's own cost: loading (read and parse) and saving (serialise,
// write, flush, rename, flush the directory) a prefix's system.reg at 1, 10
// and 100 times the size of a fresh prefix's file, synthesised by
// replicating its keys under Replica<n> copies and written as wineserver
// writes that registry (its keys in order). The base file is
// $SKELVIN_BENCH_SYSTEM_REG (a fresh `wineboot --init` file in scripts/bench),
// else the sample in the test data. The floor at each size (a durable copy
// of the file) shows what the disk alone costs.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>

#include "bench/floor.h"
#include "wineprefix/hive_file.h"
#include "winereg/reader.h"
#include "winereg/writer.h"

namespace {

namespace fs = std::filesystem;

std::string BaseFile() {
  const char* path = std::getenv("SKELVIN_BENCH_SYSTEM_REG");
  std::ifstream in(path != nullptr && *path != '\0' ? path : SKELVIN_BENCH_DATA "/wine64_system.reg", std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The base file with its sections repeated `times` times in all: copy r > 0
// of section [Path] is [Replica<r>\\Path].
std::string Replicated(int times) {
  const std::string base = BaseFile();
  const std::size_t body = base.find("\n[");
  if (body == std::string::npos) return base;
  std::string out = base;
  const std::string sections = base.substr(body);
  for (int r = 1; r < times; ++r) {
    const std::string prefix = "\n[Replica" + std::to_string(r) + "\\\\";
    std::string copy;
    copy.reserve(sections.size() + 4096);
    std::size_t at = 0;
    for (std::size_t next; (next = sections.find("\n[", at)) != std::string::npos; at = next + 2) {
      copy.append(sections, at, next - at);
      copy += prefix;
    }
    copy.append(sections, at, std::string::npos);
    out += copy;
  }
  return out;
}

// A temporary prefix holding the replicated system.reg.
class BenchPrefix {
 public:
  explicit BenchPrefix(int times) {
    std::string pattern = (fs::temp_directory_path() / "skelvin-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    dir_ = pattern;
    std::optional<winereg::Hive> hive = winereg::Parse(winereg::ParseInput::FromString(Replicated(times)));
    if (!hive) std::abort();
    std::ofstream(dir_ / "system.reg", std::ios::binary) << winereg::Save(*hive);
  }
  ~BenchPrefix() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  fs::path file() const { return dir_ / "system.reg"; }
  double bytes() const { return static_cast<double>(fs::file_size(file())); }

 private:
  fs::path dir_;
};

void Report(benchmark::State& state, const BenchPrefix& prefix) {
  state.counters["file_bytes"] = prefix.bytes();
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * prefix.bytes()));
}

void BM_StoreLoad(benchmark::State& state) {
  BenchPrefix prefix(static_cast<int>(state.range(0)));
  wineprefix::HiveFile file(prefix.file(), u"REGISTRY\\Machine");
  winereg::Hive* hive = nullptr;
  for (auto _ : state) {
    file.Invalidate();
    if (file.Load(&hive, winereg::Arch::kWin64).code != 0) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(hive);
  }
  Report(state, prefix);
}

void BM_StoreSave(benchmark::State& state) {
  BenchPrefix prefix(static_cast<int>(state.range(0)));
  wineprefix::HiveFile file(prefix.file(), u"REGISTRY\\Machine");
  winereg::Hive* hive = nullptr;
  if (file.Load(&hive, winereg::Arch::kWin64).code != 0) state.SkipWithError("load failed");
  for (auto _ : state) {
    if (file.Save().code != 0) state.SkipWithError("save failed");
  }
  Report(state, prefix);
}

void BM_StoreLoadSave(benchmark::State& state) {
  BenchPrefix prefix(static_cast<int>(state.range(0)));
  wineprefix::HiveFile file(prefix.file(), u"REGISTRY\\Machine");
  winereg::Hive* hive = nullptr;
  for (auto _ : state) {
    file.Invalidate();
    if (file.Load(&hive, winereg::Arch::kWin64).code != 0 || file.Save().code != 0) state.SkipWithError("failed");
  }
  Report(state, prefix);
}

// What the disk alone costs at that size: the file copied durably.
void BM_StoreFloor(benchmark::State& state) {
  BenchPrefix prefix(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    if (!skelvin_bench::CopyDurably(prefix.file().string())) state.SkipWithError("copy failed");
  }
  Report(state, prefix);
}

// The file format alone, parse then save in memory, on files of one shape
// growing: many keys, and one key with ever more values up to the most a key
// can hold (32767). Linear time is what the format allows; the fitted
// complexity shows a quadratic step at once.
std::string ManyKeys(std::int64_t count) {
  std::string text = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n";
  for (std::int64_t i = 0; i < count; ++i) {
    char line[96];
    std::snprintf(line, sizeof line, "\n[Software\\\\K%07lld] 1690913106\n#time=1d9c4a2b3c4d5e6\n@=\"v\"\n",
                  static_cast<long long>(i));
    text += line;
  }
  return text;
}

std::string ManyValues(std::int64_t count) {
  std::string text =
      "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n"
      "\n[Many] 1690913106\n#time=1d9c4a2b3c4d5e6\n";
  for (std::int64_t i = 0; i < count; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "\"Value%05lld\"=dword:%08llx\n", static_cast<long long>(i),
                  static_cast<unsigned long long>(i));
    text += line;
  }
  return text;
}

void ParseSave(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    std::optional<winereg::Hive> hive = winereg::Parse(winereg::ParseInput::FromString(text));
    if (!hive || winereg::Save(*hive) != text) state.SkipWithError("not saved as parsed");
  }
  state.SetComplexityN(state.range(0));
  // The counter every benchmark here reports (the CSV output wants the same set).
  state.counters["file_bytes"] = static_cast<double>(text.size());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_FormatManyKeys(benchmark::State& state) { ParseSave(state, ManyKeys(state.range(0))); }
void BM_FormatManyValues(benchmark::State& state) { ParseSave(state, ManyValues(state.range(0))); }

BENCHMARK(BM_FormatManyKeys)->RangeMultiplier(2)->Range(20000, 160000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_FormatManyValues)->RangeMultiplier(2)->Range(4096, 32767)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_StoreLoad)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StoreSave)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StoreLoadSave)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StoreFloor)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
