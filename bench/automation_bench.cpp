// One wrapper call, Range::Offset(1, 2), through the framework's invoke into a test double,
// beside the double's Invoke called directly with the same arguments; both count the heap
// allocations they make (operator new: the argument array is the invoke's only one).
#include "support/recording_dispatch.h"

#include <velmora/automation.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> allocations{0};
} // namespace

// GCC sees the replaced operators end in malloc and free and takes them for a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void *operator new(std::size_t size) {
  ++allocations;
  if (void *p = std::malloc(size ? size : 1))
    return p;
  throw std::bad_alloc();
}
void *operator new[](std::size_t size) { return operator new(size); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }

namespace {

// The double answers every call with itself, as a range answers Offset with a range.
struct Target {
  Target() {
    spreadsheet.record = false;
    V_VT(&spreadsheet.answer.result) = VT_DISPATCH;
    V_DISPATCH(&spreadsheet.answer.result) = &spreadsheet;
  }
  vlx::test::RecordingDispatch spreadsheet;
};

void reportAllocations(benchmark::State &state, long before) {
  state.counters["allocs/call"] =
      benchmark::Counter(double(allocations - before) / double(state.iterations()));
}

void BM_RangeOffsetThroughInvoke(benchmark::State &state) {
  Target target;
  Range range;
  range.AttachDispatch(&target.spreadsheet, FALSE);
  long before = allocations;
  for (auto _ : state) {
    LPDISPATCH next = range.Offset(1, 2);
    benchmark::DoNotOptimize(next);
    next->Release();
  }
  reportAllocations(state, before);
}
BENCHMARK(BM_RangeOffsetThroughInvoke);

// The floor: the same Invoke, its arguments built by hand on the stack.
void BM_DirectInvokeBaseline(benchmark::State &state) {
  Target target;
  IDispatch *dispatch = &target.spreadsheet;
  long before = allocations;
  for (auto _ : state) {
    VARIANT args[2];
    V_VT(&args[0]) = VT_I4;
    V_I4(&args[0]) = 2;
    V_VT(&args[1]) = VT_I4;
    V_I4(&args[1]) = 1;
    DISPPARAMS params = {args, nullptr, 2, 0};
    VARIANT result;
    VariantInit(&result);
    dispatch->Invoke(0xFE, IID_NULL, 0, 3, &params, &result, nullptr, nullptr);
    benchmark::DoNotOptimize(result.pdispVal);
    result.pdispVal->Release();
  }
  reportAllocations(state, before);
}
BENCHMARK(BM_DirectInvokeBaseline);

} // namespace

BENCHMARK_MAIN();
