// Listing a key's values through the accessor over a prefix: the whole
// listing must stay linear in the number of values.
#include <benchmark/benchmark.h>

#include "registry/cRegistry.h"
#include "tests/support/registry_env.h"

namespace {

void BM_EnumerateValues(benchmark::State& state) {
  testenv::RegistryEnv env;
  const int count = static_cast<int>(state.range(0));
  env.FillValues("Software\\Bench", count);
  skelvin::cRegistry reg;
  reg.ClassKey(static_cast<std::int32_t>(env.root()));
  reg.SectionKey(u"Software\\Bench");
  std::vector<skelvin::ValueEntry> values;
  std::int16_t listed = 0;
  for (auto _ : state) {
    reg.EnumerateValues(values, listed);
    benchmark::DoNotOptimize(values.data());
  }
  if (listed != count) state.SkipWithError("not every value was listed");
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_EnumerateValues)->Arg(1000)->Arg(32767)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
