// Micro-benchmarks of the native build: loading an export into the
// in-memory registry, and a whole run over a loaded registry. The exports
// are generated in memory (gen.h), so no file system is measured.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "gen.h"
#include "memreg.h"
#include "regfile.h"
#include "run.h"

namespace {

const std::string &exportof(int n) {
  static std::map<int, std::string> cache;
  std::string &s = cache[n];
  if (s.empty())
    genexport(n, s);
  return s;
}

void load(benchmark::State &st, const std::string &reg) {
  mrclear();
  unsigned long line = 0;
  char msg[160];
  if (regloadmem(reg.data(), reg.size(), &line, msg, sizeof msg) != 0) {
    st.SkipWithError(msg);
    return;
  }
  mrready();
}

// Export bytes loaded per second: mrclear, then regloadmem of the export.
void bmload(benchmark::State &st) {
  const std::string &reg = exportof((int)st.range(0));
  for (auto _ : st) {
    load(st, reg);
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed((int64_t)st.iterations() * (int64_t)reg.size());
  st.counters["keys"] = mrnkeys();
}

run rec;
char outbuf[1 << 16];

// A whole run over a loaded registry, printing to /dev/null; argc 1 is a
// debug run, 2 a quiet one.
void bmrun(benchmark::State &st, int argc) {
  load(st, exportof((int)st.range(0)));
  FILE *f = fopen("/dev/null", "w");
  if (f == nullptr) {
    st.SkipWithError("cannot open /dev/null");
    return;
  }
  setvbuf(f, outbuf, _IOFBF, sizeof outbuf);
  rec.out = f;
  for (auto _ : st) {
    int status = comserial(rec, argc);
    if (status != 0)
      st.SkipWithError("the run failed");
    fflush(f);
  }
  fclose(f);
  st.counters["adapters"] = (double)st.range(0);
}

void bmdebug(benchmark::State &st) {
  bmrun(st, 1);
}
void bmquiet(benchmark::State &st) {
  bmrun(st, 2);
}

}  // namespace

BENCHMARK(bmload)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(bmdebug)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(bmquiet)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
