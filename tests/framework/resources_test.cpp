// String resources: the search along the module chain, loading and formatting.
#include <velmora/afx.h>

#include <gtest/gtest.h>

#include "framework/print.h"

#include <cstdint>

namespace {

HINSTANCE fakeModule(std::uintptr_t n) { return reinterpret_cast<HINSTANCE>(n * 0x10000); }

// Each test runs with its own resource handle and leaves no table or chain entry behind.
class ResourcesTest : public ::testing::Test {
protected:
  ResourcesTest() { AfxSetResourceHandle(app_); }
  ~ResourcesTest() override {
    for (HINSTANCE module : {app_, library_, system_})
      vlx::unregisterStringTable(module);
    AfxSetResourceHandle(savedHandle_);
  }
  static void add(HINSTANCE module, UINT id, const char *text) {
    const vlx::StringResource strings[] = {{id, text}};
    vlx::registerStringTable(module, strings);
  }
  static CString load(UINT id) {
    CString text("unchanged");
    text.LoadString(id);
    return text;
  }
  const HINSTANCE savedHandle_ = AfxGetResourceHandle();
  const HINSTANCE app_ = fakeModule(1), library_ = fakeModule(2), system_ = fakeModule(3);
};

// The resource handle first, then the extension modules, system modules last.
TEST_F(ResourcesTest, SearchOrderAlongTheChain) {
  AFX_EXTENSION_MODULE systemState = {TRUE, system_, system_, nullptr, nullptr};
  auto *systemLibrary = new CDynLinkLibrary(systemState, TRUE);
  auto *library = new CDynLinkLibrary(fakeModule(9), library_);
  EXPECT_EQ(load(7), "unchanged");
  add(system_, 7, "system");
  EXPECT_EQ(load(7), "system");
  add(library_, 7, "library");
  EXPECT_EQ(load(7), "library");
  add(app_, 7, "application");
  EXPECT_EQ(load(7), "application");
  AfxSetResourceHandle(fakeModule(4)); // another handle hides the application's strings
  EXPECT_EQ(load(7), "library");
  delete library;
  EXPECT_EQ(load(7), "system");
  delete systemLibrary;
  EXPECT_EQ(load(7), "unchanged");
}

TEST_F(ResourcesTest, FormatString1) {
  const struct {
    const char *format;
    const char *arg;
    const char *expected;
  } cases[] = {{"Copy%1 of ", "", "Copy of "}, // as the library calls it
               {"%1 and %1", "x", "x and x"},
               {"null %1.", nullptr, "null ."}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.format);
    add(app_, 5, c.format);
    CString out("stale");
    AfxFormatString1(out, 5, c.arg);
    EXPECT_EQ(out, c.expected);
  }
}

} // namespace
