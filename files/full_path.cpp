// suFullPath_c: construction of the path text and its split into drive, directory, name and
// extension.
#include <velmora/files.h>

namespace {

// UTF-16 to the narrow code page: the system's ANSI page on Windows, UTF-8 on POSIX, where an
// unpaired surrogate becomes U+FFFD.
CString narrowFromWide(const unsigned short *text) {
  if (text == nullptr)
    return CString();
  const auto *wide = reinterpret_cast<LPCWSTR>(text);
  int size = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1)
    return CString();
  CString narrow;
  WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow.GetBuffer(size - 1), size, nullptr, nullptr);
  narrow.ReleaseBuffer(size - 1);
  return narrow;
}

int present(const CString *out) { return out->IsEmpty() ? 0 : 1; }

} // namespace

suFullPath_c::suFullPath_c() = default;

suFullPath_c::suFullPath_c(const CString &path) : CString(path) {}

suFullPath_c::suFullPath_c(const suFullPath_c &path) : CString(path) {}

suFullPath_c::suFullPath_c(char ch, int repeat) : CString(ch, repeat) {}

suFullPath_c::suFullPath_c(const char *text) : CString(text) {}

suFullPath_c::suFullPath_c(const char *text, int length) : CString(text, length) {}

suFullPath_c::suFullPath_c(const unsigned char *text)
    : CString(reinterpret_cast<const char *>(text)) {}

suFullPath_c::suFullPath_c(const unsigned short *text) : CString(narrowFromWide(text)) {}

suFullPath_c &suFullPath_c::operator=(const suFullPath_c &path) {
  CString::operator=(path);
  return *this;
}

suFullPath_c::~suFullPath_c() = default;

int suFullPath_c::getName(CString *out) {
  *out = *this;
  if (GetLength() > 0) {
    int slash = ReverseFind('\\');
    if (slash >= 0)
      *out = Mid(slash + 1);
    int dot = out->ReverseFind('.');
    if (dot >= 0)
      *out = out->Left(dot);
  }
  return present(out);
}

int suFullPath_c::getExtension(CString *out) {
  out->Empty();
  int dot = GetLength() > 0 ? ReverseFind('.') : -1;
  if (dot >= 0)
    *out = Mid(dot + 1);
  return present(out);
}

int suFullPath_c::getDrive(CString *out) {
  out->Empty();
  int colon = GetLength() > 0 ? Find(':') : -1;
  if (colon >= 0)
    *out = Left(colon);
  return present(out);
}

int suFullPath_c::getDirectory(CString *out) {
  out->Empty();
  int slash = GetLength() > 0 ? ReverseFind('\\') : -1;
  if (slash >= 0)
    *out = Left(slash);
  return present(out);
}
