// Imports of files larger than one piece: line numbers, encodings and the check before anything
// lands hold across the pieces' edges; the progress bar shows only where it may.
#include "support/expect_text.h"
#include "vlx_fixture.h"

#include <vlx/core/commands.h>
#include <vlx/core/errors.h>
#include <vlx/core/progress.h>
#include <vlx/formats/reg_file.h>
#include <vlx/formats/reg_text.h>
#include <vlx/store/reg_store.h>

#include <algorithm>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace vlx::cli {
namespace {

// A file of `keys` sections of 50 values each: about 2.5 kB a key.
std::string bigFile(const std::string &header, int keys) {
  std::string text = header + "\n\n";
  for (int k = 0; k < keys; ++k) {
    text += "[HKEY_CURRENT_USER\\Software\\Velmora\\Big\\K" + std::to_string(k) + "]\n";
    for (int v = 0; v < 50; ++v)
      text += "\"V" + std::to_string(v) + "\"=\"" + std::string(30, 'x') + "\"\n";
    text += "\"Blob\"=hex:01,02,\\\n  03,04\n";
  }
  return text;
}

int lineOf(const std::string &text, const std::string &part) {
  const size_t at = text.find(part);
  return static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(at), '\n')) + 1;
}

TEST_F(VlxTest, PiecesKeepLineNumbersAndTheCheckBeforeWriting) {
  // Two megabytes and more: several pieces. A continuation line that starts with '[' is bad hex
  // data, not a key line where a piece may end.
  const std::string text = bigFile("REGEDIT4", 1000);
  std::string continued = text;
  const size_t late = continued.find("\n  03,04", continued.find("\\K900]"));
  continued.replace(late, 9, "\n[3,04");
  RunResult r = vlx({"reg", "import", write("cont.reg", continued)});
  EXPECT_EQ(r.status, 1);
  // The same line and message as the whole file parsed at once gives.
  const reg::ParseResult whole = reg::parse(continued);
  ASSERT_FALSE(whole.ok());
  EXPECT_GT(whole.errorLine, lineOf(continued, "\\K900]"));
  EXPECT_HAS(r.output, "cont.reg:" + std::to_string(whole.errorLine) + ": " + whole.error);

  // A bad line in the last piece: refused with its number, and nothing of the pieces before it
  // written.
  const std::string bad = text + "[HKEY_CURRENT_USER\\Software\\Velmora\\Tail]\n\"x\"=dword:zz\n";
  r = vlx({"reg", "import", write("bad.reg", bad)});
  EXPECT_EQ(r.status, 1);
  EXPECT_HAS(r.output, "bad.reg:" + std::to_string(lineOf(bad, "dword:zz")) + ": ");
  fails({"reg", "query", "HKCU\\Software\\Velmora\\Big"}, "not found");

  EXPECT_EQ(ok({"reg", "import", write("good.reg", text)}),
            "import: 51000 values added, 0 changed, 0 unchanged, 0 removed; 1000 keys added, 0 "
            "removed (52000 entries of " +
                dir_.file("good.reg") + ")\n");
  EXPECT_HAS(ok({"reg", "query", "HKCU\\Software\\Velmora\\Big\\K999"}),
             "    Blob    REG_BINARY    01020304\n");
}

TEST_F(VlxTest, EncodingIsFoundOverTheWholeFile) {
  // A REGEDIT4 file whose only byte that is not UTF-8 lies pieces past its start: Windows-1252.
  std::string text = bigFile("REGEDIT4", 600);
  text += "[HKEY_CURRENT_USER\\Software\\Velmora\\Late]\n\"Gr\xfc\xdf\x65\"=\"\xe9t\xe9\"\n";
  ok({"reg", "import", write("ansi.reg", text)});
  EXPECT_EQ(ok({"reg", "query", "HKCU\\Software\\Velmora\\Late"}),
            "HKEY_CURRENT_USER\\Software\\Velmora\\Late\n    Grüße    REG_SZ    été\n\n");

  // With a byte-order mark it must be UTF-8: the line is named.
  const std::string marked = "\xEF\xBB\xBF" + text;
  RunResult r = vlx({"reg", "import", write("marked.reg", marked)});
  EXPECT_EQ(r.status, 1);
  EXPECT_HAS(r.output, "marked.reg:" + std::to_string(lineOf(text, "Gr\xfc")) + ": not UTF-8 text");

  // UTF-16LE pieces cut between whole units.
  std::string utf16 = "\xFF\xFE";
  for (unsigned char c : bigFile("Windows Registry Editor Version 5.00", 600)) {
    utf16 += static_cast<char>(c);
    utf16 += '\0';
  }
  // The same keys as the first file's, so every value is set to what it holds.
  EXPECT_HAS(ok({"reg", "import", write("wide.reg", utf16)}), " 30600 unchanged, ");
  EXPECT_HAS(ok({"reg", "query", "HKCU\\Software\\Velmora\\Big\\K599"}), "V49    REG_SZ");
}

TEST_F(VlxTest, OnlyARegularFileIsImported) {
  // A FIFO without a writer, and a device that never ends: refused at once.
  const std::string fifo = dir_.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fails({"reg", "import", fifo}, "fifo: not a regular file");
  fails({"reg", "import", "/dev/zero"}, "/dev/zero: not a regular file");
  // A section without end is refused at the bound, whatever it holds.
  const std::string endless = write("zeros.reg", "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"x\"=\"" +
                                                     std::string(3 << 20, '\0'));
  std::string caught;
  try {
    RegFilePieces(endless, 2 << 20).read([](std::string_view, int) {});
  } catch (const Failure &f) {
    caught = f.what();
  }
  EXPECT_EQ(caught, endless + ":3: a key section of more than 2 MiB");
}

TEST_F(VlxTest, AFileChangedBetweenThePassesImportsNothing) {
  const std::string file = write("a.reg", bigFile("REGEDIT4", 600));
  RegFilePieces pieces(file);
  pieces.read([](std::string_view, int) {});
  // The same size, another byte.
  std::string changed = bigFile("REGEDIT4", 600);
  changed[changed.rfind('x')] = 'y';
  write("a.reg", changed);
  std::string caught;
  try {
    pieces.read([](std::string_view, int) {});
  } catch (const Failure &f) {
    caught = f.what();
  }
  EXPECT_EQ(caught, file + ": changed while it was imported (nothing imported)");

  // What the check did not see reaches no hive: here a hive the first pass did not name.
  auto op = [](reg::Root root) {
    reg::Operation o;
    o.key.root = root;
    o.key.subKey = "Software\\Changed";
    return o;
  };
  int pass = 0;
  const OperationSource source = [&](const std::function<void(const reg::Operation &)> &each) {
    each(op(reg::Root::CurrentUser));
    if (++pass > 1)
      each(op(reg::Root::LocalMachine));
  };
  EXPECT_THROW(importOperations(source, "b.reg", ImportOptions{}), Failure);
  fails({"reg", "query", "HKCU\\Software\\Changed"}, "");
  fails({"reg", "query", "HKLM\\Software\\Changed"}, "");
}

TEST(VlxProgress, ShownOnlyOnATerminalAfterTheDelay) {
  std::ostringstream quiet, late, shown;
  {
    Progress p(quiet, 100, false, std::chrono::milliseconds(0));
    p.update("importing", 50);
  }
  {
    Progress p(late, 100, true, std::chrono::hours(1));
    p.update("importing", 50);
  }
  {
    Progress p(shown, 4000000, true, std::chrono::milliseconds(0));
    p.update("checking", 2000000);
    p.update("checking", 2000001); // the same percentage is not drawn again
  }
  EXPECT_EQ(quiet.str(), "");
  EXPECT_EQ(late.str(), "");
  EXPECT_EQ(shown.str(), "\rchecking [###############               ] 50% (2 of 4 MB)\x1b[K"
                         "\r\x1b[K");
}

TEST(VlxProgress, WaitLineShownOnlyOnATerminalWhileTheWaitLasts) {
  std::ostringstream quiet, quick, shown;
  { WaitLine line(quiet, "vlx: waiting", false, std::chrono::milliseconds(0)); }
  { WaitLine line(quick, "vlx: waiting", true, std::chrono::hours(1)); }
  {
    WaitLine line(shown, "vlx: waiting", true, std::chrono::milliseconds(0));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  EXPECT_EQ(quiet.str(), "");
  EXPECT_EQ(quick.str(), "") << "a wait shorter than the delay shows nothing";
  EXPECT_EQ(shown.str(), "vlx: waiting\r\x1b[K");
}

TEST_F(VlxTest, ExportCountsItsKeysOnATerminalOnly) {
  ok({"reg", "import",
      write("three.reg", "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Velmora\\A]\n\"x\"=\"1\"\n\n"
                         "[HKEY_CURRENT_USER\\Software\\Velmora\\A\\B]\n")});
  for (bool terminal : {false, true}) {
    SCOPED_TRACE(terminal);
    BarPolicy policy(terminal);
    std::ostringstream out, err;
    regExport(out, err, std::string("HKCU\\Software\\Velmora"), std::nullopt);
    EXPECT_HAS(out.str(), "[HKEY_CURRENT_USER\\Software\\Velmora\\A\\B]");
    EXPECT_EQ(err.str(), terminal
                             ? BarPolicy::drawn("exporting", 33, "1 of 3 keys") +
                                   BarPolicy::drawn("exporting", 66, "2 of 3 keys") +
                                   BarPolicy::drawn("exporting", 100, "3 of 3 keys") + "\r\x1b[K"
                             : "");
  }
}

// The validator that spares most files the converter takes no more than the converter does:
// each sequence, inside a version 5 file (UTF-8 only), is refused exactly when the converter
// refuses it, also past a run of ASCII read eight bytes at a time.
TEST_F(VlxTest, UnmarkedUtf8IsCheckedAsTheConverterChecksIt) {
  const std::string sequences[] = {"\xc3\xa4",
                                   "\xe6\xad\xaf",
                                   "\xf0\x9f\x98\x80",
                                   "\xf4\x8f\xbf\xbf",
                                   "\xc0\xaf",
                                   "\xc1\xbf",
                                   "\xe0\x80\xaf",
                                   "\xe0\x9f\xbf",
                                   "\xed\xa0\x80",
                                   "\xed\xbf\xbf",
                                   "\xf0\x80\x80\xaf",
                                   "\xf4\x90\x80\x80",
                                   "\xf5\x80\x80\x80",
                                   "\xff",
                                   "\x80",
                                   "\xc3",
                                   "\xe6\xad",
                                   "\xf0\x9f\x98",
                                   "\xc3\x28",
                                   "\xe6\x28\xaf"};
  for (const std::string &sequence : sequences) {
    for (const std::string &before : {std::string(), std::string(13, 'a')}) {
      const std::string text = "Windows Registry Editor Version 5.00\n\n"
                               "[HKEY_CURRENT_USER\\Software\\Velmora]\n\"x\"=\"" +
                               before + sequence + "\"\n";
      SCOPED_TRACE(testing::PrintToString(text));
      std::string decoded, error;
      int errorLine = 0;
      const bool valid = decodeRegFile(text, decoded, errorLine, error);
      RegFilePieces pieces(write("seq.reg", text));
      std::string read;
      try {
        pieces.read([&](std::string_view piece, int) { read += piece; });
        EXPECT_TRUE(valid);
        EXPECT_EQ(read, decoded);
      } catch (const Failure &f) {
        EXPECT_FALSE(valid);
        EXPECT_HAS(f.what(), "seq.reg:4: not UTF-8 text");
      }
    }
  }
  // Half a UTF-16 unit, all the file holds after its byte-order mark.
  fails({"reg", "import", write("odd.reg", "\xff\xfeW")},
        "odd.reg:1: not UTF-16LE text (a lone surrogate or an odd byte)");
}

} // namespace
} // namespace vlx::cli
