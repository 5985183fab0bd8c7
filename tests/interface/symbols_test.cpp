// The shared library as a host sees it: exactly the listed symbols exported, and loading it
// joins the framework's module chain.
#include <velmora/afx.h>
#include <velmora/registry.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

std::set<std::string> exportedSymbols() {
  std::set<std::string> symbols;
  std::string command = std::string("nm -D --defined-only ") + VLX_LIBRARY_FILE;
  FILE *pipe = popen(command.c_str(), "r");
  if (!pipe)
    return symbols;
  char line[4096];
  while (fgets(line, sizeof line, pipe)) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (fields >> address >> type >> name)
      symbols.insert(name);
  }
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

std::string difference(const std::set<std::string> &a, const std::set<std::string> &b) {
  std::string out;
  for (const auto &name : a)
    if (!b.count(name))
      out += "  " + name + "\n";
  return out;
}

TEST(Interface, ExportsExactlyTheListedSymbols) {
  auto exported = exportedSymbols();
  auto listed = listedSymbols();
  ASSERT_FALSE(exported.empty()) << "nm gave nothing for " << VLX_LIBRARY_FILE;
  EXPECT_EQ(difference(exported, listed), "") << "exported but not listed";
  EXPECT_EQ(difference(listed, exported), "") << "listed but not exported";
}

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
