// The exported typed preference calls: user and machine writes, reads with the fall-back.
#include "registry/key.h"
#include "registry/workers.h"

#include <cstdio>
#include <cstring>
#include <string>

using vlx::Key;

namespace {

int setValue(HKEY hive, CString section, CString valueName, valueTypes type, CString stringValue,
             int *intValue, double *doubleValue) {
  Key software;
  if (!software.open(hive, "Software", KEY_WRITE))
    return 0;
  return vlx::regWriteValue(software, section, valueName, type, stringValue, intValue, doubleValue);
}

} // namespace

int regSetUserValue(CString section, CString valueName, valueTypes type, CString stringValue,
                    int *intValue, double *doubleValue) {
  return setValue(HKEY_CURRENT_USER, section, valueName, type, stringValue, intValue, doubleValue);
}

int regSetLocMachineValue(CString section, CString valueName, valueTypes type, CString stringValue,
                          int *intValue, double *doubleValue) {
  return setValue(HKEY_LOCAL_MACHINE, section, valueName, type, stringValue, intValue, doubleValue);
}

namespace {

enum class Read { Found, Missing, Unsure };

// "<software>\<product>\<section>", joined on the stack when it fits: every read joins it for
// each hive it asks.
class SectionPath {
public:
  SectionPath(const char *software, const char *section) {
    const char *parts[] = {software, vlx::productKey, section};
    size_t lengths[3], total = 0;
    for (size_t i = 0; i < 3; ++i)
      total += (lengths[i] = std::strlen(parts[i])) + 1;
    if (total > sizeof local_) {
      heap_ = std::string(software) + "\\" + vlx::productKey + "\\" + section;
      text_ = heap_.c_str();
      return;
    }
    char *at = local_;
    for (size_t i = 0; i < 3; ++i) {
      std::memcpy(at, parts[i], lengths[i]);
      at += lengths[i];
      *at++ = '\\';
    }
    at[-1] = '\0';
  }
  SectionPath(const SectionPath &) = delete;
  SectionPath &operator=(const SectionPath &) = delete;
  const char *c_str() const { return text_; }

private:
  char local_[192];
  std::string heap_;
  const char *text_ = local_;
};

// One registry call per hive where that settles the answer. A string of exactly the buffer's
// size without its terminator is read by the key-by-key path but not by RegGetValueA, so a
// string too long for it is left to that path; so are section names the joined path could
// read differently.
Read readInOneCall(HKEY root, const char *software, const CString &section,
                   const CString &valueName, valueTypes type, CString &stringValue, int *intValue,
                   double *doubleValue) {
  const char *name = section;
  size_t length = std::strlen(name);
  if (length == 0 || name[0] == '\\' || name[length - 1] == '\\' || std::strstr(name, "\\\\"))
    return Read::Unsure;
  SectionPath path(software, name);
  if (type == intType) {
    DWORD number = 0, size = sizeof number;
    if (RegGetValueA(root, path.c_str(), valueName, RRF_RT_REG_DWORD, nullptr, &number, &size) !=
        ERROR_SUCCESS)
      return Read::Missing;
    *intValue = static_cast<int>(number);
    return Read::Found;
  }
  char text[vlx::readBufferSize] = {};
  DWORD size = sizeof text;
  LONG error = RegGetValueA(root, path.c_str(), valueName, RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr,
                            text, &size);
  if (error == ERROR_MORE_DATA)
    return Read::Unsure;
  if (error != ERROR_SUCCESS)
    return Read::Missing;
  if (type == stringType)
    stringValue = CString(text, static_cast<int>(strnlen(text, size)));
  else
    std::sscanf(text, "%lf", doubleValue); // as the key-by-key read: not a number counts too
  return Read::Found;
}

} // namespace

// The user's value, else the machine's, else the default user's.
int regGetUserValue(CString section, CString valueName, valueTypes type, CString &stringValue,
                    int *intValue, double *doubleValue) {
  auto read = [&](HKEY root, const char *software) {
    return readInOneCall(root, software, section, valueName, type, stringValue, intValue,
                         doubleValue);
  };
  auto readKeyByKey = [&](HKEY softwareKey) {
    return vlx::regReadValue(softwareKey, section, valueName, type, stringValue, intValue,
                             doubleValue) != 0;
  };

  Read user = read(HKEY_CURRENT_USER, "Software");
  if (user == Read::Found)
    return 1;
  // Without the user's "Software" key there is no fall-back at all.
  Key software;
  if (!software.open(HKEY_CURRENT_USER, "Software", KEY_READ))
    return 0;
  if (user == Read::Unsure && readKeyByKey(software))
    return 1;

  Read machine = read(HKEY_LOCAL_MACHINE, "Software");
  if (machine == Read::Found)
    return 1;
  if (machine == Read::Unsure && software.open(HKEY_LOCAL_MACHINE, "Software", KEY_READ) &&
      readKeyByKey(software))
    return 1;

  // Any missing key on the default user's path ends the look-up the same way.
  Read defaultUser = read(HKEY_USERS, ".DEFAULT\\Software");
  if (defaultUser != Read::Unsure)
    return defaultUser == Read::Found ? 1 : 0;
  Key defaultRoot;
  return defaultRoot.open(HKEY_USERS, ".DEFAULT", KEY_READ) &&
         software.open(defaultRoot, "Software", KEY_READ) && readKeyByKey(software);
}
