// Registry keys and values: paths, names, enumeration order, sizes, deletion, access, limits;
// and the hives behind them: the skeleton of a missing hive, HKCR, batches.
#include "platform/posix/registry/hive_db.h"
#include "platform/registry/support.h"

#include <filesystem>
#include <sqlite3.h>
#include <stdexcept>
#include <sys/stat.h>

namespace {

using namespace regtest;

namespace fs = std::filesystem;
using RegistryTest = vlx::test::TempEnvTest;

std::string getString(HKEY key, const char *name) {
  char buf[512] = {};
  DWORD size = sizeof buf - 1;
  LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(buf), &size);
  return rc == ERROR_SUCCESS ? std::string(buf) : "<error " + std::to_string(rc) + ">";
}

TEST_F(RegistryTest, OpenAndCreatePathsIgnoringCase) {
  Key k, again, software;
  DWORD created = 0, existing = 0;
  ASSERT_EQ(createKey(HKCU, "Software\\Velmora\\Draw", k, &created), ERROR_SUCCESS);
  ASSERT_EQ(setRaw(k, "Units", REG_SZ, "mm"), ERROR_SUCCESS);
  ASSERT_EQ(setRaw(k, "UNITS", REG_SZ, "cm"), ERROR_SUCCESS); // the same value, its name kept
  ASSERT_EQ(createKey(HKCU, "software\\VELMORA\\draw", again, &existing), ERROR_SUCCESS);
  EXPECT_EQ(created, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  EXPECT_EQ(existing, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  EXPECT_EQ(getString(again, "units"), "cm");
  EXPECT_EQ(names(again, true), Names{"Units"});
  ASSERT_EQ(openKey(HKCU, "SOFTWARE", software), ERROR_SUCCESS);
  EXPECT_EQ(names(software), Names{"Velmora"});

  const std::pair<const char *, LONG> cases[] = {
      {"\\Software", ERROR_BAD_PATHNAME},
      {"Software\\\\Velmora", ERROR_BAD_PATHNAME},
      {"Software\\Velmora\\", ERROR_SUCCESS},
  };
  for (auto [path, result] : cases) {
    SCOPED_TRACE(path);
    Key opened;
    EXPECT_EQ(openKey(HKCU, path, opened), result);
    EXPECT_EQ(opened.h == nullptr, result != ERROR_SUCCESS);
  }
  // A missing subkey opens the same key as a new handle of its own.
  Key copy;
  ASSERT_EQ(openKey(k, nullptr, copy, KEY_ALL_ACCESS), ERROR_SUCCESS);
  EXPECT_NE(copy.h, k.h);
  EXPECT_EQ(getString(copy, "Units"), "cm");
}

TEST_F(RegistryTest, EnumerationOrderAndInfo) {
  Key k;
  ASSERT_EQ(createKey(HKCU, "Software\\Order", k), ERROR_SUCCESS);
  for (const char *name : {"Key_B", "Key[1]", "keyb", "KeyA"})
    ASSERT_EQ(setIn(k, name, "v", 1), ERROR_SUCCESS);
  for (const char *name : {"zeta", "Alpha", "mid"})
    ASSERT_EQ(setRaw(k, name, REG_SZ, "x"), ERROR_SUCCESS);
  ASSERT_EQ(setRaw(k, "ZETA", REG_SZ, "replaced"), ERROR_SUCCESS); // keeps its place
  EXPECT_EQ(names(k), (Names{"KeyA", "keyb", "Key[1]", "Key_B"}));
  EXPECT_EQ(names(k, true), (Names{"zeta", "Alpha", "mid"}));
  ASSERT_EQ(RegDeleteValueA(k, "alpha"), ERROR_SUCCESS);
  ASSERT_EQ(setRaw(k, "Alpha", REG_SZ, "back"), ERROR_SUCCESS); // moves to the end
  EXPECT_EQ(names(k, true), (Names{"zeta", "mid", "Alpha"}));

  DWORD subkeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0;
  ASSERT_EQ(RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &subkeys, &maxSub, nullptr, &values,
                             &maxName, &maxData, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ((std::vector<DWORD>{subkeys, maxSub, values, maxName, maxData}),
            (std::vector<DWORD>{4, 6, 3, 5, 18})); // data sized as UTF-16, as Windows keeps it
}

// Every letter of the basic plane folds, one UTF-16 unit at a time, and subkeys enumerate in
// upper-cased UTF-16 order; names that are not UTF-8 are names of their own.
TEST_F(RegistryTest, NamesFoldEveryLetterAndEnumerateInUpperCasedUtf16Order) {
  Key k;
  ASSERT_EQ(createKey(HKCU, "Software\\Unicode", k), ERROR_SUCCESS);
  for (const char *name : {"\xef\xbc\xa1", "\xf0\x9f\x98\x80", "_", "a", "\xc3\xa9", "\xe9"})
    ASSERT_EQ(setIn(k, name, "v", 1), ERROR_SUCCESS);
  // A surrogate pair sorts before U+FF21; bytes that are not UTF-8 as U+DC80 + the byte.
  EXPECT_EQ(names(k), (Names{"a", "_", "\xc3\xa9", "\xf0\x9f\x98\x80", "\xe9", "\xef\xbc\xa1"}));
  Key fullwidth;
  EXPECT_EQ(openKey(k, "\xef\xbd\x81", fullwidth), ERROR_SUCCESS);
  // Values by the same rule: each case sets `name` and reads `other`.
  const std::tuple<const char *, const char *, bool> cases[] = {
      {"\xc3\xa9", "\xc3\x89", true},                 // é É
      {"Ma\xc3\x9f", "MASS", false},                  // ß has no one-unit capital
      {"\xe9", "\xc3\xa9", false},                    // a Latin-1 byte is no letter
      {"\xce\xb1\xcf\x82", "\xce\x91\xce\xa3", true}, // ας ΑΣ
  };
  DWORD data = 100;
  for (auto [name, other, same] : cases) {
    SCOPED_TRACE(std::string(name) + " / " + other);
    ASSERT_EQ(setDword(k, name, ++data), ERROR_SUCCESS);
    EXPECT_EQ(getDword(k, other) == data, same);
  }
  // RegRenameKey checks its siblings by the same rule.
  EXPECT_EQ(RegRenameKey(k, u"a", u"\u00c9"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegRenameKey(k, u"a", u"\u00e0"), ERROR_SUCCESS);
  Key renamed;
  EXPECT_EQ(openKey(k, "\xc3\x80", renamed), ERROR_SUCCESS);
}

TEST_F(RegistryTest, ShortBuffersReportTheSizeNeeded) {
  Key k, child;
  ASSERT_EQ(createKey(HKCU, "Software\\Sizes", k), ERROR_SUCCESS);
  ASSERT_EQ(setRaw(k, "Path", REG_SZ, "C:\\data"), ERROR_SUCCESS); // stored with its zero: 8 bytes
  for (auto [room, result] : {std::pair{8u, ERROR_SUCCESS}, {7u, ERROR_MORE_DATA}}) {
    SCOPED_TRACE(room);
    BYTE buf[16] = {};
    DWORD size = room, type = 0;
    EXPECT_EQ(RegQueryValueExA(k, "Path", nullptr, &type, buf, &size), result);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  }
  DWORD size = 0; // size only: no buffer
  EXPECT_EQ(RegQueryValueExA(k, "Path", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 8u);
  BYTE data[4];
  EXPECT_EQ(RegQueryValueExA(k, "Path", nullptr, nullptr, data, nullptr), ERROR_INVALID_PARAMETER);

  // An enumerated name needs room for the NUL.
  ASSERT_EQ(createKey(k, "Child", child), ERROR_SUCCESS);
  char name[16];
  DWORD len = 5; // "Child" needs 6
  EXPECT_EQ(RegEnumKeyExA(k, 0, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
}

TEST_F(RegistryTest, DeleteKeyRules) {
  ASSERT_EQ(setIn(HKCU, "Software\\Del\\Inner", "v", 1), ERROR_SUCCESS);
  const std::tuple<HKEY, const char *, LONG> cases[] = {
      {HKCU, "Software\\Del", ERROR_ACCESS_DENIED}, // it has a subkey
      {HKCU, "Software\\Del\\Missing", ERROR_FILE_NOT_FOUND},
      {HKCU, nullptr, ERROR_INVALID_PARAMETER},
      // The skeleton and the roots stay.
      {HKLM, "Software\\Classes", ERROR_ACCESS_DENIED},
      {HKLM, "SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current", ERROR_ACCESS_DENIED},
      {HKEY_CURRENT_CONFIG, "", ERROR_ACCESS_DENIED},
      {HKU, ".DEFAULT", ERROR_ACCESS_DENIED},
      {HKCR, "", ERROR_ACCESS_DENIED},
  };
  for (auto [root, path, result] : cases) {
    SCOPED_TRACE(path ? path : "(null)");
    EXPECT_EQ(RegDeleteKeyA(root, path), result);
  }
  // A read-only handle may still delete: deleting opens the subkey itself.
  Key readOnly, gone;
  ASSERT_EQ(openKey(HKCU, "Software\\Del", readOnly), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyA(readOnly, "inner"), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyA(HKCU, "Software\\Del"), ERROR_SUCCESS);
  EXPECT_EQ(openKey(HKCU, "Software\\Del", gone), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, HandleToDeletedKeyAnswersKeyDeleted) {
  Key k, other, fresh, sub;
  ASSERT_EQ(createKey(HKCU, "Software\\Doomed", k), ERROR_SUCCESS);
  ASSERT_EQ(setDword(k, "v", 1), ERROR_SUCCESS);
  ASSERT_EQ(openKey(HKCU, "Software\\Doomed", other, KEY_ALL_ACCESS), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyA(other, ""), ERROR_SUCCESS); // "" deletes the key itself
  // Re-creating the path makes a new key; the old handles still see the deleted one.
  ASSERT_EQ(createKey(HKCU, "Software\\Doomed", fresh), ERROR_SUCCESS);
  // One operation per way of finding out: a missed read, a write, a walk from the key.
  EXPECT_EQ(queryDword(k, "v"), ERROR_KEY_DELETED);
  EXPECT_EQ(setDword(k, "w", 2), ERROR_KEY_DELETED);
  EXPECT_EQ(openKey(k, "", sub), ERROR_KEY_DELETED);
}

// Paths opened before are found again by their text, which must follow what happens to their
// keys since: a rename, a deletion, a key made anew, from either root that takes plain paths.
TEST_F(RegistryTest, PathsOpenedAgainFollowTheirKeys) {
  auto got = [](HKEY root, const std::string &path) {
    DWORD value = 0, size = sizeof value;
    LONG rc = RegGetValueA(root, path.c_str(), "v", RRF_RT_REG_DWORD, nullptr, &value, &size);
    return rc == ERROR_SUCCESS ? value : 0xdeadbeef;
  };
  for (auto [root, prefix] : {std::pair{HKCU, ""}, std::pair{HKU, ".DEFAULT\\"}}) {
    const std::string base = std::string(prefix) + "Software\\Again", path = base + "\\Inner";
    SCOPED_TRACE(path);
    ASSERT_EQ(setIn(root, path.c_str(), "v", 1), ERROR_SUCCESS);
    EXPECT_EQ(got(root, path), 1u);
    EXPECT_EQ(getIn(root, (path + "\\").c_str(), "v"), 1u);
    Key parent, gone, deep;
    ASSERT_EQ(openKey(root, base.c_str(), parent, KEY_ALL_ACCESS), ERROR_SUCCESS);
    ASSERT_EQ(RegRenameKey(parent, u"Inner", u"Moved"), ERROR_SUCCESS);
    EXPECT_EQ(openKey(root, path.c_str(), gone), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(got(root, path), 0xdeadbeef);
    EXPECT_EQ(got(root, base + "\\moved"), 1u);
    ASSERT_EQ(setIn(root, path.c_str(), "v", 2), ERROR_SUCCESS);
    EXPECT_EQ(got(root, path), 2u);
    ASSERT_EQ(RegDeleteTreeA(root, base.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(got(root, path), 0xdeadbeef);
    EXPECT_EQ(openKey(root, path.c_str(), gone), ERROR_FILE_NOT_FOUND);
  }
  // The default user's root by other spellings; what only looks like it is not.
  ASSERT_EQ(setIn(HKU, ".DEFAULT\\Software\\Spelt", "v", 3), ERROR_SUCCESS);
  EXPECT_EQ(got(HKU, ".default\\Software\\Spelt"), 3u);
  EXPECT_EQ(got(HKU, ".DEFAULT\\Software\\Spelt"), 3u);
  EXPECT_EQ(got(HKU, ".DEFAULTS\\Software\\Spelt"), 0xdeadbeef);
  Key k;
  EXPECT_EQ(openKey(HKU, ".DEFAULT\\\\Software\\Spelt", k), ERROR_BAD_PATHNAME);
}

TEST_F(RegistryTest, AccessMaskIsEnforcedPerHandle) {
  ASSERT_EQ(setIn(HKCU, "Software\\Guarded", "v", 1), ERROR_SUCCESS);
  struct Case {
    REGSAM sam;
    bool query, set, enumerate;
  } cases[] = {
      {KEY_READ, true, false, true},
      {KEY_SET_VALUE, false, true, false},
      {KEY_CREATE_SUB_KEY, false, false, false},
      {GENERIC_READ, true, false, true},
      {MAXIMUM_ALLOWED, true, true, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("access " + std::to_string(c.sam));
    Key k, existing;
    ASSERT_EQ(openKey(HKCU, "Software\\Guarded", k, c.sam), ERROR_SUCCESS);
    char name[32];
    EXPECT_EQ(queryDword(k, "v") != ERROR_ACCESS_DENIED, c.query);
    EXPECT_EQ(setDword(k, "w", 2) != ERROR_ACCESS_DENIED, c.set);
    EXPECT_EQ(RegEnumKeyA(k, 0, name, sizeof name) != ERROR_ACCESS_DENIED, c.enumerate);
    // Opening an existing key through create needs no create right.
    EXPECT_EQ(createKey(k, "", existing), ERROR_SUCCESS);
  }
}

TEST_F(RegistryTest, NameLimits) {
  Key k, a, b, c, x, w;
  ASSERT_EQ(createKey(HKCU, "Software\\Limits", k), ERROR_SUCCESS);
  std::string key256(256, 'k'), value16383(16383, 'v');
  EXPECT_EQ(createKey(k, key256.substr(1).c_str(), a), ERROR_SUCCESS);
  EXPECT_EQ(createKey(k, key256.c_str(), b), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(createKey(k, ("x\\" + key256).c_str(), c), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(openKey(k, "x", x), ERROR_FILE_NOT_FOUND); // nothing made
  EXPECT_EQ(setRaw(k, value16383.c_str(), REG_SZ, "ok"), ERROR_SUCCESS);
  EXPECT_EQ(setRaw(k, (value16383 + "v").c_str(), REG_SZ, "no"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(getString(k, value16383.c_str()), "ok");
  // Multi-byte names count in characters, not bytes: 200 two-byte characters fit.
  std::string wide;
  for (int i = 0; i < 200; ++i)
    wide += "\xc3\xa9";
  EXPECT_EQ(createKey(k, wide.c_str(), w), ERROR_SUCCESS);
}

TEST_F(RegistryTest, MissingHivesReadAsSkeletonWithoutCreatingFiles) {
  const std::tuple<HKEY, const char *, LONG> cases[] = {
      {HKCU, "Software", ERROR_SUCCESS},
      {HKCU, "Software\\Classes", ERROR_FILE_NOT_FOUND},
      {HKLM, "Software\\Classes", ERROR_SUCCESS},
      {HKU, "S-1-5-21", ERROR_FILE_NOT_FOUND},
  };
  for (auto [root, path, result] : cases) {
    SCOPED_TRACE(path);
    Key k;
    EXPECT_EQ(openKey(root, path, k), result);
  }
  EXPECT_EQ(names(HKU), Names{".DEFAULT"});
  EXPECT_TRUE(fs::is_empty(dir_.path())) << "a read created a file";

  // The first write creates only its own hive, skeleton included; a handle opened on the
  // skeleton before stays valid. HKU holds no other user.
  Key software, made, other;
  ASSERT_EQ(openKey(HKU, ".default\\software", software, KEY_ALL_ACCESS), ERROR_SUCCESS);
  ASSERT_EQ(createKey(software, "Velmora", made), ERROR_SUCCESS);
  EXPECT_EQ(names(software), Names{"Velmora"});
  EXPECT_TRUE(fs::exists(dir_.file("default-user.db")));
  EXPECT_FALSE(fs::exists(dir_.file("user.db")));
  EXPECT_EQ(createKey(HKU, "S-1-5-21", other), ERROR_ACCESS_DENIED);
}

// HKEY_CURRENT_CONFIG is the machine's key of the current hardware profile, under either name.
TEST_F(RegistryTest, CurrentConfigIsAKeyOfTheMachineHive) {
  const HKEY HKCC = HKEY_CURRENT_CONFIG;
  const char *const profile = "SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current";
  Key root, missing;
  ASSERT_EQ(openKey(HKCC, "", root), ERROR_SUCCESS);
  EXPECT_EQ(names(root), Names{});
  EXPECT_EQ(openKey(HKCC, "Software", missing), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(fs::is_empty(dir_.path())) << "a read created a file";

  ASSERT_EQ(setIn(HKCC, "Software\\Fonts", "viaConfig", 1), ERROR_SUCCESS);
  ASSERT_EQ(setIn(HKLM, (std::string(profile) + "\\Software\\Fonts").c_str(), "viaMachine", 2),
            ERROR_SUCCESS);
  ASSERT_EQ(setDword(HKCC, "top", 3), ERROR_SUCCESS);
  const std::tuple<HKEY, std::string, const char *, DWORD> reads[] = {
      {HKLM, std::string(profile) + "\\Software\\Fonts", "viaConfig", 1},
      {HKCC, "software\\fonts", "viaMachine", 2},
      {HKLM, profile, "top", 3},
      {HKCC, "", "top", 3},
  };
  for (const auto &[base, path, name, value] : reads) {
    SCOPED_TRACE(path + " " + name);
    EXPECT_EQ(getIn(base, path.c_str(), name), value);
  }
  EXPECT_EQ(names(HKCC), Names{"Software"});
  EXPECT_EQ(names(HKLM), (Names{"Software", "SYSTEM"}));
  EXPECT_EQ(names(HKCC, true), Names{"top"});
  // Its keys are plain keys of the machine's hive, unmarked, and the root is never closed.
  Key fonts;
  ASSERT_EQ(openKey(HKCC, "Software\\Fonts", fonts), ERROR_SUCCESS);
  EXPECT_EQ(reinterpret_cast<ULONG_PTR>(fonts.h) & 3, 0u);
  EXPECT_EQ(RegCloseKey(HKCC), ERROR_SUCCESS);
  EXPECT_EQ(getDword(HKCC, "top"), 3u);
}

// A machine hive written before the key existed gets it from a process that may write the hive;
// one that may not is refused as any writer of that hive.
TEST_F(RegistryTest, CurrentConfigIsAddedToAnOlderMachineHive) {
  ASSERT_EQ(setIn(HKLM, "Software\\Admin", "v", 1), ERROR_SUCCESS);
  vlx::detail::closeIdleHives();
  const std::string machine = vlx::hivePath(vlx::Hive::Machine);
  {
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(machine.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(
        sqlite3_exec(db, "DELETE FROM keys WHERE id BETWEEN 4 AND 7", nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(db);
  }
  EXPECT_EQ(names(HKLM), Names{"Software"});
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  for (const char *suffix : {"", "-wal", "-shm"})
    chmod((machine + suffix).c_str(), 0444);
  pid_t reader = spawn([] {
    // Root writes whatever the modes say: the reader runs as another user then.
    if (geteuid() == 0 && setuid(65534) != 0)
      return 30;
    Key k;
    const LONG rc = openKey(HKEY_CURRENT_CONFIG, "Software", k);
    return rc == ERROR_ACCESS_DENIED ? 0 : 100 + static_cast<int>(rc);
  });
  EXPECT_EQ(reap(reader), 0);
  for (const char *suffix : {"", "-wal", "-shm"})
    chmod((machine + suffix).c_str(), 0644);
  EXPECT_EQ(names(HKEY_CURRENT_CONFIG), Names{});
  EXPECT_EQ(names(HKLM), (Names{"Software", "SYSTEM"}));
  EXPECT_EQ(setIn(HKEY_CURRENT_CONFIG, "Software", "v", 2), ERROR_SUCCESS);
}

TEST_F(RegistryTest, ClassesRootMergesUserOverMachine) {
  ASSERT_EQ(setIn(HKLM, "Software\\Classes\\.vlx", "from", 1), ERROR_SUCCESS);
  ASSERT_EQ(setIn(HKLM, "Software\\Classes\\Both", "from", 1), ERROR_SUCCESS);
  ASSERT_EQ(setIn(HKCU, "Software\\Classes\\both", "from", 2), ERROR_SUCCESS);
  ASSERT_EQ(setIn(HKCU, "Software\\Classes\\UserOnly", "from", 2), ERROR_SUCCESS);
  EXPECT_EQ(names(HKCR), (Names{".vlx", "both", "UserOnly"}));
  EXPECT_EQ(getIn(HKCR, "Both", "from"), 2u);
  // Writes land in the user's key where it exists, else in the machine's classes.
  ASSERT_EQ(setIn(HKCR, "Both", "written", 3), ERROR_SUCCESS);
  EXPECT_EQ(getIn(HKCU, "Software\\Classes\\Both", "written"), 3u);
  Key fresh;
  ASSERT_EQ(createKey(HKCR, "New.Type\\Shell", fresh), ERROR_SUCCESS);
  EXPECT_EQ(names(HKCR), (Names{".vlx", "both", "New.Type", "UserOnly"}));
  // Deleting removes the user's key first; the machine's then shows through.
  EXPECT_EQ(RegDeleteKeyA(HKCR, "Both"), ERROR_SUCCESS);
  EXPECT_EQ(getIn(HKCR, "Both", "from"), 1u);
}

// Windows' own test tells keys of the merged classes view by their low bits.
TEST_F(RegistryTest, ClassesKeysAreMarkedAndCreationNeedsAResult) {
  Key classes, below, user;
  ASSERT_EQ(createKey(HKCR, "Marked.Type", classes), ERROR_SUCCESS);
  ASSERT_EQ(createKey(classes.h, "Shell", below), ERROR_SUCCESS);
  ASSERT_EQ(createKey(HKCU, "Software\\Marked", user), ERROR_SUCCESS);
  EXPECT_EQ(reinterpret_cast<ULONG_PTR>(classes.h) & 3, 2u);
  EXPECT_EQ(reinterpret_cast<ULONG_PTR>(below.h) & 3, 2u);
  EXPECT_EQ(reinterpret_cast<ULONG_PTR>(user.h) & 3, 0u);
  const DWORD one = 1;
  EXPECT_EQ(
      RegSetValueExA(below.h, "v", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&one), sizeof one),
      ERROR_SUCCESS);
  EXPECT_EQ(getIn(HKCR, "Marked.Type\\Shell", "v"), 1u);
  // The mark is part of the handle: without it the key is no handle.
  HKEY unmarked = reinterpret_cast<HKEY>(reinterpret_cast<ULONG_PTR>(classes.h) & ~ULONG_PTR{3});
  EXPECT_EQ(
      RegSetValueExA(unmarked, "v", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&one), sizeof one),
      ERROR_INVALID_HANDLE);
  EXPECT_EQ(
      RegCreateKeyExA(HKCU, "Software\\Marked", 0, nullptr, 0, KEY_READ, nullptr, nullptr, nullptr),
      ERROR_BADKEY);
}

// A body that returns a failure, and one that reads its own changes, are vlx's
// ImportIsAllOrNothingPerHive.
TEST_F(RegistryTest, AFailedOrThrowingBodyUndoesTheBatch) {
  Key k, gone;
  ASSERT_EQ(createKey(HKCU, "Software\\Batch", k), ERROR_SUCCESS);
  ASSERT_EQ(setDword(k, "kept", 1), ERROR_SUCCESS);
  auto thrower = [&]() -> LONG {
    setIn(k, "Thrown", "v", 1);
    throw std::runtime_error("body failed");
  };
  EXPECT_THROW(vlx::inHiveTransaction(vlx::Hive::User, thrower), std::runtime_error);
  EXPECT_EQ(openKey(k, "Thrown", gone), ERROR_FILE_NOT_FOUND);

  // Writes that succeeded, then a failure the body returns: its code comes back, nothing lands.
  auto failing = [&]() -> LONG {
    if (setIn(k, "Failed", "v", 1) != ERROR_SUCCESS || setDword(k, "kept", 2) != ERROR_SUCCESS ||
        RegDeleteValueA(k, "kept") != ERROR_SUCCESS)
      return ERROR_INVALID_FUNCTION;
    return ERROR_INVALID_DATA;
  };
  EXPECT_EQ(vlx::inHiveTransaction(vlx::Hive::User, failing), ERROR_INVALID_DATA);
  EXPECT_EQ(openKey(k, "Failed", gone), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(getDword(k, "kept"), 1u);
  // The hive takes the next batch as usual.
  EXPECT_EQ(vlx::inHiveTransaction(vlx::Hive::User, [&] { return setDword(k, "kept", 3); }),
            ERROR_SUCCESS);
  EXPECT_EQ(getDword(k, "kept"), 3u);
}

} // namespace
