// Reading a solver model: equations of the shapes a solver writes, one per line, in
// generated models of about 1 and 8 MB. BM_ParseModel is the reading the program does
// (parseExpYs) at a later check of a run, when the node memory of the model before is kept
// for it; BM_ParseModelFirst is the same reading from fresh memory, as at the first check;
// BM_ParseModelGrammar reads the same text by the engine grammar alone, the reference that
// parseExpYs falls back to. "faults_per_MB" counts the page faults of an iteration per
// megabyte of model.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <string>

#include "math/smt/yices/parser.hpp"

namespace {

// Equations of three shapes (a function entry equal to an object, a variable equal to an
// integer, a function entry equal to a negative fraction) until the text holds at least
// `bytes` bytes.
std::string makeModel(std::size_t bytes) {
  std::string m;
  m.reserve(bytes + 64);
  for (int i = 0; m.size() < bytes; ++i) {
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

std::size_t countLines(const std::string& m) {
  std::size_t n = 0;
  for (char c : m) n += c == '\n';
  return n;
}

long minorFaults() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_minflt;
}

// Each iteration reads the whole model and frees its trees, as a run does once per check.
// When fresh, the memory kept from the iteration before is handed back first and the C
// library returns its free memory to the system (untimed), so that the reading writes pages
// it has to fault in, as the first reading of a run does.
template <class Read>
void parseModel(benchmark::State& state, Read read, bool fresh = false) {
  const std::string model = makeModel(static_cast<std::size_t>(state.range(0)));
  const std::size_t equations = countLines(model);
  std::size_t n = 0;
  const long faults = minorFaults();
  for (auto _ : state) {
    if (fresh) {
      state.PauseTiming();
      vorlax::yices::grammar::releaseKeptNodeMemory();
      malloc_trim(0);
      state.ResumeTiming();
    }
    auto es = read(model);
    n = es.size();
    benchmark::DoNotOptimize(es);
  }
  if (n != equations) state.SkipWithError("wrong number of equations");
  const double iterations = static_cast<double>(state.iterations());
  const double mb = static_cast<double>(model.size()) / 1e6;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(model.size()));
  // The same rate in decimal megabytes per second (shown as "MB=<rate>/s").
  state.counters["MB"] = benchmark::Counter(iterations * mb, benchmark::Counter::kIsRate);
  state.counters["model_MB"] = mb;
  state.counters["equations"] = static_cast<double>(n);
  state.counters["faults_per_MB"] = static_cast<double>(minorFaults() - faults) / (iterations * mb);
}

// The figure is that of the direct reader only if it reads the model without giving up.
bool readDirectly(benchmark::State& state) {
  if (vorlax::yices::grammar::readExpYsDirect(makeModel(4096))) return true;
  state.SkipWithError("the direct reader gave up on the generated model");
  return false;
}

void BM_ParseModel(benchmark::State& state) {
  if (readDirectly(state))
    parseModel(state, [](const std::string& m) { return vorlax::yices::parseExpYs(m); });
}

void BM_ParseModelFirst(benchmark::State& state) {
  if (readDirectly(state))
    parseModel(state, [](const std::string& m) { return vorlax::yices::parseExpYs(m); }, true);
}

void BM_ParseModelGrammar(benchmark::State& state) {
  parseModel(state, [](const std::string& m) { return vorlax::yices::grammar::parseExpYsByGrammar(m); });
}

}  // namespace

BENCHMARK(BM_ParseModel)->Arg(1 << 20)->Arg(8 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseModelFirst)->Arg(1 << 20)->Arg(8 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseModelGrammar)->Arg(1 << 20)->Arg(8 << 20)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
