// What a server library must be before it is loaded: a path no other user can change, checked
// entry by entry, and an ELF file whose symbol table names DllGetClassObject, read without
// loading it, damaged or not.
#include "platform/posix/files/trusted_path.h"
#include "platform/posix/ole/elf_symbols.h"
#include "support/expect_text.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vlx::posix;
using vlx::test::TempDir;

namespace {

constexpr uid_t kNobody = 65534;

void makeFile(const std::string &path, mode_t mode) {
  std::ofstream(path) << "x";
  ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

TrustedFile opened(const std::string &path) {
  TrustedFile file = openTrustedFile(path, geteuid());
  if (file.fd >= 0)
    close(file.fd);
  return file;
}

struct TrustCase {
  const char *name;
  std::function<std::string(const std::string &dir)> layout; // returns the path to check
  Trust trust;
  const char *why; // a part of the reason
  bool rootOnly = false;
};
// Printed by its name: the bytes gtest would print change with every build, and so would the
// test's name in ctest.
[[maybe_unused]] void PrintTo(const TrustCase &c, std::ostream *out) { *out << c.name; }

class TrustedPath : public ::testing::TestWithParam<TrustCase> {};

TEST_P(TrustedPath, OnlyEntriesOfThisUserOrRootPass) {
  const TrustCase &c = GetParam();
  if (c.rootOnly && geteuid() != 0)
    GTEST_SKIP() << "giving a file to another user needs root";
  TempDir dir;
  const std::string path = c.layout(dir.path());
  const TrustedFile file = opened(path);
  EXPECT_EQ(file.trust, c.trust) << file.why;
  EXPECT_HAS(file.why, c.why);
}

std::string libIn(const std::string &dir, mode_t dirMode, mode_t fileMode) {
  const std::string sub = dir + "/lib";
  mkdir(sub.c_str(), 0755);
  chmod(sub.c_str(), dirMode);
  makeFile(sub + "/server.so", fileMode);
  return sub + "/server.so";
}

const TrustCase kTrustCases[] = {
    {"private", [](auto &d) { return libIn(d, 0755, 0644); }, Trust::Trusted, ""},
    {"sticky_shared_directory", [](auto &d) { return libIn(d, 01777, 0644); }, Trust::Trusted, ""},
    {"world_writable_file", [](auto &d) { return libIn(d, 0755, 0666); }, Trust::Refused,
     "/lib/server.so is writable by group and others"},
    {"group_writable_file", [](auto &d) { return libIn(d, 0755, 0664); }, Trust::Refused,
     "is writable by its group"},
    {"world_writable_directory", [](auto &d) { return libIn(d, 0777, 0644); }, Trust::Refused,
     "/lib is writable by group and others"},
    {"relative", [](auto &) { return std::string("lib/server.so"); }, Trust::Refused,
     "lib/server.so is not an absolute path"},
    {"missing", [](auto &d) { return d + "/none.so"; }, Trust::Missing, "No such file"},
    {"fifo",
     [](auto &d) {
       mkfifo((d + "/pipe").c_str(), 0600);
       return d + "/pipe";
     },
     Trust::Missing, "not a regular file"},
    {"file_as_directory", [](auto &d) { return libIn(d, 0755, 0644) + "/x"; }, Trust::Missing,
     "Not a directory"},
    // A link is followed, and what it leads to is checked as well as where it lies.
    {"link_into_shared_directory",
     [](auto &d) {
       const std::string target = libIn(d, 0777, 0644);
       EXPECT_EQ(symlink(target.c_str(), (d + "/link.so").c_str()), 0);
       return d + "/link.so";
     },
     Trust::Refused, "/lib is writable by group and others"},
    {"relative_link_dots_and_slashes",
     [](auto &d) {
       libIn(d, 0755, 0644);
       mkdir((d + "/other").c_str(), 0755);
       EXPECT_EQ(symlink("../lib/./server.so", (d + "/other/link.so").c_str()), 0);
       return d + "//other/./link.so";
     },
     Trust::Trusted, ""},
    {"owned_by_nobody",
     [](auto &d) {
       const std::string file = libIn(d, 0755, 0644);
       EXPECT_EQ(chown(file.c_str(), kNobody, kNobody), 0);
       return file;
     },
     Trust::Refused, "/lib/server.so belongs to user 65534", true},
    {"directory_owned_by_nobody",
     [](auto &d) {
       const std::string file = libIn(d, 0755, 0644);
       EXPECT_EQ(chown((d + "/lib").c_str(), kNobody, kNobody), 0);
       return file;
     },
     Trust::Refused, "/lib belongs to user 65534", true},
    // In a sticky directory the owner of a link may still replace it.
    {"link_of_nobody_in_sticky_directory",
     [](auto &d) {
       const std::string file = libIn(d, 0755, 0644);
       const std::string link = d + "/lib/link.so";
       EXPECT_EQ(symlink(file.c_str(), link.c_str()), 0);
       chmod((d + "/lib").c_str(), 01777);
       EXPECT_EQ(lchown(link.c_str(), kNobody, kNobody), 0);
       return link;
     },
     Trust::Refused, "/lib/link.so belongs to user 65534", true},
};

INSTANTIATE_TEST_SUITE_P(Layouts, TrustedPath, ::testing::ValuesIn(kTrustCases),
                         [](const ::testing::TestParamInfo<TrustCase> &c) {
                           return std::string(c.param.name);
                         });

TEST(TrustedPathResolve, NamesTheFileWithEveryLinkFollowed) {
  TempDir dir;
  const std::string file = libIn(dir.path(), 0755, 0644);
  mkdir((dir.path() + "/other").c_str(), 0755);
  EXPECT_EQ(symlink("../lib/server.so", (dir.path() + "/other/link.so").c_str()), 0);
  char real[PATH_MAX];
  ASSERT_NE(realpath(file.c_str(), real), nullptr);
  EXPECT_EQ(opened(dir.path() + "/other/../other/link.so").resolved, real);
  EXPECT_EQ(symlink("loop", (dir.path() + "/loop").c_str()), 0);
  EXPECT_EQ(opened(dir.path() + "/loop").trust, Trust::Missing);
}

// The scratch directories' check is the same rule.
TEST(TrustedPathResolve, DirectoryRiskIsTheScratchRule) {
  struct stat st {};
  st.st_uid = 0;
  for (mode_t mode : {0755, 01777, 0700}) {
    st.st_mode = S_IFDIR | mode;
    EXPECT_TRUE(keepsEntriesToTheirOwners(st, 1000)) << mode;
  }
  for (mode_t mode : {0775, 0757, 0777}) {
    st.st_mode = S_IFDIR | mode;
    EXPECT_FALSE(keepsEntriesToTheirOwners(st, 1000)) << mode;
  }
  st.st_mode = S_IFDIR | 0755;
  st.st_uid = kNobody;
  EXPECT_FALSE(keepsEntriesToTheirOwners(st, 1000));
  EXPECT_TRUE(keepsEntriesToTheirOwners(st, kNobody));
}

// ---- the ELF reader

std::string readAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The math library this program runs with: a real shared library with both ways to its symbols.
std::string mathLibrary() {
  Dl_info info{};
  double (*cosine)(double) = std::cos;
  if (dladdr(reinterpret_cast<void *>(cosine), &info) == 0 || info.dli_fname == nullptr)
    return "";
  return readAll(info.dli_fname);
}

ElfExport lookUp(const std::string &image, const char *name) {
  std::string why;
  const ElfExport result = elfExports(std::string_view(image), name, why);
  if (result == ElfExport::Unreadable) {
    EXPECT_FALSE(why.empty());
  }
  return result;
}

TEST(ElfSymbols, FindsDefinitionsNotReferences) {
  const std::string libm = mathLibrary();
  ASSERT_FALSE(libm.empty());
  // Through the section headers, and through the dynamic segment's hash table when a file has
  // none.
  std::string noSections = libm;
  ElfW(Ehdr) header;
  std::memcpy(&header, noSections.data(), sizeof header);
  header.e_shoff = 0;
  header.e_shnum = 0;
  std::memcpy(noSections.data(), &header, sizeof header);
  for (const std::string *image : {&libm, static_cast<const std::string *>(&noSections)}) {
    SCOPED_TRACE(image == &libm ? "sections" : "dynamic segment");
    EXPECT_EQ(lookUp(*image, "cos"), ElfExport::Found);
    EXPECT_EQ(lookUp(*image, "sqrt"), ElfExport::Found);
    EXPECT_EQ(lookUp(*image, "DllGetClassObject"), ElfExport::Absent);
    EXPECT_EQ(lookUp(*image, "co"), ElfExport::Absent) << "a prefix of a name";
    // Used by the library, defined elsewhere.
    EXPECT_EQ(lookUp(*image, "__cxa_finalize"), ElfExport::Absent);
  }
}

TEST(ElfSymbols, DamagedFilesAreAnsweredNotFollowed) {
  const std::string libm = mathLibrary();
  ASSERT_FALSE(libm.empty());
  std::string why;
  EXPECT_EQ(elfExports(std::string_view("#!/bin/sh\n"), "cos", why), ElfExport::Unreadable);
  EXPECT_EQ(why, "it is not an ELF file");
  std::string otherClass = libm;
  otherClass[EI_CLASS] = otherClass[EI_CLASS] == ELFCLASS64 ? ELFCLASS32 : ELFCLASS64;
  EXPECT_EQ(lookUp(otherClass, "cos"), ElfExport::Unreadable);
  // Every cut and a spread of flipped bytes: an answer each time, read within the bytes given
  // (the sanitizer build checks that).
  for (size_t size = 0; size < libm.size(); size += 1 + size / 3)
    lookUp(libm.substr(0, size), "cos");
  for (size_t at = 0; at < libm.size(); at += 1 + at / 2) {
    for (unsigned char flip : {0x01, 0x80, 0xFF}) {
      std::string damaged = libm;
      damaged[at] = static_cast<char>(damaged[at] ^ flip);
      lookUp(damaged, "cos");
    }
  }
}

TEST(ElfSymbols, ReadsAnOpenFile) {
  TempDir dir;
  const std::string path = dir.file("libm.so");
  std::ofstream(path, std::ios::binary) << mathLibrary();
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::string why;
  EXPECT_EQ(elfExports(fd, "cos", why), ElfExport::Found) << why;
  EXPECT_EQ(elfExports(fd, "DllGetClassObject", why), ElfExport::Absent) << why;
  ASSERT_EQ(ftruncate(fd, 200), 0);
  EXPECT_EQ(elfExports(fd, "cos", why), ElfExport::Unreadable);
  close(fd);
}

} // namespace
