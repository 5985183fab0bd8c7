// The library on Windows, as a host sees it: the cases where the system could answer otherwise
// than the POSIX personality does.
#include "check.h"

#include <velmora/afx.h>
#include <velmora/errors.h>
#include <velmora/files.h>

#include <windows.h>

#include <cstdlib>
#include <string>

namespace vlx::check {

namespace {

std::string text(const CString &value) { return value.GetString(); }

void entry() {
  HMODULE library = GetModuleHandleA("velmora_util.dll");
  EXPECT(library != nullptr, "velmora_util.dll is not loaded under that name");
  // DllMain put the library, and nothing else, in the chain.
  CDynLinkLibrary *head = AfxGetModuleState()->m_libraryList;
  EXPECT(head != nullptr && head->m_hModule == library && head->m_hResource == library &&
             !head->m_bSystem && head->m_pNextDLL == nullptr,
         "the library's entry did not join the module chain");
}

// The host's strings come from its string table (strings.rc) until it registers others.
void resources() {
  AfxSetResourceHandle(GetModuleHandleA(nullptr));
  auto load = [](UINT id, UINT room = 256) {
    char buffer[256] = "stale";
    int length = AfxLoadString(id, buffer, room);
    return std::to_string(length) + ":" + buffer;
  };
  EXPECT_EQ(load(20001), "21:From the string table", "string table");
  EXPECT_EQ(load(20001, 5), "4:From", "string table, cut to the buffer");
  EXPECT_EQ(load(20003), "0:", "missing string");
  const vlx::StringResource strings[] = {{20001, "Registered"}};
  vlx::registerStringTable(AfxGetResourceHandle(), strings);
  EXPECT_EQ(load(20001), "10:Registered", "a registered string before the string table");
  vlx::unregisterStringTable(AfxGetResourceHandle());
  EXPECT_EQ(load(20001), "21:From the string table", "string table after unregistering");
}

// Only the UTF-16 constructor has a Windows branch of its own: the narrowing by the system.
void paths() {
  EXPECT_EQ(text(suFullPath_c(reinterpret_cast<const unsigned short *>(L"C:\\work\\gear.txt"))),
            "C:\\work\\gear.txt", "suFullPath_c from UTF-16");
}

// The C run-time's own environment and directory calls; a final backslash is kept, doubled.
void scratchPaths() {
  const std::string dir = makeScratch("temp");
  const std::string pid = "vlx" + std::to_string(GetCurrentProcessId());
  const char *temp = std::getenv("TEMP");
  const std::string saved = temp ? temp : "";
  _putenv_s("TEMP", (dir + "\\").c_str());
  EXPECT_EQ(text(su_CreateTempDirectory()), dir + "\\\\" + pid + "\\", "scratch path");
  EXPECT(std::filesystem::is_directory(dir + "\\" + pid), "scratch directory not created");
  _putenv_s("TEMP", saved.c_str());
  removeTree(dir);
}

// The prefix is the host's string 10122 from strings.rc; no count is stored, so it is 1.
void backups() {
  const std::string dir = makeScratch("backup");
  const std::string gear = dir + "\\gear.txt", backup = dir + "\\Backup of gear.txt";
  writeFile(gear, "version 1");
  auto resolve = [](const std::string &path) {
    char result[MAX_PATH];
    su_ResolveToBackupFile(path.c_str(), result);
    return std::string(result);
  };
  EXPECT(su_CreateBackupOfFile(gear.c_str()) != 0, "first backup");
  EXPECT_EQ(readFile(backup), "version 1", "backup content");
  EXPECT_EQ(resolve(gear), backup, "resolve to the backup");
  // The system finds the file under any case, the library only under the listed spelling.
  EXPECT_EQ(su_CreateBackupOfFile((dir + "\\GEAR.TXT").c_str()), 0, "backup under another case");

  // The copy keeps the read-only attribute, so the next backup can neither delete nor replace it.
  SetFileAttributesA(gear.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT(su_CreateBackupOfFile(gear.c_str()) != 0, "backup of a read-only file");
  EXPECT(GetFileAttributesA(backup.c_str()) & FILE_ATTRIBUTE_READONLY, "backup is not read-only");
  // Wine (as root) lets CopyFileA replace a read-only file; Windows refuses with access denied.
  if (!underWine())
    EXPECT_EQ(su_CreateBackupOfFile(gear.c_str()), 0, "backup over a read-only backup");
  removeTree(dir);
}

// A release stamps the DLL file in place: the tag must be there exactly once.
void dateCodes() {
  char file[MAX_PATH];
  GetModuleFileNameA(GetModuleHandleA("velmora_util.dll"), file, MAX_PATH);
  const std::string image = readFile(file), tag = std::string("$?153#") + "548834?$";
  EXPECT(image.find(tag) != std::string::npos && image.find(tag) == image.rfind(tag),
         "velmora_util.dll does not hold the date-code tag exactly once");
}

// A framework exception thrown in the DLL is caught in the host.
void exceptions() {
  const auto missing = std::filesystem::temp_directory_path() / "vlxcheck-missing.txt";
  try {
    CFile file(missing.string().c_str(), CFile::modeRead);
    EXPECT(false, "opening a missing file did not throw");
  } catch (CException *e) {
    auto *fileError = dynamic_cast<CFileException *>(e);
    EXPECT(e->IsKindOf(RUNTIME_CLASS(CFileException)) && fileError != nullptr &&
               fileError->m_cause == CFileException::fileNotFound &&
               fileError->m_lOsError == ERROR_FILE_NOT_FOUND,
           "CFileException for a missing file");
    e->Delete();
  }
}

} // namespace

void checkLibrary() {
  // Preferences start from nothing in every hive the library reads, and leave nothing behind.
  const auto clear = [] {
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Velmora");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Velmora");
    RegDeleteTreeA(HKEY_USERS, ".DEFAULT\\Software\\Velmora");
  };
  clear();
  for (void (*group)() : {entry, resources, paths, scratchPaths, backups, dateCodes, exceptions})
    group();
  clear();
}

} // namespace vlx::check
