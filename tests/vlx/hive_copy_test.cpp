// The user hive's file after vlx runs: a plain copy holds everything, a copy put back stays put
// back; `reg backup` and `reg restore`.
#include "vlx_fixture.h"

#include <velmora/hive.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace vlx::cli {
namespace {

namespace fs = std::filesystem;

using HiveCopyTest = VlxTest;

// A .reg file setting `count` values named prefix0.. in Software\Velmora\Copy.
std::string regText(const std::string &prefix, int count, const std::string &data) {
  std::string text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Velmora\\Copy]\n";
  for (int i = 0; i < count; ++i)
    text += "\"" + prefix + std::to_string(i) + "\"=\"" + data + "\"\n";
  return text;
}

size_t countOf(const std::string &text, const std::string &part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++n;
  return n;
}

TEST_F(HiveCopyTest, AFileCopiedAndPutBackWithCpKeepsWhatItHeld) {
  const std::string hive = hivePath(Hive::User), saved = dir_.file("saved.db");
  ok({"reg", "import", write("a.reg", regText("kept", 40, "restored"))});
  fs::copy_file(hive, saved);
  ok({"reg", "import", write("b.reg", regText("kept", 40, "changed") + "\"later\"=\"x\"\n")});
  fs::copy_file(saved, hive, fs::copy_options::overwrite_existing);
  ok({"reg", "import", write("c.reg", regText("after", 1, "y"))});

  std::string out = ok({"reg", "export", "HKEY_CURRENT_USER\\Software\\Velmora\\Copy"});
  EXPECT_EQ(countOf(out, "=\"restored\""), 40u) << out;
  EXPECT_EQ(countOf(out, "changed"), 0u) << out;
  EXPECT_EQ(countOf(out, "\"later\""), 0u) << out;
  EXPECT_EQ(countOf(out, "\"after0\"=\"y\""), 1u) << out;
}

TEST_F(HiveCopyTest, BackupAndRestore) {
  const std::string saved = dir_.file("saved.db");
  fails({"reg", "backup", saved}, "does not exist yet");
  ok({"reg", "import", write("a.reg", regText("v", 3, "first"))});
  EXPECT_EQ(ok({"reg", "backup", saved}),
            "backed up the HKEY_CURRENT_USER hive to " + saved + "\n");
  ok({"reg", "import", write("b.reg", regText("v", 3, "second"))});
  EXPECT_EQ(ok({"reg", "restore", saved}),
            "restored the HKEY_CURRENT_USER hive from " + saved + "\n");
  std::string out = ok({"reg", "export", "HKEY_CURRENT_USER\\Software\\Velmora\\Copy"});
  EXPECT_EQ(countOf(out, "\"first\""), 3u) << out;

  // The machine's hive is a hive of its own; one hive at a time.
  fails({"reg", "backup", "--machine", dir_.file("m.db")}, "machine.db does not exist yet");
  fails({"reg", "restore", "--machine", "--default-user", saved}, "excludes", 2);
}

TEST_F(HiveCopyTest, RestoreRefusesWhatIsNotAHive) {
  ok({"reg", "import", write("a.reg", regText("v", 1, "kept"))});
  fails({"reg", "restore", write("text.db", "line\n\x1b[31m")}, "not a registry hive");
  fails({"reg", "restore", dir_.file("none.db")}, "no such file");
  fails({"reg", "restore", dir_.path()}, "is a directory");
  EXPECT_EQ(countOf(ok({"reg", "export"}), "\"kept\""), 1u);
}

} // namespace
} // namespace vlx::cli
