// What scripts rely on: --json documents, empty results that print nothing, help that fits the
// terminal, and usage errors that say what was meant.
#include "support/expect_text.h"
#include "vlx_fixture.h"

#include <vlx/core/help.h>

#include <nlohmann/json.hpp>

#include <sstream>

namespace vlx::cli {
namespace {

using nlohmann::json;

TEST(VlxHelp, WrapsAtBlanksUnderTheDescriptionColumn) {
  const std::string line = "  -o,--output TEXT   Write to FILE atomically instead of the output";
  EXPECT_EQ(wrapText(line, 40), "  -o,--output TEXT   Write to FILE\n"
                                "                    atomically instead\n"
                                "                    of the output");
  // Paragraphs keep their own indent; short lines and line ends stay as they are.
  EXPECT_EQ(wrapText("one two three four\nfive\n", 10), "one two\nthree four\nfive\n");
  // A word longer than the room is not cut.
  EXPECT_EQ(wrapText("a " + std::string(30, 'x') + " b", 20), "a\n" + std::string(30, 'x') + "\nb");
}

TEST(VlxHelp, NearestWordIsATypoOrAPrefixNeverAGuess) {
  const std::vector<std::string> commands = {"export", "import", "import-hive", "check", "query"};
  EXPECT_EQ(nearestWord("imprt", commands), "import");
  EXPECT_EQ(nearestWord("EXPORT", commands), "export");
  EXPECT_EQ(nearestWord("chek", commands), "check");
  EXPECT_EQ(nearestWord("qu", commands), "query");
  EXPECT_EQ(nearestWord("backup", commands), "");
  EXPECT_EQ(nearestWord("x", commands), "");
}

TEST_F(VlxTest, HelpVersionAndHints) {
  const std::string help = ok({"help", "reg", "import"});
  EXPECT_HAS(help, "--dry-run");
  EXPECT_EQ(help, ok({"reg", "import", "--help"}));
  fails({"help", "reg", "imprt"}, "unknown command 'imprt' for 'vlx reg'; did you mean 'import'?",
        2);
  fails({"pref", "lsit"}, "did you mean 'list'?", 2);
  // The hint gives the whole command, and only for a value a positional still waits for.
  fails({"pref", "set", "General", "Name", "-x"},
        "goes after '--': vlx pref set General Name -- -x)", 2);
  fails({"pref", "set", "-t", "int", "General", "-x", "Name"},
        "goes after '--': vlx pref set -t int General -- -x Name)", 2);
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{"pref", "set", "General", "Name", "--bogus"},
        {"pref", "get", "General", "Name", "-x"}}) {
    const RunResult r = vlx(args);
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_LACKS(r.output, "'--'");
  }
  ok({"pref", "set", "General", "--", "Name", "-x"});
  EXPECT_EQ(ok({"pref", "get", "General", "Name"}), "-x\n");

  const std::string version = ok({"--version"});
  for (const char *part : {"vlx (velmora-util) ", "\nSQLite 3.", "\nICU "})
    EXPECT_HAS(version, part);

  // Output is no terminal here: $COLUMNS gives the width.
  test::ScopedEnv columns("COLUMNS", "50");
  std::istringstream lines(ok({"help", "pref", "list"}));
  for (std::string line; std::getline(lines, line);)
    EXPECT_LE(line.size(), 50u) << line;
}

TEST_F(VlxTest, JsonDocumentsAndEmptyResults) {
  // Nothing there: nothing printed, or an empty document.
  EXPECT_EQ(ok({"addins", "startup"}), "");
  EXPECT_EQ(ok({"addins", "list"}), "");
  EXPECT_EQ(ok({"addins", "startup", "--json"}), "[]\n");
  EXPECT_EQ(ok({"pref", "list"}), "");
  EXPECT_EQ(ok({"pref", "list", "--json"}), "[]\n");

  ok({"pref", "set", "General", "Count", "7", "--type", "int", "--machine"});
  ok({"pref", "set", "General", "Units", "m\x1b[2Jm\n"});
  json got = json::parse(ok({"pref", "get", "General", "Units", "--json"}));
  EXPECT_EQ(got["value"], "m\x1b[2Jm\n");
  EXPECT_EQ(got["origin"], "HKEY_CURRENT_USER");
  got = json::parse(ok({"pref", "get", "General", "Count", "--json"}));
  EXPECT_EQ(got["value"], 7);
  EXPECT_EQ(got["type"], "int");
  EXPECT_EQ(got["origin"], "HKEY_LOCAL_MACHINE");

  got = json::parse(ok({"reg", "check", "--json"}));
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0]["state"], "ok");
  EXPECT_EQ(got[2]["state"], "missing");
  EXPECT_EQ(got[2]["writable"], true) << "made on its first write";

  // Text that is no UTF-8 still gives a valid document.
  ok({"reg", "add", "HKCU\\Software\\Velmora\\General", "Raw", "--data", "a\xff"});
  got = json::parse(ok({"reg", "query", "HKCU\\Software\\Velmora\\General", "--json"}));
  EXPECT_EQ(got["key"], "HKEY_CURRENT_USER\\Software\\Velmora\\General");
  EXPECT_EQ(got["values"].size(), 2u);
}

} // namespace
} // namespace vlx::cli
