// Reading a solver model: 10^5 equations of the shapes a solver writes, one per line.
#include <benchmark/benchmark.h>

#include <string>

#include "math/smt/yices/parser.hpp"

namespace {

std::string makeModel(int equations) {
  std::string m;
  m.reserve(static_cast<std::size_t>(equations) * 24);
  for (int i = 0; i < equations; ++i) {
    switch (i % 3) {
      case 0:
        m += "(= (f " + std::to_string(i % 97) + " " + std::to_string(i % 13) + ") g_obj" +
             std::to_string(i % 5) + ")\n";
        break;
      case 1:
        m += "(= x" + std::to_string(i) + " " + std::to_string(i * 7 - 50000) + ")\n";
        break;
      default:
        m += "(= (h " + std::to_string(i % 11) + " " + std::to_string(i % 7) + ") -" +
             std::to_string(i % 89 + 1) + "/" + std::to_string(i % 3 + 2) + ")\n";
        break;
    }
  }
  return m;
}

void BM_ParseModel(benchmark::State& state) {
  const std::string model = makeModel(static_cast<int>(state.range(0)));
  std::size_t n = 0;
  for (auto _ : state) {
    auto es = vorlax::yices::parseExpYs(model);
    n = es.size();
    benchmark::DoNotOptimize(es);
  }
  if (n != static_cast<std::size_t>(state.range(0))) state.SkipWithError("wrong number of equations");
  // Each iteration reads the whole model and frees its trees, as a run does once.
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(model.size()));
  // The same rate in decimal megabytes per second (shown as "MB=<rate>/s").
  state.counters["MB"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * static_cast<double>(model.size()) / 1e6,
      benchmark::Counter::kIsRate);
  state.counters["model_MB"] = static_cast<double>(model.size()) / 1e6;
  state.counters["equations"] = static_cast<double>(n);
}

}  // namespace

BENCHMARK(BM_ParseModel)->Arg(100000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
