// SafeArrayCreate then SafeArrayDestroy of an array of 4-byte integers that is never written:
// 4 GiB of them beside 4 KiB. Freeing data nobody wrote should bring none of it in, so the big
// array costs about what the small one does; the counter is the growth of the process's peak
// resident memory over the run, in MiB.
#include <velmora/win32.h>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace {

long peakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void BM_CreateDestroyUntouched(benchmark::State &state) {
  SAFEARRAYBOUND bound = {static_cast<ULONG>(state.range(0) / 4), 0};
  const long before = peakKiB();
  for (auto _ : state) {
    SAFEARRAY *array = SafeArrayCreate(VT_I4, 1, &bound);
    if (!array) {
      state.SkipWithError("the array could not be made");
      break;
    }
    benchmark::DoNotOptimize(array->pvData);
    SafeArrayDestroy(array);
  }
  state.counters["peak MiB"] = benchmark::Counter(double(peakKiB() - before) / 1024);
}
BENCHMARK(BM_CreateDestroyUntouched)->Arg(4 << 10)->Arg(4LL << 30)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
