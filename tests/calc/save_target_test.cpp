// Where a save lands: through links to the workbook they name, relative ones from their own
// directory; a broken or looping chain leaves the name as given, where the save then fails.
#include "save_target.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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

} // namespace
} // namespace vlx::calc
