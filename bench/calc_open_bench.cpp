// Workbooks.Open of a large .xlsx (20,000 rows: a date and 19 formulas each, 13 of them in
// General cells) through the wrapper and the Calc server, beside the office's own load of the
// same file over UNO in the same office, and the server's second reading of the file alone (its
// sheet parts checked and the General formulas found).
#include "calc/xlsx_writer.h"
#include "dispatch.h"
#include "load.h"
#include "package_check.h"

#include <velmora/automation.h>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/util/XCloseable.hpp>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

using css::uno::UNO_QUERY_THROW;
using vlx::calc::Kind;
using vlx::calc::test::XlsxBook;
using vlx::calc::test::XlsxSheet;

const WORD kCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
const BYTE kString[] = {0x0E, 0};
const BYTE kBool[] = {VT_BOOL, 0};
const int kRows = 20000, kFormulas = 19;

std::string column(int index) { return std::string(1, char('A' + index)); }

// Column A dates; B to T formulas of them with cached results, every third in a number format,
// the others General.
struct Fixture {
  Fixture() {
    XlsxBook book;
    XlsxSheet sheet{"Data", {}, false};
    sheet.cells.reserve(size_t(kRows) * (kFormulas + 1));
    for (int row = 1; row <= kRows; ++row) {
      std::string r = std::to_string(row);
      sheet.cells.push_back({"A" + r, "", std::to_string(40000 + row), "", 14});
      for (int f = 1; f <= kFormulas; ++f)
        sheet.cells.push_back({column(f) + r, "", std::to_string(40000 + row + f),
                               "A" + r + "+" + std::to_string(f), f % 3 == 0 ? 2 : 0});
    }
    book.sheets = {sheet};
    char dir[] = "/tmp/vlx-bench-XXXXXX";
    if (!::mkdtemp(dir))
      std::abort();
    path = std::string(dir) + "/large.xlsx";
    vlx::calc::test::writeXlsx(path, book);
  }
  ~Fixture() {
    std::remove(path.c_str());
    ::rmdir(path.substr(0, path.rfind('/')).c_str());
  }
  std::string path;
};

Fixture &fixture() {
  static Fixture instance;
  return instance;
}

Application &app() {
  static Application instance(vlx::calc::newDispatch({Kind::Application, nullptr, nullptr}));
  return instance;
}

void BM_OpenThroughServer(benchmark::State &state) {
  const std::string &path = fixture().path;
  for (auto _ : state) {
    Workbooks books(app().Workbooks(0));
    LPDISPATCH book = nullptr;
    books.InvokeHelper(0x2AA, kCall, VT_DISPATCH, &book, kString, path.c_str());
    COleDispatchDriver opened(book);
    opened.InvokeHelper(0x115, kCall, VT_EMPTY, nullptr, kBool, FALSE);
  }
}
BENCHMARK(BM_OpenThroughServer)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_LoadDirectUno(benchmark::State &state) {
  const std::string &path = fixture().path;
  app(); // the same office
  auto url = vlx::calc::fileUrl(rtl::OUString::createFromAscii(path.c_str()));
  css::uno::Reference<css::frame::XComponentLoader> loader(vlx::calc::Office::instance().desktop(),
                                                           UNO_QUERY_THROW);
  css::uno::Sequence<css::beans::PropertyValue> props(1);
  props.getArray()[0].Name = "Hidden";
  props.getArray()[0].Value <<= true;
  for (auto _ : state) {
    auto doc = loader->loadComponentFromURL(url, "_blank", 0, props);
    css::uno::Reference<css::util::XCloseable>(doc, UNO_QUERY_THROW)->close(true);
  }
}
BENCHMARK(BM_LoadDirectUno)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_PackageCheck(benchmark::State &state) {
  const std::string &path = fixture().path;
  app();
  auto url = vlx::calc::fileUrl(rtl::OUString::createFromAscii(path.c_str()));
  auto context = vlx::calc::Office::instance().context();
  size_t found = 0;
  for (auto _ : state) {
    auto check = vlx::calc::checkPackage(context, url, path);
    found = check.cells.empty() ? 0 : check.cells[0].generalFormulas.size();
    benchmark::DoNotOptimize(found);
  }
  state.counters["general_formulas"] = double(found);
}
BENCHMARK(BM_PackageCheck)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
