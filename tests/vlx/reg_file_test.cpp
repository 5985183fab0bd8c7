// Tests of the .reg reader and writer: value forms, keys, refusals with their lines, round trips.
#include <vlx/reg_file.h>

#include <gtest/gtest.h>

#include <iterator>
#include <random>

namespace vlx::reg {
namespace {

using namespace std::string_literals;

std::string hexOf(const std::string &bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (unsigned char c : bytes) {
    s += digits[c >> 4];
    s += digits[c & 15];
    s += ' ';
  }
  return s;
}

ParseResult parseBody(const std::string &body) {
  return parse("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\T]\n" + body);
}

TEST(RegFileParse, ValueForms) {
  struct Case {
    std::string line;
    Operation::Kind kind;
    std::string name;
    uint32_t type;
    std::string data;
  };
  using K = Operation::Kind;
  const Case cases[] = {
      {R"("a"="text")", K::SetValue, "a", kTypeSz, "text\0"s},
      {R"("a"="")", K::SetValue, "a", kTypeSz, "\0"s},
      {R"("q\"n\\"="say \"hi\" C:\\dir\\")", K::SetValue, "q\"n\\", kTypeSz,
       "say \"hi\" C:\\dir\\\0"s},
      {R"("a"="x]y=z;w")", K::SetValue, "a", kTypeSz, "x]y=z;w\0"s},
      {"\"a\"=\"\xc3\xbc\"", K::SetValue, "a", kTypeSz, "\xc3\xbc\0"s},
      {R"(@="default")", K::SetValue, "", kTypeSz, "default\0"s},
      {R"(""="empty name")", K::SetValue, "", kTypeSz, "empty name\0"s},
      {"  \t\"a\" = \"spaced\"  ", K::SetValue, "a", kTypeSz, "spaced\0"s},
      {R"("a"=dword:0000000a)", K::SetValue, "a", kTypeDword, "\x0a\0\0\0"s},
      {R"("a"=dword:FFFFFFFF)", K::SetValue, "a", kTypeDword, "\xff\xff\xff\xff"s},
      {R"("a"=DWORD:1)", K::SetValue, "a", kTypeDword, "\x01\0\0\0"s},
      {R"("a"=dword:0000000012345678)", K::SetValue, "a", kTypeDword, "\x78\x56\x34\x12"s},
      {R"("a"=hex:01,02,ff)", K::SetValue, "a", kTypeBinary, "\x01\x02\xff"s},
      {R"("a"=hex:)", K::SetValue, "a", kTypeBinary, ""},
      {R"("a"=HEX:0A)", K::SetValue, "a", kTypeBinary, "\x0a"},
      {R"("a"=hex:1,2,)", K::SetValue, "a", kTypeBinary, "\x01\x02"},
      {R"("a"=hex: 01 , 02 ,03)", K::SetValue, "a", kTypeBinary, "\x01\x02\x03"},
      {R"("a"=hex(7):61,00,62,00,00)", K::SetValue, "a", kTypeMultiSz, "a\0b\0\0"s},
      {R"("a"=hex(2):25,00)", K::SetValue, "a", kTypeExpandSz, "%\0"s},
      {R"("a"=hex(b):01,00,00,00,00,00,00,00)", K::SetValue, "a", kTypeQword,
       "\x01\0\0\0\0\0\0\0"s},
      {R"("a"=hex(0):)", K::SetValue, "a", kTypeNone, ""},
      {R"("a"=hex(1):61,00,62)", K::SetValue, "a", kTypeSz, "a\0b"s},
      {R"("a"=hex(ffffffff):00)", K::SetValue, "a", 0xffffffffu, "\0"s},
      {R"("a"=-)", K::DeleteValue, "a", kTypeSz, ""},
      {R"(@=-)", K::DeleteValue, "", kTypeSz, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.line);
    ParseResult r = parseBody(c.line + "\n");
    ASSERT_TRUE(r.ok()) << r.errorLine << ": " << r.error;
    ASSERT_EQ(r.operations.size(), 2u);
    const Operation &op = r.operations[1];
    EXPECT_EQ(op.kind, c.kind);
    EXPECT_EQ(op.line, 4);
    EXPECT_EQ(op.key.full(), "HKEY_CURRENT_USER\\Software\\T");
    EXPECT_EQ(op.value.name, c.name);
    if (c.kind == K::SetValue) {
      EXPECT_EQ(op.value.type, c.type);
      EXPECT_EQ(hexOf(op.value.data), hexOf(c.data));
    }
  }
}

TEST(RegFileParse, KeyLines) {
  struct Case {
    std::string line;
    Operation::Kind kind;
    Root root;
    std::string subKey;
  };
  using K = Operation::Kind;
  const Case cases[] = {
      {"[HKEY_CURRENT_USER\\Software\\X]", K::CreateKey, Root::CurrentUser, "Software\\X"},
      {"[HKEY_LOCAL_MACHINE\\Software\\X Y]", K::CreateKey, Root::LocalMachine, "Software\\X Y"},
      {"[-HKEY_LOCAL_MACHINE\\Software\\X]", K::DeleteKey, Root::LocalMachine, "Software\\X"},
      {"[HKCU\\A]", K::CreateKey, Root::CurrentUser, "A"},
      {"[hklm\\A]", K::CreateKey, Root::LocalMachine, "A"},
      {"[hkey_users\\.DEFAULT\\Software]", K::CreateKey, Root::Users, ".DEFAULT\\Software"},
      {"[HKU\\.DEFAULT]", K::CreateKey, Root::Users, ".DEFAULT"},
      {"[HKEY_CLASSES_ROOT\\.txt]", K::CreateKey, Root::ClassesRoot, ".txt"},
      {"[-HKCR\\.txt]", K::DeleteKey, Root::ClassesRoot, ".txt"},
      {"[HKEY_CURRENT_USER]", K::CreateKey, Root::CurrentUser, ""},
      {"  [HKEY_CURRENT_USER\\A]  ", K::CreateKey, Root::CurrentUser, "A"},
      {"[HKEY_CURRENT_USER\\a[1]]", K::CreateKey, Root::CurrentUser, "a[1]"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.line);
    ParseResult r = parse("REGEDIT4\n" + c.line + "\n");
    ASSERT_TRUE(r.ok()) << r.errorLine << ": " << r.error;
    ASSERT_EQ(r.operations.size(), 1u);
    EXPECT_EQ(r.operations[0].kind, c.kind);
    EXPECT_EQ(r.operations[0].key.root, c.root);
    EXPECT_EQ(r.operations[0].key.subKey, c.subKey);
    EXPECT_EQ(r.operations[0].line, 2);
  }
}

TEST(RegFileParse, FileShapes) {
  struct Case {
    const char *what;
    std::string text;
    size_t operations;
    int lastLine;
  };
  const Case cases[] = {
      {"LF", "REGEDIT4\n\n[HKCU\\A]\n\"a\"=\"b\"\n", 2, 4},
      {"CRLF", "REGEDIT4\r\n\r\n[HKCU\\A]\r\n\"a\"=\"b\"\r\n", 2, 4},
      {"no final newline", "REGEDIT4\n[HKCU\\A]\n\"a\"=\"b\"", 2, 3},
      {"version 5 header", "Windows Registry Editor Version 5.00\r\n\r\n[HKCU\\A]\r\n", 1, 3},
      {"UTF-8 BOM", "\xEF\xBB\xBFREGEDIT4\n[HKCU\\A]\n", 1, 2},
      {"comments", "REGEDIT4\n; top\n[HKCU\\A]\n  ; indented\n\"a\"=\"b\"\n;end", 2, 5},
      {"header only", "REGEDIT4\n", 0, 0},
      {"several keys", "REGEDIT4\n[HKCU\\A]\n\"x\"=dword:1\n\n[-HKCU\\B]\n[HKCU\\C]\n@=\"d\"\n", 5,
       7},
      {"continued hex", "REGEDIT4\n[HKCU\\A]\n\"a\"=hex:01,\\\n  02\n\"b\"=\"c\"\n", 3, 5},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    ParseResult r = parse(c.text);
    ASSERT_TRUE(r.ok()) << r.errorLine << ": " << r.error;
    ASSERT_EQ(r.operations.size(), c.operations);
    if (c.operations) {
      EXPECT_EQ(r.operations.back().line, c.lastLine);
    }
  }
}

TEST(RegFileParse, ContinuationLines) {
  struct Case {
    const char *what;
    std::string body;
    std::string data;
  };
  const Case cases[] = {
      {"two lines", "\"a\"=hex:01,02,\\\n  03,04\n", "\x01\x02\x03\x04"},
      {"three lines CRLF", "\"a\"=hex:01,\\\r\n  02,\\\r\n  03\r\n", "\x01\x02\x03"},
      {"no comma before the break", "\"a\"=hex:01\\\n  02\n", "\x01\x02"},
      {"blanks after the backslash", "\"a\"=hex:01,\\  \t\n\t02\n", "\x01\x02"},
      {"break right after the type", "\"a\"=hex(7):\\\n  61,00,00\n", "a\0\0"s},
      {"empty continuation line ends the data", "\"a\"=hex:01,\\\n\n", "\x01"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    ParseResult r = parseBody(c.body);
    ASSERT_TRUE(r.ok()) << r.errorLine << ": " << r.error;
    ASSERT_EQ(r.operations.size(), 2u);
    EXPECT_EQ(hexOf(r.operations[1].value.data), hexOf(c.data));
    EXPECT_EQ(r.operations[1].line, 4);
  }
}

TEST(RegFileParse, RefusalsNameTheirLine) {
  struct Case {
    std::string text;
    int line;
    const char *message; // part of the error text
  };
  const std::string head = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\T]\n";
  const Case cases[] = {
      {"", 1, "empty"},
      {"REGEDIT5\n[HKCU\\A]\n", 1, "bad header"},
      {"\nREGEDIT4\n", 1, "bad header"},
      {"[HKCU\\A]\n", 1, "bad header"},
      {"\xFF\xFER\0E\0"s, 1, "UTF-16"},
      {head + "\"a\"=\"open\n", 4, "unterminated quote"},
      {head + "\"a=\"x\"\n", 4, "expected '='"},
      {head + "\"open=1\n", 4, "unterminated quote"},
      {head + "\"a\"=\"ends in backslash\\\"\n", 4, "unterminated quote"},
      {head + "\"a\"=\"C:\\dir\"\n", 4, "unknown escape"},
      {head + "\"a\"=\"x\" junk\n", 4, "after the value"},
      {head + "\"a\"\n", 4, "expected '='"},
      {head + "\"a\"=\n", 4, "unknown value form"},
      {head + "\"a\"=str:x\n", 4, "unknown value form"},
      {head + "\"a\"=hex:0g\n", 4, "bad hex"},
      {head + "\"a\"=hex:123\n", 4, "bad hex"},
      {head + "\"a\"=hex:01;02\n", 4, "expected ','"},
      {head + "\"a\"=hex:01,,02\n", 4, "bad hex"},
      {head + "\"a\"=hex:01,\\\n  02,\\\n  zz\n", 6, "bad hex"},
      {head + "\"a\"=hex:01,\\", 4, "end of the file"},
      {head + "\"a\"=hex(zz):01\n", 4, "bad value type"},
      {head + "\"a\"=hex(7)01\n", 4, "bad value type"},
      {head + "\"a\"=hex(100000000):01\n", 4, "bad value type"},
      {head + "\"a\"=dword:100000000\n", 4, "out of range"},
      {head + "\"a\"=dword:ffffffffff\n", 4, "out of range"},
      {head + "\"a\"=dword:\n", 4, "bad dword"},
      {head + "\"a\"=dword:12x\n", 4, "bad dword"},
      {head + "\"a\"=dword:-1\n", 4, "bad dword"},
      {head + "\"a\"=dword:0a ; note\n", 4, "bad dword"},
      {head + "[HKEY_NOWHERE\\A]\n", 4, "unknown root"},
      {head + "[Software\\A]\n", 4, "unknown root"},
      {head + "[HKEY_CURRENT_CONFIG\\A]\n", 4, "unknown root"},
      {head + "[]\n", 4, "missing key path"},
      {head + "[-]\n", 4, "missing key path"},
      {head + "[HKEY_CURRENT_USER\\A\\\\B]\n", 4, "empty key name"},
      {head + "[HKEY_CURRENT_USER\\A\\]\n", 4, "empty key name"},
      {head + "[HKEY_CURRENT_USER\\A\n", 4, "missing ']'"},
      {head + "[-HKEY_CURRENT_USER]\n", 4, "root key"},
      {"REGEDIT4\n\"a\"=\"b\"\n", 2, "outside a key"},
      {"REGEDIT4\n\n@=\"b\"\n", 3, "outside a key"},
      {"REGEDIT4\n\nhello\n[HKCU\\A]\n", 3, "unexpected text"},
      {head + "\"a\"=\"b\"\nHKCU\\A\n", 5, "unexpected text"},
      {"REGEDIT4\n[-HKCU\\A]\n\"a\"=\"b\"\n", 3, "deleted key"},
      {head + "\"a\0b\"=\"c\"\n"s, 4, "zero byte"},
      {"REGEDIT4\n[HKCU\\A\0B]\n"s, 2, "zero byte"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    ParseResult r = parse(c.text);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.errorLine, c.line);
    EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
    EXPECT_TRUE(r.operations.empty());
  }
}

TEST(RegFileWrite, ValueLines) {
  struct Case {
    Value value;
    std::string text;
  };
  const Case cases[] = {
      {{"n", kTypeSz, "x\0"s}, "\"n\"=\"x\"\n"},
      {{"n", kTypeSz, "\0"s}, "\"n\"=\"\"\n"},
      {{"q\"\\", kTypeSz, "a\"b\\c\0"s}, "\"q\\\"\\\\\"=\"a\\\"b\\\\c\"\n"},
      {{"", kTypeSz, "d\0"s}, "@=\"d\"\n"},
      {{"n", kTypeDword, "\x0a\0\0\0"s}, "\"n\"=dword:0000000a\n"},
      {{"n", kTypeDword, "\x78\x56\x34\xf2"s}, "\"n\"=dword:f2345678\n"},
      {{"n", kTypeDword, "\x01\x02"s}, "\"n\"=hex(4):01,02\n"},
      {{"n", kTypeBinary, "\x01\xab"s}, "\"n\"=hex:01,ab\n"},
      {{"n", kTypeBinary, ""}, "\"n\"=hex:\n"},
      {{"n", kTypeMultiSz, "a\0\0"s}, "\"n\"=hex(7):61,00,00\n"},
      {{"n", kTypeExpandSz, "%\0"s}, "\"n\"=hex(2):25,00\n"},
      {{"n", kTypeQword, "\x01\0\0\0\0\0\0\0"s}, "\"n\"=hex(b):01,00,00,00,00,00,00,00\n"},
      {{"n", kTypeNone, ""}, "\"n\"=hex(0):\n"},
      {{"n", 0x12345, "\x01"}, "\"n\"=hex(12345):01\n"},
      // REG_SZ data the quoted form would change is written as bytes.
      {{"n", kTypeSz, "abc"}, "\"n\"=hex(1):61,62,63\n"},
      {{"n", kTypeSz, ""}, "\"n\"=hex(1):\n"},
      {{"n", kTypeSz, "a\0b\0"s}, "\"n\"=hex(1):61,00,62,00\n"},
      {{"n", kTypeSz, "a\0\0"s}, "\"n\"=hex(1):61,00,00\n"},
      {{"n", kTypeSz, "a\nb\0"s}, "\"n\"=hex(1):61,0a,62,00\n"},
      {{"n", kTypeSz, "a\rb\0"s}, "\"n\"=hex(1):61,0d,62,00\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    std::string out;
    writeValue(out, c.value);
    EXPECT_EQ(out, c.text);
  }
}

TEST(RegFileWrite, LongHexWrapsAndReadsBack) {
  Value v{"a rather long value name", kTypeBinary, {}};
  for (int i = 0; i < 300; ++i)
    v.data += static_cast<char>(i * 7);
  std::string text;
  writeHeader(text);
  writeKey(text, "HKEY_CURRENT_USER\\Software\\T", {v});

  size_t start = 0, lines = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end - start);
    EXPECT_LE(line.size(), 80u) << line;
    if (lines > 3 && !line.empty()) { // the continuation lines of the value
      EXPECT_EQ(line.rfind("  ", 0), 0u) << line;
    }
    start = end + 1;
    ++lines;
  }
  EXPECT_GT(lines, 12u);

  ParseResult r = parse(text);
  ASSERT_TRUE(r.ok()) << r.errorLine << ": " << r.error;
  ASSERT_EQ(r.operations.size(), 2u);
  EXPECT_EQ(r.operations[1].value.data, v.data);
}

// Whatever the writer produces reads back as the same values, byte for byte.
TEST(RegFileWrite, RandomValuesRoundTrip) {
  std::mt19937 random(12345);
  const uint32_t types[] = {kTypeNone,   kTypeSz,    kTypeSz,      kTypeSz,    kTypeExpandSz,
                            kTypeBinary, kTypeDword, kTypeMultiSz, kTypeQword, 0x1234};
  const char alphabet[] = "ab\\\"=[]; @\t\r\n\0\x7f\xff-,:";
  auto randomText = [&](size_t maxLen) {
    std::string s(random() % (maxLen + 1), ' ');
    for (char &c : s)
      c = alphabet[random() % (sizeof alphabet - 1)];
    return s;
  };
  std::vector<Value> values;
  for (int i = 0; i < 300; ++i) {
    Value v;
    v.name = randomText(8);
    std::string why;
    if (!writable(v.name, why))
      v.name = "n" + std::to_string(i);
    v.type = types[random() % std::size(types)];
    v.data = v.type == kTypeDword ? randomText(4).substr(0, 4) : randomText(200);
    if (random() % 3 == 0 && v.type == kTypeSz)
      v.data = randomText(40) + '\0';
    values.push_back(v);
  }
  std::string text;
  writeHeader(text);
  writeKey(text, "HKEY_CURRENT_USER\\Software\\T", values);
  ParseResult r = parse(text);
  ASSERT_TRUE(r.ok()) << r.errorLine << ": " << r.error;
  ASSERT_EQ(r.operations.size(), values.size() + 1);
  for (size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE(i);
    const Value &got = r.operations[i + 1].value;
    EXPECT_EQ(got.name, values[i].name);
    EXPECT_EQ(got.type, values[i].type);
    EXPECT_EQ(hexOf(got.data), hexOf(values[i].data));
  }
}

TEST(RegFileWrite, NamesWithLineBreaksAreRefused) {
  std::string why;
  EXPECT_TRUE(writable("plain \"name\" \\ with [brackets]", why));
  EXPECT_FALSE(writable("two\nlines", why));
  EXPECT_NE(why.find("line break"), std::string::npos);
  EXPECT_FALSE(writable("cr\r", why));
  EXPECT_FALSE(writable("zero\0byte"s, why));
}

} // namespace
} // namespace vlx::reg
