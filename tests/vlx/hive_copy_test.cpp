// The user hive's file after vlx runs: a plain copy holds everything, a copy put back stays put
// back; `reg backup` and `reg restore`.
#include "support/expect_text.h"
#include "vlx_fixture.h"

#include <velmora/hive.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Names in `dir` other than `kept`: what a failed backup left behind.
std::vector<std::string> strays(const std::string &dir, const std::string &kept) {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(dir))
    if (entry.path().filename() != kept)
      names.push_back(entry.path().filename().string());
  return names;
}

TEST_F(HiveCopyTest, BackupReplacesOnlyARegularFileOrWhatALinkNames) {
  ok({"reg", "import", write("a.reg", regText("v", 1, "kept"))});
  const std::string fifo = dir_.file("fifo"), folder = dir_.file("folder");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::create_directory(folder);
  fails({"reg", "backup", fifo}, fifo + " is not a regular file");
  EXPECT_TRUE(fs::is_fifo(fifo));
  fails({"reg", "backup", folder}, "is not a regular file");
  EXPECT_TRUE(fs::is_directory(folder));
  // A link at FILE is followed as -o follows it: the file it names is replaced, the link kept.
  const std::string target = write("target.db", "old"), link = dir_.file("link.db");
  fs::create_symlink(target, link);
  ok({"reg", "backup", link});
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_NE(readFile(target), "old");
  ok({"reg", "restore", target});
  const std::string loop = dir_.file("loop.db");
  fs::create_symlink(loop, loop);
  fails({"reg", "backup", loop}, "loop.db: ");
}

TEST_F(HiveCopyTest, BackupOntoAFullDiskLeavesNothing) {
  const std::string small = dir_.file("small");
  fs::create_directory(small);
  if (geteuid() != 0 || mount("tmpfs", small.c_str(), "tmpfs", 0, "size=48k") != 0)
    GTEST_SKIP() << "mounting a small disk needs root (CI runs as root)";
  struct Unmount {
    std::string path;
    ~Unmount() { umount(path.c_str()); }
  } unmount{small};
  ok({"reg", "import", write("a.reg", regText("v", 1, "kept"))});
  // Room for a part of the copy and its log, not for all of it, at several sizes.
  for (size_t fill : {24u << 10, 16u << 10, 12u << 10}) {
    write("small/fill", std::string(fill, 'x'));
    fails({"reg", "backup", small + "/out.db"}, "out.db: ");
    EXPECT_EQ(strays(small, "fill"), std::vector<std::string>{}) << fill;
  }
}

// SQLite opens files by full paths of at most 504 bytes (512 with its journal's suffix): a longer
// FILE fails saying so, as does one that fits only until the backup's temporary suffix is added,
// and leaves nothing behind.
TEST_F(HiveCopyTest, PathTooLongForTheStoreFailsSayingSo) {
  ok({"reg", "import", write("a.reg", regText("v", 1, "kept"))});
  const std::string saved = dir_.file("saved.db");
  ok({"reg", "backup", saved});
  const std::string deep = dir_.file(std::string(200, 'd') + "/" + std::string(200, 'e'));
  fs::create_directories(deep);
  auto pathOf = [&](size_t length) {
    std::string path = deep + "/";
    return path + std::string(length - path.size() - 3, 'f') + ".db";
  };
  const std::string far = deep + "/" + std::string(200, 'f') + ".db";
  fails({"reg", "backup", far}, far + ": the path is too long for the store");
  fails({"reg", "backup", pathOf(493)}, "under a name 12 bytes longer");
  EXPECT_EQ(strays(deep, ""), std::vector<std::string>{});
  for (const std::string &copy : {far, pathOf(505), pathOf(504)})
    fs::copy_file(saved, copy);
  fails({"reg", "restore", far}, "at most 504 bytes");
  fails({"reg", "restore", pathOf(505)}, "too long for the store");
  ok({"reg", "restore", pathOf(504)});
  ok({"reg", "backup", pathOf(492)});
  EXPECT_EQ(countOf(ok({"reg", "export"}), "\"kept\""), 1u);
}

// Flips the last byte of the first entry in the root page of `index` in the hive file `file`: the
// row it names, so the file still opens and only a full check finds the index wrong.
void damageIndex(const std::string &file, const std::string &index) {
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt *s = nullptr;
  const std::string query = "SELECT rootpage, (SELECT page_size FROM pragma_page_size) FROM "
                            "sqlite_master WHERE name = '" +
                            index + "'";
  ASSERT_EQ(sqlite3_prepare_v2(db, query.c_str(), -1, &s, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
  const auto root = static_cast<size_t>(sqlite3_column_int(s, 0));
  const auto pageSize = static_cast<size_t>(sqlite3_column_int(s, 1));
  sqlite3_finalize(s);
  sqlite3_close(db);
  std::string bytes = readFile(file);
  const size_t page = (root - 1) * pageSize, header = page + (root == 1 ? 100 : 0);
  auto byte = [&](size_t at) { return static_cast<unsigned char>(bytes[at]); };
  ASSERT_TRUE(byte(header) == 0x0a || byte(header) == 0x02) << "not an index page";
  const bool leaf = byte(header) == 0x0a;
  const size_t pointers = header + (leaf ? 8 : 12);
  size_t cell = page + (byte(pointers) << 8 | byte(pointers + 1)) + (leaf ? 0 : 4);
  size_t payload = 0;
  for (int i = 0; i < 9; ++i) {
    payload = payload << 7 | (byte(cell) & 0x7f);
    if (!(byte(cell++) & 0x80))
      break;
  }
  bytes[cell + payload - 1] ^= 0x01;
  test::writeFile(file, bytes);
}

// A backup with one byte of an index flipped is refused whole, and the hive stays as it was.
TEST_F(HiveCopyTest, RestoreRefusesADamagedBackup) {
  const std::string saved = dir_.file("saved.db");
  ok({"reg", "import", write("a.reg", regText("v", 3, "first"))});
  ok({"reg", "backup", saved});
  ok({"reg", "import", write("b.reg", regText("v", 3, "second"))});
  damageIndex(saved, "keys_by_name");
  fails({"reg", "restore", saved}, saved + ": damaged: ");
  const std::string out = ok({"reg", "export", "HKEY_CURRENT_USER\\Software\\Velmora\\Copy"});
  EXPECT_EQ(countOf(out, "\"second\""), 3u) << out;
  EXPECT_LACKS(ok({"reg", "check"}), "DAMAGED");
}

} // namespace
} // namespace vlx::cli
