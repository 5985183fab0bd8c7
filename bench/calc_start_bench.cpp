// From nothing to the first cell read: a host's Application, a new workbook and A1's value, each
// iteration in an office started for it. Beside it, the same with fast starts off (a fresh
// profile: the office's graphics self-test and its restart after setting the profile up) and with
// the installed version written but no prepared profile kept.
#include "dispatch.h"
#include "office.h"

#include <velmora/automation.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

using vlx::calc::Kind;

const WORD kCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
const BYTE kText[] = {0x0E, 0}; // narrow text, made a BSTR by the driver
const BYTE kInt[] = {VT_I4, 0};

enum Mode { Off, VersionOnly, Full };

// Through the workbook's first sheet, as `vlx sheet get` does: headless there is no active
// window for Application.Range.
void readFirstCell() {
  Application app(vlx::calc::newDispatch({Kind::Application, nullptr, nullptr}));
  Workbooks books(app.Workbooks(0));
  LPDISPATCH book = nullptr;
  books.InvokeHelper(0xB5, kCall, VT_DISPATCH, &book, nullptr);
  COleDispatchDriver workbook(book);
  LPDISPATCH first = nullptr;
  workbook.InvokeHelper(0x1EE, kCall, VT_DISPATCH, &first, kInt, 1);
  COleDispatchDriver sheet(first);
  LPDISPATCH found = nullptr;
  sheet.InvokeHelper(0xC5, kCall, VT_DISPATCH, &found, kText, "A1");
  Range cell(found);
  VARIANT value = cell.GetValue();
  benchmark::DoNotOptimize(value.vt);
  VariantClear(&value);
}

// The office's complaint, or empty.
std::string firstCell() {
  try {
    readFirstCell();
    return {};
  } catch (COleDispatchException *e) {
    std::string what = e->m_strDescription.GetString();
    e->Delete();
    return what.empty() ? "failed" : what;
  }
}

void BM_StartToFirstCell(benchmark::State &state) {
  // The prepared profile goes to a cache of this run's own, not the user's.
  static const std::string cache = [] {
    std::string dir = std::filesystem::temp_directory_path().string() + "/calc-start-XXXXXX";
    return ::mkdtemp(dir.data()) ? dir : std::string();
  }();
  auto mode = static_cast<Mode>(state.range(0));
  if (cache.empty()) {
    state.SkipWithError("no temporary directory");
    return;
  }
  ::setenv("VELMORA_CALC_FAST_START", mode == Off ? "0" : "1", 1);
  ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  std::error_code ec;
  std::filesystem::remove_all(cache + "/velmora", ec);
  if (mode == Full) {
    std::string error = firstCell(); // the start that prepares the profile
    vlx::calc::Office::instance().stop();
    if (!error.empty())
      state.SkipWithError(error.c_str());
  }
  for (auto _ : state) {
    if (std::string error = firstCell(); !error.empty()) {
      state.SkipWithError(error.c_str());
      break;
    }
    state.PauseTiming();
    vlx::calc::Office::instance().stop();
    if (mode == VersionOnly)
      std::filesystem::remove_all(cache + "/velmora", ec);
    state.ResumeTiming();
  }
  vlx::calc::Office::instance().stop();
  std::filesystem::remove_all(cache, ec); // made again, private, by the next start that needs it
}
BENCHMARK(BM_StartToFirstCell)
    ->ArgName("mode")
    ->Arg(Off)
    ->Arg(VersionOnly)
    ->Arg(Full)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
