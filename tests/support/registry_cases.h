// Registry cases whose answers Windows defines, as tables: the POSIX personality's tests and the
// check run on Windows (tests/windows/) both read them.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <velmora/win32.h>
#endif

#include <algorithm>
#include <string>
#include <vector>

namespace vlx::test {

// Values the RegGetValue table reads, each written with RegSetValueExA.
struct StoredValue {
  const char *name;
  DWORD type;
  std::string bytes;
};

inline const std::vector<StoredValue> &getValueStore() {
  static const std::vector<StoredValue> values = {
      {"dword", REG_DWORD, std::string("\7\0\0\0", 4)},
      {"bin4", REG_BINARY, "abcd"},
      {"bin3", REG_BINARY, "abc"},
      {"short", REG_DWORD, "ab"},
      {"text", REG_SZ, std::string("hello\0", 6)},
      {"qword", REG_QWORD, std::string(8, '\1')},
  };
  return values;
}

struct GetValueCase {
  const char *name;
  DWORD flags;
  LONG result;
  DWORD type;  // 99: left as it was
  DWORD size;  // reported; 16, the room given: left as it was
  bool copied; // the data is in the buffer, even when its type was not asked for
};

inline const std::vector<GetValueCase> &getValueCases() {
  static const std::vector<GetValueCase> cases = {
      {"dword", RRF_RT_REG_DWORD, ERROR_SUCCESS, REG_DWORD, 4, true},
      {"dword", RRF_RT_REG_SZ, ERROR_UNSUPPORTED_TYPE, REG_DWORD, 4, true},
      {"bin4", RRF_RT_DWORD, ERROR_SUCCESS, REG_BINARY, 4, true},
      {"bin3", RRF_RT_DWORD, ERROR_DATATYPE_MISMATCH, REG_BINARY, 3, true},
      {"bin3", RRF_RT_REG_BINARY, ERROR_SUCCESS, REG_BINARY, 3, true},
      {"short", RRF_RT_REG_DWORD, ERROR_SUCCESS, REG_DWORD, 2, true}, // only binary data is sized
      {"text", RRF_RT_ANY, ERROR_SUCCESS, REG_SZ, 6, true},
      {"qword", RRF_RT_QWORD, ERROR_SUCCESS, REG_QWORD, 8, true},
      {"missing", RRF_RT_ANY, ERROR_FILE_NOT_FOUND, REG_NONE, 16, false},
      {"text", 0, ERROR_UNSUPPORTED_TYPE, REG_SZ, 6, true},
      {"text", RRF_RT_REG_EXPAND_SZ, ERROR_INVALID_PARAMETER, 99, 16, false}, // needs RRF_NOEXPAND
  };
  return cases;
}

// RegGetValueA on an expandable string, %VLX_CASE_DIR%\\sub with VLX_CASE_DIR set to `value`,
// with and without a buffer: the sizes Windows reports, which are not always the text's own.
struct ExpandSizeCase {
  const char *value;
  DWORD flags;
  bool buffer;
  DWORD size;
  bool wineDiffers; // Wine reports the expanded text's own size (tests/README)
};

inline const std::vector<ExpandSizeCase> &expandSizeCases() {
  // The stored text is 18 characters, 19 bytes with its zero.
  static const std::vector<ExpandSizeCase> cases = {
      {"a", RRF_RT_REG_SZ, true, 19, true}, // never less than the stored text
      {"a", RRF_RT_ANY, true, 19, true},    // RRF_RT_ANY expands too
      {"a-rather-long-directory", RRF_RT_REG_SZ, true, 28, false}, // the expanded text, its zero
      {"a-rather-long-directory", RRF_RT_REG_SZ, false, 29, true}, // one more without a buffer
      {"a", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, true, 19, false},
      {"a", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, false, 20, true},
  };
  return cases;
}

// RegSetValueEx's data and what RegQueryValueEx then returns: a string whose count stops just
// before its terminator gets it, as if counted; one that stops earlier is stored as given. The
// W calls take the same rows with each byte widened to a character.
struct TerminatorCase {
  DWORD type;
  std::string memory; // what the data points at, followed by its zero
  DWORD given;        // the count passed, in characters
  std::string stored;
};

inline const std::vector<TerminatorCase> &terminatorCases() {
  static const std::vector<TerminatorCase> cases = {
      {REG_SZ, "FullString", 10, std::string("FullString\0", 11)},
      {REG_SZ, "FullString", 9, "FullStrin"},
      {REG_SZ, std::string("abc\0", 4), 4, std::string("abc\0", 4)},
      {REG_SZ, "", 0, ""}, // nothing given, nothing stored
      {REG_SZ, "", 1, std::string(1, '\0')},
      {REG_EXPAND_SZ, "%HOME%", 6, std::string("%HOME%\0", 7)},
      {REG_MULTI_SZ, std::string("Aa\0Bb\0Cc\0", 9), 9, std::string("Aa\0Bb\0Cc\0", 9)},
      {REG_MULTI_SZ, std::string("Aa\0Bb\0Cc\0", 9), 8, std::string("Aa\0Bb\0Cc\0", 9)},
      {REG_MULTI_SZ, std::string("Aa\0Bb\0Cc\0", 9), 7, std::string("Aa\0Bb\0C", 7)},
      {REG_BINARY, "abc", 3, "abc"}, // other types are kept as given
  };
  return cases;
}

// Each byte of narrow text as one 16-bit character: the W form of a terminator row.
inline std::u16string widened(const std::string &narrow) {
  return std::u16string(narrow.begin(), narrow.end());
}

// RegEnumValueA and RegEnumValueW on a key holding only "Name" = REG_SZ "value" (6 bytes, 12 in
// UTF-16), with buffers of the given sizes; the name buffer starts as "####", the data buffer as
// question marks. The sizes are the A call's; the W call's data sizes are twice them.
struct EnumValueCase {
  const char *what;
  DWORD nameRoom, dataRoom;
  LONG result;
  DWORD nameLength, type, dataSize;
  const char *name; // what the name buffer holds afterwards; null: not defined
  bool dataCopied;
  DWORD wideNameLength; // the W call's, which differ where only the data is short
  const char *wideName;
  bool wideDataCopied;
};

inline const std::vector<EnumValueCase> &enumValueCases() {
  static const std::vector<EnumValueCase> cases = {
      {"both fit", 8, 16, ERROR_SUCCESS, 4, REG_SZ, 6, "Name", true, 4, "Name", true},
      {"name short", 4, 16, ERROR_MORE_DATA, 4, REG_SZ, 6, nullptr, true, 4, nullptr, false},
      {"data short", 8, 5, ERROR_MORE_DATA, 8, REG_SZ, 6, "####", false, 4, "Name", false},
      {"both short", 2, 2, ERROR_MORE_DATA, 2, REG_SZ, 6, "####", false, 2, "####", false},
  };
  return cases;
}

// What both calls answer for one case on the key, each probed in the same way on both systems.
struct EnumValueSeen {
  LONG result, wideResult;
  DWORD nameLength, type, dataSize, wideNameLength, wideDataSize;
  std::string name, data;                      // the name to its terminator, 6 bytes of data
  std::basic_string<WCHAR> wideName, wideData; // likewise, in characters
};

inline EnumValueSeen enumValue(HKEY k, const EnumValueCase &c) {
  EnumValueSeen seen{};
  char name[16], data[16];
  std::fill(name, name + 16, '#');
  name[4] = '\0';
  std::fill(data, data + 16, '?');
  DWORD type = 77;
  seen.nameLength = c.nameRoom, seen.dataSize = c.dataRoom;
  seen.result = RegEnumValueA(k, 0, name, &seen.nameLength, nullptr, &type,
                              reinterpret_cast<BYTE *>(data), &seen.dataSize);
  seen.type = type;
  seen.name = name;
  seen.data.assign(data, 6);

  WCHAR wname[16], wdata[16];
  std::fill(wname, wname + 16, WCHAR('#'));
  wname[4] = WCHAR(0);
  std::fill(wdata, wdata + 16, WCHAR('?'));
  type = 77;
  seen.wideNameLength = c.nameRoom, seen.wideDataSize = c.dataRoom;
  seen.wideResult = RegEnumValueW(k, 0, wname, &seen.wideNameLength, nullptr, &type,
                                  reinterpret_cast<BYTE *>(wdata), &seen.wideDataSize);
  seen.wideName = wname;
  seen.wideData.assign(wdata, 6);
  return seen;
}

// HKEY_CURRENT_CONFIG opened with KEY_READ (a test may not write the machine's keys): a root of
// its own whose keys read as keys.
struct CurrentConfigCase {
  const char *path; // below HKEY_CURRENT_CONFIG
  LONG result;
};

inline const std::vector<CurrentConfigCase> &currentConfigCases() {
  static const std::vector<CurrentConfigCase> cases = {
      {nullptr, ERROR_SUCCESS},
      {"", ERROR_SUCCESS},
      {"Velmora Check\\No Such Key", ERROR_FILE_NOT_FOUND},
  };
  return cases;
}

struct CurrentConfigSeen {
  LONG result = ERROR_SUCCESS;
  LONG info = ERROR_SUCCESS; // RegQueryInfoKeyA on the key opened
};

inline CurrentConfigSeen currentConfig(const CurrentConfigCase &c) {
  CurrentConfigSeen seen;
  HKEY k = nullptr;
  seen.result = RegOpenKeyExA(HKEY_CURRENT_CONFIG, c.path, 0, KEY_READ, &k);
  if (seen.result != ERROR_SUCCESS)
    return seen;
  DWORD subkeys = 0, values = 0;
  seen.info = RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                               nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(k);
  return seen;
}

} // namespace vlx::test
