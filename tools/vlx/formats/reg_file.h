// Reading and writing .reg text (REGEDIT4 and version 5 headers) held as UTF-8; standard library
// only, so that it can be fuzzed alone.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vlx::reg {

// Registry value types, numbered as Win32 numbers them (kept here so that this file needs no
// Win32 header).
enum : uint32_t {
  kTypeNone = 0,
  kTypeSz = 1,
  kTypeExpandSz = 2,
  kTypeBinary = 3,
  kTypeDword = 4,
  kTypeMultiSz = 7,
  kTypeQword = 11,
};

// The header: REGEDIT4 files hold narrow text, version 5 files UTF-16LE text.
enum class Format { Regedit4, Version5 };

// Whether data of `type` is text, which hex data holds in the file's own text form.
bool isTextType(uint32_t type);

enum class Root { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig };

// The full name of a root, e.g. "HKEY_CURRENT_USER".
const char *rootName(Root root);

// A key path split into its root and the path below it ("" for the root itself).
struct KeyPath {
  Root root = Root::CurrentUser;
  std::string subKey;
  std::string full() const;
};

// Parses "HKEY_CURRENT_USER\Software\X" or "HKCU\Software\X" (root names in any letter case).
// Fails on an unknown root or an empty path component; `error` then says why.
bool parseKeyPath(std::string_view text, KeyPath &path, std::string &error);

struct Value {
  std::string name; // "" is the default value
  uint32_t type = kTypeSz;
  std::string data; // raw bytes, as the registry holds them
};

struct Operation {
  enum class Kind { CreateKey, DeleteKey, SetValue, DeleteValue };
  Kind kind = Kind::CreateKey;
  KeyPath key;
  Value value; // name only for DeleteValue; unused for key operations
  int line = 0;
};

struct ParseResult {
  Format format = Format::Regedit4;
  std::vector<Operation> operations;
  int errorLine = 0; // 0: no error
  std::string error;
  bool ok() const { return errorLine == 0; }
};

// Turns the hex data of a text type from the file's form into the store's, in place; false when
// it is no text in that form.
using HexTextReader = bool (*)(Format format, std::string &data);
// The file's form of store text given as hex data.
using HexTextWriter = std::string (*)(std::string_view text);

// Parses a whole .reg file. On a malformed file the result carries no operations, the line
// number (1-based) and a short description. Without `readText` hex text data stays as it is.
ParseResult parse(std::string_view text, HexTextReader readText = nullptr);

// Hands each operation over as it is read instead of keeping them: the same Operation object,
// refilled line after line (the receiver may change it). On a malformed file the operations of
// the lines before the faulty one have been handed over; the result holds no operations.
using OperationSink = std::function<void(Operation &op)>;
ParseResult parse(std::string_view text, HexTextReader readText, const OperationSink &each);

// Appends the header line and the blank line after it.
void writeHeader(std::string &out, Format format = Format::Regedit4);

// Appends one key section: "[path]", its values, and a blank line. Without `writeText` hex text
// data is written as the store holds it.
void writeKey(std::string &out, const std::string &path, const std::vector<Value> &values,
              HexTextWriter writeText = nullptr);

// Appends one value line (with wrapped continuation lines for long hex data).
void writeValue(std::string &out, const Value &value, HexTextWriter writeText = nullptr);

// Names and key paths that cannot be written because the text form would lose them (line
// breaks); returns false and says why.
bool writable(std::string_view name, std::string &error);

} // namespace vlx::reg
