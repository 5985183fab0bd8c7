// The library on Windows, as a host sees it: the cases where the system could answer otherwise
// than the POSIX personality does.
#include "check.h"

#include <velmora/afx.h>
#include <velmora/errors.h>
#include <velmora/files.h>
#include <velmora/registry.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace vlx::check {

namespace {

std::string text(const CString &value) { return value.GetString(); }

std::vector<std::string> sorted(const CStringList &list) {
  std::vector<std::string> names;
  for (POSITION at = list.GetHeadPosition(); at != nullptr;)
    names.push_back(text(list.GetNext(at)));
  std::sort(names.begin(), names.end());
  return names;
}

std::string joined(const std::vector<std::string> &names) {
  std::string all;
  for (const std::string &name : names)
    all += (all.empty() ? "" : " ") + name;
  return all;
}

bool isDirectory(const std::string &path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

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
  const vlx::StringResource strings[] = {{20001, "Registered"}, {20003, "Only registered"}};
  vlx::registerStringTable(AfxGetResourceHandle(), strings);
  EXPECT_EQ(load(20001), "10:Registered", "a registered string before the string table");
  EXPECT_EQ(load(20003), "15:Only registered", "registered string");
  vlx::unregisterStringTable(AfxGetResourceHandle());
  EXPECT_EQ(load(20001), "21:From the string table", "string table after unregistering");
  CString formatted;
  AfxFormatString1(formatted, 20002, "Text");
  EXPECT_EQ(text(formatted), "Text from the string table", "AfxFormatString1");
}

// Only the UTF-16 constructor has a Windows branch of its own.
void paths() {
  const wchar_t *wide = L"C:\\work\\gear.txt";
  suFullPath_c path(reinterpret_cast<const unsigned short *>(wide));
  CString drive, directory, name, extension;
  path.getDrive(&drive);
  path.getDirectory(&directory);
  path.getName(&name);
  path.getExtension(&extension);
  EXPECT_EQ(text(drive) + "|" + text(directory) + "|" + text(name) + "|" + text(extension),
            "C|C:\\work|gear|txt", "suFullPath_c from UTF-16");
  EXPECT_EQ(text(suFullPath_c(reinterpret_cast<const unsigned short *>(L""))), "",
            "suFullPath_c from empty UTF-16");
}

void directories() {
  const std::string dir = makeScratch("dirs");
  for (const char *sub : {"\\sub", "\\archive.txt"})
    CreateDirectoryA((dir + sub).c_str(), nullptr);
  for (const char *file : {"\\gear.txt", "\\GEAR2.TXT", "\\notes", "\\plan.doc"})
    writeFile(dir + file, "x");

  const std::pair<std::string, int> exists[] = {
      {dir, 1},           {dir + "\\", 1},      {dir + "\\gear.txt", 0}, {dir + "\\missing", 0},
      {"Q:\\nowhere", 0}, {dir + "\\*.txt", 1}, {dir + "\\*.doc", 0}};
  for (const auto &[path, expected] : exists)
    EXPECT_EQ(su_DirectoryExists(path.c_str()), expected, "su_DirectoryExists " + path);

  const std::pair<const char *, const char *> listings[] = {
      {"txt", "GEAR2.TXT archive.txt gear.txt"}, {"doc", "plan.doc"}};
  for (const auto &[extension, expected] : listings) {
    CStringList names;
    su_FindFilesWithExt((dir + "\\").c_str(), extension, names);
    EXPECT_EQ(joined(sorted(names)), expected, std::string("su_FindFilesWithExt *.") + extension);
  }
  removeTree(widen(dir, CP_ACP));
}

// The CRT's own variables: getenv ignores case, and an empty value removes the variable.
void scratchPaths() {
  const std::string dir = makeScratch("temp");
  CreateDirectoryA((dir + "\\tmp").c_str(), nullptr);
  const std::string pid = "vlx" + std::to_string(GetCurrentProcessId());
  const char *temp = std::getenv("TEMP"), *tmp = std::getenv("TMP");
  const std::string savedTemp = temp ? temp : "", savedTmp = tmp ? tmp : "";
  struct Case {
    const char *what;
    std::string temp, tmp, expected, created;
  } cases[] = {
      {"TEMP", dir, dir + "\\tmp", dir + "\\" + pid + "\\", dir + "\\" + pid},
      {"TMP when TEMP is unset", "", dir + "\\tmp", dir + "\\tmp\\" + pid + "\\",
       dir + "\\tmp\\" + pid},
      {"final backslash", dir + "\\", "", dir + "\\\\" + pid + "\\", dir + "\\" + pid},
      {"neither", "", "", "", ""},
  };
  for (const Case &c : cases) {
    _putenv_s("TEMP", c.temp.c_str());
    _putenv_s("TMP", c.tmp.c_str());
    EXPECT_EQ(text(su_CreateTempDirectory()), c.expected, std::string("scratch: ") + c.what);
    EXPECT_EQ(text(su_CreateTempFilePath("gear.tmp")),
              c.expected.empty() ? "" : c.expected + "gear.tmp",
              std::string("scratch file: ") + c.what);
    if (!c.created.empty()) {
      EXPECT(isDirectory(c.created), std::string("scratch not created: ") + c.what);
      RemoveDirectoryA(c.created.c_str());
    }
  }
  _putenv_s("TEMP", savedTemp.c_str());
  _putenv_s("TMP", savedTmp.c_str());
  removeTree(widen(dir, CP_ACP));
}

void setCount(int count) {
  EXPECT(regSetUserValue("General", "Backup Copies", intType, "", &count, nullptr) == 1,
         "cannot set Backup Copies");
}

// The prefix is the host's string 10122 from strings.rc; the count is a preference.
void backups() {
  const std::string dir = makeScratch("backup");
  const std::string gear = dir + "\\gear.txt", backup = dir + "\\Backup of gear.txt";
  writeFile(gear, "version 1");
  auto resolve = [](const std::string &path) {
    char result[MAX_PATH];
    su_ResolveToBackupFile(path.c_str(), result);
    return std::string(result);
  };
  EXPECT_EQ(resolve(gear), gear, "resolve without a backup");
  EXPECT(su_CreateBackupOfFile(gear.c_str()) != 0, "first backup");
  EXPECT_EQ(readFile(backup), "version 1", "backup content");
  EXPECT_EQ(resolve(gear), backup, "resolve to the backup");
  // The system finds the file under any case, the library only under the listed spelling.
  EXPECT_EQ(su_CreateBackupOfFile((dir + "\\GEAR.TXT").c_str()), 0, "backup under another case");

  writeFile(gear, "version 2");
  const std::pair<int, int> counts[] = {{0, 1}, {2, 0}, {-1, 0}};
  for (const auto &[count, expected] : counts) {
    setCount(count);
    EXPECT_EQ(su_CreateBackupOfFile(gear.c_str()), expected,
              "backup with count " + std::to_string(count));
    EXPECT_EQ(readFile(backup), "version 1",
              "backup untouched with count " + std::to_string(count));
  }
  setCount(1);
  EXPECT(su_CreateBackupOfFile(gear.c_str()) != 0, "backup with count 1");
  EXPECT_EQ(readFile(backup), "version 2", "backup replaced");

  // The copy keeps the read-only attribute, so the next backup can neither delete nor replace it.
  SetFileAttributesA(gear.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT(su_CreateBackupOfFile(gear.c_str()) != 0, "backup of a read-only file");
  EXPECT(GetFileAttributesA(backup.c_str()) & FILE_ATTRIBUTE_READONLY, "backup is not read-only");
  // Wine (as root) lets CopyFileA replace a read-only file; Windows refuses with access denied.
  if (!underWine())
    EXPECT_EQ(su_CreateBackupOfFile(gear.c_str()), 0, "backup over a read-only backup");
  removeTree(widen(dir, CP_ACP));
}

std::string rawText(HKEY root, const char *key, const char *name) {
  char data[64] = {};
  DWORD size = sizeof data - 1, type = 0;
  if (RegGetValueA(root, key, name, RRF_RT_ANY, &type, data, &size) != ERROR_SUCCESS)
    return "(missing)";
  return type == REG_SZ ? data : "(type " + std::to_string(type) + ")";
}

void registry() {
  const char *general = "Software\\Velmora\\General";
  int number = -7;
  EXPECT(regSetUserValue("General", "i", intType, "", &number, nullptr) == 1, "set int");
  number = 0;
  CString unused;
  EXPECT(regGetUserValue("GENERAL", "I", intType, unused, &number, nullptr) == 1 && number == -7,
         "int read back under other letter case");

  // The stored text comes from the C run-time's formatting, which differs between run-times.
  const std::pair<double, const char *> doubles[] = {{0.1, "0.100000000000000006"},
                                                     {1e300, "1.00000000000000005e+300"},
                                                     {1.5e-7, "1.49999999999999993e-07"},
                                                     {1e10, "10000000000"}};
  for (const auto &[value, stored] : doubles) {
    double in = value, back = 0;
    regSetUserValue("General", "d", doubleType, "", nullptr, &in);
    EXPECT_EQ(rawText(HKEY_CURRENT_USER, general, "d"), stored, "stored double");
    EXPECT(regGetUserValue("General", "d", doubleType, unused, nullptr, &back) == 1 &&
               back == value,
           std::string("double read back: ") + stored);
  }

  CString longText(std::string(256, 'x').c_str()), back;
  regSetUserValue("General", "s", stringType, "text", nullptr, nullptr);
  EXPECT(regGetUserValue("General", "s", stringType, back, nullptr, nullptr) == 1 && back == "text",
         "string read back");
  regSetUserValue("General", "s", stringType, longText, nullptr, nullptr);
  back = "kept";
  EXPECT(regGetUserValue("General", "s", stringType, back, nullptr, nullptr) == 0 && back == "kept",
         "a 256-character string reads as missing");

  // The fall-back: the machine's value, then the default user's.
  number = 5;
  regSetLocMachineValue("General", "m", intType, "", &number, nullptr);
  number = 0;
  EXPECT(regGetUserValue("General", "m", intType, unused, &number, nullptr) == 1 && number == 5,
         "fall-back to the machine");
  const DWORD six = 6;
  RegSetKeyValueA(HKEY_USERS, ".DEFAULT\\Software\\Velmora\\General", "u", REG_DWORD, &six,
                  sizeof six);
  EXPECT(regGetUserValue("General", "u", intType, unused, &number, nullptr) == 1 && number == 6,
         "fall-back to the default user");
}

void dateCodes() {
  EXPECT_EQ(su_getTaggedDateCode(), 97257u, "tagged date code as built");
  EXPECT_EQ(su_getFullDateCode(), 1997257u, "full date code");

  // A release stamps the DLL file in place: the tag must be there exactly once.
  char file[MAX_PATH];
  GetModuleFileNameA(GetModuleHandleA("velmora_util.dll"), file, MAX_PATH);
  const std::string image = readFile(file), tag = std::string("$?153#") + "548834?$";
  size_t count = 0;
  for (size_t at = image.find(tag); at != std::string::npos; at = image.find(tag, at + 1))
    ++count;
  EXPECT_EQ(count, 1u, "date-code tags in velmora_util.dll");
}

// A framework exception thrown in the DLL is caught in the host.
void exceptions() {
  char missing[MAX_PATH];
  GetTempPathA(MAX_PATH, missing);
  lstrcatA(missing, "vlxcheck-missing.txt");
  try {
    CFile file(missing, CFile::modeRead);
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
  // Preferences start from nothing in every hive the library reads.
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Velmora");
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Velmora");
  RegDeleteTreeA(HKEY_USERS, ".DEFAULT\\Software\\Velmora");
  entry();
  resources();
  paths();
  directories();
  scratchPaths();
  backups();
  registry();
  dateCodes();
  exceptions();
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Velmora");
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Velmora");
  RegDeleteTreeA(HKEY_USERS, ".DEFAULT\\Software\\Velmora");
}

} // namespace vlx::check
