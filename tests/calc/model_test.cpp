// The spreadsheet objects over a real soffice.
#include "model.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

namespace vlx::calc {
namespace {
using css::uno::Any;

Any call(const Object &self, const char *name, const Args &args = {}) {
  const Member *m = findMember(self.kind, name);
  EXPECT_NE(m, nullptr) << name;
  return invoke(*m, self, args);
}
Object object(const Object &self, const char *name, const Args &args = {}) {
  const Member *m = findMember(self.kind, name);
  return answerObject(*m, invoke(*m, self, args));
}

TEST(CalcModel, Smoke) {
  Object app{Kind::Application, nullptr};
  Object books = object(app, "Workbooks");
  ASSERT_EQ(books.kind, Kind::Workbooks);
  Object book = object(books, "Add");
  ASSERT_EQ(book.kind, Kind::Workbook);
  Object sheets = object(book, "Worksheets");
  EXPECT_EQ(sheets.kind, Kind::Worksheets);
  Object sheet = object(sheets, "Item", {Any(sal_Int16(1))});
  EXPECT_EQ(sheet.kind, Kind::Worksheet);
  OUString name;
  call(sheet, "Name") >>= name;
  printf("sheet %s\n", OUStringToOString(name, RTL_TEXTENCODING_UTF8).getStr());
  Object range = object(sheet, "Range", {Any(OUString("B2"))});
  invoke(*findMember(Kind::Range, "Value"), range, {}, new Any(double(42)));
  double v = 0;
  call(range, "Value") >>= v;
  EXPECT_EQ(v, 42);
  Office::instance().stop();
}
} // namespace
} // namespace vlx::calc
