// Tests of the .reg reader and writer: value forms, keys, refusals with their lines, round trips.
#include "support/expect_text.h"

#include <vlx/formats/reg_file.h>

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

namespace vlx::reg {
namespace {

using namespace std::string_literals;
using K = Operation::Kind;
constexpr uint32_t kDeleted = 0xfffffffe; // expected type of a value deletion

// The writer's own forms are read back in RegFileWrite; here the other spellings.
TEST(RegFileParse, ValueForms) {
  const std::tuple<std::string, std::string, uint32_t, std::string> cases[] = {
      {R"("a"="x]y=z;w")", "a", kTypeSz, "x]y=z;w\0"s},
      {"  \t\"a\" = \"spaced\"  ", "a", kTypeSz, "spaced\0"s},
      {R"("a"=DWORD:FFFFFFFF)", "a", kTypeDword, "\xff\xff\xff\xff"s},
      {R"("a"=hex: 1 , 02 ,)", "a", kTypeBinary, "\x01\x02"},
      {R"("a"=-)", "a", kDeleted, ""},
  };
  for (const auto &[line, name, type, data] : cases) {
    SCOPED_TRACE(line);
    ParseResult r = parse("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\T]\n" + line + "\n");
    ASSERT_TRUE(r.ok()) << r.errorLine << ": " << r.error;
    ASSERT_EQ(r.operations.size(), 2u);
    const Operation &op = r.operations[1];
    EXPECT_EQ(op.kind, type == kDeleted ? K::DeleteValue : K::SetValue);
    EXPECT_EQ(op.line, 4);
    EXPECT_EQ(op.key.full(), "HKEY_CURRENT_USER\\Software\\T");
    EXPECT_EQ(op.value.name, name);
    if (type != kDeleted) {
      EXPECT_EQ(op.value.type, type);
      EXPECT_EQ(op.value.data, data);
    }
  }
}

TEST(RegFileParse, KeyLines) {
  const std::tuple<std::string, K, std::string> cases[] = {
      {"[HKEY_LOCAL_MACHINE\\Software\\X Y]", K::CreateKey, "HKEY_LOCAL_MACHINE\\Software\\X Y"},
      {"[-HKEY_CURRENT_USER\\Software\\X]", K::DeleteKey, "HKEY_CURRENT_USER\\Software\\X"},
      {"[hkey_users\\.DEFAULT]", K::CreateKey, "HKEY_USERS\\.DEFAULT"},
      {"  [HKCU\\a[1]]  ", K::CreateKey, "HKEY_CURRENT_USER\\a[1]"},
      {"[hkcc\\Software]", K::CreateKey, "HKEY_CURRENT_CONFIG\\Software"},
      {"[-HKEY_CURRENT_CONFIG\\Software]", K::DeleteKey, "HKEY_CURRENT_CONFIG\\Software"},
  };
  for (const auto &[line, kind, key] : cases) {
    SCOPED_TRACE(line);
    ParseResult r = parse("REGEDIT4\n" + line + "\n");
    ASSERT_TRUE(r.ok()) << r.errorLine << ": " << r.error;
    ASSERT_EQ(r.operations.size(), 1u);
    EXPECT_EQ(r.operations[0].kind, kind);
    EXPECT_EQ(r.operations[0].key.full(), key);
    EXPECT_EQ(r.operations[0].line, 2);
  }
}

// Line ends, headers, comments, continuations: operation count, last line and data.
TEST(RegFileParse, FileShapes) {
  const std::tuple<std::string, size_t, int, std::string> cases[] = {
      {"REGEDIT4\r\n\r\n[HKCU\\A]\r\n\"a\"=\"b\"\r\n", 2, 4, "b\0"s},
      {"\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n[HKCU\\A]\r\n@=\"b\"", 2, 3, "b\0"s},
      {"REGEDIT4\n; top\n[HKCU\\A]\n  ; indented\n\"a\"=\"b\"\n;end", 2, 5, "b\0"s},
      {"REGEDIT4\n[HKCU\\A]\n\"a\"=hex:01,\\\r\n  02,\\ \t\r\n\t03\r\n", 2, 3, "\x01\x02\x03"},
      {"REGEDIT4\n[HKCU\\A]\n\"a\"=hex(7):\\\n  61\\\n  00,00\n", 2, 3, "a\0\0"s},
      {"REGEDIT4\n[HKCU\\A]\n\"a\"=hex:01,\\\n\n", 2, 3, "\x01"}, // an empty line ends the data
  };
  for (const auto &[text, operations, lastLine, lastData] : cases) {
    SCOPED_TRACE(text);
    ParseResult r = parse(text);
    ASSERT_TRUE(r.ok()) << r.errorLine << ": " << r.error;
    ASSERT_EQ(r.operations.size(), operations);
    EXPECT_EQ(r.operations.back().line, lastLine);
    EXPECT_EQ(r.operations.back().value.data, lastData);
  }
  EXPECT_TRUE(parse("REGEDIT4\n").operations.empty());
}

TEST(RegFileParse, RefusalsNameTheirLine) {
  const std::string head = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\T]\n";
  const std::tuple<std::string, int, const char *> cases[] = {
      {"\nREGEDIT4\n[HKCU\\A]\n", 1, "bad header"},
      {head + "\"a\"=\"ends in backslash\\\"\n", 4, "unterminated quote"},
      {head + "\"a\"=str:x\n", 4, "unknown value form"},
      {head + "\"a\"=hex:01,\\\n  02,\\\n  zz\n", 6, "bad hex"},
      {head + "\"a\"=hex:01,\\", 4, "end of the file"},
      {head + "\"a\"=dword:100000000\n", 4, "out of range"},
      {head + "[HKEY_PERFORMANCE_DATA\\A]\n", 4, "unknown root"},
      {head + "[-HKEY_CURRENT_USER]\n", 4, "root key"},
      {"REGEDIT4\n[-HKCU\\A]\n\"a\"=\"b\"\n", 3, "deleted key"},
      {head + "\"a\0b\"=\"c\"\n"s, 4, "zero byte"},
  };
  for (const auto &[text, line, message] : cases) {
    SCOPED_TRACE(text);
    ParseResult r = parse(text);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.errorLine, line);
    EXPECT_HAS(r.error, message);
    EXPECT_TRUE(r.operations.empty());
  }
}

// Each value's exact line, then the whole key written, read back and written again unchanged.
TEST(RegFileWrite, ValuesRoundTrip) {
  const std::pair<Value, std::string> cases[] = {
      {{"q\"\\", kTypeSz, "a\"b\\c\0"s}, "\"q\\\"\\\\\"=\"a\\\"b\\\\c\"\n"},
      {{"", kTypeSz, "\0"s}, "@=\"\"\n"},
      {{"n", kTypeDword, "\x78\x56\x34\xf2"s}, "\"n\"=dword:f2345678\n"},
      {{"n", kTypeDword, "\x01\x02"s}, "\"n\"=hex(4):01,02\n"},
      {{"n", 0x12345, "\x01"}, "\"n\"=hex(12345):01\n"},
      // REG_SZ data the quoted form would change is written as bytes.
      {{"n", kTypeSz, "a\0b\0"s}, "\"n\"=hex(1):61,00,62,00\n"},
      {{"n", kTypeSz, "a\nb\0"s}, "\"n\"=hex(1):61,0a,62,00\n"},
  };
  std::vector<Value> values;
  for (const auto &[value, text] : cases) {
    SCOPED_TRACE(text);
    std::string out;
    writeValue(out, value);
    EXPECT_EQ(out, text);
    values.push_back(value);
  }
  values.push_back({"a rather long value name", kTypeBinary, {}});
  for (int i = 0; i < 300; ++i)
    values.back().data += static_cast<char>(i * 7);

  std::string text;
  writeHeader(text);
  writeKey(text, "HKEY_CURRENT_USER\\Software\\T", values);
  std::istringstream in(text);
  bool continued = false;
  for (std::string line; std::getline(in, line); continued = !line.empty() && line.back() == '\\') {
    EXPECT_LE(line.size(), 80u) << line;
    EXPECT_TRUE(!continued || line.rfind("  ", 0) == 0) << line;
  }
  ParseResult r = parse(text);
  ASSERT_TRUE(r.ok()) << r.errorLine << ": " << r.error;
  ASSERT_EQ(r.operations.size(), values.size() + 1);
  // Distinct values are written differently (their lines above), so the same text written again
  // means every name, type and data was read back unchanged.
  std::vector<Value> back;
  for (size_t i = 1; i < r.operations.size(); ++i)
    back.push_back(r.operations[i].value);
  std::string again;
  writeHeader(again);
  writeKey(again, r.operations[0].key.full(), back);
  EXPECT_EQ(again, text);
}

TEST(RegFileWrite, NamesWithLineBreaksAreRefused) {
  std::string why;
  EXPECT_TRUE(writable("plain \"name\" \\ with [brackets]", why));
  EXPECT_FALSE(writable("two\nlines", why));
  EXPECT_HAS(why, "line break");
}

} // namespace
} // namespace vlx::reg
