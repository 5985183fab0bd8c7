// What the narrow and 16-bit registry calls share: whole values, UTF-16 text, expansion.
#pragma once

#include <velmora/win32.h>

#include <string>
#include <string_view>

namespace vlx {

// A handle opened on a subkey for one call, or the key itself for an empty path.
class SubKey {
public:
  SubKey(HKEY base, const char *path, REGSAM sam, bool create = false) {
    if (!path || !*path) {
      key_ = base;
      return;
    }
    status_ = create ? RegCreateKeyExA(base, path, 0, nullptr, 0, sam, nullptr, &key_, nullptr)
                     : RegOpenKeyExA(base, path, 0, sam, &key_);
    opened_ = status_ == ERROR_SUCCESS;
  }
  ~SubKey() {
    if (opened_)
      RegCloseKey(key_);
  }
  SubKey(const SubKey &) = delete;
  SubKey &operator=(const SubKey &) = delete;
  LONG status() const { return status_; }
  HKEY get() const { return key_; }

private:
  HKEY key_ = nullptr;
  LONG status_ = ERROR_SUCCESS;
  bool opened_ = false;
};

bool isStringType(DWORD type);

// A RegSetValueEx caller's data, copied once it is known readable (ERROR_NOACCESS otherwise),
// with the terminator Windows adds to a string of `unit`-byte characters.
LONG callerData(const BYTE *data, DWORD size, DWORD type, size_t unit, std::string *bytes);

// Whether `key` is a handle opened with every right in `access`: the error if not.
LONG keyAllows(HKEY key, REGSAM access);

// UTF-16 to the store's UTF-8 and back, through the code page calls; bad units become U+FFFD.
std::string toUtf8(const WCHAR *text, size_t units);
std::u16string toUtf16(std::string_view text);

// A 16-bit argument as the narrow text the A calls take; null stays null.
class Utf8Arg {
public:
  explicit Utf8Arg(LPCWSTR text);
  const char *get() const { return null_ ? nullptr : text_.c_str(); }

private:
  std::string text_;
  bool null_;
};

// A value of `key` or of its subkey `subKey` (null or empty: the key itself): its type and data,
// read whole whatever its size.
LONG readValue(HKEY key, const char *subKey, const char *name, DWORD *type, std::string *data);
// The value at `index`: its name, type and data.
LONG readValueAt(HKEY key, DWORD index, std::string *name, DWORD *type, std::string *data);

// %NAME% replaced by the variable's value; an unknown or empty name is kept with its percents.
std::string expandVariables(std::string_view text);

// RegGetValue on narrow names; `wide` returns strings in UTF-16.
LONG getValue(HKEY key, const char *subKey, const char *name, DWORD flags, LPDWORD type,
              LPVOID data, LPDWORD size, bool wide);

} // namespace vlx
