// Range::GetValue through the wrapper, the Calc server's dispatch and UNO, beside the same
// getValue called directly on the UNO range in the same office, in the same run.
#include "dispatch.h"

#include <velmora/automation.h>

#include <ooo/vba/excel/XRange.hpp>

#include <benchmark/benchmark.h>

namespace {

using vlx::calc::Kind;

const WORD kCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

// One workbook with A1 = 42 for the whole run; the office ends with the process.
struct Sheet {
  Sheet() : app(vlx::calc::newDispatch({Kind::Application, nullptr, nullptr})) {
    Workbooks books(app.Workbooks(0));
    LPDISPATCH book = nullptr;
    books.InvokeHelper(0xB5, kCall, VT_DISPATCH, &book, nullptr);
    workbook.AttachDispatch(book);
    cell.AttachDispatch(app.Range(const_cast<char *>("A1")));
    cell.SetValue(const_cast<char *>("42"));
    uno.set(vlx::calc::objectOf(cell.m_lpDispatch)->ref, css::uno::UNO_QUERY_THROW);
  }
  Application app;
  COleDispatchDriver workbook;
  Range cell;
  css::uno::Reference<ooo::vba::excel::XRange> uno;
};

Sheet &sheet() {
  static Sheet instance;
  return instance;
}

void BM_RangeGetValueThroughWrapper(benchmark::State &state) {
  Range &cell = sheet().cell;
  for (auto _ : state) {
    VARIANT value = cell.GetValue();
    benchmark::DoNotOptimize(value.dblVal);
    VariantClear(&value);
  }
}
BENCHMARK(BM_RangeGetValueThroughWrapper)->UseRealTime();

void BM_RangeGetValueDirectUno(benchmark::State &state) {
  auto &range = sheet().uno;
  for (auto _ : state) {
    css::uno::Any value = range->getValue();
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_RangeGetValueDirectUno)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
