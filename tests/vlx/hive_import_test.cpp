// `vlx reg import-hive`: Windows hive files made with hivex at run time, imported whole or refused
// with the store unchanged.
#include "support/expect_text.h"
#include "vlx_fixture.h"

#include <gtest/gtest.h>

#ifdef VLX_HAVE_HIVEX
#include "support/windows_hive_file.h"
#include "vlx/core/commands.h"
#include "vlx/core/errors.h"
#include "vlx/hive/windows_hive.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace vlx::cli {
namespace {

using namespace std::string_literals;
using test::HiveKey;
using test::HiveValue;
using test::utf16le;

constexpr uint32_t kNone = 0, kSz = 1, kExpandSz = 2, kBinary = 3, kDword = 4, kMultiSz = 7,
                   kQword = 11;

// A user's hive: the product key with every value type, in an order that is not the names', two
// levels of sections, an empty key, and a key of another product beside it.
std::vector<HiveKey> userHive() {
  return {
      {"Software\\Velmora",
       {{"Zeta", kSz, utf16le(u"Zahnräder – 歯車") + "\0\0"s},
        {"", kSz, ""},
        {"Path", kExpandSz, utf16le(u"%APPDATA%\\Velmora") + "\0\0"s},
        {"List", kMultiSz, utf16le(u"eins") + "\0\0"s + utf16le(u"zwö") + "\0\0\0\0"s},
        {"Count", kDword, "\x2a\0\0\0"s},
        {"Big", kQword, "\x01\x02\x03\x04\x05\x06\x07\x08"s},
        {"Blob", kBinary, "\0\xff\x80"s},
        {"Nothing", kNone, ""},
        {"Odd", 0x12345678, "\x01"s}}},
      {"Software\\Velmora\\General", {{"Backup Copies", kDword, "\x01\0\0\0"s}}},
      {"Software\\Velmora\\Startup\\Applications", {{"Gears", kSz, utf16le(u"Gears") + "\0\0"s}}},
      {"Software\\Velmora\\Empty", {}},
      // Names in Latin-1 and in UTF-16, as the file keeps them.
      {"Software\\Velmora\\Maße 寸法", {{"Länge", kDword, "\x05\0\0\0"s}}},
      {"Software\\Other", {{"Stray", kDword, "\x07\0\0\0"s}}},
  };
}

class HiveImport : public VlxTest {
protected:
  std::string hive(const std::string &name, const std::vector<HiveKey> &keys) {
    const std::string path = dir_.file(name);
    EXPECT_EQ(test::writeHiveFile(path, keys), "");
    return path;
  }

  std::string exported(const std::string &key) { return ok({"reg", "export", key}); }

  // What every store of these tests holds before an import: one user value to merge with.
  void seed() { ok({"pref", "set", "General", "Keep", "1", "--type", "int"}); }
};

TEST_F(HiveImport, ProductKeyKeepsTypesDataAndOrder) {
  const std::string file = hive("NTUSER.DAT", userHive());
  seed();
  EXPECT_EQ(
      ok({"reg", "import-hive", file}),
      "import: 12 values added, 0 changed, 0 unchanged, 0 removed; 4 keys added, 0 removed (18 "
      "entries of " +
          file + ": Software\\Velmora into HKEY_CURRENT_USER\\Software\\Velmora)\n");
  // Text in UTF-8, each value where the hive had it, the user's own value kept beside the
  // imported one, and nothing of the other product.
  EXPECT_EQ(exported("HKCU\\Software"),
            "REGEDIT4\n\n"
            "[HKEY_CURRENT_USER\\Software]\n\n"
            "[HKEY_CURRENT_USER\\Software\\Velmora]\n"
            "\"Zeta\"=\"Zahnräder – 歯車\"\n"
            "@=hex(1):\n"
            "\"Path\"=hex(2):25,41,50,50,44,41,54,41,25,5c,56,65,6c,6d,6f,72,61,00\n"
            "\"List\"=hex(7):65,69,6e,73,00,7a,77,c3,b6,00,00\n"
            "\"Count\"=dword:0000002a\n"
            "\"Big\"=hex(b):01,02,03,04,05,06,07,08\n"
            "\"Blob\"=hex:00,ff,80\n"
            "\"Nothing\"=hex(0):\n"
            "\"Odd\"=hex(12345678):01\n\n"
            "[HKEY_CURRENT_USER\\Software\\Velmora\\Empty]\n\n"
            "[HKEY_CURRENT_USER\\Software\\Velmora\\General]\n"
            "\"Keep\"=dword:00000001\n"
            "\"Backup Copies\"=dword:00000001\n\n"
            "[HKEY_CURRENT_USER\\Software\\Velmora\\Maße 寸法]\n"
            "\"Länge\"=dword:00000005\n\n"
            "[HKEY_CURRENT_USER\\Software\\Velmora\\Startup]\n\n"
            "[HKEY_CURRENT_USER\\Software\\Velmora\\Startup\\Applications]\n"
            "\"Gears\"=\"Gears\"\n\n");
  // A second import replaces values of the same name and changes nothing else.
  const std::string before = exported("HKCU\\Software");
  ok({"reg", "import-hive", file});
  EXPECT_EQ(exported("HKCU\\Software"), before);
}

TEST_F(HiveImport, KeyAndMachineChooseWhatAndWhere) {
  const std::string user = hive("NTUSER.DAT", userHive());
  // A SOFTWARE hive is the machine's Software key: the product key lies at its root, here where a
  // 32-bit program on 64-bit Windows keeps it.
  const std::string software = hive(
      "SOFTWARE", {{"WOW6432Node\\Velmora\\General", {{"Units", kSz, utf16le(u"mm") + "\0\0"s}}},
                   {"Microsoft", {}}});
  struct Case {
    std::vector<std::string> args;
    std::string into;   // the key the message names
    std::string expect; // its export below the header
  };
  const Case cases[] = {
      {{user, "--key", "Software\\Velmora\\General"},
       "HKEY_CURRENT_USER\\Software\\Velmora\\General",
       "[HKEY_CURRENT_USER\\Software\\Velmora\\General]\n\"Keep\"=dword:00000001\n"
       "\"Backup Copies\"=dword:00000001\n\n"},
      // Names in the path are found whatever their case, and land spelled as the file spells them.
      {{user, "--machine", "-k", "software\\VELMORA\\startup"},
       "HKEY_LOCAL_MACHINE\\Software\\Velmora\\Startup",
       "[HKEY_LOCAL_MACHINE\\Software\\Velmora\\Startup]\n\n"
       "[HKEY_LOCAL_MACHINE\\Software\\Velmora\\Startup\\Applications]\n\"Gears\"=\"Gears\"\n\n"},
      {{software, "--machine"},
       "HKEY_LOCAL_MACHINE\\Software\\Velmora",
       "[HKEY_LOCAL_MACHINE\\Software\\Velmora]\n\n"
       "[HKEY_LOCAL_MACHINE\\Software\\Velmora\\General]\n\"Units\"=\"mm\"\n\n"},
      {{software, "--key", "Microsoft", "--machine"},
       "HKEY_LOCAL_MACHINE\\Software\\Microsoft",
       "[HKEY_LOCAL_MACHINE\\Software\\Microsoft]\n\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.into);
    const std::string store = dir_.file("store" + std::to_string(&c - cases));
    std::filesystem::create_directory(store);
    const test::ScopedHives fresh(store);
    seed();
    std::vector<std::string> args = {"reg", "import-hive"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const std::string output = ok(args);
    EXPECT_HAS(output, " into " + c.into + ")\n");
    EXPECT_EQ(exported(c.into), "REGEDIT4\n\n" + c.expect);
    if (c.into.rfind("HKEY_LOCAL_MACHINE", 0) == 0) { // the user's product key is left alone
      EXPECT_EQ(exported("HKCU\\Software\\Velmora"),
                "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Velmora]\n\n"
                "[HKEY_CURRENT_USER\\Software\\Velmora\\General]\n\"Keep\"=dword:00000001\n\n");
    }
  }
}

TEST_F(HiveImport, RefusedFilesChangeNothing) {
  const std::string good = readFile(hive("good.dat", userHive()));
  auto patched = [&good](const std::function<void(std::string &)> &patch) {
    std::string bytes = good;
    patch(bytes);
    return bytes;
  };
  // Every occurrence of a cell signature, so that a walk meets the damage whatever its order.
  auto spoil = [](const std::string &signature) {
    return [signature](std::string &bytes) {
      for (size_t at = bytes.find(signature, 4096); at != std::string::npos;
           at = bytes.find(signature, at + 1))
        bytes[at] ^= 0x20;
    };
  };
  std::vector<HiveKey> longName = userHive();
  longName[1].values.push_back({std::string(16384, 'n'), kDword, "\0\0\0\0"s});
  std::vector<HiveKey> badText = userHive();
  badText[1].values.push_back({"Bad", kSz, "\x00\xd8\x41\x00"s}); // a lone high surrogate
  std::vector<HiveKey> oddText = userHive();
  oddText[2].values.push_back({"Odd", kExpandSz, "\x41\x00\x42"s});

  // A subkey list that points back at the product key: the walk would never end.
  std::string loop = readFile(hive("loop.dat", {{"Software\\Velmora\\Loop\\Leaf", {}}}));
  // Where the key of that name lies, as cells point at each other: counted from the first bin,
  // little-endian. A key's name follows its cell's 0x50 bytes of header.
  auto cellOf = [&loop](const std::string &name) {
    const auto at = static_cast<uint32_t>(loop.find(name, 4096) - 0x50 - 4096);
    std::string bytes;
    for (int i = 0; i < 4; ++i)
      bytes += static_cast<char>(at >> (8 * i) & 0xFF);
    return bytes;
  };
  loop.replace(loop.find(cellOf("Leaf"), 4096), 4, cellOf("Velmora"));

  struct Case {
    std::string name;
    std::string bytes;
    std::vector<std::string> extra;
    std::string message;
    int status = 1;
  };
  const Case cases[] = {
      {"cut in the bins", good.substr(0, good.size() - 4096), {}, "the file is cut short"},
      {"cut in the base block", good.substr(0, 300), {}, "is not a Windows registry hive file"},
      {"text", "REGEDIT4\n\n" + std::string(8192, ';'), {}, "is not a Windows registry hive file"},
      {"header bit flipped",
       patched([](std::string &b) { b[0x24] ^= 0x10; }),
       {},
       "its header's checksum is wrong"},
      {"bin signature flipped",
       patched(spoil("hbin")),
       {},
       "cannot read the hive: the file is damaged"},
      {"subkey lists flipped",
       patched(spoil("lh")),
       {},
       "cannot read the subkeys of the root: the file is damaged"},
      {"value cells flipped",
       patched(spoil("vk")),
       {},
       "cannot read a value name of Software\\Velmora: the file is damaged"},
      {"loop", loop, {}, "the file is damaged (key Software\\Velmora\\Loop\\Velmora appears twice"},
      {"no product key",
       readFile(hive("other.dat", {{"Software\\Other", {}}})),
       {},
       "the hive has no key Software\\Velmora (name the key to import with --key)"},
      {"no such key",
       good,
       {"--key", "Software\\Velmora\\Nope"},
       "the hive has no key Software\\Velmora\\Nope"},
      {"bad key", good, {"--key", "Software\\\\Velmora"}, "bad key 'Software\\\\Velmora'", 2},
      {"empty key", good, {"--key", ""}, "bad key ''", 2},
      {"value name too long",
       readFile(hive("long.dat", longName)),
       {},
       "HKEY_CURRENT_USER\\Software\\Velmora\\General: value name longer than 16,383 characters "
       "(nothing imported)"},
      {"lone surrogate",
       readFile(hive("bad.dat", badText)),
       {},
       "value 'Bad' of Software\\Velmora\\General is not UTF-16 text"},
      {"odd byte count",
       readFile(hive("odd.dat", oddText)),
       {},
       "value 'Odd' of Software\\Velmora\\Startup\\Applications is not UTF-16 text"},
  };
  seed();
  const std::string before = exported("HKCU\\Software");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"reg", "import-hive", write("case.dat", c.bytes)};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    fails(args, c.message, c.status);
    EXPECT_EQ(exported("HKCU\\Software"), before);
  }
  fails({"reg", "import-hive", dir_.file("missing.dat")}, "No such file or directory");
  fails({"reg", "import-hive", dir_.path()}, "not a regular file");
}

// Names the store could not keep as they are, or its export could not write, refuse the file:
// hivex hands names over as C text, so two names that differ only after a zero byte would merge.
TEST_F(HiveImport, NamesTheStoreCannotKeepAreRefused) {
  // Names are Latin-1 bytes in the file: the marker '~' becomes the zero byte.
  auto zeroed = [this](const std::string &name, const std::vector<HiveKey> &keys,
                       const std::string &marked) {
    std::string bytes = readFile(hive(name, keys));
    for (size_t at = bytes.find(marked, 4096); at != std::string::npos;
         at = bytes.find(marked, at + 1))
      bytes[at + marked.find('~')] = '\0';
    return bytes;
  };
  // hivex writes no value that large: the length a value's cell declares is raised instead.
  std::string big =
      readFile(hive("big.dat", {{"Software\\Velmora", {{"Big", kBinary, std::string(20, 'b')}}}}));
  for (size_t at = big.find("vk", 4096); at != std::string::npos; at = big.find("vk", at + 1))
    if (big.compare(at + 0x14, 3, "Big") == 0)
      big.replace(at + 4, 4, "\x01\x12\x7a\x00"s); // 8,000,001 little-endian
  struct Case {
    std::string name;
    std::string bytes;
    std::string message;
  };
  const Case cases[] = {
      {"keys cut alike",
       zeroed("keys.dat",
              {{"Software\\Velmora\\A~B", {{"First", kDword, "\x01\0\0\0"s}}},
               {"Software\\Velmora\\A~C", {{"Second", kDword, "\x02\0\0\0"s}}}},
              "A~"),
       "key Software\\Velmora\\A...: its name goes on past a zero byte"},
      {"value cut",
       zeroed("values.dat", {{"Software\\Velmora", {{"V~W", kDword, "\x01\0\0\0"s}}}}, "V~W"),
       "value 'V...' of Software\\Velmora: its name goes on past a zero byte"},
      {"line break in a key name",
       readFile(hive("line.dat", {{"Software\\Velmora\\Two\nLines", {}}})),
       "key Software\\Velmora\\Two"},
      {"carriage return in a value name",
       readFile(hive("cr.dat", {{"Software\\Velmora", {{"Ret\rurn", kDword, "\0\0\0\0"s}}}})),
       "value of Software\\Velmora: name"},
      {"value beyond what hivex reads", big,
       "value 'Big' of Software\\Velmora holds 8,000,001 bytes, more than the 8,000,000 that "
       "libhivex reads"},
  };
  seed();
  const std::string before = exported("HKCU\\Software");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const RunResult r = fails({"reg", "import-hive", write("case.dat", c.bytes)}, c.message);
    if (c.name.find("line") != std::string::npos || c.name.find("return") != std::string::npos) {
      EXPECT_HAS(r.output, "holds a line break or zero byte");
    }
    EXPECT_EQ(exported("HKCU\\Software"), before);
  }
  // Outside the key imported, such a name is no concern.
  const std::string beside =
      zeroed("beside.dat", {{"Software\\Velmora", {}}, {"Software\\O~ther", {}}}, "O~");
  const std::string output = ok({"reg", "import-hive", write("beside.dat", beside)});
  EXPECT_EQ(output.rfind("import: ", 0), 0u) << output;
  EXPECT_HAS(output, "(1 entry of ");
}

// The file read is the one whose header was checked, whatever is put under its name meanwhile (a
// FIFO there left hivex waiting for ever).
TEST_F(HiveImport, WhatIsReadIsWhatWasChecked) {
  const std::string file = hive("NTUSER.DAT", {{"Software\\Velmora\\Checked", {}}});
  hive("other.dat", {{"Software\\Velmora\\Swapped", {}}});
  hiveChecked = [](const std::string &name) {
    std::filesystem::rename(std::filesystem::path(name).parent_path() / "other.dat", name);
  };
  HiveRead read;
  try {
    read = readWindowsHive(file, std::nullopt, reg::Root::CurrentUser);
  } catch (const Failure &f) {
    ADD_FAILURE() << f.what();
  }
  hiveChecked = nullptr;
  ASSERT_EQ(read.operations.size(), 2u);
  EXPECT_EQ(read.operations[1].key.subKey, "Software\\Velmora\\Checked");
}

TEST_F(HiveImport, EntriesAreCountedOnATerminalOnly) {
  const std::string file = hive("NTUSER.DAT", userHive());
  for (bool terminal : {false, true}) {
    SCOPED_TRACE(terminal);
    BarPolicy policy(terminal);
    std::ostringstream out, err;
    regImportHive(out, err, file, std::nullopt, false);
    EXPECT_HAS(out.str(), "(18 entries of ");
    if (!terminal) {
      EXPECT_EQ(err.str(), "");
      continue;
    }
    // Both passes, each counted to its end, and the bar cleared.
    EXPECT_EQ(err.str().rfind(BarPolicy::drawn("checking", 5, "1 of 18 entries"), 0), 0u)
        << err.str();
    const std::string end = BarPolicy::drawn("importing", 100, "18 of 18 entries") + "\r\x1b[K";
    EXPECT_EQ(err.str().substr(err.str().size() - std::min(err.str().size(), end.size())), end);
    EXPECT_HAS(err.str(), BarPolicy::drawn("checking", 100, "18 of 18 entries"));
  }
}

TEST_F(HiveImport, FileNotClosedCleanlyIsImportedWithAWarning) {
  std::string bytes = readFile(hive("NTUSER.DAT", userHive()));
  // A later primary sequence number than the secondary one: written, not yet flushed.
  bytes[0x04] ^= 0x01;
  bytes[0x1FC] ^= 0x01; // the checksum follows
  const std::string file = write("dirty.dat", bytes);
  const RunResult r = vlx({"reg", "import-hive", file});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_HAS(r.output, "vlx: warning: " + file + " was not closed cleanly");
  EXPECT_HAS(r.output, "(18 entries of ");
}

} // namespace
} // namespace vlx::cli

#else

namespace vlx::cli {
namespace {

TEST_F(VlxTest, HiveImportWithoutHivexSaysWhatIsMissing) {
  fails({"reg", "import-hive", write("NTUSER.DAT", "")}, "install libhivex-dev");
}

} // namespace
} // namespace vlx::cli

#endif
