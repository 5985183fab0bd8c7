// `vlx --version`: the library and the libraries under it, as loaded at run time.
#include "vlx/core/commands.h"

#include <velmora/errors.h>

#include <sqlite3.h>
#include <unicode/uversion.h>

#include <fstream>

namespace vlx::cli {

std::string versionText() {
  std::string text = "vlx (velmora-util) " VLX_VERSION ", library date code " +
                     std::to_string(su_getFullDateCode()) + "\n";
  text += "SQLite " + std::string(sqlite3_libversion()) + "\n";
  UVersionInfo icu;
  char icuText[U_MAX_VERSION_STRING_LENGTH];
  u_getVersion(icu);
  u_versionToString(icu, icuText);
  text += "ICU " + std::string(icuText) + "\n";
#ifdef VLX_LIBREOFFICE_PROGRAM
  // The office the spreadsheet server was built for names itself in its bootstrap file.
  std::ifstream bootstrap(VLX_LIBREOFFICE_PROGRAM "/bootstraprc");
  for (std::string line; std::getline(bootstrap, line);)
    if (line.rfind("ProductKey=", 0) == 0)
      text += line.substr(11) + "\n";
#endif
  return text;
}

} // namespace vlx::cli
