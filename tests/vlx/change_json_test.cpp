// What configuration tools rely on: every changing command says in JSON what it changed, or with
// --dry-run what it would change, and a repeat changes nothing.
#include "vlx_fixture.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace vlx::cli {
namespace {

using nlohmann::json;

json changes(const std::string &output) { return json::parse(output)["changes"]; }

TEST_F(VlxTest, ChangingCommandsReportTheirChangesAsJson) {
  const std::string file = write("units.reg", "REGEDIT4\n[HKCU\\Software\\Velmora\\Import]\n"
                                              "\"Units\"=\"mm\"\n");
  using Args = std::vector<std::string>;
  // Each command, and one of the changes it makes.
  const std::pair<Args, json> cases[] = {
      {{"pref", "set", "General", "Units", "mm"},
       {{"change", "add"},
        {"key", "HKEY_CURRENT_USER\\Software\\Velmora\\General"},
        {"value", {{"name", "Units"}, {"type", "REG_SZ"}, {"data", "mm"}}}}},
      {{"pref", "set", "General", "Copies", "-1", "--type", "int", "--machine"},
       {{"change", "add"},
        {"key", "HKEY_LOCAL_MACHINE\\Software\\Velmora\\General"},
        {"value", {{"name", "Copies"}, {"type", "REG_DWORD"}, {"data", 4294967295u}}}}},
      {{"pref", "set", "General", "Ratio", "0.1", "--type", "double", "--default-user"},
       {{"change", "add"},
        {"key", "HKEY_USERS\\.DEFAULT\\Software\\Velmora\\General"},
        {"value", {{"name", "Ratio"}, {"type", "REG_SZ"}, {"data", "0.100000000000000006"}}}}},
      {{"reg", "add", "HKCU\\Software\\Velmora\\General", "List", "--type", "multi_sz", "--data",
        "a\\0b"},
       {{"change", "add"},
        {"key", "HKEY_CURRENT_USER\\Software\\Velmora\\General"},
        {"value", {{"name", "List"}, {"type", "REG_MULTI_SZ"}, {"data", {"a", "b"}}}}}},
      {{"reg", "add", "HKLM\\Software\\Velmora\\Empty"},
       {{"change", "add key"}, {"key", "HKEY_LOCAL_MACHINE\\Software\\Velmora\\Empty"}}},
      {{"reg", "import", file},
       {{"change", "add key"}, {"key", "HKEY_CURRENT_USER\\Software\\Velmora\\Import"}}},
      {{"reg", "delete", "HKCU\\Software\\Velmora\\General", "Units"},
       {{"change", "remove"},
        {"key", "HKEY_CURRENT_USER\\Software\\Velmora\\General"},
        {"value", {{"name", "Units"}, {"type", "REG_SZ"}, {"data", "mm"}}}}},
      {{"reg", "delete", "HKLM\\Software\\Velmora\\Empty"},
       {{"change", "remove key"}, {"key", "HKEY_LOCAL_MACHINE\\Software\\Velmora\\Empty"}}},
  };
  for (const auto &[command, first] : cases) {
    const std::string before = ok({"reg", "export"});
    Args dry = command, real = command;
    dry.insert(dry.end(), {"--dry-run", "--json"});
    real.push_back("--json");
    const json planned = json::parse(ok(dry));
    EXPECT_EQ(planned["changed"], true) << command[1];
    const json &listed = planned["changes"];
    EXPECT_NE(std::find(listed.begin(), listed.end(), first), listed.end()) << listed;
    EXPECT_EQ(ok({"reg", "export"}), before) << command[1];
    EXPECT_EQ(changes(ok(real)), planned["changes"]) << command[1];
    // Done again, it changes nothing, a deletion excepted, which has nothing left to delete.
    if (command[1] != "delete") {
      EXPECT_EQ(json::parse(ok(real)), json({{"changed", false}, {"changes", json::array()}}))
          << command[1];
    }
  }
  // What the default user got reads back through the library's fall-back.
  EXPECT_EQ(ok({"pref", "get", "General", "Ratio", "--show-origin"}), "HKEY_USERS\\.DEFAULT\t0.1\n");

  // A change of type and data carries what it replaced.
  EXPECT_EQ(changes(ok({"pref", "set", "General", "List", "2", "-t", "int", "--json", "-n"}))[0],
            json({{"change", "change"},
                  {"key", "HKEY_CURRENT_USER\\Software\\Velmora\\General"},
                  {"value", {{"name", "List"}, {"type", "REG_DWORD"}, {"data", 2}}},
                  {"before", {{"name", "List"}, {"type", "REG_MULTI_SZ"}, {"data", {"a", "b"}}}}}));
  // Without --json a dry run lists its changes as the others do.
  EXPECT_EQ(ok({"pref", "set", "General", "Units", "cm", "--dry-run"}),
            "add HKEY_CURRENT_USER\\Software\\Velmora\\General \"Units\" = REG_SZ cm\n");
  // A refusal prints no document, only its line.
  fails({"pref", "set", "General", "N", "x", "-t", "int", "--json"}, "invalid int value", 2);
  fails({"pref", "set", "General", "N", std::string(256, 'x'), "--json", "--default-user"},
        "longer than the 255", 2);
  fails({"pref", "set", "General", "N", "1", "--machine", "--default-user"}, "excludes", 2);
}

TEST_F(VlxTest, DeleteIfExistsTakesWhatIsMissingAsDone) {
  ok({"pref", "set", "General", "Units", "mm"});
  const std::string kept = ok({"reg", "export"});
  const json nothing = {{"changed", false}, {"changes", json::array()}};
  const std::vector<std::string> missing[] = {
      {"HKCU\\Software\\Velmora\\General", "Copies"},
      {"HKCU\\Software\\Velmora\\Nowhere", "Copies"},
      {"HKCU\\Software\\Velmora\\Nowhere"},
      {"HKLM\\Software\\Velmora\\Nowhere", ""},
  };
  for (const auto &target : missing) {
    std::vector<std::string> args = {"reg", "delete", "--if-exists"};
    args.insert(args.end(), target.begin(), target.end());
    EXPECT_EQ(ok(args), "delete: 0 values and 0 keys removed\n") << target[0];
    args.push_back("--json");
    EXPECT_EQ(json::parse(ok(args)), nothing) << target[0];
  }
  EXPECT_EQ(ok({"reg", "export"}), kept);
  // What is there goes as without the option; the registry's rules still hold.
  EXPECT_EQ(changes(ok({"reg", "delete", "--if-exists", "HKCU\\Software\\Velmora\\General",
                        "Units", "--json"}))
                .size(),
            1u);
  fails({"reg", "delete", "--if-exists", "HKU\\S-1-5-18\\X"}, "only HKEY_USERS\\.DEFAULT");
  fails({"reg", "delete", "--if-exists", "HKCU\\Software"}, "the hive always keeps this key");
}

} // namespace
} // namespace vlx::cli
