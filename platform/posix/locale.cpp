// The user's default language from the POSIX locale variables, mapped by ICU.
#include <velmora/win32.h>

#include <cstdlib>
#include <unicode/uloc.h>

namespace {

constexpr LANGID kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

} // namespace

namespace vlx {

UserLocale userLocale() {
  // The standard precedence for messages: the first that is set and not empty decides.
  for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char *value = std::getenv(name);
    if (value && *value)
      return UserLocale{name, value};
  }
  return UserLocale{};
}

} // namespace vlx

extern "C" {

LANGID WINAPI GetUserDefaultLangID(void) {
  std::string locale = vlx::userLocale().value;
  // "de_CH.UTF-8@euro": the codeset and the modifier say nothing about the language.
  locale = locale.substr(0, locale.find_first_of(".@"));
  if (locale.empty() || locale == "C" || locale == "POSIX")
    return kEnglishUs;
  uint32_t lcid = uloc_getLCID(locale.c_str());
  return lcid ? static_cast<LANGID>(lcid & 0xFFFF) : kEnglishUs;
}

} // extern "C"
