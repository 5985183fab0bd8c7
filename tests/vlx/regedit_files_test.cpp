// .reg files as regedit writes them (made with iconv): version 5 UTF-16LE, REGEDIT4 in
// Windows-1252, hex text data in each file's own form, refusals with their lines, round trips.
#include "support/expect_text.h"
#include "vlx_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

namespace vlx::cli {
namespace {

using namespace std::string_literals;

class RegeditFiles : public VlxTest {
protected:
  // `text` (UTF-8) in `encoding`, converted by iconv into the file `name`.
  std::string encoded(const std::string &name, const std::string &text,
                      const std::string &encoding) {
    const std::string source = write(name + ".utf8", text);
    const std::string target = dir_.file(name);
    const RunResult r = test::runCommand(
        {"/bin/sh", "-c",
         "iconv -f UTF-8 -t " + encoding + " < '" + source + "' > '" + target + "'"});
    EXPECT_EQ(r.status, 0) << r.output;
    return readFile(target);
  }

  // A version 5 file as regedit writes it: byte-order mark, UTF-16LE, CRLF.
  std::string regeditFile(const std::string &name, const std::string &lines) {
    return write(name, "\xFF\xFE" + encoded(name + ".body",
                                            "Windows Registry Editor Version 5.00\r\n\r\n" + lines,
                                            "UTF-16LE"));
  }

  // Hex bytes as a value line spells them, wrapped after `perLine` bytes with regedit's
  // continuation ("\" at the end, two spaces in front of the next line).
  static std::string hexList(const std::string &bytes, size_t perLine = 1000) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
      const auto b = static_cast<unsigned char>(bytes[i]);
      out += digits[b >> 4];
      out += digits[b & 15];
      if (i + 1 < bytes.size())
        out += (i + 1) % perLine == 0 ? ",\\\r\n  " : ",";
    }
    return out;
  }

  std::string utf16(const std::string &text) { return encoded("piece", text, "UTF-16LE"); }
};

TEST_F(RegeditFiles, Version5FileInUtf16) {
  const std::string path = utf16("%SystemRoot%\\Räder") + "\0\0"s;
  const std::string list = utf16("eins") + "\0\0"s + utf16("zwö") + "\0\0\0\0"s;
  const std::string file =
      regeditFile("gears.reg", "[HKEY_CURRENT_USER\\Software\\Velmora\\Grüße]\r\n"
                               "@=\"Zahnrad\"\r\n"
                               "\"Größe\"=dword:0000002a\r\n"
                               "\"Path\"=hex(2):" +
                                   hexList(path, 8) +
                                   "\r\n"
                                   "\"List\"=hex(7):" +
                                   hexList(list, 10) +
                                   "\r\n"
                                   "\"Blob\"=hex:00,ff\r\n\r\n");
  EXPECT_EQ(ok({"reg", "import", file}),
            "import: 5 values added, 0 changed, 0 unchanged, 0 removed; 1 key added, 0 removed (6 "
            "entries of " +
                file + ")\n");
  // The store holds narrow text: the REGEDIT4 export shows UTF-8 bytes.
  EXPECT_EQ(ok({"reg", "export", "HKCU\\Software\\Velmora\\Grüße"}),
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Velmora\\Grüße]\n@=\"Zahnrad\"\n"
            "\"Größe\"=dword:0000002a\n"
            "\"Path\"=hex(2):" +
                hexList("%SystemRoot%\\Räder\0"s) +
                "\n"
                "\"List\"=hex(7):" +
                hexList("eins\0zwö\0\0"s) +
                "\n"
                "\"Blob\"=hex:00,ff\n\n");

  // Written back as regedit writes it, the text data is UTF-16LE again.
  ok({"reg", "export", "--unicode", "HKCU\\Software\\Velmora\\Grüße", "-o", dir_.file("out.reg")});
  const std::string out = readFile(dir_.file("out.reg"));
  ASSERT_EQ(out.rfind("\xFF\xFE", 0), 0u);
  const RunResult decoded = test::runCommand(
      {"/bin/sh", "-c", "tail -c +3 '" + dir_.file("out.reg") + "' | iconv -f UTF-16LE -t UTF-8"});
  ASSERT_EQ(decoded.status, 0) << decoded.output;
  EXPECT_EQ(
      decoded.output.rfind("Windows Registry Editor Version 5.00\r\n\r\n"
                           "[HKEY_CURRENT_USER\\Software\\Velmora\\Grüße]\r\n@=\"Zahnrad\"\r\n",
                           0),
      0u)
      << decoded.output;
  EXPECT_HAS(decoded.output, "\"List\"=hex(7):" + hexList(list) + "\r\n");
}

TEST_F(RegeditFiles, Regedit4FileInTheAnsiCodePage) {
  const std::string file =
      write("ansi.reg", encoded("ansi",
                                "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Velmora]\r\n"
                                "\"Maß\"=\"Zahnräd\"\r\n",
                                "WINDOWS-1252") +
                            "\"P\"=hex(2):25,53,fc,00\r\n");
  ok({"reg", "import", file});
  EXPECT_EQ(ok({"reg", "export", "HKCU\\Software\\Velmora"}),
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Velmora]\n\"Maß\"=\"Zahnräd\"\n"
            "\"P\"=hex(2):25,53,c3,bc,00\n\n");
}

TEST_F(RegeditFiles, TextThatIsNoTextIsRefusedAtItsLine) {
  const std::string key = "[HKEY_CURRENT_USER\\Software\\Velmora]\r\n";
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"odd.reg", regeditFile("odd.reg", key + "\"P\"=hex(2):41,00,42\r\n"),
       ":4: the hex data of this text value is not UTF-16LE text"},
      // A lone surrogate on a continuation line: the value's first line is named.
      {"lone.reg", regeditFile("lone.reg", key + "\"L\"=hex(7):41,00,\\\r\n  00,d8,00,00\r\n"),
       ":4: the hex data"},
      {"name.reg",
       write("name.reg", "\xFF\xFE" + utf16("Windows Registry Editor Version 5.00\r\n\r\n") +
                             utf16(key) + "\"\0\x00\xdc\"\0\r\0\n\0"s),
       ":4: not UTF-16LE text"},
      {"big.reg", write("big.reg", "\xFE\xFF\0R"s), ":1: big-endian UTF-16"},
      {"v5.reg",
       write("v5.reg", "Windows Registry Editor Version 5.00\n\n" + key + "\"\xe4\"=\"\"\n"),
       ":4: not UTF-8 text"},
  };
  for (const auto &[name, file, part] : cases) {
    SCOPED_TRACE(name);
    fails({"reg", "import", file}, file + part);
  }
  // Nothing of any of them landed.
  fails({"reg", "export", "HKCU\\Software\\Velmora"}, "not found");
}

// Every value type, through each form and back into an empty store, gives the same bytes.
TEST_F(RegeditFiles, BothFormsRoundTripEveryType) {
  ok({"reg", "import",
      write("all.reg", "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Velmora\\Töne]\n"
                       "@=\"plain ü\"\n\"none\"=hex(0):01\n\"sz\"=hex(1):61,00,62,00\n"
                       "\"open\"=hex(1):c3,a4\n\"expand\"=hex(2):25,41,25,00\n\"bin\"=hex:\n"
                       "\"dword\"=dword:ffffffff\n\"be\"=hex(5):00,00,00,01\n"
                       "\"multi\"=hex(7):c3,bc,00,00\n\"empty multi\"=hex(7):\n"
                       "\"qword\"=hex(b):01,02,03,04,05,06,07,08\n\"odd\"=hex(123):ab\n"
                       "\"lines\"=\"a\\\\b\"\n")});
  const std::string narrow = ok({"reg", "export"});
  const std::string wide = dir_.file("wide.reg");
  ok({"reg", "export", "--unicode", "-o", wide});
  const std::string wideBytes = readFile(wide);
  ok({"reg", "export", "-o", dir_.file("narrow.reg")});

  std::filesystem::create_directory(dir_.file("a"));
  std::filesystem::create_directory(dir_.file("b"));
  {
    test::ScopedEnv store("VELMORA_REGISTRY_DIR", dir_.file("a").c_str());
    ok({"reg", "import", wide});
    ok({"reg", "export", "--unicode", "-o", dir_.file("wide2.reg")});
    EXPECT_EQ(readFile(dir_.file("wide2.reg")), wideBytes);
    EXPECT_EQ(ok({"reg", "export"}), narrow);
  }
  test::ScopedEnv store("VELMORA_REGISTRY_DIR", dir_.file("b").c_str());
  ok({"reg", "import", dir_.file("narrow.reg")});
  EXPECT_EQ(ok({"reg", "export"}), narrow);
}

} // namespace
} // namespace vlx::cli
