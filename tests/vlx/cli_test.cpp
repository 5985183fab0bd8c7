// Tests of the vlx binary on a temporary store, and of its number handling in-process.
#include "support/expect_text.h"
#include "support/old_hive.h"
#include "vlx_fixture.h"

#include <vlx/core/commands.h>
#include <vlx/core/errors.h>

#include <filesystem>
#include <sys/stat.h>
#include <tuple>

namespace vlx::cli {
namespace {

using namespace std::string_literals;

TEST(VlxNumbers, ParsingIsStrict) {
  EXPECT_EQ(parseIntValue("-2147483648"), INT32_MIN);
  EXPECT_EQ(parseIntValue("+2147483647"), INT32_MAX);
  for (const char *text : {"", "12x", " 1", "1.5", "0x10", "2147483648", "-2147483649", "+-1"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(parseIntValue(text), Failure);
  }
  for (const char *text : {"", "1.5x", "1,5", "1e999", "nan", "-inf", "0x1p3", "+"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(parseDoubleValue(text), Failure);
  }
}

TEST_F(VlxTest, PrefSetGetRoundTrip) {
  fails({"pref", "set", "General", "Bad", "12x", "--type", "int"}, "invalid int", 2);
  fails({"pref", "set", "General", "Bad", "nan", "--type", "double"}, "finite", 2);
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path())) << "a refused set wrote a hive";

  const std::tuple<const char *, std::string, std::string> cases[] = {
      {"int", "-2147483648", "-2147483648\n"},
      {"double", "0.1", "0.1\n"},
      {"double", "0.30000000000000004", "0.30000000000000004\n"},
      {"double", ".5e300", "5e+299\n"},
      {"string", "", "\n"},
      {"string", "C:\\path \"quoted\"", "C:\\path \"quoted\"\n"},
  };
  int i = 0;
  for (const auto &[type, value, printed] : cases) { // printed alike with --type and without
    SCOPED_TRACE(std::string(type) + " " + value);
    std::string name = "v" + std::to_string(i++);
    EXPECT_EQ(ok({"pref", "set", "General", name, value, "--type", type}), "");
    EXPECT_EQ(ok({"pref", "get", "General", name, "--type", type}), printed);
    EXPECT_EQ(ok({"pref", "get", "General", name}), printed);
  }
  fails({"pref", "get", "General", "v0", "--type", "string"}, "REG_DWORD");
  // A type the tool has no name for is named by its number, as reg query names it.
  ok({"reg", "import",
      write("link.reg", "REGEDIT4\n[HKCU\\Software\\Velmora\\General]\n"
                        "\"Link\"=hex(6):41,00\n")});
  fails({"pref", "get", "General", "Link"}, "HKEY_CURRENT_USER holds REG_TYPE_6 of 2 bytes");
  fails({"pref", "get", "General", "Nothing"}, "General\\Nothing is not set");
}

// The conversion itself is the library's; here the tool's own reading, printing and errors.
TEST_F(VlxTest, VariantConvertPrintsTheResultOrTheErrorName) {
  EXPECT_EQ(ok({"variant", "convert", "2.5", "--from", "r8", "--to", "i4"}), "2\n");
  EXPECT_EQ(ok({"variant", "convert", "-1", "--from", "bool", "--to", "bstr"}), "-1\n");
  EXPECT_EQ(ok({"variant", "convert", "x\xc3\xa9", "--from", "bstr", "--to", "bstr"}),
            "x\xc3\xa9\n");
  EXPECT_EQ(ok({"variant", "convert", "1,5", "--from", "bstr", "--to", "r8", "--lcid", "0x0407"}),
            "1.5\n");
  fails({"variant", "convert", "1e20", "--from", "r8", "--to", "i4"}, "DISP_E_OVERFLOW");
  fails({"variant", "convert", "", "--from", "null", "--to", "i4"}, "DISP_E_TYPEMISMATCH");
  fails({"variant", "convert", "1.5", "--from", "i4", "--to", "r8"}, "not a valid i4 value", 2);
  fails({"variant", "convert", "1", "--from", "i4", "--to", "dispatch"}, "dispatch", 2);
}

// The library reads back texts of up to 255 bytes; a longer one stored elsewhere is named.
TEST_F(VlxTest, TextsTooLongToReadBack) {
  ok({"pref", "set", "General", "Most", std::string(255, 'm')});
  EXPECT_EQ(ok({"pref", "get", "General", "Most"}), std::string(255, 'm') + "\n");
  fails({"pref", "set", "General", "Long", std::string(256, 'l'), "--machine"},
        "text of 256 bytes is longer than the 255 the library reads back", 2);
  fails({"pref", "get", "General", "Long"}, "not set");

  ok({"reg", "import",
      write("long.reg", "REGEDIT4\n[HKCU\\Software\\Velmora\\General]\n"
                        "\"Long\"=\"" +
                            std::string(300, 'l') + "\"\n")});
  const std::string says = "HKEY_CURRENT_USER\\Software\\Velmora\\General holds 'Long' as a text "
                           "of 300 bytes, longer than the 255 the library reads";
  fails({"pref", "get", "General", "Long"}, "General\\Long is not set: " + says);
  ok({"pref", "set", "General", "Long", "2.5", "--machine"});
  for (const char *type : {"string", "double"}) {
    SCOPED_TRACE(type);
    RunResult r = vlx({"pref", "get", "General", "Long", "--type", type});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "vlx: note: " + says + "; shown is the value of HKEY_LOCAL_MACHINE\n2.5\n");
  }
}

// The fall-back and the reset themselves are the library's; here each command reaches its hive.
TEST_F(VlxTest, MachineValuesDeletionAndReset) {
  ok({"pref", "set", "General", "Backup Copies", "2", "--type", "int", "--machine"});
  ok({"pref", "set", "General", "Backup Copies", "3", "--type", "int"});
  ok({"pref", "delete", "General", "Backup Copies"});
  EXPECT_EQ(ok({"pref", "get", "General", "Backup Copies"}), "2\n");
  fails({"pref", "delete", "General", "Backup Copies"}, "not set");
  ok({"pref", "set", "General", "Mine", "x"});
  ok({"pref", "reset"});
  fails({"pref", "get", "General", "Mine"}, "not set");
  ok({"pref", "delete", "General"});
}

TEST_F(VlxTest, UsageErrorsAndHelp) {
  fails({"reg", "export", "HKEY_NOWHERE\\X"}, "unknown root", 2);
  fails({"\x1b[2J"}, "unknown command '\\x1b[2J'", 2);
  // Arguments nobody takes, in the order typed, each one shell word.
  fails({"reg", "copy", "A", "B", "x", "y z"}, "unexpected arguments: x 'y z' (see --help)", 2);
  fails({"pref", "get", "General", "Units", "\x1b"}, "unexpected argument: $'\\033'", 2);
  // Only a command that has --ve reads reg.exe's -ve as it.
  fails({"variant", "convert", "1", "--from", "i4", "--to", "r8", "-ve"}, "unexpected argument: -ve",
        2);
  EXPECT_HAS(ok({"pref", "get", "--help"}), "Usage");
}

const char kAllForms[] = "REGEDIT4\n\n"
                         "[HKEY_CURRENT_USER\\Software\\Velmora\\Forms]\n"
                         "@=\"default\"\n"
                         "\"text\"=\"a \\\"quoted\\\" C:\\\\path\"\n"
                         "\"count\"=dword:0000000a\n"
                         "\"bin\"=hex:01,02,ff\n"
                         "\"expand\"=hex(2):25,54,45,4d,50,25,00\n"
                         "\"qword\"=hex(b):01,00,00,00,00,00,00,00\n"
                         "\"unterminated\"=hex(1):61,62\n"
                         "\"embedded\"=hex(1):61,00,62,00\n"
                         "[HKEY_CURRENT_USER\\Software\\Velmora\\Forms\\Sub]\n"
                         "[HKEY_LOCAL_MACHINE\\Software\\Velmora\\General]\n"
                         "\"Backup Copies\"=dword:00000002\n"
                         "[HKEY_USERS\\.DEFAULT\\Software\\Velmora\\General]\n"
                         "\"Units\"=\"mm\"\n"
                         "[HKEY_CLASSES_ROOT\\.vlm]\n" // into the machine's classes
                         "@=\"Velmora.Model\"\n";

TEST_F(VlxTest, ExportImportExportGivesTheSameText) {
  std::string source = write("forms.reg", kAllForms);
  EXPECT_EQ(ok({"reg", "import", source}),
            "import: 11 values added, 0 changed, 0 unchanged, 0 removed; 5 keys added, 0 removed "
            "(16 entries of " +
                source + ")\n");
  std::string first = ok({"reg", "export"});
  EXPECT_EQ(first.rfind("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Velmora]\n", 0), 0u) << first;
  for (const char *line : {"\"unterminated\"=hex(1):61,62\n", "\"count\"=dword:0000000a\n",
                           "[HKEY_USERS\\.DEFAULT\\Software\\Velmora\\General]\n"})
    EXPECT_HAS(first, line);
  EXPECT_EQ(ok({"reg", "export", "HKEY_LOCAL_MACHINE\\Software\\Classes\\.vlm"}),
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Classes\\.vlm]\n@=\"Velmora.Model\"\n\n");

  // What each root's export holds imports back into an empty store: EveryRootExportedImportsBack.

  ok({"reg", "import",
      write("del.reg", "REGEDIT4\r\n[-HKEY_CURRENT_USER\\Software\\Velmora\\Forms]\r\n"
                       "[-HKCU\\Software\\Velmora\\Never]\r\n[HKLM\\Software\\Velmora\\General]\r\n"
                       "\"Backup Copies\"=-\r\n\"Absent\"=-\r\n")});
  EXPECT_EQ(ok({"reg", "export", "HKCU\\Software\\Velmora"}),
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Velmora]\n\n");
  EXPECT_EQ(ok({"reg", "export", "HKLM\\Software\\Velmora\\General"}),
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Velmora\\General]\n\n");
}

TEST_F(VlxTest, MalformedImportChangesNothing) {
  ok({"pref", "set", "General", "Keep", "1", "--type", "int"});
  std::string before = ok({"reg", "export"});
  // The deletion on line 2 is not applied when line 3 is refused.
  std::string file =
      write("bad.reg", "REGEDIT4\n[-HKCU\\Software\\Velmora]\n[HKEY_USERS\\S-1-5-18\\Software]\n");
  fails({"reg", "import", file}, file + ":3: ");
  EXPECT_EQ(ok({"reg", "export"}), before);
  fails({"reg", "import", dir_.file("missing.reg")}, "cannot read");

  // Hostile text reaches the terminal escaped, and a zero byte does not cut the message short.
  const std::pair<std::string, std::string> hostile[] = {
      {"\"a\"=\"\\\x1b]0;title\x07\"", "unknown escape '\\\\x1b'"},
      {"\"a\"=str\x1b[2J", "unknown value form 'str\\x1b[2J'"},
      {"\"a\"=s\0t\"r\""s, "unknown value form 's\\x00t\"r\"'"},
  };
  for (const auto &[line, shown] : hostile) {
    SCOPED_TRACE(shown);
    fails({"reg", "import", write("hostile.reg", "REGEDIT4\n[HKCU\\X]\n" + line + "\n")}, shown);
  }
}

// What the registry would refuse part-way is refused before anything is written: a file whose
// second hive breaks a limit changes neither hive.
TEST_F(VlxTest, ImportChecksEveryLimitBeforeWriting) {
  ok({"pref", "set", "General", "Keep", "1", "--type", "int"});
  const std::string before = ok({"reg", "export"});
  std::string deep = "HKCU\\Software"; // 512 keys below the hive's root
  for (int i = 0; i < 511; ++i)
    deep += "\\k";
  const std::string head = "REGEDIT4\n[HKLM\\Software\\Velmora\\General]\n\"m\"=\"1\"\n";
  const std::tuple<std::string, int, std::string> cases[] = {
      {"[HKCU\\Software\\" + std::string(256, 'k') + "]\n", 4,
       "key name longer than 255 characters"},
      {"[HKCU\\Software]\n\"" + std::string(16384, 'n') + "\"=\"v\"\n", 5,
       "value name longer than 16,383 characters"},
      {"[" + deep + "\\k]\n", 4, "key nested deeper than 512 levels"},
      {"[HKEY_USERS\\S-1-5-18\\Software]\n", 4, "only HKEY_USERS\\.DEFAULT can be imported"},
      {"[HKEY_USERS]\n@=\"v\"\n", 5, "HKEY_USERS itself holds no values"},
      {"[-HKEY_CURRENT_USER\\Software]\n", 4,
       "cannot delete HKEY_CURRENT_USER\\Software: the hive always keeps this key"},
      {"[-HKEY_CLASSES_ROOT\\.x]\n[-HKLM\\software\\classes]\n", 5,
       "cannot delete HKEY_LOCAL_MACHINE\\software\\classes: the hive always keeps this key"},
      {"[-HKEY_USERS\\.DEFAULT]\n", 4,
       "cannot delete HKEY_USERS\\.DEFAULT: the hive always keeps this key"},
      {"[-HKLM\\SYSTEM\\CurrentControlSet]\n", 4,
       "cannot delete HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet: the hive always keeps this "
       "key"},
  };
  for (const auto &[text, line, message] : cases) {
    SCOPED_TRACE(message);
    const std::string file = write("limit.reg", head + text);
    RunResult r =
        fails({"reg", "import", file}, file + ":" + std::to_string(line) + ": " + message);
    EXPECT_HAS(r.output, "(nothing imported)");
    EXPECT_EQ(ok({"reg", "export"}), before);
  }

  // Up to each limit, in characters rather than bytes: 16,383 three-byte characters.
  std::string most;
  for (int i = 0; i < 16383; ++i)
    most += "\xe2\x82\xac";
  ok({"reg", "import",
      write("most.reg", head + "[" + deep + "]\n[HKCU\\Software\\" + std::string(255, 'k') +
                            "]\n\"" + most + "\"=\"v\"\n[HKEY_USERS]\n")});
}

TEST_F(VlxTest, ImportIntoAHiveThatRefusesChangesNoHive) {
  std::string file = write("t.reg", "REGEDIT4\n[HKCU\\Software\\Velmora\\General]\n\"u\"=\"1\"\n"
                                    "[HKLM\\Software\\Velmora\\General]\n\"m\"=\"1\"\n");
  write("machine.db", std::string(8192, 'x')); // damaged
  RunResult r = vlx({"reg", "import", file});  // the damaged-hive notice, then the failure
  EXPECT_EQ(r.status, 1);
  EXPECT_HAS(r.output,
             "vlx: " + file +
                 ": cannot apply the changes to HKEY_LOCAL_MACHINE: registry file damaged "
                 "(nothing imported)\n");
  EXPECT_EQ(ok({"reg", "export", "HKCU\\Software"}),
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\n");
}

// Whatever a root's export holds, an import of it puts back.
TEST_F(VlxTest, EveryRootExportedImportsBack) {
  ok({"reg", "import", write("forms.reg", kAllForms)});
  int i = 0;
  for (const char *root : {"HKEY_USERS", "HKEY_CLASSES_ROOT", "HKEY_LOCAL_MACHINE",
                           "HKEY_CURRENT_USER", "HKEY_CURRENT_CONFIG"}) {
    SCOPED_TRACE(root);
    const std::string text = ok({"reg", "export", root});
    const std::string file = write("root.reg", text);
    const std::string store = dir_.file("store" + std::to_string(i++));
    std::filesystem::create_directory(store);
    test::ScopedEnv other("VELMORA_REGISTRY_DIR", store.c_str());
    ok({"reg", "import", file});
    EXPECT_EQ(ok({"reg", "export", root}), text);
  }
}

// HKEY_CURRENT_CONFIG names a key of the machine's hive, under either name.
TEST_F(VlxTest, CurrentConfigIsTheMachinesProfileKey) {
  ok({"reg", "import",
      write("config.reg", "REGEDIT4\n[HKCC\\Software\\Fonts]\n\"Size\"=dword:0000000c\n")});
  const std::string below = "\\Software\\Fonts]\n\"Size\"=dword:0000000c\n\n";
  EXPECT_EQ(ok({"reg", "export", "HKEY_CURRENT_CONFIG\\Software\\Fonts"}),
            "REGEDIT4\n\n[HKEY_CURRENT_CONFIG" + below);
  EXPECT_EQ(ok({"reg", "export",
                "HKLM\\SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current\\"
                "Software\\Fonts"}),
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Hardware "
            "Profiles\\Current" +
                below);
}

TEST_F(VlxTest, ExportToFileWritesNewAndExistingFiles) {
  namespace fs = std::filesystem;
  ok({"pref", "set", "General", "Units", "mm"});
  const std::string expected = ok({"reg", "export"});
  const std::string fresh = dir_.file("new.reg");
  EXPECT_EQ(ok({"reg", "export", "-o", fresh}), "");
  EXPECT_EQ(readFile(fresh), expected);
  const std::string old = write("old.reg", "old content");
  const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read;
  fs::permissions(old, mode);
  EXPECT_EQ(ok({"reg", "export", "-o", old}), "");
  EXPECT_EQ(readFile(old), expected);
  EXPECT_EQ(fs::status(old).permissions(), mode);

  // Places no one can write to, root included; each failure says why and leaves nothing behind.
  const std::string notDir = write("plain", "");
  fs::create_directory(dir_.file("taken.reg"));
  const std::pair<std::string, std::string> refused[] = {
      {notDir + "/x.reg", "Not a directory"},
      {dir_.file("no/such/dir.reg"), "No such file or directory"},
      {dir_.file("taken.reg"), "Is a directory"},
  };
  for (const auto &[file, why] : refused) {
    SCOPED_TRACE(file);
    fails({"reg", "export", "-o", file}, "cannot write " + file + ": " + why);
  }
  for (const auto &entry : fs::directory_iterator(dir_.path()))
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
  fails({"reg", "export", "HKCU\\Software\\Nowhere"},
        "cannot open HKEY_CURRENT_USER\\Software\\Nowhere: not found");
}

TEST_F(VlxTest, CheckReportsMissingOkAndDamagedHives) {
  ok({"pref", "set", "General", "Units", "mm"});
  std::string written = ok({"reg", "check"});
  EXPECT_HAS(written, ": ok\n");

  // Damage the user's hive file (the path is on the HKEY_CURRENT_USER line).
  size_t start = written.find('/', written.find("HKEY_CURRENT_USER"));
  ASSERT_NE(start, std::string::npos) << written;
  std::string path = written.substr(start, written.find(": ", start) - start);
  std::filesystem::remove(path + "-wal");
  std::filesystem::remove(path + "-shm");
  std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(8192, 'x');
  EXPECT_HAS(written, "HKEY_CURRENT_USER    writable  /");
  RunResult r = vlx({"reg", "check"}); // every hive's line, then the count
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_HAS(r.output, "vlx: 1 hive is damaged");
  // A damaged hive refuses writes, whoever asks.
  EXPECT_HAS(r.output, "HKEY_CURRENT_USER    read-only /");
  EXPECT_HAS(r.output, "HKEY_LOCAL_MACHINE   writable  /");

  // A FIFO in the hive's place is reported, not waited on.
  std::filesystem::remove(path);
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  r = vlx({"reg", "check"});
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_HAS(r.output, "DAMAGED: is not a regular file");
}

// A hive whose names ignore ASCII case only: check tells what its first write will merge, and
// after that write what it merged.
TEST_F(VlxTest, CheckReportsTheMergesOfTheMoveToTheCurrentCaseRule) {
  ok({"pref", "set", "General", "Units", "mm"});
  const std::string upper = "Software\\Velmora\\\xc3\x84rger",
                    lower = "Software\\Velmora\\\xc3\xa4rger";
  {
    test::OldHive old(dir_.file("user.db"));
    old.key(upper, 1);
    old.value(upper, "Farbe", 1);
    old.key(lower, 2);
    old.value(lower, "farbe", 2);
  }
  const std::string merges = "  KEY key \"" + upper + "\" into \"" + lower +
                             "\"\n  VALUE value \"Farbe\" of \"" + upper +
                             "\" as \"Farbe (merged)\" in \"" + lower + "\"\n";
  auto expected = [&](const std::string &first, const std::string &key, const std::string &value) {
    std::string text = ": " + first + "\n" + merges;
    text.replace(text.find("KEY"), 3, key);
    text.replace(text.find("VALUE"), 5, value);
    return text;
  };
  std::string before = ok({"reg", "check"});
  EXPECT_HAS(before, expected("ok; names ignore ASCII case only until the first write",
                              "will merge", "will keep"));
  ok({"pref", "set", "General", "Units", "cm"});
  std::string after = ok({"reg", "check"});
  EXPECT_HAS(after, expected("ok", "merged", "kept"));
  EXPECT_EQ(ok({"reg", "export", "HKCU\\" + upper}),
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\" + upper +
                "]\n\"Farbe (merged)\"=dword:00000001\n\"farbe\"=dword:00000002\n\n");
}

// A damaged user hive: the machine's value is read, and a write says why it was refused; one
// warning names the hive.
TEST_F(VlxTest, DamagedUserHiveFallsBackToTheMachine) {
  ok({"pref", "set", "--machine", "General", "Units", "mm"});
  std::filesystem::create_directory(dir_.file("user.db"));
  const std::string warning =
      "vlx: warning: the HKEY_CURRENT_USER hive " + dir_.file("user.db") +
      " is damaged (is a directory); it reads as empty and refuses writes\n";
  EXPECT_EQ(ok({"pref", "get", "General", "Units"}), "mm\n" + warning);
  RunResult r = vlx({"pref", "set", "General", "Units", "cm"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, warning + "vlx: cannot write HKEY_CURRENT_USER\\Software\\Velmora\\General: "
                                "registry file damaged\n");
  r = vlx({"pref", "reset"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, warning + "vlx: cannot reset HKEY_CURRENT_USER\\Software\\Velmora: "
                                "registry file damaged\n");
}

} // namespace
} // namespace vlx::cli
