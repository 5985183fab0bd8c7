// reg.exe's verbs, the merged preference view, the change watch, and dry runs that list what a
// destructive command would do and change nothing.
#include "support/expect_text.h"
#include "vlx_fixture.h"

#include <velmora/hive.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <sys/stat.h>
#include <thread>

namespace vlx::cli {
namespace {

const std::string kGeneral = "HKCU\\Software\\Velmora\\General";

// Every hive tried, in order, with its file, and which answered (kdb get -v).
TEST_F(VlxTest, PrefGetTraceNamesEveryHiveAndTheOneThatAnswers) {
  ok({"pref", "set", "General", "Count", "7", "--type", "int", "--machine"});
  const std::string traced = ok({"pref", "get", "-v", "General", "Count"});
  const std::string product = "\\Software\\Velmora\\General\\Count (";
  const std::string lines[] = {
      "vlx: trace: HKEY_CURRENT_USER" + product + hivePath(Hive::User) + "): not set\n",
      "vlx: trace: HKEY_LOCAL_MACHINE" + product + hivePath(Hive::Machine) +
          "): REG_DWORD of 4 bytes: answers\n",
      "vlx: trace: HKEY_USERS\\.DEFAULT" + product + hivePath(Hive::DefaultUser) + "): not read\n",
      "7\n"};
  size_t at = 0;
  for (const std::string &line : lines) {
    const size_t found = traced.find(line, at);
    EXPECT_NE(found, std::string::npos) << line << "\n" << traced;
    at = found == std::string::npos ? at : found + line.size();
  }
  EXPECT_HAS(vlx({"pref", "get", "--trace", "General", "Missing"}).output, "no hive answers");
}

// "-" is standard input for reg import and standard output for reg export.
TEST_F(VlxTest, RegImportAndExportThroughStandardStreams) {
  const std::string good = write("good.reg", "REGEDIT4\n\n[" + kGeneral + "]\n\"A\"=\"b\"\n");
  const std::string bad = write("bad.reg", "REGEDIT4\n\n[" + kGeneral + "]\n\"A\"=dword:xyz\n");
  auto shell = [](const std::string &line) { return test::runCommand({"/bin/sh", "-c", line}); };
  RunResult r = shell(std::string(VLX_BINARY) + " reg import - < '" + good + "'");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_HAS(r.output, "import: 1 value added");
  EXPECT_HAS(r.output, "(2 entries of -)");
  r = shell(std::string(VLX_BINARY) + " reg import - < '" + bad + "'");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_EQ(r.output.rfind("vlx: -:4: ", 0), 0u) << r.output;
  EXPECT_EQ(ok({"reg", "export", kGeneral, "-o", "-"}), ok({"reg", "export", kGeneral}));
  EXPECT_FALSE(test::exists("-")) << "no file named -";

  // Standard input that cannot all be kept (a file size limit stands in for a full disk) is
  // named as such, imports nothing and leaves no spool behind.
  std::string big = "REGEDIT4\n\n[" + kGeneral + "]\n";
  for (int i = 0; i < 4000; ++i)
    big += "\"Spooled" + std::to_string(i) + "\"=\"" + std::string(40, 'x') + "\"\n";
  const std::string bigFile = write("big.reg", big), spool = dir_.file("spool");
  ASSERT_EQ(::mkdir(spool.c_str(), 0700), 0);
  r = shell("trap '' XFSZ; ulimit -f 16; TMPDIR='" + spool + "' " + VLX_BINARY +
            " reg import - < '" + bigFile + "'");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_EQ(r.output.rfind("vlx: cannot keep standard input in " + spool + "/vlx-import-", 0), 0u)
      << r.output;
  EXPECT_HAS(r.output, std::strerror(EFBIG));
  EXPECT_TRUE(test::entries(spool).empty());
  fails({"reg", "query", kGeneral, "Spooled0"}, "has no value 'Spooled0'");
}

// reg.exe's /v, /f (with /k, /v and /d to narrow it) and /t.
TEST_F(VlxTest, RegQueryOneValueSearchAndType) {
  ok({"reg", "add", kGeneral, "Count", "--type", "dword", "--data", "16"});
  ok({"reg", "add", kGeneral, "Title", "--data", "Gear count"});
  ok({"reg", "add", kGeneral + "\\Counter", "Other", "--data", "x"});
  const std::string head = "HKEY_CURRENT_USER\\Software\\Velmora\\General";
  EXPECT_EQ(ok({"reg", "query", kGeneral, "count"}),
            head + "\n    Count    REG_DWORD    0x10 (16)\n");
  EXPECT_EQ(nlohmann::json::parse(ok({"reg", "query", kGeneral, "Title", "--json"})),
            nlohmann::json({{"name", "Title"}, {"type", "REG_SZ"}, {"data", "Gear count"}}));
  fails({"reg", "query", kGeneral, "Missing"}, head + " has no value 'Missing'");
  fails({"reg", "query", kGeneral, "Title", "--type", "dword"}, "of type REG_DWORD");

  const struct {
    std::vector<std::string> narrow;
    std::string want;
  } searches[] = {
      {{},
       head + "\n    Count    REG_DWORD    0x10 (16)\n    Title    REG_SZ    Gear count\n" + head +
           "\\Counter\nEnd of search: 3 matches found.\n"},
      {{"--keys"}, head + "\\Counter\nEnd of search: 1 match found.\n"},
      {{"--names"},
       head + "\n    Count    REG_DWORD    0x10 (16)\nEnd of search: 1 match found.\n"},
      {{"--data"}, head + "\n    Title    REG_SZ    Gear count\nEnd of search: 1 match found.\n"},
      {{"--keys", "--data"},
       head + "\n    Title    REG_SZ    Gear count\n" + head +
           "\\Counter\nEnd of search: 2 matches found.\n"},
  };
  for (const auto &search : searches) {
    std::vector<std::string> args = {"reg", "query", kGeneral, "-r", "--find", "COUNT"};
    args.insert(args.end(), search.narrow.begin(), search.narrow.end());
    EXPECT_EQ(ok(args), search.want) << args.back();
  }
  EXPECT_EQ(ok({"reg", "query", kGeneral, "-r", "--type", "REG_SZ"}),
            head + "\n    Title    REG_SZ    Gear count\n" + head +
                "\\Counter\n    Other    REG_SZ    x\n");
  fails({"reg", "query", kGeneral, "--keys"}, "requires --find", 2);
  EXPECT_EQ(ok({"reg", "query", kGeneral, "-s"}), ok({"reg", "query", kGeneral, "-r"}));
}

// reg.exe's /v NAME and /ve as -v NAME and --ve, for add, query and delete alike.
TEST_F(VlxTest, ValueNamesAlsoTakeRegExeSwitches) {
  const std::string head = "HKEY_CURRENT_USER\\Software\\Velmora\\General";
  ok({"reg", "add", kGeneral, "-v", "Units", "-d", "mm"});
  ok({"reg", "add", kGeneral, "--ve", "-d", "plain"});
  EXPECT_EQ(ok({"reg", "query", kGeneral, "--value", "units"}),
            head + "\n    Units    REG_SZ    mm\n");
  EXPECT_EQ(ok({"reg", "query", kGeneral, "--ve"}), head + "\n    @    REG_SZ    plain\n");
  fails({"reg", "query", kGeneral, "Units", "-v", "Units"}, "excludes", 2);
  fails({"reg", "delete", kGeneral, "-v", "Units", "--ve"}, "excludes", 2);
  ok({"reg", "delete", kGeneral, "--ve"});
  EXPECT_EQ(ok({"reg", "query", kGeneral}), head + "\n    Units    REG_SZ    mm\n\n");
  ok({"reg", "delete", kGeneral, "-v", "Units"});
  fails({"reg", "query", kGeneral, "-v", "Units"}, "has no value 'Units'");
  // reg.exe's -ve is one switch, not -v e.
  ok({"reg", "add", kGeneral, "-VE", "-d", "dashed"});
  EXPECT_EQ(ok({"reg", "query", kGeneral, "-ve"}), head + "\n    @    REG_SZ    dashed\n");
  ok({"reg", "delete", kGeneral, "-ve"});
  // Typed with a slash, where NAME stands, a switch names no value.
  for (const char *typed : {"/ve", "/F", "/reg:64"})
    fails({"reg", "add", kGeneral, typed}, "is a reg.exe switch, not a value name", 2);
  fails({"reg", "delete", kGeneral, "/va"}, "'/va' is a reg.exe switch", 2);
  fails({"reg", "add", kGeneral, "/v", "Units", "/d", "mm"}, "'/v' is a reg.exe switch", 2);
  EXPECT_EQ(ok({"reg", "query", kGeneral}), head + "\n\n");
  ok({"reg", "add", kGeneral, "--value", "/ve", "-d", "x"});
  ok({"reg", "add", kGeneral, "/ve2"});
  EXPECT_EQ(ok({"reg", "query", kGeneral}),
            head + "\n    /ve    REG_SZ    x\n    /ve2    REG_SZ    \n\n");
}

TEST_F(VlxTest, RegAddQueryDeleteEveryType) {
  const std::tuple<const char *, const char *, std::string> cases[] = {
      {"Text", "REG_SZ", "C:\\x \"y\""},
      {"Path", "expand_sz", "%HOME%\\bin"},
      {"List", "REG_MULTI_SZ", "one\\0two"},
      {"Count", "dword", "0x10"},
      {"Big", "REG_QWORD", "18446744073709551615"},
      {"Blob", "REG_BINARY", "01,ff,00"},
  };
  for (const auto &[name, type, data] : cases)
    EXPECT_EQ(ok({"reg", "add", kGeneral, name, "--type", type, "--data", data}), "");
  ok({"reg", "add", kGeneral + "\\Sub"});
  ok({"reg", "add", kGeneral, "--data", "default"});
  EXPECT_EQ(ok({"reg", "query", kGeneral}),
            "HKEY_CURRENT_USER\\Software\\Velmora\\General\n"
            "    Text    REG_SZ    C:\\x \"y\"\n"
            "    Path    REG_EXPAND_SZ    %HOME%\\bin\n"
            "    List    REG_MULTI_SZ    one\\0two\n"
            "    Count    REG_DWORD    0x10 (16)\n"
            "    Big    REG_QWORD    0xffffffffffffffff (18446744073709551615)\n"
            "    Blob    REG_BINARY    01ff00\n"
            "    @    REG_SZ    default\n"
            "\n"
            "HKEY_CURRENT_USER\\Software\\Velmora\\General\\Sub\n");
  // The same data as an export writes it.
  const std::string exported = ok({"reg", "export", kGeneral});
  for (const char *line : {"\"List\"=hex(7):6f,6e,65,00,74,77,6f,00,00", "\"Count\"=dword:00000010",
                           "\"Blob\"=hex:01,ff,00", "@=\"default\""})
    EXPECT_HAS(exported, line);

  fails({"reg", "add", kGeneral, "N", "--type", "REG_LINK", "--data", "x"}, "unknown type", 2);
  fails({"reg", "add", kGeneral, "N", "--type", "dword", "--data", "4294967296"}, "invalid", 2);
  fails({"reg", "add", kGeneral, "N", "--type", "binary", "--data", "0g"}, "hex bytes", 2);
  fails({"reg", "add", kGeneral, "N", "--type", "multi_sz", "--data", "a\\0\\0b"}, "empty", 2);
  fails({"reg", "add", "HKU\\S-1-5-18\\X", "N", "--data", "x"}, "only HKEY_USERS\\.DEFAULT");
  fails({"reg", "add", kGeneral, std::string(16384, 'n'), "--data", "x"}, "value name longer");

  // The whole subtree, as text and as one JSON document of every key.
  ok({"reg", "add", kGeneral + "\\Sub", "Deep", "--type", "dword", "--data", "3"});
  const std::string tree = ok({"reg", "query", kGeneral, "--recursive"});
  EXPECT_HAS(tree, "\n\nHKEY_CURRENT_USER\\Software\\Velmora\\General\\Sub\n"
                   "    Deep    REG_DWORD    0x3 (3)\n");
  const auto json = nlohmann::json::parse(ok({"reg", "query", kGeneral, "-r", "--json"}));
  ASSERT_EQ(json.size(), 2u);
  EXPECT_EQ(json[0]["subkeys"], nlohmann::json::array({"Sub"}));
  EXPECT_EQ(json[0]["values"][2],
            nlohmann::json({{"name", "List"}, {"type", "REG_MULTI_SZ"}, {"data", {"one", "two"}}}));
  EXPECT_EQ(json[1]["values"][0]["data"], 3);

  EXPECT_EQ(ok({"reg", "delete", kGeneral, "Count"}), "delete: 1 value and 0 keys removed\n");
  fails({"reg", "delete", kGeneral, "Count"}, "has no value 'Count'");
  EXPECT_EQ(ok({"reg", "delete", kGeneral}), "delete: 7 values and 2 keys removed\n");
  fails({"reg", "query", kGeneral}, "not found");
  fails({"reg", "delete", kGeneral}, "does not exist");
  fails({"reg", "delete", "HKCU\\Software"}, "the hive always keeps this key");
}

TEST_F(VlxTest, PrefListShowsWhatTheHostReadsAndWhere) {
  ok({"pref", "set", "General", "Units", "mm", "--machine"});
  ok({"pref", "set", "General", "Copies", "2", "--type", "int", "--machine"});
  ok({"pref", "set", "General", "Units", "in"});
  ok({"reg", "add", "HKU\\.DEFAULT\\Software\\Velmora\\Paths", "Home", "--data", "/h"});
  EXPECT_EQ(ok({"pref", "list"}), "General\\Copies = REG_DWORD 0x2 (2)  [HKEY_LOCAL_MACHINE]\n"
                                  "General\\Units = REG_SZ in  [HKEY_CURRENT_USER]\n"
                                  "Paths\\Home = REG_SZ /h  [HKEY_USERS\\.DEFAULT]\n");
  EXPECT_EQ(ok({"pref", "list", "General", "--all"}),
            "General\\Copies = REG_DWORD 0x2 (2)  [HKEY_LOCAL_MACHINE]\n"
            "General\\Units = REG_SZ in  [HKEY_CURRENT_USER]\n"
            "General\\Units = REG_SZ mm  [HKEY_LOCAL_MACHINE, hidden by HKEY_CURRENT_USER]\n");
  EXPECT_EQ(ok({"pref", "get", "General", "Units", "--show-origin"}), "HKEY_CURRENT_USER\tin\n");
  EXPECT_EQ(ok({"pref", "get", "General", "Copies", "--show-origin"}), "HKEY_LOCAL_MACHINE\t2\n");
  EXPECT_EQ(ok({"pref", "list", "Nowhere"}), "");
}

TEST_F(VlxTest, DryRunsListTheChangesAndChangeNothing) {
  ok({"reg", "import",
      write("machine.reg", "REGEDIT4\n[HKLM\\Software\\Velmora\\General]\n"
                           "\"Units\"=\"mm\"\n\"Copies\"=dword:00000001\n")});
  ok({"pref", "set", "General", "Units", "cm"});
  ok({"pref", "set", "General", "Mine", "x"});
  const std::string before = ok({"reg", "export"});

  EXPECT_EQ(
      ok({"pref", "reset", "--dry-run"}),
      "change HKEY_CURRENT_USER\\Software\\Velmora\\General \"Units\" = REG_SZ cm -> REG_SZ mm\n"
      "remove HKEY_CURRENT_USER\\Software\\Velmora\\General \"Mine\" = REG_SZ x\n"
      "add HKEY_CURRENT_USER\\Software\\Velmora\\General \"Copies\" = REG_DWORD 0x1 (1)\n"
      "reset (dry run, nothing changed): 1 section, 2 values copied, 1 removed\n");
  EXPECT_EQ(ok({"pref", "delete", "General", "-n"}),
            "remove HKEY_CURRENT_USER\\Software\\Velmora\\General \"Units\" = REG_SZ cm\n"
            "remove HKEY_CURRENT_USER\\Software\\Velmora\\General \"Mine\" = REG_SZ x\n"
            "remove key HKEY_CURRENT_USER\\Software\\Velmora\\General\n"
            "delete (dry run, nothing changed): HKEY_CURRENT_USER\\Software\\Velmora\\General, "
            "2 values removed\n");
  const std::string file = write("change.reg", "REGEDIT4\n[HKCU\\Software\\Velmora\\General]\n"
                                               "\"Units\"=\"cm\"\n\"New\"=\"n\"\n\"Mine\"=-\n"
                                               "[-HKCU\\Software\\Velmora\\Gone]\n");
  EXPECT_EQ(ok({"reg", "import", file, "--dry-run"}),
            "add HKEY_CURRENT_USER\\Software\\Velmora\\General \"New\" = REG_SZ n\n"
            "remove HKEY_CURRENT_USER\\Software\\Velmora\\General \"Mine\" = REG_SZ x\n"
            "import (dry run, nothing changed): 1 value added, 0 changed, 1 unchanged, 1 removed; "
            "0 keys added, 0 removed (5 entries of " +
                file + ")\n");
  EXPECT_EQ(ok({"reg", "delete", kGeneral, "--dry-run"}),
            "remove HKEY_CURRENT_USER\\Software\\Velmora\\General \"Units\" = REG_SZ cm\n"
            "remove HKEY_CURRENT_USER\\Software\\Velmora\\General \"Mine\" = REG_SZ x\n"
            "remove key HKEY_CURRENT_USER\\Software\\Velmora\\General\n"
            "delete (dry run, nothing changed): 2 values and 1 key removed\n");
  EXPECT_EQ(ok({"reg", "export"}), before);

  // Done for real, each says what it did in one line.
  EXPECT_EQ(ok({"reg", "import", file}),
            "import: 1 value added, 0 changed, 1 unchanged, 1 removed; 0 keys added, 0 removed (5 "
            "entries of " +
                file + ")\n");
  EXPECT_EQ(ok({"pref", "reset"}), "reset: 1 section, 2 values copied, 1 removed\n");
  EXPECT_EQ(ok({"pref", "get", "General", "Units"}), "mm\n");
  // A refused reset lands nothing, dry run or not.
  ok({"reg", "delete", "HKLM\\Software\\Velmora"});
  const std::string kept = ok({"reg", "export"});
  fails({"pref", "reset", "--dry-run"}, "nothing to reset from");
  fails({"pref", "reset"}, "nothing to reset from");
  EXPECT_EQ(ok({"reg", "export"}), kept);
}

// A key the import makes holds only what the import set there, counted without asking the store
// (the same counts and listing as asking it for each value);
// names that are one to the store (any letter case, "ſ" and "S") still meet.
TEST_F(VlxTest, ImportCountsValuesOfTheKeysItMakes) {
  const std::string file = write("new.reg", "REGEDIT4\n\n"
                                            "[HKEY_CURRENT_USER\\Software\\Velmora\\New]\n"
                                            "\"a\"=\"1\"\n\"A\"=\"1\"\n"
                                            "\"b\"=\"1\"\n\"B\"=\"2\"\n"
                                            "\"S\"=\"x\"\n\"\xc5\xbf\"=\"y\"\n"
                                            "\"c\"=-\n\"c\"=\"1\"\n\"C\"=\"1\"\n\n"
                                            "[HKEY_CURRENT_USER\\Software\\Velmora\\Other]\n"
                                            "\"x\"=\"1\"\n\n"
                                            "[HKEY_CURRENT_USER\\Software\\Velmora\\nEW]\n"
                                            "\"A\"=\"2\"\n\"d\"=\"1\"\n");
  const std::string listed = ok({"reg", "import", file, "--dry-run"});
  EXPECT_HAS(listed, "import (dry run, nothing changed): 6 values added, 3 changed, 2 "
                     "unchanged, 0 removed; 2 keys added, 0 removed (15 entries of ");
  EXPECT_HAS(listed, "change HKEY_CURRENT_USER\\Software\\Velmora\\New \"\xc5\xbf\" = "
                     "REG_SZ x -> REG_SZ y\n");
  EXPECT_HAS(ok({"reg", "import", file}), "import: 6 values added, 3 changed, 2 unchanged, ");
  EXPECT_EQ(ok({"reg", "query", "HKCU\\Software\\Velmora\\New"}),
            "HKEY_CURRENT_USER\\Software\\Velmora\\New\n"
            "    a    REG_SZ    2\n    b    REG_SZ    2\n    S    REG_SZ    y\n"
            "    c    REG_SZ    1\n    d    REG_SZ    1\n\n");
}

TEST_F(VlxTest, WatchPrintsChangesAsTheyLand) {
  // A count that could never be reached is refused, not watched for ever.
  for (const char *count : {"0", "-1", "2.5"})
    fails({"pref", "watch", "--count", count}, "expected a whole number of 1 or more", 2);
  ok({"pref", "set", "General", "Units", "mm"});
  auto watched = std::async(std::launch::async, [this] {
    return vlx({"pref", "watch", "General", "--count", "1"});
  });
  // The watch starts at some point: keep changing until it has seen one change.
  for (int i = 0;
       i < 200 && watched.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready;
       ++i)
    ok({"pref", "set", "General", "Units", "v" + std::to_string(i)});
  RunResult r = watched.get();
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output.rfind("change HKEY_CURRENT_USER\\Software\\Velmora\\General \"Units\" = "
                           "REG_SZ ",
                           0),
            0u)
      << r.output;
  // Other sections are not its business. The first write to General makes the section too: the
  // key and its value land as one change, so the watch's one change holds the value.
  auto other = std::async(std::launch::async, [this] {
    return vlx({"pref", "watch", "General", "--count", "1"});
  });
  for (int i = 0;
       i < 300 && other.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready; ++i)
    ok({"pref", "set", i % 10 == 9 ? "General" : "Other", "Last", std::to_string(i), "--machine"});
  r = other.get();
  EXPECT_HAS(r.output, " HKEY_LOCAL_MACHINE\\Software\\Velmora\\General \"Last\" = REG_SZ ");
  EXPECT_LACKS(r.output, "Other");
}

// A set that makes its section lands whole or not at all: a refused value (its name too long)
// leaves no new section behind, so a watcher never sees the section without its value.
TEST_F(VlxTest, PrefSetMakesItsSectionWithItsValueOrNotAtAll) {
  const std::string tooLong(16384, 'n');
  for (const std::string root : {"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"}) {
    SCOPED_TRACE(root);
    std::vector<std::string> set = {"pref", "set", "New", tooLong, "x"};
    if (root == "HKEY_LOCAL_MACHINE")
      set.push_back("--machine");
    fails(set, "cannot write " + root + "\\Software\\Velmora\\New");
    fails({"reg", "query", root + "\\Software\\Velmora\\New"}, "not found");
  }
}

TEST_F(VlxTest, WatchInJsonPrintsOneObjectALine) {
  ok({"pref", "set", "General", "Units", "mm"});
  auto watched = std::async(std::launch::async, [this] {
    return vlx({"pref", "watch", "General", "--count", "2", "--json"});
  });
  // A line break in a name stays inside its line's JSON.
  for (int i = 0;
       i < 200 && watched.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready;
       ++i)
    ok({"pref", "set", "General", "Units\nv", std::to_string(i)});
  const RunResult r = watched.get();
  ASSERT_EQ(r.status, 0) << r.output;
  ASSERT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 2) << r.output;
  const auto first = nlohmann::json::parse(r.output.substr(0, r.output.find('\n')));
  EXPECT_EQ(first["key"], "HKEY_CURRENT_USER\\Software\\Velmora\\General");
  EXPECT_EQ(first["value"]["name"], "Units\nv");
  EXPECT_EQ(first["value"]["type"], "REG_SZ");
  EXPECT_TRUE(first["change"] == "add" || first["change"] == "change") << first;
  EXPECT_EQ(first.contains("before"), first["change"] == "change") << first;
  // Every line is a document of its own.
  EXPECT_TRUE(nlohmann::json::accept(r.output.substr(r.output.find('\n') + 1)));
}

} // namespace
} // namespace vlx::cli
