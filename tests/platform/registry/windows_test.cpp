// The registry calls answering as Windows does where host code relies on the detail: string
// terminators, short buffers, the merged classes view, widened roots, key information.
#include "platform/registry/support.h"
#include "support/registry_cases.h"

#include <algorithm>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

using namespace regtest;
using RegistryWindowsTest = vlx::test::TempEnvTest;

TEST_F(RegistryWindowsTest, CreateKeyIgnoresTheParentHandlesRights) {
  Key product;
  ASSERT_EQ(setIn(HKCU, "Software\\Product", "v", 1), ERROR_SUCCESS);
  for (REGSAM sam : {REGSAM{KEY_READ}, REGSAM{KEY_NOTIFY}, REGSAM{KEY_QUERY_VALUE}}) {
    SCOPED_TRACE("parent access " + std::to_string(sam));
    Key parent, child, again;
    ASSERT_EQ(openKey(HKCU, "Software\\Product", parent, sam), ERROR_SUCCESS);
    const std::string name = "Section" + std::to_string(sam);
    EXPECT_EQ(createKey(parent, name.c_str(), child), ERROR_SUCCESS);
    EXPECT_EQ(setDword(child, "x", 2), ERROR_SUCCESS); // the new key's own rights count
    EXPECT_EQ(RegCreateKeyA(parent, (name + "\\Deeper").c_str(), &again.h), ERROR_SUCCESS);
  }
  Key classes;
  EXPECT_EQ(
      RegCreateKeyExA(HKCR, ".vlxtest", 0, nullptr, 0, KEY_READ, nullptr, &classes.h, nullptr),
      ERROR_SUCCESS);
}

TEST_F(RegistryWindowsTest, SetValueExAddsTheTerminatorThatFollows) {
  Key k;
  ASSERT_EQ(createKey(HKCU, "Software\\Strings", k), ERROR_SUCCESS);
  for (const vlx::test::TerminatorCase &c : vlx::test::terminatorCases()) {
    SCOPED_TRACE(std::to_string(c.type) + " of " + std::to_string(c.given) + " characters");
    ASSERT_EQ(RegSetValueExA(k, "v", 0, c.type, reinterpret_cast<const BYTE *>(c.memory.c_str()),
                             c.given),
              ERROR_SUCCESS);
    char buf[16];
    DWORD size = sizeof buf;
    ASSERT_EQ(RegQueryValueExA(k, "v", nullptr, nullptr, reinterpret_cast<BYTE *>(buf), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(buf, size), c.stored);

    const std::u16string wide = vlx::test::widened(c.memory);
    ASSERT_EQ(RegSetValueExW(k, u"w", 0, c.type, reinterpret_cast<const BYTE *>(wide.c_str()),
                             c.given * 2),
              ERROR_SUCCESS);
    char16_t wbuf[16];
    size = sizeof wbuf;
    ASSERT_EQ(RegQueryValueExW(k, u"w", nullptr, nullptr, reinterpret_cast<BYTE *>(wbuf), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(wbuf, size / 2), vlx::test::widened(c.stored));
  }
}

TEST_F(RegistryWindowsTest, SetValueExRefusesDataItCannotRead) {
  Key k;
  ASSERT_EQ(createKey(HKCU, "Software\\Unreadable", k), ERROR_SUCCESS);
  const auto *bad = reinterpret_cast<const BYTE *>(uintptr_t{1});
  for (DWORD type : {DWORD{REG_SZ}, DWORD{REG_DWORD}}) {
    SCOPED_TRACE(type);
    EXPECT_EQ(RegSetValueExA(k, "v", 0, type, bad, 1), ERROR_NOACCESS);
    EXPECT_EQ(RegSetValueExW(k, u"v", 0, type, bad, 1), ERROR_NOACCESS);
    EXPECT_EQ(RegSetValueExW(k, u"v", 0, type, nullptr, 4), ERROR_NOACCESS);
    EXPECT_EQ(RegSetValueExW(k, u"v", 0, type, nullptr, 0), ERROR_SUCCESS);
  }
  EXPECT_EQ(RegSetKeyValueW(k, u"sub", u"v", REG_SZ, nullptr, 4), ERROR_NOACCESS);
  // A string ending where readable memory ends is stored without peeking past it.
  const long page = sysconf(_SC_PAGESIZE);
  void *pages = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(pages, MAP_FAILED);
  char *edge = static_cast<char *>(pages) + page - 2;
  std::memcpy(edge, "ab", 2);
  ASSERT_EQ(mprotect(static_cast<char *>(pages) + page, page, PROT_NONE), 0);
  EXPECT_EQ(RegSetValueExA(k, "edge", 0, REG_SZ, reinterpret_cast<BYTE *>(edge), 2), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(k, "past", 0, REG_SZ, reinterpret_cast<BYTE *>(edge), 3),
            ERROR_NOACCESS);
  munmap(pages, 2 * page);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(k, "edge", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 2u);
}

TEST_F(RegistryWindowsTest, QueryValueExSizesAndTypes) {
  Key k;
  ASSERT_EQ(createKey(HKCU, "Software\\Query", k), ERROR_SUCCESS);
  ASSERT_EQ(setRaw(k, "s", REG_SZ, "abcd"), ERROR_SUCCESS);

  // A missing value with no buffer reports a size of 0.
  DWORD size = 99;
  EXPECT_EQ(RegQueryValueExA(k, "missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(size, 0u);

  // A string stored without its zero gets one on reading when there is room, not counted.
  ASSERT_EQ(vlx::setValueAsGiven(k, "bare", REG_SZ, reinterpret_cast<const BYTE *>("ab"), 2),
            ERROR_SUCCESS);
  for (DWORD room : {2u, 3u}) {
    SCOPED_TRACE(room);
    char text[4] = {'x', 'x', 'x', 'x'};
    size = room;
    ASSERT_EQ(RegQueryValueExA(k, "bare", nullptr, nullptr, reinterpret_cast<BYTE *>(text), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(text[2], room > 2 ? '\0' : 'x');
  }

  // One variable for both the type and the size: the size is read before the type lands.
  BYTE buf[16];
  DWORD both = sizeof buf;
  EXPECT_EQ(RegQueryValueExA(k, "s", nullptr, &both, buf, &both), ERROR_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char *>(buf), "abcd");
}

TEST_F(RegistryWindowsTest, EnumValueWithShortBuffers) {
  Key k;
  ASSERT_EQ(createKey(HKCU, "Software\\Enum", k), ERROR_SUCCESS);
  ASSERT_EQ(setRaw(k, "Name", REG_SZ, std::string("value", 6)), ERROR_SUCCESS);
  for (const vlx::test::EnumValueCase &c : vlx::test::enumValueCases()) {
    SCOPED_TRACE(c.what);
    const vlx::test::EnumValueSeen seen = vlx::test::enumValue(k, c);
    EXPECT_EQ(seen.result, c.result);
    EXPECT_EQ(seen.nameLength, c.nameLength);
    EXPECT_EQ(seen.type, c.type);
    EXPECT_EQ(seen.dataSize, c.dataSize);
    if (c.name) {
      EXPECT_EQ(seen.name, c.name);
    }
    EXPECT_EQ(seen.data, c.dataCopied ? std::string("value", 6) : std::string(6, '?'));

    EXPECT_EQ(seen.wideResult, c.result);
    EXPECT_EQ(seen.wideNameLength, c.wideNameLength);
    EXPECT_EQ(seen.wideDataSize, c.dataSize * 2);
    if (c.wideName) {
      EXPECT_EQ(seen.wideName, vlx::test::widened(c.wideName));
    }
    EXPECT_EQ(seen.wideData,
              c.wideDataCopied ? std::u16string(u"value", 6) : std::u16string(6, u'?'));
  }
}

TEST_F(RegistryWindowsTest, ClassesRootMergesValuesAndHonoursDeletion) {
  Key machine, user, merged;
  ASSERT_EQ(createKey(HKLM, "Software\\Classes\\.vlx", machine), ERROR_SUCCESS);
  ASSERT_EQ(setDword(machine, "Shared", 1), ERROR_SUCCESS);
  ASSERT_EQ(setDword(machine, "MachineOnly", 2), ERROR_SUCCESS);
  ASSERT_EQ(createKey(HKCU, "Software\\Classes\\.vlx", user), ERROR_SUCCESS);
  ASSERT_EQ(setDword(user, "UserOnly", 3), ERROR_SUCCESS);
  ASSERT_EQ(setDword(user, "shared", 4), ERROR_SUCCESS);

  ASSERT_EQ(openKey(HKCR, ".vlx", merged, KEY_ALL_ACCESS), ERROR_SUCCESS);
  EXPECT_EQ(names(merged, true), (Names{"UserOnly", "shared", "MachineOnly"}));
  EXPECT_EQ(getDword(merged, "Shared"), 4u);
  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKeyA(merged, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 3u);

  // Deleting the user's side ends the handle, though the machine's key is still there.
  ASSERT_EQ(RegDeleteKeyA(HKCU, "Software\\Classes\\.vlx"), ERROR_SUCCESS);
  EXPECT_EQ(queryDword(merged, "MachineOnly"), ERROR_KEY_DELETED);
  char name[32];
  DWORD len = sizeof name;
  EXPECT_EQ(RegEnumValueA(merged, 0, name, &len, nullptr, nullptr, nullptr, nullptr),
            ERROR_KEY_DELETED);
  Key reopened;
  ASSERT_EQ(openKey(HKCR, ".vlx", reopened), ERROR_SUCCESS);
  EXPECT_EQ(names(reopened, true), (Names{"Shared", "MachineOnly"}));
}

TEST_F(RegistryWindowsTest, ClassesRootPaths) {
  ASSERT_EQ(setIn(HKLM, "Software\\Classes\\CLSID", "v", 1), ERROR_SUCCESS);
  const std::pair<const char *, LONG> cases[] = {
      {"\\clsid", ERROR_SUCCESS},
      {"\\", ERROR_SUCCESS},
      {"\\\\clsid", ERROR_BAD_PATHNAME},
  };
  for (auto [path, result] : cases) {
    SCOPED_TRACE(path);
    Key k;
    EXPECT_EQ(openKey(HKCR, path, k), result);
  }
  for (const char *path : {static_cast<const char *>(nullptr), ""}) {
    SCOPED_TRACE(path ? "empty" : "null");
    HKEY k = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKCR, path, 0, KEY_READ, &k), ERROR_SUCCESS);
    EXPECT_EQ(k, HKCR); // the root itself, nothing to close
  }
}

TEST_F(RegistryWindowsTest, RootsCompareOnTheirLow32Bits) {
  ASSERT_EQ(setIn(HKCU, "Software\\Wide", "v", 7), ERROR_SUCCESS);
  const auto low = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(HKCU));
  const uintptr_t variants[] = {
      low,                               // zero-extended from a DWORD
      uintptr_t{0x12345678} << 32 | low, // upper half changed
  };
  for (uintptr_t v : variants) {
    SCOPED_TRACE(v);
    Key k;
    ASSERT_EQ(RegOpenKeyA(reinterpret_cast<HKEY>(v), "Software\\Wide", &k.h), ERROR_SUCCESS);
    EXPECT_EQ(getDword(k, "v"), 7u);
  }
  HKEY out = HKLM;
  EXPECT_EQ(RegOpenKeyA(nullptr, nullptr, &out), ERROR_SUCCESS);
  EXPECT_EQ(out, nullptr);
  out = HKLM;
  EXPECT_EQ(RegOpenKeyA(nullptr, "Software", &out), ERROR_INVALID_HANDLE);
  EXPECT_EQ(out, HKLM); // the narrow call leaves it as it was
  EXPECT_EQ(RegOpenKeyExA(nullptr, "", 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
  EXPECT_EQ(out, HKLM);
  EXPECT_EQ(RegOpenKeyExW(nullptr, u"", 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
  EXPECT_EQ(out, nullptr);
}

TEST_F(RegistryWindowsTest, QueryInfoKeyReportsAsWindows) {
  Key k;
  ASSERT_EQ(createKey(HKCU, "Software\\Info", k), ERROR_SUCCESS);
  ASSERT_EQ(setRaw(k, "s", REG_SZ, "\xc3\xa9t\xc3\xa9"), ERROR_SUCCESS); // 3 characters
  ASSERT_EQ(setRaw(k, "b", REG_BINARY, "1234567"), ERROR_SUCCESS);
  char cls[4] = "xyz";
  DWORD clsLen = 0, maxData = 0, security = 0;
  EXPECT_EQ(RegQueryInfoKeyA(k, cls, &clsLen, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             &maxData, &security, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(clsLen, 0u);
  EXPECT_EQ(maxData, 8u); // "été" and its zero in UTF-16, longer than the 7 binary bytes
  EXPECT_GT(security, 0u);
  ASSERT_EQ(setRaw(k, "b", REG_BINARY, std::string(9, 'x')), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, &maxData, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(maxData, 9u);
}

// Read only, as the check program on Windows reads the same table.
TEST_F(RegistryWindowsTest, CurrentConfigOpensAsARootOfItsOwn) {
  for (const vlx::test::CurrentConfigCase &c : vlx::test::currentConfigCases()) {
    SCOPED_TRACE(c.path ? c.path : "(null)");
    const vlx::test::CurrentConfigSeen seen = vlx::test::currentConfig(c);
    EXPECT_EQ(seen.result, c.result);
    EXPECT_EQ(seen.info, ERROR_SUCCESS);
  }
}

} // namespace
