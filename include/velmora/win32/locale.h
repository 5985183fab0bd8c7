// Language identifiers and the user's default language.
#pragma once

#include <velmora/win32/base.h>

#include <string>

typedef WORD LANGID;

#define MAKELANGID(p, s) static_cast<WORD>((static_cast<WORD>(s) << 10) | static_cast<WORD>(p))
#define PRIMARYLANGID(lgid) static_cast<WORD>((lgid)&0x3ff)
#define SUBLANGID(lgid) static_cast<WORD>((lgid) >> 10)

#define LANG_NEUTRAL 0x00
#define LANG_CHINESE 0x04
#define LANG_GERMAN 0x07
#define LANG_ENGLISH 0x09
#define LANG_SPANISH 0x0a
#define LANG_FRENCH 0x0c
#define LANG_ITALIAN 0x10
#define LANG_JAPANESE 0x11
#define SUBLANG_DEFAULT 0x01
#define SUBLANG_ENGLISH_US 0x01
#define SUBLANG_CHINESE_TRADITIONAL 0x01
#define SUBLANG_CHINESE_SIMPLIFIED 0x02

extern "C" {
// From the locale variables LC_ALL, LC_MESSAGES and LANG, the first that is set and not empty;
// none, "C", "POSIX" and a locale Windows has no identifier for give English (US), 0x0409.
VLX_WIN32_API LANGID WINAPI GetUserDefaultLangID(void);
}

namespace vlx {

// The locale variable that decides the user's language and its value; both empty when none is
// set.
struct UserLocale {
  std::string variable;
  std::string value;
};
VLX_API UserLocale userLocale();

} // namespace vlx
