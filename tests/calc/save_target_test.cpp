// Where a save lands: through links to the workbook they name, relative ones from their own
// directory; a broken or looping chain leaves the name as given, where the save then fails.
#include "save_target.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace vlx::calc {
namespace {

namespace fs = std::filesystem;

TEST(SaveTarget, LinksAreFollowedToTheWorkbook) {
  test::TempDir dir;
  fs::create_directories(dir.file("real"));
  std::ofstream(dir.file("real/book.xlsx")) << "x";
  fs::create_symlink("real/book.xlsx", dir.file("rel.xlsx"));
  fs::create_symlink(dir.file("rel.xlsx"), dir.file("abs.xlsx"));
  EXPECT_EQ(saveTarget(dir.file("rel.xlsx")), dir.file("real/book.xlsx"));
  EXPECT_EQ(saveTarget(dir.file("abs.xlsx")), dir.file("real/book.xlsx"));
  EXPECT_EQ(saveTarget(dir.file("real/book.xlsx")), dir.file("real/book.xlsx"));

  fs::create_symlink("missing.xlsx", dir.file("broken.xlsx"));
  fs::create_symlink("loop2.xlsx", dir.file("loop1.xlsx"));
  fs::create_symlink("loop1.xlsx", dir.file("loop2.xlsx"));
  EXPECT_EQ(saveTarget(dir.file("broken.xlsx")), dir.file("broken.xlsx"));
  EXPECT_EQ(saveTarget(dir.file("loop1.xlsx")), dir.file("loop1.xlsx"));
  EXPECT_EQ(saveTarget(dir.file("none.xlsx")), dir.file("none.xlsx"));
}

// In a sticky folder everyone may write, another user's link is replaced by the save, so that a
// link planted there cannot send a root's save onto a file of root's.
TEST(SaveTarget, AnotherUsersLinkInASharedFolderIsNotFollowed) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "a link of another user's needs root to make (CI runs as root)";
  test::TempDir dir;
  std::ofstream(dir.file("victim.xlsx")) << "x";
  fs::create_directories(dir.file("shared"));
  fs::permissions(dir.file("shared"), fs::perms::all | fs::perms::sticky_bit);
  const std::string planted = dir.file("shared/book.xlsx"), own = dir.file("shared/own.xlsx");
  fs::create_symlink(dir.file("victim.xlsx"), planted);
  fs::create_symlink(dir.file("victim.xlsx"), own);
  ASSERT_EQ(::lchown(planted.c_str(), 65534, 65534), 0);
  EXPECT_EQ(saveTarget(planted), planted);
  EXPECT_EQ(saveTarget(own), dir.file("victim.xlsx"));
}

} // namespace
} // namespace vlx::calc
