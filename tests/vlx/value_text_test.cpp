// Values as the tool shows and reads them: every type's text, JSON and command-line form.
#include <vlx/core/errors.h>
#include <vlx/formats/reg_file.h>
#include <vlx/formats/value_text.h>
#include <vlx/sheet/sheet.h>
#include <vlx/store/snapshot.h>

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

namespace vlx::cli {
namespace {

using namespace std::string_literals;

TEST(VlxValueText, TypedDataReadsBackAsItsTextAndJson) {
  // type, as typed, as stored, as shown, as JSON
  const std::tuple<uint32_t, std::string, std::string, std::string, nlohmann::json> cases[] = {
      {reg::kTypeSz, "a\tb", "a\tb\0"s, "a\\tb", "a\tb"},
      {reg::kTypeExpandSz, "%X%", "%X%\0"s, "%X%", "%X%"},
      {reg::kTypeMultiSz, "one\\0two", "one\0two\0\0"s, "one\\0two", {"one", "two"}},
      {reg::kTypeMultiSz, "", "\0"s, "", nlohmann::json::array()},
      {reg::kTypeDword, "0xFFFFFFFF", "\xff\xff\xff\xff"s, "0xffffffff (4294967295)", 4294967295u},
      {reg::kTypeDword, "7", "\x07\0\0\0"s, "0x7 (7)", 7},
      {reg::kTypeQword, "0x100000000", "\0\0\0\0\x01\0\0\0"s, "0x100000000 (4294967296)",
       4294967296u},
      {reg::kTypeBinary, "00, ff,10", "\0\xff\x10"s, "00ff10", "00ff10"},
      {reg::kTypeNone, "", "", "", ""},
  };
  for (const auto &[type, typed, stored, shown, json] : cases) {
    SCOPED_TRACE(typeText(type) + " " + typed);
    EXPECT_EQ(parseData(type, typed), stored);
    EXPECT_EQ(dataText(type, stored), shown);
    EXPECT_EQ(dataJson(type, stored), json);
  }
  // Data of the wrong size for its type is shown as the bytes it is.
  EXPECT_EQ(dataText(reg::kTypeDword, "\x01\x02\x03"), "010203");
  EXPECT_EQ(dataJson(reg::kTypeQword, "\x01"), "01");
  // A text without its ending zero keeps all of its characters.
  EXPECT_EQ(dataText(reg::kTypeSz, "ab"), "ab");
}

TEST(VlxValueText, TypeNamesAndRefusedData) {
  EXPECT_EQ(typeNamed("dword"), reg::kTypeDword);
  EXPECT_EQ(typeNamed("REG_multi_sz"), reg::kTypeMultiSz);
  EXPECT_EQ(typeNamed("REG_LINK"), std::nullopt);
  EXPECT_EQ(typeText(6), "REG_TYPE_6");
  const std::pair<uint32_t, const char *> refused[] = {
      {reg::kTypeDword, "-1"},         {reg::kTypeDword, "4294967296"}, {reg::kTypeDword, "0x"},
      {reg::kTypeQword, "1.5"},        {reg::kTypeBinary, "abc"},       {reg::kTypeBinary, "0x01"},
      {reg::kTypeMultiSz, "a\\0\\0b"}, {reg::kTypeMultiSz, "a\\0"},
  };
  for (const auto &[type, typed] : refused) {
    SCOPED_TRACE(typed);
    try {
      parseData(type, typed);
      ADD_FAILURE() << "accepted";
    } catch (const Failure &f) {
      EXPECT_EQ(f.exitStatus, 2);
    }
  }
}

TEST(VlxValueText, EachChangeIsOneJsonLine) {
  const reg::Value before{"Units\nx", reg::kTypeSz, "mm\0"s};
  const reg::Value after{"Units\nx", reg::kTypeDword, "\x07\0\0\0"s};
  const std::string key = "HKEY_CURRENT_USER\\Software\\Velmora\\Gen\neral";
  std::ostringstream out;
  for (const Change &c :
       {Change{Change::Kind::KeyAdded, key, {}, {}}, Change{Change::Kind::Added, key, {}, after},
        Change{Change::Kind::Changed, key, before, after},
        Change{Change::Kind::Removed, key, before, {}},
        Change{Change::Kind::KeyRemoved, key, {}, {}}})
    printJsonLine(out, changeJson(c));
  const nlohmann::json value = {{"name", "Units\nx"}, {"type", "REG_DWORD"}, {"data", 7}};
  const nlohmann::json old = {{"name", "Units\nx"}, {"type", "REG_SZ"}, {"data", "mm"}};
  const nlohmann::json expected[] = {
      {{"change", "add key"}, {"key", key}},
      {{"change", "add"}, {"key", key}, {"value", value}},
      {{"change", "change"}, {"key", key}, {"value", value}, {"before", old}},
      {{"change", "remove"}, {"key", key}, {"value", old}},
      {{"change", "remove key"}, {"key", key}},
  };
  std::istringstream lines(out.str());
  std::string line;
  for (const auto &want : expected) {
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(nlohmann::json::parse(line), want);
  }
  EXPECT_FALSE(std::getline(lines, line)) << line;
}

// What `sheet get --json` prints of a cell, without a workbook: numbers stay numbers, and the
// document is one whatever the text holds.
TEST(VlxValueText, CellsAsJson) {
  VARIANT number, text, empty;
  VariantInit(&number);
  V_VT(&number) = VT_R8;
  V_R8(&number) = 0.1;
  VariantInit(&empty);
  VariantInit(&text);
  V_VT(&text) = VT_BSTR;
  V_BSTR(&text) = SysAllocString(u"Zahnr\u00e4der\n\"x\"");
  EXPECT_EQ(cellJson(number), nlohmann::json(0.1));
  EXPECT_EQ(cellText(number), "0.1");
  EXPECT_EQ(cellJson(empty), nlohmann::json(""));
  EXPECT_EQ(cellJson(text), nlohmann::json("Zahnr\u00e4der\n\"x\""));
  std::ostringstream out;
  printJson(out, cellJson(text));
  EXPECT_EQ(out.str(), "\"Zahnr\u00e4der\\n\\\"x\\\"\"\n");
  VariantClear(&text);
}

// A cell that holds an error prints as the spreadsheet shows it, so that a block holding one is
// still printed whole.
TEST(VlxValueText, CellErrorsAsTheSpreadsheetShowsThem) {
  const std::pair<uint32_t, const char *> cases[] = {
      {0x800A07D0, "#NULL!"}, {0x800A07D7, "#DIV/0!"}, {0x800A07DF, "#VALUE!"},
      {0x800A07E7, "#REF!"},  {0x800A07ED, "#NAME?"},  {0x800A07F4, "#NUM!"},
      {0x800A07FA, "#N/A"},   {0x800A07D1, "#ERROR 0x800A07D1"}, {0x80020004, "#ERROR 0x80020004"}};
  for (const auto &[code, shown] : cases) {
    VARIANT error;
    VariantInit(&error);
    V_VT(&error) = VT_ERROR;
    V_ERROR(&error) = static_cast<SCODE>(code);
    EXPECT_EQ(cellText(error), shown);
    EXPECT_EQ(cellJson(error), nlohmann::json(shown));
  }
}

// `sheet get FILE ZZZ` says ZZZ is no cell reference instead of passing on the office's refusal.
TEST(VlxValueText, CellReferences) {
  for (const char *cells : {"B3", "$B$3", "b3", "A1:C3", "A:C", "2:5", "XFD1048576", "A1,C3:D4"})
    EXPECT_TRUE(isCellReference(cells)) << cells;
  for (const char *cells : {"ZZZ", "", "A", "3", "A1:", ":A1", "A1:C", "A:3", "A1,", "Total",
                            "A-1", "B3!", "$"})
    EXPECT_FALSE(isCellReference(cells)) << cells;
}

} // namespace
} // namespace vlx::cli
