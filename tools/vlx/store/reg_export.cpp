// Keys opened and read through the Win32 calls, and their export as .reg text.
#include "vlx/store/reg_store.h"

#include "vlx/core/errors.h"
#include "vlx/formats/reg_text.h"

#include <algorithm>
#include <functional>

namespace vlx::cli {
namespace {

bool isPredefined(HKEY h) {
  return h == HKEY_CLASSES_ROOT || h == HKEY_CURRENT_USER || h == HKEY_LOCAL_MACHINE ||
         h == HKEY_USERS || h == HKEY_CURRENT_CONFIG;
}

} // namespace

LONG subKeyNames(HKEY key, std::vector<std::string> &names) {
  names.clear();
  DWORD maxLen = 0;
  LONG rc = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, &maxLen, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr);
  if (rc != ERROR_SUCCESS)
    return rc;
  std::string buf(maxLen + 1, '\0');
  for (DWORD i = 0;;) {
    DWORD len = static_cast<DWORD>(buf.size());
    rc = RegEnumKeyExA(key, i, buf.data(), &len, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS)
      return ERROR_SUCCESS;
    if (rc == ERROR_MORE_DATA) { // a longer name appeared meanwhile
      buf.resize(buf.size() * 2 + 256);
      continue;
    }
    if (rc != ERROR_SUCCESS)
      return rc;
    names.emplace_back(buf.data(), len);
    ++i;
  }
}

LONG readValues(HKEY key, std::vector<reg::Value> &values) {
  values.clear();
  DWORD maxName = 0, maxData = 0;
  LONG rc = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             &maxName, &maxData, nullptr, nullptr);
  if (rc != ERROR_SUCCESS)
    return rc;
  std::string name(maxName + 1, '\0');
  std::string data(maxData + 1, '\0');
  for (DWORD i = 0;;) {
    DWORD nameLen = static_cast<DWORD>(name.size());
    DWORD dataLen = static_cast<DWORD>(data.size());
    DWORD type = 0;
    rc = RegEnumValueA(key, i, name.data(), &nameLen, nullptr, &type,
                       reinterpret_cast<LPBYTE>(data.data()), &dataLen);
    if (rc == ERROR_NO_MORE_ITEMS)
      return ERROR_SUCCESS;
    if (rc == ERROR_MORE_DATA) {
      name.resize(name.size() * 2 + 256);
      data.resize(std::max<size_t>(data.size() * 2, dataLen + 1));
      continue;
    }
    if (rc != ERROR_SUCCESS)
      return rc;
    values.push_back({std::string(name.data(), nameLen), type, data.substr(0, dataLen)});
    ++i;
  }
}

namespace {

// Both file forms are read back as text, so every name and text a file holds must be UTF-8.
void checkText(const std::string &fullPath, const std::string &what, std::string_view text) {
  if (!isUtf8(text))
    throw Failure("cannot export " + fullPath + ": " + what + " is not UTF-8 text");
}

void exportTree(std::string &out, HKEY key, const std::string &fullPath, reg::Format format,
                const std::function<void()> &eachKey) {
  std::string why;
  std::vector<reg::Value> values;
  LONG rc = readValues(key, values);
  if (rc != ERROR_SUCCESS)
    throw Failure("cannot read " + fullPath + ": " + errorText(rc));
  checkText(fullPath, "the key name", fullPath);
  for (const auto &v : values) {
    if (!reg::writable(v.name, why))
      throw Failure("cannot export " + fullPath + ": value " + why);
    checkText(fullPath, "a value name", v.name);
    if (reg::isTextType(v.type))
      checkText(fullPath, "the data of value '" + v.name + "'", v.data);
  }
  reg::writeKey(out, fullPath, values, format == reg::Format::Version5 ? utf16Hex : nullptr);
  if (eachKey)
    eachKey();

  std::vector<std::string> names;
  rc = subKeyNames(key, names);
  if (rc != ERROR_SUCCESS)
    throw Failure("cannot read " + fullPath + ": " + errorText(rc));
  for (const auto &name : names) {
    std::string childPath = fullPath + "\\" + name;
    if (!reg::writable(name, why))
      throw Failure("cannot export " + fullPath + ": key " + why);
    Key child;
    rc = openKey(key, name, KEY_READ, child);
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_KEY_DELETED)
      continue; // deleted since it was listed
    if (rc != ERROR_SUCCESS)
      throw Failure("cannot open " + childPath + ": " + errorText(rc));
    exportTree(out, child.get(), childPath, format, eachKey);
  }
}

uint64_t countTree(HKEY key) {
  std::vector<std::string> names;
  if (subKeyNames(key, names) != ERROR_SUCCESS)
    return 1;
  uint64_t count = 1;
  for (const auto &name : names) {
    Key child;
    if (openKey(key, name, KEY_READ, child) == ERROR_SUCCESS)
      count += countTree(child.get());
  }
  return count;
}

} // namespace

void Key::reset() {
  if (h_ && !isPredefined(h_))
    RegCloseKey(h_);
  h_ = nullptr;
}

HKEY rootHandle(reg::Root root) {
  switch (root) {
  case reg::Root::ClassesRoot:
    return HKEY_CLASSES_ROOT;
  case reg::Root::CurrentUser:
    return HKEY_CURRENT_USER;
  case reg::Root::LocalMachine:
    return HKEY_LOCAL_MACHINE;
  case reg::Root::Users:
    return HKEY_USERS;
  case reg::Root::CurrentConfig:
    return HKEY_CURRENT_CONFIG;
  }
  return HKEY_CURRENT_USER;
}

LONG openKey(HKEY root, const std::string &subKey, REGSAM access, Key &key) {
  if (subKey.empty() && isPredefined(root)) {
    *key.out() = root;
    return ERROR_SUCCESS;
  }
  return RegOpenKeyExA(root, subKey.c_str(), 0, access, key.out());
}

void readInOneState(reg::Root root, const std::function<void()> &body) {
  auto in = [](Hive hive, const std::function<void()> &inner) {
    inHiveSnapshot(hive, [&] {
      inner();
      return ERROR_SUCCESS;
    });
  };
  switch (root) {
  case reg::Root::ClassesRoot:
    return in(Hive::User, [&] { in(Hive::Machine, body); });
  case reg::Root::CurrentUser:
    return in(Hive::User, body);
  case reg::Root::LocalMachine:
  case reg::Root::CurrentConfig:
    return in(Hive::Machine, body);
  case reg::Root::Users:
    return in(Hive::DefaultUser, body);
  }
}

bool openToRead(const reg::KeyPath &path, Key &key) {
  LONG rc = openKey(rootHandle(path.root), path.subKey, KEY_READ, key);
  if (rc == ERROR_FILE_NOT_FOUND)
    return false;
  if (rc != ERROR_SUCCESS)
    throw Failure("cannot open " + path.full() + ": " + errorText(rc));
  return true;
}

bool keyExists(const reg::KeyPath &path) {
  Key key;
  return openToRead(path, key);
}

void exportKey(std::string &out, const reg::KeyPath &path, reg::Format format,
               const std::function<void()> &eachKey) {
  readInOneState(path.root, [&] {
    Key key;
    LONG rc = openKey(rootHandle(path.root), path.subKey, KEY_READ, key);
    if (rc != ERROR_SUCCESS)
      throw Failure("cannot open " + path.full() + ": " + errorText(rc));
    std::string why;
    if (!reg::writable(path.subKey, why))
      throw Failure("cannot export " + path.full() + ": key " + why);
    exportTree(out, key.get(), path.full(), format, eachKey);
  });
}

uint64_t countKeys(const reg::KeyPath &path) {
  Key key;
  if (openKey(rootHandle(path.root), path.subKey, KEY_READ, key) != ERROR_SUCCESS)
    return 0;
  return countTree(key.get());
}

const char *hiveName(Hive hive) {
  switch (hive) {
  case Hive::User:
    return "HKEY_CURRENT_USER";
  case Hive::Machine:
    return "HKEY_LOCAL_MACHINE";
  case Hive::DefaultUser:
    return "HKEY_USERS\\.DEFAULT";
  }
  return "?";
}

} // namespace vlx::cli