// vlx never writes through a link another user planted in a shared folder.
#include "support/expect_text.h"
#include "vlx_fixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace vlx::cli {
namespace {

namespace fs = std::filesystem;

using FileWriteTest = VlxTest;

// As root, links owned by `nobody` in a sticky folder everyone may write, as /tmp is: each write
// that would go through one is refused, and root's own link there is still followed.
TEST_F(FileWriteTest, AnotherUsersLinkInASharedFolderIsNotFollowed) {
  if (geteuid() != 0)
    GTEST_SKIP() << "a link of another user's needs root to make (CI runs as root)";
  ok({"pref", "set", "General", "Units", "mm"});
  const std::string victim = write("victim", "root's"), shared = dir_.file("shared");
  fs::create_directory(shared);
  fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
  auto plant = [&](const std::string &name, const std::string &target) {
    fs::create_symlink(target, shared + "/" + name);
    ASSERT_EQ(lchown((shared + "/" + name).c_str(), 65534, 65534), 0);
  };
  plant("prefs.reg", victim);
  plant("backup.db", victim);
  plant("folder", dir_.path());
  fs::create_symlink("shared/prefs.reg", dir_.file("chain.reg")); // root's, to the planted one

  const std::string refused = " is a link another user owns in a folder everyone may write";
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{"reg", "export", "-o", shared + "/prefs.reg"},
        {"reg", "backup", shared + "/backup.db"},
        {"reg", "export", "-o", shared + "/folder/victim"},
        {"reg", "export", "-o", dir_.file("chain.reg")}}) {
    SCOPED_TRACE(args.back());
    fails(args, refused);
  }
  EXPECT_EQ(readFile(victim), "root's");
  EXPECT_TRUE(fs::is_symlink(shared + "/prefs.reg"));
  EXPECT_EQ(test::entries(shared), (std::set<std::string>{"prefs.reg", "backup.db", "folder"}));

  fs::create_symlink(victim, shared + "/mine.reg");
  ok({"reg", "export", "-o", shared + "/mine.reg"});
  EXPECT_HAS(readFile(victim), "\"Units\"=\"mm\"");
}

} // namespace
} // namespace vlx::cli
