// Range::GetValue through the wrapper, the Calc server's dispatch and UNO, beside the same reads
// made directly over UNO in the same office, in the same run: one held cell, a block of 10,000
// cells, and the same cells read one at a time.
#include "dispatch.h"

#include <velmora/automation.h>

#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <ooo/vba/excel/XRange.hpp>

#include <benchmark/benchmark.h>

namespace {

using css::uno::UNO_QUERY_THROW;
using vlx::calc::Kind;

const WORD kCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
const DISPID kValue = 0x6;
const LONG kRows = 1000, kColumns = 10;
char kBlock[] = "A1:J1000";

// One workbook for the whole run: A1 = 42, A1:J1000 numbers written as one block; the office
// ends with the process.
struct Sheet {
  Sheet() : app(vlx::calc::newDispatch({Kind::Application, nullptr, nullptr})) {
    Workbooks books(app.Workbooks(0));
    LPDISPATCH book = nullptr;
    books.InvokeHelper(0xB5, kCall, VT_DISPATCH, &book, nullptr);
    workbook.AttachDispatch(book);
    block.AttachDispatch(app.Range(kBlock));
    fill();
    cell.AttachDispatch(app.Range(const_cast<char *>("A1")));
    cell.SetValue(const_cast<char *>("42"));
    uno.set(vlx::calc::objectOf(cell.m_lpDispatch)->ref, UNO_QUERY_THROW);
    // The same cells in the sheet API, for the direct reads.
    css::uno::Reference<css::sheet::XSpreadsheetDocument> doc(
        vlx::calc::objectOf(workbook.m_lpDispatch)->document, UNO_QUERY_THROW);
    css::uno::Reference<css::container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
    css::uno::Reference<css::table::XCellRange> first(sheets->getByIndex(0), UNO_QUERY_THROW);
    unoBlock.set(first->getCellRangeByName("A1:J1000"), UNO_QUERY_THROW);
    unoCell = first->getCellByPosition(0, 0);
    unoCellData.set(first->getCellRangeByName("A1"), UNO_QUERY_THROW);
  }
  void fill() {
    SAFEARRAYBOUND bounds[2] = {{ULONG(kRows), 1}, {ULONG(kColumns), 1}};
    VARIANT values;
    VariantInit(&values);
    V_VT(&values) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&values) = SafeArrayCreate(VT_VARIANT, 2, bounds);
    for (LONG row = 1; row <= kRows; ++row)
      for (LONG column = 1; column <= kColumns; ++column) {
        LONG at[2] = {row, column};
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = VT_R8;
        V_R8(&v) = row * 0.5 + column;
        SafeArrayPutElement(V_ARRAY(&values), at, &v);
      }
    block.SetProperty(kValue, VT_VARIANT, &values);
    VariantClear(&values);
  }
  Application app;
  COleDispatchDriver workbook;
  Range cell, block;
  css::uno::Reference<ooo::vba::excel::XRange> uno;
  css::uno::Reference<css::sheet::XCellRangeData> unoBlock;
  css::uno::Reference<css::table::XCell> unoCell;
  css::uno::Reference<css::sheet::XCellRangeData> unoCellData;
};

Sheet &sheet() {
  static Sheet instance;
  return instance;
}

// (d) A held one-cell range, beside XCell::getValue and the Excel objects' own getValue.
void BM_RangeGetValueThroughWrapper(benchmark::State &state) {
  Range &cell = sheet().cell;
  for (auto _ : state) {
    VARIANT value = cell.GetValue();
    benchmark::DoNotOptimize(value.dblVal);
    VariantClear(&value);
  }
}
BENCHMARK(BM_RangeGetValueThroughWrapper)->UseRealTime();

void BM_CellGetValueDirectUno(benchmark::State &state) {
  auto &cell = sheet().unoCell;
  for (auto _ : state)
    benchmark::DoNotOptimize(cell->getValue());
}
BENCHMARK(BM_CellGetValueDirectUno)->UseRealTime();

// The one-cell block read the held range makes, straight from the sheet API.
void BM_CellGetDataArrayDirectUno(benchmark::State &state) {
  auto &cell = sheet().unoCellData;
  for (auto _ : state)
    benchmark::DoNotOptimize(cell->getDataArray());
}
BENCHMARK(BM_CellGetDataArrayDirectUno)->UseRealTime();

void BM_RangeGetValueDirectUno(benchmark::State &state) {
  auto &range = sheet().uno;
  for (auto _ : state) {
    css::uno::Any value = range->getValue();
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_RangeGetValueDirectUno)->UseRealTime();

// (a) A1:J1000 as one block: a held range, and one asked for again each time (which learns its
// cells' types again).
void BM_BlockGetValueHeld(benchmark::State &state) {
  Range &block = sheet().block;
  for (auto _ : state) {
    VARIANT value = block.GetValue();
    benchmark::DoNotOptimize(value.parray);
    VariantClear(&value);
  }
  state.SetItemsProcessed(state.iterations() * kRows * kColumns);
}
BENCHMARK(BM_BlockGetValueHeld)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_BlockGetValueNewRange(benchmark::State &state) {
  Application &app = sheet().app;
  for (auto _ : state) {
    Range block(app.Range(kBlock));
    VARIANT value = block.GetValue();
    benchmark::DoNotOptimize(value.parray);
    VariantClear(&value);
  }
  state.SetItemsProcessed(state.iterations() * kRows * kColumns);
}
BENCHMARK(BM_BlockGetValueNewRange)->UseRealTime()->Unit(benchmark::kMillisecond);

// (c) The same block straight from the sheet API over the same bridge.
void BM_BlockGetDataArrayDirectUno(benchmark::State &state) {
  auto &block = sheet().unoBlock;
  for (auto _ : state) {
    auto rows = block->getDataArray();
    benchmark::DoNotOptimize(rows);
  }
  state.SetItemsProcessed(state.iterations() * kRows * kColumns);
}
BENCHMARK(BM_BlockGetDataArrayDirectUno)->UseRealTime()->Unit(benchmark::kMillisecond);

// (b) The first row's 10 cells one at a time: Cells(1, column) and its value.
void BM_CellsGetValueOneByOne(benchmark::State &state) {
  Range &block = sheet().block;
  for (auto _ : state)
    for (LONG column = 1; column <= kColumns; ++column) {
      COleVariant row(1L), at(column);
      Range cell(block.Cells(row, at));
      VARIANT value = cell.GetValue();
      benchmark::DoNotOptimize(value.dblVal);
      VariantClear(&value);
    }
  state.SetItemsProcessed(state.iterations() * kColumns);
}
BENCHMARK(BM_CellsGetValueOneByOne)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
