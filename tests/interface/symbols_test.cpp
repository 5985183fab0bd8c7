// The shared library as a host sees it: exactly the listed symbols exported, and loading it
// joins the framework's module chain.
#include <velmora/afx.h>
#include <velmora/registry.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

// The list is the ELF symbol table of an LP64 build: on Windows the system exports the Win32 names
// and the C++ names of size_t parameters mangle otherwise.
#ifndef _WIN32
std::set<std::string> exportedSymbols() {
  std::set<std::string> symbols;
  std::string command = std::string("nm -D --defined-only ") + VLX_LIBRARY_FILE;
  FILE *pipe = popen(command.c_str(), "r");
  if (!pipe)
    return symbols;
  // Each defined symbol is a line of address, type and name.
  char name[4096];
  while (std::fscanf(pipe, "%*s %*s %4095s", name) == 1)
    symbols.insert(name);
  pclose(pipe);
  return symbols;
}

std::set<std::string> listedSymbols() {
  std::set<std::string> symbols;
  std::ifstream list(VLX_SYMBOL_LIST);
  std::string name;
  while (std::getline(list, name))
    if (!name.empty() && name[0] != '#')
      symbols.insert(name);
  return symbols;
}

// The names of `a` that `b` lacks.
std::vector<std::string> only(const std::set<std::string> &a, const std::set<std::string> &b) {
  std::vector<std::string> out;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

TEST(Interface, ExportsExactlyTheListedSymbols) {
  auto exported = exportedSymbols();
  auto listed = listedSymbols();
  ASSERT_FALSE(exported.empty()) << "nm gave nothing for " << VLX_LIBRARY_FILE;
  EXPECT_EQ(only(exported, listed), std::vector<std::string>{}) << "exported but not listed";
  EXPECT_EQ(only(listed, exported), std::vector<std::string>{}) << "listed but not exported";
}
#endif

TEST(Interface, LoadingJoinedTheModuleChain) {
  HMODULE library = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                 reinterpret_cast<LPCSTR>(&regGetUserValue), &library));
  bool found = false;
  for (CDynLinkLibrary *dll = AfxGetModuleState()->m_libraryList; dll; dll = dll->m_pNextDLL)
    found = found || dll->m_hModule == library;
  EXPECT_TRUE(found);
}

} // namespace
