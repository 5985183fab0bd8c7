// Hive files of older versions: names folded by ASCII letters only, read by that rule while only
// read, and values kept by a rowid; moved to the current version by the first write, with the
// merges it needs, every value kept in its key's order, and never half moved.
#include "platform/posix/registry/hive_db.h"
#include "platform/registry/support.h"
#include "support/expect_text.h"
#include "support/old_hive.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <signal.h>
#include <thread>

namespace {

using namespace regtest;
using vlx::Hive;
using vlx::NameMerge;
using vlx::test::hiveVersion;
using vlx::test::OldHive;

namespace fs = std::filesystem;
using MigrationTest = vlx::test::TempEnvTest;

const std::string kUpperA = "\xc3\x84rger", kLowerA = "\xc3\xa4rger"; // Ärger, ärger
const std::string kVelmora = "Software\\Velmora\\";

// A user hive with keys and values that differ beyond ASCII case, as the former rule let them be.
void writeOldHive() {
  ASSERT_EQ(setIn(HKCU, "Software\\Velmora\\Plain", "Units", 1), ERROR_SUCCESS);
  vlx::detail::closeIdleHives();
  OldHive old(vlx::hivePath(Hive::User));
  old.key(kVelmora + kUpperA, 100);
  old.value(kVelmora + kUpperA, "Farbe", 1);
  old.value(kVelmora + kUpperA, "Nur", 2);
  old.value(kVelmora + kUpperA + "\\Sub", "v", 10);
  old.value(kVelmora + kUpperA + "\\Sub", "a", 11);
  old.key(kVelmora + kLowerA, 200);
  old.value(kVelmora + kLowerA, "Farbe", 3);
  old.key(kVelmora + kLowerA + "\\SUB", 50);
  old.value(kVelmora + kLowerA + "\\SUB", "v", 20);
  old.value(kVelmora + "Same", "\xc3\xa9", 5);          // é
  old.value(kVelmora + "Same", "\xc3\x89", 6);          // É, made later
  old.value(kVelmora + "Same", "\xc3\x89 (MERGED)", 7); // takes the first new name
}

std::vector<NameMerge> userMerges(bool *oldNames) {
  for (const vlx::HiveCheck &check : vlx::checkHives())
    if (check.hive == Hive::User) {
      EXPECT_TRUE(check.ok) << check.what;
      *oldNames = check.oldNames;
      return check.merges;
    }
  ADD_FAILURE() << "no user hive";
  return {};
}

std::string describe(const NameMerge &m) {
  return m.value ? "value " + m.name + " of " + m.from + " as " + m.renamed + " in " + m.into
                 : "key " + m.from + " into " + m.into;
}

const std::vector<std::string> kMerges = {
    "key " + kVelmora + kUpperA + " into " + kVelmora + kLowerA,
    "value \xc3\xa9 of " + kVelmora + "Same as \xc3\xa9 (merged 2) in " + kVelmora + "Same",
    "key " + kVelmora + kUpperA + "\\Sub into " + kVelmora + kLowerA + "\\SUB",
    "value Farbe of " + kVelmora + kUpperA + " as Farbe (merged) in " + kVelmora + kLowerA,
    "value v of " + kVelmora + kUpperA + "\\Sub as v (merged) in " + kVelmora + kLowerA + "\\SUB",
};

std::vector<std::string> described(const std::vector<NameMerge> &merges) {
  std::vector<std::string> out;
  for (const NameMerge &m : merges)
    out.push_back(describe(m));
  return out;
}

TEST_F(MigrationTest, ReadByItsOwnRuleUntilTheFirstWriteMergesWithoutLoss) {
  writeOldHive();
  const std::string file = vlx::hivePath(Hive::User);
  Key velmora;
  ASSERT_EQ(openKey(HKCU, "SOFTWARE\\velmora", velmora), ERROR_SUCCESS);
  // Only ASCII letters fold: the two spellings are two keys, each read by its own name.
  EXPECT_EQ(names(velmora), (Names{"Plain", "Same", kUpperA, kLowerA}));
  EXPECT_EQ(getIn(HKCU, (kVelmora + "\xc3\x84RGER").c_str(), "nur"), 2u);
  EXPECT_EQ(getIn(HKCU, (kVelmora + kLowerA).c_str(), "Farbe"), 3u);
  EXPECT_EQ(getIn(HKCU, (kVelmora + kLowerA).c_str(), "Nur"), 0xdeadbeef);
  EXPECT_EQ(hiveVersion(file), 1);
  bool oldNames = false;
  EXPECT_EQ(described(userMerges(&oldNames)), kMerges);
  EXPECT_TRUE(oldNames);
  EXPECT_EQ(hiveVersion(file), 1);

  ASSERT_EQ(setIn(HKCU, "Software\\Velmora\\Plain", "Units", 2), ERROR_SUCCESS);
  EXPECT_EQ(hiveVersion(file), 3);
  EXPECT_EQ(names(velmora), (Names{"Plain", "Same", kLowerA}));
  struct Case {
    std::string key;
    Names values;
    std::vector<DWORD> data;
  } cases[] = {
      {kVelmora + "\xc3\x84RGER", {"Farbe", "Nur", "Farbe (merged)"}, {3, 2, 1}},
      {kVelmora + kUpperA + "\\sub", {"a", "v", "v (merged)"}, {11, 20, 10}},
      {kVelmora + "same", {"\xc3\xa9 (merged 2)", "\xc3\x89", "\xc3\x89 (MERGED)"}, {5, 6, 7}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.key);
    Key k;
    ASSERT_EQ(openKey(HKCU, c.key.c_str(), k), ERROR_SUCCESS);
    Names sorted = names(k, true);
    std::sort(sorted.begin(), sorted.end());
    Names expected = c.values;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted, expected);
    for (size_t i = 0; i < c.values.size(); ++i)
      EXPECT_EQ(getDword(k, c.values[i]), c.data[i]) << c.values[i];
  }
  Key sub;
  ASSERT_EQ(openKey(HKCU, (kVelmora + kLowerA).c_str(), sub), ERROR_SUCCESS);
  EXPECT_EQ(names(sub), Names{"SUB"});
  EXPECT_EQ(described(userMerges(&oldNames)), kMerges);
  EXPECT_FALSE(oldNames);
}

TEST_F(MigrationTest, AMergedValueAtTheNameLimitKeepsANameCallsCanUse) {
  ASSERT_EQ(setIn(HKCU, "Software\\Velmora\\Plain", "Units", 1), ERROR_SUCCESS);
  vlx::detail::closeIdleHives();
  const std::string base(16382, 'n'); // one character short of the limit
  {
    OldHive old(vlx::hivePath(Hive::User));
    old.value(kVelmora + "Long", base + "\xc3\xa9", 1);
    old.value(kVelmora + "Long", base + "\xc3\x89", 2);
  }
  ASSERT_EQ(setIn(HKCU, "Software\\Velmora\\Plain", "Units", 2), ERROR_SUCCESS);
  Key key;
  ASSERT_EQ(openKey(HKCU, "Software\\Velmora\\Long", key), ERROR_SUCCESS);
  std::vector<char> name(70000);
  std::vector<DWORD> found;
  for (DWORD i = 0;; ++i) {
    DWORD length = static_cast<DWORD>(name.size());
    if (RegEnumValueA(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    EXPECT_LE(std::count_if(name.begin(), name.begin() + length,
                            [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; }),
              16383);
    DWORD data = 0;
    EXPECT_EQ(queryDword(key, std::string(name.data(), length), &data), ERROR_SUCCESS);
    found.push_back(data);
  }
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<DWORD>{1, 2}));
}

TEST_F(MigrationTest, AReaderFollowsTheMoveAnotherProcessMade) {
  writeOldHive();
  EXPECT_EQ(getIn(HKCU, (kVelmora + "\xc3\x84RGER").c_str(), "Nur"), 2u);
  EXPECT_EQ(reap(spawn([] { return setIn(HKCU, "Software\\Velmora", "x", 1) == 0 ? 0 : 1; })), 0);
  // Now one key under the current rule, whichever spelling.
  EXPECT_EQ(getIn(HKCU, (kVelmora + kUpperA).c_str(), "Farbe"), 3u);
  EXPECT_EQ(getIn(HKCU, (kVelmora + "\xc3\x84RGER").c_str(), "Farbe (merged)"), 1u);
}

// The statement that made the values table, and the names of its indexes.
std::string valuesTable(const std::string &file) {
  sqlite3 *db = nullptr;
  std::string out;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt *s = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT name, sql FROM sqlite_master WHERE tbl_name='vals' ORDER BY name",
                       -1, &s, nullptr);
    while (sqlite3_step(s) == SQLITE_ROW)
      out += std::string(reinterpret_cast<const char *>(sqlite3_column_text(s, 0))) +
             (sqlite3_column_text(s, 1)
                  ? std::string(reinterpret_cast<const char *>(sqlite3_column_text(s, 1)))
                  : std::string()) +
             "\n";
    sqlite3_finalize(s);
  }
  sqlite3_close(db);
  return out;
}

TEST_F(MigrationTest, ValuesKeptByRowidMoveIntoTheKeyOrderedTableInTheirOrder) {
  // Written in turns, so the keys' rowids interleave; one replaced and one deleted on the way.
  const char *a = "Software\\Velmora\\A", *b = "Software\\Velmora\\B";
  for (int i = 0; i < 6; ++i) {
    ASSERT_EQ(setIn(HKCU, a, "a" + std::to_string(5 - i), i), ERROR_SUCCESS);
    ASSERT_EQ(setIn(HKCU, b, "b" + std::to_string(i), 10 + i), ERROR_SUCCESS);
  }
  ASSERT_EQ(setIn(HKCU, a, "a4", 40), ERROR_SUCCESS);
  {
    Key k;
    ASSERT_EQ(openKey(HKCU, b, k, KEY_ALL_ACCESS), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueA(k, "b2"), ERROR_SUCCESS);
  }
  vlx::detail::closeIdleHives();
  const std::string file = vlx::hivePath(Hive::User);
  { OldHive old(file, 2); }
  ASSERT_EQ(hiveVersion(file), 2);
  ASSERT_HAS(valuesTable(file), "vals_in_order");

  const Names inA = {"a5", "a4", "a3", "a2", "a1", "a0"}, inB = {"b0", "b1", "b3", "b4", "b5"};
  auto check = [&](const Names &moreInA) {
    Key ka, kb;
    ASSERT_EQ(openKey(HKCU, a, ka), ERROR_SUCCESS);
    ASSERT_EQ(openKey(HKCU, b, kb), ERROR_SUCCESS);
    Names expected = inA;
    expected.insert(expected.end(), moreInA.begin(), moreInA.end());
    EXPECT_EQ(names(ka, true), expected);
    EXPECT_EQ(names(kb, true), inB);
    EXPECT_EQ(getDword(ka, "a4"), 40u);
    EXPECT_EQ(getDword(ka, "a0"), 5u);
    EXPECT_EQ(getDword(kb, "b5"), 15u);
  };
  check({}); // read as it is
  // The first write moves the file; values added after go last, whichever key was written
  // between.
  ASSERT_EQ(setIn(HKCU, a, "new", 1), ERROR_SUCCESS);
  EXPECT_EQ(hiveVersion(file), 3);
  ASSERT_EQ(setIn(HKCU, b, "b9", 19), ERROR_SUCCESS);
  ASSERT_EQ(setIn(HKCU, a, "newer", 2), ERROR_SUCCESS);
  ASSERT_EQ(setIn(HKCU, a, "A5", 55), ERROR_SUCCESS); // replaced in place
  const std::string table = valuesTable(file);
  EXPECT_HAS(table, "WITHOUT ROWID");
  EXPECT_LACKS(table, "vals_in_order");
  {
    Key kb;
    ASSERT_EQ(openKey(HKCU, b, kb), ERROR_SUCCESS);
    EXPECT_EQ(names(kb, true), (Names{"b0", "b1", "b3", "b4", "b5", "b9"}));
  }
  Key ka;
  ASSERT_EQ(openKey(HKCU, a, ka), ERROR_SUCCESS);
  EXPECT_EQ(getDword(ka, "a5"), 55u);
  Names expected = inA;
  expected.insert(expected.end(), {"new", "newer"});
  EXPECT_EQ(names(ka, true), expected);
  for (const vlx::HiveCheck &c : vlx::checkHives())
    EXPECT_TRUE(c.ok) << c.what;
}

// Every row of the hive file but the keys' times of writing, to compare it whole.
std::string dump(const std::string &file) {
  sqlite3 *db = nullptr;
  std::string out;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt *s = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT id, parent, hex(name), hex(folded), '' FROM keys UNION ALL "
                       "SELECT id, key, hex(name), hex(folded), hex(data) FROM vals",
                       -1, &s, nullptr);
    while (sqlite3_step(s) == SQLITE_ROW)
      for (int col = 0; col < 5; ++col)
        out += std::string(reinterpret_cast<const char *>(sqlite3_column_text(s, col))) + ' ';
    sqlite3_finalize(s);
  }
  sqlite3_close(db);
  return out;
}

TEST_F(MigrationTest, AMoveKilledHalfWayLeavesTheHiveAsItWas) {
  const std::string seeded = dir_.file("seeded");
  fs::create_directory(seeded);
  {
    vlx::test::ScopedEnv store("VELMORA_REGISTRY_DIR", seeded.c_str());
    ASSERT_EQ(setIn(HKCU, "Software\\Velmora", "x", 1), ERROR_SUCCESS);
    vlx::detail::closeIdleHives();
    OldHive old(vlx::hivePath(Hive::User));
    for (int i = 0; i < 1500; ++i) {
      const std::string name = kVelmora + "K\xc3\xa9y" + std::to_string(i);
      old.value(name, "v", 1);
      old.value(kVelmora + "K\xc3\x89Y" + std::to_string(i), "V", 2);
    }
  }
  const std::string file = "/user.db";
  const std::string before = dump(seeded + file);
  // The write that moves the hive changes nothing itself.
  auto migrate = [] { return setIn(HKCU, "Software\\Velmora", "x", 1) == 0 ? 0 : 1; };

  const std::string whole = dir_.file("whole");
  fs::copy(seeded, whole, fs::copy_options::recursive);
  auto start = std::chrono::steady_clock::now();
  {
    vlx::test::ScopedEnv store("VELMORA_REGISTRY_DIR", whole.c_str());
    ASSERT_EQ(reap(spawn(migrate)), 0);
  }
  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  const std::string after = dump(whole + file);
  ASSERT_EQ(hiveVersion(whole + file), 3);

  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<long> moment(0, took.count());
  int unchanged = 0, moved = 0;
  for (int round = 0; round < 12; ++round) {
    const std::string dir = dir_.file("round" + std::to_string(round));
    fs::copy(seeded, dir, fs::copy_options::recursive);
    const long delay = moment(random);
    SCOPED_TRACE("killed after " + std::to_string(delay) + " us");
    {
      vlx::test::ScopedEnv store("VELMORA_REGISTRY_DIR", dir.c_str());
      pid_t child = spawn(migrate);
      std::this_thread::sleep_for(std::chrono::microseconds(delay));
      kill(child, SIGKILL);
      reap(child);
    }
    const int version = hiveVersion(dir + file);
    EXPECT_EQ(dump(dir + file), version == 1 ? before : after);
    unchanged += version == 1;
    moved += version == 3;
  }
  RecordProperty("hives unchanged", unchanged);
  RecordProperty("hives moved", moved);
  RecordProperty("microseconds to move", static_cast<int>(took.count()));
}

} // namespace
