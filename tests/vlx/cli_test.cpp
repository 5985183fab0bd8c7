// Tests of the vlx binary on a temporary store, and of its number handling in-process.
#include "support/temp_env.h"

#include <vlx/commands.h>
#include <vlx/errors.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace vlx::cli {
namespace {

using test::RunResult;

class VlxTest : public test::TempEnvTest {
protected:
  RunResult vlx(std::vector<std::string> args) {
    args.insert(args.begin(), VLX_BINARY);
    return test::runCommand(args);
  }

  // Output (stdout and stderr together) of a command expected to succeed.
  std::string ok(const std::vector<std::string> &args) {
    RunResult r = vlx(args);
    EXPECT_EQ(r.status, 0) << r.output;
    return r.output;
  }

  std::string write(const std::string &name, const std::string &text) {
    std::string path = dir_.file(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  static std::string read(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
};

// A failure is exactly one "vlx: ..." line (the command printed nothing else).
void expectOneErrorLine(const RunResult &r, int status, const std::string &part) {
  EXPECT_EQ(r.status, status) << r.output;
  EXPECT_EQ(r.output.rfind("vlx: ", 0), 0u) << r.output;
  ASSERT_FALSE(r.output.empty());
  EXPECT_EQ(r.output.find('\n'), r.output.size() - 1) << r.output;
  EXPECT_NE(r.output.find(part), std::string::npos) << r.output;
}

TEST(VlxNumbers, DoublesPrintShortestRoundTrip) {
  const std::pair<double, const char *> cases[] = {
      {0.1, "0.1"},      {1.0, "1"},         {-2.5, "-2.5"}, {0.1 + 0.2, "0.30000000000000004"},
      {1e300, "1e+300"}, {5e-324, "5e-324"}, {0.0, "0"},     {123456789.0, "123456789"},
  };
  for (const auto &[value, text] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(formatDouble(value), text);
  }
}

TEST(VlxNumbers, IntValuesAreStrict) {
  const std::pair<const char *, int> good[] = {
      {"0", 0}, {"42", 42}, {"+7", 7}, {"-2147483648", INT32_MIN}, {"2147483647", INT32_MAX}};
  for (const auto &[text, value] : good) {
    SCOPED_TRACE(text);
    EXPECT_EQ(parseIntValue(text), value);
  }
  const char *bad[] = {"",    "abc",  "12x",        " 1",          "1 ",
                       "1.5", "0x10", "2147483648", "-2147483649", "99999999999999999999",
                       "+",   "+-1",  "--1"};
  for (const char *text : bad) {
    SCOPED_TRACE(text);
    EXPECT_THROW(parseIntValue(text), Failure);
  }
}

TEST(VlxNumbers, DoubleValuesAreStrict) {
  const std::pair<const char *, double> good[] = {{"0.1", 0.1}, {"+2.5", 2.5}, {"-1e-3", -1e-3},
                                                  {"3", 3.0},   {".5", 0.5},   {"1E5", 1e5}};
  for (const auto &[text, value] : good) {
    SCOPED_TRACE(text);
    EXPECT_EQ(parseDoubleValue(text), value);
  }
  const char *bad[] = {"", "x", "1.5x", "1,5", " 1", "1e999", "nan", "inf", "-inf", "0x1p3", "+"};
  for (const char *text : bad) {
    SCOPED_TRACE(text);
    EXPECT_THROW(parseDoubleValue(text), Failure);
  }
}

TEST_F(VlxTest, PrefSetGetRoundTrip) {
  struct Case {
    const char *type;
    std::string value;
    std::string printed;
  };
  const Case cases[] = {
      {"int", "42", "42\n"},
      {"int", "-2147483648", "-2147483648\n"},
      {"double", "0.1", "0.1\n"},
      {"double", "+2.5", "2.5\n"},
      {"double", "1e300", "1e+300\n"},
      {"string", "hello world", "hello world\n"},
      {"string", "", "\n"},
      {"string", "C:\\path \"quoted\"", "C:\\path \"quoted\"\n"},
  };
  int i = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + c.value);
    std::string name = "v" + std::to_string(i++);
    EXPECT_EQ(ok({"pref", "set", "General", name, c.value, "--type", c.type}), "");
    EXPECT_EQ(ok({"pref", "get", "General", name, "--type", c.type}), c.printed);
  }
}

TEST_F(VlxTest, PrefGetWithoutTypeFollowsTheStoredType) {
  ok({"pref", "set", "General", "Count", "7", "--type", "int"});
  ok({"pref", "set", "General", "Name", "seven"});
  ok({"pref", "set", "General", "Ratio", "0.5", "--type", "double"});
  EXPECT_EQ(ok({"pref", "get", "General", "Count"}), "7\n");
  EXPECT_EQ(ok({"pref", "get", "General", "Name"}), "seven\n");
  EXPECT_EQ(ok({"pref", "get", "General", "Ratio"}), "0.5\n"); // the stored text
  // An int asked for as a string is not there in that form.
  expectOneErrorLine(vlx({"pref", "get", "General", "Count", "--type", "string"}), 1, "REG_DWORD");
}

TEST_F(VlxTest, PrefFallsBackToTheMachineAndDeletes) {
  ok({"pref", "set", "General", "Backup Copies", "2", "--type", "int", "--machine"});
  EXPECT_EQ(ok({"pref", "get", "General", "Backup Copies"}), "2\n");
  ok({"pref", "set", "General", "Backup Copies", "3", "--type", "int"});
  EXPECT_EQ(ok({"pref", "get", "General", "Backup Copies"}), "3\n");
  ok({"pref", "delete", "General", "Backup Copies"});
  EXPECT_EQ(ok({"pref", "get", "General", "Backup Copies"}), "2\n");
  expectOneErrorLine(vlx({"pref", "delete", "General", "Backup Copies"}), 1, "not set");

  ok({"pref", "set", "Extra", "x", "1"});
  ok({"pref", "delete", "Extra"});
  expectOneErrorLine(vlx({"pref", "get", "Extra", "x"}), 1, "not set");
  expectOneErrorLine(vlx({"pref", "delete", "Extra"}), 1, "does not exist");
}

TEST_F(VlxTest, PrefResetCopiesTheMachineSections) {
  expectOneErrorLine(vlx({"pref", "reset"}), 1, "nothing to reset");
  ok({"pref", "set", "General", "Units", "mm", "--machine"});
  ok({"pref", "set", "General", "Units", "in"});
  ok({"pref", "set", "General", "Mine", "x"});
  ok({"pref", "reset"});
  EXPECT_EQ(ok({"pref", "get", "General", "Units"}), "mm\n");
  expectOneErrorLine(vlx({"pref", "get", "General", "Mine"}), 1, "not set");
}

TEST_F(VlxTest, PrefNotSetExitsOne) {
  expectOneErrorLine(vlx({"pref", "get", "General", "Nothing"}), 1, "General\\Nothing is not set");
  expectOneErrorLine(vlx({"pref", "get", "General", "Nothing", "--type", "double"}), 1,
                     "is not set");
}

TEST_F(VlxTest, BadValuesAreRefusedAndNothingIsWritten) {
  struct Case {
    const char *type;
    const char *value;
    const char *message;
  };
  // The full tables are above; here: one line on stderr, status 2, and no hive written.
  const Case cases[] = {{"int", "12x", "invalid int"},
                        {"int", "2147483648", "out of range"},
                        {"double", "nan", "finite"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.type) + " '" + c.value + "'");
    expectOneErrorLine(vlx({"pref", "set", "General", "Bad", c.value, "--type", c.type}), 2,
                       c.message);
  }
  expectOneErrorLine(vlx({"pref", "get", "General", "Bad"}), 1, "not set");
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path())) << "a refused set wrote a hive";
}

TEST_F(VlxTest, UsageErrorsAndHelp) {
  expectOneErrorLine(vlx({}), 2, "subcommand");
  expectOneErrorLine(vlx({"pref", "get", "General"}), 2, "NAME");
  expectOneErrorLine(vlx({"pref", "set", "G", "N", "1", "--type", "float"}), 2, "--type");
  expectOneErrorLine(vlx({"frobnicate"}), 2, "unknown command 'frobnicate' for 'vlx'");
  expectOneErrorLine(vlx({"pref", "fetch"}), 2, "unknown command 'fetch' for 'vlx pref'");
  expectOneErrorLine(vlx({"reg", "export", "HKEY_NOWHERE\\X"}), 2, "unknown root");
  const std::vector<std::string> commands[] = {{},
                                               {"pref"},
                                               {"pref", "get"},
                                               {"pref", "set"},
                                               {"pref", "delete"},
                                               {"pref", "reset"},
                                               {"reg"},
                                               {"reg", "export"},
                                               {"reg", "import"},
                                               {"reg", "check"},
                                               {"demo"}};
  for (auto args : commands) {
    args.push_back("--help");
    SCOPED_TRACE(args.front());
    RunResult r = vlx(args);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Usage"), std::string::npos) << r.output;
  }
}

const char kAllForms[] =
    "REGEDIT4\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\Velmora\\Forms]\n"
    "@=\"default\"\n"
    "\"text\"=\"a \\\"quoted\\\" C:\\\\path\"\n"
    "\"count\"=dword:0000000a\n"
    "\"bin\"=hex:01,02,ff\n"
    "\"multi\"=hex(7):61,00,62,00,00\n"
    "\"expand\"=hex(2):25,54,45,4d,50,25,00\n"
    "\"qword\"=hex(b):01,00,00,00,00,00,00,00\n"
    "\"unterminated\"=hex(1):61,62\n"
    "\"embedded\"=hex(1):61,00,62,00\n"
    "\"long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,\\\n"
    "  14,15,16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,\\\n"
    "  2c,2d\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\Velmora\\Forms\\Sub]\n"
    "\"x\"=\"y\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Velmora\\General]\n"
    "\"Backup Copies\"=dword:00000002\n"
    "\n"
    "[HKEY_USERS\\.DEFAULT\\Software\\Velmora\\General]\n"
    "\"Units\"=\"mm\"\n";

TEST_F(VlxTest, ExportImportExportGivesTheSameText) {
  std::string source = write("forms.reg", kAllForms);
  EXPECT_EQ(ok({"reg", "import", source}), "imported 17 changes from " + source + "\n");
  std::string first = ok({"reg", "export"});
  EXPECT_EQ(first.rfind("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Velmora]\n", 0), 0u) << first;
  for (const char *line :
       {"\"unterminated\"=hex(1):61,62\n", "\"count\"=dword:0000000a\n", "@=\"default\"\n",
        "[HKEY_USERS\\.DEFAULT\\Software\\Velmora\\General]\n",
        "\"text\"=\"a \\\"quoted\\\" C:\\\\path\"\n"})
    EXPECT_NE(first.find(line), std::string::npos) << line << "\n" << first;

  // Into a second, empty store and out again.
  std::string exported = write("first.reg", first);
  std::filesystem::create_directory(dir_.file("second"));
  test::ScopedEnv second("VELMORA_REGISTRY_DIR", dir_.file("second").c_str());
  ok({"reg", "import", exported});
  EXPECT_EQ(ok({"reg", "export"}), first);
  EXPECT_EQ(ok({"pref", "get", "General", "Units"}), "mm\n"); // from the default user
}

TEST_F(VlxTest, ImportDeletesKeysAndValues) {
  ok({"reg", "import", write("a.reg", kAllForms)});
  ok({"reg", "import",
      write("b.reg", "REGEDIT4\r\n\r\n"
                     "[-HKEY_CURRENT_USER\\Software\\Velmora\\Forms]\r\n"
                     "[-HKEY_CURRENT_USER\\Software\\Velmora\\Never]\r\n"
                     "[HKEY_LOCAL_MACHINE\\Software\\Velmora\\General]\r\n"
                     "\"Backup Copies\"=-\r\n"
                     "\"Absent\"=-\r\n")});
  EXPECT_EQ(ok({"reg", "export", "HKCU\\Software\\Velmora"}),
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Velmora]\n\n");
  EXPECT_EQ(ok({"reg", "export", "HKLM\\Software\\Velmora\\General"}),
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Velmora\\General]\n\n");
}

TEST_F(VlxTest, ClassesRootImportsIntoTheMachineClasses) {
  ok({"reg", "import",
      write("c.reg", "REGEDIT4\n[HKEY_CLASSES_ROOT\\.vlm]\n@=\"Velmora.Model\"\n")});
  EXPECT_EQ(ok({"reg", "export", "HKEY_LOCAL_MACHINE\\Software\\Classes\\.vlm"}),
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Classes\\.vlm]\n@=\"Velmora.Model\"\n\n");
}

TEST_F(VlxTest, MalformedImportChangesNothing) {
  ok({"pref", "set", "General", "Keep", "1", "--type", "int"});
  std::string before = ok({"reg", "export"});
  struct Case {
    std::string text;
    std::string where;
  };
  const Case cases[] = {
      {"REGEDIT4\n[HKCU\\Software\\Velmora\\General]\n\"Keep\"=dword:2\n\"x\"=hex:zz\n", ":4: "},
      {"REGEDIT4\n[-HKCU\\Software\\Velmora]\n[HKEY_NOWHERE\\A]\n", ":3: "},
      {"REGEDIT4\n[HKCU\\Software\\Velmora\\General]\n\"Keep\"=dword:1ffffffff\n", ":3: "},
      {"REGEDIT4\n[-HKCU\\Software\\Velmora]\n[HKEY_USERS\\S-1-5-18\\Software]\n", ":3: "},
      {"REGEDIT3\n[-HKCU\\Software\\Velmora]\n", ":1: "},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    std::string file = write("bad.reg", c.text);
    expectOneErrorLine(vlx({"reg", "import", file}), 1, file + c.where);
    EXPECT_EQ(ok({"reg", "export"}), before);
  }
  expectOneErrorLine(vlx({"reg", "import", dir_.file("missing.reg")}), 1, "cannot read");
}

TEST_F(VlxTest, ImportIsAllOrNothingPerHive) {
  std::string file = write("t.reg", "REGEDIT4\n[HKLM\\Software\\Velmora\\General]\n\"m\"=\"1\"\n"
                                    "[HKCU\\Software\\Velmora\\General]\n\"u\"=\"1\"\n"
                                    "[HKCU\\Software\\Velmora\\" +
                                        std::string(300, 'k') + "]\n");
  RunResult r = vlx({"reg", "import", file});
  expectOneErrorLine(r, 1, file + ":6: cannot create HKEY_CURRENT_USER\\Software\\Velmora\\kkk");
  EXPECT_NE(r.output.find("(nothing imported into HKEY_CURRENT_USER; imported into "
                          "HKEY_LOCAL_MACHINE)"),
            std::string::npos)
      << r.output;
  EXPECT_EQ(ok({"pref", "get", "General", "m"}), "1\n");
  expectOneErrorLine(vlx({"pref", "get", "General", "u"}), 1, "not set");
}

TEST_F(VlxTest, ExportToFileIsAtomicAndMissingKeysFail) {
  ok({"pref", "set", "General", "Units", "mm"});
  std::string out = dir_.file("out.reg");
  write("out.reg", "old content");
  EXPECT_EQ(ok({"reg", "export", "-o", out}), "");
  EXPECT_EQ(read(out), ok({"reg", "export"}));
  size_t files = 0;
  for (const auto &entry : std::filesystem::directory_iterator(dir_.path()))
    files += entry.path().extension() == ".tmp";
  EXPECT_EQ(files, 0u) << "temporary file left behind";

  expectOneErrorLine(vlx({"reg", "export", "HKCU\\Software\\Nowhere"}), 1,
                     "cannot open HKEY_CURRENT_USER\\Software\\Nowhere: not found");
  expectOneErrorLine(vlx({"reg", "export", "-o", dir_.file("no/such/dir.reg")}), 1, "cannot write");
}

TEST_F(VlxTest, CheckReportsMissingOkAndDamagedHives) {
  std::string fresh = ok({"reg", "check"});
  EXPECT_NE(fresh.find("missing (reads as skeleton)"), std::string::npos) << fresh;
  ok({"pref", "set", "General", "Units", "mm"});
  std::string written = ok({"reg", "check"});
  EXPECT_NE(written.find(": ok\n"), std::string::npos) << written;

  // Damage the user's hive file (the path is on the HKEY_CURRENT_USER line).
  size_t at = written.find("HKEY_CURRENT_USER");
  ASSERT_NE(at, std::string::npos);
  size_t start = written.find('/', at);
  std::string path = written.substr(start, written.find(": ", start) - start);
  std::filesystem::remove(path + "-wal");
  std::filesystem::remove(path + "-shm");
  std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(8192, 'x');
  RunResult r = vlx({"reg", "check"});
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("DAMAGED"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("vlx: 1 hive is damaged"), std::string::npos) << r.output;
}

TEST_F(VlxTest, DemoRunsOnItsOwnStore) {
  std::string store = dir_.file("demo");
  std::string out = ok({"demo", store});
  for (const char *line :
       {"2. read through the fall-back: Backup Copies = 2 (from HKEY_LOCAL_MACHINE)",
        "4. read again: Backup Copies = 3 (from HKEY_CURRENT_USER)",
        "5. user value deleted: Backup Copies = 2 again (from HKEY_LOCAL_MACHINE)",
        "Backup Copies = 2 (from HKEY_CURRENT_USER)", "REGEDIT4",
        "[HKEY_CURRENT_USER\\Software\\Velmora\\General]"})
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
  EXPECT_FALSE(std::filesystem::is_empty(store));
  // The test's own store was left alone, and a used directory is refused.
  expectOneErrorLine(vlx({"pref", "get", "General", "Backup Copies"}), 1, "not set");
  expectOneErrorLine(vlx({"demo", store}), 2, "not empty");
}

} // namespace
} // namespace vlx::cli
