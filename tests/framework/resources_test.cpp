// String resources: registration, the search along the module chain, loading and formatting.
#include <velmora/afx.h>

#include <gtest/gtest.h>

#include "framework/print.h"

#include <cstdint>
#include <string>

namespace {

HINSTANCE fakeModule(std::uintptr_t n) { return reinterpret_cast<HINSTANCE>(n * 0x10000); }

// Each test runs with its own resource handle and leaves no table or chain entry behind.
class ResourcesTest : public ::testing::Test {
protected:
  ResourcesTest() : savedHandle_(AfxGetResourceHandle()) { AfxSetResourceHandle(app_); }
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

  HINSTANCE savedHandle_;
  const HINSTANCE app_ = fakeModule(1);
  const HINSTANCE library_ = fakeModule(2);
  const HINSTANCE system_ = fakeModule(3);
};

TEST_F(ResourcesTest, LoadingCuttingAndMissingStrings) {
  static const vlx::StringResource strings[] = {{1, "first"}, {2, "second"}, {3, ""}};
  vlx::registerStringTable(app_, strings);
  EXPECT_EQ(load(1), "first");
  EXPECT_EQ(load(3), "unchanged"); // an empty text is no string
  EXPECT_EQ(load(42), "unchanged");
  char buffer[4] = "xxx";
  EXPECT_EQ(AfxLoadString(2, buffer, sizeof buffer), 3);
  EXPECT_STREQ(buffer, "sec");
  EXPECT_EQ(AfxLoadString(42, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
  CString formatted("unchanged");
  AfxFormatString1(formatted, 42, "arg");
  EXPECT_EQ(formatted, "");
  vlx::unregisterStringTable(app_);
  EXPECT_EQ(load(2), "unchanged");
}

// The resource handle first, then the extension modules, system modules last.
TEST_F(ResourcesTest, SearchOrderAlongTheChain) {
  AFX_EXTENSION_MODULE systemState = {TRUE, system_, system_, nullptr, nullptr};
  auto *systemLibrary = new CDynLinkLibrary(systemState, TRUE);
  auto *library = new CDynLinkLibrary(fakeModule(9), library_);
  add(system_, 7, "system");
  EXPECT_EQ(load(7), "system");
  add(library_, 7, "library");
  EXPECT_EQ(load(7), "library");
  add(app_, 7, "application");
  EXPECT_EQ(load(7), "application");
  // Another resource handle hides the application's strings.
  AfxSetResourceHandle(fakeModule(4));
  EXPECT_EQ(load(7), "library");
  delete library;
  EXPECT_EQ(load(7), "system");
  delete systemLibrary;
  EXPECT_EQ(load(7), "unchanged");
}

TEST_F(ResourcesTest, FormatString) {
  const struct {
    const char *format;
    const char *arg;
    const char *expected;
  } cases[] = {
      {"Backup of ", "", "Backup of "},
      {"Copy%1 of ", "", "Copy of "},
      {"%1 and %1", "x", "x and x"},
      {"%2 is missing", "x", "? is missing"},
      {"%%1", "x", "%x"},
      {"%0 %a %1", "x", "%0 %a x"},
      {"null %1.", nullptr, "null ."},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.format);
    add(app_, 5, c.format);
    CString out("stale");
    AfxFormatString1(out, 5, c.arg);
    EXPECT_EQ(out, c.expected);
  }
}

} // namespace
